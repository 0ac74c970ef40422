#include "support/fakeserialcontrol.h"

namespace vorn {

void FakeSerialControl::setPortFailure(int port, OpenFailure failure, const QString &reason)
{
    int result = kErrOpenFailed;
    switch (failure) {
    case OpenFailure::None: result = kOpened; break;
    case OpenFailure::NoSuchPort: result = kErrNoSuchPort; break;
    case OpenFailure::InUse:
    case OpenFailure::PermissionDenied: result = kErrPortInUse; break;
    case OpenFailure::NoDevice:
    case OpenFailure::Other: result = kErrOpenFailed; break;
    }
    m_results[port] = result;
    m_failures[port] = {failure, reason};
}

int FakeSerialControl::open()
{
    openAttempts.append(commPort());
    if (m_open) {
        m_errorText = QStringLiteral("already open");
        m_failure = OpenFailure::InUse;
        return kErrPortInUse;
    }
    const int r = m_results.value(commPort(), kErrNoSuchPort);
    if (r == kOpened) {
        m_open = true;
        m_gone = false;
        ++openCount;
        m_errorText.clear();
        m_failure = OpenFailure::None;
        return r;
    }
    if (m_failures.contains(commPort())) {
        const auto &[failure, reason] = m_failures[commPort()];
        m_failure = failure;
        m_errorText = reason.isEmpty() ? QStringLiteral("fake error %1").arg(r) : reason;
        return r;
    }
    m_failure = r == kErrNoSuchPort ? OpenFailure::NoSuchPort
              : r == kErrPortInUse  ? OpenFailure::InUse : OpenFailure::Other;
    m_errorText = QStringLiteral("fake error %1").arg(r);
    return r;
}

void FakeSerialControl::close()
{
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
    m_gone = true;
    ++closeCount;
    emit portLost(reason);
}

}  // namespace vorn
