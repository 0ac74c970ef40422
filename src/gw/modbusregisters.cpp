#include "gw/modbusregisters.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace vorn::gw {

std::array<quint16, 2> floatWords(float value, WordOrder order)
{
    const quint32 bits = std::bit_cast<quint32>(value);
    const quint16 a = quint16((bits >> 24) & 0xFF), b = quint16((bits >> 16) & 0xFF);
    const quint16 c = quint16((bits >> 8) & 0xFF), d = quint16(bits & 0xFF);
    switch (order) {
    case WordOrder::ABCD: return {quint16(a << 8 | b), quint16(c << 8 | d)};
    case WordOrder::CDAB: return {quint16(c << 8 | d), quint16(a << 8 | b)};
    case WordOrder::BADC: return {quint16(b << 8 | a), quint16(d << 8 | c)};
    case WordOrder::DCBA: return {quint16(d << 8 | c), quint16(b << 8 | a)};
    }
    return {0, 0};
}

namespace {

qint16 saturated(double v)
{
    if (std::isnan(v))
        return std::numeric_limits<qint16>::min();
    return qint16(std::clamp(v, -32768.0, 32767.0));
}

}  // namespace

qint16 int16Value(QStringView shown)
{
    // A plain decimal number: its digits without the point, exactly. Read by
    // hand: this runs for every field of every record.
    const QStringView t = shown.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+')))
        negative = t[i++] == QLatin1Char('-');
    qint64 v = 0;
    int digits = 0;
    bool point = false;
    bool plain = true;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        if (c == u'.' && !point) {
            point = true;
        } else if (c >= u'0' && c <= u'9') {
            ++digits;
            v = std::min<qint64>(v * 10 + (c - u'0'), 1000000);   // beyond any int16 already
        } else {
            plain = false;
            break;
        }
    }
    if (plain && digits > 0)
        return saturated(double(negative ? -v : v));
    // Any other number ("1e+06"): rounded; not a number: -32768.
    return saturated(std::round(fieldValue(shown)));
}

quint16 ageRegister(qint64 ageMs)
{
    if (ageMs < 0)
        return 65535;
    return quint16(std::min<qint64>(ageMs / 100, 65535));
}

ModbusRegisters modbusRegisters(const Gateway::DeviceState &state, WordOrder order)
{
    ModbusRegisters r{};
    const bool any = state.sets > 0;
    for (int i = 0; i < kChannels; ++i) {
        const double v = any ? state.last.number(i) : std::numeric_limits<double>::quiet_NaN();
        const auto words = floatWords(float(v), order);
        r[size_t(2 * i)] = words[0];
        r[size_t(2 * i + 1)] = words[1];
        // Raw counts as they are; a record's field by its digits.
        qint16 count = std::numeric_limits<qint16>::min();
        if (any)
            count = state.last.mode == FeedbackMode::Raw ? saturated(state.last.raw[size_t(i)])
                                                         : int16Value(state.last.field(i));
        r[size_t(20 + i)] = quint16(count);
    }
    r[30] = quint16(state.status);
    r[kAgeRegister] = 65535;
    const auto sets = quint32(state.sets);
    r[32] = quint16(sets >> 16);
    r[33] = quint16(sets & 0xFFFF);
    if (state.device) {
        r[34] = state.device->number;
        r[35] = state.device->digits;
    }
    return r;
}

}  // namespace vorn::gw
