// rt8ctl, the built program, against rt8sim over a pseudo-terminal: what it
// prints, what reaches the device, what it writes to files, and its exit codes.

#include "e2e/simprocess.h"

#include "support/processrun.h"
#include "support/pty.h"
#include "support/tables.h"
#include "support/scripteddialogs.h"
#include "app/mainform.h"
#include "protocol/rtxfile.h"
#include "protocol/frame.h"
#include "link/serialportline.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vorn;

namespace {

constexpr int kBound = 15000;   // for anything to show in the simulator's log

using vorn::test::Result;
using vorn::test::describe;
using vorn::test::finish;

// Runs rt8ctl to its end; as the unprivileged user "nobody" with asNobody.
// Replies are waited for generously unless args say how long: the machine may
// be busy.
Result rt8ctl(QStringList args, bool asNobody = false)
{
    if (!args.contains(QLatin1String("--timeout")))
        args = QStringList{"--timeout", "20000"} + args;
    QProcess p;
    if (asNobody) {
        p.setProgram(QStandardPaths::findExecutable(QStringLiteral("setpriv")));
        p.setArguments(QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--", RT8CTL_EXE} + args);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        p.setProcessEnvironment(env);
    } else {
        p.setProgram(QStringLiteral(RT8CTL_EXE));
        p.setArguments(args);
    }
    p.start();
    return finish(p);
}

// Frames reach the device in the order they were written: once a power-on
// sent afterwards is in the log, anything not logged before it never came.
void expectNothingReached(SimProcess &sim, const QString &port, const QString &absent)
{
    const Result r = rt8ctl({"--port", port, "--address", "1", "power", "on"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("power on")), kBound);
    const QString before = sim.log().section(QStringLiteral("power on"), 0, 0);
    QVERIFY2(!before.contains(absent), qPrintable(sim.log()));
}

void saveTable(const QString &path, const ChannelTable &t)
{
    const auto bytes = encodeRtx(t);
    QVERIFY(bytes);
    QVERIFY(saveRtxFile(path, *bytes));
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

}  // namespace

class CtlEndToEndTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_run.init(); }
    void cleanup() { m_run.cleanup(); }
    void find_data();
    void find();
    void traceFileKeepsEveryFrame();
    void traceThatCannotBeWritten_data();
    void traceThatCannotBeWritten();
    void streamEndsWhenItsTraceStops();
    void scanListsOnlyTheDevicesThatAnswer();
    void scanDoesNotTrustAnotherNumber();
    void renumberKeepsTheDigitsAndConfirms();
    void writeVerifyThenReadAsTheWindowSaves();
    void auditFindsTheDriftAndChangesNothing();
    void readKeepsTheFileItCannotWriteWhole_data();
    void readKeepsTheFileItCannotWriteWhole();
    void streamCount_data();
    void streamCount();
    void streamStopsTheDeviceOnASignal_data();
    void streamStopsTheDeviceOnASignal();
    void exitCodes_data();
    void exitCodes();
    void resultsThatCannotBeWritten_data();
    void resultsThatCannotBeWritten();
    void recordsThatNeverPause();
    void messagesInTheLanguage_data();
    void messagesInTheLanguage();
    void streamEndsWhenTheDeviceFallsSilent();
    void streamReconnects_data();
    void streamReconnects();
    void portHeldByAnotherProgramIsNamed_data();
    void portHeldByAnotherProgramIsNamed();
    void unpluggedDeviceIsGone_data();
    void unpluggedDeviceIsGone();
    void severalDevicesHint_data();
    void severalDevicesHint();

private:
    FailFastRun m_run;
};

void CtlEndToEndTest::find_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("out");
    QTest::newRow("any number") << QStringList{"find"} << "number 7 digits 12\n";
    QTest::newRow("its number") << QStringList{"--address", "7", "find"} << "number 7 digits 12\n";
    QTest::newRow("JSON") << QStringList{"--json", "find"} << "{\"digits\":12,\"number\":7}\n";
}

void CtlEndToEndTest::find()
{
    QFETCH(QStringList, args);
    QFETCH(QString, out);
    SimProcess sim({"--address", "7", "--digits", "12"});
    QVERIFY(!sim.port().isEmpty());
    const Result r = rt8ctl(QStringList{"--port", sim.port()} + args);
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QCOMPARE(r.out, out);
}

void CtlEndToEndTest::traceFileKeepsEveryFrame()
{
    QTemporaryDir dir;
    SimProcess sim({"--address", "7", "--digits", "12"});
    QVERIFY(!sim.port().isEmpty());
    const QString trace = dir.filePath("trace.txt");
    QFile old(trace);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("earlier run\n") > 0);
    old.close();
    const Result r = rt8ctl({"--port", sim.port(), "--trace", trace, "find"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QFile f(trace);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Appended to what was there: the opening, the request, the answer, the
    // closing.
    QVERIFY2(lines.size() >= 5, qPrintable(lines.join('\n')));
    QCOMPARE(lines[0], QStringLiteral("earlier run"));
    QVERIFY(lines.filter(QStringLiteral(" → 02 00 09 FF EE 21 FF C6 03  连接测试 → 255")).size() == 1);
    QVERIFY(lines.filter(QStringLiteral(" ← 02 00 0A EE 07 21 07 0C ")).size() == 1);
    QVERIFY(lines.filter(QStringLiteral("找到设备 7，显示位数 12")).size() == 1);
    // A trace that cannot be written stops it before anything is sent.
    const Result bad = rt8ctl({"--port", sim.port(), "--trace", dir.filePath("no/such/dir/t.txt"), "power", "off"});
    QCOMPARE(bad.exitCode, 4);
    const Result later = rt8ctl({"--port", sim.port(), "power", "on"});
    QVERIFY2(later.exitCode == 0, qPrintable(describe(later)));
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("power on")), kBound);
    QVERIFY(!sim.log().contains(QLatin1String("power off")));
}

void CtlEndToEndTest::traceThatCannotBeWritten_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("notLogged");
    QTest::newRow("find") << QStringList{"find"} << "discover";
    QTest::newRow("power off") << QStringList{"power", "off"} << "power off";
    QTest::newRow("stream") << QStringList{"stream", "raw", "--count", "2"} << "feedback raw";
}

void CtlEndToEndTest::traceThatCannotBeWritten()
{
    QFETCH(QStringList, command);
    QFETCH(QString, notLogged);
    SimProcess sim({"--address", "1"});
    QVERIFY(!sim.port().isEmpty());
    // The device opens for appending and refuses the first line: said once,
    // exit 4, and nothing sent without its trace.
    const Result r = rt8ctl(QStringList{"--port", sim.port(), "--address", "1", "--trace", "/dev/full"} + command);
    QVERIFY2(r.exitCode == 4, qPrintable(describe(r)));
    QCOMPARE(r.err.count(QStringLiteral("/dev/full")), 1);
    QVERIFY(r.out.isEmpty());
    expectNothingReached(sim, sim.port(), notLogged);
}

void CtlEndToEndTest::streamEndsWhenItsTraceStops()
{
    // The trace goes to a pipe whose reader leaves in the middle of a stream.
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath("trace"));
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);
    SimProcess sim({"--address", "1", "--period", "100"});
    QVERIFY(!sim.port().isEmpty());
    QProcess p;
    p.start(QStringLiteral(RT8CTL_EXE), {"--port", sim.port(), "--address", "1", "--trace", dir.filePath("trace"),
                                         "stream", "raw"});
    QVERIFY(p.waitForStarted(60000));
    QByteArray traced;
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 char buf[4096];
                                 const auto n = ::read(reader, buf, sizeof buf);
                                 traced += QByteArray(buf, int(std::max<ssize_t>(n, 0)));
                                 return traced.count("原始值 ") >= 2;
                             }()),
                             kBound);
    ::close(reader);
    QVERIFY(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(p.exitCode() == 4, qPrintable(err));
    QCOMPARE(err.count(QStringLiteral("写入失败")), 1);
    // It ended as on Ctrl+C: the device told to stop.
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("feedback stop")), kBound);
}

void CtlEndToEndTest::scanListsOnlyTheDevicesThatAnswer()
{
    SimProcess sim({"--address", "1", "--address", "5", "--digits", "40", "--digits", "8"});
    QVERIFY(!sim.port().isEmpty());
    const Result r = rt8ctl({"--port", sim.port(), "--timeout", "2500", "scan", "--from", "1", "--to", "6"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QCOMPARE(r.out, QStringLiteral("number 1 digits 40\nnumber 5 digits 8\n"));
}

void CtlEndToEndTest::scanDoesNotTrustAnotherNumber()
{
    // The test plays the device: asked for 3, number 9 answers first.
    Pty pty;
    QVERIFY(pty.ok());
    QProcess p;
    p.start(QStringLiteral(RT8CTL_EXE), {"--port", pty.path, "--timeout", "60000", "scan", "--from", "3", "--to", "3"});
    QVERIFY(p.waitForStarted(60000));
    QCOMPARE(pty.receive(9, 60000), buildFrame(3, cmd::Discover, QByteArray(1, '\x03')));
    QVERIFY(pty.send(buildReply(cmd::Discover, QByteArray("\x09\x28", 2))));
    // Once rt8ctl has said what it made of that reply, the right one follows.
    QString err;
    QDeadlineTimer told(60000);
    p.setReadChannel(QProcess::StandardError);
    while (!err.contains(QStringLiteral("收到 9 号")) && !told.hasExpired() && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(200);
        err += QString::fromUtf8(p.readAllStandardError());
    }
    QVERIFY2(err.contains(QStringLiteral("收到 9 号")), qPrintable(err));
    // Input that arrives while a reply is being handled is emptied with it:
    // the device says it again until rt8ctl has heard it.
    QDeadlineTimer heard(60000);
    do
        QVERIFY(pty.send(buildReply(cmd::Discover, QByteArray("\x03\x28", 2))));
    while (!p.waitForFinished(500) && !heard.hasExpired());
    QCOMPARE(p.state(), QProcess::NotRunning);
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), QStringLiteral("number 3 digits 40\n"));
}

void CtlEndToEndTest::renumberKeepsTheDigitsAndConfirms()
{
    SimProcess sim({"--address", "3", "--digits", "12"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    // Without --digits the device's own count goes with the new number.
    Result r = rt8ctl({"--port", port, "renumber", "9"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QCOMPARE(r.out, QStringLiteral("number 9 digits 12\n"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("set number -> number 9 digits 12")), kBound);

    r = rt8ctl({"--port", port, "--address", "9", "renumber", "4", "--digits", "6"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QCOMPARE(r.out, QStringLiteral("number 4 digits 6\n"));
}

void CtlEndToEndTest::writeVerifyThenReadAsTheWindowSaves()
{
    SimProcess sim({"--address", "1"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    QTemporaryDir dir;
    ChannelTable t = variedTable();
    t[0].lower = QStringLiteral("1.5");   // goes out as 2, and verifies as 2
    saveTable(dir.filePath("in.RTX"), t);

    Result r = rt8ctl({"--port", port, "--address", "1", "write", dir.filePath("in.RTX"), "--verify"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QVERIFY(r.out.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(QStringLiteral("download ")).size(), 1, kBound);

    r = rt8ctl({"--port", port, "--address", "1", "read", "-"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines[1].simplified(), QStringLiteral("0# 2 500 0 固定关 0 30000"));
    QCOMPARE(lines[3].simplified(), QStringLiteral("2# -200 574 2 大于 -2 30002"));

    r = rt8ctl({"--port", port, "--address", "1", "read", dir.filePath("ctl.RTX")});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));

    // The window reads the same device back and saves it.
    SerialPortLine serial;
    ScriptedDialogs dialogs;
    DeviceSession session(PortMap({port}), &serial);
    MainForm form(&session, &dialogs);
    form.load();
    QVERIFY(serial.isOpen());
    form.findChild<QPushButton *>(QStringLiteral("ReSetCommand"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(form.table() != startTable(), kBound);
    dialogs.nextSave = dir.filePath("window.RTX");
    form.findChild<QPushButton *>(QStringLiteral("SaveSetCommand"))->click();
    QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.texts().join('\n')));
    QCOMPARE(contents(dir.filePath("ctl.RTX")), contents(dir.filePath("window.RTX")));
}

void CtlEndToEndTest::auditFindsTheDriftAndChangesNothing()
{
    SimProcess sim({"--address", "1", "--address", "2"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    QTemporaryDir dir;
    const ChannelTable plant = variedTable();
    ChannelTable drifted = plant;
    drifted[3].upper = QStringLiteral("1200");
    drifted[7].formula = formulaNames().at(1);
    QVERIFY(drifted[7].formula != plant[7].formula);
    saveTable(dir.filePath("plant.RTX"), plant);
    saveTable(dir.filePath("drifted.RTX"), drifted);
    // Texts the device keeps as other numbers: 0.4 goes out as 0, 500.2 as 500.
    ChannelTable typed = plant;
    typed[0].lower = QStringLiteral("0.4");
    typed[0].upper = QStringLiteral("500.2");
    typed[1].start2 = QStringLiteral("30001.0");
    saveTable(dir.filePath("typed.RTX"), typed);

    for (const auto &[address, file] : {std::pair{"1", "plant.RTX"}, std::pair{"2", "drifted.RTX"}}) {
        const Result w = rt8ctl({"--port", port, "--address", address, "write", dir.filePath(file)});
        QVERIFY2(w.exitCode == 0, qPrintable(describe(w)));
    }
    QTRY_COMPARE_WITH_TIMEOUT(sim.logLines(QStringLiteral("download ")).size(), 2, kBound);
    const qsizetype before = sim.log().size();

    // The line: one device equal, one with exactly the two changes.
    Result r = rt8ctl({"--port", port, "--json", "audit", dir.filePath("plant.RTX"), "--scan", "--from", "1", "--to",
                       "2", "--save-found", dir.filePath("found")});
    QVERIFY2(r.exitCode == 5, qPrintable(describe(r)));
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QJsonObject equal{{"address", 1}, {"digits", 40}, {"equal", true}, {"differences", QJsonArray()}};
    const QJsonObject differs{
        {"address", 2}, {"digits", 40}, {"equal", false},
        {"differences",
         QJsonArray{QJsonObject{{"channel", 3}, {"field", "upper"}, {"expected", 611}, {"found", 1200}},
                    QJsonObject{{"channel", 7}, {"field", "formula"}, {"expected", plant[7].formula},
                                {"found", drifted[7].formula}}}}};
    QCOMPARE(QJsonDocument::fromJson(lines[0].toUtf8()).object(), equal);
    QCOMPARE(QJsonDocument::fromJson(lines[1].toUtf8()).object(), differs);

    // On the wire: connection tests and read-backs only. A power-on sent
    // afterwards marks the end of what the audit sent.
    const Result mark = rt8ctl({"--port", port, "--address", "1", "power", "on"});
    QVERIFY2(mark.exitCode == 0, qPrintable(describe(mark)));
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().mid(before).contains(QLatin1String("power on")), kBound);
    const QStringList wire = sim.log().mid(before).section(QStringLiteral("power on"), 0, 0)
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList requests;
    for (const QString &l : wire)
        requests.append(l.section(QLatin1String(" -> "), 0, 0));
    requests.removeLast();   // the "[1] " of the power-on line
    // The line is scanned first, then each device that answered is read back.
    QCOMPARE(requests, (QStringList{"[1] discover", "[2] discover", "[1] read-back", "[2] read-back"}));

    // The human table, in the language asked for.
    r = rt8ctl({"--port", port, "--lang", "en", "--address", "2", "audit", dir.filePath("plant.RTX")});
    QCOMPARE(r.exitCode, 5);
    const QStringList human = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(human.size(), 3);
    QCOMPARE(human[1].simplified(), QStringLiteral("3# upper limit 611 → 1200"));
    QCOMPARE(human[2].simplified(), QStringLiteral("7# alarm formula %1 → %2").arg(plant[7].formula, drifted[7].formula));

    // What was found is a file write accepts, and each device holds its own.
    for (const char *address : {"1", "2"}) {
        const QString found = dir.filePath(QStringLiteral("found/%1.RTX").arg(address));
        r = rt8ctl({"--port", port, "--address", address, "audit", found});
        QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
        r = rt8ctl({"--port", port, "--address", address, "write", found, "--verify"});
        QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    }
    // Values the device rounds compare as it keeps them.
    r = rt8ctl({"--port", port, "--address", "1", "audit", dir.filePath("typed.RTX")});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    // No device, no file.
    r = rt8ctl({"--port", port, "--timeout", "300", "--address", "9", "audit", dir.filePath("plant.RTX")});
    QCOMPARE(r.exitCode, 1);
    r = rt8ctl({"--port", port, "audit", dir.filePath("none.RTX")});
    QCOMPARE(r.exitCode, 4);
}

void CtlEndToEndTest::readKeepsTheFileItCannotWriteWhole_data()
{
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("upper");
    QTest::addColumn<QString>("why");
    QTest::addColumn<QString>("shown");   // the row in the text table
    // -3e4 goes out as -30000, whose text is wider than the file's field.
    QTest::newRow("text wider than its field") << "-3e4" << "0" << "截断" << "2# -30000 0 1 固定关 0 1000";
    QTest::newRow("upper limit past 32767") << "1e4" << "4e4" << "无法写成文本" << "2# 10000 ? 1 固定关 0 1000";
}

void CtlEndToEndTest::readKeepsTheFileItCannotWriteWhole()
{
    QFETCH(QString, lower);
    QFETCH(QString, upper);
    QFETCH(QString, why);
    QFETCH(QString, shown);
    SimProcess sim({"--address", "1"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    QTemporaryDir dir;
    ChannelTable t = startTable();
    t[2].lower = lower;
    t[2].upper = upper;
    saveTable(dir.filePath("in.RTX"), t);
    Result r = rt8ctl({"--port", port, "--address", "1", "write", dir.filePath("in.RTX"), "--verify"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));

    const QString kept = dir.filePath("kept.RTX");
    saveTable(kept, startTable());
    const QByteArray before = contents(kept);
    r = rt8ctl({"--port", port, "--address", "1", "read", kept});
    QVERIFY2(r.exitCode == 4, qPrintable(describe(r)));
    QVERIFY2(r.err.contains(why), qPrintable(r.err));
    QCOMPARE(contents(kept), before);

    r = rt8ctl({"--port", port, "--address", "1", "read", "-"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QCOMPARE(r.out.split(QLatin1Char('\n')).value(3).simplified(), shown);
}

void CtlEndToEndTest::streamCount_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("ch0");
    QTest::newRow("raw") << "raw" << "32767";
    // 0 + 1000 * 32767 / 65535 = 499 with one decimal place.
    QTest::newRow("target") << "target" << "49.9";
}

void CtlEndToEndTest::streamCount()
{
    QFETCH(QString, mode);
    QFETCH(QString, ch0);
    SimProcess sim({"--address", "1", "--period", "400"});   // records need a quiet poll between them
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    sim.type(QStringLiteral("hold 0 32767"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("ch0 held at 32767")), kBound);

    const Result r = rt8ctl({"--port", port, "--address", "1", "stream", mode, "--count", "3"});
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QStringList lines = r.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.takeFirst(), QStringLiteral("time,ch0,ch1,ch2,ch3,ch4,ch5,ch6,ch7,ch8,ch9"));
    QCOMPARE(lines.size(), 3);
    for (const QString &line : lines) {
        const QStringList f = line.split(QLatin1Char(','));
        QVERIFY2(QDateTime::fromString(f[0], Qt::ISODateWithMs).isValid(), qPrintable(line));
        QCOMPARE(f.size(), 11);
        QCOMPARE(f[1], ch0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("feedback stop")), kBound);
}

void CtlEndToEndTest::streamStopsTheDeviceOnASignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl+C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void CtlEndToEndTest::streamStopsTheDeviceOnASignal()
{
    QFETCH(int, signal);
    SimProcess sim({"--address", "1", "--period", "100"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    QProcess p;
    p.start(QStringLiteral(RT8CTL_EXE), {"--port", port, "--address", "1", "stream", "raw"});
    QVERIFY(p.waitForStarted(60000));
    // The header and two values, then the signal.
    QByteArray out;
    QElapsedTimer waited;
    waited.start();
    while (out.count('\n') < 3 && waited.elapsed() < 60000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(200);
        out += p.readAllStandardOutput();
    }
    QVERIFY2(out.count('\n') >= 3, out.constData());
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("feedback stop")), kBound);
}

void CtlEndToEndTest::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");   // %PORT%: the simulator's; %DIR%: a folder of files
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("notLogged");   // a request that must not reach the device

    const auto row = [](const char *name, const QStringList &args, int exit, const QString &says,
                        const QString &notLogged = {}, bool asNobody = false) {
        QTest::newRow(name) << args << asNobody << exit << says << notLogged;
    };
    const QString p = QStringLiteral("%PORT%");
    row("unknown command", {"--port", p, "frobnicate"}, 2, "没有“frobnicate”这个命令");
    row("address past 255", {"--port", p, "--address", "256", "find"}, 2, "--address", "discover");
    row("digit in the number", {"--port", p, "display", "number", "12a45"}, 2, "“显示数字”无效", "show number");
    row("code past 255", {"--port", p, "display", "code", "1", "256"}, 2, "“显示编码 第2个编码”无效", "show code");
    row("start position", {"--port", p, "display", "code", "1", "2", "--start", "x"}, 2, "“位置起点”无效",
        "show code");
    row("digit count", {"--port", p, "renumber", "9", "--digits", "300"}, 2, "“显示位数”无效", "set number");
    row("digit count with junk", {"--port", p, "renumber", "9", "--digits", "4a"}, 2, "“显示位数”无效", "set number");
    row("number too long for its digits", {"--port", p, "display", "number", "1", "--digits", "12"}, 2,
        "“数据位数”过大", "show number");
    row("display port", {"--port", p, "display", "code", "1", "2", "--port", "x"}, 2, "“显示端口”无效", "show code");
    row("table field", {"--port", p, "write", "%DIR%/refused.RTX"}, 2, "设置错误", "download");
    row("no answer: find", {"--port", p, "--address", "200", "--timeout", "500", "find"}, 1, "没有收到有效应答");
    row("no answer: renumber", {"--port", p, "--address", "200", "--timeout", "500", "renumber", "9"}, 1,
        "--digits", "set number");
    row("no answer: read", {"--port", p, "--address", "200", "--timeout", "500", "read", "-"}, 1,
        "没有收到有效应答");
    row("no answer: stream", {"--port", p, "--address", "200", "--timeout", "800", "stream", "raw"}, 1,
        "没有收到有效应答");
    row("file missing", {"--port", p, "write", "%DIR%/missing.RTX"}, 4, "无法读取配置文件", "download");
    row("file not a table", {"--port", p, "write", "%DIR%/garbage.RTX"}, 4, "无法读取配置文件", "download");
    row("a folder, not a file", {"--port", p, "write", "%DIR%"}, 4, "这是一个文件夹", "download");
    row("file not writable", {"--port", p, "--address", "1", "read", "%DIR%/no/such/folder.RTX"}, 4,
        "配置文件保存失败");
    row("no such device", {"--port", "/dev/does-not-exist-vorn", "find"}, 3, "端口打开错误");
    row("port number with no device", {"--port", "5", "find"}, 3, "端口打开错误");
    row("no port to search", {"find"}, 3, "没有可以使用的通讯端口");
    row("port refused to the user", {"--port", p, "find"}, 3, "sudo usermod -aG dialout", {}, true);
}

void CtlEndToEndTest::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(bool, asNobody);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QString, notLogged);
    if (asNobody && (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()))
        QSKIP("needs root and setpriv, to run as a user who may not open the port");

    SimProcess sim({"--address", "1"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    QTemporaryDir dir;
    ChannelTable refused = startTable();
    refused[4].lower = QStringLiteral("100");   // upper 1000: fine
    refused[7].upper = QStringLiteral("-1");    // below its lower limit
    saveTable(dir.filePath("refused.RTX"), refused);
    QFile garbage(dir.filePath("garbage.RTX"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a table\r\n");
    garbage.close();
    for (QString &a : args)
        a.replace(QStringLiteral("%PORT%"), port).replace(QStringLiteral("%DIR%"), dir.path());
    if (asNobody)
        QVERIFY(::chmod(port.toLocal8Bit().constData(), 0600) == 0);

    const Result r = rt8ctl(args, asNobody);
    QVERIFY2(r.exitCode == exitCode, qPrintable(describe(r)));
    QVERIFY2(r.err.contains(says), qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
    if (!notLogged.isEmpty())
        expectNothingReached(sim, port, notLogged);
}

void CtlEndToEndTest::resultsThatCannotBeWritten_data()
{
    QTest::addColumn<QStringList>("args");   // %PORT%: the simulator's
    const QString p = QStringLiteral("%PORT%");
    QTest::newRow("find") << QStringList{"--port", p, "--address", "1", "find"};
    QTest::newRow("read -") << QStringList{"--port", p, "--address", "1", "read", "-"};
    QTest::newRow("--json scan") << QStringList{"--port", p, "--json", "scan", "--from", "1", "--to", "1"};
    QTest::newRow("ports") << QStringList{"ports"};
    QTest::newRow("stream --count 2") << QStringList{"--port", p, "--address", "1", "stream", "raw", "--count", "2"};
}

void CtlEndToEndTest::resultsThatCannotBeWritten()
{
    QFETCH(QStringList, args);
    SimProcess sim({"--address", "1", "--period", "100"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    for (QString &a : args)
        a.replace(QStringLiteral("%PORT%"), port);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VORNRT8_PORTS"), port);
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QStringLiteral("/dev/full"));
    p.start(QStringLiteral(RT8CTL_EXE), QStringList{"--timeout", "20000"} + args);
    QVERIFY(p.waitForFinished(120000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 4, qPrintable(QStringLiteral("exit %1: %2").arg(p.exitCode()).arg(err)));
    QVERIFY2(err.contains(QStringLiteral("结果没能写到标准输出")) && err.contains(qt_error_string(ENOSPC)),
             qPrintable(err));
}

void CtlEndToEndTest::recordsThatNeverPause()
{
    // Records back to back: the waiting bytes never stay the same for a tick.
    SimProcess sim({"--address", "1", "--period", "0"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    const Result r = rt8ctl({"--timeout", "1500", "--port", port, "--address", "1", "stream", "target"});
    QVERIFY2(r.exitCode == 1, qPrintable(describe(r)));
    QVERIFY2(r.err.contains(QStringLiteral("从未停顿 200 ms")), qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
}

void CtlEndToEndTest::messagesInTheLanguage_data()
{
    QTest::addColumn<QString>("environment");   // locale variables, blank-separated
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errStart");
    const QString enCommand = QStringLiteral("rt8ctl: There is no command “bogus”.\n"
                                             "(rt8ctl --help lists the commands and options.)\n");
    const QString zhCommand = QStringLiteral("rt8ctl: 没有“bogus”这个命令。\n（rt8ctl --help 列出命令和选项。）\n");
    QTest::newRow("English system") << "LANG=en_US.UTF-8" << QStringList{"bogus"} << 2 << enCommand;
    QTest::newRow("British, by LC_MESSAGES") << "LANG=zh_CN.UTF-8 LC_MESSAGES=en_GB.UTF-8" << QStringList{"bogus"}
                                             << 2 << enCommand;
    QTest::newRow("English first in LANGUAGE") << "LC_ALL=C.UTF-8 LANGUAGE=en_US:en" << QStringList{"bogus"} << 2
                                               << enCommand;
    QTest::newRow("Chinese system") << "LANG=zh_CN.UTF-8" << QStringList{"bogus"} << 2 << zhCommand;
    QTest::newRow("German system") << "LANG=de_DE.UTF-8" << QStringList{"bogus"} << 2 << zhCommand;
    QTest::newRow("C locale") << "LC_ALL=C.UTF-8" << QStringList{"bogus"} << 2 << zhCommand;
    QTest::newRow("--lang en on a Chinese system") << "LANG=zh_CN.UTF-8" << QStringList{"--lang", "en", "bogus"}
                                                   << 2 << enCommand;
    QTest::newRow("--lang zh on an English system") << "LANG=en_US.UTF-8" << QStringList{"--lang", "zh", "bogus"}
                                                    << 2 << zhCommand;
    QTest::newRow("--lang fr, said in the system's")
        << "LANG=en_US.UTF-8" << QStringList{"--lang", "fr", "find"} << 2
        << QStringLiteral("rt8ctl: The value “fr” of “--lang” is not valid: write en or zh.\n");
    // The session's own messages too.
    QTest::newRow("a port that does not open, in English")
        << "LANG=zh_CN.UTF-8" << QStringList{"--lang", "en", "--port", "/dev/no-such-rt8-port", "find"} << 3
        << QStringLiteral("rt8ctl: The port could not be opened!\n");
    QTest::newRow("a port that does not open, in Chinese")
        << "LANG=en_US.UTF-8" << QStringList{"--lang", "zh", "--port", "/dev/no-such-rt8-port", "find"} << 3
        << QStringLiteral("rt8ctl: 端口打开错误~!\n");
}

void CtlEndToEndTest::messagesInTheLanguage()
{
    QFETCH(QString, environment);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, errStart);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        env.remove(QLatin1String(name));
    for (const QString &v : environment.split(QLatin1Char(' ')))
        env.insert(v.section(QLatin1Char('='), 0, 0), v.section(QLatin1Char('='), 1));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(RT8CTL_EXE), args);
    QVERIFY(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), exitCode);
    QVERIFY2(err.startsWith(errStart), qPrintable(err));
}

namespace {

// Reads a running rt8ctl's standard output until it holds n lines.
bool readLines(QProcess &p, QByteArray *out, int n)
{
    QDeadlineTimer deadline(60000);
    while (out->count('\n') < n && !deadline.hasExpired() && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(200);
        *out += p.readAllStandardOutput();
    }
    return out->count('\n') >= n;
}

}  // namespace

void CtlEndToEndTest::streamEndsWhenTheDeviceFallsSilent()
{
    // The device streams, then freezes: no more values, the line stays up.
    SimProcess sim({"--address", "1", "--period", "100"});
    QVERIFY(!sim.port().isEmpty());
    constexpr int timeoutMs = 3000;
    QProcess p;
    p.start(QStringLiteral(RT8CTL_EXE), {"--port", sim.port(), "--timeout", QString::number(timeoutMs), "--address",
                                         "1", "stream", "raw"});
    QVERIFY(p.waitForStarted(60000));
    QByteArray out;
    QVERIFY2(readLines(p, &out, 3), p.readAllStandardError().constData());
    const auto simPid = pid_t(sim.process().processId());
    QVERIFY(::kill(simPid, SIGSTOP) == 0);
    const bool ended = p.waitForFinished(timeoutMs + 1000);
    ::kill(simPid, SIGCONT);
    QVERIFY2(ended, "still streaming after --timeout + 1 s of silence");
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 1, qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("3000 ms 内没有收到新的值")), qPrintable(err));
    // Told to stop, which it reads once it runs again.
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QLatin1String("feedback stop")), kBound);
}

void CtlEndToEndTest::streamReconnects_data()
{
    QTest::addColumn<QStringList>("back");   // the device that appears at the path after the loss
    QTest::addColumn<bool>("taken");
    QTest::newRow("the same device") << QStringList{"--address", "1", "--digits", "40"} << true;
    QTest::newRow("another with the same number") << QStringList{"--address", "1", "--digits", "8"} << false;
}

void CtlEndToEndTest::streamReconnects()
{
    QFETCH(QStringList, back);
    QFETCH(bool, taken);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("rt8"));
    auto sim = std::make_unique<SimProcess>(
        QStringList{"--address", "1", "--digits", "40", "--period", "100", "--link", link});
    QVERIFY(!sim->port().isEmpty());
    QProcess p;
    p.start(QStringLiteral(RT8CTL_EXE), {"--lang", "en", "--port", link, "--address", "1", "--timeout", "20000",
                                         "stream", "raw", "--reconnect", "--count", "12", "--seconds", "40"});
    QVERIFY(p.waitForStarted(60000));
    QByteArray out;
    QVERIFY2(readLines(p, &out, 4), p.readAllStandardError().constData());
    // Gone, and another (or the same) at its path.
    sim.reset();
    sim = std::make_unique<SimProcess>(back + QStringList{"--period", "100", "--link", link});
    QVERIFY(!sim->port().isEmpty());
    if (taken) {
        const Result r = finish(p);
        QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
        QCOMPARE(QString::fromUtf8(out + r.out.toUtf8()).count(QLatin1Char('\n')), 13);   // the header and 12 sets
        const qsizetype lost = r.err.indexOf(QLatin1String("lost"));
        QVERIFY2(lost >= 0 && r.err.indexOf(QLatin1String("online"), lost) > lost, qPrintable(r.err));
        return;
    }
    // Another device is never streamed from: only asked who it is.
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(p.readAllStandardError())).contains(QLatin1String("other-device")),
                             2 * kBound);
    QVERIFY(sim->log().contains(QLatin1String("discover")));
    ::kill(pid_t(p.processId()), SIGTERM);
    const Result r = finish(p);
    QVERIFY2(r.exitCode == 0, qPrintable(describe(r)));
    QVERIFY(!sim->log().contains(QLatin1String("feedback raw")));
}

void CtlEndToEndTest::portHeldByAnotherProgramIsNamed_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("says");   // %1: the holder's process number
    QTest::newRow("Chinese") << "zh" << "被 rt8ctl 占用（进程 %1）";
    QTest::newRow("English") << "en" << "held by rt8ctl, process %1";
}

void CtlEndToEndTest::portHeldByAnotherProgramIsNamed()
{
    QFETCH(QString, language);
    QFETCH(QString, says);
    SimProcess sim({"--address", "1", "--period", "100"});
    QVERIFY(!sim.port().isEmpty());
    QProcess holder;
    holder.start(QStringLiteral(RT8CTL_EXE), {"--port", sim.port(), "--address", "1", "stream", "raw"});
    QVERIFY(holder.waitForStarted(60000));
    QByteArray out;
    QVERIFY(readLines(holder, &out, 2));
    const Result r = rt8ctl({"--lang", language, "--port", sim.port(), "find"});
    QVERIFY2(r.exitCode == 3, qPrintable(describe(r)));
    QVERIFY2(r.err.contains(says.arg(holder.processId())), qPrintable(r.err));
    QVERIFY2(!r.err.contains(QLatin1String("dialout")), qPrintable(r.err));
    ::kill(pid_t(holder.processId()), SIGTERM);
    QVERIFY(holder.waitForFinished(60000));
}

void CtlEndToEndTest::unpluggedDeviceIsGone_data()
{
    QTest::addColumn<QString>("rules");   // QT_LOGGING_RULES, "" for none
    QTest::addColumn<bool>("logged");
    QTest::newRow("no rules: only rt8ctl's own message") << "" << false;
    QTest::newRow("the category asked for") << "vornrt8.line=true" << true;
}

void CtlEndToEndTest::unpluggedDeviceIsGone()
{
    QFETCH(QString, rules);
    QFETCH(bool, logged);
    SimProcess sim({"--address", "1", "--period", "100", "--unplug-after", "2"});
    const QString port = sim.port();
    QVERIFY(!port.isEmpty());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!rules.isEmpty())
        env.insert(QStringLiteral("QT_LOGGING_RULES"), rules);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(RT8CTL_EXE), {"--lang", "zh", "--timeout", "20000", "--port", port, "--address", "1",
                                         "stream", "raw"});
    const Result r = finish(p);
    QVERIFY2(r.exitCode == 3, qPrintable(describe(r)));
    const QString gone = QStringLiteral("设备已不在：%1 被拔出或挂断").arg(port);
    QVERIFY2(r.err.contains(QStringLiteral("rt8ctl: 通讯端口已断开：") + gone), qPrintable(r.err));
    QVERIFY2(!r.err.contains(QLatin1String("Unknown error")), qPrintable(r.err));
    QCOMPARE(r.err.contains(QLatin1String("vornrt8.line: ")), logged);
}

void CtlEndToEndTest::severalDevicesHint_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("hint");
    const QByteArray one = buildReply(cmd::Discover, QByteArray("\x01\x28", 2));
    const QByteArray two = buildReply(cmd::Discover, QByteArray("\x02\x08", 2));
    QByteArray anded = one;
    for (int i = 0; i < anded.size(); ++i)
        anded[i] = char(one[i] & two[i]);
    QTest::newRow("two devices answering at once") << anded << true;
    QTest::newRow("a server flooding 0xFF") << QByteArray(200, char(0xFF)) << false;
}

void CtlEndToEndTest::severalDevicesHint()
{
    // The test plays the line: asked to 255, it answers with these bytes.
    QFETCH(QByteArray, answer);
    QFETCH(bool, hint);
    Pty pty;
    QVERIFY(pty.ok());
    QProcess p;
    p.start(QStringLiteral(RT8CTL_EXE), {"--port", pty.path, "--timeout", "3000", "find"});
    QVERIFY(p.waitForStarted(60000));
    QCOMPARE(pty.receive(9, 60000), buildFrame(255, cmd::Discover, QByteArray(1, '\xFF')));
    QVERIFY(pty.send(answer));
    const Result r = finish(p);
    QVERIFY2(r.exitCode == 1, qPrintable(describe(r)));
    QVERIFY2(r.err.contains(QStringLiteral("收到 ")), qPrintable(r.err));   // the dropped bytes were seen
    QCOMPARE(r.err.contains(QStringLiteral("同时应答 255 号")), hint);
}

QTEST_MAIN(CtlEndToEndTest)
#include "tst_ctl_e2e.moc"
