// The gateway's MQTT client against a real mosquitto on 127.0.0.1: what a
// publish that meets a broken connection becomes.

#include "gw/mqttclient.h"
#include "support/mosquitto.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <csignal>

using vorn::gw::MqttClient;

class TestMqttClient : public QObject
{
    Q_OBJECT

private slots:
    // A QoS 1 message that the client took while the broker was already
    // gone is libmosquitto's to deliver once connected again: publish()
    // says taken, the caller keeps no copy (it would go out twice, or be
    // counted dropped though delivered), and the broker gets it after the
    // reconnection. Once the client knows the connection broke, publish()
    // says not taken.
    void messageTakenAsTheConnectionBreaksIsDelivered()
    {
        vorn::test::Broker broker;   // started again on its port
        QVERIFY(broker.start());

        MqttClient client;
        QSignalSpy up(&client, &MqttClient::connected);
        QSignalSpy down(&client, &MqttClient::disconnected);
        MqttClient::Settings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = broker.port;
        QString why;
        QVERIFY2(client.start(s, &why), qPrintable(why));
        QTRY_COMPARE_WITH_TIMEOUT(up.size(), 1, 20000);

        ::kill(pid_t(broker.proc.processId()), SIGKILL);
        QVERIFY(broker.proc.waitForFinished(10000));
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

        QVERIFY(broker.start());
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
        broker.proc.end();
    }
};

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_gw_mqttclient.moc"
