#pragma once
// Cuts a stream of bytes from the serial line into frames.
//
//   02 | len hi | len lo | b3 | b4 | code | payload... | xor | 03
//
// A reply has the marker EE at offset 3, a command at offset 4. Bytes come in
// chunks of the kernel's choosing: a frame may be torn over several chunks,
// several frames may come glued together, noise may sit around them. feed()
// appends a chunk and returns, in stream order, every whole frame that passed
// every check and every span it rejected, with the reason. A candidate is
// rejected as soon as it cannot be a frame: a byte other than 02 where a frame
// must start, a length field outside what the device sends, a wrong marker,
// or, once all its bytes are there, a wrong end byte or check byte. The search
// then goes on from the next 02 after the rejected start, so a good frame
// right behind (or inside) a broken one is found. Nothing is dropped silently:
// the returned pieces plus pending() are exactly the bytes fed.
//
// The splitter holds no timer; a caller that gives up on a torn candidate
// calls giveUp().

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace vorn {

enum class FrameLayout { Reply, Command };

// Why bytes from the line were not taken: the frame flaws the splitter finds,
// and the two a whole reply frame can still have (judgeReply, reply.h). The
// one flaw list of the program.
enum class Flaw {
    None,
    TooShort,      // shorter than a frame, or a candidate given up on (torn)
    StartByte,
    LengthField,
    Marker,
    EndByte,
    CheckByte,
    UnknownCode,   // a whole reply frame with a code the program has no use for
    ShortForCode,  // a known code in a frame too short for its payload
};

struct FramePiece
{
    QByteArray bytes;
    Flaw flaw = Flaw::None;
    int expected = -1;   // the byte or length the check wanted
    int got = -1;        // what the bytes had
    bool isFrame() const { return flaw == Flaw::None; }
    bool operator==(const FramePiece &) const = default;
};

// Checks one whole frame, every field; the only frame check of the program.
// expected/got as in FramePiece. A length field is only checked against the
// size of the bytes here, not against a range.
FramePiece checkFrame(QByteArrayView frame, FrameLayout layout);

class FrameSplitter
{
public:
    // No reply longer than the serial input buffer of old (1024 bytes) was
    // ever taken; the device's longest is the 108-byte read-back. The
    // longest command is a show-number request with 255 digits.
    static constexpr int kMinLength = 9;
    static constexpr int kMaxReplyLength = 1024;
    static constexpr int kMaxCommandLength = 10 + 255;

    explicit FrameSplitter(FrameLayout layout = FrameLayout::Reply);

    QList<FramePiece> feed(QByteArrayView bytes);
    // Rejects the candidate at the front (as torn) up to the next start
    // byte, and splits what follows it.
    QList<FramePiece> giveUp();
    // Forgets every byte held.
    void clear() { m_buf.clear(); }

    QByteArray pending() const { return m_buf; }
    int pendingSize() const { return int(m_buf.size()); }
    FrameLayout layout() const { return m_layout; }

private:
    void split(QList<FramePiece> &out);
    void reject(QList<FramePiece> &out, Flaw flaw, int expected, int got);

    FrameLayout m_layout;
    int m_maxLength;
    QByteArray m_buf;
};

}  // namespace vorn
