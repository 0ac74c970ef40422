#include "gw/mqttclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <cstring>

#include <mosquitto.h>

namespace vorn::gw {

namespace {

QString libraryText(int rc)
{
    return QString::fromUtf8(rc == MOSQ_ERR_ERRNO ? strerror(errno) : mosquitto_strerror(rc));
}

using Clock = std::chrono::steady_clock;
// A connection lost sooner than this was taken over by another client.
constexpr auto kTakenOver = std::chrono::seconds(5);
// A connection that held this long starts the delays over.
constexpr auto kHeld = std::chrono::seconds(60);
constexpr int kLastDelaySeconds = 60;

}  // namespace

MqttClient::MqttClient(QObject *parent) : QObject(parent)
{
    mosquitto_lib_init();
}

MqttClient::~MqttClient()
{
    stop();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    mosquitto_lib_cleanup();
}

bool MqttClient::start(const Settings &s, QString *why)
{
    m_settings = s;
    const QByteArray id = s.clientId.toUtf8();
    m_mosq = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this);
    if (!m_mosq) {
        *why = QString::fromUtf8(strerror(errno));
        return false;
    }
    mosquitto_threaded_set(m_mosq, true);
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(m_mosq, 100);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_publish_callback_set(m_mosq, &MqttClient::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessage);
    int rc = MOSQ_ERR_SUCCESS;
    if (!s.willTopic.isEmpty())
        rc = mosquitto_will_set(m_mosq, s.willTopic.toUtf8().constData(), int(s.willPayload.size()),
                                s.willPayload.constData(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !s.userName.isEmpty())
        rc = mosquitto_username_pw_set(m_mosq, s.userName.toUtf8().constData(),
                                       s.password.isEmpty() ? nullptr : s.password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && s.tls)
        rc = mosquitto_tls_set(m_mosq, QFile::encodeName(s.caFile).constData(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        *why = libraryText(rc);
        return false;
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

QString MqttClient::takenOverText(const QString &clientId)
{
    return tr("另一个客户端以同一个 client id %1 接管了连接").arg(clientId);
}

void MqttClient::run()
{
    const QByteArray host = m_settings.host.toUtf8();
    int delay = 1;
    while (!m_stop) {
        m_told = false;
        m_connectedAt.reset();
        int rc = mosquitto_connect(m_mosq, host.constData(), m_settings.port, m_settings.keepAliveSeconds);
        // Served until the connection ends; on stopping, until the goodbye
        // has gone out (the loop then finds no connection), at most 3 s.
        QDeadlineTimer goodbye(QDeadlineTimer::Forever);
        while (rc == MOSQ_ERR_SUCCESS && !goodbye.hasExpired()) {
            rc = mosquitto_loop(m_mosq, 100, 1);
            if (m_stop && goodbye.isForever())
                goodbye.setRemainingTime(3000);
            // A connection that holds ends a takeover and starts the delays over.
            if (m_connectedAt && Clock::now() - *m_connectedAt >= kHeld) {
                delay = 1;
                m_takenOver = false;
            }
        }
        if (m_stop)
            break;
        QString why = libraryText(rc);
        bool repeated = false;
        if (m_connectedAt && Clock::now() - *m_connectedAt < kTakenOver && !m_settings.clientId.isEmpty()) {
            // The broker let another client in with this client id. Trying
            // again at once would throw that one out in turn.
            why = takenOverText(m_settings.clientId);
            repeated = m_takenOver;
            m_takenOver = true;
            delay = kLastDelaySeconds;
        }
        if (!m_told.exchange(true))
            QMetaObject::invokeMethod(this, [this, why, repeated] { emit disconnected(why, repeated); },
                                      Qt::QueuedConnection);
        wait(delay);
        delay = std::min(delay * 2, kLastDelaySeconds);
    }
}

void MqttClient::wait(int seconds)
{
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stop.load(); });
}

void MqttClient::onConnect(mosquitto *, void *self, int rc)
{
    // On the network thread, inside mosquitto_loop.
    auto *c = static_cast<MqttClient *>(self);
    if (rc == 0) {
        c->m_connectedAt = Clock::now();
        // A clean session forgets the subscriptions: made again each time,
        // before connected() is told.
        for (const QString &topic : c->m_settings.subscriptions)
            mosquitto_subscribe(c->m_mosq, nullptr, topic.toUtf8().constData(), 1);
        QMetaObject::invokeMethod(c, [c] { emit c->connected(); }, Qt::QueuedConnection);
        return;
    }
    // Refused: the broker closes the connection.
    c->m_told = true;
    QMetaObject::invokeMethod(c, [c, why = QString::fromUtf8(mosquitto_connack_string(rc))] { emit c->disconnected(why, false); },
                              Qt::QueuedConnection);
}

void MqttClient::onPublish(mosquitto *, void *self, int mid)
{
    auto *c = static_cast<MqttClient *>(self);
    std::lock_guard lock(c->m_mutex);
    if (c->m_tracking) {
        c->m_acked.insert(mid);
        c->m_wake.notify_all();
    }
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *m)
{
    // On the network thread; the message goes to the owner's thread.
    auto *c = static_cast<MqttClient *>(self);
    QByteArray topic(m->topic);
    QByteArray payload(static_cast<const char *>(m->payload), m->payloadlen);
    const bool retained = m->retain;
    QMetaObject::invokeMethod(c, [c, topic, payload, retained] { emit c->message(topic, payload, retained); },
                              Qt::QueuedConnection);
}

bool MqttClient::publish(const QByteArray &topic, const QByteArray &payload, bool retain, int *mid)
{
    if (!m_mosq)
        return false;
    int id = 0;
    const int rc = mosquitto_publish(m_mosq, &id, topic.constData(), int(payload.size()),
                                     payload.constData(), 1, retain);
    if (mid)
        *mid = id;
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttClient::trackAcknowledged()
{
    std::lock_guard lock(m_mutex);
    m_tracking = true;
}

bool MqttClient::waitAcknowledged(const std::set<int> &mids, int ms)
{
    std::unique_lock lock(m_mutex);
    const auto all = [&] {
        for (int m : mids)
            if (!m_acked.count(m))
                return false;
        return true;
    };
    return m_wake.wait_for(lock, std::chrono::milliseconds(ms), all);
}

void MqttClient::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    if (m_mosq)
        mosquitto_disconnect(m_mosq);
    m_wake.notify_all();
    m_thread.join();
}

}  // namespace vorn::gw
