#include "session/devicesession.h"

#include "control/requests.h"
#include "link/frame.h"
#include "link/portmap.h"
#include "session/messages.h"

#include <QMetaObject>
#include <utility>


namespace vorn {

Q_LOGGING_CATEGORY(lcLine, "vornrt8.line", QtInfoMsg)

DeviceSession::DeviceSession(SerialControl *port, QObject *parent)
    : QObject(parent), m_port(port), m_pollTimer(new QTimer(this)), m_reconnectTimer(new QTimer(this))
{
    m_reconnectTimer->setInterval(500);
    connect(m_reconnectTimer, &QTimer::timeout, this, &DeviceSession::tryReconnect);
    m_pollTimer->setObjectName(QStringLiteral("GetRsTimer"));
    m_pollTimer->setInterval(kPollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &DeviceSession::onPollTick);
    connect(m_port, &SerialControl::received, this, &DeviceSession::onReceived);
    connect(m_port, &SerialControl::portLost, this, &DeviceSession::onPortLost);
}

DeviceSession::~DeviceSession()
{
    if (m_port->isOpen())
        m_port->close();
}

// ---------------------------------------------------------------- the line

int DeviceSession::searchPorts()
{
    // A port that does not exist, is held by another program or has no
    // device behind it (an input/output error) is passed over; one this user
    // may not open is passed over too, but remembered, so that a search that
    // finds nothing can say why.
    QStringList denied;
    for (int p = kFirstPort; p <= kLastPort; ++p) {
        m_port->setCommPort(p);
        const int r = m_port->open();
        const auto why = m_port->lastFailure();
        if (why == SerialControl::OpenFailure::PermissionDenied)
            denied.append(permissionAdvice(m_port->devicePath(p), m_port->errorText()));
        if (r == SerialControl::kErrNoSuchPort || r == SerialControl::kErrPortInUse
            || why == SerialControl::OpenFailure::NoDevice) {
            m_port->close();
            continue;
        }
        return p;
    }
    refuse(msg::NoPort(), denied.join(QLatin1String("\n\n")));
    return 0;
}

void DeviceSession::setLedId(quint8 number)
{
    if (number == m_ledId)
        return;
    m_ledId = number;
    emit ledIdChanged(number);
}

void DeviceSession::setState(LineState state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit lineStateChanged(state);
}

void DeviceSession::setAutoReconnect(bool on)
{
    m_autoReconnect = on;
    if (!on && m_reconnectTimer->isActive()) {
        m_reconnectTimer->stop();
        setState(LineState::Lost);
    } else if (on && m_state == LineState::Lost) {
        m_reconnectTimer->start();
        setState(LineState::Reconnecting);
    }
}

bool DeviceSession::openPort(const QString &text)
{
    m_reconnectTimer->stop();
    // A port the search left open was never announced as open.
    if (m_port->isOpen()) {
        m_port->close();
        if (m_state == LineState::Open)
            emit portClosed();
    }
    // Whatever waited belongs to the line that is being closed.
    discardInput();
    setState(LineState::Closed);
    const auto number = readStrictByte(text);
    if (!number || *number < kFirstPort || *number > kLastPort) {
        refuse(msg::OpenError(), tr("“%1”不是 1 到 16 之间的端口号。").arg(text));
        return false;
    }
    m_port->setCommPort(*number);
    m_port->setSettings(QStringLiteral("38400,n,8,1"));
    m_port->setOutBufferSize(2048);
    if (m_port->open() != SerialControl::kOpened) {
        const QString path = m_port->devicePath(*number);
        QString detail;
        if (m_port->lastFailure() == SerialControl::OpenFailure::PermissionDenied)
            detail = permissionAdvice(path, m_port->errorText());
        else if (path.isEmpty())
            detail = m_port->errorText();
        else
            detail = tr("%1：%2", "device path: system reason").arg(path, m_port->errorText());
        refuse(msg::OpenError(), detail);
        return false;
    }
    m_lostTold = false;
    setState(LineState::Open);
    emit portOpened(*number, m_port->devicePath(*number));
    return true;
}

void DeviceSession::close()
{
    m_pollTimer->stop();
    m_reconnectTimer->stop();
    if (m_port->isOpen()) {
        m_port->close();
        emit portClosed();
    }
    discardInput();
    setState(LineState::Closed);
}

void DeviceSession::onPortLost(const QString &reason)
{
    if (m_lostTold)
        return;
    m_lostTold = true;
    qCWarning(lcLine, "line lost: %s", qUtf8Printable(reason));
    setState(LineState::Lost);
    emit portLost(reason);
    if (m_autoReconnect && m_state == LineState::Lost) {
        m_reconnectTimer->start();
        setState(LineState::Reconnecting);
    }
}

void DeviceSession::tryReconnect()
{
    // Nothing is opened until the device path is there again: no attempt
    // spins on a missing adapter.
    const int number = m_port->commPort();
    if (!m_port->deviceExists(number))
        return;
    const QString path = m_port->devicePath(number);
    if (m_port->open() != SerialControl::kOpened)
        return;
    m_reconnectTimer->stop();
    m_lostTold = false;
    qCInfo(lcLine, "line back: port %d, %s", number, qUtf8Printable(path));
    setState(LineState::Open);
    emit portOpened(number, path);
    emit reconnected(number, path);
    // The device may have lost power with the adapter: ask again for what
    // it was streaming.
    if (m_mode != FeedbackMode::Off)
        setFeedback(m_mode);
}

// ---------------------------------------------------------------- sending

void DeviceSession::refuse(const QString &text, const QString &detail, bool badField)
{
    emit refused(Refusal{text, detail, badField});
}

QByteArray DeviceSession::frame(quint8 code, const QByteArray &payload) const
{
    return buildFrame(m_ledId, code, payload);
}

bool DeviceSession::send(const QByteArray &f, const QString &failText)
{
    // Requests with a message of their own (download, smart setting) give it
    // with the reason as detail; the others say what went wrong.
    if (!m_port->isOpen()) {
        refuse(failText.isEmpty() ? msg::NotOpen() : failText, failText.isEmpty() ? QString() : msg::NotOpen());
        return false;
    }
    m_writing = true;
    const bool written = m_port->output(f);
    m_writing = false;
    if (!m_incoming.isEmpty())
        QMetaObject::invokeMethod(this, [this] { onReceived({}); }, Qt::QueuedConnection);
    if (!written) {
        refuse(failText.isEmpty() ? msg::WriteFailed() : failText, m_port->errorText());
        return false;
    }
    emit frameSent(f);
    return true;
}

bool DeviceSession::connectionTest()
{
    if (!send(frame(cmd::Discover, QByteArray(1, char(m_ledId)))))
        return false;
    expect(Awaiting::Discovery);
    discardInput();
    return true;
}

bool DeviceSession::renumber(const QString &digitCount)
{
    const Payload p = changeNumberPayload(m_ledId, digitCount);
    if (!p.ok()) {
        refuse(p.error, {}, true);
        return false;
    }
    return send(buildFrame(kBroadcast, cmd::SetNumber, p.bytes));
}

bool DeviceSession::download(const ChannelTable &table)
{
    int bad = -1;
    const auto payload = encodeTable(table, &bad);
    if (!payload) {
        refuse(msg::DownloadError(), tr("%1# 通道的参数无效，没有发送任何数据。").arg(bad));
        return false;
    }
    return send(frame(cmd::Download, *payload), msg::DownloadError());
}

bool DeviceSession::readBack()
{
    if (!send(frame(cmd::ReadBack, QByteArray(1, '\0'))))
        return false;
    m_pollTimer->stop();
    expect(Awaiting::ReadBack);
    discardInput();
    return true;
}

bool DeviceSession::setFeedback(FeedbackMode mode)
{
    if (!send(frame(cmd::Feedback, QByteArray(1, char(int(mode))))))
        return false;
    discardInput();
    const bool changed = mode != m_mode;
    m_mode = mode;
    switch (mode) {
    case FeedbackMode::Target:
        expect(Awaiting::Records);
        m_pollTimer->start();
        break;
    case FeedbackMode::Raw:
        m_pollTimer->stop();
        expect(Awaiting::RawValues);
        break;
    case FeedbackMode::Off:
        expect(Awaiting::Nothing);
        m_pollTimer->stop();
        break;
    }
    if (changed)
        emit feedbackModeChanged(mode);
    return true;
}

void DeviceSession::armCapture(int point, int channel)
{
    m_capture.arm(point, channel);
}

bool DeviceSession::smartSetting(int channel, const ChannelTexts &row)
{
    const qint32 low = m_capture.lowRaw[channel], high = m_capture.highRaw[channel];
    const auto payload = smartSettingPayload(channel, low, high, row);
    if (!payload) {
        refuse(msg::SmartError(),
               tr("%1# 通道：低点原始值 %2，高点原始值 %3。").arg(channel).arg(low).arg(high));
        return false;
    }
    return send(frame(cmd::SmartSet, *payload), msg::SmartError());
}

bool DeviceSession::setDisplayMode(int mode)
{
    return send(frame(cmd::DisplayMode, QByteArray(1, char(mode))));
}

bool DeviceSession::showNumber(const QString &start, const QString &displayPort, const QString &count,
                               const QString &number)
{
    const Payload p = showNumberPayload(start, displayPort, count, number);
    if (!p.ok()) {
        refuse(p.error, {}, true);
        return false;
    }
    return send(frame(cmd::ShowNumber, p.bytes));
}

bool DeviceSession::showCode(const QString &start, const QString &displayPort, const QString &code0,
                             const QString &code1)
{
    const Payload p = showCodePayload(start, displayPort, code0, code1);
    if (!p.ok()) {
        refuse(p.error, {}, true);
        return false;
    }
    return send(frame(cmd::ShowCode, p.bytes));
}

bool DeviceSession::setPower(bool on)
{
    return send(frame(cmd::Power, QByteArray(1, on ? '\x01' : '\x00')));
}

bool DeviceSession::setClock(const QDateTime &localTime)
{
    return send(frame(cmd::Clock, clockPayload(localTime)));
}

// ---------------------------------------------------------------- receiving

void DeviceSession::expect(Awaiting what)
{
    m_awaiting = what;
}

void DeviceSession::discardInput()
{
    m_splitter.clear();
    m_waiting.clear();
    m_incoming.clear();
    ++m_discards;
}

void DeviceSession::onReceived(const QByteArray &bytes)
{
    m_incoming += bytes;
    // What the transport hands up while a request is written arrived before
    // it: it waits until the request has emptied the input, or, for a request
    // that does not, until the event loop runs again. A reply that shows a
    // modal box spins a nested event loop; bytes that arrive meanwhile are
    // taken after it, in order, not on top of it.
    if (m_writing || m_receiving)
        return;
    m_receiving = true;
    while (!m_incoming.isEmpty()) {
        const QByteArray chunk = std::exchange(m_incoming, {});
        if (m_awaiting == Awaiting::Nothing || m_awaiting == Awaiting::Records) {
            // Like the serial input buffer of old: what does not fit is lost.
            m_waiting.append(chunk.left(qMax<qsizetype>(0, kWaitingLimit - m_waiting.size())));
        } else {
            takeReplies(chunk);
        }
    }
    m_receiving = false;
}

void DeviceSession::takeReplies(const QByteArray &bytes)
{
    const quint64 discards = m_discards;
    for (const FramePiece &piece : m_splitter.feed(bytes)) {
        // A request made meanwhile (from a modal box) emptied the input.
        if (m_discards != discards)
            return;
        receivePiece(piece, *this, [this](const QByteArray &b, const ReplyVerdict &verdict) {
            if (!verdict.taken())
                qCInfo(lcLine, "reply dropped (%s): %s", qUtf8Printable(verdict.reason), b.toHex(' ').constData());
            emit replyReceived(b, verdict);
        });
    }
}

void DeviceSession::discoveryReply(quint8 number, quint8 digits)
{
    setLedId(number);
    emit discovered(number, digits);
}

void DeviceSession::readBackReply(const std::array<DecodedChannel, kChannels> &rows, const QByteArray &blocks)
{
    emit tableRead(rows, blocks);
}

void DeviceSession::rawValueReply(const std::array<int, kChannels> &raw)
{
    m_capture.apply(raw);
    emit rawValues(raw);
}

void DeviceSession::onPollTick()
{
    QString text;
    QByteArray bytes;
    switch (m_poller.tick(m_waiting, &text, &bytes)) {
    case FeedbackPoller::Tick::Taken:
        emit recordReceived(bytes, true, {});
        emit targetRecord(text);
        break;
    case FeedbackPoller::Tick::Discarded: {
        const QString why = recordFlaw(bytes, int(bytes.size()));
        qCInfo(lcLine, "record discarded (%s): %s", qUtf8Printable(why), bytes.toHex(' ').constData());
        emit recordReceived(bytes, false, why);
        break;
    }
    default:
        break;
    }
}

}  // namespace vorn
