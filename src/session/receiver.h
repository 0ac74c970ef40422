#pragma once
// One receive event of the serial control: the waiting bytes are judged as one
// reply, what it carries is handed on, and the input is emptied whatever
// happened.

#include "link/reply.h"
#include "link/serialcontrol.h"

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

// Called with the bytes of a receive event and the verdict on them, before
// anything is applied.
using ReplySeen = std::function<void(const QByteArray &bytes, const ReplyVerdict &verdict)>;

ReceiveOutcome handleReceiveEvent(SerialControl &port, ReceiverSink &sink, const ReplySeen &seen = {});

}  // namespace vorn
