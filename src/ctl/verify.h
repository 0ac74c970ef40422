#pragma once
// What a download should have left in the device, against what a read-back
// says it holds: field by field, as numbers on the wire, not as texts ("1.5"
// goes out as 2, "" as 0, and a read-back never gives the texts typed).

#include "protocol/channeltable.h"
#include "protocol/tablecompare.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace vorn::ctl {

struct FieldDifference
{
    int channel = 0;
    QString field;      // 下限, 上限, 小数位, 报警启动, 启动值1, 启动值2 (in the language in effect)
    QString expected;   // what the table's texts convert to
    QString actual;     // what the device holds
    bool operator==(const FieldDifference &) const = default;
};

// table: the texts downloaded; blocks: the ten channel blocks read back (100
// bytes). A table that does not convert, or fewer than 100 bytes, is one
// difference with channel -1.
QList<FieldDifference> compareWithDevice(const ChannelTable &table, const QByteArray &blocks);

// "3# 上限：文件 1000，设备 990"
QString describe(const FieldDifference &d);

}  // namespace vorn::ctl
