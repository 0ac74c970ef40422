#include "simulator.h"

#include "line.h"

namespace rt8sim {

Simulator::Simulator(Line *line, const QList<Device *> &devices, const Noise &noise, int periodMs, QObject *parent)
    : QObject(parent), m_line(line), m_bus(devices), m_noise(noise), m_periodMs(periodMs)
{
    m_clock.start();
    connect(m_line, &Line::received, this, [this](const QByteArray &bytes) { m_bus.receive(bytes, now()); });
    connect(m_line, &Line::log, this, &Simulator::log);
    connect(m_line, &Line::drained, this, [this] {
        if (m_periodMs == 0)
            schedulePump();
    });
    connect(&m_bus, &Bus::log, this, &Simulator::log);

    // One timer per device, one shot, restarted after each item: a late
    // timer never makes up for lost time by sending two items closer
    // together than the period.
    m_streams.reserve(size_t(devices.size()));
    for (Device *d : devices) {
        auto *timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(true);
        m_streams.push_back({d, timer});
    }
    for (Stream &s : m_streams) {
        connect(s.device, &Device::send, this, [this, d = s.device](const QByteArray &bytes) { transmit(d, bytes); });
        connect(s.device, &Device::feedbackChanged, this, [this, &s] { onFeedbackChanged(s); });
        connect(s.timer, &QTimer::timeout, this, [this, &s] { onStreamTimer(s); });
    }
    m_tickTimer.setInterval(kTickMs);
    connect(&m_tickTimer, &QTimer::timeout, this, [this] { m_bus.tick(now()); });
    m_tickTimer.start();
    for (Stream &s : m_streams)
        onFeedbackChanged(s);
}

void Simulator::transmit(const Device *from, const QByteArray &bytes)
{
    const QByteArray out = m_noise.apply(bytes);
    if (m_logSent)
        emit log(m_bus.tag(from) + QStringLiteral("sent: ") + QString::fromLatin1(out.toHex(' ')));
    m_line->write(out);
}

void Simulator::onFeedbackChanged(Stream &s)
{
    if (s.device->feedback() == Device::Feedback::Off) {
        s.timer->stop();
        return;
    }
    if (m_periodMs > 0) {
        if (!s.timer->isActive()) {
            s.timer->setInterval(m_periodMs);
            s.timer->start();
        }
    } else {
        schedulePump();
    }
}

void Simulator::onStreamTimer(Stream &s)
{
    if (s.device->feedback() != Device::Feedback::Off)
        s.timer->start();
    // An item is due. If the last one has not gone out yet the line is
    // busy and this one is skipped, as a device's busy transmitter would.
    sendStreamItem(s.device);
}

bool Simulator::sendStreamItem(Device *device)
{
    if (m_line->pendingBytes() > 0)
        return false;
    const QByteArray item = device->streamItem(now());
    if (item.isEmpty())
        return false;
    ++m_streamed;
    transmit(device, item);
    return true;
}

Device *Simulator::nextStreaming()
{
    const size_t n = m_streams.size();
    for (size_t k = 0; k < n; ++k) {
        const size_t i = (m_nextStream + k) % n;
        if (m_streams[i].device->feedback() != Device::Feedback::Off) {
            m_nextStream = (i + 1) % n;
            return m_streams[i].device;
        }
    }
    return nullptr;
}

bool Simulator::anyStreaming() const
{
    for (const Stream &s : m_streams)
        if (s.device->feedback() != Device::Feedback::Off)
            return true;
    return false;
}

void Simulator::schedulePump()
{
    if (m_pumpScheduled)
        return;
    m_pumpScheduled = true;
    QTimer::singleShot(0, this, &Simulator::pump);
}

void Simulator::pump()
{
    // Period 0: as fast as the line takes the items, the streaming devices
    // taking turns. Stops when the line is full (drained() restarts it),
    // unplugged (replug() restarts it) or nobody streams any more.
    m_pumpScheduled = false;
    if (m_periodMs != 0 || !m_line->isOpen())
        return;
    for (int i = 0; i < kBurst; ++i) {
        Device *d = nextStreaming();
        if (!d || !sendStreamItem(d))
            return;
    }
    if (m_line->pendingBytes() == 0)
        schedulePump();
}

void Simulator::unplug()
{
    m_line->close();
    emit log(QStringLiteral("unplugged"));
}

bool Simulator::replug(QString *error)
{
    if (!m_line->open(error))
        return false;
    emit lineOpened(m_line->portName());
    emit log(QStringLiteral("replugged: port %1").arg(m_line->portName()));
    if (m_periodMs == 0 && anyStreaming())
        schedulePump();
    return true;
}

}  // namespace rt8sim
