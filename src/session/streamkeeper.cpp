#include "session/streamkeeper.h"

#include "protocol/frame.h"

namespace vorn {

namespace {

// How often silence is looked for: a device falls silent at most this much
// later than its silence time says.
constexpr int kSilenceTickMs = 500;

}  // namespace

StreamKeeper::StreamKeeper(DeviceSession *session, const Settings &settings, QObject *parent)
    : QObject(parent), m_session(session), m_settings(settings), m_retryMs(settings.firstRetryMs)
{
    m_session->setAutoReconnect(false);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &StreamKeeper::attempt);
    m_silenceTick.setInterval(kSilenceTickMs);
    connect(&m_silenceTick, &QTimer::timeout, this, &StreamKeeper::onSilenceTick);
    connect(m_session, &DeviceSession::identified, this, &StreamKeeper::onIdentified);
    connect(m_session, &DeviceSession::notIdentified, this, &StreamKeeper::onNotIdentified);
    connect(m_session, &DeviceSession::liveValues, this, &StreamKeeper::onValues);
    connect(m_session, &DeviceSession::portLost, this, &StreamKeeper::onLost);
    connect(m_session, &DeviceSession::refused, this, [this](const Refusal &r) { m_refusal = r; });
    // A network port opens without waiting: the attempt goes on from here.
    connect(m_session, &DeviceSession::portOpened, this, [this] {
        if (m_phase == Phase::Opening)
            identifyDevice();
    });
    connect(m_session, &DeviceSession::portOpenFailed, this, [this] {
        if (m_phase == Phase::Opening)
            fail(Status::Lost, refusalText());
    });
    m_readBackTimer.setSingleShot(true);
    connect(&m_readBackTimer, &QTimer::timeout, this, &StreamKeeper::onReadBackTimeout);
    connect(m_session, &DeviceSession::tableRead, this,
            [this](const std::array<DecodedChannel, kChannels> &, const QByteArray &blocks) { onTableRead(blocks); });
}

QString StreamKeeper::word(Status status)
{
    switch (status) {
    case Status::Starting: return QStringLiteral("starting");
    case Status::Online: return QStringLiteral("online");
    case Status::Silent: return QStringLiteral("silent");
    case Status::Lost: return QStringLiteral("lost");
    case Status::NoAnswer: return QStringLiteral("no-answer");
    case Status::OtherDevice: return QStringLiteral("other-device");
    }
    return {};
}

void StreamKeeper::start()
{
    m_phase = Phase::Waiting;
    attempt();
}

void StreamKeeper::stop()
{
    const bool streaming = m_phase == Phase::Streaming;
    m_phase = Phase::Stopped;
    m_retry.stop();
    m_silenceTick.stop();
    m_readBackTimer.stop();
    if (streaming && m_session->isOpen())
        m_session->setFeedback(FeedbackMode::Off);
}

QString StreamKeeper::refusalText() const
{
    return m_refusal.detail.isEmpty() ? m_refusal.text : m_refusal.detail;
}

void StreamKeeper::attempt()
{
    if (m_phase == Phase::Stopped)
        return;
    m_refusal = {};
    if (!m_session->isOpen()) {
        if (!m_session->openPort(m_settings.port)) {
            fail(Status::Lost, refusalText());
            return;
        }
        m_answered = false;
        if (m_session->isOpening()) {
            m_phase = Phase::Opening;
            return;
        }
    }
    identifyDevice();
}

void StreamKeeper::identifyDevice()
{
    m_refusal = {};
    m_session->setLedId(m_settings.address);
    // Once fixed, the device is the one found first; before, the one that
    // answers to the number asked by (to 255, any) with the digits given.
    const IdentityRule rule = m_device ? IdentityRule{m_device->number, m_device->digits}
                                       : IdentityRule{m_settings.address == kBroadcast
                                                          ? std::nullopt
                                                          : std::optional<quint8>(m_settings.address),
                                                      m_settings.digits};
    if (!m_session->identify(rule)) {
        fail(Status::Lost, refusalText());
        return;
    }
    m_phase = Phase::Identifying;
}

void StreamKeeper::onIdentified(const DeviceIdentity &device)
{
    if (m_phase != Phase::Identifying)
        return;
    m_answered = true;
    if (!m_device)
        m_device = device;
    m_refusal = {};
    if (m_settings.readTable) {
        // The line is quiet after the identification: the table is read
        // back before the device is asked to stream.
        if (m_session->readBack()) {
            m_phase = Phase::ReadingTable;
            m_readBackTimer.start(m_settings.readBackTimeoutMs);
            return;
        }
        emit tableNotRead(refusalText());
        if (m_phase != Phase::Identifying)
            return;
        m_refusal = {};
    }
    startStreaming();
}

void StreamKeeper::onTableRead(const QByteArray &blocks)
{
    if (m_phase != Phase::ReadingTable)
        return;
    m_readBackTimer.stop();
    emit tableRead(blocks);
    // Whoever heard it may have stopped the keeper.
    if (m_phase == Phase::ReadingTable)
        startStreaming();
}

void StreamKeeper::onReadBackTimeout()
{
    if (m_phase != Phase::ReadingTable)
        return;
    emit tableNotRead(tr("回读配置：%1 ms 内没有收到有效应答").arg(m_settings.readBackTimeoutMs));
    if (m_phase == Phase::ReadingTable)
        startStreaming();
}

void StreamKeeper::startStreaming()
{
    if (!m_session->setFeedback(m_settings.mode)) {
        fail(Status::Lost, refusalText());
        return;
    }
    m_phase = Phase::Streaming;
    m_lastValues.start();
    m_silenceTick.start();
    markTried();
}

void StreamKeeper::onNotIdentified(IdentityFailure failure, const DeviceIdentity &, const QString &why)
{
    if (m_phase != Phase::Identifying)
        return;
    if (failure == IdentityFailure::OtherDevice)
        fail(Status::OtherDevice, why);
    else
        fail(m_answered ? Status::Silent : Status::NoAnswer, why);
}

void StreamKeeper::onValues(const LiveValues &live)
{
    if (m_phase != Phase::Streaming || live.mode != m_settings.mode)
        return;
    m_lastValues.start();
    if (m_status != Status::Online) {
        m_retryMs = m_settings.firstRetryMs;
        m_nextTryMs = 0;
        setStatus(Status::Online, {});
    }
    emit values(live);
}

void StreamKeeper::onLost(const QString &reason)
{
    if (m_phase == Phase::Stopped)
        return;
    m_silenceTick.stop();
    m_retry.stop();
    m_readBackTimer.stop();
    fail(Status::Lost, reason);
}

void StreamKeeper::onSilenceTick()
{
    if (m_phase != Phase::Streaming || m_lastValues.elapsed() < m_settings.silenceMs)
        return;
    m_silenceTick.stop();
    fail(Status::Silent, tr("%n 秒没有收到数值", nullptr, (m_settings.silenceMs + 999) / 1000));
}

void StreamKeeper::fail(Status status, const QString &why)
{
    m_phase = Phase::Waiting;
    m_silenceTick.stop();
    m_readBackTimer.stop();
    m_nextTryMs = m_retryMs;
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, m_settings.lastRetryMs);
    setStatus(status, why);
    markTried();
}

void StreamKeeper::setStatus(Status status, const QString &why)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged(status, why);
}

void StreamKeeper::markTried()
{
    if (m_tried)
        return;
    m_tried = true;
    emit tried();
}

}  // namespace vorn
