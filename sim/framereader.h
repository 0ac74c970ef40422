#pragma once
// Cuts the byte stream from the PC into command frames, with the program's
// own frame splitter (protocol/splitter.h): torn, glued and noisy input alike.
// Everything before a start byte is garbage; a candidate that fails a check
// is a bad frame, and the search goes on from the next 02 inside it, so a
// good frame right behind a broken one is not lost. A candidate whose
// remaining bytes do not arrive within kStaleMs is given up the same way, so
// a corrupted length field cannot hold back the frames behind it.

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include "protocol/splitter.h"

namespace rt8sim {

class FrameReader
{
public:
    static constexpr int kMinCommandLength = vorn::FrameSplitter::kMinLength;
    static constexpr int kMaxCommandLength = vorn::FrameSplitter::kMaxCommandLength;
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

    int pendingBytes() const { return m_splitter.pendingSize(); }

private:
    static QList<Item> items(const QList<vorn::FramePiece> &pieces);

    vorn::FrameSplitter m_splitter{vorn::FrameLayout::Command};
    qint64 m_lastByteMs = 0;
};

}  // namespace rt8sim
