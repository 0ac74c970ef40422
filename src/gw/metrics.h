#pragma once
// Prometheus's face of the gateway: GET /metrics on a TCP port, answered in
// the text exposition format (version 0.0.4) from what the gateway knows at
// that moment. A small handler on QTcpServer: it reads a request's head only
// (at most 8 KiB, within 5 s of connecting), answers GET /metrics, 404 for
// any other path, 405 for any other method, 400 for anything else, and
// closes the connection after every answer.

#include "gw/gateway.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

namespace vorn::gw {

class MetricsServer : public QObject
{
    Q_OBJECT
public:
    MetricsServer(const Gateway &gateway, QString version, QObject *parent = nullptr);

    // False (and why) when the port cannot be had.
    bool listen(const QHostAddress &address, quint16 port, QString *why);
    quint16 port() const { return m_server.serverPort(); }

    // The metrics as scraped.
    struct Snapshot
    {
        std::vector<Gateway::DeviceState> devices;
        bool brokerConnected = false;
        qint64 droppedTotal = 0;
        int queueLength = 0;
        QString version;
    };
    static QByteArray text(const Snapshot &s);

    // Limits of a request.
    static constexpr int kMaxHeadBytes = 8192;
    static constexpr int kRequestMs = 5000;
    static constexpr int kMaxConnections = 16;

private:
    void accept();

    const Gateway &m_gateway;
    QString m_version;
    QTcpServer m_server;
    int m_open = 0;
};

}  // namespace vorn::gw
