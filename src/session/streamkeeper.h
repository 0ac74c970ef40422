#pragma once
// Keeps one device streaming for as long as the program runs, with nobody
// watching: opens its line, makes sure the device on it is the one meant,
// asks for its live values, notices a lost line and a device that fell
// silent, and tries again 1, 2, 4 ... 60 s apart, for ever. The gateway keeps
// each configured device with one, rt8ctl stream --reconnect its one.
//
// Every opening, the first and each one after a loss, serial and network
// alike, runs DeviceSession::identify(): the stream told to stop, the line
// left to fall quiet (what a device server kept meanwhile is thrown away),
// the connection test at the configured number; only then are values asked
// for. The first answer fixes the device (number and digit count, or the
// digit count given beforehand); a later answer from anything else is
// another device, never taken, also when the number is 255.
//
// With readTable set, every identification (the first and each after a
// reopening) is followed by a read-back of the table before values are
// asked for: tableRead() with the ten blocks, or tableNotRead() when the
// read-back is refused or unanswered; the values are asked for either way.

#include "session/devicesession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <optional>

namespace vorn {

class StreamKeeper : public QObject
{
    Q_OBJECT
public:
    // In this order they are the numbers the gateway shows for them.
    enum class Status {
        Starting,      // not yet tried, or tried and nothing decided
        Online,        // values of the device meant arrive
        Silent,        // the line is open and the device answered, but no values for a while
        Lost,          // the line is gone or does not open
        NoAnswer,      // the connection test goes unanswered
        OtherDevice,   // a device answers that is not the one meant
    };

    struct Settings
    {
        int port = 0;                        // the port number to open
        quint8 address = 255;                // the number the device is asked by
        FeedbackMode mode = FeedbackMode::Raw;
        std::optional<quint8> digits;        // the digit count the device must report
        int silenceMs = 5000;                // no values this long: silent
        int firstRetryMs = 1000;
        int lastRetryMs = 60000;
        bool readTable = false;              // read the table back after each identification
        int readBackTimeoutMs = 2000;        // how long its answer is waited for
    };

    // The keeper does not own the session; it turns the session's own
    // reconnecting off and does its own.
    StreamKeeper(DeviceSession *session, const Settings &settings, QObject *parent = nullptr);

    // The first try, now.
    void start();
    // No more tries; a device streaming is told to stop. The line stays open
    // for the caller to let the request go out and close it.
    void stop();

    Status status() const { return m_status; }
    // The device fixed by the first answer, once there was one.
    std::optional<DeviceIdentity> device() const { return m_device; }
    // The wait before the next try, while one is due.
    int nextTryMs() const { return m_nextTryMs; }
    const Settings &settings() const { return m_settings; }

    // "online", "silent", "lost", "no-answer", "other-device" ("starting").
    static QString word(Status status);

signals:
    // why: as the operator reads it (empty for online).
    void statusChanged(vorn::StreamKeeper::Status status, const QString &why);
    // The values of the device meant, in the mode asked for.
    void values(const vorn::LiveValues &values);
    // Once: the first try has had its outcome (values asked for, or failed).
    void tried();
    // With readTable: the ten channel blocks (100 bytes) the device answered
    // the read-back after an identification with, or why there are none.
    void tableRead(const QByteArray &blocks);
    void tableNotRead(const QString &why);

private:
    enum class Phase { Waiting, Opening, Identifying, ReadingTable, Streaming, Stopped };

    void attempt();
    // The port is open: make sure of the device on it.
    void identifyDevice();
    void onIdentified(const DeviceIdentity &device);
    void onTableRead(const QByteArray &blocks);
    void onReadBackTimeout();
    // Asks for the values: the device is identified (and its table read).
    void startStreaming();
    void onNotIdentified(IdentityFailure failure, const DeviceIdentity &found, const QString &why);
    void onValues(const LiveValues &live);
    void onLost(const QString &reason);
    void onSilenceTick();
    // Sets the status and tries again after the back-off.
    void fail(Status status, const QString &why);
    void setStatus(Status status, const QString &why);
    void markTried();
    QString refusalText() const;

    DeviceSession *m_session;
    Settings m_settings;
    Phase m_phase = Phase::Waiting;
    Status m_status = Status::Starting;
    std::optional<DeviceIdentity> m_device;
    // The device answered since the line was opened: a later silence is the
    // device's, not an unanswered line's.
    bool m_answered = false;
    bool m_tried = false;
    QTimer m_retry;
    QTimer m_silenceTick;
    QTimer m_readBackTimer;
    QElapsedTimer m_lastValues;
    int m_retryMs;
    int m_nextTryMs = 0;
    Refusal m_refusal;
};

}  // namespace vorn

Q_DECLARE_METATYPE(vorn::StreamKeeper::Status)
