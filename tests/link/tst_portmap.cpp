// Port numbers: the override list, and the order the system's ports are given
// their numbers in.

#include "link/portmap.h"

#include <QTest>

using namespace vorn;

Q_DECLARE_METATYPE(PortMap::System)

namespace {

QList<PortInfo> infos(const QStringList &paths)
{
    QList<PortInfo> out;
    for (const QString &p : paths) {
        PortInfo i;
        i.path = p;
        out.append(i);
    }
    return out;
}

QStringList pathsOf(const QList<PortInfo> &ports)
{
    QStringList out;
    for (const PortInfo &p : ports)
        out.append(p.path);
    return out;
}

}  // namespace

class TstPortMap : public QObject
{
    Q_OBJECT
private slots:
    void overrideList_data();
    void overrideList();
    void order_data();
    void order();
    void keepsWhatTheSystemTells();
};

void TstPortMap::overrideList_data()
{
    QTest::addColumn<QString>("env");
    QTest::addColumn<QStringList>("ports");   // path of port 1, 2, ... as asked
    QTest::newRow("two paths") << "/dev/a:/dev/b" << QStringList{"/dev/a", "/dev/b", ""};
    QTest::newRow("empty first entry: no port 1") << ":/dev/b" << QStringList{"", "/dev/b", ""};
    QTest::newRow("empty middle entry") << "a::b" << QStringList{"a", "", "b"};
    QTest::newRow("empty text: no ports") << "" << QStringList{"", ""};
    QTest::newRow("with a URL: semicolons separate")
        << "/dev/a;tcp://cab5:4001; ;rfc2217://[fe80::1]:2217"
        << QStringList{"/dev/a", "tcp://cab5:4001", "", "rfc2217://[fe80::1]:2217", ""};
}

void TstPortMap::overrideList()
{
    QFETCH(QString, env);
    QFETCH(QStringList, ports);
    const PortMap m(PortMap::parseList(env));
    QCOMPARE(m.path(0), QString());
    for (int p = 1; p <= ports.size(); ++p)
        QCOMPARE(m.path(p), ports[p - 1]);
    QCOMPARE(m.path(17), QString());
}

void TstPortMap::order_data()
{
    QTest::addColumn<QStringList>("reported");
    QTest::addColumn<PortMap::System>("system");
    QTest::addColumn<QStringList>("numbered");
    QTest::newRow("USB first, numeric within each group")
        << QStringList{"/dev/ttyS10", "/dev/ttyS2", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyS0"}
        << PortMap::System::Linux
        << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10"};
    QTest::newRow("ten before two only as numbers")
        << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB9", "/dev/ttyUSB2"} << PortMap::System::Linux
        << QStringList{"/dev/ttyUSB2", "/dev/ttyUSB9", "/dev/ttyUSB10"};
    QTest::newRow("other kinds after the adapters, by name then number")
        << QStringList{"/dev/ttyS1", "/dev/ttyAMA0", "/dev/rfcomm0", "/dev/ttyACM1", "/dev/ttyS0"}
        << PortMap::System::Linux
        << QStringList{"/dev/ttyACM1", "/dev/rfcomm0", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS1"};
    QTest::newRow("nothing reported") << QStringList{} << PortMap::System::Linux << QStringList{};
    QTest::newRow("macOS: callout devices only")
        << QStringList{"/dev/tty.usbserial-A1", "/dev/cu.usbserial-A1", "/dev/cu.Bluetooth-Incoming-Port"}
        << PortMap::System::MacOS
        << QStringList{"/dev/cu.Bluetooth-Incoming-Port", "/dev/cu.usbserial-A1"};
}

void TstPortMap::order()
{
    QFETCH(QStringList, reported);
    QFETCH(PortMap::System, system);
    QFETCH(QStringList, numbered);
    QCOMPARE(pathsOf(PortMap::ordered(infos(reported), system)), numbered);
}

void TstPortMap::keepsWhatTheSystemTells()
{
    PortInfo usb;
    usb.path = QStringLiteral("/dev/ttyUSB0");
    usb.description = QStringLiteral("CP2102 USB to UART Bridge Controller");
    usb.vendorId = 0x10c4;
    usb.productId = 0xea60;
    PortInfo uart;
    uart.path = QStringLiteral("/dev/ttyS0");
    const PortMap m(PortMap::ordered({uart, usb}));
    QCOMPARE(m.info(1), usb);
    QCOMPARE(m.info(2), uart);
    QCOMPARE(m.info(3), PortInfo{});
    QCOMPARE(m.size(), 2);
}

QTEST_GUILESS_MAIN(TstPortMap)
#include "tst_portmap.moc"
