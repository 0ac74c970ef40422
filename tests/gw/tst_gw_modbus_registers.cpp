// What rt8gw's Modbus server shows of a device: the float words in every word
// order (known answers), the int16 column, the status, age, set count and
// identity registers, the configuration keys of the Modbus server, and what a
// refused port below 1024 is told.

#include "gw/config.h"
#include "gw/modbusregisters.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace vorn;
using namespace vorn::gw;

Q_DECLARE_METATYPE(vorn::gw::WordOrder)

namespace {

// JSON written with single quotes.
QString J(const char *text)
{
    return QString::fromUtf8(text).replace(QLatin1Char('\''), QLatin1Char('"'));
}

}  // namespace

class ModbusRegistersTest : public QObject
{
    Q_OBJECT
private slots:
    void floatWords_data();
    void floatWords();
    void int16Values_data();
    void int16Values();
    void age_data();
    void age();
    void deviceRegisters();
    void noValuesYet();
    void config_data();
    void config();
    void privilegedPort_data();
    void privilegedPort();
};

void ModbusRegistersTest::floatWords_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<WordOrder>("order");
    QTest::addColumn<quint16>("first");
    QTest::addColumn<quint16>("second");
    QTest::newRow("123456 ABCD") << 123456.0f << WordOrder::ABCD << quint16(0x47F1) << quint16(0x2000);
    QTest::newRow("123456 CDAB") << 123456.0f << WordOrder::CDAB << quint16(0x2000) << quint16(0x47F1);
    QTest::newRow("123456 BADC") << 123456.0f << WordOrder::BADC << quint16(0xF147) << quint16(0x0020);
    QTest::newRow("123456 DCBA") << 123456.0f << WordOrder::DCBA << quint16(0x0020) << quint16(0xF147);
    QTest::newRow("-2.5 ABCD") << -2.5f << WordOrder::ABCD << quint16(0xC020) << quint16(0x0000);
    QTest::newRow("0.1 ABCD") << 0.1f << WordOrder::ABCD << quint16(0x3DCC) << quint16(0xCCCD);
    QTest::newRow("0.1 DCBA") << 0.1f << WordOrder::DCBA << quint16(0xCDCC) << quint16(0xCC3D);
    QTest::newRow("NaN ABCD") << std::numeric_limits<float>::quiet_NaN() << WordOrder::ABCD << quint16(0x7FC0) << quint16(0);
}

void ModbusRegistersTest::floatWords()
{
    QFETCH(float, value);
    QFETCH(WordOrder, order);
    QFETCH(quint16, first);
    QFETCH(quint16, second);
    const auto words = gw::floatWords(value, order);
    QCOMPARE(words[0], first);
    QCOMPARE(words[1], second);
}

void ModbusRegistersTest::int16Values_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("expected");
    QTest::newRow("raw 0") << "0" << 0;
    QTest::newRow("raw 32767") << "32767" << 32767;
    QTest::newRow("raw 40000 saturated") << "40000" << 32767;
    QTest::newRow("raw 65535 saturated") << "65535" << 32767;
    QTest::newRow("one decimal") << "12.5" << 125;
    QTest::newRow("trailing zero kept") << "100.0" << 1000;
    QTest::newRow("negative, leading zeros") << "-0.05" << -5;
    QTest::newRow("negative saturated") << "-4000.00" << -32768;
    QTest::newRow("long number saturated") << "123456789012" << 32767;
    QTest::newRow("spaces around") << " 42 " << 42;
    QTest::newRow("----") << "----" << -32768;
    QTest::newRow("empty") << "" << -32768;
    QTest::newRow("point alone") << "." << -32768;
    QTest::newRow("exponent") << "1e+06" << 32767;
}

void ModbusRegistersTest::int16Values()
{
    QFETCH(QString, shown);
    QFETCH(int, expected);
    QCOMPARE(int(int16Value(shown)), expected);
}

void ModbusRegistersTest::age_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<int>("expected");
    QTest::newRow("none yet") << qint64(-1) << 65535;
    QTest::newRow("now") << qint64(0) << 0;
    QTest::newRow("1.29 s") << qint64(1290) << 12;
    QTest::newRow("just below saturation") << qint64(6553499) << 65534;
    QTest::newRow("a year") << qint64(365) * 86400000 << 65535;
}

void ModbusRegistersTest::age()
{
    QFETCH(qint64, ms);
    QFETCH(int, expected);
    QCOMPARE(int(ageRegister(ms)), expected);
}

void ModbusRegistersTest::deviceRegisters()
{
    Gateway::DeviceState s;
    s.status = StreamKeeper::Status::OtherDevice;
    s.device = DeviceIdentity{12, 40};
    s.mode = FeedbackMode::Target;
    s.last = LiveValues::fromRecord(QStringLiteral("123456\r\n-2.5\r\n----\r\n0.1\r\n1\r\n2\r\n3\r\n4\r\n5\r\n9999.9"));
    s.sets = (quint64(1) << 32) + 0x12345;   // wraps
    const ModbusRegisters r = modbusRegisters(s, WordOrder::ABCD);
    QCOMPARE(r[0], quint16(0x47F1));
    QCOMPARE(r[1], quint16(0x2000));
    QCOMPARE(r[2], quint16(0xC020));
    QCOMPARE(r[4], quint16(0x7FC0));   // ---- is NaN
    QCOMPARE(r[18], gw::floatWords(9999.9f, WordOrder::ABCD)[0]);
    QCOMPARE(r[19], gw::floatWords(9999.9f, WordOrder::ABCD)[1]);
    QCOMPARE(qint16(r[20]), qint16(32767));
    QCOMPARE(qint16(r[21]), qint16(-25));
    QCOMPARE(qint16(r[22]), qint16(-32768));
    QCOMPARE(qint16(r[23]), qint16(1));
    QCOMPARE(qint16(r[29]), qint16(32767));
    QCOMPARE(r[30], quint16(5));
    QCOMPARE(r[31], quint16(65535));
    QCOMPARE(r[32], quint16(0x0001));
    QCOMPARE(r[33], quint16(0x2345));
    QCOMPARE(r[34], quint16(12));
    QCOMPARE(r[35], quint16(40));
    // Another word order moves the float words only.
    const ModbusRegisters c = modbusRegisters(s, WordOrder::CDAB);
    QCOMPARE(c[0], quint16(0x2000));
    QCOMPARE(c[1], quint16(0x47F1));
    QVERIFY(std::equal(r.begin() + 20, r.end(), c.begin() + 20));
}

void ModbusRegistersTest::noValuesYet()
{
    const ModbusRegisters r = modbusRegisters(Gateway::DeviceState{}, WordOrder::BADC);
    for (int i = 0; i < kChannels; ++i) {
        QCOMPARE(r[size_t(2 * i)], quint16(0xC07F));   // NaN, bytes swapped
        QCOMPARE(r[size_t(2 * i + 1)], quint16(0));
        QCOMPARE(qint16(r[size_t(20 + i)]), qint16(-32768));
    }
    QCOMPARE(r[30], quint16(0));
    QCOMPARE(r[31], quint16(65535));
    QCOMPARE(r[32], quint16(0));
    QCOMPARE(r[33], quint16(0));
    QCOMPARE(r[34], quint16(0));
    QCOMPARE(r[35], quint16(0));
}

void ModbusRegistersTest::config_data()
{
    QTest::addColumn<QString>("modbus");    // the modbus object, or empty for none
    QTest::addColumn<QString>("devices");   // the device list
    QTest::addColumn<bool>("broker");
    QTest::addColumn<QString>("key");       // at fault; empty: sound
    QTest::addColumn<QString>("shown");     // sound: listen host, port, order, clients, idle, units
    const QString one = J("[{'name':'a','port':'/dev/ttyUSB0','address':1,'mode':'raw'}]");
    const QString two = QStringLiteral("[{'name':'a','port':'/dev/ttyUSB0','address':1,'mode':'raw'},"
                                       "{'name':'b','port':'/dev/ttyUSB1','address':255,'unit':%1'mode':'raw'}]");
    const QString listen = J("{'listen':'%1'}");
    QTest::newRow("defaults") << "{}" << one << false << "" << "127.0.0.1 502 0 16 60 1";
    QTest::newRow("everything") << "{'listen':'[::1]:1502','word_order':'DCBA','max_clients':2,'idle_s':5}"
                                << two.arg("9,") << true << "" << "::1 1502 3 2 5 1,9";
    QTest::newRow("a name") << listen.arg("plc-gw.local:1502") << one << false << "" << "plc-gw.local 1502 0 16 60 1";
    QTest::newRow("no modbus: no units") << "" << two.arg("") << true << "" << "";
    QTest::newRow("neither broker nor modbus") << "" << one << false << "broker" << "";
    QTest::newRow("not an object") << "[]" << one << false << "modbus" << "";
    QTest::newRow("unknown key") << "{'port':1502}" << one << false << "modbus.port" << "";
    QTest::newRow("listen without port") << listen.arg("127.0.0.1") << one << false << "modbus.listen" << "";
    QTest::newRow("listen port 0") << listen.arg("127.0.0.1:0") << one << false << "modbus.listen" << "";
    QTest::newRow("listen port 65536") << listen.arg("127.0.0.1:65536") << one << false << "modbus.listen" << "";
    QTest::newRow("IPv6 without brackets") << listen.arg("::1:1502") << one << false << "modbus.listen" << "";
    QTest::newRow("brackets around IPv4") << listen.arg("[127.0.0.1]:1502") << one << false << "modbus.listen" << "";
    QTest::newRow("a URL") << listen.arg("tcp://127.0.0.1:1502") << one << false << "modbus.listen" << "";
    QTest::newRow("word order") << "{'word_order':'abcd'}" << one << false << "modbus.word_order" << "";
    QTest::newRow("max_clients 0") << "{'max_clients':0}" << one << false << "modbus.max_clients" << "";
    QTest::newRow("unit 248") << "{}" << two.arg("248,") << false << "devices[1].unit" << "";
    QTest::newRow("unit 0") << "{}" << two.arg("0,") << false << "devices[1].unit" << "";
    QTest::newRow("address 255 without unit") << "{}" << two.arg("") << false << "devices[1].unit" << "";
    QTest::newRow("one unit twice") << "{}" << two.arg("1,") << false << "devices[1].unit" << "";
}

void ModbusRegistersTest::config()
{
    QFETCH(QString, modbus);
    QFETCH(QString, devices);
    QFETCH(bool, broker);
    QFETCH(QString, key);
    QFETCH(QString, shown);
    modbus.replace(QLatin1Char('\''), QLatin1Char('"'));
    devices.replace(QLatin1Char('\''), QLatin1Char('"'));
    // "unit":N, is spliced in before "mode"; none leaves the comma out.
    devices.replace(QStringLiteral("\"unit\":\"mode\""), QStringLiteral("\"mode\""));
    QString json = QStringLiteral("{\"devices\":%1").arg(devices);
    if (broker)
        json += J(",'broker':{'url':'mqtt://127.0.0.1','prefix':'p'}");
    if (!modbus.isEmpty())
        json += QStringLiteral(",\"modbus\":") + modbus;
    json += QLatin1Char('}');
    Config c;
    ConfigError e;
    const bool ok = parseConfig(json.toUtf8(), &c, &e);
    QVERIFY2(ok == key.isEmpty(), qPrintable(json + QStringLiteral(" -> ") + e.key + QStringLiteral(": ") + e.reason));
    if (!ok) {
        QCOMPARE(e.key, key);
        return;
    }
    QCOMPARE(c.hasBroker, broker);
    QCOMPARE(c.modbus.has_value(), !modbus.isEmpty());
    if (!c.modbus) {
        for (const DeviceConfig &d : c.devices)
            QCOMPARE(d.unit, 0);
        return;
    }
    QStringList units;
    for (const DeviceConfig &d : c.devices)
        units.append(QString::number(d.unit));
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6")
                 .arg(c.modbus->host)
                 .arg(c.modbus->port)
                 .arg(int(c.modbus->wordOrder))
                 .arg(c.modbus->maxClients)
                 .arg(c.modbus->idleSeconds)
                 .arg(units.join(QLatin1Char(','))),
             shown);
}

void ModbusRegistersTest::privilegedPort_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("denied");
    QTest::addColumn<int>("first");   // the first port an ordinary user may take
    QTest::addColumn<bool>("hinted");
    QTest::newRow("502 refused") << 502 << true << 1024 << true;
    QTest::newRow("1023 refused") << 1023 << true << 1024 << true;
    QTest::newRow("1024 refused: not for want of the capability") << 1024 << true << 1024 << false;
    QTest::newRow("502 taken by another") << 502 << false << 1024 << false;
    QTest::newRow("502 refused where ordinary users may take it") << 502 << true << 0 << false;
}

void ModbusRegistersTest::privilegedPort()
{
    QFETCH(int, port);
    QFETCH(bool, denied);
    QFETCH(int, first);
    QFETCH(bool, hinted);
    const QString hint = privilegedPortHint(port, denied, first);
    QCOMPARE(!hint.isEmpty(), hinted);
    if (hinted) {
        QVERIFY2(hint.contains(QString::number(port)) && hint.contains(QLatin1String("CAP_NET_BIND_SERVICE"))
                     && hint.contains(QLatin1String("AmbientCapabilities=CAP_NET_BIND_SERVICE")),
                 qPrintable(hint));
    }
}

QTEST_GUILESS_MAIN(ModbusRegistersTest)
#include "tst_gw_modbus_registers.moc"
