#include "simulator.h"

#include "line.h"

namespace rt8sim {

Simulator::Simulator(Line *line, Device *device, const Noise &noise, int periodMs, QObject *parent)
    : QObject(parent), m_line(line), m_device(device), m_noise(noise), m_periodMs(periodMs)
{
    m_clock.start();
    connect(m_line, &Line::received, this, [this](const QByteArray &bytes) { m_device->receive(bytes, now()); });
    connect(m_line, &Line::log, this, &Simulator::log);
    connect(m_line, &Line::drained, this, [this] {
        if (m_periodMs == 0)
            schedulePump();
    });
    connect(m_device, &Device::send, this, &Simulator::transmit);
    connect(m_device, &Device::log, this, &Simulator::log);
    connect(m_device, &Device::feedbackChanged, this, &Simulator::onFeedbackChanged);

    // One shot, restarted after each item: a late timer never makes up for
    // lost time by sending two items closer together than the period.
    m_streamTimer.setTimerType(Qt::PreciseTimer);
    m_streamTimer.setSingleShot(true);
    connect(&m_streamTimer, &QTimer::timeout, this, &Simulator::onStreamTimer);
    m_tickTimer.setInterval(kTickMs);
    connect(&m_tickTimer, &QTimer::timeout, this, [this] { m_device->tick(now()); });
    m_tickTimer.start();
    onFeedbackChanged(m_device->feedback());
}

void Simulator::transmit(const QByteArray &bytes)
{
    const QByteArray out = m_noise.apply(bytes);
    if (m_logSent)
        emit log(QStringLiteral("sent: ") + QString::fromLatin1(out.toHex(' ')));
    m_line->write(out);
}

void Simulator::onFeedbackChanged(Device::Feedback mode)
{
    if (mode == Device::Feedback::Off) {
        m_streamTimer.stop();
        return;
    }
    if (m_periodMs > 0) {
        if (!m_streamTimer.isActive()) {
            m_streamTimer.setInterval(m_periodMs);
            m_streamTimer.start();
        }
    } else {
        schedulePump();
    }
}

void Simulator::onStreamTimer()
{
    if (m_device->feedback() != Device::Feedback::Off)
        m_streamTimer.start();
    // An item is due. If the last one has not gone out yet the line is
    // busy and this one is skipped, as a device's busy transmitter would.
    sendStreamItem();
}

bool Simulator::sendStreamItem()
{
    if (m_line->pendingBytes() > 0)
        return false;
    const QByteArray item = m_device->streamItem(now());
    if (item.isEmpty())
        return false;
    ++m_streamed;
    transmit(item);
    return true;
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
    // Period 0: as fast as the line takes the items. Stops when the line is
    // full (drained() restarts it) or unplugged (replug() restarts it).
    m_pumpScheduled = false;
    if (m_periodMs != 0 || !m_line->isOpen())
        return;
    for (int i = 0; i < kBurst; ++i)
        if (!sendStreamItem())
            return;
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
    if (m_periodMs == 0 && m_device->feedback() != Device::Feedback::Off)
        schedulePump();
    return true;
}

}  // namespace rt8sim
