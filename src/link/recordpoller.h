#pragma once
// The feedback record poller: while the device streams target values it sends
// text records ("N", comma-separated fields, CR LF). Every 200 ms the window
// calls tick(); a record is taken once two ticks in a row see the same number
// of waiting bytes, shown one field per line, and the input emptied.

#include "link/serialcontrol.h"

#include <QString>
#include <optional>

namespace vorn {

inline constexpr int kPollIntervalMs = 200;

// The text to show for the first n bytes of buf, or nullopt when they are not
// a record (too short, no leading "N", no CR LF at the end). Only the first
// record is shown; fields are separated by CR LF with none after the last.
std::optional<QString> parseFeedbackRecord(const QByteArray &buf, int n);

class FeedbackPoller
{
public:
    enum class Tick { Idle, Noted, Taken, Discarded };
    // One timer tick. On Taken, *text holds what to show.
    Tick tick(SerialControl &port, QString *text);
    int lastInCount() const { return m_lastInCount; }
    void reset() { m_lastInCount = 0; }

private:
    int m_lastInCount = 0;
};

}  // namespace vorn
