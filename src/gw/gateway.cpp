#include "gw/gateway.h"

#include "link/netport.h"
#include "link/qtserialcontrol.h"
#include "session/csv.h"
#include "session/livevalues.h"
#include "session/portchoice.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vorn::gw {

namespace {

void say(const QString &text)
{
    const QByteArray b = (QStringLiteral("rt8gw: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

// Local time with its offset, to the millisecond.
QString timestamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray json(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 10000;
constexpr int kGoodbyeMs = 3000;

}  // namespace

struct Gateway::Device
{
    DeviceConfig config;
    QtSerialControl *control = nullptr;
    DeviceSession *session = nullptr;
    int number = 0;
    QString status;             // as last published or to be published
    bool statusSent = false;
    QTimer retry;
    int retryMs = kFirstRetryMs;
    QString lastRefusal;
    QString saidRefusal;
    qint64 droppedOutage = 0;
};

Gateway::Gateway(Config config, std::vector<DeviceLine> lines, QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_lines(std::move(lines))
{
    connect(&m_client, &MqttClient::connected, this, &Gateway::brokerUp);
    connect(&m_client, &MqttClient::disconnected, this, &Gateway::brokerDown);
}

Gateway::~Gateway()
{
    stop();
}

QString Gateway::topic(const QString &name, const char *leaf) const
{
    return m_config.prefix + QLatin1Char('/') + name + QLatin1Char('/') + QLatin1String(leaf);
}

QJsonArray Gateway::valuesJson(const LiveValues &live)
{
    QJsonArray a;
    for (int i = 0; i < kChannels; ++i) {
        const double v = live.number(i);
        if (std::isnan(v))
            a.append(live.values[i]);
        else
            a.append(v);
    }
    return a;
}

bool Gateway::start(QString *why)
{
    MqttClient::Settings s;
    s.host = m_config.host;
    s.port = m_config.port;
    s.tls = m_config.tls;
    s.caFile = m_config.caFile;
    s.clientId = m_config.clientId;
    s.userName = m_config.userName;
    s.password = m_config.password;
    s.keepAliveSeconds = m_config.keepAliveSeconds;
    s.willTopic = topic(QStringLiteral("gateway"), "status");
    s.willPayload = "offline";
    if (!m_client.start(s, why))
        return false;

    for (size_t i = 0; i < size_t(m_config.devices.size()) && i < m_lines.size(); ++i) {
        auto d = std::make_unique<Device>();
        d->config = m_config.devices[i];
        d->control = m_lines[i].port;
        d->session = m_lines[i].session;
        d->number = m_lines[i].number;
        Device *dev = d.get();
        DeviceSession *session = d->session;
        connect(session, &DeviceSession::refused, this, [dev](const Refusal &r) {
            dev->lastRefusal = r.detail.isEmpty() ? r.text : r.text + QLatin1Char(' ') + r.detail;
        });
        connect(session, &DeviceSession::liveValues, this, [this, dev](const LiveValues &live) {
            if (live.mode == dev->config.mode)
                deviceValues(*dev, valuesJson(live));
        });
        connect(session, &DeviceSession::portLost, this, [this, dev](const QString &reason) {
            say(tr("设备 %1：通讯端口已断开（%2），等它回来。").arg(dev->config.name, reason));
            setStatus(*dev, QStringLiteral("lost"));
        });
        connect(session, &DeviceSession::reconnected, this, [dev](int, const QString &path) {
            say(tr("设备 %1：通讯端口 %2 已重新打开。").arg(dev->config.name, shownPortName(path)));
        });
        dev->retry.setSingleShot(true);
        connect(&dev->retry, &QTimer::timeout, this, [this, dev] { openDevice(*dev); });
        m_devices.push_back(std::move(d));
    }
    for (auto &d : m_devices)
        openDevice(*d);
    emit allTried();
    return true;
}

void Gateway::openDevice(Device &d)
{
    if (m_stopped)
        return;
    d.lastRefusal.clear();
    if (d.session->openPort(d.number)) {
        d.retryMs = kFirstRetryMs;
        d.session->setLedId(d.config.address);
        if (d.session->setFeedback(d.config.mode)) {
            say(tr("设备 %1：已打开 %2，等待数值。").arg(d.config.name, shownPortName(d.session->devicePath(d.number))));
            return;
        }
        d.session->close();
    }
    // Said once per reason, not at every try.
    if (d.lastRefusal != d.saidRefusal) {
        d.saidRefusal = d.lastRefusal;
        say(tr("设备 %1：无法打开通讯端口 %2（%3），%4 秒后再试。")
                .arg(d.config.name, shownPortName(d.config.port), d.lastRefusal)
                .arg(d.retryMs / 1000));
    }
    setStatus(d, QStringLiteral("lost"));
    d.retry.start(d.retryMs);
    d.retryMs = std::min(d.retryMs * 2, kLastRetryMs);
}

void Gateway::deviceValues(Device &d, const QJsonArray &values)
{
    if (m_stopped)
        return;
    if (d.status != QLatin1String("online")) {
        if (d.status == QLatin1String("lost"))
            say(tr("设备 %1：数值又来了。").arg(d.config.name));
        setStatus(d, QStringLiteral("online"));
    }
    const QJsonObject o{{QStringLiteral("time"), timestamp()},
                        {QStringLiteral("mode"), modeName(d.config.mode)},
                        {QStringLiteral("values"), values}};
    publishValues({topic(d.config.name, "values"), json(o), &d});
}

void Gateway::publishValues(const Message &m)
{
    if (m_brokerUp && m_queue.empty() && m_client.publish(m.topic, m.payload, false))
        return;
    // Kept until the broker is back; the oldest goes when the queue is full.
    if (int(m_queue.size()) >= m_config.queueSize) {
        ++m_queue.front().device->droppedOutage;
        ++m_droppedOutage;
        ++m_droppedTotal;
        m_queue.pop_front();
    }
    m_queue.push_back(m);
}

void Gateway::setStatus(Device &d, const QString &status)
{
    if (d.status == status && d.statusSent)
        return;
    const bool changed = d.status != status;
    d.status = status;
    if (changed) {
        const auto online = std::count_if(m_devices.begin(), m_devices.end(),
                                          [](const auto &e) { return e->status == QLatin1String("online"); });
        emit onlineChanged(int(online), int(m_devices.size()));
    }
    d.statusSent = m_brokerUp && m_client.publish(topic(d.config.name, "status"), status.toUtf8(), true);
}

void Gateway::brokerUp()
{
    if (m_stopped)
        return;
    say(tr("已连接 MQTT 服务器 %1。").arg(shownPortName(m_config.url)));
    m_brokerWhy.clear();
    m_brokerUp = true;
    m_client.publish(topic(QStringLiteral("gateway"), "status"), "online", true);
    for (auto &d : m_devices)
        if (!d->status.isEmpty())
            d->statusSent = m_client.publish(topic(d->config.name, "status"), d->status.toUtf8(), true);
    while (!m_queue.empty()) {
        const Message &m = m_queue.front();
        if (!m_client.publish(m.topic, m.payload, false))
            return;   // gone again; the rest waits for the next connection
        m_queue.pop_front();
    }
    if (m_droppedOutage > 0) {
        QJsonObject perDevice;
        for (auto &d : m_devices) {
            if (d->droppedOutage > 0)
                perDevice.insert(d->config.name, d->droppedOutage);
            d->droppedOutage = 0;
        }
        const QJsonObject o{{QStringLiteral("time"), timestamp()},
                            {QStringLiteral("dropped"), m_droppedOutage},
                            {QStringLiteral("total"), m_droppedTotal},
                            {QStringLiteral("devices"), perDevice}};
        say(tr("MQTT 服务器不在时，队列满了，丢弃了 %n 组最早的数值。", nullptr, int(m_droppedOutage)));
        if (m_client.publish(topic(QStringLiteral("gateway"), "dropped"), json(o), true))
            m_droppedOutage = 0;
    }
}

void Gateway::brokerDown(const QString &why, bool repeated)
{
    if (m_stopped)
        return;
    // Said once per outage and reason, not at every try; a client that takes
    // the connection over and over is said once.
    if (!repeated && (m_brokerUp || why != m_brokerWhy))
        say(tr("无法连接 MQTT 服务器 %1（%2），稍后再试；数值先排队（最多 %3 组）。")
                .arg(shownPortName(m_config.url), why).arg(m_config.queueSize));
    m_brokerWhy = why;
    m_brokerUp = false;
    for (auto &d : m_devices)
        d->statusSent = false;
}

void Gateway::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    // The devices stop streaming before the gateway goes.
    for (auto &d : m_devices) {
        d->retry.stop();
        if (d->session->isOpen()) {
            d->session->setFeedback(FeedbackMode::Off);
            d->control->waitForSent(1000);
        }
        d->session->close();
    }
    m_client.trackAcknowledged();
    std::set<int> mids;
    if (m_brokerUp) {
        for (auto &d : m_devices) {
            int mid = 0;
            if (m_client.publish(topic(d->config.name, "status"), "offline", true, &mid))
                mids.insert(mid);
        }
        int mid = 0;
        if (m_client.publish(topic(QStringLiteral("gateway"), "status"), "offline", true, &mid))
            mids.insert(mid);
        m_client.waitAcknowledged(mids, kGoodbyeMs);
    }
    m_client.stop();
}

}  // namespace vorn::gw
