#include "protocol/reply.h"

#include "protocol/frame.h"

#include <QCoreApplication>

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

ReplyVerdict judgeReply(const FramePiece &piece)
{
    const auto dropped = [](Flaw flaw, int expected, int got, const QString &reason) {
        return ReplyVerdict{flaw, expected, got, reason, {}};
    };
    const QByteArray &buf = piece.bytes;
    const int n = int(buf.size());
    const auto at = [&](int i) { return int(static_cast<quint8>(buf[i])); };
    switch (piece.flaw) {
    case Flaw::None:
        break;
    case Flaw::TooShort:
        return dropped(Flaw::TooShort, kFrameOverhead + 1, n,
                       QCoreApplication::translate("vorn::Line", "太短：只有 %n 个字节", nullptr, n));
    case Flaw::StartByte:
        return dropped(Flaw::StartByte, kStartByte, piece.got,
                       QCoreApplication::translate("vorn::Line", "起始字节应为 0x02，收到 %1").arg(hexByte(piece.got)));
    case Flaw::EndByte:
        return dropped(Flaw::EndByte, kEndByte, piece.got,
                       QCoreApplication::translate("vorn::Line", "结束字节应为 0x03，收到 %1").arg(hexByte(piece.got)));
    case Flaw::Marker:
        return dropped(Flaw::Marker, kMarker, piece.got,
                       QCoreApplication::translate("vorn::Line", "帧标志应为 0xEE，收到 %1").arg(hexByte(piece.got)));
    case Flaw::LengthField:
        if (piece.expected < 0)
            return dropped(Flaw::LengthField, -1, piece.got,
                           QCoreApplication::translate("vorn::Line", "长度字段为 %1，应答不会有这个长度")
                               .arg(piece.got));
        return dropped(Flaw::LengthField, piece.expected, piece.got,
                       QCoreApplication::translate("vorn::Line", "长度字段为 %1，等待的字节却有 %2 个")
                           .arg(piece.got).arg(piece.expected));
    case Flaw::CheckByte:
        return dropped(Flaw::CheckByte, piece.expected, piece.got,
                       QCoreApplication::translate("vorn::Line", "校验字节应为 %1，收到 %2")
                           .arg(hexByte(piece.expected), hexByte(piece.got)));
    case Flaw::UnknownCode:
    case Flaw::ShortForCode:
        break;   // not a frame flaw: the splitter never gives them
    }
    const int code = at(5);
    const int needed = neededLength(quint8(code));
    if (needed == 0)
        return dropped(Flaw::UnknownCode, -1, code,
                       QCoreApplication::translate("vorn::Line", "未知的应答代码 %1").arg(hexByte(code)));
    if (n < needed)
        return dropped(Flaw::ShortForCode, needed, n,
                       QCoreApplication::translate("vorn::Line", "代码 %1 的应答需要 %2 个字节，这一帧只有 %3 个")
                           .arg(hexByte(code)).arg(needed).arg(n));
    ReplyVerdict taken;
    switch (code) {
    case cmd::Discover:
        taken.content = DiscoveryReply{quint8(at(6)), quint8(at(7))};
        break;
    case cmd::ReadBack: {
        ReadBackReply r;
        for (int i = 0; i < kChannels; ++i)
            r.rows[i] = decodeChannel(buf.constData() + 6 + kBlockSize * i);
        r.blocks = buf.mid(6, kChannels * kBlockSize);
        taken.content = std::move(r);
        break;
    }
    default:
        taken.content = RawValuesReply{decodeRawValues(buf)};
        break;
    }
    return taken;
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
