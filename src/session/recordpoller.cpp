#include "session/recordpoller.h"

namespace vorn {

FeedbackPoller::Tick FeedbackPoller::tick(QByteArray &waiting, QString *text, QByteArray *bytes)
{
    const int n = int(waiting.size());
    if (n <= 0)
        return Tick::Idle;
    if (n != m_countAtLastTick) {
        m_countAtLastTick = n;
        return Tick::Noted;
    }
    const auto record = parseFeedbackRecord(waiting, n);
    if (bytes)
        *bytes = waiting;
    waiting.clear();
    m_countAtLastTick = 0;
    if (!record)
        return Tick::Discarded;
    if (text)
        *text = *record;
    return Tick::Taken;
}

}  // namespace vorn
