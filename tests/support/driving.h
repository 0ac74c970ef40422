#pragma once
// Driving the session from a test as the event loop does, through what it
// exposes to everyone: its timers and the transport's port object.

#include <QIODevice>
#include <QMetaObject>
#include <QSignalSpy>
#include <QTimer>

namespace vorn {

// The session's record poller timer.
inline QTimer *pollTimer(const QObject &session)
{
    return session.findChild<QTimer *>(QStringLiteral("GetRsTimer"));
}

// One tick of the record poller, as its timer gives it (running or not).
inline void pollTick(const QObject &session)
{
    QMetaObject::invokeMethod(pollTimer(session), "timeout", Qt::DirectConnection);
}

// The bytes that wait in the session for the record poller, as two ticks of
// it take or discard them (then none wait any more).
inline qsizetype pollerBytes(QObject &session)
{
    QSignalSpy records(&session, SIGNAL(recordReceived(QByteArray, bool, QString)));
    pollTick(session);
    pollTick(session);
    qsizetype bytes = 0;
    for (const QList<QVariant> &call : std::as_const(records))
        bytes += call.at(0).toByteArray().size();
    return bytes;
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
