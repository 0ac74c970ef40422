#include "bus.h"

#include <QMap>
#include <algorithm>

namespace rt8sim {

namespace {

QString hex(const QByteArray &b) { return QString::fromLatin1(b.toHex(' ')).toUpper(); }

}  // namespace

Bus::Bus(const QList<Device *> &devices, QObject *parent) : QObject(parent), m_devices(devices)
{
    for (Device *d : m_devices)
        connect(d, &Device::log, this, [this, d](const QString &line) { emit log(tag(d) + line); });
    m_shared = sharedNumbers();
}

void Bus::receive(const QByteArray &bytes, qint64 nowMs)
{
    handleItems(m_reader.feed(bytes, nowMs), nowMs);
}

void Bus::tick(qint64 nowMs)
{
    handleItems(m_reader.expire(nowMs), nowMs);
}

QList<Device *> Bus::numbered(int number) const
{
    QList<Device *> out;
    for (Device *d : m_devices)
        if (d->number() == number)
            out << d;
    return out;
}

QString Bus::tag(const Device *device) const
{
    return m_devices.size() > 1 ? QStringLiteral("[%1] ").arg(device->number()) : QString();
}

void Bus::handleItems(const QList<FrameReader::Item> &items, qint64 nowMs)
{
    for (const auto &item : items) {
        switch (item.kind) {
        case FrameReader::Item::Frame:
            deliver(item.bytes, nowMs);
            break;
        case FrameReader::Item::BadFrame:
            emit log(QStringLiteral("bad frame: ") + hex(item.bytes));
            break;
        case FrameReader::Item::Garbage:
            emit log(QStringLiteral("garbage: ") + hex(item.bytes));
            break;
        }
    }
}

void Bus::deliver(const QByteArray &frame, qint64 nowMs)
{
    const quint8 address = quint8(frame[3]);
    QList<Device *> to;
    for (Device *d : m_devices)
        if (d->answersTo(address))
            to << d;
    if (to.isEmpty()) {
        emit log(m_devices.size() == 1
                     ? QStringLiteral("for address %1, not me: %2").arg(address).arg(hex(frame))
                     : QStringLiteral("for address %1, no such device: %2").arg(address).arg(hex(frame)));
        return;
    }
    for (Device *d : to)
        d->handleFrame(frame, nowMs);
    noteSharedNumbers();
}

QSet<int> Bus::sharedNumbers() const
{
    QMap<int, int> count;
    for (const Device *d : m_devices)
        ++count[d->number()];
    QSet<int> shared;
    for (auto it = count.cbegin(); it != count.cend(); ++it)
        if (it.value() > 1)
            shared.insert(it.key());
    return shared;
}

void Bus::noteSharedNumbers()
{
    const QSet<int> now = sharedNumbers();
    QList<int> fresh = (now - m_shared).values();
    std::sort(fresh.begin(), fresh.end());
    for (int number : fresh)
        emit log(QStringLiteral("%1 devices now have number %2 and answer together")
                     .arg(numbered(number).size()).arg(number));
    m_shared = now;
}

}  // namespace rt8sim
