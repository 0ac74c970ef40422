#pragma once
// The feedback record poller: while the device streams target values it sends
// text records. Every 200 ms the session calls tick() on the bytes waiting; a
// record is taken once two ticks in a row see the same number of waiting
// bytes, and the waiting bytes are emptied.

#include "protocol/record.h"

#include <QByteArray>
#include <QString>

namespace vorn {

class FeedbackPoller
{
public:
    enum class Tick { Idle, Noted, Taken, Discarded };
    // One timer tick over the waiting bytes. On Taken, *text holds what to
    // show; on Taken and Discarded, *bytes what was taken from them.
    Tick tick(QByteArray &waiting, QString *text, QByteArray *bytes = nullptr);
    // How many bytes waited at the last tick that took nothing; 0 after a
    // record was taken or discarded.
    int countAtLastTick() const { return m_countAtLastTick; }

private:
    int m_countAtLastTick = 0;
};

}  // namespace vorn
