#include "gw/homeassistant.h"

#include "session/livevalues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>

namespace vorn::gw {

namespace {

QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// An id Home Assistant takes in a topic: letters, digits, _ and -.
QString idText(QString text)
{
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9_-]"));
    return text.replace(other, QStringLiteral("_"));
}

}  // namespace

HomeAssistant::HomeAssistant(Gateway &gateway, const Config &config, QString version, QObject *parent)
    : QObject(parent), m_gateway(gateway), m_config(config), m_version(std::move(version))
{
    m_gatewayId = QStringLiteral("rt8gw_") + idText(m_config.clientId.isEmpty() ? m_config.prefix : m_config.clientId);
    m_gatewayStatus = m_config.prefix + QStringLiteral("/gateway/status");
    gateway.addSubscription(m_config.haPrefix + QStringLiteral("/status"));
    gateway.addSubscription(m_config.haPrefix + QStringLiteral("/sensor/+/+/config"));
    // After the gateway's own connected() slot: its status goes first.
    connect(&gateway.mqtt(), &MqttClient::connected, this, &HomeAssistant::publishAll);
    connect(&gateway.mqtt(), &MqttClient::message, this, &HomeAssistant::message);
}

QString HomeAssistant::sensorTopic(const QString &name, int channel) const
{
    return QStringLiteral("%1/sensor/rt8_%2/ch%3/config").arg(m_config.haPrefix, name).arg(channel);
}

QByteArray HomeAssistant::sensorConfig(const QString &name, int channel) const
{
    // A device's status other than online (lost, silent ...) counts as
    // offline: Home Assistant ignores an availability payload that is
    // neither of its two words.
    const QString available = QStringLiteral("{{ 'online' if value == 'online' else 'offline' }}");
    const auto availability = [&](const QString &topic) {
        return QJsonObject{{QStringLiteral("topic"), topic},
                           {QStringLiteral("payload_available"), QStringLiteral("online")},
                           {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
                           {QStringLiteral("value_template"), available}};
    };
    const QString id = QStringLiteral("rt8_") + name;
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{id}},
                             {QStringLiteral("name"), name},
                             {QStringLiteral("manufacturer"), QStringLiteral("VornRT8")},
                             {QStringLiteral("model"), QStringLiteral("RT8")},
                             {QStringLiteral("sw_version"), m_version},
                             {QStringLiteral("via_device"), m_gatewayId}};
    return compact(QJsonObject{
        {QStringLiteral("name"), QStringLiteral("ch%1").arg(channel)},
        {QStringLiteral("unique_id"), QStringLiteral("%1_ch%2").arg(id).arg(channel)},
        {QStringLiteral("object_id"), QStringLiteral("%1_ch%2").arg(id).arg(channel)},
        {QStringLiteral("state_topic"), m_config.prefix + QLatin1Char('/') + name + QStringLiteral("/values")},
        {QStringLiteral("value_template"), QStringLiteral("{{ value_json.values[%1] }}").arg(channel)},
        {QStringLiteral("state_class"), QStringLiteral("measurement")},
        {QStringLiteral("availability"),
         QJsonArray{availability(m_gatewayStatus), availability(m_config.prefix + QLatin1Char('/') + name + QStringLiteral("/status"))}},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("payload_available"), QStringLiteral("online")},
        {QStringLiteral("device"), device}});
}

void HomeAssistant::publishAll()
{
    MqttClient &client = m_gateway.mqtt();
    // The gateway itself: whether it is connected.
    const QJsonObject gateway{
        {QStringLiteral("name"), QStringLiteral("status")},
        {QStringLiteral("unique_id"), m_gatewayId + QStringLiteral("_status")},
        {QStringLiteral("state_topic"), m_gatewayStatus},
        {QStringLiteral("payload_on"), QStringLiteral("online")},
        {QStringLiteral("payload_off"), QStringLiteral("offline")},
        {QStringLiteral("device_class"), QStringLiteral("connectivity")},
        {QStringLiteral("device"), QJsonObject{{QStringLiteral("identifiers"), QJsonArray{m_gatewayId}},
                                               {QStringLiteral("name"), QStringLiteral("rt8gw ") + m_config.prefix},
                                               {QStringLiteral("model"), QStringLiteral("rt8gw")},
                                               {QStringLiteral("sw_version"), m_version}}}};
    if (!client.publish(QStringLiteral("%1/binary_sensor/%2/status/config").arg(m_config.haPrefix, m_gatewayId),
                        compact(gateway), true))
        return;   // no connection: all again at the next one
    for (const DeviceConfig &d : m_config.devices)
        for (int i = 0; i < kChannels; ++i)
            if (!client.publish(sensorTopic(d.name, i), sensorConfig(d.name, i), true))
                return;
}

void HomeAssistant::message(const QByteArray &topic, const QByteArray &payload, bool retained)
{
    const QString t = QString::fromUtf8(topic);
    // Home Assistant (re)started. A retained "online" comes with every
    // subscription, right after the configs went out.
    if (t == m_config.haPrefix + QStringLiteral("/status")) {
        if (!retained && payload.trimmed() == "online")
            publishAll();
        return;
    }
    // PREFIX_HA/sensor/rt8_NAME/chI/config: a device no longer configured?
    const QString head = m_config.haPrefix + QStringLiteral("/sensor/rt8_");
    if (payload.isEmpty() || !t.startsWith(head))
        return;
    const QString name = t.mid(head.size()).section(QLatin1Char('/'), 0, 0);
    for (const DeviceConfig &d : m_config.devices)
        if (d.name == name)
            return;
    // Only this gateway's: its status among the availability topics.
    const QJsonObject o = QJsonDocument::fromJson(payload).object();
    bool ours = false;
    for (const QJsonValue &a : o.value(QLatin1String("availability")).toArray())
        ours = ours || a.toObject().value(QLatin1String("topic")).toString() == m_gatewayStatus;
    if (!ours || !o.value(QLatin1String("unique_id")).toString().startsWith(QStringLiteral("rt8_")))
        return;
    if (!m_gateway.mqtt().publish(topic, QByteArray(), true))
        return;
    if (!m_cleared.contains(name)) {
        m_cleared.insert(name);
        const QByteArray b = (QStringLiteral("rt8gw: ") + tr("设备 %1 已不在配置中：清除了它在 Home Assistant 中的发现配置。").arg(name)
                              + QLatin1Char('\n')).toUtf8();
        std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
        std::fflush(stderr);
    }
}

}  // namespace vorn::gw
