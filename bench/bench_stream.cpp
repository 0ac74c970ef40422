// The main window streaming raw values from a device on a real serial line
// (in practice rt8sim's pseudo-terminal), measured from the inside.
//
//   bench_stream --port PATH --seconds S [--drain-ms MS] [--settle-ms MS]
//                [--open monitor|trend|monitor,trend] [--rss-at S2] [--record CSV]
//   bench_stream --qt-version
//
// Builds the window as vornrt8 does (MainWindow: the form and its status bar,
// QtSerialControl with PATH as port 1, load(), show()), with ScriptedDialogs
// so that no message box can block; with --open, the line monitor, the
// trend or both are open too; with --record, the values are recorded to CSV
// as the window's recording does.
// Once the window has been painted it starts raw-value streaming
// (a click on GetCommand(1)), lets it run S seconds and stops it
// (GetCommand(2)). Replies the device sent before it saw the stop
// request may still be on their way: for --drain-ms (500) the bytes that
// arrive are split the same way and each whole raw-value reply counts as
// accepted, then the program prints one line of key=value figures and ends:
//
//   events      pieces the session cut from the line while streaming, and
//               replies counted while draining
//   accepted    replies after which RsValText had been updated, and replies
//               counted while draining
//   lat_p50_ms, lat_p99_ms, lat_max_ms
//               from the moment the session has the whole reply to the end
//               of RsValText's update, over the accepted replies
//   paint_p50_ms, paint_p99_ms, paints
//               from the arrival of the oldest update not yet on screen to
//               the next paint of RsValText (informative)
//   recorded    lines in the recording (with --record)
//   drained     replies counted while draining (not shown, not recorded)
//   cpu_pct     user+system processor time / wall time over the streaming
//               period only, in % of one core (getrusage RUSAGE_SELF)
//   rss_peak_mb peak resident size of the process (ru_maxrss)
//   rss_start_mb, rss_at_mb, rss_end_mb
//               resident size (VmRSS) when streaming starts, S2 seconds
//               later (with --rss-at; -1 without, or when the run is shorter)
//               and when it ends; every minute of streaming it also goes to
//               standard error
//   dialogs     message boxes the window would have shown (should be 0)
//
// Exit code 0, 2 on bad usage, 3 when the port could not be opened.

#include "percentile.h"
#include "support/scripteddialogs.h"
#include "app/mainform.h"
#include "app/mainwindow.h"
#include "app/widgets.h"
#include "protocol/frame.h"
#include "link/portmap.h"
#include "link/qtserialcontrol.h"
#include "protocol/splitter.h"
#include "session/recorder.h"

#include <QApplication>
#include <QPushButton>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

struct Usage {
    double cpuSeconds = 0;   // user + system
    double peakMb = 0;
};

Usage usageNow()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    Usage u;
    u.cpuSeconds = double(ru.ru_utime.tv_sec) + double(ru.ru_utime.tv_usec) / 1e6
                 + double(ru.ru_stime.tv_sec) + double(ru.ru_stime.tv_usec) / 1e6;
    u.peakMb = double(ru.ru_maxrss) / 1024.0;   // Linux: kilobytes
    return u;
}

// The resident size now (VmRSS), in MB; -1 when it cannot be read.
double residentMb()
{
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    double kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %lf kB", &kb) == 1)
            break;
    std::fclose(f);
    return kb < 0 ? -1 : kb / 1024.0;
}

// Watches one widget for its first paint (the window) or for every paint
// (RsValText's viewport).
class PaintWatch : public QObject
{
public:
    std::function<void()> onPaint;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && onPaint)
            onPaint();
        return false;
    }
};

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: bench_stream --port PATH --seconds S [--drain-ms MS] [--settle-ms MS]"
                         " [--open monitor|trend|monitor,trend] [--rss-at S2] [--record CSV]\n"
                         "       bench_stream --qt-version\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char **argv)
{
    QString portPath;
    double seconds = -1;
    int drainMs = 500;
    int settleMs = 300;
    QString open;
    QString recordPath;
    double rssAt = -1;
    for (int i = 1; i < argc; ++i) {
        const auto is = [&](const char *name) { return std::strcmp(argv[i], name) == 0; };
        const auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (is("--qt-version")) {
            std::printf("%s\n", qVersion());
            return 0;
        } else if (is("--port")) {
            portPath = QString::fromLocal8Bit(value());
        } else if (is("--seconds")) {
            seconds = std::atof(value());
        } else if (is("--drain-ms")) {
            drainMs = std::atoi(value());
        } else if (is("--settle-ms")) {
            settleMs = std::atoi(value());
        } else if (is("--record")) {
            recordPath = QString::fromLocal8Bit(value());
        } else if (is("--open")) {
            open = QString::fromLocal8Bit(value());
            if (open != QLatin1String("monitor") && open != QLatin1String("trend")
                && open != QLatin1String("monitor,trend"))
                usage();
        } else if (is("--rss-at")) {
            rssAt = std::atof(value());
            if (rssAt <= 0)
                usage();
        } else {
            usage();
        }
    }
    if (portPath.isEmpty() || seconds <= 0 || seconds > 3600 || drainMs < 0 || settleMs < 0)
        usage();

    QApplication app(argc, argv);
    QApplication::setApplicationName(vorn::programName());

    vorn::QtSerialControl port(vorn::PortMap({portPath}));
    vorn::ScriptedDialogs dialogs;

    QElapsedTimer clock;
    clock.start();

    // Probe state of the receive event being handled.
    bool inEvent = false;
    qint64 eventStart = 0;
    qint64 lastChange = -1;
    qint64 events = 0;
    qint64 accepted = 0;
    qint64 oldestUnpainted = -1;
    bool measuring = false;
    qint64 previousEvent = -1;
    int pendingBytes = 0;
    int rejectedLogged = 0;
    constexpr int kRejectsLogged = 20;
    qint64 startWall = 0, endWall = 0;
    std::vector<qint64> latencies, paintLatencies;
    // Kept for the first 65536 replies only (a run of seconds has fewer), so
    // that a long run's own figures do not add to the memory it measures.
    constexpr size_t kKept = 1 << 16;
    latencies.reserve(kKept);
    paintLatencies.reserve(kKept);
    double rssStart = -1, rssAtMb = -1, rssEnd = -1;

    vorn::DeviceSession session(&port);
    vorn::MainWindow window(&session, &dialogs, nullptr);
    vorn::MainForm &form = *window.form();
    // The feedback buttons, clicked as the operator clicks them.
    const auto click = [&form](const char *name) {
        form.findChild<QPushButton *>(QLatin1String(name))->click();
    };

    // The session has cut a whole piece from the line; it is applied next.
    QObject::connect(&session, &vorn::DeviceSession::replyReceived, &app,
                     [&](const QByteArray &bytes, const vorn::ReplyVerdict &verdict) {
        inEvent = verdict.taken();
        previousEvent = measuring && eventStart >= startWall ? eventStart : -1;
        eventStart = clock.nsecsElapsed();
        lastChange = -1;
        pendingBytes = int(bytes.size());
        if (!inEvent && measuring) {
            ++events;
            if (++rejectedLogged <= kRejectsLogged)
                std::fprintf(stderr, "bench_stream: rejected at %.3f s: %d bytes\n",
                             double(eventStart - startWall) / 1e9, pendingBytes);
        }
    });

    // Connected after the window's handlers: the reply has been applied.
    QObject::connect(&session, &vorn::DeviceSession::liveValues, &app, [&] {
        if (!inEvent)
            return;
        inEvent = false;
        if (!measuring)
            return;
        ++events;
        if (lastChange < 0) {
            if (++rejectedLogged <= kRejectsLogged)
                std::fprintf(stderr, "bench_stream: a reply taken did not change RsValText at %.3f s\n",
                             double(eventStart - startWall) / 1e9);
            return;
        }
        ++accepted;
        if (latencies.size() < kKept)
            latencies.push_back(lastChange - eventStart);
        if (oldestUnpainted < 0)
            oldestUnpainted = eventStart;
    });

    auto *rsVal = form.findChild<vorn::FeedbackBox *>(QStringLiteral("RsValText"));
    if (!rsVal) {
        std::fprintf(stderr, "bench_stream: RsValText not found\n");
        return 1;
    }
    // One update may change the document more than once (text, then line
    // format); the last change is when the update is complete.
    QObject::connect(rsVal, &QTextEdit::textChanged, &app, [&] {
        if (inEvent)
            lastChange = clock.nsecsElapsed();
    });
    PaintWatch rsPaint;
    rsPaint.onPaint = [&] {
        if (oldestUnpainted >= 0) {
            if (paintLatencies.size() < kKept)
                paintLatencies.push_back(clock.nsecsElapsed() - oldestUnpainted);
            oldestUnpainted = -1;
        }
    };
    rsVal->viewport()->installEventFilter(&rsPaint);

    window.load();
    window.showCentred();
    if (open.contains(QLatin1String("monitor")))
        window.showMonitor();
    if (open.contains(QLatin1String("trend")))
        window.showTrend();

    vorn::FrameSplitter drain;
    qint64 drained = 0;
    vorn::ValueRecorder recorder(&session);
    if (!recordPath.isEmpty() && !recorder.start(recordPath)) {
        std::fprintf(stderr, "bench_stream: cannot record to %s\n", qPrintable(recordPath));
        return 2;
    }

    Usage startUsage, endUsage;
    int exitCode = 0;

    const auto report = [&] {
        const double wall = double(endWall - startWall) / 1e9;
        const double cpu = endUsage.cpuSeconds - startUsage.cpuSeconds;
        const Usage finalUsage = usageNow();
        std::printf("events=%lld accepted=%lld lat_p50_ms=%.3f lat_p99_ms=%.3f lat_max_ms=%.3f "
                    "paints=%zu paint_p50_ms=%.3f paint_p99_ms=%.3f "
                    "wall_s=%.3f cpu_s=%.3f cpu_pct=%.3f rss_peak_mb=%.1f "
                    "rss_start_mb=%.2f rss_at_mb=%.2f rss_end_mb=%.2f dialogs=%lld recorded=%d drained=%lld\n",
                    static_cast<long long>(events), static_cast<long long>(accepted),
                    percentileMs(latencies, 50), percentileMs(latencies, 99),
                    percentileMs(latencies, 100),
                    paintLatencies.size(), percentileMs(paintLatencies, 50),
                    percentileMs(paintLatencies, 99),
                    wall, cpu, wall > 0 ? 100.0 * cpu / wall : -1.0, finalUsage.peakMb,
                    rssStart, rssAtMb, rssEnd,
                    static_cast<long long>(dialogs.shown.size()), recorder.lines(),
                    static_cast<long long>(drained));
        std::fflush(stdout);
        for (const auto &s : dialogs.shown)
            std::fprintf(stderr, "bench_stream: the window said: %s %s\n", qPrintable(s.text),
                         qPrintable(s.detail));
    };

    const auto stop = [&] {
        endWall = clock.nsecsElapsed();
        endUsage = usageNow();
        rssEnd = residentMb();
        click("GetCommand(2)");
        // Replies already on the line when the device got the stop request
        // count as accepted: the session no longer takes them.
        QObject::connect(&port, &vorn::SerialControl::received, &app, [&](const QByteArray &bytes) {
            for (const vorn::FramePiece &piece : drain.feed(bytes)) {
                if (std::holds_alternative<vorn::RawValuesReply>(vorn::judgeReply(piece).content)) {
                    ++events;
                    ++accepted;
                    ++drained;
                }
            }
        });
        QTimer::singleShot(drainMs, &app, [&] {
            measuring = false;
            report();
            QCoreApplication::exit(exitCode);
        });
    };

    const auto start = [&] {
        if (!port.isOpen()) {
            std::fprintf(stderr, "bench_stream: port %s not open: %s\n", qPrintable(portPath),
                         qPrintable(port.errorText()));
            for (const auto &s : dialogs.shown)
                std::fprintf(stderr, "bench_stream: the window said: %s %s\n", qPrintable(s.text),
                             qPrintable(s.detail));
            QCoreApplication::exit(3);
            return;
        }
        measuring = true;
        startWall = clock.nsecsElapsed();
        startUsage = usageNow();
        rssStart = residentMb();
        if (rssAt > 0 && rssAt < seconds)
            QTimer::singleShot(int(rssAt * 1000.0 + 0.5), Qt::PreciseTimer, &app, [&] { rssAtMb = residentMb(); });
        // The resident size every minute, for the log.
        auto *minutes = new QTimer(&app);
        QObject::connect(minutes, &QTimer::timeout, &app, [&, minutes, n = 0]() mutable {
            if (!measuring || endWall > 0) {
                minutes->stop();
                return;
            }
            std::fprintf(stderr, "bench_stream: VmRSS after %d min: %.2f MB", ++n, residentMb());
#ifdef __GLIBC__
            // The heap: what is in use, what is free inside it, and what the
            // process holds for it (from the system break and in mappings).
            const struct mallinfo2 m = mallinfo2();
            std::fprintf(stderr, " (heap in use %.2f MB, free in it %.2f MB, held %.2f MB)",
                         double(m.uordblks + m.hblkhd) / 1048576.0, double(m.fordblks) / 1048576.0,
                         double(m.arena + m.hblkhd) / 1048576.0);
#endif
            std::fputc('\n', stderr);
        });
        minutes->start(60000);
        click("GetCommand(1)");
        QTimer::singleShot(int(seconds * 1000.0 + 0.5), Qt::PreciseTimer, &app, stop);
    };

    // Start once the window is on screen and has settled.
    PaintWatch firstPaint;
    bool started = false;
    firstPaint.onPaint = [&] {
        if (started)
            return;
        started = true;
        QTimer::singleShot(settleMs, &app, start);
    };
    form.installEventFilter(&firstPaint);
    // Without any paint (no screen at all), start anyway after a while.
    QTimer::singleShot(5000, &app, [&] {
        if (!started) {
            std::fprintf(stderr, "bench_stream: the window was not painted within 5 s\n");
            started = true;
            start();
        }
    });

    return app.exec();
}
