#pragma once
// Replies from the device: what becomes of one piece the splitter cut from
// the line, as one value. A plain function on bytes.
//
//   02 | len hi | len lo | EE | (any) | code | payload... | xor | 03
//
// The frame itself is checked by the splitter (protocol/splitter.h). A frame
// longer than its code needs is read for the bytes the code uses; one too
// short for them is dropped.
//
//   code   length   holds
//   0x21   10       the device's number and its display-digit count
//   0x32   108      the ten stored channel blocks (10 bytes each)
//   0x40   28       the ten raw values, 0..65535, high byte first

#include "protocol/channeltable.h"
#include "protocol/splitter.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <variant>

namespace vorn {

// What a reply taken holds, one kind per code.
struct DiscoveryReply
{
    quint8 number = 0;
    quint8 digits = 0;
};
struct ReadBackReply
{
    std::array<DecodedChannel, kChannels> rows;
    QByteArray blocks;   // the 100 bytes as they came
};
struct RawValuesReply
{
    std::array<int, kChannels> values;
};

// The verdict on one piece: taken for what it holds, or dropped for its flaw.
struct ReplyVerdict
{
    Flaw flaw = Flaw::None;
    int expected = -1;   // the byte or length the check wanted
    int got = -1;        // what the bytes had
    // Empty when the reply is taken; otherwise, e.g. "校验字节应为 0xCD，
    // 收到 0x21", "长度字段为 28，等待的字节却有 56 个".
    QString reason;
    // Nothing (monostate) when dropped.
    std::variant<std::monostate, DiscoveryReply, ReadBackReply, RawValuesReply> content;
    bool taken() const { return flaw == Flaw::None; }
};

// A whole frame is taken for its code (or dropped for an unknown code or a
// frame too short for it); a rejected span is dropped for its flaw.
ReplyVerdict judgeReply(const FramePiece &piece);

// The ten raw values of a 0x40 reply (buf holds the whole frame, 28 bytes or
// more).
std::array<int, kChannels> decodeRawValues(const QByteArray &buf);

// For std::visit over what a reply holds: one lambda per kind.
template <class... F>
struct Overloaded : F...
{
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;   // clang 14 does not deduce it for an aggregate

}  // namespace vorn
