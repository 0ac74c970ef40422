// The built rt8sim program on a real pseudo-terminal.

#include "protocol/frame.h"
#include "protocol/splitter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray kDiscover = QByteArray::fromHex("020009FFEE21FFC603");
const QByteArray kReplyFrom1 = QByteArray::fromHex("02000AEE01210128ED03");

// Starts rt8sim (standard input stays open) and reads its port line.
struct Sim
{
    explicit Sim(const QStringList &args)
    {
        proc.start(QStringLiteral(RT8SIM_PATH), args);
    }
    ~Sim()
    {
        proc.kill();
        proc.waitForFinished(3000);
    }
    // Whether the standard error so far holds this text.
    bool logged(const QString &text)
    {
        log += QString::fromUtf8(proc.readAllStandardError());
        return log.contains(text);
    }
    QString port()
    {
        QElapsedTimer t;
        t.start();
        while (!proc.canReadLine() && t.elapsed() < 5000 && proc.state() != QProcess::NotRunning)
            proc.waitForReadyRead(100);
        const QByteArray line = proc.readLine();
        return line.startsWith("port: ") && line.endsWith('\n') ? QString::fromLocal8Bit(line.mid(6).trimmed()) : QString();
    }
    QProcess proc;
    QString log;
};

// Whatever arrives within ms, or sooner once `enough` bytes are there.
QByteArray readFor(QSerialPort &port, int ms, int enough = INT_MAX)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < enough && t.elapsed() < ms) {
        port.waitForReadyRead(20);
        got += port.readAll();
    }
    return got;
}

// A plain descriptor on the terminal, to see the hang-up as the kernel gives it.
int openRaw(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (fd >= 0 && ::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// Sends a request and waits for n bytes; stops early on a hang-up.
QByteArray rawExchange(int fd, const QByteArray &request, int n, bool *hungUp = nullptr)
{
    QByteArray got;
    if (!request.isEmpty() && ::write(fd, request.constData(), size_t(request.size())) != request.size())
        return got;
    QElapsedTimer t;
    t.start();
    while (got.size() < n && t.elapsed() < 3000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[256];
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r > 0) {
            got.append(buf, r);
        } else if (r == 0 || errno == EIO) {
            if (hungUp)
                *hungUp = true;
            break;
        }
    }
    return got;
}

// What the process has open on pseudo-terminals, sorted.
QStringList terminalDescriptors(qint64 pid)
{
    QStringList out;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(name));
        if (target == QLatin1String("/dev/ptmx") || target.startsWith(QLatin1String("/dev/pts/")))
            out << target;
    }
    out.sort();
    return out;
}

}  // namespace

class TestSimProcess : public QObject
{
    Q_OBJECT
private slots:
    void discovery_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("defaults") << QStringList{} << kReplyFrom1;
        QTest::newRow("number 12, 4 digits") << QStringList{"--address", "12", "--digits", "4"}
                                             << QByteArray::fromHex("02000AEE0C210C04C103");
    }

    void discovery()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, reply);
        Sim sim(args);
        const QString path = sim.port();
        QVERIFY2(path.startsWith("/dev/pts/"), qPrintable(path));
        QSerialPort port(path);
        port.setBaudRate(QSerialPort::Baud38400);
        for (int client = 0; client < 2; ++client) {   // a client may come and go
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
            port.write(kDiscover);
            QCOMPARE(readFor(port, 3000, 10).toHex(' '), reply.toHex(' '));
            QVERIFY(readFor(port, 200).isEmpty());   // nothing more
            port.close();
        }
    }

    // Each way of ending is clean, quick, and takes the link away.
    void endings_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("SIGTERM") << "term";
        QTest::newRow("end of input") << "eof";
        QTest::newRow("quit typed") << "quit";
        QTest::newRow("--exit-after 1") << "after";
    }

    void endings()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString link = dir.filePath("rt8");
        QElapsedTimer t;
        t.start();
        Sim sim(how == "after" ? QStringList{"--link", link, "--exit-after", "1"} : QStringList{"--link", link});
        const QString path = sim.port();
        QVERIFY(!path.isEmpty());
        QCOMPARE(QFile::symLinkTarget(link), path);
        QTest::qWait(100);
        QCOMPARE(sim.proc.state(), QProcess::Running);
        if (how == "term")
            sim.proc.terminate();
        else if (how == "eof")
            sim.proc.closeWriteChannel();
        else if (how == "quit")
            sim.proc.write("quit\n");
        QVERIFY(sim.proc.waitForFinished(20000));
        if (how == "after")
            QVERIFY(t.elapsed() >= 1000);
        QCOMPARE(sim.proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.proc.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(sim.proc.readAllStandardOutput().isEmpty());   // only the port line
    }

    void heldValueOverTheLine()
    {
        Sim sim({"--period", "20"});
        QSerialPort port(sim.port());
        QVERIFY(port.open(QIODevice::ReadWrite));
        sim.proc.write("hold 3 12000\n");
        QTRY_VERIFY_WITH_TIMEOUT(sim.logged("input: ch3 held at 12000\n"), 20000);
        port.write(vorn::buildFrame(1, 0x40, QByteArray(1, '\x01')));
        QByteArray got;
        bool held = false;
        QElapsedTimer t;
        t.start();
        while (!held && t.elapsed() < 20000) {
            got += readFor(port, 200);
            for (qsizetype i = 0; !held && i + 28 <= got.size(); ++i) {
                const QByteArray r = got.mid(i, 28);
                held = vorn::checkFrame(r.left(28), vorn::FrameLayout::Reply).isFrame() && r.mid(6 + 6, 2).toHex() == QByteArray("2ee0");
            }
        }
        QVERIFY2(held, "no reply carried the held value");
        QVERIFY(vorn::checkFrame(got.left(28), vorn::FrameLayout::Reply).isFrame());
        port.write(vorn::buildFrame(1, 0x40, QByteArray(1, '\x02')));
        QTRY_VERIFY_WITH_TIMEOUT(sim.logged("feedback stop\n"), 20000);
        readFor(port, 100);
        QVERIFY(readFor(port, 200).isEmpty());   // stopped
    }

    // Devices 1 and 5 on one line: each answers to its own number, both to
    // 255, nobody to 7; the console's "@5" reaches device 5 alone.
    void twoDevicesOnOneLine()
    {
        Sim sim({"--address", "1", "--address", "5", "--digits", "40", "--digits", "8", "--period", "20"});
        QSerialPort port(sim.port());
        port.setBaudRate(QSerialPort::Baud38400);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        const QByteArray from1 = vorn::buildReply(0x21, QByteArray::fromHex("0128"), 1);
        const QByteArray from5 = vorn::buildReply(0x21, QByteArray::fromHex("0508"), 5);

        port.write(vorn::buildFrame(5, 0x21, QByteArray(1, '\x05')));
        QCOMPARE(readFor(port, 3000, 10).toHex(' '), from5.toHex(' '));
        QVERIFY(readFor(port, 200).isEmpty());   // and nobody else
        QTRY_VERIFY(sim.logged("[5] discover -> number 5 digits 8\n"));
        QVERIFY(!sim.logged("[1] discover"));

        port.write(vorn::buildFrame(7, 0x21, QByteArray(1, '\x07')));
        QTRY_VERIFY_WITH_TIMEOUT(sim.logged("for address 7, no such device: "), 3000);
        QVERIFY(readFor(port, 200).isEmpty());

        // Both answer a connection test to 255, one after the other.
        port.write(kDiscover);
        QCOMPARE(readFor(port, 3000, 20).toHex(' '), (from1 + from5).toHex(' '));

        sim.proc.write("@5 hold 3 12000\n");
        QTRY_VERIFY(sim.logged("[5] input: ch3 held at 12000\n"));
        port.write(vorn::buildFrame(5, 0x40, QByteArray(1, '\x01')));
        const QByteArray r = readFor(port, 3000, 28).left(28);
        QVERIFY(vorn::checkFrame(r.left(28), vorn::FrameLayout::Reply).isFrame());
        QCOMPARE(quint8(r[4]), quint8(5));
        QCOMPARE(r.mid(6 + 6, 2).toHex(), QByteArray("2ee0"));
        port.write(vorn::buildFrame(5, 0x40, QByteArray(1, '\x02')));
        QTRY_VERIFY(sim.logged("[5] feedback stop\n"));
        QVERIFY(!sim.logged("[1] input"));
        QVERIFY(!sim.logged("[1] feedback"));
    }

    // Unplugged: the client gets a hang-up at once and the simulator lets go
    // of both sides; replugged: a new terminal behind the same link answers.
    // At set times after the start, or when typed.
    void unplugAndReplug_data()
    {
        QTest::addColumn<bool>("typed");
        QTest::newRow("--unplug-after, --replug-after") << false;
        QTest::newRow("typed unplug, replug") << true;
    }
    void unplugAndReplug()
    {
        QFETCH(bool, typed);
        QTemporaryDir dir;
        const QString link = dir.filePath("rt8");
        Sim sim(typed ? QStringList{"--link", link}
                      : QStringList{"--link", link, "--unplug-after", "0.6", "--replug-after", "1.4"});
        QVERIFY(!sim.port().isEmpty());
        const int fd = openRaw(link);
        QVERIFY(fd >= 0);
        QCOMPARE(rawExchange(fd, kDiscover, 10), kReplyFrom1);
        if (typed) {
            sim.proc.write("unplug\n");
            QVERIFY(sim.proc.waitForBytesWritten(5000));
        }
        QElapsedTimer t;
        t.start();
        bool hungUp = false;
        rawExchange(fd, {}, 1, &hungUp);
        ::close(fd);
        QVERIFY(hungUp);
        // It lets go of its terminals soon after the hang-up, not at once.
        const qint64 pid = sim.proc.processId();
        QTRY_COMPARE_WITH_TIMEOUT(terminalDescriptors(pid), QStringList{}, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sim.logged("\nunplugged\n"), 10000);
        // The link went with the terminal, whose number another program may
        // be given meanwhile, as a pulled adapter's device node goes; it is
        // back, naming the new terminal, when "replugged" is logged.
        QVERIFY(!QFileInfo(link).isSymLink());
        if (typed) {
            sim.proc.write("replug\n");
            QVERIFY(sim.proc.waitForBytesWritten(5000));
        }
        QTRY_VERIFY_WITH_TIMEOUT(sim.logged("replugged: port /dev/pts/"), 20000);
        const int fd2 = openRaw(link);
        QVERIFY(fd2 >= 0);
        QCOMPARE(rawExchange(fd2, kDiscover, 10), kReplyFrom1);
        ::close(fd2);
        QTRY_COMPARE_WITH_TIMEOUT(terminalDescriptors(pid), (QStringList{"/dev/ptmx", QFile::symLinkTarget(link)}),
                                  10000);
        sim.proc.terminate();
        QVERIFY(sim.proc.waitForFinished(5000));
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void refusedToStart_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("address 256") << QStringList{"--address", "256"} << 2;
        QTest::newRow("noise 2") << QStringList{"--noise", "2"} << 2;
        QTest::newRow("period -1") << QStringList{"--period", "-1"} << 2;
        QTest::newRow("replug without unplug") << QStringList{"--replug-after", "2"} << 2;
        QTest::newRow("same address twice") << QStringList{"--address", "5", "--address", "3", "--address", "5"} << 2;
        QTest::newRow("two digits for three") << QStringList{"--address", "1", "--address", "2", "--address", "3",
                                                             "--digits", "8", "--digits", "8"} << 2;
        QTest::newRow("two digits for one") << QStringList{"--digits", "8", "--digits", "8"} << 2;
        QTest::newRow("link over a file") << QStringList{"--link", "FILE"} << 1;
    }

    void refusedToStart()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        QFile f(dir.filePath("file"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("keep me") == 7);
        f.close();
        args.replaceInStrings("FILE", f.fileName());
        Sim sim(args);
        QVERIFY(sim.proc.waitForFinished(5000));
        QCOMPARE(sim.proc.exitCode(), exitCode);
        QVERIFY(sim.proc.readAllStandardOutput().isEmpty());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
    }
};

QTEST_GUILESS_MAIN(TestSimProcess)
#include "tst_sim_process.moc"
