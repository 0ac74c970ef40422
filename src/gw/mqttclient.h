#pragma once
// A connection to an MQTT broker through libmosquitto. Its network runs on a
// thread of its own, which connects, serves the connection and, when the
// connection fails or cannot be made, tries again after 1, 2, 4 ... up to 60
// seconds. What it tells arrives as queued signals on the owner's thread.

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

struct mosquitto;

namespace vorn::gw {

class MqttClient : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        QString host;
        int port = 1883;
        bool tls = false;
        QString caFile;
        QString clientId;
        QString userName;
        QString password;
        int keepAliveSeconds = 30;
        // The message the broker publishes (retained) when this client goes
        // away without saying goodbye.
        QString willTopic;
        QByteArray willPayload;
    };

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Sets the client up and starts connecting; false (and why) when the
    // library refuses the settings.
    bool start(const Settings &settings, QString *why);
    // Publishes at QoS 1. False when the library takes nothing (no
    // connection): the caller keeps the message.
    bool publish(const QString &topic, const QByteArray &payload, bool retain, int *mid = nullptr);
    // From now on acknowledgements are kept for waitAcknowledged.
    void trackAcknowledged();
    // Waits at most ms for the broker to acknowledge the messages mids.
    bool waitAcknowledged(const std::set<int> &mids, int ms);
    // Disconnects cleanly (no last will) and ends the network thread.
    void stop();

signals:
    void connected();
    // The connection ended or could not be made; why, as the library says.
    void disconnected(const QString &why);

private:
    void run();
    void wait(int seconds);
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);

    Settings m_settings;
    mosquitto *m_mosq = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_tracking = false;
    std::set<int> m_acked;      // acknowledged mids, while tracking
    std::atomic<bool> m_connectedOnce{false};
    std::atomic<bool> m_told{false};   // the current failure was reported
};

}  // namespace vorn::gw
