#include "session/receiver.h"

namespace vorn {

ReceiveOutcome handleReceiveEvent(SerialControl &port, ReceiverSink &sink, const ReplySeen &seen)
{
    ReceiveOutcome outcome = ReceiveOutcome::OtherEvent;
    if (port.commEvent() == SerialControl::kEvReceive) {
        // The frame's end is found with the count taken here; bytes that
        // arrive later are not part of it.
        const int n = port.inBufferCount();
        const QByteArray buf = port.input();
        const ReplyVerdict verdict = judgeReply(buf, n);
        outcome = verdict.outcome;
        if (seen)
            seen(buf.left(n), verdict);
        switch (outcome) {
        case ReceiveOutcome::Discovery: {
            const Discovery d = decodeDiscovery(buf);
            sink.discoveryReply(d.number, d.digits);
            break;
        }
        case ReceiveOutcome::ReadBack:
            sink.readBackReply(decodeReadBack(buf), readBackBlocks(buf));
            break;
        case ReceiveOutcome::RawValues:
            sink.rawValueReply(decodeRawValues(buf));
            break;
        default:
            break;
        }
    }
    port.clearInput();
    return outcome;
}

}  // namespace vorn
