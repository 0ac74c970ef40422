// The serial line over QSerialPort, against a pseudo-terminal whose master
// side plays the device.

#include "protocol/channeltable.h"
#include "protocol/frame.h"
#include "link/serialportline.h"
#include "session/devicesession.h"

#include "support/driving.h"
#include "support/pty.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>

#include <sys/resource.h>

using namespace vorn;

namespace {

// Opens the line and tells whether it opened; a serial line tells at once.
bool opens(Line &line, const QString &path)
{
    QSignalSpy opened(&line, &Line::opened);
    line.open(path);
    return opened.count() == 1 && line.isOpen();
}

qint64 cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000LL + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

}  // namespace

class TstSerialPortLine : public QObject
{
    Q_OBJECT
private slots:
    void writesFrameByteForByte();
    void opensTheDevicesLine();
    void deliversBytes_data();
    void deliversBytes();
    void refusesPortHeldByAnother();
    void lockHolder_data();
    void lockHolder();
    void openErrors_data();
    void openErrors();
    void reportsHangUpOnce();
    void adapterSerialOfAPseudoTerminal();
    void emptyingBeforeARequestDiscardsWhatCameBefore();
    void emptyingAfterARequestKeepsAQuickAnswer();
};

void TstSerialPortLine::writesFrameByteForByte()
{
    Pty pty;
    QVERIFY(pty.ok());
    SerialPortLine ctl;
    QVERIFY(!ctl.write("\x02"));   // not open yet
    QVERIFY(opens(ctl, pty.path));
    const QByteArray frame = buildFrame(1, cmd::Download, *encodeTable(startTable()));
    QVERIFY(ctl.write(frame));
    const QByteArray got = pty.receive(frame.size() + 1, 500);
    QCOMPARE(got.size(), 108);
    QCOMPARE(got, frame);
    ctl.close();
    QVERIFY(!ctl.isOpen());
    QVERIFY(!ctl.write(frame));
}

void TstSerialPortLine::opensTheDevicesLine()
{
    // Whatever the line was left at, it is opened at 38400 baud, 8 data bits,
    // no parity, 1 stop bit.
    Pty pty;
    QVERIFY(pty.ok());
    termios t{};
    QCOMPARE(tcgetattr(pty.slave, &t), 0);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
    QCOMPARE(tcsetattr(pty.slave, TCSANOW, &t), 0);
    SerialPortLine ctl;
    QVERIFY(opens(ctl, pty.path));
    QCOMPARE(tcgetattr(pty.slave, &t), 0);
    QCOMPARE(cfgetospeed(&t), speed_t(B38400));
    QCOMPARE(cfgetispeed(&t), speed_t(B38400));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
}

void TstSerialPortLine::deliversBytes_data()
{
    QTest::addColumn<int>("firstChunk");
    QTest::newRow("one chunk") << 10;
    QTest::newRow("two chunks") << 4;
}

void TstSerialPortLine::deliversBytes()
{
    QFETCH(int, firstChunk);
    Pty pty;
    QVERIFY(pty.ok());
    SerialPortLine ctl;
    QVERIFY(opens(ctl, pty.path));
    QByteArray got;
    qsizetype largest = 0;
    connect(&ctl, &Line::received, this, [&](const QByteArray &bytes) {
        got += bytes;
        largest = qMax(largest, bytes.capacity());
    });

    const QByteArray reply = QByteArray::fromHex("02 00 0A EE 00 21 0C 04 CD 03");
    QVERIFY(pty.send(reply.left(firstChunk)));
    QTRY_COMPARE(got, reply.left(firstChunk));
    QVERIFY(pty.send(reply.mid(firstChunk)));
    QTRY_COMPARE(got, reply);
    // The bytes in a block near their size, not in the port object's read
    // block: whatever keeps them (the line monitor keeps ten thousand
    // replies) keeps only that.
    QVERIFY2(largest < 1024, qPrintable(QString::number(largest)));
}

void TstSerialPortLine::refusesPortHeldByAnother()
{
    Pty pty;
    QVERIFY(pty.ok());
    SerialPortLine first, second;
    QVERIFY(opens(first, pty.path));
    QSignalSpy failed(&second, &Line::openFailed);
    second.open(pty.path);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).value<Line::OpenFailure>(), Line::OpenFailure::InUse);
    // Named by its lock file: this program, this process.
    QCOMPARE(second.errorText(), QStringLiteral("被 %1 占用（进程 %2）")
                                     .arg(QCoreApplication::applicationName())
                                     .arg(QCoreApplication::applicationPid()));
    QVERIFY(!second.isOpen());
    first.close();
    QVERIFY(opens(second, pty.path));
}

void TstSerialPortLine::lockHolder_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("lockName");   // "": no lock file
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("holder");
    QTest::newRow("QLockFile: number, program, host")
        << "/dev/ttyUSB0" << "LCK..ttyUSB0" << QByteArray("4242\nrt8ctl\ncab-pc\n") << "被 rt8ctl 占用（进程 4242）";
    QTest::newRow("a folder under /dev") << "/dev/pts/3" << "LCK..pts_3" << QByteArray("77\nvornrt8\nh\n")
                                         << "被 vornrt8 占用（进程 77）";
    QTest::newRow("UUCP: the number only") << "/dev/ttyS1" << "LCK..ttyS1" << QByteArray("      4242\n")
                                           << "被进程 4242 占用";
    QTest::newRow("another device's lock") << "/dev/ttyUSB1" << "LCK..ttyUSB0" << QByteArray("4242\nrt8ctl\n")
                                           << "";
    QTest::newRow("no number in it") << "/dev/ttyUSB0" << "LCK..ttyUSB0" << QByteArray("rt8ctl\n") << "";
    QTest::newRow("no lock file") << "/dev/ttyUSB0" << "" << QByteArray() << "";
}

void TstSerialPortLine::lockHolder()
{
    QFETCH(QString, device);
    QFETCH(QString, lockName);
    QFETCH(QByteArray, contents);
    QFETCH(QString, holder);
    QTemporaryDir empty, folder;
    if (!lockName.isEmpty()) {
        QFile f(folder.filePath(lockName));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(contents);
    }
    QCOMPARE(vorn::lockHolder(device, {empty.path(), folder.path()}), holder);
}

void TstSerialPortLine::openErrors_data()
{
    QTest::addColumn<QString>("ports");
    QTest::addColumn<int>("port");
    QTest::newRow("missing device") << "/dev/does-not-exist-vorn" << 1;
    QTest::newRow("empty entry") << "::/dev/does-not-exist-vorn" << 2;
    QTest::newRow("beyond the list") << "/dev/does-not-exist-vorn" << 2;
}

void TstSerialPortLine::openErrors()
{
    QFETCH(QString, ports);
    QFETCH(int, port);
    SerialPortLine line;
    DeviceSession session(PortMap(PortMap::parseList(ports)), &line);
    QVERIFY(!session.openPort(port));
    QCOMPARE(session.lastOpenFailure(), Line::OpenFailure::NoSuchPort);
    QVERIFY(!session.lastOpenFailureText().isEmpty());
    QVERIFY(!session.isOpen());
}

void TstSerialPortLine::reportsHangUpOnce()
{
    Pty pty;
    QVERIFY(pty.ok());
    SerialPortLine ctl;
    QVERIFY(opens(ctl, pty.path));
    QSignalSpy lost(&ctl, &Line::lost);
    pty.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    QVERIFY(!ctl.isOpen());
    // Said as what it is, not as "Unknown error".
    QCOMPARE(lost.first().at(0).toString(), QStringLiteral("设备已不在：%1 被拔出或挂断").arg(pty.path));
    const qint64 cpuBefore = cpuMs();
    QTest::qWait(500);
    QCOMPARE(lost.count(), 1);
    QVERIFY2(cpuMs() - cpuBefore < 250, "still busy after the hang-up");
    QVERIFY(!ctl.write("\x02"));
}

void TstSerialPortLine::adapterSerialOfAPseudoTerminal()
{
    // A pseudo-terminal is no USB adapter: asked of that one device, not of
    // every port of the system, it has no serial number.
    Pty pty;
    QVERIFY(pty.ok());
    SerialPortLine line;
    QCOMPARE(line.adapterSerial(pty.path), QString());
    QCOMPARE(usbSerialOf(QStringLiteral("/dev/does-not-exist-vorn")), QString());
    QVERIFY(line.present(pty.path));
    QVERIFY(!line.present(QStringLiteral("/dev/does-not-exist-vorn")));
}

namespace {
const QByteArray kDiscovery = QByteArray::fromHex("02 00 0A EE 00 21 0C 04 CD 03");
}  // namespace

namespace {
// A session on the pseudo-terminal's port, already open.
struct OnPty
{
    Pty pty;
    SerialPortLine ctl;
    DeviceSession session{PortMap({pty.path}), &ctl};
    QList<quint8> found;
    QList<int> raw;
    OnPty()
    {
        QObject::connect(&session, &DeviceSession::discovered, &session,
                         [this](quint8 number, quint8) { found.append(number); });
        QObject::connect(&session, &DeviceSession::liveValues, &session,
                         [this](const LiveValues &v) { raw.append(v.raw[0]); });
    }
};
// A raw-value reply with `first` as channel 0's value, the rest 0.
QByteArray rawReplyOf(int first)
{
    QByteArray values(20, '\0');
    values[1] = char(first);
    return buildReply(cmd::Feedback, values);
}
}  // namespace

void TstSerialPortLine::emptyingBeforeARequestDiscardsWhatCameBefore()
{
    // Bytes still in the driver when a request goes out came before it: the
    // input emptied before the write must not keep them (here the start of a
    // raw-value reply that would swallow the answer).
    OnPty p;
    QVERIFY(p.pty.ok());
    QVERIFY(p.session.openPort(1));
    QVERIFY(p.session.setFeedback(FeedbackMode::Raw));
    QCOMPARE(p.pty.receive(9, 2000).size(), 9);
    const QByteArray torn = rawReplyOf(7).left(12);
    QVERIFY(p.pty.send(torn));
    QVERIFY(p.pty.waitInDriver(torn.size()));
    QVERIFY(p.session.connectionTest());
    QCOMPARE(heldByPort(p.ctl), 0);
    QCOMPARE(p.pty.receive(9, 2000), buildFrame(255, cmd::Discover, QByteArray(1, char(255))));
    QVERIFY(p.pty.send(kDiscovery));
    QTRY_COMPARE(p.found, QList<quint8>{12});
    QVERIFY(p.raw.isEmpty());
}

void TstSerialPortLine::emptyingAfterARequestKeepsAQuickAnswer()
{
    // A device on a fast line (a pseudo-terminal) may answer before the
    // request that was written has emptied the input: that answer stays.
    OnPty p;
    QVERIFY(p.pty.ok());
    QVERIFY(p.session.openPort(1));
    connect(&p.session, &DeviceSession::frameSent, this, [&](const QByteArray &request) {
        QCOMPARE(p.pty.receive(request.size(), 2000), request);
        QVERIFY(p.pty.send(kDiscovery));
        QVERIFY(p.pty.waitInDriver(kDiscovery.size()));
    });
    QVERIFY(p.session.connectionTest());
    QTRY_COMPARE(p.found, QList<quint8>{12});
}

QTEST_GUILESS_MAIN(TstSerialPortLine)
#include "tst_serialportline.moc"
