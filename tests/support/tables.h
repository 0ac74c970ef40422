#pragma once
// Channel tables for tests.

#include "protocol/channeltable.h"
#include "protocol/frame.h"

#include <array>

// A table whose every field differs from row to row and from the start
// texts: negative limits, all decimal places, all seven formulas, start values
// up to 30009.
inline vorn::ChannelTable variedTable()
{
    vorn::ChannelTable t = vorn::startTable();
    for (int i = 0; i < vorn::kChannels; ++i) {
        t[i].lower = QString::number(-100 * i);
        t[i].upper = QString::number(500 + 37 * i);
        t[i].dot = QString::number(i % 4);
        t[i].formula = vorn::formulaNames().at(i % 7);
        t[i].start1 = QString::number(-i);
        t[i].start2 = QString::number(30000 + i);
    }
    return t;
}

// The device's raw-value reply (code 0x40) carrying these ten values.
inline QByteArray rawValuesReply(const std::array<int, vorn::kChannels> &v)
{
    QByteArray p;
    for (int x : v)
        p += char(x >> 8), p += char(x & 0xFF);
    return vorn::buildReply(0x40, p);
}

// The ten blocks a device holds after a download of table.
inline QByteArray blocksOf(const vorn::ChannelTable &table)
{
    return vorn::encodeTable(table).value_or(QByteArray());
}

// The start table with one channel's texts changed.
inline vorn::ChannelTable with(int channel, void (*change)(vorn::ChannelTexts &))
{
    vorn::ChannelTable t = vorn::startTable();
    change(t[channel]);
    return t;
}
