#pragma once
// In-memory serial control for tests: ports that exist, are in use or fail,
// frames the window wrote, and bytes "from the device" pushed in by the test.

#include "link/serialcontrol.h"

#include <QList>
#include <QMap>

namespace vorn {

class FakeSerialControl : public SerialControl
{
    Q_OBJECT
public:
    using SerialControl::SerialControl;

    // What opening port p yields (None: it opens), with the system's words
    // for a failure; ports not listed do not exist (NoSuchPort).
    void setPortFailure(int port, OpenFailure failure, const QString &reason = {}) { m_ports[port] = {failure, reason}; }
    // A port that opens.
    void addPort(int port) { setPortFailure(port, OpenFailure::None); }
    void clearPorts() { m_ports.clear(); }

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString devicePath(int port) const override;
    bool deviceExists(int port) const override { return m_ports.contains(port) && !m_gone; }
    bool output(const QByteArray &frame) override;
    QString adapterSerial(int port) const override { return serials.value(port); }

    // Bytes from the device, handed up at once as on a real line.
    void inject(const QByteArray &bytes) { emit received(bytes); }
    // The line dies under an open port; the device is gone until replug().
    void unplug(const QString &reason = QStringLiteral("device disconnected"));
    void replug() { m_gone = false; }
    void setFailWrites(bool fail) { m_failWrites = fail; }

    QMap<int, QString> serials;    // the adapter's serial number the system reports, per port
    QList<QByteArray> written;     // every frame output() accepted, in order
    QList<int> openAttempts;       // every port open() was asked for
    int openCount = 0;             // successful openings
    int closeCount = 0;            // closings of an open port

private:
    QMap<int, std::pair<OpenFailure, QString>> m_ports;
    bool m_open = false;
    bool m_failWrites = false;
    bool m_gone = false;
};

}  // namespace vorn
