#include "framereader.h"

#include "link/frame.h"

namespace rt8sim {

namespace {

quint8 byteAt(const QByteArray &b, int i) { return static_cast<quint8>(b[i]); }

}  // namespace

QList<FrameReader::Item> FrameReader::feed(const QByteArray &bytes, qint64 nowMs)
{
    QList<Item> out;
    if (bytes.isEmpty())
        return out;
    m_buf += bytes;
    m_lastByteMs = nowMs;
    scan(out);
    return out;
}

QList<FrameReader::Item> FrameReader::expire(qint64 nowMs)
{
    QList<Item> out;
    if (m_buf.isEmpty() || nowMs - m_lastByteMs < kStaleMs)
        return out;
    dropCandidate(out);
    scan(out);
    // Whatever is left is a shorter candidate that has waited just as long.
    while (!m_buf.isEmpty()) {
        dropCandidate(out);
        scan(out);
    }
    return out;
}

void FrameReader::dropCandidate(QList<Item> &out)
{
    const qsizetype next = m_buf.indexOf(char(vorn::kStartByte), 1);
    const qsizetype cut = next < 0 ? m_buf.size() : next;
    out.append({Item::BadFrame, m_buf.left(cut)});
    m_buf.remove(0, cut);
}

void FrameReader::scan(QList<Item> &out)
{
    for (;;) {
        // Skip to the next start byte.
        const qsizetype start = m_buf.indexOf(char(vorn::kStartByte));
        if (start < 0) {
            if (!m_buf.isEmpty())
                out.append({Item::Garbage, m_buf});
            m_buf.clear();
            return;
        }
        if (start > 0) {
            out.append({Item::Garbage, m_buf.left(start)});
            m_buf.remove(0, start);
        }
        if (m_buf.size() < 3)
            return;   // wait for the length field
        const int n = byteAt(m_buf, 1) * 256 + byteAt(m_buf, 2);
        const bool plausible = n >= kMinCommandLength && n <= kMaxCommandLength
            && (m_buf.size() < 5 || byteAt(m_buf, 4) == vorn::kMarker);
        if (!plausible) {
            dropCandidate(out);
            continue;
        }
        if (m_buf.size() < n)
            return;   // wait for the rest
        const QByteArray frame = m_buf.left(n);
        if (vorn::isValidCommand(frame)) {
            out.append({Item::Frame, frame});
            m_buf.remove(0, n);
        } else {
            dropCandidate(out);
        }
    }
}

}  // namespace rt8sim
