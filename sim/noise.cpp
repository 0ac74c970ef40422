#include "noise.h"

namespace rt8sim {

Noise::Noise(double rate, quint32 seed) : m_rate(rate), m_rng(seed) {}

int Noise::uniform(int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(m_rng);
}

QByteArray Noise::apply(const QByteArray &item)
{
    if (m_rate <= 0.0 || item.isEmpty())
        return item;
    if (m_rate < 1.0 && std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) >= m_rate)
        return item;
    ++m_damaged;
    return corrupt(item, Kind(uniform(0, 3)));
}

QByteArray Noise::corrupt(const QByteArray &item, Kind kind)
{
    QByteArray out = item;
    switch (kind) {
    case Kind::FlipByte:
        if (!out.isEmpty()) {
            const int i = uniform(0, int(out.size()) - 1);
            out[i] = char(quint8(out[i]) ^ quint8(uniform(1, 255)));   // never 0: the byte changes
        }
        break;
    case Kind::DropByte:
        if (!out.isEmpty())
            out.remove(uniform(0, int(out.size()) - 1), 1);
        break;
    case Kind::InsertStray:
    case Kind::AppendStray: {
        QByteArray stray(uniform(1, 3), '\0');
        for (auto &c : stray)
            c = char(uniform(0, 255));
        if (kind == Kind::AppendStray)
            out += stray;
        else
            out.insert(uniform(0, int(out.size())), stray);
        break;
    }
    }
    return out;
}

}  // namespace rt8sim
