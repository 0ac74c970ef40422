#pragma once
// The simulated RT8: its number, its ten stored channel blocks, the smart
// settings, the raw inputs and the display, clock and power state, and what
// it answers to each request.
//
// The class does no input or output of its own: whole frames addressed to
// it come into handleFrame() (the Bus cuts them out of the line's bytes),
// replies come out of send(), and a decoded line per request comes out of
// log(). Time is passed in (milliseconds since the simulator started) so the
// raw signals can be driven exactly.

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <array>
#include <optional>

namespace rt8sim {

inline constexpr int kChannels = 10;
inline constexpr int kBlockSize = 10;
inline constexpr int kRawMax = 65535;

// A signed integer written with its decimal point `places` digits from the
// right: (1234, 1) -> "123.4", (-5, 2) -> "-0.05", (7, 0) -> "7".
QString withDecimalPlaces(qint64 value, int places);

// The synthetic signal channel ch follows when nothing holds it: a slow
// sine, each channel with its own period and phase, within 0..65535.
int syntheticRaw(int channel, qint64 nowMs);

class Device : public QObject
{
    Q_OBJECT
public:
    enum class Feedback { Off, Raw, Target };
    Q_ENUM(Feedback)
    enum class DisplayMode { Target, Raw, Off };
    Q_ENUM(DisplayMode)

    struct Smart
    {
        int offset = 0;
        int gain = 0;
        bool operator==(const Smart &) const = default;
    };

    struct DisplayPort
    {
        QByteArray digits;          // one character per display digit, ' ' where nothing shown
        std::optional<int> codePosition;
        quint8 code0 = 0;
        quint8 code1 = 0;
    };

    explicit Device(quint8 number = 1, quint8 digitCount = 40, QObject *parent = nullptr);

    // Whether a frame with this address byte is for this device: its own
    // number, or 255, which every device on the line hears.
    bool answersTo(quint8 address) const;
    // A whole, checked command frame whose address answersTo() accepted.
    void handleFrame(const QByteArray &frame, qint64 nowMs);

    // A device that leaves read-backs unanswered (an older unit, a read-back
    // the line loses every time): for trying what a failed read-back does.
    void setIgnoreReadBack(bool on) { m_ignoreReadBack = on; }

    quint8 number() const { return m_number; }
    quint8 digitCount() const { return m_digits; }
    // The ten stored blocks, 100 bytes, channel 0 first.
    QByteArray blocks() const { return m_blocks; }
    std::optional<Smart> smart(int channel) const;
    bool powerOn() const { return m_power; }
    DisplayMode displayMode() const { return m_displayMode; }
    DisplayPort displayPort(int port) const { return m_display.value(port); }
    // The device clock at nowMs, "yy-MM-dd hh:mm:ss"; the six bytes it was set to.
    QString clockText(qint64 nowMs) const;
    QByteArray clockSetting() const { return m_clock; }
    Feedback feedback() const { return m_feedback; }

    // Raw inputs: a held value replaces the synthetic signal.
    void hold(int channel, int value);
    void release(int channel);
    std::optional<int> heldValue(int channel) const { return m_held[channel]; }
    int raw(int channel, qint64 nowMs) const;
    qint64 target(int channel, qint64 nowMs) const;
    QString targetText(int channel, qint64 nowMs) const;

    // The streamed items: a 28-byte raw-value reply and a text record.
    QByteArray rawReply(qint64 nowMs) const;
    QByteArray targetRecord(qint64 nowMs) const;
    // The item the current feedback mode streams; empty when it is off.
    QByteArray streamItem(qint64 nowMs) const;

signals:
    void send(const QByteArray &bytes);
    void log(const QString &line);
    void feedbackChanged(rt8sim::Device::Feedback mode);

private:
    bool payloadSizeIs(const char *what, const QByteArray &frame, int expected);
    QByteArray reply(quint8 code, const QByteArray &payload) const;
    void setFeedback(Feedback mode);

    void discover(const QByteArray &payload);
    void setNumber(const QByteArray &payload);
    void download(const QByteArray &payload);
    void readBack();
    void smartSetting(const QByteArray &payload);
    void feedbackRequest(const QByteArray &payload);
    void displayModeRequest(const QByteArray &payload);
    void showNumber(const QByteArray &payload);
    void showCode(const QByteArray &payload);
    void powerRequest(const QByteArray &payload);
    void clockRequest(const QByteArray &payload, qint64 nowMs);

    DisplayPort &port(int port);

    quint8 m_number;
    quint8 m_digits;
    QByteArray m_blocks;
    bool m_ignoreReadBack = false;
    std::array<std::optional<Smart>, kChannels> m_smart;
    std::array<std::optional<int>, kChannels> m_held;
    bool m_power = true;
    DisplayMode m_displayMode = DisplayMode::Target;
    QMap<int, DisplayPort> m_display;
    QByteArray m_clock;          // six bytes as last set, empty: never set
    qint64 m_clockSetAtMs = 0;   // when it was set
    qint64 m_startEpochMs = 0;   // host time at start, the clock before it is set
    Feedback m_feedback = Feedback::Off;
};

}  // namespace rt8sim
