#pragma once
// The RS-485 line the simulated devices share.
//
// Every device on a real line hears every byte the PC sends, so the frames
// are cut out of the byte stream once, here, and each whole frame goes to
// the devices it is addressed to: those with that number, or all of them
// for 255. Several devices answering one frame answer one after the other,
// in the order they were given.
//
// What the bus logs itself (garbage, damaged frames, frames nobody takes)
// concerns the line, not a device, and carries no prefix. With more than one
// device, each line a device logs starts with its number, "[5] "; alone on
// the line a device logs exactly as it always has.
//
// Like Device, the bus does no input or output and is given the time.

#include "device.h"
#include "framereader.h"

#include <QList>
#include <QObject>
#include <QSet>

namespace rt8sim {

class Bus : public QObject
{
    Q_OBJECT
public:
    // The devices stay owned by the caller and must outlive the bus.
    explicit Bus(const QList<Device *> &devices, QObject *parent = nullptr);

    // Bytes from the line.
    void receive(const QByteArray &bytes, qint64 nowMs);
    // Called now and then: gives up half-received frames that went stale.
    void tick(qint64 nowMs);

    const QList<Device *> &devices() const { return m_devices; }
    // The devices that have this number now, in the order given.
    QList<Device *> numbered(int number) const;
    // What starts each log line about this device: "[N] " with its current
    // number when the line has several devices, nothing when it has one.
    QString tag(const Device *device) const;

signals:
    void log(const QString &line);

private:
    void handleItems(const QList<FrameReader::Item> &items, qint64 nowMs);
    void deliver(const QByteArray &frame, qint64 nowMs);
    // Logs numbers that a renumbering has just given to more than one device.
    void noteSharedNumbers();
    QSet<int> sharedNumbers() const;

    QList<Device *> m_devices;
    FrameReader m_reader;
    QSet<int> m_shared;
};

}  // namespace rt8sim
