#include "link/netport.h"


namespace vorn {

namespace {
// Telnet commands and options.
constexpr quint8 kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254, kIacByte = 255;
constexpr quint8 kBinary = 0, kSuppressGoAhead = 3;
// COM-PORT-OPTION commands, client to server.
constexpr quint8 kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                 kPurgeData = 12;
constexpr quint8 kParityNone = 1, kStopOne = 1, kControlNoFlow = 1, kPurgeReceive = 1;

QByteArray command(quint8 verb, quint8 option)
{
    QByteArray b;
    b.append(char(kIacByte)).append(char(verb)).append(char(option));
    return b;
}

QByteArray comPort(quint8 what, const QByteArray &value)
{
    QByteArray b;
    b.append(char(kIacByte)).append(char(kSb)).append(char(Rfc2217Codec::kComPortOption)).append(char(what));
    b.append(Rfc2217Codec::escape(value));
    b.append(char(kIacByte)).append(char(kSe));
    return b;
}
}  // namespace

QByteArray Rfc2217Codec::opening()
{
    return command(kWill, kComPortOption) + command(kWill, kBinary) + command(kDo, kBinary)
         + command(kWill, kSuppressGoAhead) + command(kDo, kSuppressGoAhead);
}

QByteArray Rfc2217Codec::lineSettings()
{
    const quint32 baud = 38400;
    QByteArray b;
    for (int shift = 24; shift >= 0; shift -= 8)
        b.append(char((baud >> shift) & 0xFF));
    return comPort(kSetBaudRate, b) + comPort(kSetDataSize, QByteArray(1, char(8)))
         + comPort(kSetParity, QByteArray(1, char(kParityNone)))
         + comPort(kSetStopSize, QByteArray(1, char(kStopOne)))
         + comPort(kSetControl, QByteArray(1, char(kControlNoFlow)));
}

QByteArray Rfc2217Codec::purgeReceived()
{
    return comPort(kPurgeData, QByteArray(1, char(kPurgeReceive)));
}

QByteArray Rfc2217Codec::escape(const QByteArray &data)
{
    if (!data.contains(kIac))
        return data;
    QByteArray out;
    out.reserve(data.size() + 8);
    for (const char c : data) {
        out.append(c);
        if (c == kIac)
            out.append(c);
    }
    return out;
}

QByteArray Rfc2217Codec::feed(const QByteArray &bytes)
{
    QByteArray data;
    for (const char ch : bytes) {
        const quint8 c = quint8(ch);
        switch (m_in) {
        case In::Data:
            if (c == kIacByte)
                m_in = In::Iac;
            else
                data.append(ch);
            break;
        case In::Iac:
            if (c == kIacByte) {
                data.append(ch);
                m_in = In::Data;
            } else if (c >= kWill && c <= kDont) {
                m_verb = c;
                m_in = In::Verb;
            } else if (c == kSb) {
                m_in = In::Sub;
                m_subAt = 0;
            } else {
                m_in = In::Data;   // NOP, GA and the like carry nothing
            }
            break;
        case In::Verb:
            onCommand(m_verb, c);
            m_in = In::Data;
            break;
        case In::Sub:
            // The server's answers and its line-state and modem-state notices:
            // only the answers to the line settings (their command plus 100)
            // are counted, nothing else is acted on.
            if (c == kIacByte) {
                m_in = In::SubIac;
                break;
            }
            if (m_subAt == 0)
                m_subOption = c;
            else if (m_subAt == 1 && m_subOption == kComPortOption && c >= 100 + kSetBaudRate
                     && c <= 100 + kSetControl)
                ++m_settingsAnswered;
            ++m_subAt;
            break;
        case In::SubIac:
            m_in = c == kSe ? In::Data : In::Sub;
            if (c != kSe)
                ++m_subAt;   // a doubled 0xFF inside
            break;
        }
    }
    return data;
}

QByteArray Rfc2217Codec::takeReplies()
{
    QByteArray r;
    r.swap(m_replies);
    return r;
}

void Rfc2217Codec::onCommand(quint8 verb, quint8 option)
{
    const quint16 key = quint16(verb << 8 | option);
    const bool first = !m_answered.contains(key);
    if (first)
        m_answered.append(key);
    if (option == kComPortOption) {
        if (verb == kDo || verb == kWill) {
            if (m_state == State::Negotiating) {
                m_state = State::Ready;
                m_replies += lineSettings();
            }
            if (verb == kWill && first)
                m_replies += command(kDo, option);
        } else {
            m_state = State::Refused;
        }
        return;
    }
    if (!first)
        return;
    // Binary and suppress-go-ahead were asked for in the opening; anything
    // else the server offers or asks for is declined.
    const bool wanted = option == kBinary || option == kSuppressGoAhead;
    if (verb == kDo && !wanted)
        m_replies += command(kWont, option);
    else if (verb == kWill && !wanted)
        m_replies += command(kDont, option);
}

}  // namespace vorn
