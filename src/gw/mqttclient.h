#pragma once
// A connection to an MQTT broker through libmosquitto. The connection is
// served on the owner's thread, from its event loop (the broker's socket
// read when it is readable, written when libmosquitto has something to
// send, the keep-alive once a second): a set of values published goes out
// in the same call, with no thread to wake. Only making the connection (a
// name looked up, a TCP connection that may take long) runs on a thread of
// its own, and the event loop goes on meanwhile. When the connection fails
// or cannot be made, it is tried again after 1, 2, 4 ... up to 60 seconds. The delays start over only once a connection has held for 60 s.
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
#include <QSocketNotifier>
#include <QString>
#include <QThread>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>

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
    // Starts making the connection on the connecting thread.
    void connectNow();
    // The connecting thread is done: serve the connection, or try again.
    void connectDone(int rc);
    void onReadable();
    void onWritable();
    void onSecond();
    // After every turn of libmosquitto: the connection ended, or whether
    // there is something to write.
    void served(int rc);
    void ended(int rc);
    void dropNotifiers();
    void joinConnecting();
    static void onConnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *m);

    Settings m_settings;
    mosquitto *m_mosq = nullptr;
    // Making the connection; the object is not touched on the owner's
    // thread while it runs.
    std::unique_ptr<QThread> m_connecting;
    std::atomic<bool> m_stopping{false};
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    QTimer m_second;            // keep-alive, and whether the connection held
    QTimer m_retry;
    int m_delay = 1;            // seconds before the next try
    bool m_up = false;          // the broker accepted the connection
    bool m_tracking = false;
    std::set<int> m_acked;      // acknowledged mids, while tracking
    // When the current connection was accepted (empty when it was not), and
    // whether a takeover was told and not yet ended by a connection that held.
    std::optional<std::chrono::steady_clock::time_point> m_connectedAt;
    bool m_takenOver = false;
    bool m_told = false;        // the current failure was reported
};

}  // namespace vorn::gw
