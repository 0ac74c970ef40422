#pragma once
// The gateway: one device session per configured device, each kept streaming
// its live values by a StreamKeeper, and every set of values taken published
// to the broker. While the broker is away the values wait in a bounded queue
// (the oldest dropped first); how many were dropped is published once it is
// back.
//
// Topics under the prefix P:
//   P/NAME/values      {"time": ..., "mode": "raw"|"target", "values": [ten]}
//   P/NAME/config      {"time", "equal": true|false, "differences": [...], "hash": "<sha256 hex>"}
//                      (retained; after each identification the table is read
//                      back: equal and differences against the device's
//                      "expect" file, only when it has one; a read-back that
//                      fails: {"time", "equal": null, "error": "..."})
//   P/NAME/status      online, silent, lost, no-answer, other-device, offline
//                      (retained; meaningful while P/gateway/status is online)
//   P/gateway/status   online, offline (retained; offline is the last will)
//   P/gateway/dropped  {"time": ..., "dropped": N, "total": M, "devices": {NAME: N}}
//                      (retained; after an outage that dropped values)

#include "gw/config.h"
#include "gw/mqttclient.h"
#include "session/streamkeeper.h"

#include <QObject>

#include <deque>
#include <memory>
#include <vector>

namespace vorn {
class QtSerialControl;
}

namespace vorn::gw {

// A configured device's line and the session on it, made by main(): one
// for each device of the configuration, in its order.
struct DeviceLine
{
    QtSerialControl *port = nullptr;
    DeviceSession *session = nullptr;
    int number = 0;   // the port number to open
};

class Gateway : public QObject
{
    Q_OBJECT
public:
    // The gateway owns neither the lines nor their sessions.
    Gateway(Config config, std::vector<DeviceLine> lines, QObject *parent = nullptr);
    ~Gateway() override;

    // Starts the broker connection and every device; a device that cannot
    // be reached is tried again later, for ever. False (and why) only when
    // the MQTT library refuses the settings.
    bool start(QString *why);
    // Feedback off on every device, statuses offline, a clean goodbye to the
    // broker.
    void stop();

    // One set of values as published: {"time","mode","values"}, raw values
    // as numbers, a record's fields as numbers where they are numbers,
    // otherwise as the text shown.
    static QByteArray valuesPayload(QByteArrayView time, const LiveValues &live);
    // The config topic's payload for the blocks read back; expected: the
    // blocks of the device's "expect" file, empty when it has none.
    static QByteArray configPayload(const QString &time, const QByteArray &blocks, const QByteArray &expected);

    // What the gateway knows of one configured device, for the faces that
    // show it besides MQTT. Kept on the gateway's thread.
    struct DeviceState
    {
        QString name;
        StreamKeeper::Status status = StreamKeeper::Status::Starting;
        std::optional<DeviceIdentity> device;   // once it answered
        FeedbackMode mode = FeedbackMode::Raw;
        LiveValues last;                        // the last set taken (none: no values yet)
        quint64 sets = 0;                       // sets taken since the start
        qint64 lastMs = 0;                      // when the last set came, ms since the epoch; 0: never
    };
    // In the order of the configuration.
    const std::vector<DeviceState> &devices() const { return m_states; }
    // The broker connection as the gateway sees it.
    bool brokerConnected() const { return m_brokerUp; }
    qint64 droppedTotal() const { return m_droppedTotal; }
    int queueLength() const { return int(m_queue.size()); }
    // The broker connection, for faces that publish beside the values
    // (Home Assistant's discovery); topics to subscribe to at every
    // connection are added before start().
    MqttClient &mqtt() { return m_client; }
    void addSubscription(const QString &topic) { m_subscriptions.append(topic); }

signals:
    // A device's state changed: its status, or a new set of values.
    void deviceChanged(int index);
    // Every configured device has been tried once (opened or not); once.
    void allTried();
    // How many devices are online now, of how many configured.
    void onlineChanged(int online, int configured);

private:
    struct Device;
    struct Message
    {
        QByteArray topic;   // UTF-8
        QByteArray payload;
        Device *device = nullptr;
    };

    void deviceStatus(Device &d, StreamKeeper::Status status, const QString &why);
    void deviceValues(Device &d, const LiveValues &values);
    void deviceTable(Device &d, const QByteArray &blocks);
    void deviceTableNotRead(Device &d, const QString &why);
    void publishConfig(Device &d);
    void setStatus(Device &d, const QString &status);
    void publishValues(const Message &m);
    void brokerUp();
    void brokerDown(const QString &why, bool repeated);
    QString topic(const QString &name, const char *leaf) const;

    Config m_config;
    std::vector<DeviceLine> m_lines;
    MqttClient m_client;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::vector<DeviceState> m_states;
    std::deque<Message> m_queue;
    bool m_brokerUp = false;
    bool m_stopped = false;
    int m_tried = 0;
    qint64 m_droppedTotal = 0;
    qint64 m_droppedOutage = 0;
    QString m_brokerWhy;
    QStringList m_subscriptions;
};

}  // namespace vorn::gw
