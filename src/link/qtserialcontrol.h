#pragma once
// The serial control over QSerialPort.

#include "link/portmap.h"
#include "link/serialcontrol.h"

#include <QSerialPort>

namespace vorn {

class QtSerialControl : public SerialControl
{
    Q_OBJECT
public:
    explicit QtSerialControl(PortMap ports, QObject *parent = nullptr);
    ~QtSerialControl() override;

    int open() override;
    void close() override;
    bool isOpen() const override { return m_port && m_port->isOpen(); }
    QString devicePath(int port) const override { return m_ports.path(port); }
    bool deviceExists(int port) const override;
    QString adapterSerial(int port) const override;
    bool output(const QByteArray &frame) override;

    // Waits until every byte written has left the program for the driver and
    // the driver's queue is empty, at most msecs. False when some bytes still
    // wait (or the port is not open). A front end that ends right after a
    // request calls this before closing the port.
    bool waitForSent(int msecs);

    // Bytes the port object holds and the control has not taken yet (tests).
    qint64 heldByPort() const { return m_port ? m_port->bytesAvailable() : 0; }

private:
    void takeWaiting();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void lose(const QString &reason);

    PortMap m_ports;
    QSerialPort *m_port = nullptr;
    bool m_losing = false;
};

// "38400,n,8,1" to its parts; false when the text is not a settings text.
bool applySettings(QSerialPort &port, const QString &settings);

}  // namespace vorn
