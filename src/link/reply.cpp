#include "link/reply.h"

#include "link/frame.h"

namespace vorn {

namespace {

QString hexByte(int b)
{
    return QStringLiteral("0x") + QString::number(b & 0xFF, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

int neededLength(quint8 code)
{
    switch (code) {
    case cmd::Discover: return kDiscoveryReplyLength;
    case cmd::ReadBack: return kReadBackReplyLength;
    case cmd::Feedback: return kRawReplyLength;
    default: return 0;
    }
}

}  // namespace

ReplyVerdict judgeReply(const QByteArray &buf, int n)
{
    n = qMin(n, int(buf.size()));
    if (n <= kFrameOverhead)
        return {ReceiveOutcome::TooShort, QStringLiteral("too short: %1 bytes").arg(n)};
    const auto at = [&](int i) { return static_cast<quint8>(buf[i]); };
    if (at(0) != kStartByte)
        return {ReceiveOutcome::BadFrame, QStringLiteral("start byte %1, not 0x02").arg(hexByte(at(0)))};
    if (at(n - 1) != kEndByte)
        return {ReceiveOutcome::BadFrame, QStringLiteral("end byte %1, not 0x03").arg(hexByte(at(n - 1)))};
    if (at(3) != kMarker)
        return {ReceiveOutcome::BadFrame, QStringLiteral("marker %1, not 0xEE").arg(hexByte(at(3)))};
    const int length = at(1) * 256 + at(2);
    if (length != n)
        return {ReceiveOutcome::BadFrame, QStringLiteral("length field %1 but %2 bytes waiting").arg(length).arg(n)};
    const quint8 check = xorOf(buf, 1, n - 3);
    if (check != at(n - 2))
        return {ReceiveOutcome::BadFrame,
                QStringLiteral("check byte expected %1 got %2").arg(hexByte(check), hexByte(at(n - 2)))};
    const quint8 code = at(5);
    const int needed = neededLength(code);
    if (needed == 0)
        return {ReceiveOutcome::UnknownCode, QStringLiteral("unknown code %1").arg(hexByte(code))};
    if (n < needed)
        return {ReceiveOutcome::TooShortForCode,
                QStringLiteral("code %1 needs %2 bytes, the frame has %3").arg(hexByte(code)).arg(needed).arg(n)};
    switch (code) {
    case cmd::Discover: return {ReceiveOutcome::Discovery, {}};
    case cmd::ReadBack: return {ReceiveOutcome::ReadBack, {}};
    default: return {ReceiveOutcome::RawValues, {}};
    }
}

Discovery decodeDiscovery(const QByteArray &buf)
{
    return {static_cast<quint8>(buf[6]), static_cast<quint8>(buf[7])};
}

QByteArray readBackBlocks(const QByteArray &buf)
{
    return buf.mid(6, kChannels * kBlockSize);
}

std::array<DecodedChannel, kChannels> decodeReadBack(const QByteArray &buf)
{
    std::array<DecodedChannel, kChannels> rows;
    for (int i = 0; i < kChannels; ++i)
        rows[i] = decodeChannel(buf.constData() + 6 + kBlockSize * i);
    return rows;
}

std::array<int, kChannels> decodeRawValues(const QByteArray &buf)
{
    const auto at = [&](int i) { return int(static_cast<quint8>(buf[i])); };
    std::array<int, kChannels> raw;
    for (int i = 0; i < kChannels; ++i)
        raw[i] = at(6 + 2 * i) * 256 + at(7 + 2 * i);
    return raw;
}

}  // namespace vorn
