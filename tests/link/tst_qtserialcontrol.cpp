// The serial control over QSerialPort, against a pseudo-terminal whose master
// side plays the device.

#include "channels/channeltable.h"
#include "link/frame.h"
#include "link/qtserialcontrol.h"

#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace vorn;

namespace {

// A pty pair; the slave is held open here too, so the master sees no hang-up
// while the control is closed. Other programs running at the same time (a
// simulator test that replugs its line) may still open the path of a pty they
// have closed; the kernel hands out the lowest free number first, so a few
// numbers are held unused and the pair above them is used.
struct Pty
{
    int shield[8];
    int master = -1, slave = -1;
    QString path;

    Pty()
    {
        for (int &fd : shield)
            fd = posix_openpt(O_RDWR | O_NOCTTY);
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        path = QString::fromLocal8Bit(ptsname(master));
        slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
        termios t{};
        if (slave >= 0 && tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
    }
    ~Pty()
    {
        hangUp();
        for (int fd : shield)
            ::close(fd);
    }
    bool ok() const { return master >= 0 && slave >= 0; }
    void hangUp()
    {
        ::close(master);
        ::close(slave);
        master = slave = -1;
    }
    bool send(const QByteArray &b) const { return ::write(master, b.constData(), b.size()) == b.size(); }
    QByteArray receive(int n, int timeoutMs) const
    {
        QByteArray got(n, '\0');
        int have = 0;
        QDeadlineTimer deadline(timeoutMs);
        pollfd p{master, POLLIN, 0};
        while (have < n && !deadline.hasExpired())
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN))
                have += std::max(0, int(::read(master, got.data() + have, n - have)));
        return got.left(have);
    }
};

qint64 cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000LL + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

}  // namespace

class TstQtSerialControl : public QObject
{
    Q_OBJECT
private slots:
    void writesFrameByteForByte();
    void raisesReceiveEvent_data();
    void raisesReceiveEvent();
    void refusesPortHeldByAnother();
    void openErrors_data();
    void openErrors();
    void reportsHangUpOnce();
};

void TstQtSerialControl::writesFrameByteForByte()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QVERIFY(!ctl.output("\x02"));   // not open yet
    ctl.setSettings(QStringLiteral("38400,n,8,1"));
    QCOMPARE(ctl.open(), 0);
    QVERIFY(ctl.isOpen());
    const QByteArray frame = buildFrame(1, cmd::Download, *encodeTable(startTable()));
    QVERIFY(ctl.output(frame));
    const QByteArray got = pty.receive(frame.size() + 1, 500);
    QCOMPARE(got.size(), 108);
    QCOMPARE(got, frame);
    ctl.close();
    QVERIFY(!ctl.isOpen());
    QVERIFY(!ctl.output(frame));
}

void TstQtSerialControl::raisesReceiveEvent_data()
{
    QTest::addColumn<int>("firstChunk");
    QTest::newRow("one chunk") << 10;
    QTest::newRow("two chunks") << 4;
}

void TstQtSerialControl::raisesReceiveEvent()
{
    QFETCH(int, firstChunk);
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QCOMPARE(ctl.open(), 0);
    ctl.setRThreshold(10);
    QSignalSpy spy(&ctl, &SerialControl::onComm);
    int eventSeen = 0;
    connect(&ctl, &SerialControl::onComm, this, [&] { eventSeen = ctl.commEvent(); });

    const QByteArray reply = QByteArray::fromHex("02 00 0A EE 00 21 0C 04 CD 03");
    QVERIFY(pty.send(reply.left(firstChunk)));
    QTRY_COMPARE(ctl.inBufferCount(), firstChunk);
    if (firstChunk < 10) {
        QTest::qWait(50);
        QCOMPARE(spy.count(), 0);
        QVERIFY(pty.send(reply.mid(firstChunk)));
    }
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(eventSeen, SerialControl::kEvReceive);
    QCOMPARE(ctl.input(), reply);
    // Closing discards what waited on the old line.
    ctl.close();
    QCOMPARE(ctl.inBufferCount(), 0);
}

void TstQtSerialControl::refusesPortHeldByAnother()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl first(PortMap({pty.path}));
    QtSerialControl second(PortMap({pty.path}));
    QCOMPARE(first.open(), 0);
    QCOMPARE(second.open(), SerialControl::kErrPortInUse);
    QVERIFY(!second.errorText().isEmpty());
    QVERIFY(!second.isOpen());
    first.close();
    QCOMPARE(second.open(), 0);
}

void TstQtSerialControl::openErrors_data()
{
    QTest::addColumn<QString>("ports");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("result");
    const QString s = QStringLiteral("38400,n,8,1");
    QTest::newRow("missing device") << "/dev/does-not-exist-vorn" << 1 << s << 8002;
    QTest::newRow("empty entry") << "::/dev/does-not-exist-vorn" << 2 << s << 8002;
    QTest::newRow("beyond the list") << "/dev/does-not-exist-vorn" << 2 << s << 8002;
    QTest::newRow("bad settings") << "/dev/does-not-exist-vorn" << 1 << "38400,x,8,1" << 8010;
}

void TstQtSerialControl::openErrors()
{
    QFETCH(QString, ports);
    QFETCH(int, port);
    QFETCH(QString, settings);
    QFETCH(int, result);
    QtSerialControl ctl(PortMap(PortMap::parseList(ports)));
    ctl.setCommPort(port);
    ctl.setSettings(settings);
    QCOMPARE(ctl.open(), result);
    QVERIFY(!ctl.errorText().isEmpty());
    QVERIFY(!ctl.isOpen());
}

void TstQtSerialControl::reportsHangUpOnce()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QCOMPARE(ctl.open(), 0);
    QSignalSpy lost(&ctl, &SerialControl::portLost);
    pty.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 1000);
    QVERIFY(!ctl.isOpen());
    const qint64 cpuBefore = cpuMs();
    QTest::qWait(500);
    QCOMPARE(lost.count(), 1);
    QVERIFY2(cpuMs() - cpuBefore < 250, "still busy after the hang-up");
    QVERIFY(!ctl.output("\x02"));
}

QTEST_GUILESS_MAIN(TstQtSerialControl)
#include "tst_qtserialcontrol.moc"
