#include "session/devicesession.h"

#include "protocol/requests.h"
#include "protocol/frame.h"
#include "link/netaddress.h"
#include "session/messages.h"
#include "session/requestfields.h"

#include <utility>


namespace vorn {

Q_LOGGING_CATEGORY(lcLine, "vornrt8.line", QtInfoMsg)

DeviceSession::DeviceSession(PortMap ports, Line *serial, Line *network, QObject *parent)
    : QObject(parent), m_ports(ports), m_systemPorts(std::move(ports)), m_serial(serial),
      m_network(network ? network : serial), m_line(serial), m_pollTimer(new QTimer(this)),
      m_reconnectTimer(new QTimer(this)), m_checkTimer(new QTimer(this))
{
    m_reconnectTimer->setInterval(500);
    connect(m_reconnectTimer, &QTimer::timeout, this, &DeviceSession::tryReconnect);
    m_checkTimer->setSingleShot(true);
    connect(m_checkTimer, &QTimer::timeout, this, &DeviceSession::onCheckTimer);
    m_pollTimer->setInterval(kPollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &DeviceSession::onPollTick);
    for (Line *line : {m_serial, m_network}) {
        connect(line, &Line::received, this, &DeviceSession::onReceived, Qt::UniqueConnection);
        connect(line, &Line::lost, this, &DeviceSession::onLineLost, Qt::UniqueConnection);
        connect(line, &Line::opened, this, &DeviceSession::onOpened, Qt::UniqueConnection);
        connect(line, &Line::openFailed, this, &DeviceSession::onOpenFailed, Qt::UniqueConnection);
    }
}

DeviceSession::~DeviceSession()
{
    for (Line *line : {m_serial, m_network})
        line->disconnect(this);
    m_line->close();
}

Line *DeviceSession::lineFor(int number) const
{
    return isNetworkName(m_ports.path(number)) ? m_network : m_serial;
}

QString DeviceSession::devicePath(int number) const
{
    return shownPortName(m_ports.path(number));
}

void DeviceSession::setPortName(int number, const QString &name)
{
    m_ports.setPath(number, name.isEmpty() ? m_systemPorts.path(number) : name);
}

// ---------------------------------------------------------------- the line

void DeviceSession::searchPorts()
{
    m_line->close();
    m_opening = Opening::None;
    m_searchDenied.clear();
    m_searchAt = kFirstPort - 1;
    searchNext();
}

void DeviceSession::searchNext()
{
    // A port that does not exist, is held by another program or has no
    // device behind it (an input/output error, no connection) is passed
    // over; one this user may not open is passed over too, but remembered,
    // so that a search that finds nothing can say why. The outcome of each
    // opening comes to onOpened()/onOpenFailed(), at once for a serial port.
    while (++m_searchAt <= kLastPort) {
        const QString path = m_ports.path(m_searchAt);
        if (path.isEmpty())
            continue;
        m_number = m_searchAt;
        m_line = lineFor(m_number);
        m_opening = Opening::Search;
        m_inOpen = true;
        m_line->open(path);
        m_inOpen = false;
        // Still opening: the search goes on from its outcome. Found: done.
        if (m_opening == Opening::Search || !isSearching())
            return;
    }
    m_searchAt = 0;
    refuse(msg::NoPort(), m_searchDenied.join(QLatin1String("\n\n")));
    emit portsSearched(0);
}

void DeviceSession::onOpened()
{
    if (sender() != m_line)
        return;
    const int number = m_number;
    switch (std::exchange(m_opening, Opening::None)) {
    case Opening::Search:
        // Left open as found; opening it again sets the line up.
        m_searchAt = 0;
        emit portsSearched(number);
        break;
    case Opening::User:
        m_lostTold = false;
        // Only reconnecting asks which adapter it is.
        m_adapterSerial = m_autoReconnect ? m_line->adapterSerial(m_ports.path(number)) : QString();
        setState(LineState::Open);
        emit portOpened(number, devicePath(number));
        break;
    case Opening::Reconnect: {
        m_reconnectTimer->stop();
        const QString path = devicePath(number);
        qCInfo(lcLine, "line back: port %d, %s; checking the device", number, qUtf8Printable(path));
        m_awaitingBefore = m_awaiting;
        // The device known before the loss; without one, a device that answers
        // to the number in use (to 255, any device).
        m_checkForIdentify = false;
        m_checkRule = m_known ? IdentityRule{m_known->number, m_known->digits}
                              : IdentityRule{m_ledId == kBroadcast ? std::nullopt : std::optional<quint8>(m_ledId), {}};
        emit checkingDevice(number, path);
        // A device that kept its power through the pull keeps streaming; its
        // stream would spoil the answer. Told to stop first, it falls quiet.
        startCheck(m_mode != FeedbackMode::Off);
        break;
    }
    case Opening::None:
        // Not asked for (any more): nobody wants it.
        m_line->close();
        break;
    }
}

void DeviceSession::onOpenFailed(Line::OpenFailure kind, const QString &text)
{
    if (sender() != m_line)
        return;
    const int number = m_number;
    m_openFailure = kind;
    m_openFailureText = text;
    switch (std::exchange(m_opening, Opening::None)) {
    case Opening::Search:
        if (kind == Line::OpenFailure::PermissionDenied)
            m_searchDenied.append(permissionAdvice(devicePath(number), text));
        if (kind == Line::OpenFailure::Other) {
            m_searchAt = 0;
            emit portsSearched(number);
            return;
        }
        if (!m_inOpen)
            searchNext();
        break;
    case Opening::User: {
        const QString path = devicePath(number);
        QString detail;
        if (kind == Line::OpenFailure::PermissionDenied)
            detail = permissionAdvice(path, text);
        else if (path.isEmpty())
            detail = text;
        else
            detail = tr("%1：%2", "device path: system reason").arg(path, text);
        refuse(msg::OpenError(), detail);
        if (!m_inOpen)
            emit portOpenFailed(number);
        break;
    }
    case Opening::Reconnect:
    case Opening::None:
        // Tried again at the next tick.
        break;
    }
}

void DeviceSession::setLedId(quint8 number)
{
    if (number == m_ledId)
        return;
    // Turning to another device: the one known so far is not the one a
    // reconnection must find any more. 255 reaches it still.
    if (m_known && number != m_known->number && number != kBroadcast)
        m_known.reset();
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
    // Which adapter it is matters only to reconnecting: asked once it is on.
    if (on && !m_autoReconnect && m_state == LineState::Open && m_adapterSerial.isEmpty())
        m_adapterSerial = m_line->adapterSerial(m_ports.path(m_number));
    m_autoReconnect = on;
    const bool reconnecting = m_reconnectTimer->isActive() || (m_check != Check::None && !m_checkForIdentify);
    if (!on && reconnecting) {
        m_reconnectTimer->stop();
        if (m_opening == Opening::Reconnect) {
            m_opening = Opening::None;
            m_line->close();
        }
        if (m_check != Check::None) {
            cancelCheck();
            m_line->close();
            expect(m_awaitingBefore);
        }
        setState(LineState::Lost);
    } else if (on && m_state == LineState::Lost) {
        m_reconnectTimer->start();
        setState(LineState::Reconnecting);
    }
}

bool DeviceSession::openPort(int number)
{
    m_reconnectTimer->stop();
    cancelCheck();
    m_opening = Opening::None;
    m_searchAt = 0;
    // A port the search left open was never announced as open.
    if (m_line->isOpen()) {
        m_line->close();
        if (m_state == LineState::Open)
            emit portClosed();
    }
    m_line->close();
    // Whatever waited belongs to the line that is being closed.
    discardInput();
    setState(LineState::Closed);
    if (number < kFirstPort || number > kLastPort) {
        refuse(msg::OpenError(), msg::NotAPortNumber(QString::number(number)));
        return false;
    }
    m_number = number;
    m_line = lineFor(number);
    m_opening = Opening::User;
    const QString path = m_ports.path(number);
    m_inOpen = true;
    m_openFailure = Line::OpenFailure::None;
    m_openFailureText.clear();
    if (path.isEmpty()) {
        m_opening = Opening::None;
        m_openFailure = Line::OpenFailure::NoSuchPort;
        m_openFailureText = QStringLiteral("no serial device for port %1").arg(number);
        refuse(msg::OpenError(), QStringLiteral("no serial device for port %1").arg(number));
    } else {
        m_line->open(path);
    }
    m_inOpen = false;
    return m_line->isOpen() || m_opening == Opening::User;
}

void DeviceSession::close()
{
    m_pollTimer->stop();
    m_reconnectTimer->stop();
    cancelCheck();
    m_opening = Opening::None;
    m_searchAt = 0;
    if (m_line->isOpen()) {
        m_line->close();
        emit portClosed();
    }
    m_line->close();
    discardInput();
    setState(LineState::Closed);
}

void DeviceSession::onLineLost(const QString &reason)
{
    if (sender() != m_line)
        return;
    if (m_check != Check::None && m_checkForIdentify) {
        // Lost while identify() ran: a loss like any other.
        cancelCheck();
        expect(Awaiting::Nothing);
    } else if (m_check != Check::None) {
        // Gone again while being checked: it was never resumed, and the
        // loss was told already. Watch on.
        qCInfo(lcLine, "line lost again while checking the device: %s", qUtf8Printable(reason));
        cancelCheck();
        if (m_autoReconnect)
            m_reconnectTimer->start();
        return;
    }
    if (m_lostTold)
        return;
    m_lostTold = true;
    m_serialWaits = 0;
    qCWarning(lcLine, "line lost: %s", qUtf8Printable(reason));
    setState(LineState::Lost);
    // Watching starts at the loss, before anyone is told: a listener that
    // waits (a message box) holds up nothing.
    if (m_autoReconnect)
        m_reconnectTimer->start();
    emit portLost(reason);
    if (m_reconnectTimer->isActive() && m_state == LineState::Lost)
        setState(LineState::Reconnecting);
}

void DeviceSession::tryReconnect()
{
    // Nothing is opened until the device path is there again: no attempt
    // spins on a missing adapter.
    // A network port is tried by opening it, without waiting: one try at a
    // time.
    if (m_opening == Opening::Reconnect)
        return;
    const QString name = m_ports.path(m_number);
    if (!m_line->present(name))
        return;
    // Another adapter on the same path shows by its serial number, where the
    // system reports one; it may report it a moment after the path appears.
    if (!m_adapterSerial.isEmpty()) {
        const QString serial = m_line->adapterSerial(name);
        if (serial.isEmpty() && ++m_serialWaits < kSerialWaitTicks)
            return;
        if (serial != m_adapterSerial) {
            notResume(serial.isEmpty()
                          ? tr("接入的适配器没有报告序列号，原来的适配器是 %1").arg(m_adapterSerial)
                          : tr("接入的适配器序列号为 %1，原来的是 %2").arg(serial, m_adapterSerial),
                      false);
            return;
        }
    }
    // The rest follows in onOpened(); a failure waits for the next tick.
    m_opening = Opening::Reconnect;
    m_line->open(name);
}

bool DeviceSession::identify(const IdentityRule &rule)
{
    if (m_check != Check::None) {
        refuse(msg::Checking());
        return false;
    }
    if (!isOpen()) {
        refuse(msg::NotOpen());
        return false;
    }
    m_checkForIdentify = true;
    m_checkRule = rule;
    m_pollTimer->stop();
    startCheck(true);
    return true;
}

void DeviceSession::startCheck(bool tellStop)
{
    m_checkTries = 0;
    if (!tellStop) {
        sendCheck();
        return;
    }
    m_check = Check::Quiet;
    expect(Awaiting::Nothing);
    put(frame(cmd::Feedback, QByteArray(1, char(int(FeedbackMode::Off)))), true);
    m_quietSince.start();
    m_checkTimer->start(kCheckQuietMs);
}

void DeviceSession::sendCheck()
{
    ++m_checkTries;
    m_check = Check::Answer;
    if (put(frame(cmd::Discover, QByteArray(1, char(m_ledId))), true))
        expect(Awaiting::Discovery);
    m_checkTimer->start(kCheckAnswerMs);
}

void DeviceSession::onCheckTimer()
{
    switch (m_check) {
    case Check::Quiet:
        sendCheck();
        break;
    case Check::Answer:
        if (m_checkTries < kCheckTries)
            sendCheck();
        else
            checkFailed(IdentityFailure::NoAnswer, {}, tr("设备没有应答连接测试（%n 次）", nullptr, kCheckTries));
        break;
    case Check::None:
        break;
    }
}

void DeviceSession::checkAnswer(quint8 number, quint8 digits)
{
    const DeviceIdentity found{number, digits};
    if (m_checkRule.admits(found)) {
        if (!m_checkForIdentify) {
            resume(found);
            return;
        }
        cancelCheck();
        expect(Awaiting::Nothing);
        m_known = found;
        qCInfo(lcLine, "device %d (%d digits) identified", int(number), int(digits));
        emit identified(found);
        return;
    }
    QString before;
    if (m_checkRule.number && m_checkRule.digits)
        before = m_checkForIdentify ? tr("应是 %1 号（显示位数 %2）").arg(*m_checkRule.number).arg(*m_checkRule.digits)
                                    : tr("原来的是 %1 号（显示位数 %2）").arg(*m_checkRule.number).arg(*m_checkRule.digits);
    else if (m_checkRule.number)
        before = tr("使用的设备编号是 %1").arg(*m_checkRule.number);
    else
        before = tr("应有 %1 位显示").arg(m_checkRule.digits.value_or(0));
    checkFailed(IdentityFailure::OtherDevice, found,
                tr("应答的是 %1 号设备（显示位数 %2），%3").arg(number).arg(digits).arg(before));
}

void DeviceSession::checkFailed(IdentityFailure failure, const DeviceIdentity &found, const QString &why)
{
    if (!m_checkForIdentify) {
        notResume(why, failure == IdentityFailure::NoAnswer);
        return;
    }
    cancelCheck();
    expect(Awaiting::Nothing);
    qCInfo(lcLine, "device not identified: %s", qUtf8Printable(why));
    emit notIdentified(failure, found, why);
}

void DeviceSession::resume(const DeviceIdentity &found)
{
    cancelCheck();
    const int number = m_number;
    const QString path = devicePath(number);
    m_lostTold = false;
    if (!m_known)
        m_known = found;
    qCInfo(lcLine, "line back: port %d, %s; device %d resumed", number, qUtf8Printable(path), int(found.number));
    setState(LineState::Open);
    emit portOpened(number, path);
    emit reconnected(number, path, found);
    // The device may have lost power with the adapter: ask again for what
    // it was streaming. Otherwise the threshold is what it was.
    if (m_mode != FeedbackMode::Off)
        setFeedback(m_mode);
    else
        expect(m_awaitingBefore);
}

void DeviceSession::notResume(const QString &why, bool silence)
{
    cancelCheck();
    m_reconnectTimer->stop();
    if (m_opening == Opening::Reconnect) {
        m_opening = Opening::None;
        m_line->close();
    }
    if (m_line->isOpen()) {
        m_line->close();
        expect(m_awaitingBefore);
    }
    m_notResumedWhy = why;
    m_notResumedForSilence = silence;
    qCWarning(lcLine, "line not resumed: %s", qUtf8Printable(why));
    setState(LineState::NotResumed);
    emit notResumed(why);
}

void DeviceSession::cancelCheck()
{
    m_checkTimer->stop();
    m_check = Check::None;
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
    // with the reason as detail; the others say what went wrong. While a
    // device that came back is checked, nothing of the operator's reaches it.
    if (m_check != Check::None) {
        refuse(failText.isEmpty() ? msg::Checking() : failText, failText.isEmpty() ? QString() : msg::Checking());
        return false;
    }
    if (!isOpen()) {
        refuse(failText.isEmpty() ? msg::NotOpen() : failText, failText.isEmpty() ? QString() : msg::NotOpen());
        return false;
    }
    if (!put(f, m_afresh)) {
        refuse(failText.isEmpty() ? msg::WriteFailed() : failText, m_line->errorText());
        return false;
    }
    return true;
}

bool DeviceSession::sendAfresh(const QByteArray &f)
{
    m_afresh = true;
    const bool sent = send(f);
    m_afresh = false;
    return sent;
}

bool DeviceSession::put(const QByteArray &f, bool afresh)
{
    // What came before a request whose answer must stand alone is thrown
    // away right before it goes out; what comes after it is the answer.
    if (afresh)
        discardInput();
    const bool written = m_line->write(f);
    if (written)
        emit frameSent(f);
    return written;
}

bool DeviceSession::connectionTest()
{
    if (!sendAfresh(frame(cmd::Discover, QByteArray(1, char(m_ledId)))))
        return false;
    expect(Awaiting::Discovery);
    return true;
}

bool DeviceSession::renumber(quint8 digitCount)
{
    if (!send(buildFrame(kBroadcast, cmd::SetNumber, changeNumberPayload(m_ledId, digitCount))))
        return false;
    // Every device on the line now has this number and digit count.
    m_known = DeviceIdentity{m_ledId, digitCount};
    return true;
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
    if (!sendAfresh(frame(cmd::ReadBack, QByteArray(1, '\0'))))
        return false;
    m_pollTimer->stop();
    expect(Awaiting::ReadBack);
    return true;
}

bool DeviceSession::setFeedback(FeedbackMode mode)
{
    if (!sendAfresh(frame(cmd::Feedback, QByteArray(1, char(int(mode))))))
        return false;
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

bool DeviceSession::showNumber(const NumberDisplay &request)
{
    int bad = 0;
    const auto p = showNumberPayload(request, &bad);
    if (!p) {
        refuseField(badDigitMessage(bad));
        return false;
    }
    return send(frame(cmd::ShowNumber, *p));
}

bool DeviceSession::showCode(const CodeDisplay &request)
{
    return send(frame(cmd::ShowCode, showCodePayload(request)));
}

void DeviceSession::refuseField(const QString &why)
{
    refuse(why, {}, true);
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
    ++m_discards;
    m_line->discardInput();
}

void DeviceSession::onReceived(const QByteArray &bytes)
{
    if (sender() != m_line)
        return;
    if (m_check == Check::Quiet) {
        // Waiting for the line to fall quiet: what comes is thrown away, and
        // the quiet starts over (up to a limit: a line that never falls
        // quiet is tested all the same).
        if (!bytes.isEmpty() && m_quietSince.elapsed() < kCheckQuietLimitMs)
            m_checkTimer->start(kCheckQuietMs);
        return;
    }
    if (m_awaiting == Awaiting::Nothing || m_awaiting == Awaiting::Records) {
        // What does not fit is lost.
        m_waiting.append(bytes.left(qMax<qsizetype>(0, kRecordInputLimit - m_waiting.size())));
    } else {
        takeReplies(bytes);
    }
}

void DeviceSession::takeReplies(const QByteArray &bytes)
{
    const quint64 discards = m_discards;
    for (const FramePiece &piece : m_splitter.feed(bytes)) {
        // A request made meanwhile (by a listener of a reply) emptied the input.
        if (m_discards != discards)
            return;
        const ReplyVerdict verdict = judgeReply(piece);
        if (!verdict.taken())
            qCInfo(lcLine, "reply dropped (%s): %s", qUtf8Printable(verdict.reason), piece.bytes.toHex(' ').constData());
        emit replyReceived(piece.bytes, verdict);
        std::visit(Overloaded{[](std::monostate) {}, [this](const auto &held) { take(held); }}, verdict.content);
    }
}

void DeviceSession::take(const DiscoveryReply &reply)
{
    const quint8 number = reply.number, digits = reply.digits;
    // The answer to a check of the session's own changes nothing the
    // operator works with.
    if (m_check == Check::Answer) {
        checkAnswer(number, digits);
        return;
    }
    if (m_check != Check::None)
        return;
    setLedId(number);
    m_known = DeviceIdentity{number, digits};
    emit discovered(number, digits);
}

void DeviceSession::take(const ReadBackReply &reply)
{
    if (m_check != Check::None)
        return;
    emit tableRead(reply.rows, reply.blocks);
}

void DeviceSession::take(const RawValuesReply &reply)
{
    // Values of a device not yet known to be the same go nowhere.
    if (m_check != Check::None)
        return;
    m_capture.apply(reply.values);
    emit liveValues(LiveValues::fromRaw(reply.values));
}

void DeviceSession::onPollTick()
{
    // Records of a device not yet known to be the same are not taken.
    if (m_check != Check::None)
        return;
    QString text;
    QByteArray bytes;
    switch (m_poller.tick(m_waiting, &text, &bytes)) {
    case FeedbackPoller::Tick::Taken:
        emit recordReceived(bytes, true, {});
        emit liveValues(LiveValues::fromRecord(text));
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
