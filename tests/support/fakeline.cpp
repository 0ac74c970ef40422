#include "support/fakeline.h"

namespace vorn {

PortMap FakeLine::ports()
{
    QStringList names;
    for (int p = kFirstPort; p <= kLastPort; ++p)
        names.append(QStringLiteral("/dev/fake%1").arg(p));
    return PortMap(names);
}

int FakeLine::portOf(const QString &name)
{
    static const QString prefix = QStringLiteral("/dev/fake");
    return name.startsWith(prefix) ? name.mid(prefix.size()).toInt() : 0;
}

void FakeLine::open(const QString &name)
{
    const int port = portOf(name);
    openAttempts.append(port);
    if (m_open || m_pending)
        return fail(OpenFailure::InUse, QStringLiteral("already open"));
    m_pending = port;
    if (!deferOpen)
        decide();
}

void FakeLine::finishOpening()
{
    if (m_pending)
        decide();
}

void FakeLine::decide()
{
    const int port = std::exchange(m_pending, 0);
    const auto [failure, reason] = m_ports.value(port, {OpenFailure::NoSuchPort, QString()});
    if (failure == OpenFailure::None) {
        m_open = true;
        m_gone = false;
        ++openCount;
        m_errorText.clear();
        emit opened();
        return;
    }
    fail(failure, reason.isEmpty() ? QStringLiteral("fake error %1").arg(int(failure)) : reason);
}

void FakeLine::close()
{
    m_pending = 0;
    if (m_open)
        ++closeCount;
    m_open = false;
}

bool FakeLine::write(const QByteArray &frame)
{
    if (!m_open) {
        m_errorText = QStringLiteral("port not open");
        return false;
    }
    if (m_failWrites) {
        m_errorText = QStringLiteral("write failed");
        return false;
    }
    written.append(frame);
    return true;
}

void FakeLine::unplug(const QString &reason)
{
    if (!m_open)
        return;
    m_open = false;
    m_gone = true;
    ++closeCount;
    emit lost(reason);
}

}  // namespace vorn
