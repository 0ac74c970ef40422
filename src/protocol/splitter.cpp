#include "protocol/splitter.h"

#include "protocol/frame.h"

namespace vorn {

namespace {

int byteAt(QByteArrayView b, qsizetype i) { return static_cast<quint8>(b[i]); }
int markerOffset(FrameLayout layout) { return layout == FrameLayout::Reply ? 3 : 4; }

}  // namespace

FramePiece checkFrame(QByteArrayView f, FrameLayout layout)
{
    FramePiece p;
    p.bytes = f.toByteArray();
    const auto flawed = [&p](Flaw flaw, int expected, int got) {
        p.flaw = flaw;
        p.expected = expected;
        p.got = got;
        return p;
    };
    const int n = int(f.size());
    if (n < FrameSplitter::kMinLength)
        return flawed(Flaw::TooShort, FrameSplitter::kMinLength, n);
    if (byteAt(f, 0) != kStartByte)
        return flawed(Flaw::StartByte, kStartByte, byteAt(f, 0));
    if (byteAt(f, n - 1) != kEndByte)
        return flawed(Flaw::EndByte, kEndByte, byteAt(f, n - 1));
    const int marker = byteAt(f, markerOffset(layout));
    if (marker != kMarker)
        return flawed(Flaw::Marker, kMarker, marker);
    const int length = byteAt(f, 1) * 256 + byteAt(f, 2);
    if (length != n)
        return flawed(Flaw::LengthField, n, length);
    const quint8 x = checkByte(f);
    if (x != byteAt(f, n - 2))
        return flawed(Flaw::CheckByte, x, byteAt(f, n - 2));
    return p;
}

FrameSplitter::FrameSplitter(FrameLayout layout)
    : m_layout(layout), m_maxLength(layout == FrameLayout::Reply ? kMaxReplyLength : kMaxCommandLength)
{
}

QList<FramePiece> FrameSplitter::feed(QByteArrayView bytes)
{
    QList<FramePiece> out;
    if (bytes.isEmpty())
        return out;
    m_buf.append(bytes);
    split(out);
    return out;
}

QList<FramePiece> FrameSplitter::giveUp()
{
    QList<FramePiece> out;
    if (m_buf.isEmpty())
        return out;
    reject(out, Flaw::TooShort, -1, int(m_buf.size()));
    split(out);
    return out;
}

void FrameSplitter::reject(QList<FramePiece> &out, Flaw flaw, int expected, int got)
{
    // The candidate's start byte is not a start after all: the next 02 may be.
    const qsizetype next = m_buf.indexOf(char(kStartByte), 1);
    const qsizetype cut = next < 0 ? m_buf.size() : next;
    out.append({m_buf.left(cut), flaw, expected, got});
    m_buf.remove(0, cut);
}

void FrameSplitter::split(QList<FramePiece> &out)
{
    const int markerAt = markerOffset(m_layout);
    while (!m_buf.isEmpty()) {
        if (byteAt(m_buf, 0) != kStartByte) {
            const qsizetype start = m_buf.indexOf(char(kStartByte));
            const qsizetype cut = start < 0 ? m_buf.size() : start;
            out.append({m_buf.left(cut), Flaw::StartByte, kStartByte, byteAt(m_buf, 0)});
            m_buf.remove(0, cut);
            continue;
        }
        if (m_buf.size() < 3)
            return;   // the length field is still to come
        const int n = byteAt(m_buf, 1) * 256 + byteAt(m_buf, 2);
        if (n < kMinLength || n > m_maxLength) {
            reject(out, Flaw::LengthField, -1, n);
            continue;
        }
        if (m_buf.size() > markerAt && byteAt(m_buf, markerAt) != kMarker) {
            reject(out, Flaw::Marker, kMarker, byteAt(m_buf, markerAt));
            continue;
        }
        if (m_buf.size() < n)
            return;   // the rest is still to come
        FramePiece whole = checkFrame(QByteArrayView(m_buf).first(n), m_layout);
        if (whole.isFrame()) {
            out.append(std::move(whole));
            m_buf.remove(0, n);
        } else {
            reject(out, whole.flaw, whole.expected, whole.got);
        }
    }
}

}  // namespace vorn
