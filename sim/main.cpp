// rt8sim: a simulated RT8 on a pseudo-terminal (or a serial port).
//
// Standard output carries one line, "port: <path>", as soon as the line is
// open. Everything else, one decoded line per request, goes to standard error.

#include "console.h"
#include "device.h"
#include "line.h"
#include "noise.h"
#include "portlink.h"
#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace rt8sim;

namespace {

void logLine(const QString &line)
{
    const QByteArray b = line.toUtf8() + '\n';
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

[[noreturn]] void usageError(const QString &what)
{
    logLine(QStringLiteral("rt8sim: ") + what);
    std::exit(2);
}

std::optional<double> secondsOption(const QCommandLineParser &p, const QString &name)
{
    if (!p.isSet(name))
        return std::nullopt;
    bool ok = false;
    const double v = p.value(name).toDouble(&ok);
    if (!ok || v < 0 || v > 1e6)
        usageError(QStringLiteral("--%1 wants seconds (0 or more), not \"%2\"").arg(name, p.value(name)));
    return v;
}

int intOption(const QCommandLineParser &p, const QString &name, int lo, int hi)
{
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < lo || v > hi)
        usageError(QStringLiteral("--%1 wants a whole number %2..%3, not \"%4\"").arg(name).arg(lo).arg(hi).arg(p.value(name)));
    return v;
}

int msOf(double seconds) { return int(seconds * 1000.0 + 0.5); }

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
#endif

// Lines typed on standard input; the end of input ends the simulator.
class ConsoleReader : public QObject
{
public:
    ConsoleReader(Device *device, QObject *parent) : QObject(parent), m_device(device)
    {
#ifdef Q_OS_UNIX
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { readInput(); });
#endif
    }

private:
#ifdef Q_OS_UNIX
    void readInput()
    {
        char buf[1024];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            m_notifier->setEnabled(false);
            logLine(QStringLiteral("end of standard input, stopping"));
            QCoreApplication::quit();
            return;
        }
        m_pending += QByteArray(buf, n);
        qsizetype nl;
        while ((nl = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(nl));
            m_pending.remove(0, nl + 1);
            run(parseConsoleLine(line));
        }
        if (m_pending.size() > 4096)
            m_pending.clear();   // not a command anybody typed
    }
#endif

    void run(const ConsoleCommand &c)
    {
        switch (c.kind) {
        case ConsoleCommand::Empty:
            break;
        case ConsoleCommand::Hold:
            m_device->hold(c.channel, c.value);
            logLine(QStringLiteral("input: ch%1 held at %2").arg(c.channel).arg(c.value));
            break;
        case ConsoleCommand::Release:
            m_device->release(c.channel);
            logLine(QStringLiteral("input: ch%1 released").arg(c.channel));
            break;
        case ConsoleCommand::ReleaseAll:
            for (int ch = 0; ch < kChannels; ++ch)
                m_device->release(ch);
            logLine(QStringLiteral("input: all channels released"));
            break;
        case ConsoleCommand::Quit:
            logLine(QStringLiteral("quit"));
            QCoreApplication::quit();
            break;
        case ConsoleCommand::Invalid:
            logLine(QStringLiteral("input: ") + c.error);
            break;
        }
    }

    Device *m_device;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rt8sim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "A simulated RT8 measuring device on a pseudo-terminal (or a serial port).\n"
        "Prints \"port: <path>\" on standard output, logs each request on standard error.\n"
        "Standard input: hold <channel> <raw>, release <channel|all>, quit."));
    p.addHelpOption();
    p.addOptions({
        {QStringLiteral("address"), QStringLiteral("Device number 0-255 (default 1)."), QStringLiteral("n"), QStringLiteral("1")},
        {QStringLiteral("digits"), QStringLiteral("Display-digit count 0-255 (default 40)."), QStringLiteral("n"), QStringLiteral("40")},
        {QStringLiteral("port"), QStringLiteral("Use this existing serial port instead of a pseudo-terminal."), QStringLiteral("name")},
        {QStringLiteral("link"), QStringLiteral("Also make a symbolic link to the port at this path (removed on exit)."), QStringLiteral("path")},
        {QStringLiteral("period"), QStringLiteral("Milliseconds between streamed feedback items, 0 = as fast as the line takes them (default 500)."), QStringLiteral("ms"), QStringLiteral("500")},
        {QStringLiteral("noise"), QStringLiteral("Share 0..1 of outgoing frames and records to damage (default 0)."), QStringLiteral("rate"), QStringLiteral("0")},
        {QStringLiteral("seed"), QStringLiteral("Seed for the noise (default: random)."), QStringLiteral("n")},
        {QStringLiteral("unplug-after"), QStringLiteral("Close the line like a pulled adapter this many seconds after start."), QStringLiteral("seconds")},
        {QStringLiteral("replug-after"), QStringLiteral("Open a new line (same --link) this many seconds after start; needs --unplug-after."), QStringLiteral("seconds")},
        {QStringLiteral("exit-after"), QStringLiteral("End this many seconds after start."), QStringLiteral("seconds")},
        {QStringLiteral("log-sent"), QStringLiteral("Log every frame or record sent, as hex, damage included.")},
        {QStringLiteral("no-stdin"), QStringLiteral("Do not read standard input (and do not end at its end).")},
    });
    p.process(app);
    if (!p.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument \"%1\"").arg(p.positionalArguments().first()));

    const int address = intOption(p, QStringLiteral("address"), 0, 255);
    const int digits = intOption(p, QStringLiteral("digits"), 0, 255);
    const int period = intOption(p, QStringLiteral("period"), 0, 3600 * 1000);
    bool ok = false;
    const double rate = p.value(QStringLiteral("noise")).toDouble(&ok);
    if (!ok || rate < 0.0 || rate > 1.0)
        usageError(QStringLiteral("--noise wants a share 0..1, not \"%1\"").arg(p.value(QStringLiteral("noise"))));
    quint32 seed = QRandomGenerator::global()->generate();
    if (p.isSet(QStringLiteral("seed"))) {
        const qulonglong s = p.value(QStringLiteral("seed")).toULongLong(&ok);
        if (!ok || s > 0xFFFFFFFFull)
            usageError(QStringLiteral("--seed wants a whole number 0..4294967295"));
        seed = quint32(s);
    }
    const auto unplugAfter = secondsOption(p, QStringLiteral("unplug-after"));
    const auto replugAfter = secondsOption(p, QStringLiteral("replug-after"));
    const auto exitAfter = secondsOption(p, QStringLiteral("exit-after"));
    if (replugAfter && (!unplugAfter || *replugAfter <= *unplugAfter))
        usageError(QStringLiteral("--replug-after needs an earlier --unplug-after"));

#ifdef Q_OS_UNIX
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        usageError(QStringLiteral("cannot set up signal handling"));
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
        logLine(QStringLiteral("signal received, stopping"));
        QCoreApplication::quit();
    });
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
#endif

    std::unique_ptr<Line> line;
    if (p.isSet(QStringLiteral("port"))) {
        line = std::make_unique<SerialPortLine>(p.value(QStringLiteral("port")));
    } else {
#ifdef Q_OS_UNIX
        line = std::make_unique<PtyLine>();
#else
        usageError(QStringLiteral("no pseudo-terminals on this system: give --port (one end of a null-modem pair)"));
#endif
    }
    QString error;
    if (!line->open(&error)) {
        logLine(QStringLiteral("rt8sim: cannot open the line: ") + error);
        return 1;
    }

    PortLink link;
    const QString linkPath = p.value(QStringLiteral("link"));
    if (!linkPath.isEmpty() && !link.place(linkPath, line->portName(), &error)) {
        logLine(QStringLiteral("rt8sim: ") + error);
        return 1;
    }

    std::printf("port: %s\n", line->portName().toLocal8Bit().constData());
    std::fflush(stdout);

    Device device{quint8(address), quint8(digits)};
    Simulator sim(line.get(), &device, Noise(rate, seed), period);
    sim.setLogSent(p.isSet(QStringLiteral("log-sent")));
    QObject::connect(&sim, &Simulator::log, &logLine);
    logLine(QStringLiteral("rt8sim: number %1, %2 digits, port %3%4, period %5 ms%6")
                .arg(address).arg(digits).arg(line->portName())
                .arg(linkPath.isEmpty() ? QString() : QStringLiteral(" (link %1)").arg(linkPath))
                .arg(period)
                .arg(rate > 0 ? QStringLiteral(", noise %1 seed %2").arg(rate).arg(seed) : QString()));

    if (!p.isSet(QStringLiteral("no-stdin")))
        new ConsoleReader(&device, &app);

    if (unplugAfter)
        QTimer::singleShot(msOf(*unplugAfter), &sim, [&] { sim.unplug(); });
    if (replugAfter) {
        // The link follows the new terminal before "replugged" is logged: a
        // client that waits for that line and then opens the link must reach
        // the new terminal, not the one that went away.
        if (!linkPath.isEmpty())
            QObject::connect(&sim, &Simulator::lineOpened, &sim, [&](const QString &portName) {
                QString why;
                if (!link.place(linkPath, portName, &why))
                    logLine(QStringLiteral("replug: ") + why);
            });
        QTimer::singleShot(msOf(*replugAfter), &sim, [&] {
            QString why;
            if (!sim.replug(&why))
                logLine(QStringLiteral("replug failed: ") + why);
        });
    }
    if (exitAfter)
        QTimer::singleShot(msOf(*exitAfter), &app, [] {
            logLine(QStringLiteral("time is up, stopping"));
            QCoreApplication::quit();
        });

    const int rc = app.exec();
    link.remove();
    line->close();
    return rc;
}
