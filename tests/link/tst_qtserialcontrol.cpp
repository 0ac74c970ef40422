// The serial control over QSerialPort, against a pseudo-terminal whose master
// side plays the device.

#include "protocol/channeltable.h"
#include "protocol/frame.h"
#include "link/qtserialcontrol.h"
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
    void opensTheDevicesLine();
    void deliversBytes_data();
    void deliversBytes();
    void refusesPortHeldByAnother();
    void lockHolder_data();
    void lockHolder();
    void openErrors_data();
    void openErrors();
    void reportsHangUpOnce();
    void repliesThatArriveDuringAHandlerAreTaken();
    void emptyingAfterARequestDiscardsWhatCameBefore();
    void emptyingAfterARequestKeepsAQuickAnswer();
};

void TstQtSerialControl::writesFrameByteForByte()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QVERIFY(!ctl.output("\x02"));   // not open yet
    QVERIFY(ctl.open());
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

void TstQtSerialControl::opensTheDevicesLine()
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
    QtSerialControl ctl(PortMap({pty.path}));
    QVERIFY(ctl.open());
    QCOMPARE(tcgetattr(pty.slave, &t), 0);
    QCOMPARE(cfgetospeed(&t), speed_t(B38400));
    QCOMPARE(cfgetispeed(&t), speed_t(B38400));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
}

void TstQtSerialControl::deliversBytes_data()
{
    QTest::addColumn<int>("firstChunk");
    QTest::newRow("one chunk") << 10;
    QTest::newRow("two chunks") << 4;
}

void TstQtSerialControl::deliversBytes()
{
    QFETCH(int, firstChunk);
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QVERIFY(ctl.open());
    QByteArray got;
    qsizetype largest = 0;
    connect(&ctl, &SerialControl::received, this, [&](const QByteArray &bytes) {
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

void TstQtSerialControl::refusesPortHeldByAnother()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl first(PortMap({pty.path}));
    QtSerialControl second(PortMap({pty.path}));
    QVERIFY(first.open());
    QVERIFY(!second.open());
    QCOMPARE(second.lastFailure(), SerialControl::OpenFailure::InUse);
    // Named by its lock file: this program, this process.
    QCOMPARE(second.errorText(), QStringLiteral("被 %1 占用（进程 %2）")
                                     .arg(QCoreApplication::applicationName())
                                     .arg(QCoreApplication::applicationPid()));
    QVERIFY(!second.isOpen());
    first.close();
    QVERIFY(second.open());
}

void TstQtSerialControl::lockHolder_data()
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

void TstQtSerialControl::lockHolder()
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

void TstQtSerialControl::openErrors_data()
{
    QTest::addColumn<QString>("ports");
    QTest::addColumn<int>("port");
    QTest::newRow("missing device") << "/dev/does-not-exist-vorn" << 1;
    QTest::newRow("empty entry") << "::/dev/does-not-exist-vorn" << 2;
    QTest::newRow("beyond the list") << "/dev/does-not-exist-vorn" << 2;
}

void TstQtSerialControl::openErrors()
{
    QFETCH(QString, ports);
    QFETCH(int, port);
    QtSerialControl ctl(PortMap(PortMap::parseList(ports)));
    ctl.setCommPort(port);
    QVERIFY(!ctl.open());
    QCOMPARE(ctl.lastFailure(), SerialControl::OpenFailure::NoSuchPort);
    QVERIFY(!ctl.errorText().isEmpty());
    QVERIFY(!ctl.isOpen());
}

void TstQtSerialControl::reportsHangUpOnce()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QVERIFY(ctl.open());
    QSignalSpy lost(&ctl, &SerialControl::portLost);
    pty.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    QVERIFY(!ctl.isOpen());
    // Said as what it is, not as "Unknown error".
    QCOMPARE(lost.first().at(0).toString(), QStringLiteral("设备已不在：%1 被拔出或挂断").arg(pty.path));
    const qint64 cpuBefore = cpuMs();
    QTest::qWait(500);
    QCOMPARE(lost.count(), 1);
    QVERIFY2(cpuMs() - cpuBefore < 250, "still busy after the hang-up");
    QVERIFY(!ctl.output("\x02"));
}

namespace {
const QByteArray kDiscovery = QByteArray::fromHex("02 00 0A EE 00 21 0C 04 CD 03");
const QByteArray kStray = QByteArray::fromHex("11 22 33 44 55");
}  // namespace

namespace {
// A session on the pseudo-terminal's port, already open.
struct OnPty
{
    Pty pty;
    QtSerialControl ctl{PortMap({pty.path})};
    DeviceSession session{&ctl};
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

void TstQtSerialControl::repliesThatArriveDuringAHandlerAreTaken()
{
    // A handler that waits in a nested event loop (a message box): replies
    // that arrive meanwhile, with stray bytes between them, are each taken
    // once it returns, in order.
    OnPty p;
    QVERIFY(p.pty.ok());
    QVERIFY(p.session.openPort(1));
    QVERIFY(p.session.setFeedback(FeedbackMode::Raw));
    QCOMPARE(p.pty.receive(9, 2000).size(), 9);
    bool heldMeanwhile = false;
    connect(&p.session, &DeviceSession::liveValues, this, [&] {
        if (p.raw.size() != 1)
            return;
        QVERIFY(p.pty.send(rawReplyOf(2) + kStray + rawReplyOf(3)));
        QEventLoop box;
        QTimer ticker;
        QDeadlineTimer deadline(5000);
        connect(&ticker, &QTimer::timeout, &box, [&] {
            if (heldByPort(p.ctl) + p.session.waitingBytes() >= 61 || deadline.hasExpired())
                box.quit();
        });
        ticker.start(2);
        box.exec();
        heldMeanwhile = p.raw.size() == 1;
    });
    QVERIFY(p.pty.send(rawReplyOf(1)));
    QTRY_COMPARE(p.raw, (QList<int>{1, 2, 3}));
    QVERIFY2(heldMeanwhile, "a reply was handled inside the handler of another");
}

void TstQtSerialControl::emptyingAfterARequestDiscardsWhatCameBefore()
{
    // Bytes still in the driver when a request goes out came before it: the
    // input emptied after the write must not keep them (here the start of a
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
    QCOMPARE(p.session.waitingBytes(), 0);
    QCOMPARE(p.pty.receive(9, 2000), buildFrame(255, cmd::Discover, QByteArray(1, char(255))));
    QVERIFY(p.pty.send(kDiscovery));
    QTRY_COMPARE(p.found, QList<quint8>{12});
    QVERIFY(p.raw.isEmpty());
}

void TstQtSerialControl::emptyingAfterARequestKeepsAQuickAnswer()
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

QTEST_GUILESS_MAIN(TstQtSerialControl)
#include "tst_qtserialcontrol.moc"
