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
    m_second.setInterval(1000);
    connect(&m_second, &QTimer::timeout, this, &MqttClient::onSecond);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttClient::connectNow);
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
    // Served from one thread at a time (the connecting thread, then the
    // owner's): a publish writes at once instead of waking a loop.
    mosquitto_threaded_set(m_mosq, false);
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
    connectNow();
    return true;
}

QString MqttClient::takenOverText(const QString &clientId)
{
    return tr("另一个客户端以同一个 client id %1 接管了连接").arg(clientId);
}

void MqttClient::connectNow()
{
    if (m_stopping)
        return;
    joinConnecting();
    m_told = false;
    m_up = false;
    m_connectedAt.reset();
    const QByteArray host = m_settings.host.toUtf8();
    m_connecting.reset(QThread::create([this, host] {
        const int rc = mosquitto_connect(m_mosq, host.constData(), m_settings.port, m_settings.keepAliveSeconds);
        const int saved = errno;
        QMetaObject::invokeMethod(this, [this, rc, saved] {
            errno = saved;
            connectDone(rc);
        }, Qt::QueuedConnection);
    }));
    m_connecting->start();
}

void MqttClient::joinConnecting()
{
    if (m_connecting) {
        m_connecting->wait();
        m_connecting.reset();
    }
}

void MqttClient::connectDone(int rc)
{
    joinConnecting();
    if (m_stopping)
        return;
    if (rc != MOSQ_ERR_SUCCESS) {
        ended(rc);
        return;
    }
    const int fd = mosquitto_socket(m_mosq);
    m_read = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_read, &QSocketNotifier::activated, this, &MqttClient::onReadable);
    m_write = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    connect(m_write, &QSocketNotifier::activated, this, &MqttClient::onWritable);
    m_second.start();
    served(MOSQ_ERR_SUCCESS);
}

void MqttClient::onReadable()
{
    served(mosquitto_loop_read(m_mosq, 1));
}

void MqttClient::onWritable()
{
    served(mosquitto_loop_write(m_mosq, 1));
}

void MqttClient::onSecond()
{
    // A connection that holds ends a takeover and starts the delays over.
    if (m_connectedAt && Clock::now() - *m_connectedAt >= kHeld) {
        m_delay = 1;
        m_takenOver = false;
    }
    served(mosquitto_loop_misc(m_mosq));
}

void MqttClient::served(int rc)
{
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) < 0) {
        ended(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc);
        return;
    }
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttClient::dropNotifiers()
{
    // Gone before the event loop looks at the socket again: libmosquitto
    // closes it when the connection ends.
    delete m_read;
    delete m_write;
    m_read = m_write = nullptr;
    m_second.stop();
}

void MqttClient::ended(int rc)
{
    const bool wasUp = m_up;
    m_up = false;
    dropNotifiers();
    if (m_stopping)
        return;
    QString why = libraryText(rc);
    bool repeated = false;
    if (wasUp && m_connectedAt && Clock::now() - *m_connectedAt < kTakenOver && !m_settings.clientId.isEmpty()) {
        // The broker let another client in with this client id. Trying
        // again at once would throw that one out in turn.
        why = takenOverText(m_settings.clientId);
        repeated = m_takenOver;
        m_takenOver = true;
        m_delay = kLastDelaySeconds;
    }
    m_connectedAt.reset();
    if (!m_told) {
        m_told = true;
        emit disconnected(why, repeated);
    }
    m_retry.start(m_delay * 1000);
    m_delay = std::min(m_delay * 2, kLastDelaySeconds);
}

void MqttClient::onConnect(mosquitto *, void *self, int rc)
{
    // Told after libmosquitto's turn: what the listeners publish then goes
    // out as from anywhere else, not from inside its callback.
    auto *c = static_cast<MqttClient *>(self);
    if (rc == 0) {
        c->m_up = true;
        c->m_connectedAt = Clock::now();
        // A clean session forgets the subscriptions: made again each time,
        // before connected() is told.
        for (const QString &topic : c->m_settings.subscriptions)
            mosquitto_subscribe(c->m_mosq, nullptr, topic.toUtf8().constData(), 1);
        QMetaObject::invokeMethod(c, [c] {
            if (c->m_up)
                emit c->connected();
        }, Qt::QueuedConnection);
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
    if (c->m_tracking)
        c->m_acked.insert(mid);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *m)
{
    // Inside libmosquitto's turn; told after it, from the event loop.
    auto *c = static_cast<MqttClient *>(self);
    QByteArray topic(m->topic);
    QByteArray payload(static_cast<const char *>(m->payload), m->payloadlen);
    const bool retained = m->retain;
    QMetaObject::invokeMethod(c, [c, topic, payload, retained] { emit c->message(topic, payload, retained); },
                              Qt::QueuedConnection);
}

bool MqttClient::publish(const QByteArray &topic, const QByteArray &payload, bool retain, int *mid)
{
    // Only on a connection the broker accepted: otherwise the caller keeps
    // the message.
    if (!m_mosq || !m_up)
        return false;
    int id = 0;
    const int rc = mosquitto_publish(m_mosq, &id, topic.constData(), int(payload.size()),
                                     payload.constData(), 1, retain);
    if (mid)
        *mid = id;
    switch (rc) {
    case MOSQ_ERR_SUCCESS:
        break;
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_ERRNO:
        // The connection broke under this write. libmosquitto has queued the
        // QoS 1 message all the same and sends it again once connected: it
        // is taken. A copy kept by the caller as well would go out twice, or
        // be counted dropped while it is delivered.
        served(rc);
        return true;
    default:
        return false;
    }
    // What did not fit into the socket goes when it is writable.
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
    return true;
}

void MqttClient::trackAcknowledged()
{
    m_tracking = true;
}

bool MqttClient::waitAcknowledged(const std::set<int> &mids, int ms)
{
    // Served here, on the owner's thread, until the broker acknowledged them
    // all or the time is up.
    const auto all = [&] {
        for (int m : mids)
            if (!m_acked.count(m))
                return false;
        return true;
    };
    const QDeadlineTimer deadline(ms);
    while (!all() && m_up && !deadline.hasExpired()) {
        const int rc = mosquitto_loop(m_mosq, int(std::min<qint64>(deadline.remainingTime(), 100)), 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            ended(rc);
            break;
        }
    }
    return all();
}

void MqttClient::stop()
{
    if (m_stopping.exchange(true))
        return;
    m_retry.stop();
    joinConnecting();
    if (m_mosq && mosquitto_socket(m_mosq) >= 0) {
        // A clean goodbye (no last will), sent before the socket goes.
        mosquitto_disconnect(m_mosq);
        const QDeadlineTimer goodbye(3000);
        while (mosquitto_socket(m_mosq) >= 0 && !goodbye.hasExpired()
               && mosquitto_loop(m_mosq, 100, 1) == MOSQ_ERR_SUCCESS) {
        }
    }
    m_up = false;
    dropNotifiers();
}

}  // namespace vorn::gw
