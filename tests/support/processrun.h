#pragma once
// What the end-to-end tests and benchmarks need of the programs they start:
// a run to its end with what it printed, a process that ends with the test,
// a free port on 127.0.0.1 and whether something listens there.

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringDecoder>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorn::test {

// How a program ended and what it printed.
struct Result
{
    int exitCode = -1;   // -2 when it crashed
    QString out, err;
};

// Waits for a started process to end (killed after ms) and collects it.
inline Result finish(QProcess &p, int ms = 120000)
{
    Result r;
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = QStringLiteral("(did not end)");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline QString describe(const Result &r)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3").arg(r.exitCode).arg(r.out, r.err);
}

// Binds a socket to port on 127.0.0.1 (0: any free one) and lets it go:
// the port it had, or 0 when that port is taken.
inline int bindOnce(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    socklen_t len = sizeof a;
    int had = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        had = ntohs(a.sin_port);
    ::close(fd);
    return had;
}

// A port on 127.0.0.1 nobody listens on now (0 when none could be had).
inline int freePort()
{
    return bindOnce(0);
}

// Whether a TCP port on 127.0.0.1 is in LISTEN state, read from the kernel's
// table: connecting to find out would take the connection from whoever
// serves it (ser2net gives its line to the newest).
inline bool listening(int port)
{
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray want = QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &l : f.readAll().split('\n')) {
        const QList<QByteArray> c = l.simplified().split(' ');
        if (c.size() > 3 && c[1] == want && c[3] == "0A")
            return true;
    }
    return false;
}

// A started program that is ended with its owner (SIGTERM, then SIGKILL
// after 5 s), what it printed gathered as it comes: a character split
// between two reads is decoded whole.
struct Process : QProcess
{
    QString out, err;
    Process()
    {
        connect(this, &QProcess::readyReadStandardOutput, [this] { out += m_out(readAllStandardOutput()); });
        connect(this, &QProcess::readyReadStandardError, [this] { err += m_err(readAllStandardError()); });
    }
    ~Process() override { end(); }
    void end()
    {
        if (state() == NotRunning)
            return;
        terminate();
        if (!waitForFinished(5000))
            kill();
        waitForFinished(5000);
        out += m_out(readAllStandardOutput());
        if (processChannelMode() != MergedChannels)
            err += m_err(readAllStandardError());
    }

private:
    QStringDecoder m_out{QStringDecoder::Utf8}, m_err{QStringDecoder::Utf8};
};

// A free port on 127.0.0.1 for a server that is stopped and started again
// on it: outside the range the system hands out to programs that ask it for
// any free port, so that nobody else's server or test takes it while ours is
// down (0 when none could be had).
inline int stablePort()
{
    int first = 32768, last = 60999;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = range.readAll().simplified().split(' ');
        if (parts.size() == 2) {
            first = parts[0].toInt();
            last = parts[1].toInt();
        }
    }
    for (int i = 0; i < 200; ++i) {
        const int port = 10000 + int(QRandomGenerator::global()->bounded(50000));
        if (port >= first && port <= last)
            continue;
        if (bindOnce(port) == port)
            return port;
    }
    return 0;
}

}  // namespace vorn::test
