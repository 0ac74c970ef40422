// rt8gw's faces besides its own MQTT topics, the built program against a
// real mosquitto on 127.0.0.1 and rt8sim devices on pseudo-terminals:
// Prometheus's GET /metrics (read by prometheus_client's own parser) and
// Home Assistant's MQTT discovery.

#include "e2e/simprocess.h"
#include "support/gateway.h"
#include "support/mosquitto.h"

#include "protocol/reply.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

using namespace vorn;

namespace {

constexpr int kBound = 30000;   // for anything to arrive on a busy machine

using vorn::test::Broker;
using vorn::test::freePort;
using vorn::test::gatewayConfig;
using vorn::test::listening;
using vorn::test::sentSets;
using vorn::test::Subscriber;
using Gateway = vorn::test::GatewayProcess;

// One request as written, the whole answer until the server closes
// (nothing when it did not close within the bound).
QByteArray exchange(int port, const QByteArray &request, bool *closed = nullptr)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!s.waitForConnected(kBound))
        return {};
    s.write(request);
    QByteArray got;
    const bool ended = QTest::qWaitFor([&] {
        s.waitForReadyRead(50);
        got += s.readAll();
        return s.state() == QAbstractSocket::UnconnectedState;
    }, 2 * kBound);
    got += s.readAll();
    if (closed)
        *closed = ended;
    return got;
}

// The metrics as prometheus_client's parser reads them: for each sample
// name, its samples as "label=value,..." -> value; families' types and help
// under "#TYPE name" and "#HELP name".
struct Parsed
{
    bool ok = false;
    QString error;
    QMap<QString, QMap<QString, double>> samples;
    QMap<QString, QString> types, help;
};

Parsed parse(const QByteArray &text)
{
    static const char *script = R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families
out = {"families": [], "samples": []}
for f in text_string_to_metric_families(sys.stdin.read()):
    out["families"].append({"name": f.name, "type": f.type, "help": f.documentation})
    for s in f.samples:
        out["samples"].append({"name": s.name, "labels": ",".join(k + "=" + v for k, v in sorted(s.labels.items())), "value": s.value})
print(json.dumps(out))
)";
    Parsed p;
    QProcess py;
    py.start(QStringLiteral(PYTHON3_EXE), {QStringLiteral("-c"), QString::fromUtf8(script)});
    py.write(text);
    py.closeWriteChannel();
    if (!py.waitForFinished(kBound) || py.exitCode() != 0) {
        p.error = QString::fromUtf8(py.readAllStandardError());
        return p;
    }
    const QJsonObject o = QJsonDocument::fromJson(py.readAllStandardOutput()).object();
    for (const QJsonValue &f : o.value("families").toArray()) {
        p.types.insert(f["name"].toString(), f["type"].toString());
        p.help.insert(f["name"].toString(), f["help"].toString());
    }
    for (const QJsonValue &s : o.value("samples").toArray())
        p.samples[s["name"].toString()].insert(s["labels"].toString(), s["value"].toDouble());
    p.ok = true;
    return p;
}

QByteArray body(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

QByteArray scrape(int port)
{
    return body(exchange(port, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
}

// Scraped until the metrics are as wanted (nothing while the port is not
// there yet); false at once when the parser refuses them.
bool scrapeUntil(int port, const std::function<bool(Parsed &)> &want, Parsed *m)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < kBound) {
        *m = parse(scrape(port));
        if (!m->ok)
            return false;
        if (want(*m))
            return true;
        QTest::qWait(200);
    }
    return false;
}

}  // namespace

class TestGatewayFaces : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_run.init(); }
    void cleanup() { m_run.cleanup(); }
    void configMistakes_data();
    void configMistakes();
    void requests_data();
    void requests();
    void metricsEqualSentValues();
    void metricsOfAnUnpluggedDevice();
    void discoveryConfigs();
    void discoveryOfRemovedDevicesCleared();
    void noDiscoveryWithoutHomeAssistant();
    void cleanupTestCase();

private:
    FailFastRun m_run;
    // One gateway for the requests' table, started by its first row.
    std::unique_ptr<Broker> m_broker;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Gateway> m_gateway;
    int m_metricsPort = 0;
};

void TestGatewayFaces::cleanupTestCase()
{
    m_gateway.reset();
    m_broker.reset();
}

void TestGatewayFaces::configMistakes_data()
{
    QTest::addColumn<QString>("more");
    QTest::addColumn<QString>("name");   // the device's
    QTest::addColumn<QString>("said");   // empty: sound
    QTest::newRow("listen: a host name") << R"({"metrics":{"listen":"localhost:9108"}})" << "cab1"
                                         << ": metrics.listen: must be ADDRESS:PORT, such as 127.0.0.1:9108";
    QTest::newRow("listen: no port") << R"({"metrics":{"listen":"127.0.0.1"}})" << "cab1" << ": metrics.listen: must be ADDRESS:PORT";
    QTest::newRow("listen: a path") << R"({"metrics":{"listen":"127.0.0.1:9108/metrics"}})" << "cab1" << ": metrics.listen: must be ADDRESS:PORT";
    QTest::newRow("listen missing") << R"({"metrics":{}})" << "cab1" << ": metrics.listen: missing";
    QTest::newRow("metrics: unknown key") << R"({"metrics":{"listen":"127.0.0.1:9108","path":"/m"}})" << "cab1" << ": metrics.path: unknown key";
    QTest::newRow("homeassistant: wildcard") << R"({"homeassistant":{"prefix":"ha/#"}})" << "cab1" << ": homeassistant.prefix: must not contain +";
    QTest::newRow("homeassistant: a name it cannot take") << R"({"homeassistant":{}})" << "cab 1"
                                                         << ": devices[0].name: with homeassistant only letters, digits, _ and -";
    QTest::newRow("sound: IPv6") << R"({"metrics":{"listen":"[::1]:9108"}})" << "cab 1" << "";
    QTest::newRow("sound: both") << R"({"metrics":{"listen":"127.0.0.1:9108"},"homeassistant":{"prefix":"ha"}})" << "cab-1_a" << "";
}

void TestGatewayFaces::configMistakes()
{
    QFETCH(QString, more);
    QFETCH(QString, name);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("gw.json")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(gatewayConfig(1883, {{name, "/dev/null"}}, QJsonDocument::fromJson(more.toUtf8()).object()).toUtf8());
    f.close();
    QProcess p;
    p.start(QStringLiteral(RT8GW_EXE), {"--check", "--config", f.fileName(), "--lang", "en"});
    QVERIFY(p.waitForFinished(kBound));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), said.isEmpty() ? 0 : 2);
    QVERIFY2(said.isEmpty() || err.contains(said), qPrintable(err));
}

void TestGatewayFaces::requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");   // the answer's first line; empty: closed without one
    QTest::newRow("GET /metrics") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n") << QByteArray("HTTP/1.1 200 OK");
    QTest::newRow("with a query, HTTP/1.0, bare line ends") << QByteArray("GET /metrics?x=1 HTTP/1.0\n\n") << QByteArray("HTTP/1.1 200 OK");
    QTest::newRow("another path") << QByteArray("GET / HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 404 Not Found");
    QTest::newRow("a path that starts alike") << QByteArray("GET /metricsx HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 404 Not Found");
    QTest::newRow("POST") << QByteArray("POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc") << QByteArray("HTTP/1.1 405 Method Not Allowed");
    QTest::newRow("HEAD") << QByteArray("HEAD /metrics HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 405 Method Not Allowed");
    QTest::newRow("not HTTP") << QByteArray("hello\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request");
    QTest::newRow("a head too long") << "GET /metrics HTTP/1.1\r\nX: " + QByteArray(20000, 'a') << QByteArray("HTTP/1.1 431 Request Header Fields Too Large");
    QTest::newRow("partial: closed, unanswered") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n") << QByteArray();
    QTest::newRow("nothing: closed") << QByteArray() << QByteArray();
}

void TestGatewayFaces::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    if (!m_gateway) {
        m_broker = std::make_unique<Broker>();
        QVERIFY(m_broker->start());
        m_dir = std::make_unique<QTemporaryDir>();
        m_metricsPort = freePort();
        m_gateway = std::make_unique<Gateway>(*m_dir, gatewayConfig(m_broker->port, {{"cab1", m_dir->filePath("none")}},
                                                                 {{"metrics", QJsonObject{{"listen", QStringLiteral("127.0.0.1:%1").arg(m_metricsPort)}}}}));
        QTRY_VERIFY2_WITH_TIMEOUT(listening(m_metricsPort), qPrintable(m_gateway->err), kBound);
    }
    bool closed = false;
    const QByteArray got = exchange(m_metricsPort, request, &closed);
    QVERIFY2(closed, got.constData());
    QCOMPARE(got.left(got.indexOf("\r\n")), status);
    if (status.contains("200")) {
        QVERIFY2(got.contains("\r\nContent-Type: text/plain; version=0.0.4"), got.constData());
        QVERIFY(body(got).startsWith("# HELP "));
    }
    if (status.contains("405"))
        QVERIFY(got.contains("\r\nAllow: GET\r\n"));
    QVERIFY(m_gateway->state() == QProcess::Running);
}

void TestGatewayFaces::metricsEqualSentValues()
{
    Broker broker;
    QVERIFY(broker.start());
    SimProcess sim({"--period", "100", "--log-sent"});
    QVERIFY(!sim.port().isEmpty());
    QTemporaryDir dir;
    const int port = freePort();
    Gateway gw(dir, gatewayConfig(broker.port, {{"cab1", sim.port()}, {"cab2", dir.filePath("none")}},
                               {{"metrics", QJsonObject{{"listen", QStringLiteral("127.0.0.1:%1").arg(port)}}}}));
    Parsed m;
    QVERIFY2(scrapeUntil(port, [](Parsed &m) { return m.samples["rt8_value_sets_total"].value("device=cab1") >= 5; }, &m),
             qPrintable(gw.err + m.error));

    // Every metric, with its type and help.
    const QMap<QString, QString> types{{"rt8_channel_value", "gauge"},          {"rt8_device_up", "gauge"},
                                       {"rt8_device_status", "gauge"},          {"rt8_value_sets", "counter"},
                                       {"rt8_last_value_timestamp_seconds", "gauge"}, {"rt8_mqtt_dropped", "counter"},
                                       {"rt8_mqtt_connected", "gauge"},         {"rt8_mqtt_queue_length", "gauge"},
                                       {"rt8_build_info", "gauge"}};
    QCOMPARE(m.types, types);
    for (const QString &h : m.help)
        QVERIFY(!h.isEmpty());

    // The ten values are the set the device sent last of those taken.
    const auto sets = qint64(m.samples["rt8_value_sets_total"]["device=cab1"]);
    const QList<QStringList> sent = sentSets(sim);
    QVERIFY(sent.size() >= sets);
    const QMap<QString, double> values = m.samples["rt8_channel_value"];
    QCOMPARE(values.size(), 10);   // cab2 has none
    for (int i = 0; i < 10; ++i)
        QCOMPARE(values.value(QStringLiteral("channel=%1,device=cab1").arg(i), -1e9), sent[sets - 1][i].toDouble());
    QCOMPARE(m.samples["rt8_device_up"], (QMap<QString, double>{{"device=cab1", 1}, {"device=cab2", 0}}));
    QCOMPARE(m.samples["rt8_device_status"]["device=cab1,status=online"], 1.0);
    QCOMPARE(m.samples["rt8_device_status"]["device=cab2,status=lost"], 1.0);
    double statuses = 0;
    for (double v : m.samples["rt8_device_status"])
        statuses += v;
    QCOMPARE(statuses, 2.0);   // one status each
    const double last = m.samples["rt8_last_value_timestamp_seconds"]["device=cab1"];
    QVERIFY(std::abs(last - QDateTime::currentMSecsSinceEpoch() / 1000.0) < 3600);
    QVERIFY(!m.samples["rt8_last_value_timestamp_seconds"].contains("device=cab2"));
    QCOMPARE(m.samples["rt8_mqtt_connected"][""], 1.0);
    QCOMPARE(m.samples["rt8_mqtt_dropped_total"][""], 0.0);
    QCOMPARE(m.samples["rt8_build_info"].keys(), QStringList{"version=" VORNRT8_VERSION});

#ifdef PROMTOOL_EXE
    QProcess promtool;
    promtool.start(QStringLiteral(PROMTOOL_EXE), {"check", "metrics"});
    promtool.write(scrape(port));
    promtool.closeWriteChannel();
    QVERIFY(promtool.waitForFinished(kBound));
    QVERIFY2(promtool.exitCode() == 0, promtool.readAllStandardError().constData());
#endif

    // The broker away: told, and the sets wait in the queue.
    broker.proc.end();
    QVERIFY2(scrapeUntil(port, [](Parsed &m) {
                 return m.samples["rt8_mqtt_connected"][""] == 0 && m.samples["rt8_mqtt_queue_length"][""] >= 3;
             }, &m), qPrintable(gw.err + m.error));
}

void TestGatewayFaces::metricsOfAnUnpluggedDevice()
{
    Broker broker;
    QVERIFY(broker.start());
    QTemporaryDir dir;
    // Through a link that goes with the terminal: the gateway that keeps
    // trying the path never reaches a terminal another test was given since.
    const QString link = dir.filePath(QStringLiteral("rt8"));
    SimProcess sim({"--period", "100", "--link", link, "--unplug-after", "4"});
    QVERIFY(!sim.port().isEmpty());
    const int port = freePort();
    // A name with the characters a label escapes.
    const QString name = QStringLiteral("cab \"1\\");
    Gateway gw(dir, gatewayConfig(broker.port, {{name, link}},
                               {{"metrics", QJsonObject{{"listen", QStringLiteral("127.0.0.1:%1").arg(port)}}}}));
    const QString device = QStringLiteral("device=") + name;
    Parsed m;
    QVERIFY2(scrapeUntil(port, [&](Parsed &m) {
                 return m.samples["rt8_channel_value"].size() == 10 && m.samples["rt8_device_up"].value(device) == 1;
             }, &m), qPrintable(gw.err + m.error));
    // Unplugged.
    QVERIFY2(scrapeUntil(port, [&](Parsed &m) { return m.samples["rt8_device_up"].value(device, -1) == 0; }, &m),
             qPrintable(gw.err + m.error));
    QVERIFY(m.samples["rt8_channel_value"].isEmpty());
    QCOMPARE(m.samples["rt8_device_status"][device + ",status=lost"], 1.0);
    QVERIFY(m.samples["rt8_value_sets_total"][device] >= 1);
    QVERIFY(m.samples["rt8_last_value_timestamp_seconds"].contains(device));
}

void TestGatewayFaces::discoveryConfigs()
{
    Broker broker;
    QVERIFY(broker.start());
    SimProcess sim({"--period", "100", "--log-sent"});
    QVERIFY(!sim.port().isEmpty());
    Subscriber ha(broker.port, QStringLiteral("homeassistant/#"));
    Subscriber values(broker.port, QStringLiteral("plant/rt8/cab1/values"));
    QTRY_VERIFY_WITH_TIMEOUT(ha.state() == QProcess::Running && values.state() == QProcess::Running, kBound);
    QTemporaryDir dir;
    Gateway gw(dir, gatewayConfig(broker.port, {{"cab1", sim.port()}}, {{"homeassistant", QJsonObject{}}}), {"--version"});
    QVERIFY(gw.waitForFinished(kBound));
    const QString version = gw.out.trimmed().section(QLatin1Char(' '), -1);
    Gateway gw2(dir, gatewayConfig(broker.port, {{"cab1", sim.port()}}, {{"homeassistant", QJsonObject{}}}));
    const auto config = [&](int i) { return QStringLiteral("homeassistant/sensor/rt8_cab1/ch%1/config").arg(i); };
    QTRY_VERIFY2_WITH_TIMEOUT(ha.on(config(9)).size() == 1 && values.on("plant/rt8/cab1/values").size() >= 5,
                              qPrintable(gw2.err + ha.out), kBound);

    const QStringList published = values.on("plant/rt8/cab1/values");
    const QList<QStringList> sent = sentSets(sim);
    QVERIFY(sent.size() >= published.size());
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(ha.on(config(i)).size(), 1);
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(ha.on(config(i)).first().toUtf8(), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(ha.on(config(i)).first()));
        QCOMPARE(o["name"].toString(), QStringLiteral("ch%1").arg(i));
        QCOMPARE(o["unique_id"].toString(), QStringLiteral("rt8_cab1_ch%1").arg(i));
        QCOMPARE(o["state_topic"].toString(), QStringLiteral("plant/rt8/cab1/values"));
        QCOMPARE(o["state_class"].toString(), QStringLiteral("measurement"));
        QCOMPARE(o["availability_mode"].toString(), QStringLiteral("all"));
        QCOMPARE(o["payload_available"].toString(), QStringLiteral("online"));
        QStringList availability;
        for (const QJsonValue &a : o["availability"].toArray())
            availability.append(a["topic"].toString());
        QCOMPARE(availability, (QStringList{"plant/rt8/gateway/status", "plant/rt8/cab1/status"}));
        const QJsonObject device = o["device"].toObject();
        QCOMPARE(device["identifiers"].toArray(), QJsonArray{"rt8_cab1"});
        QCOMPARE(device["name"].toString(), QStringLiteral("cab1"));
        QCOMPARE(device["model"].toString(), QStringLiteral("RT8"));
        QCOMPARE(device["sw_version"].toString(), version);
        QVERIFY(!device["via_device"].toString().isEmpty());
        // The template's path, value_json.values[I], read from every set
        // published: the value sent.
        const QRegularExpressionMatch path =
            QRegularExpression(QStringLiteral(R"(^\{\{ value_json\.values\[(\d)\] \}\}$)")).match(o["value_template"].toString());
        QVERIFY2(path.hasMatch(), qPrintable(o["value_template"].toString()));
        const int channel = path.captured(1).toInt();
        QCOMPARE(channel, i);
        for (qsizetype k = 0; k < published.size(); ++k) {
            const QJsonValue v = QJsonDocument::fromJson(published[k].toUtf8()).object()["values"].toArray().at(channel);
            QVERIFY2(v.isDouble() && v.toDouble() == sent[k][channel].toDouble(), qPrintable(published[k]));
        }
    }
    // The gateway's own device, which the devices are reached through.
    const QStringList own = ha.topics(QStringLiteral("homeassistant/binary_sensor/"));
    QCOMPARE(own.size(), 1);
    const QJsonObject gateway = QJsonDocument::fromJson(ha.on(own.first()).first().toUtf8()).object();
    QCOMPARE(gateway["device"]["identifiers"].toArray().first().toString(),
             QJsonDocument::fromJson(ha.on(config(0)).first().toUtf8())["device"]["via_device"].toString());
    QCOMPARE(gateway["state_topic"].toString(), QStringLiteral("plant/rt8/gateway/status"));

    // Home Assistant restarted: every config again. Its retained "online"
    // (a subscriber coming later) is no reason.
    QVERIFY(broker.publish(QStringLiteral("homeassistant/status"), "online", true));
    QTRY_VERIFY2_WITH_TIMEOUT(ha.on(config(9)).size() == 2 && ha.on(own.first()).size() == 2, qPrintable(gw2.err), kBound);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(ha.on(config(i)).size(), 2);
    QCOMPARE(ha.on(config(3)).last(), ha.on(config(3)).first());
}

void TestGatewayFaces::discoveryOfRemovedDevicesCleared()
{
    Broker broker;
    QVERIFY(broker.start());
    QTemporaryDir dir;
    const QJsonObject ha{{"homeassistant", QJsonObject{{"prefix", "ha"}}}};
    // Another gateway's device of the same name: never touched.
    const QByteArray foreign = R"({"unique_id":"rt8_cab2_ch0","availability":[{"topic":"other/gateway/status"}]})";
    QVERIFY(broker.publish(QStringLiteral("ha/sensor/rt8_cab2/ch0/config"), foreign, true));
    {
        Subscriber sub(broker.port, QStringLiteral("ha/sensor/rt8_cab3/#"));
        Gateway gw(dir, gatewayConfig(broker.port, {{"cab1", dir.filePath("a")}, {"cab3", dir.filePath("b")}}, ha));
        QTRY_VERIFY2_WITH_TIMEOUT(sub.on("ha/sensor/rt8_cab3/ch9/config").size() == 1, qPrintable(gw.err), kBound);
        ::kill(pid_t(gw.processId()), SIGTERM);
        QVERIFY(gw.waitForFinished(kBound));
    }
    // cab3 is gone from the configuration.
    Subscriber sub(broker.port, QStringLiteral("ha/sensor/#"));
    Gateway gw(dir, gatewayConfig(broker.port, {{"cab1", dir.filePath("a")}}, ha));
    QTRY_VERIFY2_WITH_TIMEOUT(sub.on("ha/sensor/rt8_cab3/ch9/config").size() == 2, qPrintable(gw.err + sub.out), kBound);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(sub.on(QStringLiteral("ha/sensor/rt8_cab3/ch%1/config").arg(i)).last(), QString());
    QVERIFY2(gw.err.contains(QLatin1String("cleared its discovery configs")), qPrintable(gw.err));
    // What is retained now: cab1's and the other gateway's, nothing of cab3.
    Subscriber late(broker.port, QStringLiteral("ha/sensor/#"));
    QTRY_VERIFY_WITH_TIMEOUT(late.on("ha/sensor/rt8_cab1/ch9/config").size() == 1
                                 && late.on("ha/sensor/rt8_cab2/ch0/config").size() == 1, kBound);
    QCOMPARE(late.on("ha/sensor/rt8_cab2/ch0/config").first().toUtf8(), foreign);
    QVERIFY(late.topics(QStringLiteral("ha/sensor/rt8_cab3/")).isEmpty());
}

void TestGatewayFaces::noDiscoveryWithoutHomeAssistant()
{
    Broker broker;
    QVERIFY(broker.start());
    SimProcess sim({"--period", "100"});
    QVERIFY(!sim.port().isEmpty());
    Subscriber all(broker.port, QStringLiteral("#"));
    QTRY_VERIFY_WITH_TIMEOUT(all.state() == QProcess::Running, kBound);
    QTemporaryDir dir;
    Gateway gw(dir, gatewayConfig(broker.port, {{"cab1", sim.port()}}, {}));
    QTRY_VERIFY2_WITH_TIMEOUT(all.on("plant/rt8/cab1/values").size() >= 5, qPrintable(gw.err), kBound);
    // Home Assistant restarting is no reason either.
    QVERIFY(broker.publish(QStringLiteral("homeassistant/status"), "online"));
    QTRY_VERIFY_WITH_TIMEOUT(all.on("homeassistant/status").size() == 1, kBound);
    const qsizetype seen = all.on("plant/rt8/cab1/values").size();
    QTRY_VERIFY_WITH_TIMEOUT(all.on("plant/rt8/cab1/values").size() >= seen + 5, kBound);
    QCOMPARE(all.topics(QStringLiteral("homeassistant/")), QStringList{"homeassistant/status"});
}

QTEST_GUILESS_MAIN(TestGatewayFaces)
#include "tst_gw_faces.moc"
