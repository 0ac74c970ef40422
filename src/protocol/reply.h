#pragma once
// Replies from the device: the checks a reply frame must pass, and what its
// payload carries. Plain functions on bytes.
//
//   02 | len hi | len lo | EE | (any) | code | payload... | xor | 03
//
// The frame itself is checked by the splitter (protocol/splitter.h). A frame
// longer than its code needs is read for the bytes the code uses; one too
// short for them is dropped.

#include "protocol/channeltable.h"
#include "protocol/splitter.h"

#include <QByteArray>
#include <QString>
#include <array>

namespace vorn {

enum class ReceiveOutcome {
    OtherEvent,       // not a receive event
    TooShort,         // 8 bytes or fewer
    BadFrame,         // start, end, marker, length field or check byte wrong
    UnknownCode,      // a valid frame with a code the program has no use for
    TooShortForCode,  // a known code in a frame too short for its payload
    Discovery,
    ReadBack,
    RawValues,
};

// What became of a reply, and why when it was dropped.
struct ReplyVerdict
{
    enum class Flaw { None, TooShort, StartByte, EndByte, Marker, LengthField, CheckByte, UnknownCode, ShortForCode };
    ReceiveOutcome outcome = ReceiveOutcome::OtherEvent;
    Flaw flaw = Flaw::None;
    int expected = -1;   // the byte or length the check wanted
    int got = -1;        // what the frame had
    // Empty when the reply is taken; otherwise, e.g. "校验字节应为 0xCD，
    // 收到 0x21", "长度字段为 28，等待的字节却有 56 个".
    QString reason;
    bool taken() const
    {
        return outcome == ReceiveOutcome::Discovery || outcome == ReceiveOutcome::ReadBack
            || outcome == ReceiveOutcome::RawValues;
    }
};

// What becomes of one piece the splitter cut from the line: a whole frame is
// taken for its code (or dropped for an unknown code or a frame too short for
// it); a rejected span is dropped for its flaw.
ReplyVerdict judgeReply(const FramePiece &piece);

// Payloads of replies that judgeReply() took (buf holds the whole frame).
struct Discovery { quint8 number; quint8 digits; };
Discovery decodeDiscovery(const QByteArray &buf);
// The ten channel blocks as they came (100 bytes) and decoded.
QByteArray readBackBlocks(const QByteArray &buf);
std::array<DecodedChannel, kChannels> decodeReadBack(const QByteArray &buf);
std::array<int, kChannels> decodeRawValues(const QByteArray &buf);

}  // namespace vorn
