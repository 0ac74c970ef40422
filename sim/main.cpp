// rt8sim: a simulated RT8 on a pseudo-terminal (or a serial port).
//
// Standard output carries one line, "port: <path>", as soon as the line is
// open. Everything else, one decoded line per request, goes to standard error.

#include "bus.h"
#include "console.h"
#include "device.h"
#include "line.h"
#include "noise.h"
#include "portlink.h"
#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

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

int intValue(const QString &name, const QString &text, int lo, int hi)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < lo || v > hi)
        usageError(QStringLiteral("--%1 wants a whole number %2..%3, not \"%4\"").arg(name).arg(lo).arg(hi).arg(text));
    return v;
}

int intOption(const QCommandLineParser &p, const QString &name, int lo, int hi)
{
    return intValue(name, p.value(name), lo, hi);
}

// Every value of an option that may be given more than once (its default
// when it is not given).
QList<int> intOptions(const QCommandLineParser &p, const QString &name, int lo, int hi)
{
    QList<int> out;
    for (const QString &text : p.values(name))
        out << intValue(name, text, lo, hi);
    return out;
}

struct DeviceSetting
{
    int number;
    int digits;
};

// One device per --address, each with its --digits: one --digits applies
// to all, otherwise there must be one per --address, paired in order.
QList<DeviceSetting> deviceSettings(const QCommandLineParser &p)
{
    const QList<int> numbers = intOptions(p, QStringLiteral("address"), 0, 255);
    const QList<int> digits = intOptions(p, QStringLiteral("digits"), 0, 255);
    if (digits.size() != 1 && digits.size() != numbers.size())
        usageError(QStringLiteral("--digits given %1 times for %2 devices: give it once for all or once per --address")
                       .arg(digits.size()).arg(numbers.size()));
    QList<DeviceSetting> out;
    QSet<int> seen;
    for (int i = 0; i < numbers.size(); ++i) {
        if (seen.contains(numbers[i]))
            usageError(QStringLiteral("--address %1 given twice: each device needs its own number").arg(numbers[i]));
        seen.insert(numbers[i]);
        out.append({numbers[i], digits.size() == 1 ? digits[0] : digits[i]});
    }
    return out;
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
    ConsoleReader(const Bus *bus, std::function<void()> unplug, std::function<void()> replug, QObject *parent)
        : QObject(parent), m_bus(bus), m_unplug(std::move(unplug)), m_replug(std::move(replug))
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

    // hold and release: the first device, or those numbered as selected.
    QList<Device *> chosen(const ConsoleCommand &c) const
    {
        if (!c.device)
            return {m_bus->devices().first()};
        const QList<Device *> ds = m_bus->numbered(*c.device);
        if (ds.isEmpty())
            logLine(QStringLiteral("input: no device numbered %1").arg(*c.device));
        return ds;
    }

    void run(const ConsoleCommand &c)
    {
        switch (c.kind) {
        case ConsoleCommand::Empty:
            break;
        case ConsoleCommand::Hold:
            for (Device *d : chosen(c)) {
                d->hold(c.channel, c.value);
                logLine(m_bus->tag(d) + QStringLiteral("input: ch%1 held at %2").arg(c.channel).arg(c.value));
            }
            break;
        case ConsoleCommand::Release:
            for (Device *d : chosen(c)) {
                d->release(c.channel);
                logLine(m_bus->tag(d) + QStringLiteral("input: ch%1 released").arg(c.channel));
            }
            break;
        case ConsoleCommand::ReleaseAll:
            for (Device *d : chosen(c)) {
                for (int ch = 0; ch < kChannels; ++ch)
                    d->release(ch);
                logLine(m_bus->tag(d) + QStringLiteral("input: all channels released"));
            }
            break;
        case ConsoleCommand::Unplug:
            m_unplug();
            break;
        case ConsoleCommand::Replug:
            m_replug();
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

    const Bus *m_bus;
    std::function<void()> m_unplug, m_replug;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rt8sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORNRT8_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "A simulated RT8 measuring device on a pseudo-terminal (or a serial port).\n"
        "Prints \"port: <path>\" on standard output, logs each request on standard error.\n"
        "Standard input: hold <channel> <raw>, release <channel|all>, unplug, replug, quit.\n"
        "Several devices on one line: give --address once per device (and --digits\n"
        "once for all or once per --address). Frames to 255 reach every device; the\n"
        "log lines of each start with \"[N] \". hold and release act on the first\n"
        "device; \"@N hold 3 12000\" acts on the device numbered N."));
    p.addHelpOption();
    p.addVersionOption();
    p.addOptions({
        {QStringLiteral("address"), QStringLiteral("Device number 0-255 (default 1); once per device on the line."), QStringLiteral("n"), QStringLiteral("1")},
        {QStringLiteral("digits"), QStringLiteral("Display-digit count 0-255 (default 40); once for all devices or once per --address."), QStringLiteral("n"), QStringLiteral("40")},
        {QStringLiteral("port"), QStringLiteral("Use this existing serial port instead of a pseudo-terminal."), QStringLiteral("name")},
        {QStringLiteral("link"), QStringLiteral("Also make a symbolic link to the port at this path (gone while unplugged, removed on exit)."), QStringLiteral("path")},
        {QStringLiteral("period"), QStringLiteral("Milliseconds between streamed feedback items, 0 = as fast as the line takes them (default 500)."), QStringLiteral("ms"), QStringLiteral("500")},
        {QStringLiteral("noise"), QStringLiteral("Share 0..1 of outgoing frames and records to damage (default 0)."), QStringLiteral("rate"), QStringLiteral("0")},
        {QStringLiteral("seed"), QStringLiteral("Seed for the noise (default: random)."), QStringLiteral("n")},
        {QStringLiteral("unplug-after"), QStringLiteral("Close the line like a pulled adapter this many seconds after start."), QStringLiteral("seconds")},
        {QStringLiteral("replug-after"), QStringLiteral("Open a new line (same --link) this many seconds after start; needs --unplug-after."), QStringLiteral("seconds")},
        {QStringLiteral("exit-after"), QStringLiteral("End this many seconds after start."), QStringLiteral("seconds")},
        {QStringLiteral("log-sent"), QStringLiteral("Log every frame or record sent, as hex, damage included.")},
        {QStringLiteral("ignore-read-back"), QStringLiteral("Leave read-back requests unanswered (every device).")},
        {QStringLiteral("no-stdin"), QStringLiteral("Do not read standard input (and do not end at its end).")},
    });
    p.process(app);
    if (!p.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument \"%1\"").arg(p.positionalArguments().first()));

    const QList<DeviceSetting> settings = deviceSettings(p);
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

    std::vector<std::unique_ptr<Device>> devices;
    QList<Device *> onLine;
    QStringList described;
    for (const DeviceSetting &s : settings) {
        devices.push_back(std::make_unique<Device>(quint8(s.number), quint8(s.digits)));
        devices.back()->setIgnoreReadBack(p.isSet(QStringLiteral("ignore-read-back")));
        onLine << devices.back().get();
        described << QStringLiteral("number %1, %2 digits").arg(s.number).arg(s.digits);
    }
    Simulator sim(line.get(), onLine, Noise(rate, seed), period);
    sim.setLogSent(p.isSet(QStringLiteral("log-sent")));
    QObject::connect(&sim, &Simulator::log, &logLine);
    logLine(QStringLiteral("rt8sim: %1, port %2%3, period %4 ms%5")
                .arg(settings.size() == 1 ? described[0]
                                          : QStringLiteral("%1 devices (%2)").arg(settings.size()).arg(described.join(QLatin1String("; "))))
                .arg(line->portName())
                .arg(linkPath.isEmpty() ? QString() : QStringLiteral(" (link %1)").arg(linkPath))
                .arg(period)
                .arg(rate > 0 ? QStringLiteral(", noise %1 seed %2").arg(rate).arg(seed) : QString()));

    // A pulled adapter takes its device node with it: the link goes with the
    // terminal, before another program may be given the terminal's number.
    bool unplugged = false;
    const auto unplug = [&] {
        if (unplugged) {
            logLine(QStringLiteral("input: the line is unplugged already"));
            return;
        }
        unplugged = true;
        link.remove();
        sim.unplug();
    };
    // The link follows the new terminal before "replugged" is logged: a
    // client that waits for that line and then opens the link must reach
    // the new terminal, not the one that went away.
    if (!linkPath.isEmpty())
        QObject::connect(&sim, &Simulator::lineOpened, &sim, [&](const QString &portName) {
            QString why;
            if (!link.place(linkPath, portName, &why))
                logLine(QStringLiteral("replug: ") + why);
        });
    const auto replug = [&] {
        if (!unplugged) {
            logLine(QStringLiteral("input: the line is plugged in"));
            return;
        }
        QString why;
        if (sim.replug(&why))
            unplugged = false;
        else
            logLine(QStringLiteral("replug failed: ") + why);
    };

    if (!p.isSet(QStringLiteral("no-stdin")))
        new ConsoleReader(&sim.bus(), unplug, replug, &app);

    if (unplugAfter)
        QTimer::singleShot(msOf(*unplugAfter), &sim, unplug);
    if (replugAfter)
        QTimer::singleShot(msOf(*replugAfter), &sim, replug);
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
