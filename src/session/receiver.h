#pragma once
// One piece the splitter cut from the line: judged as a reply, and what a
// reply taken carries is handed on.

#include "protocol/reply.h"
#include "protocol/splitter.h"

#include <array>
#include <functional>

namespace vorn {

class ReceiverSink
{
public:
    virtual ~ReceiverSink() = default;
    // 0x21: the device's number and its display-digit count.
    virtual void discoveryReply(quint8 number, quint8 digits) = 0;
    // 0x32: the ten stored channel blocks, decoded, and as they came.
    virtual void readBackReply(const std::array<DecodedChannel, kChannels> &rows, const QByteArray &blocks) = 0;
    // 0x40: the ten raw values, 0..65535.
    virtual void rawValueReply(const std::array<int, kChannels> &raw) = 0;
};

// Called with the bytes of a piece and the verdict on them, before anything
// is applied.
using ReplySeen = std::function<void(const QByteArray &bytes, const ReplyVerdict &verdict)>;

ReceiveOutcome receivePiece(const FramePiece &piece, ReceiverSink &sink, const ReplySeen &seen = {});

}  // namespace vorn
