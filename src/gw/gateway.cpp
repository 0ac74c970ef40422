#include "gw/gateway.h"

#include "cli/output.h"

#include "link/netaddress.h"
#include "link/line.h"
#include "session/csv.h"
#include "session/livevalues.h"
#include "session/portchoice.h"
#include "protocol/tablecompare.h"
#include "link/netaddress.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vorn::gw {

namespace {

// What happens to the devices and the broker: a line on standard error.
void say(const QString &text)
{
    cli::printErr(text);
}

using cli::timestamp;

QByteArray json(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

constexpr int kGoodbyeMs = 3000;

}  // namespace

struct Gateway::Device
{
    DeviceConfig config;
    Line *line = nullptr;
    DeviceSession *session = nullptr;
    std::unique_ptr<StreamKeeper> keeper;
    int index = 0;            // in the configuration
    QByteArray valuesTopic;   // UTF-8, made once
    QString status;             // as last published or to be published
    bool statusSent = false;
    QByteArray tablePayload;    // the config topic's payload, once there is one
    bool tableSent = false;
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

namespace {

// A JSON string: quotes, backslashes and control characters escaped (a
// record's text is whatever the device sent).
void appendJsonString(QByteArray &out, QStringView text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(u));
            out += buf;
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

QByteArray Gateway::valuesPayload(QByteArrayView time, const LiveValues &live)
{
    // Written straight into the one buffer: for raw values this is the only
    // allocation of a set.
    QByteArray out;
    out.reserve(192);
    out += "{\"time\":\"";
    out.append(time);
    out += "\",\"mode\":\"";
    out += live.mode == FeedbackMode::Raw ? "raw" : "target";
    out += "\",\"values\":[";
    for (int i = 0; i < kChannels; ++i) {
        if (i)
            out += ',';
        // A raw value is shown as the decimal number it is.
        if (live.mode == FeedbackMode::Raw) {
            char digits[16];
            const auto r = std::to_chars(digits, digits + sizeof digits, live.raw[size_t(i)]);
            out.append(digits, qsizetype(r.ptr - digits));
            continue;
        }
        const double v = live.number(i);
        if (std::isnan(v))
            appendJsonString(out, live.field(i));
        else
            out += QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
    }
    out += "]}";
    return out;
}

QByteArray Gateway::configPayload(const QString &time, const QByteArray &blocks, const QByteArray &expected)
{
    QJsonObject o{{QStringLiteral("time"), time}};
    if (!expected.isEmpty()) {
        // Blocks that are no whole table compare with nothing.
        const auto diffs = compareBlocks(expected, blocks);
        o.insert(QStringLiteral("equal"), diffs ? QJsonValue(diffs->isEmpty()) : QJsonValue());
        o.insert(QStringLiteral("differences"), differencesJson(diffs.value_or(QList<TableDifference>{})));
    }
    o.insert(QStringLiteral("hash"), blocksHash(blocks));
    return json(o);
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
    s.subscriptions = m_subscriptions;
    // Without a broker (a gateway serving Modbus alone) no MQTT client runs.
    if (m_config.hasBroker && !m_client.start(s, why))
        return false;

    for (size_t i = 0; i < size_t(m_config.devices.size()) && i < m_lines.size(); ++i) {
        auto d = std::make_unique<Device>();
        d->config = m_config.devices[i];
        d->line = m_lines[i].line;
        d->session = m_lines[i].session;
        d->index = int(i);
        d->valuesTopic = topic(d->config.name, "values").toUtf8();
        DeviceState state;
        state.name = d->config.name;
        state.mode = d->config.mode;
        m_states.push_back(state);
        StreamKeeper::Settings ks;
        ks.port = m_lines[i].number;
        ks.address = d->config.address;
        ks.mode = d->config.mode;
        ks.digits = d->config.digits;
        ks.silenceMs = d->config.silenceSeconds * 1000;
        // Every identification is followed by a read-back: the config topic.
        ks.readTable = true;
        d->keeper = std::make_unique<StreamKeeper>(d->session, ks);
        Device *dev = d.get();
        connect(dev->keeper.get(), &StreamKeeper::statusChanged, this,
                [this, dev](StreamKeeper::Status status, const QString &why) { deviceStatus(*dev, status, why); });
        connect(dev->keeper.get(), &StreamKeeper::values, this,
                [this, dev](const LiveValues &values) { deviceValues(*dev, values); });
        connect(dev->keeper.get(), &StreamKeeper::tableRead, this,
                [this, dev](const QByteArray &blocks) { deviceTable(*dev, blocks); });
        connect(dev->keeper.get(), &StreamKeeper::tableNotRead, this,
                [this, dev](const QString &why) { deviceTableNotRead(*dev, why); });
        connect(dev->keeper.get(), &StreamKeeper::tried, this, [this] {
            if (++m_tried == int(m_devices.size()))
                emit allTried();
        });
        m_devices.push_back(std::move(d));
    }
    for (auto &d : m_devices)
        d->keeper->start();
    return true;
}

void Gateway::deviceStatus(Device &d, StreamKeeper::Status status, const QString &why)
{
    if (m_stopped)
        return;
    const QString word = StreamKeeper::word(status);
    const QString port = shownPortName(d.config.port);
    const int wait = (d.keeper->nextTryMs() + 999) / 1000;
    switch (status) {
    case StreamKeeper::Status::Online: {
        const DeviceIdentity id = d.keeper->device().value_or(DeviceIdentity{});
        say(tr("设备 %1：%2（%3，%4 号设备，显示位数 %5）")
                .arg(d.config.name, word, port).arg(id.number).arg(id.digits));
        break;
    }
    case StreamKeeper::Status::Lost:
        say(tr("设备 %1：%2（%3：%4），%n 秒后再试", nullptr, wait).arg(d.config.name, word, port, why));
        break;
    case StreamKeeper::Status::OtherDevice:
        say(tr("设备 %1：%2（%3；它的数值不发布），%n 秒后再试", nullptr, wait).arg(d.config.name, word, why));
        break;
    case StreamKeeper::Status::Silent:
    case StreamKeeper::Status::NoAnswer:
        say(tr("设备 %1：%2（%3），%n 秒后再试", nullptr, wait).arg(d.config.name, word, why));
        break;
    case StreamKeeper::Status::Starting:
        return;
    }
    DeviceState &state = m_states[size_t(d.index)];
    state.status = status;
    state.device = d.keeper->device();
    setStatus(d, word);
    emit deviceChanged(d.index);
}

void Gateway::deviceValues(Device &d, const LiveValues &values)
{
    if (m_stopped)
        return;
    // One look at the clock for the stamp and the age.
    const TimeStamp now = timeStampNow();
    publishValues({d.valuesTopic, valuesPayload(now.view(), values), &d});
    DeviceState &state = m_states[size_t(d.index)];
    state.last = values;
    ++state.sets;
    state.lastMs = now.msecs;
    emit deviceChanged(d.index);
}

void Gateway::deviceTable(Device &d, const QByteArray &blocks)
{
    if (m_stopped)
        return;
    d.tablePayload = configPayload(timestamp(), blocks, d.config.expectBlocks);
    if (!d.config.expectBlocks.isEmpty()) {
        const int n = int(compareBlocks(d.config.expectBlocks, blocks).value_or(QList<TableDifference>{}).size());
        if (n == 0)
            say(tr("设备 %1：参数表与 %2 相同").arg(d.config.name, d.config.expect));
        else
            say(tr("设备 %1：参数表与 %2 有 %n 处不同", nullptr, n).arg(d.config.name, d.config.expect));
    }
    publishConfig(d);
}

void Gateway::deviceTableNotRead(Device &d, const QString &why)
{
    if (m_stopped)
        return;
    say(tr("设备 %1：没能回读参数表（%2），照样发布数值").arg(d.config.name, why));
    d.tablePayload = json({{QStringLiteral("time"), timestamp()}, {QStringLiteral("equal"), QJsonValue::Null},
                      {QStringLiteral("error"), why}});
    publishConfig(d);
}

void Gateway::publishConfig(Device &d)
{
    d.tableSent = m_brokerUp && m_client.publish(topic(d.config.name, "config"), d.tablePayload, true);
}

void Gateway::publishValues(const Message &m)
{
    if (!m_config.hasBroker)
        return;
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
    for (auto &d : m_devices) {
        if (!d->status.isEmpty())
            d->statusSent = m_client.publish(topic(d->config.name, "status"), d->status.toUtf8(), true);
        if (!d->tablePayload.isEmpty() && !d->tableSent)
            publishConfig(*d);
    }
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
    for (auto &d : m_devices) {
        d->statusSent = false;
        d->tableSent = false;
    }
}

void Gateway::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    // The devices stop streaming before the gateway goes.
    for (auto &d : m_devices) {
        d->keeper->stop();
        if (d->session->isOpen())
            d->line->waitUntilWritten(1000);
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
