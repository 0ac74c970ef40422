#pragma once
// The serial control over QSerialPort, or over a TCP connection for a port
// mapped to a network URL (tcp://, rfc2217://).

#include "link/netport.h"
#include "link/portmap.h"
#include "link/serialcontrol.h"

#include <QSerialPort>

class QTcpSocket;

namespace vorn {

class QtSerialControl : public SerialControl
{
    Q_OBJECT
public:
    explicit QtSerialControl(PortMap ports, QObject *parent = nullptr);
    ~QtSerialControl() override;

    bool open() override;
    void close() override;
    bool isOpen() const override;
    QString devicePath(int port) const override { return shownPortName(m_ports.path(port)); }
    bool deviceExists(int port) const override;
    QString adapterSerial(int port) const override;
    bool output(const QByteArray &frame) override;
    void purgeInput() override;
    void setPortName(int port, const QString &name) override;

    // How long a network port may take to connect and, for rfc2217://, to
    // take up the COM-PORT-OPTION, unless set otherwise.
    static constexpr int kConnectTimeoutMs = 3000;
    void setConnectTimeout(int msecs) { m_connectMs = msecs > 0 ? msecs : kConnectTimeoutMs; }
    int connectTimeout() const { return m_connectMs; }

    // Waits until every byte written has left the program for the driver and
    // the driver's queue is empty, at most msecs. False when some bytes still
    // wait (or the port is not open). A front end that ends right after a
    // request calls this before closing the port.
    bool waitForSent(int msecs);

private:
    void takeWaiting();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void lose(const QString &reason);
    bool openNetwork(const QString &url);
    // Takes what the connection holds, through the Telnet codec for an
    // rfc2217:// port; answers the server where it must.
    QByteArray takeNet();
    void onNetReadyRead();

    // Why the line went: the system's words, or what the device server said
    // before it closed, or that the device is gone.
    QString serialLoss(const QString &systemWords) const;
    QString netLoss(const QString &systemWords) const;
    // Keeps what a device server says before it closes (a refusal comes as a
    // line of text), while the connection has carried nothing but text.
    void noteNet(const QByteArray &data);

    QTcpSocket *m_sock = nullptr;
    QByteArray m_serverText;
    bool m_onlyText = true;
    // While a network port is down: a connection made in the background, to
    // learn without waiting whether the server is back; taken over by the
    // open that follows.
    mutable QTcpSocket *m_probe = nullptr;
    mutable QString m_probeFor;
    mutable qint64 m_probeSince = 0;
    void dropProbe() const;
    bool m_telnet = false;
    Rfc2217Codec m_codec;
    bool m_purgeWanted = false;
    int m_connectMs = kConnectTimeoutMs;

    PortMap m_ports;
    const PortMap m_systemPorts;
    QSerialPort *m_port = nullptr;
    bool m_losing = false;
    QString m_lossReason;
};

}  // namespace vorn
