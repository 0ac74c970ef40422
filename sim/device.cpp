#include "device.h"

#include "protocol/channeltable.h"
#include "protocol/frame.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace rt8sim {

namespace {

quint8 at(const QByteArray &b, int i) { return static_cast<quint8>(b[i]); }

QString hex(const QByteArray &b) { return QString::fromLatin1(b.toHex(' ')).toUpper(); }

QString hexByte(quint8 v)
{
    return QStringLiteral("0x") + QString::number(v, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

QString twoDigits(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

// The block every channel holds at start: lower 0, upper 1000, one decimal
// place, formula 0x00, start values 0 and 1000.
QByteArray startBlock()
{
    return QByteArray::fromHex("000003E8010000" "0003E8");
}

// Offset 6 + payload index: the payload of a (validated) frame.
QByteArray payloadOf(const QByteArray &frame)
{
    return frame.mid(6, frame.size() - vorn::kFrameOverhead);
}

QString describeBlock(const char *block)
{
    const auto b = [&](int i) { return static_cast<quint8>(block[i]); };
    return QStringLiteral("L=%1 span=%2 dp=%3 f=%4 s1=%5 s2=%6")
        .arg(vorn::decodeSignMagnitude(b(0), b(1)))
        .arg(b(2) * 256 + b(3))
        .arg(b(4))
        .arg(hexByte(b(5)))
        .arg(vorn::decodeSignMagnitude(b(6), b(7)))
        .arg(vorn::decodeSignMagnitude(b(8), b(9)));
}

}  // namespace

QString withDecimalPlaces(qint64 value, int places)
{
    const bool negative = value < 0;
    const quint64 magnitude = negative ? quint64(0) - quint64(value) : quint64(value);
    QString digits = QString::number(magnitude);
    if (places > 0) {
        if (digits.size() < places + 1)
            digits.prepend(QString(places + 1 - digits.size(), QLatin1Char('0')));
        digits.insert(digits.size() - places, QLatin1Char('.'));
    }
    return negative ? QLatin1Char('-') + digits : digits;
}

int syntheticRaw(int channel, qint64 nowMs)
{
    // Periods from 20 s (channel 0) to 83 s (channel 9), phases spread out.
    const double periodMs = 20000.0 + 7000.0 * channel;
    const double phase = 0.6 * channel;
    const double v = 32767.5 + 30000.0 * std::sin(2.0 * std::numbers::pi * double(nowMs) / periodMs + phase);
    return std::clamp(int(std::lround(v)), 0, kRawMax);
}

Device::Device(quint8 number, quint8 digitCount, QObject *parent)
    : QObject(parent), m_number(number), m_digits(digitCount),
      m_startEpochMs(QDateTime::currentMSecsSinceEpoch())
{
    for (int ch = 0; ch < kChannels; ++ch)
        m_blocks += startBlock();
}

bool Device::answersTo(quint8 address) const
{
    return address == m_number || address == vorn::kBroadcast;
}

std::optional<Device::Smart> Device::smart(int channel) const
{
    if (channel < 0 || channel >= kChannels)
        return std::nullopt;
    return m_smart[channel];
}

QString Device::clockText(qint64 nowMs) const
{
    QDateTime t;
    if (m_clock.isEmpty()) {
        t = QDateTime::fromMSecsSinceEpoch(m_startEpochMs + nowMs);
    } else {
        const QDate d(2000 + at(m_clock, 0), at(m_clock, 1), at(m_clock, 2));
        const QTime tm(at(m_clock, 3), at(m_clock, 4), at(m_clock, 5));
        if (!d.isValid() || !tm.isValid()) {
            // The device shows what it was given and does not run.
            return QStringLiteral("%1-%2-%3 %4:%5:%6")
                .arg(twoDigits(at(m_clock, 0)), twoDigits(at(m_clock, 1)), twoDigits(at(m_clock, 2)),
                     twoDigits(at(m_clock, 3)), twoDigits(at(m_clock, 4)), twoDigits(at(m_clock, 5)));
        }
        t = QDateTime(d, tm).addMSecs(nowMs - m_clockSetAtMs);
    }
    return t.toString(QStringLiteral("yy-MM-dd hh:mm:ss"));
}

void Device::hold(int channel, int value)
{
    if (channel < 0 || channel >= kChannels)
        return;
    m_held[channel] = std::clamp(value, 0, kRawMax);
}

void Device::release(int channel)
{
    if (channel < 0 || channel >= kChannels)
        return;
    m_held[channel].reset();
}

int Device::raw(int channel, qint64 nowMs) const
{
    if (m_held[channel])
        return *m_held[channel];
    return syntheticRaw(channel, nowMs);
}

qint64 Device::target(int channel, qint64 nowMs) const
{
    const qint64 r = raw(channel, nowMs);
    if (const auto &s = m_smart[channel])
        return r * s->gain / 40000 + s->offset;
    const char *b = m_blocks.constData() + channel * kBlockSize;
    const qint64 lower = vorn::decodeSignMagnitude(quint8(b[0]), quint8(b[1]));
    const qint64 span = quint8(b[2]) * 256 + quint8(b[3]);
    return lower + span * r / kRawMax;
}

QString Device::targetText(int channel, qint64 nowMs) const
{
    return withDecimalPlaces(target(channel, nowMs), at(m_blocks, channel * kBlockSize + 4));
}

QByteArray Device::rawReply(qint64 nowMs) const
{
    QByteArray payload;
    payload.reserve(2 * kChannels);
    for (int ch = 0; ch < kChannels; ++ch)
        payload += vorn::unsignedWord(raw(ch, nowMs));
    return reply(vorn::cmd::Feedback, payload);
}

QByteArray Device::targetRecord(qint64 nowMs) const
{
    QStringList values;
    for (int ch = 0; ch < kChannels; ++ch)
        values << targetText(ch, nowMs);
    return "N" + values.join(QLatin1Char(',')).toLatin1() + "\r\n";
}

QByteArray Device::streamItem(qint64 nowMs) const
{
    switch (m_feedback) {
    case Feedback::Raw: return rawReply(nowMs);
    case Feedback::Target: return targetRecord(nowMs);
    case Feedback::Off: break;
    }
    return {};
}

QByteArray Device::reply(quint8 code, const QByteArray &payload) const
{
    return vorn::buildReply(code, payload, m_number);
}

void Device::setFeedback(Feedback mode)
{
    if (mode == m_feedback)
        return;
    m_feedback = mode;
    emit feedbackChanged(mode);
}

Device::DisplayPort &Device::port(int p)
{
    auto it = m_display.find(p);
    if (it == m_display.end())
        it = m_display.insert(p, DisplayPort{QByteArray(m_digits, ' '), std::nullopt, 0, 0});
    return *it;
}

bool Device::payloadSizeIs(const char *what, const QByteArray &frame, int expected)
{
    const int size = int(frame.size()) - vorn::kFrameOverhead;
    if (size == expected)
        return true;
    emit log(QStringLiteral("%1: payload of %2 bytes, expected %3, ignored: %4")
                 .arg(QLatin1String(what)).arg(size).arg(expected).arg(hex(frame)));
    return false;
}

void Device::handleFrame(const QByteArray &frame, qint64 nowMs)
{
    const quint8 code = at(frame, 5);
    const QByteArray payload = payloadOf(frame);
    switch (code) {
    case vorn::cmd::Discover:
        if (payloadSizeIs("discover", frame, 1)) discover(payload);
        break;
    case vorn::cmd::SetNumber:
        if (payloadSizeIs("set number", frame, 2)) setNumber(payload);
        break;
    case vorn::cmd::Download:
        if (payloadSizeIs("download", frame, kChannels * kBlockSize)) download(payload);
        break;
    case vorn::cmd::ReadBack:
        if (payloadSizeIs("read-back", frame, 1)) readBack();
        break;
    case vorn::cmd::SmartSet:
        if (payloadSizeIs("smart", frame, 11)) smartSetting(payload);
        break;
    case vorn::cmd::Feedback:
        if (payloadSizeIs("feedback", frame, 1)) feedbackRequest(payload);
        break;
    case vorn::cmd::DisplayMode:
        if (payloadSizeIs("display mode", frame, 1)) displayModeRequest(payload);
        break;
    case vorn::cmd::ShowNumber:
        if (payload.size() >= 2)
            showNumber(payload);
        else
            payloadSizeIs("show number", frame, 2);
        break;
    case vorn::cmd::ShowCode:
        if (payloadSizeIs("show code", frame, 4)) showCode(payload);
        break;
    case vorn::cmd::Power:
        if (payloadSizeIs("power", frame, 1)) powerRequest(payload);
        break;
    case vorn::cmd::Clock:
        if (payloadSizeIs("clock", frame, 6)) clockRequest(payload, nowMs);
        break;
    default:
        emit log(QStringLiteral("unknown request %1: %2").arg(hexByte(code), hex(frame)));
        break;
    }
}

void Device::discover(const QByteArray &)
{
    emit log(QStringLiteral("discover -> number %1 digits %2").arg(m_number).arg(m_digits));
    QByteArray payload;
    payload += char(m_number);
    payload += char(m_digits);
    emit send(reply(vorn::cmd::Discover, payload));
}

void Device::setNumber(const QByteArray &payload)
{
    // Logged before it takes effect: on a shared line the line is filed
    // under the number the request reached.
    emit log(QStringLiteral("set number -> number %1 digits %2").arg(at(payload, 0)).arg(at(payload, 1)));
    m_number = at(payload, 0);
    m_digits = at(payload, 1);
    // Display rows follow the new digit count.
    for (auto &p : m_display)
        p.digits = p.digits.leftJustified(m_digits, ' ', true);
}

void Device::download(const QByteArray &payload)
{
    m_blocks = payload;
    QStringList parts;
    for (int ch = 0; ch < kChannels; ++ch)
        parts << QStringLiteral("ch%1 ").arg(ch) + describeBlock(payload.constData() + ch * kBlockSize);
    emit log(QStringLiteral("download ") + parts.join(QLatin1String(" | ")));
}

void Device::readBack()
{
    if (m_ignoreReadBack) {
        emit log(QStringLiteral("read-back ignored"));
        return;
    }
    emit log(QStringLiteral("read-back -> %1 bytes").arg(vorn::kReadBackReplyLength));
    emit send(reply(vorn::cmd::ReadBack, m_blocks));
}

void Device::smartSetting(const QByteArray &p)
{
    const int ch = at(p, 0);
    if (ch >= kChannels) {
        emit log(QStringLiteral("smart: no channel %1, ignored: %2").arg(ch).arg(hex(p)));
        return;
    }
    const Smart s{vorn::decodeSignMagnitude(at(p, 1), at(p, 2)), at(p, 3) * 256 + at(p, 4)};
    m_smart[ch] = s;
    // Decimal places, formula and both start values go into the stored block.
    char *block = m_blocks.data() + ch * kBlockSize;
    for (int i = 0; i < 6; ++i)
        block[4 + i] = p[5 + i];
    emit log(QStringLiteral("smart ch%1 offset=%2 gain=%3 dp=%4 f=%5 s1=%6 s2=%7")
                 .arg(ch).arg(s.offset).arg(s.gain).arg(at(p, 5)).arg(hexByte(at(p, 6)))
                 .arg(vorn::decodeSignMagnitude(at(p, 7), at(p, 8)))
                 .arg(vorn::decodeSignMagnitude(at(p, 9), at(p, 10))));
}

void Device::feedbackRequest(const QByteArray &p)
{
    switch (at(p, 0)) {
    case 0:
        emit log(QStringLiteral("feedback target"));
        setFeedback(Feedback::Target);
        break;
    case 1:
        emit log(QStringLiteral("feedback raw"));
        setFeedback(Feedback::Raw);
        break;
    case 2:
        emit log(QStringLiteral("feedback stop"));
        setFeedback(Feedback::Off);
        break;
    default:
        emit log(QStringLiteral("feedback: unknown mode %1, ignored").arg(at(p, 0)));
        break;
    }
}

void Device::displayModeRequest(const QByteArray &p)
{
    static const char *const names[] = {"target", "raw", "off"};
    const int mode = at(p, 0);
    if (mode > 2) {
        emit log(QStringLiteral("display mode: unknown mode %1, ignored").arg(mode));
        return;
    }
    m_displayMode = DisplayMode(mode);
    emit log(QStringLiteral("display mode %1").arg(QLatin1String(names[mode])));
}

void Device::showNumber(const QByteArray &p)
{
    const int start = at(p, 0);
    const int portNo = at(p, 1);
    QString shown;
    for (int i = 2; i < p.size(); ++i) {
        const quint8 d = at(p, i);
        shown += d <= 9 ? QChar(u'0' + d) : QChar(u'?');
    }
    DisplayPort &dp = port(portNo);
    for (int i = 0; i < shown.size() && start + i < dp.digits.size(); ++i)
        dp.digits[start + i] = shown[i].toLatin1();
    emit log(QStringLiteral("show number pos=%1 port=%2 digits=%3").arg(start).arg(portNo).arg(shown));
}

void Device::showCode(const QByteArray &p)
{
    DisplayPort &dp = port(at(p, 1));
    dp.codePosition = at(p, 0);
    dp.code0 = at(p, 2);
    dp.code1 = at(p, 3);
    emit log(QStringLiteral("show code pos=%1 port=%2 codes=%3 %4")
                 .arg(at(p, 0)).arg(at(p, 1)).arg(hexByte(at(p, 2)), hexByte(at(p, 3))));
}

void Device::powerRequest(const QByteArray &p)
{
    const int v = at(p, 0);
    if (v > 1) {
        emit log(QStringLiteral("power: unknown state %1, ignored").arg(v));
        return;
    }
    m_power = v == 1;
    emit log(m_power ? QStringLiteral("power on") : QStringLiteral("power off"));
}

void Device::clockRequest(const QByteArray &p, qint64 nowMs)
{
    m_clock = p;
    m_clockSetAtMs = nowMs;
    QString line = QStringLiteral("clock %1-%2-%3 %4:%5:%6")
                       .arg(twoDigits(at(p, 0)), twoDigits(at(p, 1)), twoDigits(at(p, 2)),
                            twoDigits(at(p, 3)), twoDigits(at(p, 4)), twoDigits(at(p, 5)));
    if (!QDate(2000 + at(p, 0), at(p, 1), at(p, 2)).isValid() || !QTime(at(p, 3), at(p, 4), at(p, 5)).isValid())
        line += QStringLiteral(" (not a valid date/time; the clock stops)");
    emit log(line);
}

}  // namespace rt8sim
