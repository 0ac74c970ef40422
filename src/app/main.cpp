// Start-up: one instance only, then the window, loaded (port search and its
// messages included) before it is centred and shown.

#include "app/dialogs.h"
#include "app/instancelock.h"
#include "app/mainform.h"
#include "app/mainwindow.h"
#include "link/portmap.h"
#include "link/networkline.h"
#include "link/serialportline.h"
#include "session/language.h"

#include <QAccessible>
#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QBackingStore>
#include <QImage>
#include <QTimer>
#include <QElapsedTimer>
#include <QDir>

#include <algorithm>
#include <cstdio>
#include <optional>

#if defined(__GLIBC__)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

QString lockPath()
{
    const QString over = qEnvironmentVariable("VORNRT8_LOCK_FILE");
    if (!over.isEmpty())
        return over;
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    return QDir::temp().filePath(QStringLiteral("vornrt8-%1.lock").arg(user));
}

// Has the kernel fill every page of the heap now, in one call, rather than
// one fault at a time when each is first written: about 1 us a page against
// 11 us on a virtual machine (0.3 against 14 us for a page a fork has
// write-protected). Where the call is not known the pages are simply taken
// by fault.
void populateHeap()
{
#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
    char *start = nullptr;
    if (FILE *maps = std::fopen("/proc/self/maps", "r")) {
        char line[512];
        while (!start && std::fgets(line, sizeof line, maps))
            if (std::strstr(line, "[heap]"))
                start = reinterpret_cast<char *>(std::strtoull(line, nullptr, 16));
        std::fclose(maps);
    }
    char *const end = static_cast<char *>(sbrk(0));
    if (start && end > start)
        madvise(start, std::size_t(end - start), MADV_POPULATE_WRITE);
#endif
}

// Start-up builds the window in about 3 MB of heap, which taken by fault
// meant about a thousand faults. So large blocks stay in the heap instead of
// getting mappings of their own, freed memory stays for the next
// allocation, and the heap is grown by 4 MB at once and filled.
void growHeap()
{
#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    if (void *block = std::malloc(std::size_t(4) << 20)) {
        static_cast<volatile char *>(block)[0] = 0;   // a block never used may be left out
        std::free(block);
    }
    populateHeap();
#endif
}

// The first paint writes every pixel of the window's backing store (1.4 MB,
// on X11 shared with the server), again one page fault at a time: 343
// faults, filled in one call beforehand instead, like the heap. The store
// is sized as the first paint would size it.
void populateBackingStore(QWidget *window)
{
#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
    QBackingStore *store = window->backingStore();
    if (!store)
        return;
    store->resize(window->size());
    store->beginPaint(QRegion());
    const QPaintDevice *device = store->paintDevice();
    if (device && device->devType() == QInternal::Image) {
        const QImage *image = static_cast<const QImage *>(device);
        const auto page = std::uintptr_t(sysconf(_SC_PAGESIZE));
        const auto from = reinterpret_cast<std::uintptr_t>(image->constBits()) & ~(page - 1);
        const auto to = reinterpret_cast<std::uintptr_t>(image->constBits()) + std::uintptr_t(image->sizeInBytes());
        if (to > from)
            madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
    }
    store->endPaint();
#else
    Q_UNUSED(window);
#endif
}

// Ends the program once the window has been painted (exit code 0 with the
// port open, 3 without).
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(const vorn::DeviceSession *session) : m_session(session) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            const int code = m_session->isOpen() ? 0 : 3;
            QTimer::singleShot(0, qApp, [code] { QCoreApplication::exit(code); });
        }
        return false;
    }

private:
    const vorn::DeviceSession *m_session;
    bool m_done = false;
};

// For measurements of the port search: from the window's first paint until
// the start-up search has ended and the window's opening of the port found
// has its outcome (later for a network port), a 1 ms timer ticks; the longest
// gap between two ticks is the longest the event loop was held meanwhile.
// Told on standard error, then the program ends (exit code 0 with the port
// open, 3 without).
class LoopPauses : public QObject
{
public:
    explicit LoopPauses(vorn::DeviceSession *session) : m_session(session)
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(1);
        connect(&m_tick, &QTimer::timeout, this, &LoopPauses::tick);
        // Connected after the window's own handler, which opens the port
        // found; what that opening came to is looked at once it has returned.
        connect(session, &vorn::DeviceSession::portsSearched, this, [this](int found) {
            m_found = found;
            QTimer::singleShot(0, this, [this] {
                m_searched = true;
                finishWhenDone();
            });
        });
        connect(session, &vorn::DeviceSession::portOpened, this, &LoopPauses::finishWhenDone);
        connect(session, &vorn::DeviceSession::portOpenFailed, this, &LoopPauses::finishWhenDone);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            m_tick.start();
            QTimer::singleShot(0, this, &LoopPauses::finishWhenDone);
        }
        return false;
    }

private:
    void finishWhenDone()
    {
        if (m_painted && m_searched && !m_session->isOpening() && !m_finished)
            finish();
    }
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        if (m_ticks++ == 0)
            m_first = now;
        else
            m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    void finish()
    {
        m_finished = true;
        tick();
        m_tick.stop();
        const int code = m_session->isOpen() ? 0 : 3;
        std::fprintf(stderr, "vornrt8: loop pauses: longest_ms=%.3f span_ms=%.1f ticks=%lld found=%d open=%d\n",
                     double(m_longest) / 1e6, double(m_last - m_first) / 1e6, m_ticks, m_found, code == 0);
        QCoreApplication::exit(code);
    }

    vorn::DeviceSession *m_session;
    QTimer m_tick;
    QElapsedTimer m_clock = [] { QElapsedTimer t; t.start(); return t; }();
    qint64 m_first = 0;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    long long m_ticks = 0;
    int m_found = -1;
    bool m_painted = false;
    bool m_searched = false;
    bool m_finished = false;
};

// The command line. --help and --version are answered before anything else
// is set up, without a window or a display.
QCommandLineParser &parser()
{
    static QCommandLineParser p;
    static bool made = false;
    if (!made) {
        made = true;
        p.setApplicationDescription(
            QStringLiteral("VornRT8: configure and service the RT8 measuring device over a serial line."));
        p.addHelpOption();
        p.addVersionOption();
        p.addOption({QStringLiteral("lang"),
                     QStringLiteral("Language of the window: zh (Chinese) or en (English). Default: English "
                                    "when the system's UI language is English, otherwise Chinese."),
                     QStringLiteral("zh|en")});
        p.addOption({QStringLiteral("trace"),
                     QStringLiteral("Append every frame in and out, and what became of it, to FILE, one line "
                                    "each."),
                     QStringLiteral("FILE")});
    }
    return p;
}

bool asksForHelpOrVersion(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-h" || a == "--help" || a == "-?" || a == "--help-all" || a == "-v" || a == "--version")
            return true;
    }
    return false;
}

void setNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("vornrt8"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORNRT8_VERSION));
    QCoreApplication::setOrganizationName(vorn::programName());
}

}  // namespace

int main(int argc, char **argv)
{
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication app(argc, argv);
        setNames();
        parser().process(app);   // prints and ends
        return 0;
    }

    // Another instance running: end at once, without a word. The lock goes
    // with the process, so a crashed instance does not block the next start.
    vorn::InstanceLock instance(lockPath());
    if (!instance.acquire())
        return 0;

    growHeap();
    QApplication app(argc, argv);
    setNames();
    // A bad option: say so and end (exit code 1), before any window.
    parser().process(app);
    const QString lang = parser().value(QStringLiteral("lang"));
    if (!lang.isEmpty() && lang != QLatin1String("zh") && lang != QLatin1String("en")) {
        std::fprintf(stderr, "vornrt8: --lang takes zh or en, not \"%s\"\n", qPrintable(lang));
        return 2;
    }
    // English when asked, or when the system speaks it; Chinese otherwise.
    vorn::installTranslations(lang);
    // The accessibility bridge, which the first control would set up, is set
    // up now, before the window exists. It connects to the session bus, and
    // where none runs the bus is launched by forking this process; a fork
    // write-protects every page the process has, and the first write to each
    // afterwards costs a fault. Now the fork finds a small process, and the
    // heap is made writable again in one call after it.
    QAccessible::isActive();
    populateHeap();

    // The line and the one session on it, for the window and every window
    // it opens.
    vorn::SerialPortLine serialLine;
    vorn::NetworkLine networkLine;
    vorn::DeviceSession session(vorn::PortMap::fromSystem(), &serialLine, &networkLine);
    vorn::QtDialogs dialogs;
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, vorn::programName(), vorn::programName());
    vorn::MainWindow window(&session, &dialogs, &settings);
    const QString trace = parser().value(QStringLiteral("trace"));
    QString why;
    if (!trace.isEmpty() && !window.startTrace(trace, &why))
        dialogs.message(nullptr,
                        QCoreApplication::translate("vorn::MainWindow", "无法写入跟踪文件，程序不记录通讯。"),
                        vorn::Dialogs::Icon::Warning,
                        trace + QLatin1Char('\n') + why);
    // The start-up's boxes come one after the other, the search's after the
    // trace's, and the window once they are all closed. None of them runs
    // an event loop of its own: the program's one loop runs from here on.
    FirstPaint firstPaint(&session);
    std::optional<LoopPauses> loopPauses;
    if (qEnvironmentVariableIsSet("VORNRT8_LOOP_PAUSES"))
        loopPauses.emplace(&session);
    const auto showWindow = [&] {
        // Centred before it is shown, so that it appears in place: moving a
        // mapped window cost the first paint some 7 ms under X11.
        window.showCentred();
        populateBackingStore(&window);
        // For start-up measurements: end as soon as the shown window has
        // been painted once.
        if (qEnvironmentVariableIsSet("VORNRT8_EXIT_WHEN_SHOWN"))
            window.form()->installEventFilter(&firstPaint);
        if (loopPauses)
            window.form()->installEventFilter(&*loopPauses);
    };
    dialogs.whenNoBox([&] {
        window.load();
        dialogs.whenNoBox(showWindow);
    });
    return app.exec();
}
