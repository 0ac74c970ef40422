// The gateway's MQTT client against a real mosquitto on 127.0.0.1: what a
// publish that meets a broken connection becomes.

#include "gw/mqttclient.h"
#include "support/processrun.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

using vorn::gw::MqttClient;

class TestMqttClient : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_port = 0;

    // mosquitto at m_port, listening once the call returns true.
    bool startBroker(QProcess &p)
    {
        QFile f(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(m_port).toUtf8());
        f.close();
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(MOSQUITTO_EXE), {QStringLiteral("-c"), f.fileName()});
        if (!p.waitForStarted(10000))
            return false;
        return QTest::qWaitFor([&] {
            QTcpSocket s;
            s.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
            return s.waitForConnected(200);
        }, 20000);
    }

private slots:
    // A QoS 1 message that the client took while the broker was already
    // gone is libmosquitto's to deliver once connected again: publish()
    // says taken, the caller keeps no copy (it would go out twice, or be
    // counted dropped though delivered), and the broker gets it after the
    // reconnection. Once the client knows the connection broke, publish()
    // says not taken.
    void messageTakenAsTheConnectionBreaksIsDelivered()
    {
        QVERIFY(m_dir.isValid());
        m_port = vorn::test::stablePort();   // the broker is started again on it
        QProcess broker;
        QVERIFY(startBroker(broker));

        MqttClient client;
        QSignalSpy up(&client, &MqttClient::connected);
        QSignalSpy down(&client, &MqttClient::disconnected);
        MqttClient::Settings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = m_port;
        QString why;
        QVERIFY2(client.start(s, &why), qPrintable(why));
        QTRY_COMPARE_WITH_TIMEOUT(up.size(), 1, 20000);

        ::kill(pid_t(broker.processId()), SIGKILL);
        QVERIFY(broker.waitForFinished(10000));
        // No event in between: the client learns of the break from its own
        // writes. The first goes into the socket; the peer's reset makes a
        // later one fail.
        QStringList taken;
        for (int i = 0; i < 40 && down.isEmpty(); ++i) {
            const QString topic = QStringLiteral("kept/%1").arg(i);
            QVERIFY2(client.publish(topic, QByteArray::number(i), true), qPrintable(topic));
            taken << topic;
            QThread::msleep(50);
        }
        QCOMPARE(down.size(), 1);
        QVERIFY(!client.publish(QStringLiteral("kept/after"), "x", true));

        QProcess again;
        QVERIFY(startBroker(again));
        QTRY_COMPARE_WITH_TIMEOUT(up.size(), 2, 30000);

        MqttClient reader;
        QSignalSpy got(&reader, &MqttClient::message);
        MqttClient::Settings r = s;
        r.subscriptions = {QStringLiteral("kept/#")};
        QVERIFY2(reader.start(r, &why), qPrintable(why));
        QStringList seen;
        QVERIFY(QTest::qWaitFor([&] {
            for (; !got.isEmpty(); got.removeFirst())
                seen << QString::fromUtf8(got.first().at(0).toByteArray());
            return seen.size() >= taken.size();
        }, 30000));
        seen.sort();
        taken.sort();
        QCOMPARE(seen, taken);
        reader.stop();
        client.stop();
        again.terminate();
        again.waitForFinished(10000);
    }
};

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_gw_mqttclient.moc"
