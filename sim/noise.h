#pragma once
// Line noise on what the simulator sends: a share of the outgoing frames and
// text records is damaged in one of four ways, chosen at random.

#include <QByteArray>
#include <random>

namespace rt8sim {

class Noise
{
public:
    enum class Kind { FlipByte, DropByte, InsertStray, AppendStray };

    // rate: share of items to damage, 0..1.
    Noise(double rate, quint32 seed);

    double rate() const { return m_rate; }
    // The item as it goes out: damaged with probability rate().
    QByteArray apply(const QByteArray &item);
    // The item damaged the given way; never equal to a non-empty item.
    QByteArray corrupt(const QByteArray &item, Kind kind);
    int damagedCount() const { return m_damaged; }

private:
    int uniform(int lo, int hi);   // both inclusive
    double m_rate;
    std::mt19937 m_rng;
    int m_damaged = 0;
};

}  // namespace rt8sim
