#pragma once
// Puts a Device on a Line: feeds it the received bytes, sends its replies
// and the streamed feedback items (through the noise, when there is any),
// paces the stream, and unplugs and replugs the line on request.

#include "device.h"
#include "noise.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

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

    // line and device stay owned by the caller and must outlive this object.
    Simulator(Line *line, Device *device, const Noise &noise, int periodMs, QObject *parent = nullptr);

    // Milliseconds since the simulator was made: the device's time.
    qint64 now() const { return m_clock.elapsed(); }
    int periodMs() const { return m_periodMs; }
    const Noise &noise() const { return m_noise; }
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
    void transmit(const QByteArray &bytes);
    void onFeedbackChanged(Device::Feedback mode);
    void onStreamTimer();
    // The next stream item, unless the line is still busy; false when none went out.
    bool sendStreamItem();
    void pump();
    void schedulePump();

    Line *m_line;
    Device *m_device;
    Noise m_noise;
    int m_periodMs;
    QElapsedTimer m_clock;
    QTimer m_streamTimer;
    QTimer m_tickTimer;
    bool m_pumpScheduled = false;
    qint64 m_streamed = 0;
    bool m_logSent = false;
};

}  // namespace rt8sim
