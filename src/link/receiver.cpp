#include "link/receiver.h"

#include "link/frame.h"

namespace vorn {

ReceiveOutcome classifyReply(const QByteArray &buf, int n)
{
    if (n <= kFrameOverhead)
        return ReceiveOutcome::TooShort;
    if (!isValidReply(buf, n))
        return ReceiveOutcome::BadFrame;
    switch (static_cast<quint8>(buf[5])) {
    // The frame length is not compared with what the code needs: a longer
    // frame that passes every check is read for the bytes its code uses. A
    // frame too short to hold them is dropped.
    case cmd::Discover:
        return n >= kDiscoveryReplyLength ? ReceiveOutcome::Discovery : ReceiveOutcome::TooShortForCode;
    case cmd::ReadBack:
        return n >= kReadBackReplyLength ? ReceiveOutcome::ReadBack : ReceiveOutcome::TooShortForCode;
    case cmd::Feedback:
        return n >= kRawReplyLength ? ReceiveOutcome::RawValues : ReceiveOutcome::TooShortForCode;
    default:
        return ReceiveOutcome::UnknownCode;
    }
}

ReceiveOutcome handleReceiveEvent(SerialControl &port, ReceiverSink &sink)
{
    ReceiveOutcome outcome = ReceiveOutcome::OtherEvent;
    if (port.commEvent() == SerialControl::kEvReceive) {
        const int n = port.inBufferCount();
        const QByteArray buf = port.input();
        outcome = classifyReply(buf, n);
        const auto at = [&](int i) { return static_cast<quint8>(buf[i]); };
        switch (outcome) {
        case ReceiveOutcome::Discovery:
            sink.discoveryReply(at(6), at(7));
            break;
        case ReceiveOutcome::ReadBack: {
            std::array<DecodedChannel, kChannels> rows;
            for (int i = 0; i < kChannels; ++i)
                rows[i] = decodeChannel(buf.constData() + 6 + kBlockSize * i);
            sink.readBackReply(rows);
            break;
        }
        case ReceiveOutcome::RawValues: {
            std::array<int, kChannels> raw;
            for (int i = 0; i < kChannels; ++i)
                raw[i] = at(6 + 2 * i) * 256 + at(7 + 2 * i);
            sink.rawValueReply(raw);
            break;
        }
        default:
            break;
        }
    }
    port.clearInput();
    return outcome;
}

}  // namespace vorn
