#include "link/fakeserialcontrol.h"

namespace vorn {

int FakeSerialControl::open()
{
    openAttempts.append(commPort());
    if (m_open) {
        m_errorText = QStringLiteral("already open");
        return kErrPortInUse;
    }
    const int r = m_results.value(commPort(), kErrNoSuchPort);
    if (r == kOpened) {
        m_open = true;
        ++openCount;
        m_errorText.clear();
    } else {
        m_errorText = QStringLiteral("fake error %1").arg(r);
    }
    return r;
}

void FakeSerialControl::close()
{
    clearInput();
    if (m_open)
        ++closeCount;
    m_open = false;
}

QString FakeSerialControl::devicePath(int port) const
{
    return m_results.contains(port) ? QStringLiteral("/dev/fake%1").arg(port) : QString();
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
    ++closeCount;
    emit portLost(reason);
}

}  // namespace vorn
