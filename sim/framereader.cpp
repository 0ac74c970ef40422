#include "framereader.h"

namespace rt8sim {

QList<FrameReader::Item> FrameReader::items(const QList<vorn::FramePiece> &pieces)
{
    QList<Item> out;
    out.reserve(pieces.size());
    for (const vorn::FramePiece &p : pieces) {
        const Item::Kind kind = p.isFrame() ? Item::Frame
                              : p.flaw == vorn::Flaw::StartByte ? Item::Garbage : Item::BadFrame;
        out.append({kind, p.bytes});
    }
    return out;
}

QList<FrameReader::Item> FrameReader::feed(const QByteArray &bytes, qint64 nowMs)
{
    if (bytes.isEmpty())
        return {};
    m_lastByteMs = nowMs;
    return items(m_splitter.feed(bytes));
}

QList<FrameReader::Item> FrameReader::expire(qint64 nowMs)
{
    QList<Item> out;
    if (m_splitter.pendingSize() == 0 || nowMs - m_lastByteMs < kStaleMs)
        return out;
    // Whatever is left after the first is a shorter candidate that has
    // waited just as long.
    while (m_splitter.pendingSize() > 0)
        out += items(m_splitter.giveUp());
    return out;
}

}  // namespace rt8sim
