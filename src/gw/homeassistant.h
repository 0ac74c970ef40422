#pragma once
// Home Assistant's face of the gateway: MQTT discovery. For each device and
// channel a retained config on PREFIX_HA/sensor/rt8_NAME/chI/config that
// reads channel I from the device's values topic, available while both the
// gateway and the device are online; one for the gateway itself (a
// connectivity sensor on PREFIX/gateway/status). Published at every
// connection and again whenever Home Assistant says PREFIX_HA/status online.
//
// Configs of devices no longer configured are found among the broker's
// retained configs: one that names this gateway's PREFIX/gateway/status in
// its availability and a device that is not configured is cleared (an empty
// retained payload).

#include "gw/gateway.h"

#include <QObject>
#include <QSet>

namespace vorn::gw {

class HomeAssistant : public QObject
{
    Q_OBJECT
public:
    // Before the gateway starts: it subscribes to what it needs.
    HomeAssistant(Gateway &gateway, const Config &config, QString version, QObject *parent = nullptr);

    // The config of channel of device name, and its topic.
    QByteArray sensorConfig(const QString &name, int channel) const;
    QString sensorTopic(const QString &name, int channel) const;

private:
    void publishAll();
    void message(const QByteArray &topic, const QByteArray &payload, bool retained);

    Gateway &m_gateway;
    Config m_config;
    QString m_version;
    QString m_gatewayId;      // rt8gw_..., the gateway's device in Home Assistant
    QString m_gatewayStatus;  // PREFIX/gateway/status
    QSet<QString> m_cleared;  // devices whose configs were cleared (told once)
};

}  // namespace vorn::gw
