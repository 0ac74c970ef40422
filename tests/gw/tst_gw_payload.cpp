// One set of values as rt8gw publishes it, read back by Qt's JSON parser:
// numbers stay numbers, whatever else a device sent stays its text; and the
// bytes themselves, which do not change.

#include "gw/gateway.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vorn;

namespace {

// A record's fields, one per line as the device sent them.
LiveValues record(QString fields)
{
    return LiveValues::fromRecord(fields.replace(QLatin1Char('|'), QLatin1String("\r\n")));
}

}  // namespace

class GatewayPayloadTest : public QObject
{
    Q_OBJECT
private slots:
    void readsBackAsSent_data();
    void readsBackAsSent();
};

void GatewayPayloadTest::readsBackAsSent_data()
{
    QTest::addColumn<LiveValues>("live");
    QTest::addColumn<QString>("expected");     // the values array, compact
    QTest::addColumn<QByteArray>("bytes");     // the payload with the time "T", byte for byte
    QTest::newRow("raw") << LiveValues::fromRaw({0, 1, 65535, 32768, 5, 6, 7, 8, 9, 10})
                         << "[0,1,65535,32768,5,6,7,8,9,10]"
                         << QByteArray(R"({"time":"T","mode":"raw","values":[0,1,65535,32768,5,6,7,8,9,10]})");
    QTest::newRow("raw, negative and large") << LiveValues::fromRaw({-1, -32768, 2147483647, -2147483647 - 1, 0, 0, 0, 0, 0, 0})
                                             << "[-1,-32768,2147483647,-2147483648,0,0,0,0,0,0]"
                                             << QByteArray(R"({"time":"T","mode":"raw","values":[-1,-32768,2147483647,-2147483648,0,0,0,0,0,0]})");
    QTest::newRow("target numbers") << record(QStringLiteral("12.50| 7|-0.5|1e3|0|0|0|0|0|0"))
                                    << "[12.5,7,-0.5,1000,0,0,0,0,0,0]"
                                    << QByteArray(R"({"time":"T","mode":"target","values":[12.5,7,-0.5,1000,0,0,0,0,0,0]})");
    QTest::newRow("target numbers, shortest form") << record(QStringLiteral("0.1|1e6|123456789|1e-5|-0|3.14159|1e21|0|0|0"))
                                    << "[0.1,1000000,123456789,1e-05,0,3.14159,1e+21,0,0,0]"
                                    << QByteArray(R"({"time":"T","mode":"target","values":[0.1,1e+06,123456789,1e-05,0,3.14159,1e+21,0,0,0]})");
    QTest::newRow("target text kept as text") << record(QStringLiteral("----|a\"b|c\\d|e\tf||1|2|3|4|5"))
                                              << "[\"----\",\"a\\\"b\",\"c\\\\d\",\"e\\tf\",\"\",1,2,3,4,5]"
                                              << QByteArray(R"({"time":"T","mode":"target","values":["----","a\"b","c\\d","e\u0009f","",1,2,3,4,5]})");
    QTest::newRow("control characters and non-ASCII") << record(QString::fromUtf8("\x01x|\x7f|温度|0|0|0|0|0|0|0"))
                                                      << QString::fromUtf8("[\"\\u0001x\",\"\x7f\",\"温度\",0,0,0,0,0,0,0]")
                                                      << QByteArray(R"({"time":"T","mode":"target","values":["\u0001x","\u007f","温度",0,0,0,0,0,0,0]})");
    QTest::newRow("missing fields") << record(QStringLiteral("1|2"))
                                    << "[1,2,\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"]"
                                    << QByteArray(R"({"time":"T","mode":"target","values":[1,2,"","","","","","","",""]})");
}

void GatewayPayloadTest::readsBackAsSent()
{
    QFETCH(LiveValues, live);
    QFETCH(QString, expected);
    const QByteArray payload = gw::Gateway::valuesPayload("2026-12-08T09:00:00.125+08:00", live);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    QVERIFY2(error.error == QJsonParseError::NoError, payload.constData());
    const QJsonObject o = doc.object();
    QCOMPARE(o.value("time").toString(), QStringLiteral("2026-12-08T09:00:00.125+08:00"));
    QCOMPARE(o.value("mode").toString(), live.mode == FeedbackMode::Raw ? QStringLiteral("raw") : QStringLiteral("target"));
    QCOMPARE(QString::fromUtf8(QJsonDocument(o.value("values").toArray()).toJson(QJsonDocument::Compact)), expected);
    // What subscribers have parsed since the first release: the same bytes.
    QFETCH(QByteArray, bytes);
    QCOMPARE(gw::Gateway::valuesPayload("T", live), bytes);
}

QTEST_GUILESS_MAIN(GatewayPayloadTest)
#include "tst_gw_payload.moc"
