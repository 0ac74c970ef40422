// The window and the real serial layer against a running rt8sim over a
// pseudo-terminal.

#include "simprocess.h"
#include "support/tables.h"

#include "support/csvreader.h"
#include "support/pty.h"
#include "support/heldboxdialogs.h"
#include "support/scripteddialogs.h"
#include "support/formdriving.h"
#include "app/linemonitor.h"
#include "app/mainform.h"
#include "app/mainwindow.h"
#include "session/recorder.h"
#include "app/widgets.h"
#include "link/serialportline.h"
#include "session/recordpoller.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QFile>
#include <QLabel>
#include <QTextEdit>

#include <QComboBox>
#include <QTemporaryDir>
#include <QThread>
#include <sys/resource.h>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <memory>

using namespace vorn;

namespace {

// The simulator sends every reply whole and with its check byte right unless
// told to add noise: a reply turned down for its check byte means the check
// is wrong, and the test fails there and then instead of at its next bound.
void failOnCheckByte(DeviceSession *session, const QStringList &simArgs)
{
    if (simArgs.contains(QStringLiteral("--noise")))
        return;
    QObject::connect(session, &DeviceSession::replyReceived, session,
                     [](const QByteArray &bytes, const ReplyVerdict &v) {
                         if (v.flaw == Flaw::CheckByte)
                             QFAIL(qPrintable(QStringLiteral("a reply of the simulator turned down: %1 (%2)")
                                                  .arg(QString::fromLatin1(bytes.toHex(' ')), v.reason)));
                     });
}

struct Bench
{
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<SerialPortLine> port;
    std::unique_ptr<DeviceSession> session;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainForm> form;

    // portPath: open the device there instead of the path rt8sim prints.
    explicit Bench(const QStringList &simArgs = {}, const QString &portPath = {})
    {
        sim = std::make_unique<SimProcess>(simArgs);
        QString path = sim->port();
        if (!portPath.isEmpty() && !path.isEmpty())
            path = portPath;
        if (path.isEmpty())
            qFatal("rt8sim did not give its port; log: %s", qPrintable(sim->log()));
        port = std::make_unique<SerialPortLine>();
        session = std::make_unique<DeviceSession>(PortMap({path}), port.get());
        failOnCheckByte(session.get(), simArgs);
        form = std::make_unique<MainForm>(session.get(), &dialogs);
        form->load();
    }
    ~Bench() { form.reset(); }

    QPushButton *button(const QString &name) const { return form->findChild<QPushButton *>(name); }
    QLineEdit *edit(const QString &name) const { return form->findChild<QLineEdit *>(name); }
    QString feedback() const { return form->findChild<FeedbackBox *>(QStringLiteral("RsValText"))->text(); }
    QColor lamp() const { return form->findChild<Lamp *>(QStringLiteral("GetValShape"))->fillColor(); }
    bool logged(const QString &what) const { return sim->log().contains(what); }
    void leaveNumber() const { vorn::leaveNumber(form.get()); }
};

// The whole window (status bar, monitor, recording, trace) on a simulator
// behind a link, which a second simulator can take over.
template <typename D> struct WindowBench
{
    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("rt8"));
    std::unique_ptr<SimProcess> sim, second;
    SerialPortLine port;
    DeviceSession session{PortMap({link}), &port};
    D dialogs;
    std::unique_ptr<MainWindow> window;

    explicit WindowBench(const QStringList &simArgs)
        : sim(std::make_unique<SimProcess>(QStringList{QStringLiteral("--link"), link} + simArgs))
    {
        if (sim->port().isEmpty())
            qFatal("rt8sim did not give its port; log: %s", qPrintable(sim->log()));
        failOnCheckByte(&session, simArgs);
        window = std::make_unique<MainWindow>(&session, &dialogs, nullptr);
        window->startTrace(dir.filePath(QStringLiteral("trace.txt")));
        window->load();
        dialogs.nextSave = dir.filePath(QStringLiteral("values.csv"));
    }
    ~WindowBench() { window.reset(); }
    void click(const char *name) const { window->form()->findChild<QPushButton *>(QLatin1String(name))->click(); }
    void leaveNumber() const { vorn::leaveNumber(window->form()); }
    LineState state() const { return session.lineState(); }
    // The recording: whether the status bar's button shows it running, and
    // its value lines so far (the header aside), as the file holds them.
    bool recording() const { return window->findChild<QToolButton *>(QStringLiteral("RecordButton"))->isChecked(); }
    int recorded() const { return std::max(0, int(lines("values.csv", QStringLiteral("\r\n")).size()) - 1); }
    QStringList lines(const char *file, const QString &separator) const
    {
        QFile f(dir.filePath(QLatin1String(file)));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(separator, Qt::SkipEmptyParts)
                                           : QStringList();
    }
    // When the trace says what.
    QDateTime traced(const QString &what) const
    {
        return QDateTime::fromString(lines("trace.txt", QStringLiteral("\n")).filter(what).value(0).section(' ', 0, 0),
                                     Qt::ISODateWithMs);
    }
};

}  // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT
private slots:
    void startupAndConnectionTest();
    void downloadReadBackRoundTrip();
    void rawAndTargetStreaming();
    void smartSettingChangesTargets();
    void displayAndHousekeepingReachTheDevice();
    void unplugAndReconnect();
    void reconnectsByItself();
    void noiseShowsOnlyWholeValidItems();
    void recordingKeepsDeviceTextAsData();
    void reconnectsWhileTheLossIsShown();
    void resumesOnlyTheSameDevice_data();
    void resumesOnlyTheSameDevice();
    void heldUpWindowLosesNoReply();
};

namespace {
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
}  // namespace

void EndToEndTest::startupAndConnectionTest()
{
    Bench b({QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("--digits"), QStringLiteral("12")});
    QVERIFY(b.port->isOpen());
    QCOMPARE(b.dialogs.shown.size(), 0);
    QCOMPARE(b.form->findChild<QComboBox *>(QStringLiteral("RsCombo"))->currentText(), QStringLiteral("1"));
    QCOMPARE(b.lamp(), QColor(255, 255, 0));

    b.button(QStringLiteral("FindCommand"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(b.dialogs.texts(), QStringList{QStringLiteral("找到  7 号设备~！")}, 15000);
    QCOMPARE(b.session->ledId(), quint8(7));
    QCOMPARE(b.edit(QStringLiteral("LedIDText"))->text(), QStringLiteral("7"));
    QCOMPARE(b.edit(QStringLiteral("SanLongText"))->text(), QStringLiteral("12"));

    // The device acts on its own number only (and 255): power on reaches it.
    b.button(QStringLiteral("OpenPowCommand"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.logged(QStringLiteral("power on")), 15000);

    // A new number: the device takes it and answers to it.
    b.edit(QStringLiteral("LedIDText"))->setText(QStringLiteral("9"));
    b.leaveNumber();
    b.button(QStringLiteral("SetIDCommand"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.logged(QStringLiteral("set number -> number 9 digits 12")), 15000);
    b.button(QStringLiteral("FindCommand"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(b.dialogs.texts().size(), 2, 15000);
    QCOMPARE(b.dialogs.texts().last(), QStringLiteral("找到  9 号设备~！"));
}

void EndToEndTest::downloadReadBackRoundTrip()
{
    Bench b;
    const ChannelTable t = variedTable();
    b.form->setTable(t);
    b.button(QStringLiteral("SetCommand"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(b.sim->logLines(QStringLiteral("download ")).size(), 1, 15000);
    QCOMPARE(b.dialogs.shown.size(), 0);

    b.form->setTable(startTable());
    b.button(QStringLiteral("ReSetCommand"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(b.form->table(), t, 15000);

    // Downloading what was read back sends the same 100 bytes again.
    b.button(QStringLiteral("SetCommand"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(b.sim->logLines(QStringLiteral("download ")).size(), 2, 15000);
    const QStringList downloads = b.sim->logLines(QStringLiteral("download "));
    QCOMPARE(downloads[0].section(QStringLiteral("download "), 1), downloads[1].section(QStringLiteral("download "), 1));
}

void EndToEndTest::rawAndTargetStreaming()
{
    Bench b({QStringLiteral("--period"), QStringLiteral("400")});   // records need a quiet poller interval between them
    b.sim->type(QStringLiteral("hold 0 32767"));
    b.sim->type(QStringLiteral("hold 9 65535"));
    b.button(QStringLiteral("GetCommand(1)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.feedback().startsWith(QLatin1String("32767\r\n")), 15000);
    QStringList lines = b.feedback().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 11);   // ten lines, each ending CR LF
    QCOMPARE(lines[9], QStringLiteral("65535"));
    QCOMPARE(lines[10], QString());

    b.button(QStringLiteral("GetCommand(0)"))->click();
    // 0 + 1000 * 32767 / 65535 = 499 with one decimal place.
    QTRY_VERIFY_WITH_TIMEOUT(b.feedback().startsWith(QLatin1String("49.9\r\n")), 15000);
    lines = b.feedback().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 10);   // no line break after the last
    QCOMPARE(lines[9], QStringLiteral("100.0"));

    b.button(QStringLiteral("GetCommand(2)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.logged(QStringLiteral("feedback stop")), 15000);
    QVERIFY(!b.button(QStringLiteral("OkCommand(0)"))->isEnabled());
}

void EndToEndTest::smartSettingChangesTargets()
{
    Bench b({QStringLiteral("--period"), QStringLiteral("400")});   // records need a quiet poller interval between them
    b.sim->type(QStringLiteral("hold 2 1000"));
    b.button(QStringLiteral("GetCommand(1)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.feedback().split(QStringLiteral("\r\n")).value(2) == QLatin1String("1000"), 15000);
    // Each reading is taken from the next set of values.
    QSignalSpy values(b.session.get(), &DeviceSession::liveValues);
    b.button(QStringLiteral("LCommand(2)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!values.isEmpty(), 15000);
    b.sim->type(QStringLiteral("hold 2 5000"));
    QTRY_VERIFY_WITH_TIMEOUT(b.feedback().split(QStringLiteral("\r\n")).value(2) == QLatin1String("5000"), 15000);
    values.clear();
    b.button(QStringLiteral("HCommand(2)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!values.isEmpty(), 15000);
    b.button(QStringLiteral("OkCommand(2)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.logged(QStringLiteral("smart ch2 offset=-250 gain=10000")), 15000);
    QCOMPARE(b.dialogs.shown.size(), 0);

    // 5000 * 10000 / 40000 - 250 = 1000, one decimal place; at 3000: 500.
    b.button(QStringLiteral("GetCommand(0)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.feedback().split(QStringLiteral("\r\n")).value(2) == QLatin1String("100.0"), 15000);
    b.sim->type(QStringLiteral("hold 2 3000"));
    QTRY_VERIFY_WITH_TIMEOUT(b.feedback().split(QStringLiteral("\r\n")).value(2) == QLatin1String("50.0"), 15000);
}

void EndToEndTest::displayAndHousekeepingReachTheDevice()
{
    Bench b;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    b.button(QStringLiteral("SeTimeCommand"))->click();
    const QDateTime after = QDateTime::currentDateTime();
    b.button(QStringLiteral("ClosePowCommand"))->click();
    b.button(QStringLiteral("SM2TypeCommand(1)"))->click();
    b.button(QStringLiteral("CMD23Command"))->click();
    b.button(QStringLiteral("CMD24Command"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.logged(QStringLiteral("show code")), 15000);
    // The device's clock is set to the PC's at the click.
    const QString clock = b.sim->log().section(QStringLiteral("clock "), 1).left(17);
    const QDateTime set = QDateTime::fromString(clock, QStringLiteral("yy-MM-dd HH:mm:ss")).addYears(100);
    QVERIFY2(before <= set && set <= after, qPrintable(clock));
    QVERIFY(b.logged(QStringLiteral("power off")));
    QVERIFY(b.logged(QStringLiteral("display mode")));
    QVERIFY(b.logged(QStringLiteral("show number pos=46 port=1 digits=1234")));
    QVERIFY(!b.logged(QStringLiteral("bad frame")));
    QCOMPARE(b.dialogs.shown.size(), 0);
}

void EndToEndTest::unplugAndReconnect()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("rt8"));
    Bench b({QStringLiteral("--link"), link, QStringLiteral("--period"), QStringLiteral("100")}, link);
    // The operator reconnects by hand here.
    b.session->setAutoReconnect(false);
    QVERIFY(b.port->isOpen());
    b.button(QStringLiteral("GetCommand(1)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!b.feedback().isEmpty(), 15000);

    // The adapter is pulled: the port closes, the lamp goes red, one message.
    b.sim->type(QStringLiteral("unplug"));
    QTRY_COMPARE_WITH_TIMEOUT(b.dialogs.texts(), QStringList{msg::PortLost()}, 15000);
    QVERIFY(!b.port->isOpen());
    QCOMPARE(b.lamp(), QColor(255, 0, 0));

    // Nothing spins while the line is gone.
    const double before = cpuSeconds();
    QTest::qWait(1000);
    QVERIFY2(cpuSeconds() - before < 0.2, qPrintable(QString::number(cpuSeconds() - before)));
    QCOMPARE(b.dialogs.shown.size(), 1);

    // A request now is refused, not sent to a dead line.
    b.button(QStringLiteral("OpenPowCommand"))->click();
    QCOMPARE(b.dialogs.texts().last(), msg::NotOpen());

    // The device is back: "打开串口" opens it again and it answers.
    b.sim->type(QStringLiteral("replug"));
    QTRY_VERIFY_WITH_TIMEOUT(b.logged(QStringLiteral("replugged")), 20000);
    b.dialogs.shown.clear();
    b.button(QStringLiteral("OpenRs232Command"))->click();
    QCOMPARE(b.dialogs.texts(), QStringList());
    QVERIFY(b.port->isOpen());
    QCOMPARE(b.lamp(), QColor(255, 255, 0));
    // The device kept streaming raw values through the pull. A stream item
    // that lands together with the discovery reply spoils both, so the
    // stream is stopped first, as the operator would.
    b.button(QStringLiteral("GetCommand(2)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.logged(QStringLiteral("feedback stop")), 15000);
    b.button(QStringLiteral("FindCommand"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(b.dialogs.texts(), QStringList{QStringLiteral("找到  1 号设备~！")}, 15000);
}

void EndToEndTest::reconnectsByItself()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("rt8"));
    Bench b({QStringLiteral("--link"), link, QStringLiteral("--period"), QStringLiteral("100")}, link);
    QVERIFY(b.port->isOpen());
    b.button(QStringLiteral("GetCommand(1)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!b.feedback().isEmpty(), 15000);
    b.sim->type(QStringLiteral("unplug"));
    QTRY_COMPARE_WITH_TIMEOUT(b.dialogs.texts(), QStringList{msg::PortLostWatched()}, 15000);
    QVERIFY(!b.port->isOpen());
    QCOMPARE(b.session->lineState(), LineState::Reconnecting);
    // Back without a click: the same device path is opened again and the raw
    // values asked for again, told once.
    b.form->findChild<FeedbackBox *>(QStringLiteral("RsValText"))->setText(QString());
    b.sim->type(QStringLiteral("replug"));
    QTRY_COMPARE_WITH_TIMEOUT(b.session->lineState(), LineState::Open, 30000);
    QVERIFY(b.port->isOpen());
    QTRY_VERIFY_WITH_TIMEOUT(!b.feedback().isEmpty(), 15000);
    // The device streams on through the pull: replies that were on their way
    // may be shown before it has logged the request.
    QTRY_COMPARE_WITH_TIMEOUT(b.sim->logLines(QStringLiteral("feedback raw")).size(), 2, 15000);
    QCOMPARE(b.dialogs.texts(), QStringList{msg::PortLostWatched()});
}

void EndToEndTest::noiseShowsOnlyWholeValidItems()
{
    Bench b({QStringLiteral("--noise"), QStringLiteral("0.3"), QStringLiteral("--seed"), QStringLiteral("11"),
             QStringLiteral("--period"), QStringLiteral("30"), QStringLiteral("--log-sent")});
    QString expected;
    for (int i = 0; i < kChannels; ++i) {
        b.sim->type(QStringLiteral("hold %1 %2").arg(i).arg(1000 * i + 7));
        expected += QString::number(1000 * i + 7) + QLatin1String("\r\n");
    }
    QStringList shown;
    auto *box = b.form->findChild<FeedbackBox *>(QStringLiteral("RsValText"));
    connect(box, &QTextEdit::textChanged, this, [&] { shown.append(box->text()); });
    // Raw values: every valid frame carries the held values, so anything
    // else on screen would be a damaged frame taken for a good one.
    b.button(QStringLiteral("GetCommand(1)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 20, 60000);
    b.button(QStringLiteral("GetCommand(2)"))->click();
    const int sentRaw = b.sim->logLines(QStringLiteral("sent: 02 00 1c")).size();
    qInfo("raw values under noise: %d shown of %d replies sent", int(shown.size()), sentRaw);
    QVERIFY2(shown.size() >= 20, qPrintable(QStringLiteral("%1 shown of %2 sent").arg(shown.size()).arg(sentRaw)));
    for (const QString &s : shown)
        QCOMPARE(s, expected);
    QVERIFY2(shown.size() < b.sim->logLines(QStringLiteral("sent: ")).size(), "noise let every frame through");

    // Target records: there is no check byte, so a record damaged inside
    // still looks whole; what is shown must be one record exactly as it was
    // sent, never a piece of one or two run together.
    QTest::qWait(300);
    shown.clear();
    const int logBefore = b.sim->logLines(QStringLiteral("sent: ")).size();
    // Closed first: a line lost while open is watched for, and the next
    // simulator may well get the same pseudo-terminal; two sessions would
    // then share its replies.
    b.session->close();
    b.sim->process().kill();   // restart with records spaced for the poller
    b.sim->process().waitForFinished();
    Bench t({QStringLiteral("--noise"), QStringLiteral("0.3"), QStringLiteral("--seed"), QStringLiteral("5"),
             QStringLiteral("--period"), QStringLiteral("450"), QStringLiteral("--log-sent")});
    Q_UNUSED(logBefore);
    auto *box2 = t.form->findChild<FeedbackBox *>(QStringLiteral("RsValText"));
    connect(box2, &QTextEdit::textChanged, this, [&] { shown.append(box2->text()); });
    for (int i = 0; i < kChannels; ++i)
        t.sim->type(QStringLiteral("hold %1 %2").arg(i).arg(6553 * i));
    t.button(QStringLiteral("GetCommand(0)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 5, 60000);
    QSet<QString> sentRecords;
    for (const QString &line : t.sim->logLines(QStringLiteral("sent: "))) {
        const QByteArray bytes = QByteArray::fromHex(line.section(QStringLiteral("sent: "), 1).toLatin1());
        if (const auto text = parseFeedbackRecord(bytes, int(bytes.size())))
            sentRecords.insert(*text);
    }
    qInfo("records under noise: %d shown of %d sent", int(shown.size()),
          int(t.sim->logLines(QStringLiteral("sent: ")).size()));
    QVERIFY2(shown.size() >= 5, qPrintable(QString::number(shown.size())));
    for (const QString &s : shown)
        QVERIFY2(sentRecords.contains(s), qPrintable(s));
}

void EndToEndTest::recordingKeepsDeviceTextAsData()
{
    // A peer on the line sends a target record whose fields a spreadsheet
    // would run as formulas; the recording keeps them as text, the numbers
    // as numbers.
    Pty pty;
    QVERIFY(pty.ok());
    SerialPortLine port;
    DeviceSession session(PortMap({pty.path}), &port);
    QVERIFY(session.openPort(1));
    QTemporaryDir dir;
    ValueRecorder rec(&session);
    const QString path = dir.filePath("values.csv");
    QVERIFY(rec.start(path));
    session.setLedId(1);
    QVERIFY(session.setFeedback(FeedbackMode::Target));
    QCOMPARE(pty.receive(9, 10000), QByteArray::fromHex("02000901EE4000A603"));
    QVERIFY(pty.send("N=HYPERLINK(\"http://x\";\"y\"),+1+1,@SUM(A1),-2+3,\t=1,-3,-0.5,12, 4 ,a\"b\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(rec.lines(), 1, 10000);
    rec.stop();
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QStringList> rows = readCsv(f.readAll().mid(3));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].size(), 12);
    QCOMPARE(rows[1].mid(1), (QStringList{"target", "'=HYPERLINK(\"http://x\";\"y\")", "'+1+1", "'@SUM(A1)",
                                          "'-2+3", "'\t=1", "-3", "-0.5", "12", " 4 ", "a\"b"}));
}

void EndToEndTest::reconnectsWhileTheLossIsShown()
{
    // The device goes (its path with it) and comes back while the box about
    // the loss is open; the box stays open until its values are recorded
    // again: all of that happens under the box.
    const QStringList device{QStringLiteral("--period"), QStringLiteral("100")};
    WindowBench<HeldBoxDialogs> b(device);
    b.click("GetCommand(1)");
    b.window->toggleRecording();
    QTRY_VERIFY_WITH_TIMEOUT(b.recorded() > 0, 15000);
    int atLoss = -1;
    connect(&b.session, &DeviceSession::portLost, this, [&] { atLoss = b.recorded(); });
    QDateTime closed;
    b.dialogs.releaseWhen = [&] {
        if (!b.second && b.sim->process().state() == QProcess::NotRunning)
            b.second = std::make_unique<SimProcess>(device + QStringList{QStringLiteral("--link"), b.link});
        if (b.state() != LineState::Open || b.recorded() < atLoss + 3)
            return false;
        closed = QDateTime::currentDateTime();
        return true;
    };
    b.sim->type(QStringLiteral("quit"));
    QTRY_VERIFY_WITH_TIMEOUT(!b.dialogs.shown.isEmpty() && !b.dialogs.boxOpen() && b.state() == LineState::Open,
                             40000);
    const QString trace = b.lines("trace.txt", QStringLiteral("\n")).join('\n');
    QVERIFY2(b.dialogs.released, qPrintable(trace));
    QCOMPARE(b.dialogs.texts(), QStringList{msg::PortLostWatched()});
    // Each entry bears the moment it happened: the loss before the device
    // was back, both before the box was closed.
    const QDateTime lost = b.traced(QStringLiteral("端口已断开"));
    const QDateTime back = b.traced(QStringLiteral("已自动重新连接"));
    QVERIFY2(lost.isValid() && back.isValid() && lost < back && back <= closed, qPrintable(trace));
}

void EndToEndTest::resumesOnlyTheSameDevice_data()
{
    QTest::addColumn<QStringList>("device");   // the one that appears at the path
    QTest::addColumn<int>("ledId");            // in use when the line is lost
    QTest::addColumn<QString>("status");
    const auto device = [](const char *number, const char *digits) {
        return QStringList{QStringLiteral("--address"), QLatin1String(number), QStringLiteral("--digits"),
                           QLatin1String(digits)};
    };
    QTest::newRow("the same device") << device("1", "40") << 1 << QStringLiteral("已重新连接：1 号设备，显示位数 40");
    QTest::newRow("another, silent to 1") << device("7", "8") << 1 << QStringLiteral("未恢复：设备无应答");
    QTest::newRow("another, answering 255") << device("7", "8") << 255 << QStringLiteral("未恢复：不是原设备");
    QTest::newRow("the same number, other digits") << device("1", "8") << 1 << QStringLiteral("未恢复：不是原设备");
}

void EndToEndTest::resumesOnlyTheSameDevice()
{
    QFETCH(QStringList, device);
    QFETCH(int, ledId);
    QFETCH(QString, status);
    WindowBench<ScriptedDialogs> b({QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("--digits"),
                                    QStringLiteral("40"), QStringLiteral("--period"), QStringLiteral("100")});
    const QString found = QStringLiteral("找到  1 号设备~！");
    b.click("FindCommand");
    QTRY_COMPARE_WITH_TIMEOUT(b.dialogs.texts(), QStringList{found}, 15000);
    auto *number = b.window->form()->findChild<QLineEdit *>(QStringLiteral("LedIDText"));
    number->setText(QString::number(ledId));
    b.leaveNumber();
    b.click("GetCommand(1)");
    b.window->toggleRecording();
    QTRY_VERIFY_WITH_TIMEOUT(b.recorded() > 0, 15000);
    // Gone, and its path with it (a pseudo-terminal's number is soon another's).
    b.sim->type(QStringLiteral("quit"));
    QTRY_COMPARE_WITH_TIMEOUT(b.sim->process().state(), QProcess::NotRunning, 15000);
    // The loss is noticed first: the line that is still open is not the one
    // a reconnection opens.
    QTRY_VERIFY_WITH_TIMEOUT(b.state() != LineState::Open, 15000);
    b.second = std::make_unique<SimProcess>(device + QStringList{QStringLiteral("--link"), b.link});
    QVERIFY(!b.second->port().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(b.state() == LineState::Open || b.state() == LineState::NotResumed, 30000);
    QCOMPARE(b.window->findChild<QLabel *>(QStringLiteral("LineStatus"))->text(), status);
    // No "found" box for the check, and the number the operator works with
    // stays.
    QCOMPARE(b.dialogs.texts(), (QStringList{found, msg::PortLostWatched()}));
    QCOMPARE(int(b.session.ledId()), ledId);
    QCOMPARE(number->text(), QString::number(ledId));
    const int lines = b.recorded();
    if (b.state() == LineState::Open) {
        QTRY_VERIFY_WITH_TIMEOUT(b.recorded() > lines + 2, 15000);
        return;
    }
    // Not resumed: the port closed, nothing asked of the stranger, the
    // recording ended by a line saying why, the monitor saying it too.
    QVERIFY(!b.port.isOpen());
    QVERIFY(!b.second->log().contains(QStringLiteral("feedback raw")));
    QVERIFY(!b.recording());
    const QStringList rows = b.lines("values.csv", QStringLiteral("\r\n"));
    QVERIFY2(rows.last().section(QLatin1Char(','), 1).startsWith(QStringLiteral("stopped,未恢复连接：")), qPrintable(rows.last()));
    b.window->monitor()->flush();
    QVERIFY(b.window->monitor()->shownText(false).contains(QStringLiteral("未恢复连接，端口已关闭：")));
}

void EndToEndTest::heldUpWindowLosesNoReply()
{
    // The window's thread is held up for half a second (a slow disk, a drag
    // of the window; the benchmark stops the process) while raw values
    // arrive every 10 ms. Once it runs again every reply sent is taken and
    // recorded, in order: the recording holds the replies the device sent,
    // from the first on, with none missing.
    QTemporaryDir dir;
    Bench b({QStringLiteral("--period"), QStringLiteral("10"), QStringLiteral("--log-sent")});
    ValueRecorder recorder(b.session.get());
    const QString path = dir.filePath(QStringLiteral("values.csv"));
    QVERIFY(recorder.start(path));
    b.button(QStringLiteral("GetCommand(1)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.lines() >= 10, 15000);
    const int beforeStall = recorder.lines();
    QThread::msleep(500);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.lines() >= beforeStall + 40, 15000);
    b.button(QStringLiteral("GetCommand(2)"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(b.logged(QStringLiteral("feedback stop")), 15000);
    recorder.stop();

    QStringList sent;
    for (const QString &line : b.sim->logLines(QStringLiteral("sent: 02 00 1c"))) {
        const QByteArray reply = QByteArray::fromHex(line.section(QStringLiteral("sent: "), 1).toLatin1());
        QStringList values;
        for (int ch = 0; ch < kChannels; ++ch)
            values << QString::number(quint8(reply[6 + 2 * ch]) * 256 + quint8(reply[7 + 2 * ch]));
        sent << values.join(QLatin1Char(','));
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QStringList recorded;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString &line : lines.mid(1))
        recorded << line.section(QLatin1Char(','), 2);
    QVERIFY2(recorded.size() >= beforeStall + 40, qPrintable(QString::number(recorded.size())));
    QCOMPARE(recorded, sent.mid(0, recorded.size()));
    // Replies still on their way when the stop request went out are not
    // taken any more.
    QVERIFY2(sent.size() - recorded.size() <= 5, qPrintable(QStringLiteral("%1 of %2").arg(recorded.size()).arg(sent.size())));
}

QTEST_MAIN(EndToEndTest)
#include "tst_e2e.moc"
