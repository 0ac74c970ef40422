#pragma once
// Driving the session from a test as the event loop does, through what it
// exposes to everyone: its signals, what waits for its record poller, and the
// transport's port object.

#include "protocol/record.h"
#include "session/devicesession.h"

#include <QIODevice>
#include <QSignalSpy>
#include <QTest>

namespace vorn {

// Waits, with a bound, until the record poller has taken or thrown away what
// waits for it (it runs): true once nothing waits any more.
inline bool pollerTook(const DeviceSession &session)
{
    return QTest::qWaitFor([&session] { return !session.recordInputPending(); }, 10000);
}

// Whether the record poller stands still: what waits for it (the caller gave
// it something) is still there, untouched, after three of its intervals,
// where a running poller takes or throws it away within two. A busy machine
// can make this hold for a running poller, never fail for a still one.
inline bool pollerStill(DeviceSession &session)
{
    QSignalSpy looked(&session, &DeviceSession::recordReceived);
    const bool waiting = session.recordInputPending();
    QTest::qWait(3 * kPollIntervalMs);
    return waiting && looked.isEmpty() && session.recordInputPending();
}

// What a transport's port object holds and has not handed up yet: the bytes
// waiting in its serial port or socket.
inline qint64 heldByPort(const QObject &transport)
{
    qint64 held = 0;
    for (const QIODevice *device : transport.findChildren<QIODevice *>())
        if (device->isOpen())
            held += device->bytesAvailable();
    return held;
}

}  // namespace vorn
