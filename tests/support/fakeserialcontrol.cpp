#include "support/fakeserialcontrol.h"

namespace vorn {

bool FakeSerialControl::open()
{
    openAttempts.append(commPort());
    if (m_open) {
        m_errorText = QStringLiteral("already open");
        m_failure = OpenFailure::InUse;
        return false;
    }
    const auto [failure, reason] = m_ports.value(commPort(), {OpenFailure::NoSuchPort, QString()});
    m_failure = failure;
    if (failure == OpenFailure::None) {
        m_open = true;
        m_gone = false;
        ++openCount;
        m_errorText.clear();
        return true;
    }
    m_errorText = reason.isEmpty() ? QStringLiteral("fake error %1").arg(int(failure)) : reason;
    return false;
}

void FakeSerialControl::close()
{
    if (m_open)
        ++closeCount;
    m_open = false;
}

QString FakeSerialControl::devicePath(int port) const
{
    return m_ports.contains(port) ? QStringLiteral("/dev/fake%1").arg(port) : QString();
}

bool FakeSerialControl::output(const QByteArray &frame)
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

void FakeSerialControl::unplug(const QString &reason)
{
    if (!m_open)
        return;
    m_open = false;
    m_gone = true;
    ++closeCount;
    emit portLost(reason);
}

}  // namespace vorn
