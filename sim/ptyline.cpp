#include "line.h"

#ifdef Q_OS_UNIX

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace rt8sim {

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

PtyLine::PtyLine(QObject *parent) : Line(parent) {}

PtyLine::~PtyLine()
{
    close();
}

bool PtyLine::open(QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    close();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        *error = systemError("posix_openpt");
        return false;
    }
    const auto fail = [&](const char *what) {
        *error = systemError(what);
        ::close(master);
        return false;
    };
    if (::grantpt(master) != 0)
        return fail("grantpt");
    if (::unlockpt(master) != 0)
        return fail("unlockpt");
    const char *name = ::ptsname(master);
    if (!name)
        return fail("ptsname");
    const QString slaveName = QString::fromLocal8Bit(name);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    // Hold the terminal side open for as long as the line is plugged in.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return fail("open terminal side");
    termios t{};
    if (::tcgetattr(slave, &t) != 0) {
        ::close(slave);
        return fail("tcgetattr");
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, B38400);
    ::cfsetospeed(&t, B38400);
    if (::tcsetattr(slave, TCSANOW, &t) != 0) {
        ::close(slave);
        return fail("tcsetattr");
    }

    m_master = master;
    m_slave = slave;
    m_slaveName = slaveName;
    m_overflowLogged = false;
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyLine::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        flush();
        if (m_out.isEmpty())
            emit drained();
    });
    return true;
}

void PtyLine::close()
{
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    // Both sides go: a client that has the terminal open gets a hang-up.
    // The terminal side first: the hang-up comes with the controlling side,
    // and by the time the client sees it the simulator holds neither.
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    m_slave = -1;
    m_out.clear();
}

void PtyLine::readMaster()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            emit received(QByteArray(buf, n));
            if (m_master < 0)
                return;   // closed by a handler
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // Cannot happen while the terminal side is held; stop listening
        // rather than spin on a line that reports readable for ever.
        emit log(n == 0 ? QStringLiteral("line: end of input on the pseudo-terminal")
                        : systemError("line: read"));
        if (m_readNotifier)
            m_readNotifier->setEnabled(false);
        return;
    }
}

void PtyLine::write(const QByteArray &bytes)
{
    if (m_master < 0 || bytes.isEmpty())
        return;
    if (m_out.size() + bytes.size() > kMaxPending) {
        if (!m_overflowLogged)
            emit log(QStringLiteral("line: nobody reads the port, output thrown away"));
        m_overflowLogged = true;
        return;
    }
    m_overflowLogged = false;
    const bool wasEmpty = m_out.isEmpty();
    m_out += bytes;
    if (wasEmpty)
        flush();
}

void PtyLine::flush()
{
    while (!m_out.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_out.constData(), size_t(m_out.size()));
        if (n > 0) {
            m_out.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        emit log(systemError("line: write"));
        m_out.clear();
        break;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

}  // namespace rt8sim

#endif  // Q_OS_UNIX
