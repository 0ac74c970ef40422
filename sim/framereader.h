#pragma once
// Cuts the byte stream from the PC into command frames.
//
// Bytes arrive in chunks of any size: one frame may be split over several
// reads, several frames may come glued together, and line noise may sit
// between them. A frame starts with 02 followed by a length the device could
// be sent (kMinCommandLength..kMaxCommandLength) and, once it is there, the
// marker EE at offset 4. Everything before such a start is garbage. A
// candidate that fails the full check (end byte, check byte) is a bad frame;
// the search then goes on from the next 02 inside it, so a good frame right
// behind a broken one is not lost. A candidate whose remaining bytes do not
// arrive within kStaleMs is given up the same way, so a corrupted length
// field cannot hold back the frames behind it.

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace rt8sim {

class FrameReader
{
public:
    // The shortest command carries one payload byte; the longest is a
    // show-number request with 255 digits.
    static constexpr int kMinCommandLength = 9;
    static constexpr int kMaxCommandLength = 10 + 255;
    static constexpr qint64 kStaleMs = 300;

    struct Item
    {
        enum Kind { Frame, BadFrame, Garbage };
        Kind kind = Frame;
        QByteArray bytes;
        bool operator==(const Item &) const = default;
    };

    // Appends bytes that arrived at nowMs and returns what is complete.
    QList<Item> feed(const QByteArray &bytes, qint64 nowMs);
    // Gives up a candidate that has waited longer than kStaleMs since its
    // last byte; returns what that frees.
    QList<Item> expire(qint64 nowMs);

    int pendingBytes() const { return int(m_buf.size()); }

private:
    void scan(QList<Item> &out);
    // Drops the candidate at the front up to the next 02 (or all of it).
    void dropCandidate(QList<Item> &out);

    QByteArray m_buf;
    qint64 m_lastByteMs = 0;
};

}  // namespace rt8sim
