// The least gateway: the yardstick rt8gw's processor share is measured
// against. One thread, one poll() over the devices' serial lines and the
// broker's socket; each device is asked once for raw values, every 28-byte
// raw reply is cut from its line, checked (start byte, length, marker, check
// byte, end byte), written as the same JSON rt8gw publishes with snprintf and
// published with libmosquitto at QoS 1 to PREFIX/NAME/values. No status
// topics, no queue, no reconnection: what is left is the work any gateway
// must do.
//
//   least_gateway --broker PORT --prefix PREFIX [--address N] [--qt] NAME=PATH...
//
// With --qt the same work is served by Qt's event loop instead of poll(): a
// QSocketNotifier for each line and for the broker's socket, a QTimer for
// libmosquitto's housekeeping. The least a Qt program can do it with, so the
// share of Qt's own loop in rt8gw's cost can be told apart from rt8gw's.
//
// Ends on SIGTERM or SIGINT, after telling every device to stop streaming.

#include "protocol/frame.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRawLength = vorn::kRawReplyLength;   // 28: ten 16-bit values
constexpr size_t kBufferSize = 4096;

struct Line
{
    std::string name;
    std::string path;
    std::string topic;
    int fd = -1;
    unsigned char buf[kBufferSize];
    size_t have = 0;
    long long published = 0;
    long long rejected = 0;   // bytes passed over
};

int g_stopPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_stopPipe[1], &c, 1);
    errno = saved;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: least_gateway --broker PORT --prefix PREFIX [--address N] [--qt] NAME=PATH...\n");
    std::exit(2);
}

// A serial line as rt8gw opens it: raw, 38400 baud, 8N1, not blocking.
int openLine(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B38400);
        ::cfsetospeed(&t, B38400);
        t.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

bool writeAll(int fd, const unsigned char *p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd pfd{fd, POLLOUT, 0};
                ::poll(&pfd, 1, 100);
                continue;
            }
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

// Local time with its offset, to the millisecond, as rt8gw writes it
// ("2026-12-08T10:15:30.125+08:00"; "Z" where the offset is 0).
int timestamp(char *out, size_t size)
{
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    ::localtime_r(&ts.tv_sec, &local);
    const size_t n = std::strftime(out, size, "%Y-%m-%dT%H:%M:%S", &local);
    const long off = local.tm_gmtoff;
    if (off == 0)
        return int(n) + std::snprintf(out + n, size - n, ".%03ldZ", ts.tv_nsec / 1000000);
    const long a = off < 0 ? -off : off;
    return int(n) + std::snprintf(out + n, size - n, ".%03ld%c%02ld:%02ld", ts.tv_nsec / 1000000, off < 0 ? '-' : '+',
                                  a / 3600, (a / 60) % 60);
}

// Cuts every whole raw reply from the line's buffer and publishes it; bytes
// that cannot start one are passed over up to the next start byte.
void cutAndPublish(Line &l, mosquitto *mosq)
{
    size_t at = 0;
    while (l.have - at >= 3) {
        const unsigned char *f = l.buf + at;
        if (f[0] != vorn::kStartByte || ((f[1] << 8) | f[2]) != kRawLength) {
            ++at;
            ++l.rejected;
            continue;
        }
        if (l.have - at < size_t(kRawLength))
            break;
        unsigned char x = 0;
        for (int i = 1; i < kRawLength - 2; ++i)
            x ^= f[i];
        if (f[3] != vorn::kMarker || f[kRawLength - 2] != x || f[kRawLength - 1] != vorn::kEndByte) {
            ++at;
            ++l.rejected;
            continue;
        }
        char json[256];
        int n = std::snprintf(json, sizeof json, "{\"time\":\"");
        n += timestamp(json + n, sizeof json - size_t(n));
        n += std::snprintf(json + n, sizeof json - size_t(n), "\",\"mode\":\"raw\",\"values\":[");
        for (int i = 0; i < 10; ++i)
            n += std::snprintf(json + n, sizeof json - size_t(n), i ? ",%d" : "%d", (f[6 + 2 * i] << 8) | f[7 + 2 * i]);
        n += std::snprintf(json + n, sizeof json - size_t(n), "]}");
        const int rc = mosquitto_publish(mosq, nullptr, l.topic.c_str(), n, json, 1, false);
        if (rc != MOSQ_ERR_SUCCESS)
            std::fprintf(stderr, "least_gateway: %s: publish: %s\n", l.name.c_str(), mosquitto_strerror(rc));
        else
            ++l.published;
        at += kRawLength;
    }
    if (at > 0) {
        std::memmove(l.buf, l.buf + at, l.have - at);
        l.have -= at;
    }
}

// The lines and the broker served by Qt's event loop until the stop pipe is
// readable; the broker connection's last result.
int serveWithQt(int argc, char **argv, std::vector<Line> &lines, mosquitto *mosq)
{
    // Qt's own event dispatcher, as rt8gw chooses it (GLib's costs more).
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    int rc = MOSQ_ERR_SUCCESS;
    const auto fail = [&](int r) {
        if (r == MOSQ_ERR_SUCCESS || rc != MOSQ_ERR_SUCCESS)
            return;
        rc = r;
        std::fprintf(stderr, "least_gateway: broker connection: %s\n", mosquitto_strerror(r));
        QCoreApplication::quit();
    };
    QSocketNotifier brokerRead(mosquitto_socket(mosq), QSocketNotifier::Read);
    QSocketNotifier brokerWrite(mosquitto_socket(mosq), QSocketNotifier::Write);
    brokerWrite.setEnabled(mosquitto_want_write(mosq));
    const auto wantWrite = [&] {
        if (brokerWrite.isEnabled() != mosquitto_want_write(mosq))
            brokerWrite.setEnabled(mosquitto_want_write(mosq));
    };
    QObject::connect(&brokerRead, &QSocketNotifier::activated, [&] {
        fail(mosquitto_loop_read(mosq, 1));
        wantWrite();
    });
    QObject::connect(&brokerWrite, &QSocketNotifier::activated, [&] {
        fail(mosquitto_loop_write(mosq, 1));
        wantWrite();
    });
    QTimer misc;
    misc.setInterval(1000);
    QObject::connect(&misc, &QTimer::timeout, [&] { fail(mosquitto_loop_misc(mosq)); });
    misc.start();
    std::vector<std::unique_ptr<QSocketNotifier>> readers;
    for (Line &l : lines) {
        readers.push_back(std::make_unique<QSocketNotifier>(l.fd, QSocketNotifier::Read));
        QObject::connect(readers.back().get(), &QSocketNotifier::activated, [&] {
            const ssize_t n = ::read(l.fd, l.buf + l.have, kBufferSize - l.have);
            if (n > 0) {
                l.have += size_t(n);
                cutAndPublish(l, mosq);
                if (l.have == kBufferSize)
                    l.have = 0;
                wantWrite();
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                std::fprintf(stderr, "least_gateway: %s: line lost\n", l.name.c_str());
                QCoreApplication::quit();
            }
        });
    }
    QSocketNotifier stop(g_stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    app.exec();
    return rc;
}

}  // namespace

int main(int argc, char **argv)
{
    int brokerPort = 0;
    int address = 1;
    bool withQt = false;
    std::string prefix;
    std::vector<Line> lines;
    lines.reserve(size_t(argc));
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--broker" && i + 1 < argc)
            brokerPort = std::atoi(argv[++i]);
        else if (a == "--prefix" && i + 1 < argc)
            prefix = argv[++i];
        else if (a == "--address" && i + 1 < argc)
            address = std::atoi(argv[++i]);
        else if (a == "--qt")
            withQt = true;
        else if (const size_t eq = a.find('='); eq != std::string::npos && eq > 0 && a[0] != '-') {
            Line &l = lines.emplace_back();
            l.name = a.substr(0, eq);
            l.path = a.substr(eq + 1);
        } else {
            usage();
        }
    }
    if (brokerPort <= 0 || brokerPort > 65535 || prefix.empty() || lines.empty() || address < 0 || address > 255)
        usage();

    // The two requests, built once by the protocol's own frame builder.
    const QByteArray askRaw = vorn::buildFrame(quint8(address), vorn::cmd::Feedback, QByteArray(1, char(1)));
    const QByteArray askStop = vorn::buildFrame(quint8(address), vorn::cmd::Feedback, QByteArray(1, char(2)));

    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction sa{};
    sa.sa_handler = &onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    mosquitto_lib_init();
    mosquitto *mosq = mosquitto_new(nullptr, true, nullptr);
    if (!mosq)
        return 1;
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq, 100);   // as rt8gw
    int rc = mosquitto_connect(mosq, "127.0.0.1", brokerPort, 30);
    if (rc != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "least_gateway: cannot connect to 127.0.0.1:%d: %s\n", brokerPort,
                     rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
        return 1;
    }

    for (Line &l : lines) {
        l.topic = prefix + "/" + l.name + "/values";
        l.fd = openLine(l.path);
        if (l.fd < 0) {
            std::fprintf(stderr, "least_gateway: cannot open %s: %s\n", l.path.c_str(), std::strerror(errno));
            return 1;
        }
        if (!writeAll(l.fd, reinterpret_cast<const unsigned char *>(askRaw.constData()), size_t(askRaw.size()))) {
            std::fprintf(stderr, "least_gateway: cannot write to %s: %s\n", l.path.c_str(), std::strerror(errno));
            return 1;
        }
    }

    // Lines first, then the broker's socket, then the stop pipe.
    std::vector<pollfd> fds(lines.size() + 2);
    for (size_t i = 0; i < lines.size(); ++i)
        fds[i] = {lines[i].fd, POLLIN, 0};
    const size_t mq = lines.size(), stop = lines.size() + 1;
    fds[stop] = {g_stopPipe[0], POLLIN, 0};
    timespec lastMisc;
    ::clock_gettime(CLOCK_MONOTONIC, &lastMisc);
    bool running = !withQt;
    if (withQt)
        rc = serveWithQt(argc, argv, lines, mosq);
    while (running) {
        fds[mq] = {mosquitto_socket(mosq), short(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0};
        if (::poll(fds.data(), fds.size(), 1000) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (size_t i = 0; i < lines.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Line &l = lines[i];
            const ssize_t n = ::read(l.fd, l.buf + l.have, kBufferSize - l.have);
            if (n > 0) {
                l.have += size_t(n);
                cutAndPublish(l, mosq);
                if (l.have == kBufferSize)   // nothing to cut in a full buffer: noise
                    l.have = 0;
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                std::fprintf(stderr, "least_gateway: %s: line lost\n", l.name.c_str());
                running = false;
            }
        }
        if (fds[mq].revents & POLLIN)
            rc = mosquitto_loop_read(mosq, 1);
        if (rc == MOSQ_ERR_SUCCESS && (fds[mq].revents & POLLOUT))
            rc = mosquitto_loop_write(mosq, 1);
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if (rc == MOSQ_ERR_SUCCESS && now.tv_sec != lastMisc.tv_sec) {
            rc = mosquitto_loop_misc(mosq);
            lastMisc = now;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            std::fprintf(stderr, "least_gateway: broker connection: %s\n", mosquitto_strerror(rc));
            running = false;
        }
        if (fds[stop].revents & POLLIN)
            running = false;
    }

    long long published = 0;
    for (Line &l : lines) {
        writeAll(l.fd, reinterpret_cast<const unsigned char *>(askStop.constData()), size_t(askStop.size()));
        ::tcdrain(l.fd);
        ::close(l.fd);
        published += l.published;
        if (l.rejected)
            std::fprintf(stderr, "least_gateway: %s: %lld bytes passed over\n", l.name.c_str(), l.rejected);
    }
    // What is still in flight goes out before the goodbye.
    for (int i = 0; i < 50 && rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq); ++i)
        rc = mosquitto_loop(mosq, 20, 1);
    mosquitto_loop(mosq, 100, 1);
    mosquitto_disconnect(mosq);
    mosquitto_destroy(mosq);
    mosquitto_lib_cleanup();
    std::fprintf(stderr, "least_gateway: %lld sets published\n", published);
    return 0;
}
