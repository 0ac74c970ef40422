#pragma once
// What the gateway tells systemd (a Type=notify service) through libsystemd:
// READY=1 once it is up, STATUS= with how many devices are online, WATCHDOG=1
// from the event loop at half the interval the service manager asks for
// (WatchdogSec), STOPPING=1 when it goes. Outside systemd (no NOTIFY_SOCKET)
// nothing is sent.

#include <QObject>
#include <QString>
#include <QTimer>

namespace vorn::gw {

class ServiceNotifier : public QObject
{
    Q_OBJECT
public:
    // Starts the watchdog's timer when the service manager asks for one.
    explicit ServiceNotifier(QObject *parent = nullptr);

    // READY=1 with the status as it stands; said once.
    void ready();
    // STATUS=, when the count changed.
    void setOnline(int online, int configured);
    // STOPPING=1; the watchdog goes quiet.
    void stopping();

    // The watchdog's interval, 0 when there is none.
    int watchdogMs() const { return m_watchdog.isActive() ? m_watchdog.interval() : 0; }

    static QString statusText(int online, int configured);

private:
    void send(const QString &text);

    QTimer m_watchdog;
    QString m_status;
    bool m_ready = false;
};

}  // namespace vorn::gw
