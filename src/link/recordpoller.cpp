#include "link/recordpoller.h"

namespace vorn {

std::optional<QString> parseFeedbackRecord(const QByteArray &buf, int n)
{
    if (n < 3 || n > buf.size())
        return std::nullopt;
    const auto at = [&](int i) { return static_cast<uchar>(buf[i]); };
    if (at(0) != 'N' || at(n - 2) != '\r' || at(n - 1) != '\n')
        return std::nullopt;
    QString s;
    int i = 1;
    for (;;) {
        if (at(i) == ',') {
            s += QLatin1String("\r\n");
            ++i;
        }
        // The byte after a comma is taken as it is, comma or not.
        s += QChar(at(i));
        ++i;
        if (i > n - 2 || at(i) == '\r')
            break;
    }
    return s;
}

FeedbackPoller::Tick FeedbackPoller::tick(SerialControl &port, QString *text)
{
    const int n = port.inBufferCount();
    if (n <= 0)
        return Tick::Idle;
    if (n != m_lastInCount) {
        m_lastInCount = n;
        return Tick::Noted;
    }
    const auto record = parseFeedbackRecord(port.input(), n);
    port.clearInput();
    m_lastInCount = 0;
    if (!record)
        return Tick::Discarded;
    if (text)
        *text = *record;
    return Tick::Taken;
}

}  // namespace vorn
