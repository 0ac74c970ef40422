#include "session/recordpoller.h"

namespace vorn {

FeedbackPoller::Tick FeedbackPoller::tick(SerialControl &port, QString *text, QByteArray *bytes)
{
    const int n = port.inBufferCount();
    if (n <= 0)
        return Tick::Idle;
    if (n != m_lastInCount) {
        m_lastInCount = n;
        return Tick::Noted;
    }
    const QByteArray buf = port.input();
    const auto record = parseFeedbackRecord(buf, n);
    if (bytes)
        *bytes = buf.left(n);
    port.clearInput();
    m_lastInCount = 0;
    if (!record)
        return Tick::Discarded;
    if (text)
        *text = *record;
    return Tick::Taken;
}

}  // namespace vorn
