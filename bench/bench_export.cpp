// The trend's data export of a full hour (360,000 sets of ten values, what
// the trend keeps at 100 values a second): how long the window's thread is
// held when the export starts, the longest pause of the window's event loop
// while the file is written, and the time the whole export takes.
//
//   bench_export [--samples N] [--dir DIR]
//
// Prints one line of figures in ms. Not a test: the figures depend on the
// machine.

#include "support/fakeline.h"
#include "support/scripteddialogs.h"

#include "app/trendwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

using namespace vorn;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int samples = TrendWindow::kCapacity;
    QString dirPath;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--samples"))
            samples = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--dir"))
            dirPath = args[i + 1];
    }
    QTemporaryDir tmp;
    if (dirPath.isEmpty())
        dirPath = tmp.path();

    FakeLine port;
    DeviceSession session(FakeLine::ports(), &port);
    ScriptedDialogs dialogs;
    TrendWindow trend(&session, &dialogs);
    trend.setSpan(3600);
    std::array<int, kChannels> raw{};
    for (int n = 0; n < samples; ++n) {
        for (int i = 0; i < kChannels; ++i)
            raw[i] = (n * 7 + i * 1000) % 65536;
        emit session.liveValues(LiveValues::fromRaw(raw));
    }
    dialogs.nextSave = dirPath + QStringLiteral("/export.csv");

    // The event loop's pauses, seen by a 5 ms timer.
    QElapsedTimer clock;
    clock.start();
    qint64 last = -1, longest = 0;
    QTimer beat;
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0)
            longest = std::max(longest, now - last);
        last = now;
    });
    beat.start();
    QTimer::singleShot(50, [&] {
        QElapsedTimer call;
        call.start();
        const qint64 startedAt = clock.elapsed();
        trend.exportData();
        const qint64 held = call.elapsed();
        last = clock.elapsed();   // the call itself is counted as held
        auto *poll = new QTimer(&app);
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [&, poll, held, startedAt] {
            // The export runs while its button is off.
            if (!trend.findChild<QToolButton *>(QStringLiteral("ExportData"))->isEnabled())
                return;
            poll->stop();
            std::printf("samples %d  started-in %lld ms  longest-pause %lld ms  total %lld ms  file %lld bytes\n",
                        samples, held, longest, clock.elapsed() - startedAt,
                        QFileInfo(dialogs.nextSave).size());
            app.quit();
        });
        poll->start();
    });
    return app.exec();
}
