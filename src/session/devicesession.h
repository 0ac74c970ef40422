#pragma once
// The device session: one serial line to one device number, and every rule of
// talking to the device over it. It searches and opens the port, holds the
// device number, builds and sends each request, keeps what the last request
// expects and empties the input in the order each request needs, receives
// replies, polls feedback records, keeps the feedback mode and the
// smart-setting capture, and notices a lost line.
//
// Receiving: the line hands up bytes as they come. While replies are
// expected they go through the frame splitter, and every whole valid reply is
// taken, also several that arrive together or with other bytes. While text
// records are expected (or nothing is) the bytes wait for the record poller,
// which takes a record once they have stopped growing for one 200 ms tick. Front ends (the window, rt8ctl) call its operations and
// show what it reports; every frame in and out passes through here.

#include "protocol/channeltable.h"
#include "protocol/smartsetting.h"
#include "protocol/reply.h"
#include "protocol/requests.h"
#include "link/line.h"
#include "link/portmap.h"
#include "protocol/splitter.h"
#include "session/livevalues.h"
#include "session/recordpoller.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <array>
#include <optional>

namespace vorn {

Q_DECLARE_LOGGING_CATEGORY(lcLine)

// What the last request left the receiving side waiting for. Records: text
// records for the poller; Nothing: the bytes wait for nobody. The three reply
// states split the input into replies and take each whole valid one, of any
// of the three codes (a connection test made while raw values stream still
// shows them).
enum class Awaiting { Nothing, Records, Discovery, ReadBack, RawValues };

// The state of the line: closed, open, lost underneath (adapter pulled),
// lost and watched for the same device to come back, or lost and not resumed
// because what came back at the path was not shown to be the same device
// (another adapter, another answer, no answer): the port is closed again and
// the operator decides.
enum class LineState { Closed, Open, Lost, Reconnecting, NotResumed };

// A device as its connection-test answer describes it.
struct DeviceIdentity
{
    quint8 number = 0;
    quint8 digits = 0;
    bool operator==(const DeviceIdentity &) const = default;
};

// What a connection-test answer must show for the device to be the one
// meant: its number and its digit count, each where it is known.
struct IdentityRule
{
    std::optional<quint8> number;
    std::optional<quint8> digits;
    bool admits(const DeviceIdentity &found) const
    {
        return (!number || *number == found.number) && (!digits || *digits == found.digits);
    }
};

// Why identify() found no device it may take.
enum class IdentityFailure { NoAnswer, OtherDevice };

// A request that was not sent, or a port that did not open: the message and
// its detail, as the operator is to read them.
struct Refusal
{
    QString text;
    QString detail;
    // A field the operator can correct (shown with a warning sign).
    bool badField = false;
};

class DeviceSession : public QObject
{
    Q_OBJECT
public:
    // The ports by number, and the lines that reach them: a port named by a
    // network URL through network (when given), every other through serial.
    // The session owns neither line.
    DeviceSession(PortMap ports, Line *serial, Line *network = nullptr, QObject *parent = nullptr);
    ~DeviceSession() override;

    // Bytes kept for the record poller at most: a line that talks without
    // pause while nothing takes it does not fill the memory.
    static constexpr int kRecordInputLimit = 1024;

    // ---- the line
    // Tries ports 1 to 16 in turn; the first that opens (or fails for a
    // reason other than not existing, being in use, being refused to this
    // user, or having no device behind it) is the one. portsSearched(number)
    // tells it, the port left open, or portsSearched(0) after refusing with
    // "没有可以使用的通讯端口" (with the reason for any port refused to this
    // user). Serial ports are tried at once; a network port is tried without
    // waiting, and the search goes on when its line has opened or failed.
    void searchPorts();
    bool isSearching() const { return m_searchAt >= kFirstPort && m_searchAt <= kLastPort; }
    // Closes the port if open, then opens port number (1 to 16) at
    // 38400,n,8,1. False (and a refusal) when it did not open; true when it
    // opened (portOpened()) or is still opening (isOpening(): portOpened(),
    // or a refusal and portOpenFailed(), follows).
    bool openPort(int number);
    bool isOpening() const { return m_opening == Opening::User; }
    // Why the last opening failed, in the line's terms and the system's words.
    Line::OpenFailure lastOpenFailure() const { return m_openFailure; }
    QString lastOpenFailureText() const { return m_openFailureText; }
    // Waits until what was written has left the program and the driver (a
    // front end that ends right after a request); false when some is left.
    bool waitUntilWritten(int msecs) { return isOpen() && m_line->waitUntilWritten(msecs); }
    // Bytes wait for the record poller that it has not taken: they kept
    // coming up to its last tick, or were no record.
    bool recordInputPending() const { return !m_waiting.isEmpty(); }
    // Closes the port and stops polling.
    void close();
    bool isOpen() const { return m_line && m_line->isOpen(); }
    LineState lineState() const { return m_state; }
    // After a lost line, watch (twice a second, from the moment of the loss)
    // for the same device path to come back and make sure it is the same
    // device: the adapter's USB serial number where the system reports one,
    // then a connection test of the session's own (no discovered() for it;
    // the device number stays as it is) whose answer must match the device
    // known before the loss, when one was known. Only then is the line open
    // again and the feedback that was on asked for again; otherwise the port
    // is closed and the line NotResumed. On by default.
    void setAutoReconnect(bool on);
    bool autoReconnect() const { return m_autoReconnect; }
    int portNumber() const { return m_number; }
    // The device path or URL behind a port number, as it may be shown ("" when
    // there is none).
    QString devicePath(int number) const;
    // Gives a port number a name of the operator's, a network URL; "" gives
    // it back its own device. Takes effect at the next opening.
    void setPortName(int number, const QString &name);
    // Why the line was not resumed (LineState::NotResumed), as the operator
    // reads it, and whether the reason was that nothing answered.
    QString notResumedWhy() const { return m_notResumedWhy; }
    bool notResumedForSilence() const { return m_notResumedForSilence; }

    // Makes sure which device is on the open line before anything else is
    // asked of it: a stream is told to stop, whatever arrives is thrown away
    // until the line has been quiet for kCheckQuietMs (values a device server
    // kept while nobody was connected go with it), then the connection test
    // at the device number in use, up to kCheckTries times. The answer must
    // satisfy rule: identified(found), or notIdentified(why). Nothing the
    // operator works with changes (no discovered(), the number stays), and
    // the operator's requests are refused meanwhile. False (and a refusal)
    // when the line is not open.
    bool identify(const IdentityRule &rule);

    // Checking a device: what is sent and how long each step waits.
    static constexpr int kCheckQuietMs = 200;    // of silence after telling a stream to stop
    static constexpr int kCheckQuietLimitMs = 3000;  // a line that never falls quiet is tested all the same
    static constexpr int kCheckAnswerMs = 1000;  // for each connection test's answer
    static constexpr int kCheckTries = 3;        // connection tests before giving up
    // Reconnection ticks to wait for the system to report an adapter's serial
    // number after its device path appeared.
    static constexpr int kSerialWaitTicks = 6;

    // ---- state
    quint8 ledId() const { return m_ledId; }
    void setLedId(quint8 number);
    FeedbackMode feedbackMode() const { return m_mode; }

    // ---- requests: each sends one frame to the device number (the
    // renumbering to 255) and returns true, or refuses, sending nothing.
    bool connectionTest();
    // The current device number becomes the device's number, with this
    // display-digit count.
    bool renumber(quint8 digitCount);
    bool download(const ChannelTable &table);
    bool readBack();
    bool setFeedback(FeedbackMode mode);
    // Arms the capture of the low (CaptureState::kLow) or high point of a
    // channel from the next raw-value reply. Sends nothing.
    void armCapture(int point, int channel);
    bool smartSetting(int channel, const ChannelTexts &row);
    bool setDisplayMode(int mode);
    bool showNumber(const NumberDisplay &request);
    bool showCode(const CodeDisplay &request);
    bool setPower(bool on);
    bool setClock(const QDateTime &localTime);
    // A request the front end could not build from the operator's field
    // (session/requestfields.h): refused like a request with a bad field,
    // nothing sent.
    void refuseField(const QString &why);

signals:
    // Replies and records taken.
    void discovered(quint8 number, quint8 digits);
    void tableRead(const std::array<vorn::DecodedChannel, vorn::kChannels> &rows, const QByteArray &blocks);
    // Live values, raw or target, as they come.
    void liveValues(const vorn::LiveValues &values);
    // Every frame written, every receive event's bytes with what became of
    // them, every record looked at (taken, or discarded with why).
    void frameSent(const QByteArray &frame);
    void replyReceived(const QByteArray &bytes, const vorn::ReplyVerdict &verdict);
    void recordReceived(const QByteArray &bytes, bool taken, const QString &why);
    // The line.
    void portOpened(int number, const QString &path);
    // An openPort() that went on without waiting did not open (the refusal
    // came first).
    void portOpenFailed(int number);
    // The outcome of searchPorts(): the port found, or 0.
    void portsSearched(int number);
    void portClosed();
    // The open line failed underneath (adapter pulled); told once per opening.
    void portLost(const QString &reason);
    // The lost path is there again and was opened to check the device
    // behind it; nothing is resumed yet.
    void checkingDevice(int number, const QString &path);
    // The lost line came back and was opened again (portOpened comes first),
    // with the device that answered the check.
    void reconnected(int number, const QString &path, const vorn::DeviceIdentity &device);
    // The outcome of identify(): the device on the line is the one meant, or
    // not (no answer, or another device: why says which, as the operator
    // reads it). The line stays open either way.
    void identified(const vorn::DeviceIdentity &device);
    void notIdentified(vorn::IdentityFailure failure, const vorn::DeviceIdentity &found, const QString &why);
    // What came back was not resumed, and why; the port is closed.
    void notResumed(const QString &why);
    void lineStateChanged(vorn::LineState state);
    // The device number and the feedback mode, when they change.
    void ledIdChanged(quint8 number);
    void feedbackModeChanged(vorn::FeedbackMode mode);
    // A request not sent, a port not opened.
    void refused(const vorn::Refusal &why);

private:
    // What a reply taken holds, applied.
    void take(const DiscoveryReply &reply);
    void take(const ReadBackReply &reply);
    void take(const RawValuesReply &reply);

    void onReceived(const QByteArray &bytes);
    // The outcome of an opening, from the line.
    void onOpened();
    void onOpenFailed(Line::OpenFailure kind, const QString &text);
    void searchNext();
    Line *lineFor(int number) const;
    void takeReplies(const QByteArray &bytes);
    // Empties the input, here and by the line: whatever waits arrived before
    // the request about to be written, or belongs to a line being closed.
    void discardInput();
    void expect(Awaiting what);
    void onPollTick();
    void onLineLost(const QString &reason);
    void tryReconnect();
    void startCheck(bool tellStop);
    void sendCheck();
    void onCheckTimer();
    void checkFailed(IdentityFailure failure, const DeviceIdentity &found, const QString &why);
    void checkAnswer(quint8 number, quint8 digits);
    void resume(const DeviceIdentity &found);
    void notResume(const QString &why, bool silence);
    void cancelCheck();
    void setState(LineState state);
    bool send(const QByteArray &frame, const QString &failText = {});
    // A request whose answer must stand alone: what came before it is thrown
    // away, here and by the line, right before it is written.
    bool sendAfresh(const QByteArray &frame);
    // Writes a frame of the session's own (checking a device): told like any
    // frame sent, but a failure refuses nothing (the loss follows). afresh:
    // the input is emptied first.
    bool put(const QByteArray &frame, bool afresh = false);
    QByteArray frame(quint8 code, const QByteArray &payload) const;
    void refuse(const QString &text, const QString &detail = {}, bool badField = false);

    PortMap m_ports;
    const PortMap m_systemPorts;
    Line *m_serial;
    Line *m_network;
    Line *m_line = nullptr;   // the line of the port in use
    int m_number = 1;
    // What the opening under way is for.
    enum class Opening { None, User, Search, Reconnect };
    Opening m_opening = Opening::None;
    bool m_inOpen = false;      // inside the line's open()
    int m_searchAt = 0;         // the port the search tries
    QStringList m_searchDenied;
    Line::OpenFailure m_openFailure = Line::OpenFailure::None;
    QString m_openFailureText;
    QTimer *m_pollTimer;
    QTimer *m_reconnectTimer;
    QTimer *m_checkTimer;
    LineState m_state = LineState::Closed;
    bool m_autoReconnect = true;
    quint8 m_ledId = 255;
    FeedbackMode m_mode = FeedbackMode::Off;
    FeedbackPoller m_poller;
    Awaiting m_awaiting = Awaiting::Nothing;
    FrameSplitter m_splitter{FrameLayout::Reply};
    QByteArray m_waiting;    // for the record poller
    // Counts the emptyings: a reply's listener that makes a request which
    // empties the input (the stream keeper asks for the table on a device's
    // answer) ends the taking of pieces cut before it.
    quint64 m_discards = 0;
    bool m_afresh = false;    // the request being sent empties the input first
    CaptureState m_capture;
    bool m_lostTold = false;
    // Checking a device that came back.
    enum class Check { None, Quiet, Answer };
    Check m_check = Check::None;
    // Whose check: a reconnection's (resume or not) or identify()'s.
    bool m_checkForIdentify = false;
    IdentityRule m_checkRule;
    QElapsedTimer m_quietSince;   // when the quiet wait began
    int m_checkTries = 0;
    Awaiting m_awaitingBefore = Awaiting::Nothing;
    int m_serialWaits = 0;
    QString m_adapterSerial;   // of the adapter opened last, "" when not reported
    // The device a reconnection must find again: the last connection-test
    // answer, a renumbering, or the device a reconnection found. Forgotten
    // when the operator turns to another device number (255 excepted).
    std::optional<DeviceIdentity> m_known;
    QString m_notResumedWhy;
    bool m_notResumedForSilence = false;
};

}  // namespace vorn

Q_DECLARE_METATYPE(vorn::Refusal)
Q_DECLARE_METATYPE(vorn::LineState)
Q_DECLARE_METATYPE(vorn::FeedbackMode)
Q_DECLARE_METATYPE(vorn::ReplyVerdict)
Q_DECLARE_METATYPE(vorn::LiveValues)
Q_DECLARE_METATYPE(vorn::DeviceIdentity)
Q_DECLARE_METATYPE(vorn::IdentityFailure)
