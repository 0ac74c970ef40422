#include "protocol/frame.h"

namespace vorn {

quint8 checkByte(QByteArrayView frame)
{
    quint8 x = 0;
    for (qsizetype i = 1; i <= frame.size() - 3; ++i)
        x ^= static_cast<quint8>(frame[i]);
    return x;
}

static QByteArray envelope(quint8 byte3, quint8 byte4, quint8 code, const QByteArray &payload)
{
    const int n = int(payload.size()) + kFrameOverhead;
    QByteArray f(n, '\0');
    f[0] = char(kStartByte);
    f[1] = char((n >> 8) & 0xFF);
    f[2] = char(n & 0xFF);
    f[3] = char(byte3);
    f[4] = char(byte4);
    f[5] = char(code);
    for (int i = 0; i < payload.size(); ++i)
        f[6 + i] = payload[i];
    f[n - 2] = char(checkByte(f));
    f[n - 1] = char(kEndByte);
    return f;
}

QByteArray buildFrame(quint8 address, quint8 code, const QByteArray &payload)
{
    return envelope(address, kMarker, code, payload);
}

QByteArray buildReply(quint8 code, const QByteArray &payload, quint8 tag)
{
    return envelope(kMarker, tag, code, payload);
}

}  // namespace vorn
