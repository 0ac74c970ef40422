#pragma once
// A connection to an MQTT broker through libmosquitto. Its network runs on a
// thread of its own, which connects, serves the connection and, when the
// connection fails or cannot be made, tries again after 1, 2, 4 ... up to 60
// seconds. The delays start over only once a connection has held for 60 s.
// A connection lost within 5 s of being made was taken over by another
// client with the same client id (the broker lets one in at a time): that
// is told once, and the next try waits the full 60 s, so two gateways with
// one client id change places at most about once a minute instead of
// fighting for the connection without end. What it tells arrives as queued
// signals on the owner's thread.
//
// The loop is this class's own, not libmosquitto's (mosquitto_loop_start and
// mosquitto_reconnect_delay_set): libmosquitto 2.0.11 (Debian 12) starts its
// delays over at every accepted connection (the endless fight above), gives
// up for good after errors such as a broker name that does not resolve yet
// or a TLS failure, and waits 1, 4, 9, 16 ... (n squared) rather than
// doubling.

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

struct mosquitto;
struct mosquitto_message;

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
        // Subscribed (QoS 1) at every connection; what arrives on them is
        // told by message().
        QStringList subscriptions;
    };

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Sets the client up and starts connecting; false (and why) when the
    // library refuses the settings.
    bool start(const Settings &settings, QString *why);
    // Publishes at QoS 1. False when the library takes nothing (no
    // connection): the caller keeps the message.
    bool publish(const QString &topic, const QByteArray &payload, bool retain, int *mid = nullptr)
    {
        return publish(topic.toUtf8(), payload, retain, mid);
    }
    // The topic in UTF-8, as the values' topics are kept.
    bool publish(const QByteArray &topic, const QByteArray &payload, bool retain, int *mid = nullptr);
    // From now on acknowledgements are kept for waitAcknowledged.
    void trackAcknowledged();
    // Waits at most ms for the broker to acknowledge the messages mids.
    bool waitAcknowledged(const std::set<int> &mids, int ms);
    // Disconnects cleanly (no last will) and ends the network thread.
    void stop();

    // "another client with client id X took over the connection"
    static QString takenOverText(const QString &clientId);

signals:
    void connected();
    // The connection ended or could not be made; why, as the library says,
    // or takenOverText. repeated: taken over again, as told before.
    void disconnected(const QString &why, bool repeated);
    // A message on one of the subscriptions (topic in UTF-8).
    void message(const QByteArray &topic, const QByteArray &payload, bool retained);

private:
    void run();
    void wait(int seconds);
    static void onConnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *m);

    Settings m_settings;
    mosquitto *m_mosq = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_tracking = false;
    std::set<int> m_acked;      // acknowledged mids, while tracking
    // The network thread's own: when the current connection was accepted
    // (empty when it was not), and whether a takeover was told and not yet
    // ended by a connection that held.
    std::optional<std::chrono::steady_clock::time_point> m_connectedAt;
    bool m_takenOver = false;
    std::atomic<bool> m_told{false};   // the current failure was reported
};

}  // namespace vorn::gw
