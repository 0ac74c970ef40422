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

    // What opening port p yields; ports not listed do not exist (8002).
    void setPortResult(int port, int result) { m_results[port] = result; m_failures.remove(port); }
    // The same by the reason of a failure (reported with its number).
    void setPortFailure(int port, OpenFailure failure, const QString &reason = {});
    void clearPorts() { m_results.clear(); m_failures.clear(); }

    int open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString devicePath(int port) const override;
    bool deviceExists(int port) const override { return m_results.contains(port) && !m_gone; }
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
    QMap<int, int> m_results;
    QMap<int, std::pair<OpenFailure, QString>> m_failures;
    bool m_open = false;
    bool m_failWrites = false;
    bool m_gone = false;
};

}  // namespace vorn
