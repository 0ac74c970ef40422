#include "gw/servicenotifier.h"

#include <QCoreApplication>

#ifdef VORNRT8_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace vorn::gw {

ServiceNotifier::ServiceNotifier(QObject *parent) : QObject(parent)
{
#ifdef VORNRT8_HAVE_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        // Twice in each interval the service manager allows: a late timer
        // on a busy machine still comes in time.
        m_watchdog.setInterval(int(std::max<uint64_t>(usec / 2000, 1)));
        m_watchdog.setTimerType(Qt::PreciseTimer);
        connect(&m_watchdog, &QTimer::timeout, this, [this] { send(QStringLiteral("WATCHDOG=1")); });
        m_watchdog.start();
    }
#endif
}

QString ServiceNotifier::statusText(int online, int configured)
{
    return tr("%1 台设备在线（共 %2 台）").arg(online).arg(configured);
}

void ServiceNotifier::ready()
{
    if (m_ready)
        return;
    m_ready = true;
    send(m_status.isEmpty() ? QStringLiteral("READY=1") : QStringLiteral("READY=1\nSTATUS=") + m_status);
}

void ServiceNotifier::setOnline(int online, int configured)
{
    const QString status = statusText(online, configured);
    if (status == m_status)
        return;
    m_status = status;
    send(QStringLiteral("STATUS=") + status);
}

void ServiceNotifier::stopping()
{
    m_watchdog.stop();
    send(QStringLiteral("STOPPING=1"));
}

void ServiceNotifier::send(const QString &text)
{
#ifdef VORNRT8_HAVE_SYSTEMD
    sd_notify(0, text.toUtf8().constData());
#else
    Q_UNUSED(text);
#endif
}

}  // namespace vorn::gw
