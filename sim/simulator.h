#pragma once
// Puts one or more Devices on a Line: feeds the received bytes to their Bus,
// sends their replies and streamed feedback items (through the noise, when
// there is any), paces each device's stream, and unplugs and replugs the
// line on request.

#include "bus.h"
#include "device.h"
#include "noise.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <vector>

namespace rt8sim {

class Line;

class Simulator : public QObject
{
    Q_OBJECT
public:
    // Interval of the reassembly clean-up, milliseconds.
    static constexpr int kTickMs = 100;
    // With period 0, items written in one go before the event loop runs again.
    static constexpr int kBurst = 32;

    // line and devices stay owned by the caller and must outlive this object.
    Simulator(Line *line, const QList<Device *> &devices, const Noise &noise, int periodMs,
              QObject *parent = nullptr);
    Simulator(Line *line, Device *device, const Noise &noise, int periodMs, QObject *parent = nullptr)
        : Simulator(line, QList<Device *>{device}, noise, periodMs, parent)
    {
    }

    // Milliseconds since the simulator was made: the device's time.
    qint64 now() const { return m_clock.elapsed(); }
    int periodMs() const { return m_periodMs; }
    const Noise &noise() const { return m_noise; }
    const Bus &bus() const { return m_bus; }
    // Stream items sent so far, all devices together.
    qint64 streamedItems() const { return m_streamed; }
    // Log every item as it goes onto the line, damage included.
    void setLogSent(bool on) { m_logSent = on; }

    // Closes the line as a pulled adapter would; the device keeps running.
    void unplug();
    // Opens the line again (a new pseudo-terminal). False with a reason.
    // lineOpened is emitted before "replugged" is logged, so that whoever
    // reads the log finds the line already reachable.
    bool replug(QString *error);

signals:
    void log(const QString &line);
    void lineOpened(const QString &portName);

private:
    // Each device streams on its own timer.
    struct Stream
    {
        Device *device;
        QTimer *timer;
    };

    void transmit(const Device *from, const QByteArray &bytes);
    void onFeedbackChanged(Stream &stream);
    void onStreamTimer(Stream &stream);
    // The device's next stream item, unless the line is still busy; false
    // when none went out.
    bool sendStreamItem(Device *device);
    // Period 0: the next streaming device in turn, null when none streams.
    Device *nextStreaming();
    bool anyStreaming() const;
    void pump();
    void schedulePump();

    Line *m_line;
    Bus m_bus;
    Noise m_noise;
    int m_periodMs;
    QElapsedTimer m_clock;
    std::vector<Stream> m_streams;
    QTimer m_tickTimer;
    size_t m_nextStream = 0;
    bool m_pumpScheduled = false;
    qint64 m_streamed = 0;
    bool m_logSent = false;
};

}  // namespace rt8sim
