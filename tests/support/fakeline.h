#pragma once
// An in-memory line for tests: ports 1 to 16 named /dev/fake1 ... /dev/fake16
// (ports()), which exist, are in use or fail as the test says, frames the
// session wrote, and bytes "from the device" pushed in by the test. Opens at
// once, or, with deferOpen, when the test calls finishOpening() (as a
// network line does).

#include "link/line.h"
#include "link/portmap.h"

#include <QList>
#include <QMap>

namespace vorn {

class FakeLine : public Line
{
    Q_OBJECT
public:
    using Line::Line;

    // The port map that goes with this line.
    static PortMap ports();

    // What opening port p yields (None: it opens), with the system's words
    // for a failure; ports not listed do not exist (NoSuchPort).
    void setPortFailure(int port, OpenFailure failure, const QString &reason = {}) { m_ports[port] = {failure, reason}; }
    // A port that opens.
    void addPort(int port) { setPortFailure(port, OpenFailure::None); }
    void clearPorts() { m_ports.clear(); }

    void open(const QString &name) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    bool isOpening() const override { return m_pending > 0; }
    bool write(const QByteArray &frame) override;
    void discardInput() override { ++discards; }
    bool waitUntilWritten(int) override { return m_open; }
    bool present(const QString &name) const override { return m_ports.contains(portOf(name)) && !m_gone; }
    QString adapterSerial(const QString &name) const override
    {
        ++serialAsks;
        return serials.value(portOf(name));
    }

    // Openings wait for finishOpening() while set.
    bool deferOpen = false;
    // Tells the outcome of the opening that waits.
    void finishOpening();

    // Bytes from the device, handed up at once as on a real line.
    void inject(const QByteArray &bytes) { emit received(bytes); }
    // The line dies under an open port; the device is gone until replug().
    void unplug(const QString &reason = QStringLiteral("device disconnected"));
    void replug() { m_gone = false; }
    void setFailWrites(bool fail) { m_failWrites = fail; }

    QMap<int, QString> serials;    // the adapter's serial number the system reports, per port
    QList<QByteArray> written;     // every frame write() accepted, in order
    QList<int> openAttempts;       // every port open() was asked for
    int openCount = 0;             // successful openings
    int closeCount = 0;            // closings of an open port
    int discards = 0;              // discardInput() calls
    mutable int serialAsks = 0;    // adapterSerial() calls

private:
    static int portOf(const QString &name);
    void decide();

    QMap<int, std::pair<OpenFailure, QString>> m_ports;
    int m_pending = 0;    // the port whose opening waits
    bool m_open = false;
    bool m_failWrites = false;
    bool m_gone = false;
};

}  // namespace vorn
