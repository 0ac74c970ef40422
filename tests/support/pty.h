#pragma once
// A pseudo-terminal whose master side plays the device.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

// The slave is held open here too, so the master sees no hang-up while the
// control is closed. Other programs running at the same time (a simulator test
// that replugs its line) may still open the path of a pty they have closed;
// the kernel hands out the lowest free number first, so a few numbers are held
// unused and the pair above them is used.
struct Pty
{
    int shield[8];
    int master = -1, slave = -1;
    QString path;

    Pty()
    {
        for (int &fd : shield)
            fd = posix_openpt(O_RDWR | O_NOCTTY);
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        path = QString::fromLocal8Bit(ptsname(master));
        slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
        termios t{};
        if (slave >= 0 && tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
    }
    ~Pty()
    {
        hangUp();
        for (int fd : shield)
            ::close(fd);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool ok() const { return master >= 0 && slave >= 0; }
    void hangUp()
    {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
        master = slave = -1;
    }
    bool send(const QByteArray &b) const { return ::write(master, b.constData(), b.size()) == b.size(); }
    // Up to n bytes the program wrote, waiting at most timeoutMs for them.
    QByteArray receive(int n, int timeoutMs) const
    {
        QByteArray got(n, '\0');
        int have = 0;
        QDeadlineTimer deadline(timeoutMs);
        pollfd p{master, POLLIN, 0};
        while (have < n && !deadline.hasExpired())
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN))
                have += std::max(0, int(::read(master, got.data() + have, n - have)));
        return got.left(have);
    }
    // Bytes sent to the program that wait in the driver, not read by anyone.
    int waitingInDriver() const
    {
        int n = 0;
        return ::ioctl(slave, FIONREAD, &n) == 0 ? n : -1;
    }
    // Waits, without running any event loop, until the driver holds n bytes.
    bool waitInDriver(int n, int timeoutMs = 5000) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (waitingInDriver() < n && !deadline.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return waitingInDriver() >= n;
    }
};
