#pragma once
// The response receiver: runs on every receive event of the serial control,
// checks the waiting bytes as one reply frame and hands what it carries to
// the window. Whatever happens, the input is empty afterwards.

#include "channels/channeltable.h"
#include "link/serialcontrol.h"

#include <array>

namespace vorn {

class ReceiverSink
{
public:
    virtual ~ReceiverSink() = default;
    // 0x21: the device's number and its display-digit count.
    virtual void discoveryReply(quint8 number, quint8 digits) = 0;
    // 0x32: the ten stored channel blocks, decoded.
    virtual void readBackReply(const std::array<DecodedChannel, kChannels> &rows) = 0;
    // 0x40: the ten raw values, 0..65535.
    virtual void rawValueReply(const std::array<int, kChannels> &raw) = 0;
};

enum class ReceiveOutcome {
    OtherEvent,     // not a receive event
    TooShort,       // 8 bytes or fewer
    BadFrame,       // start, end, marker, length field or check byte wrong
    UnknownCode,    // a valid frame with a code the window has no use for
    TooShortForCode, // a known code in a frame too short for its payload
    Discovery,
    ReadBack,
    RawValues,
};

// Classifies buf as a reply without applying it.
ReceiveOutcome classifyReply(const QByteArray &buf, int n);

// One receive event, start to end.
ReceiveOutcome handleReceiveEvent(SerialControl &port, ReceiverSink &sink);

}  // namespace vorn
