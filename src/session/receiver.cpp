#include "session/receiver.h"

namespace vorn {

ReceiveOutcome receivePiece(const FramePiece &piece, ReceiverSink &sink, const ReplySeen &seen)
{
    const ReplyVerdict verdict = judgeReply(piece);
    if (seen)
        seen(piece.bytes, verdict);
    const QByteArray &buf = piece.bytes;
    switch (verdict.outcome) {
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
    return verdict.outcome;
}

}  // namespace vorn
