#include "cli/stopsignals.h"

#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vorn::cli {

namespace {

#ifdef Q_OS_UNIX
int s_pipe[2] = {-1, -1};

void onSignal(int sig)
{
    const int saved = errno;
    const char c = char(sig);
    [[maybe_unused]] const auto n = ::write(s_pipe[1], &c, 1);
    errno = saved;
}
#else
std::atomic<bool> s_flag{false};

void onSignal(int)
{
    s_flag = true;
}
#endif

}  // namespace

struct StopSignals::Private
{
#ifdef Q_OS_UNIX
    QList<int> signalNumbers;
    std::vector<struct sigaction> old;
    struct sigaction oldPipe{};
    std::unique_ptr<QSocketNotifier> notifier;
    bool installed = false;
#else
    void (*old[2])(int) = {};
    QTimer timer;
#endif
};

StopSignals::StopSignals(const QList<int> &signalNumbers, QObject *parent) : QObject(parent), d(new Private)
{
#ifdef Q_OS_UNIX
    if (::pipe(s_pipe) != 0)
        return;
    for (int fd : s_pipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    d->notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, [this] {
        char c;
        while (::read(s_pipe[0], &c, 1) > 0) {
        }
        emit stopRequested();
    });
    struct sigaction sa{};
    sa.sa_handler = &onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    d->signalNumbers = signalNumbers;
    d->old.resize(size_t(signalNumbers.size()));
    for (qsizetype i = 0; i < signalNumbers.size(); ++i)
        ::sigaction(signalNumbers[i], &sa, &d->old[size_t(i)]);
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &d->oldPipe);
    d->installed = true;
#else
    Q_UNUSED(signalNumbers);
    s_flag = false;
    d->old[0] = std::signal(SIGINT, &onSignal);
    d->old[1] = std::signal(SIGTERM, &onSignal);
    d->timer.setInterval(50);
    connect(&d->timer, &QTimer::timeout, this, [this] {
        if (s_flag.exchange(false))
            emit stopRequested();
    });
    d->timer.start();
#endif
}

StopSignals::~StopSignals()
{
#ifdef Q_OS_UNIX
    if (!d->installed)
        return;
    for (qsizetype i = 0; i < d->signalNumbers.size(); ++i)
        ::sigaction(d->signalNumbers[i], &d->old[size_t(i)], nullptr);
    ::sigaction(SIGPIPE, &d->oldPipe, nullptr);
    d->notifier.reset();
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
#else
    std::signal(SIGINT, d->old[0]);
    std::signal(SIGTERM, d->old[1]);
#endif
}

bool StopSignals::isActive() const
{
#ifdef Q_OS_UNIX
    return d->installed;
#else
    return true;
#endif
}

}  // namespace vorn::cli
