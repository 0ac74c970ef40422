// Latency from the device's reply to the value box, on the bare
// pseudo-terminal and through a ser2net on 127.0.0.1 in front of it.
//
//   bench_netlatency [--count N] [--period-ms MS] [--kinds pty,tcp,rfc2217]
//                    [--no-chardelay]
//
// One process plays the device itself: it opens a pseudo-terminal pair (the
// master side is the device, the slave path the line) and, for tcp and
// rfc2217, starts ser2net with a raw TCP or a Telnet RFC 2217 accepter at a
// free port in front of the slave path (with --no-chardelay, configured with
// "chardelay: false", so that it does not wait for more characters before
// passing on what it read). The main window is built as vornrt8
// does, with port 1 = the slave path or the server's URL; once it is open, raw
// feedback is started with the "反馈原始值" button and, when the request frame
// has reached the master side, a thread writes N (500) raw-value replies to
// the master, one every MS (10) ms, each with values of its own. The time just
// before each write is kept; when RsValText first shows that reply's values,
// the difference is one sample. One line per kind:
//
//   kind=pty chardelay=- sent=500 shown=500 p50_ms=... p99_ms=... max_ms=...
//
// (shown < sent when the window took two replies at once and only the later
// one was on screen), then, with pty among the kinds, p99_added_ms for each
// network kind: its p99 less the pty's.
//
// Exit code 0, 2 on bad usage, 3 when a port could not be opened or the
// request never came, 4 when ser2net could not be started.

#include "percentile.h"
#include "support/pty.h"
#include "support/scripteddialogs.h"
#include "support/ser2net.h"
#include "app/mainform.h"
#include "app/mainwindow.h"
#include "app/widgets.h"
#include "protocol/frame.h"
#include "link/portmap.h"
#include "link/line.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Reply i carries 1000 + i in channel 1 and distinct values in the others.
constexpr int kFirstValue = 1000;

QByteArray rawReply(int i)
{
    QByteArray payload;
    for (int ch = 0; ch < vorn::kChannels; ++ch) {
        const int v = kFirstValue + i + 7 * ch;
        payload += char(v >> 8);
        payload += char(v & 0xFF);
    }
    return vorn::buildReply(vorn::cmd::Feedback, payload);
}

// Whatever the program wrote to the line so far, without waiting.
QByteArray readAvailable(const Pty &pty)
{
    QByteArray got;
    pollfd p{pty.master, POLLIN, 0};
    char buf[512];
    while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        const ssize_t n = ::read(pty.master, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, int(n));
    }
    return got;
}

struct Figures
{
    int sent = 0, shown = 0;
    double p50 = -1, p99 = -1, max = -1;
};

// One run; exit code as main's, figures in out.
int run(const QString &kind, int count, int periodMs, bool chardelay, Figures &out)
{
    Pty pty;
    if (!pty.ok()) {
        std::fprintf(stderr, "bench_netlatency: no pseudo-terminal\n");
        return 3;
    }
    std::unique_ptr<vorn::test::Ser2net> server;
    QString portName = pty.path;
    if (kind != QLatin1String("pty")) {
        server = std::make_unique<vorn::test::Ser2net>(pty.path, kind == QLatin1String("rfc2217"), chardelay);
        if (!QTest::qWaitFor([&] {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, QUrl(server->url()).port());
                const bool up = s.waitForConnected(1000);
                s.abort();
                return up;
            }, 5000)) {
            std::fprintf(stderr, "bench_netlatency: ser2net did not start: %s\n", qPrintable(server->output()));
            return 4;
        }
        portName = server->url();
    }

    const std::unique_ptr<vorn::Line> line = vorn::makeLine(portName);
    vorn::Line &port = *line;
    vorn::DeviceSession session(vorn::PortMap({portName}), line.get());
    vorn::ScriptedDialogs dialogs;
    vorn::MainWindow window(&session, &dialogs, nullptr);
    vorn::MainForm &form = *window.form();
    auto *rsVal = form.findChild<vorn::FeedbackBox *>(QStringLiteral("RsValText"));
    auto *rawButton = form.findChild<QPushButton *>(QStringLiteral("GetCommand(1)"));
    if (!rsVal || !rawButton) {
        std::fprintf(stderr, "bench_netlatency: RsValText or GetCommand(1) not found\n");
        return 1;
    }
    window.load();
    window.showCentred();
    if (!QTest::qWaitFor([&] { return port.isOpen(); }, 10000)) {
        std::fprintf(stderr, "bench_netlatency: %s not open: %s\n", qPrintable(portName),
                     qPrintable(port.errorText()));
        return 3;
    }
    // Let the window settle, then forget what it sent on opening.
    QTest::qWait(300);
    readAvailable(pty);

    rawButton->click();
    QByteArray request;
    const bool asked = QTest::qWaitFor([&] {
        request += readAvailable(pty);
        return request.contains(char(vorn::cmd::Feedback)) && request.endsWith(char(vorn::kEndByte));
    }, 10000);
    if (!asked) {
        std::fprintf(stderr, "bench_netlatency: no feedback request on %s (got %s)\n", qPrintable(portName),
                     request.toHex(' ').constData());
        return 3;
    }

    std::vector<QByteArray> replies;
    for (int i = 0; i < count; ++i)
        replies.push_back(rawReply(i));
    std::vector<std::atomic<qint64>> writtenAt(count);
    std::vector<qint64> shownAt(count, -1);
    int shown = 0;

    QEventLoop loop;
    QObject::connect(rsVal, &QTextEdit::textChanged, &loop, [&] {
        const qint64 t = nowNs();
        const QString text = rsVal->toPlainText();
        bool ok = false;
        const int i = QStringView(text).left(text.indexOf(QLatin1Char('\n'))).trimmed().toInt(&ok) - kFirstValue;
        if (!ok || i < 0 || i >= count || shownAt[i] >= 0)
            return;
        shownAt[i] = t;
        ++shown;
        if (i == count - 1)
            loop.quit();
    });
    // Bound: the whole run and two seconds more.
    QTimer::singleShot(count * periodMs + 2000, &loop, &QEventLoop::quit);

    std::thread device([&] {
        const auto start = Clock::now() + std::chrono::milliseconds(periodMs);
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(i * periodMs));
            writtenAt[i].store(nowNs(), std::memory_order_release);
            if (!pty.send(replies[i]))
                std::fprintf(stderr, "bench_netlatency: write %d failed\n", i);
        }
    });
    loop.exec();
    device.join();
    form.findChild<QPushButton *>(QStringLiteral("GetCommand(2)"))->click();

    std::vector<qint64> latencies;
    for (int i = 0; i < count; ++i)
        if (shownAt[i] >= 0)
            latencies.push_back(shownAt[i] - writtenAt[i].load(std::memory_order_acquire));
    out.sent = count;
    out.shown = shown;
    out.p50 = percentileMs(latencies, 50);
    out.p99 = percentileMs(latencies, 99);
    out.max = percentileMs(latencies, 100);
    for (const auto &s : dialogs.shown)
        std::fprintf(stderr, "bench_netlatency: the window said: %s %s\n", qPrintable(s.text), qPrintable(s.detail));
    return 0;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: bench_netlatency [--count N] [--period-ms MS] [--kinds pty,tcp,rfc2217]"
                         " [--no-chardelay]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char **argv)
{
    int count = 500;
    int periodMs = 10;
    QString kinds = QStringLiteral("pty,tcp,rfc2217");
    bool chardelay = true;
    for (int i = 1; i < argc; ++i) {
        const auto is = [&](const char *name) { return std::strcmp(argv[i], name) == 0; };
        const auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (is("--count"))
            count = std::atoi(value());
        else if (is("--period-ms"))
            periodMs = std::atoi(value());
        else if (is("--kinds"))
            kinds = QString::fromLocal8Bit(value());
        else if (is("--no-chardelay"))
            chardelay = false;
        else
            usage();
    }
    const QStringList kindList = kinds.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (count < 1 || count > 60000 || periodMs < 1 || periodMs > 1000 || kindList.isEmpty())
        usage();
    for (const QString &k : kindList)
        if (k != QLatin1String("pty") && k != QLatin1String("tcp") && k != QLatin1String("rfc2217"))
            usage();

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(vorn::programName());

    double ptyP99 = -1;
    std::vector<std::pair<QString, double>> networkP99;
    for (const QString &kind : kindList) {
        Figures f;
        if (const int code = run(kind, count, periodMs, chardelay, f))
            return code;
        std::printf("kind=%s chardelay=%s sent=%d shown=%d p50_ms=%.3f p99_ms=%.3f max_ms=%.3f\n", qPrintable(kind),
                    kind == QLatin1String("pty") ? "-" : chardelay ? "on" : "off", f.sent, f.shown, f.p50, f.p99,
                    f.max);
        std::fflush(stdout);
        if (kind == QLatin1String("pty"))
            ptyP99 = f.p99;
        else
            networkP99.emplace_back(kind, f.p99);
    }
    if (ptyP99 >= 0)
        for (const auto &[kind, p99] : networkP99)
            std::printf("kind=%s p99_added_ms=%.3f\n", qPrintable(kind), p99 - ptyP99);
    return 0;
}
