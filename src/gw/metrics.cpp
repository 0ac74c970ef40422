#include "gw/metrics.h"

#include "session/livevalues.h"

#include <QLocale>
#include <QTcpSocket>
#include <QTimer>

#include <cmath>

namespace vorn::gw {

namespace {

// A label value: backslash, double quote and line feed escaped.
QByteArray label(const QString &text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray number(double v)
{
    if (std::isinf(v))
        return v > 0 ? "+Inf" : "-Inf";
    return QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

void head(QByteArray &out, const char *name, const char *type, const char *help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

QByteArray answer(const char *status, const QByteArray &body, const char *more = "")
{
    QByteArray out = "HTTP/1.1 ";
    out += status;
    out += "\r\nContent-Type: ";
    out += body.startsWith('#') ? "text/plain; version=0.0.4; charset=utf-8" : "text/plain; charset=utf-8";
    out += "\r\nContent-Length: ";
    out += QByteArray::number(body.size());
    out += "\r\nConnection: close\r\n";
    out += more;
    out += "\r\n";
    out += body;
    return out;
}

constexpr StreamKeeper::Status kStatuses[] = {StreamKeeper::Status::Starting, StreamKeeper::Status::Online,
                                              StreamKeeper::Status::Silent, StreamKeeper::Status::Lost,
                                              StreamKeeper::Status::NoAnswer, StreamKeeper::Status::OtherDevice};

}  // namespace

MetricsServer::MetricsServer(const Gateway &gateway, QString version, QObject *parent)
    : QObject(parent), m_gateway(gateway), m_version(std::move(version))
{
    connect(&m_server, &QTcpServer::newConnection, this, &MetricsServer::accept);
}

bool MetricsServer::listen(const QHostAddress &address, quint16 port, QString *why)
{
    if (m_server.listen(address, port))
        return true;
    *why = m_server.errorString();
    *why += privilegedPortHint(port, m_server.serverError() == QAbstractSocket::SocketAccessError);
    return false;
}

QByteArray MetricsServer::text(const Snapshot &s)
{
    QByteArray out;
    out.reserve(512 + int(s.devices.size()) * 1200);
    head(out, "rt8_channel_value", "gauge", "A channel's value as the window shows it; only while its device is online.");
    for (const Gateway::DeviceState &d : s.devices) {
        // A device comes online with its first set of values, so while it
        // is online its last set is never one from before an outage.
        if (d.status != StreamKeeper::Status::Online || d.lastMs == 0)
            continue;
        const QByteArray name = label(d.name);
        for (int i = 0; i < kChannels; ++i) {
            const double v = d.last.number(i);
            if (std::isnan(v))
                continue;   // a text the device shows, not a number
            out += "rt8_channel_value{device=\"" + name + "\",channel=\"" + QByteArray::number(i) + "\"} "
                   + number(v) + '\n';
        }
    }
    head(out, "rt8_device_up", "gauge", "1 while the device is online, else 0.");
    for (const Gateway::DeviceState &d : s.devices)
        out += "rt8_device_up{device=\"" + label(d.name) + "\"} "
               + (d.status == StreamKeeper::Status::Online ? "1" : "0") + '\n';
    head(out, "rt8_device_status", "gauge", "1 for the device's current status, 0 for the others.");
    for (const Gateway::DeviceState &d : s.devices) {
        const QByteArray name = label(d.name);
        for (const StreamKeeper::Status st : kStatuses)
            out += "rt8_device_status{device=\"" + name + "\",status=\"" + StreamKeeper::word(st).toLatin1() + "\"} "
                   + (d.status == st ? "1" : "0") + '\n';
    }
    head(out, "rt8_value_sets_total", "counter", "Sets of values taken from the device since the gateway started.");
    for (const Gateway::DeviceState &d : s.devices)
        out += "rt8_value_sets_total{device=\"" + label(d.name) + "\"} " + QByteArray::number(d.sets) + '\n';
    head(out, "rt8_last_value_timestamp_seconds", "gauge", "When the device's last set of values came (Unix time).");
    for (const Gateway::DeviceState &d : s.devices)
        if (d.lastMs > 0)
            out += "rt8_last_value_timestamp_seconds{device=\"" + label(d.name) + "\"} " + number(double(d.lastMs) / 1000.0)
                   + '\n';
    head(out, "rt8_mqtt_dropped_total", "counter", "Sets of values dropped because the queue was full while the broker was away.");
    out += "rt8_mqtt_dropped_total " + QByteArray::number(s.droppedTotal) + '\n';
    head(out, "rt8_mqtt_connected", "gauge", "1 while the gateway is connected to the MQTT broker.");
    out += QByteArray("rt8_mqtt_connected ") + (s.brokerConnected ? "1" : "0") + '\n';
    head(out, "rt8_mqtt_queue_length", "gauge", "Sets of values waiting for the broker.");
    out += "rt8_mqtt_queue_length " + QByteArray::number(s.queueLength) + '\n';
    head(out, "rt8_build_info", "gauge", "The gateway's version.");
    out += "rt8_build_info{version=\"" + label(s.version) + "\"} 1\n";
    return out;
}

void MetricsServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        // Bounded: a few scrapers at a time, each done within 5 s.
        if (m_open >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        timer->start(kRequestMs);
        auto *request = new QByteArray;
        connect(socket, &QObject::destroyed, this, [request] { delete request; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, request] {
            request->append(socket->read(kMaxHeadBytes + 1 - request->size()));
            socket->readAll();   // anything beyond the head is not read
            const bool whole = request->contains("\r\n\r\n") || request->contains("\n\n");
            if (!whole && request->size() <= kMaxHeadBytes)
                return;
            QByteArray reply;
            if (!whole) {
                reply = answer("431 Request Header Fields Too Large", "request too large\n");
            } else {
                const QByteArray line = request->left(request->indexOf('\n')).trimmed();
                const QList<QByteArray> parts = line.split(' ');
                QByteArray path = parts.value(1);
                if (const qsizetype q = path.indexOf('?'); q >= 0)
                    path.truncate(q);
                if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.") || !path.startsWith('/'))
                    reply = answer("400 Bad Request", "bad request\n");
                else if (parts[0] != "GET")
                    reply = answer("405 Method Not Allowed", "only GET\n", "Allow: GET\r\n");
                else if (path != "/metrics")
                    reply = answer("404 Not Found", "only /metrics\n");
                else
                    reply = answer("200 OK", text({m_gateway.devices(), m_gateway.brokerConnected(),
                                                   m_gateway.droppedTotal(), m_gateway.queueLength(), m_version}));
            }
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
            socket->write(reply);
            socket->disconnectFromHost();
        });
    }
}

}  // namespace vorn::gw
