// The pictures of the technician's guide, made from the real window: the
// window as vornrt8 builds it (MainWindow: the form and its status bar, the
// serial layer on a real line), on the line of a running rt8sim, driven
// through its controls to each state the guide shows. Each picture is a
// grab() of the window, or of one part of it, saved as PNG. tools/screenshots
// runs it under Xvfb.
//
//   vornrt8_screenshots --sim RT8SIM --out DIR [--lang zh|en] [--suffix S] [--quick]
//       writes DIR/<name>S.png for every picture below; exit 0 when all were
//       made, 1 when the window did not reach a state (what it waited for is
//       printed, with the simulator's log). --quick: the trend shows six
//       seconds of values instead of half a minute (for the test, which
//       checks that every picture is made, not how the curves look).
//   vornrt8_screenshots --check DIR FILE...
//       exit 0 when every FILE in DIR is a PNG of at least 150 x 40 pixels
//       with something drawn on its background (not blank), 1 otherwise.
//
// Every step waits for what it needs (a reply shown, the simulator's log, a
// capture taken) with a generous bound, never for a fixed time alone, so the
// pictures come out the same on a busy machine.

#include "app/dialogs.h"
#include "app/linemonitor.h"
#include "app/mainform.h"
#include "app/mainwindow.h"
#include "app/trendwindow.h"
#include "app/widgets.h"
#include "link/portmap.h"
#include "link/serialportline.h"
#include "session/language.h"
#include "session/recorder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QHash>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <functional>

using namespace vorn;

namespace {

constexpr int kWaitMs = 60000;   // the bound of every wait

QString g_outDir;
QString g_suffix;
int g_trendSets = 75;   // sets of values in the trend's picture, one every 400 ms

void say(const QString &text)
{
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(text));
}

// A rt8sim on its own pseudo-terminal: its port, its log, its keyboard.
class Simulator
{
public:
    Simulator(const QString &program, const QStringList &args)
    {
        m_proc.setProgram(program);
        m_proc.setArguments(QStringList{QStringLiteral("--exit-after"), QStringLiteral("900")} + args);
        QObject::connect(&m_proc, &QProcess::readyReadStandardError,
                         [this] { m_log += QString::fromUtf8(m_proc.readAllStandardError()); });
        m_proc.start();
    }
    ~Simulator()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(3000))
                m_proc.kill();
            m_proc.waitForFinished(3000);
        }
    }
    QString port()
    {
        QElapsedTimer t;
        t.start();
        while (!m_proc.canReadLine() && t.elapsed() < kWaitMs && m_proc.state() != QProcess::NotRunning)
            m_proc.waitForReadyRead(100);
        const QString line = QString::fromUtf8(m_proc.readLine()).trimmed();
        return line.startsWith(QLatin1String("port: ")) ? line.mid(6) : QString();
    }
    void type(const QString &line) { m_proc.write((line + QLatin1Char('\n')).toUtf8()); }
    bool logged(const QString &what) const { return m_log.contains(what); }
    QString log() const { return m_log; }

private:
    QProcess m_proc;
    QString m_log;
};

Simulator *g_sim = nullptr;

[[noreturn]] void fail(const QString &what)
{
    say(QStringLiteral("gave up waiting for: ") + what);
    if (g_sim)
        say(QStringLiteral("simulator log:\n") + g_sim->log().right(3000));
    std::exit(1);
}

void waitFor(const QString &what, const std::function<bool()> &done)
{
    if (!QTest::qWaitFor(done, kWaitMs))
        fail(what);
}

// At least 150 x 40 pixels, and at least one in a hundred of them not of
// the colour most of them have (text, frames, lines on it).
bool notBlank(const QImage &image, QString *why = nullptr)
{
    QHash<QRgb, int> colours;
    int pixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x, ++pixels)
            ++colours[image.pixel(x, y)];
    int most = 0;
    for (int n : std::as_const(colours))
        most = std::max(most, n);
    const double drawn = pixels ? 1.0 - double(most) / pixels : 0;
    if (why)
        *why = QStringLiteral("%1 x %2 pixels, %3 % drawn on the background")
                   .arg(image.width()).arg(image.height()).arg(100 * drawn, 0, 'f', 1);
    return !image.isNull() && image.width() >= 150 && image.height() >= 40 && drawn >= 0.01;
}

void save(QWidget *widget, const QString &name)
{
    const QString path = QDir(g_outDir).filePath(name + g_suffix + QStringLiteral(".png"));
    // 256 colours: a window of flat controls loses nothing to the eye and
    // its file shrinks to a fifth.
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_Indexed8,
                                                                   Qt::ThresholdDither | Qt::AvoidDither);
    QString why;
    if (!notBlank(image, &why))
        fail(QStringLiteral("a picture with something on it for %1 (%2)").arg(name, why));
    if (!image.save(path, "PNG", 9))
        fail(QStringLiteral("writing ") + path);
    say(QStringLiteral("%1 (%2 x %3)").arg(path).arg(image.width()).arg(image.height()));
}

// The window's message boxes and file dialogs. A box the guide shows is the
// program's own (QtDialogs), taken as a picture once it is on screen and then
// closed; any other box is only noted, so that nothing waits for a click.
// File dialogs answer with the name set beforehand.
class ShotDialogs : public QtDialogs
{
public:
    QStringList texts;   // the messages not expected
    QString fileName;

    ShotDialogs()
    {
        m_poll.setInterval(50);
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || !box->windowHandle() || !box->windowHandle()->isExposed())
                return;
            m_poll.stop();
            save(box, m_grabName);
            m_grabName.clear();
            box->accept();
        });
    }

    // The next box is pictured as name.
    void grabNext(const QString &name) { m_grabName = name; }
    bool grabbed() const { return m_grabName.isEmpty(); }

    void message(QWidget *parent, const QString &text, Icon icon, const QString &detail,
                 std::function<void()> then) override
    {
        if (m_grabName.isEmpty()) {
            texts.append(text);
            say(QStringLiteral("message: ") + text + QLatin1Char(' ') + detail);
            if (then)
                then();
            return;
        }
        m_poll.start();
        QtDialogs::message(parent, text, icon, detail, std::move(then));
    }
    void confirm(QWidget *, const QString &text, const QString &, std::function<void(bool)> answered) override
    {
        texts.append(text);
        answered(true);
    }
    void openFileName(QWidget *, const QString &, const QString &, FileChosen then) override { then(fileName); }
    void saveFileName(QWidget *, const QString &, const QString &, FileChosen then) override { then(fileName); }

private:
    QString m_grabName;
    QTimer m_poll;
};

// A table as a technician might keep it: pressures, a level, temperatures.
ChannelTable demoTable()
{
    const QStringList f = formulaNames();   // 固定关 固定开 大于 小于 等于 范围内 范围外
    const struct { const char *lower, *upper, *dot; int formula; const char *s1, *s2; } rows[kChannels] = {
        {"0", "1000", "1", 2, "800", "1000"},  {"-200", "800", "1", 6, "0", "600"},
        {"0", "1000", "1", 0, "0", "1000"},    {"0", "1600", "0", 3, "100", "0"},
        {"400", "2000", "2", 2, "1800", "2000"}, {"0", "500", "1", 1, "0", "500"},
        {"0", "250", "0", 4, "120", "0"},      {"-50", "150", "1", 5, "20", "80"},
        {"0", "1000", "1", 0, "0", "1000"},    {"0", "1000", "1", 0, "0", "1000"},
    };
    ChannelTable t;
    for (int i = 0; i < kChannels; ++i)
        t[i] = ChannelTexts{QLatin1String(rows[i].lower), QLatin1String(rows[i].upper), QLatin1String(rows[i].dot),
                            f.at(rows[i].formula), QLatin1String(rows[i].s1), QLatin1String(rows[i].s2)};
    return t;
}

template <typename T>
T *child(QWidget *in, const char *name)
{
    T *w = in->findChild<T *>(QLatin1String(name));
    if (!w)
        fail(QStringLiteral("a control named ") + QLatin1String(name));
    return w;
}

void click(QWidget *in, const char *name)
{
    auto *b = child<QAbstractButton>(in, name);
    waitFor(QStringLiteral("%1 to be enabled").arg(QLatin1String(name)), [b] { return b->isEnabled(); });
    QTest::mouseClick(b, Qt::LeftButton);
}

// Line n of the value column.
QString value(MainForm *form, int channel)
{
    return child<FeedbackBox>(form, "RsValText")->text().split(QStringLiteral("\r\n")).value(channel);
}

// The status bar shows the frame counts as they are now (it follows them
// once a second at most), and the lamp is lit when values stream.
void settle(MainWindow &window, const LineLog &log, bool lit)
{
    auto *counts = child<QLabel>(&window, "CountStatus");
    auto *lamp = child<Lamp>(window.form(), "GetValShape");
    static const QRegularExpression number(QStringLiteral("\\d+"));
    waitFor(QStringLiteral("the status bar to show the counts"), [&] {
        QList<int> shown;
        for (auto it = number.globalMatch(counts->text()); it.hasNext();)
            shown.append(it.next().captured().toInt());
        return shown == QList<int>{log.sent(), log.taken(), log.dropped()}
            && (!lit || lamp->fillColor() == QColor(0, 255, 0));
    });
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: vornrt8_screenshots --sim RT8SIM --out DIR [--lang zh|en] [--suffix S] [--quick]\n"
                         "       vornrt8_screenshots --check DIR FILE...\n");
    std::exit(2);
}

int check(int argc, char **argv, int from)
{
    if (from >= argc)
        usage();
    const QDir dir(QString::fromLocal8Bit(argv[from]));
    int bad = 0;
    for (int i = from + 1; i < argc; ++i) {
        const QString path = dir.filePath(QString::fromLocal8Bit(argv[i]));
        const QImage image(path, "PNG");
        QString why;
        if (!notBlank(image, &why)) {
            say(path + QStringLiteral(": missing, not a PNG, too small or blank (%1)").arg(why));
            ++bad;
        }
    }
    return bad == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    QString sim, lang = QStringLiteral("zh");
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        const auto value = [&]() -> QString {
            if (i + 1 >= argc)
                usage();
            return QString::fromLocal8Bit(argv[++i]);
        };
        if (a == "--check") {
            QCoreApplication app(argc, argv);
            return check(argc, argv, i + 1);
        } else if (a == "--sim") {
            sim = value();
        } else if (a == "--out") {
            g_outDir = value();
        } else if (a == "--lang") {
            lang = value();
        } else if (a == "--suffix") {
            g_suffix = value();
        } else if (a == "--quick") {
            g_trendSets = 15;
        } else {
            usage();
        }
    }
    if (sim.isEmpty() || g_outDir.isEmpty() || (lang != QLatin1String("zh") && lang != QLatin1String("en")))
        usage();
    if (!QDir().mkpath(g_outDir))
        fail(QStringLiteral("the folder ") + g_outDir);

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vornrt8"));
    QCoreApplication::setOrganizationName(programName());
    installTranslations(lang);
    QTemporaryDir work;
    ShotDialogs dialogs;

    // No port at all: the message of the start-up search, before any window.
    {
        SerialPortLine none;
        DeviceSession session(PortMap({work.filePath(QStringLiteral("ttyUSB0"))}), &none);
        MainWindow window(&session, &dialogs, nullptr);
        dialogs.grabNext(QStringLiteral("no-port"));
        window.load();
        waitFor(QStringLiteral("the message that no port can be used"), [&] { return dialogs.grabbed(); });
    }

    // Device 12, with a four-digit display, alone on the line.
    Simulator simulator(sim, {QStringLiteral("--address"), QStringLiteral("12"), QStringLiteral("--digits"),
                              QStringLiteral("4"), QStringLiteral("--period"), QStringLiteral("400")});
    g_sim = &simulator;
    const QString portPath = simulator.port();
    if (portPath.isEmpty())
        fail(QStringLiteral("rt8sim to give its port"));
    SerialPortLine port;
    DeviceSession session(PortMap({portPath}), &port);
    // The simulator's replies are whole and right: one turned down for its
    // check byte will not be followed by the state waited for.
    QObject::connect(&session, &DeviceSession::replyReceived, [](const QByteArray &bytes, const ReplyVerdict &v) {
        if (v.flaw == Flaw::CheckByte)
            fail(QStringLiteral("a reply the window took (it turned down %1: %2)")
                     .arg(QString::fromLatin1(bytes.toHex(' ')), v.reason));
    });
    MainWindow window(&session, &dialogs, nullptr);
    // Counted as the window's own line log counts, for the status bar to
    // be waited for.
    const LineLog counts(&session);
    MainForm *form = window.form();
    window.load();
    window.showCentred();
    if (!QTest::qWaitForWindowExposed(&window, kWaitMs))
        fail(QStringLiteral("the window on screen"));
    if (!port.isOpen() || !dialogs.texts.isEmpty())
        fail(QStringLiteral("the port to open without a message: ") + dialogs.texts.join(QLatin1Char(' ')));
    settle(window, counts, false);
    save(&window, QStringLiteral("start"));

    // Test link: the device answers with its number and digit count.
    dialogs.grabNext(QStringLiteral("found"));
    click(form, "FindCommand");
    waitFor(QStringLiteral("the device to answer the connection test"), [&] { return dialogs.grabbed(); });
    waitFor(QStringLiteral("the device number 12 in its box"),
            [&] { return child<QLineEdit>(form, "LedIDText")->text() == QLatin1String("12"); });
    save(child<QWidget>(form, "Frame2"), QStringLiteral("controls"));

    // A table in the device, then read back into a window at its start texts.
    form->setTable(demoTable());
    click(form, "SetCommand");
    waitFor(QStringLiteral("the download to reach the device"), [&] { return simulator.logged(QStringLiteral("download ")); });
    form->setTable(startTable());
    click(form, "ReSetCommand");
    waitFor(QStringLiteral("the table read back"), [&] { return form->table() == demoTable(); });
    settle(window, counts, false);
    save(&window, QStringLiteral("read-back"));

    // Raw values stream. The inputs stand still for the pictures of the
    // window, so that they change only when the window does; channel 2 is
    // at its low point.
    const int held[kChannels] = {34000, 21000, 1000, 47000, 52000, 12000, 30000, 40000, 8000, 60000};
    for (int i = 0; i < kChannels; ++i)
        simulator.type(QStringLiteral("hold %1 %2").arg(i).arg(held[i]));
    click(form, "GetCommand(1)");
    waitFor(QStringLiteral("raw values with channel 2 at 1000"), [&] { return value(form, 2) == QLatin1String("1000"); });
    const int takenBefore = counts.taken();
    waitFor(QStringLiteral("a few more raw values"), [&] { return counts.taken() >= takenBefore + 3; });
    settle(window, counts, true);
    save(&window, QStringLiteral("raw-values"));

    // The line monitor with everything said so far, as tall as its entries
    // need.
    LineMonitor *monitor = window.monitor();
    monitor->resize(900, 330);
    window.showMonitor();
    if (!QTest::qWaitForWindowExposed(monitor, kWaitMs))
        fail(QStringLiteral("the line monitor on screen"));
    waitFor(QStringLiteral("the monitor to show the line's entries"), [&] {
        monitor->flush();
        return monitor->model()->rowCount() >= 10;
    });
    save(monitor, QStringLiteral("monitor"));
    monitor->close();

    // Smart setting on channel 2: low point at raw 1000, high point at 5000.
    // Each point is taken from the next set of values.
    int sets = 0;
    const auto counting = QObject::connect(&session, &DeviceSession::liveValues, &window, [&sets] { ++sets; });
    click(form, "LCommand(2)");
    waitFor(QStringLiteral("the low point taken"), [&] { return sets > 0; });
    simulator.type(QStringLiteral("hold 2 5000"));
    waitFor(QStringLiteral("channel 2 at 5000"), [&] { return value(form, 2) == QLatin1String("5000"); });
    sets = 0;
    click(form, "HCommand(2)");
    waitFor(QStringLiteral("the high point taken"), [&] { return sets > 0; });
    QObject::disconnect(counting);
    click(form, "OkCommand(2)");
    waitFor(QStringLiteral("the smart setting to reach the device"),
            [&] { return simulator.logged(QStringLiteral("smart ch2 offset=-250 gain=10000")); });
    // The result: target values; halfway between the points reads half the range.
    click(form, "GetCommand(0)");
    simulator.type(QStringLiteral("hold 2 3000"));
    waitFor(QStringLiteral("channel 2 at 50.0 in target values"), [&] { return value(form, 2) == QLatin1String("50.0"); });
    settle(window, counts, true);
    save(&window, QStringLiteral("target-values"));

    // Recording and the trend, on raw values again.
    simulator.type(QStringLiteral("release all"));
    click(form, "GetCommand(1)");
    dialogs.fileName = work.filePath(QStringLiteral("values.csv"));
    TrendWindow *trend = window.trend();
    window.showTrend();
    if (!QTest::qWaitForWindowExposed(trend, kWaitMs))
        fail(QStringLiteral("the trend on screen"));
    click(&window, "RecordButton");
    auto *recordLabel = child<QLabel>(&window, "RecordStatus");
    // Half a minute of values (one every 400 ms) draws the slow signals.
    waitFor(QStringLiteral("%1 sets of raw values in the trend").arg(g_trendSets), [&] {
        return trend->kind() == FeedbackMode::Raw && trend->shownData().count(QLatin1Char('\n')) > g_trendSets;
    });
    waitFor(QStringLiteral("the recorded lines in the status bar"), [&] {
        QFile recorded(dialogs.fileName);
        // The header, then a line a set.
        return recorded.open(QIODevice::ReadOnly) && recorded.readAll().count('\n') > g_trendSets
            && recordLabel->isVisible();
    });
    trend->redraw();
    save(trend, QStringLiteral("trend"));
    settle(window, counts, false);
    save(window.statusBar(), QStringLiteral("status-recording"));
    click(&window, "RecordButton");
    click(form, "GetCommand(2)");
    waitFor(QStringLiteral("the feedback to stop"), [&] { return simulator.logged(QStringLiteral("feedback stop")); });

    if (!dialogs.texts.isEmpty())
        fail(QStringLiteral("no message along the way, but there were: ") + dialogs.texts.join(QLatin1String(" | ")));
    trend->close();
    window.close();
    g_sim = nullptr;
    return 0;
}
