#include "ctl/verify.h"

#include <QCoreApplication>

namespace vorn::ctl {

QList<FieldDifference> compareWithDevice(const ChannelTable &table, const QByteArray &blocks)
{
    if (!encodeTable(table))
        return {{-1, QCoreApplication::translate("vorn::ctl::Verify", "参数表"),
                 QCoreApplication::translate("vorn::ctl::Verify", "无法转换"), {}}};
    const auto diffs = compareTable(table, blocks);
    if (!diffs)
        return {{-1, QCoreApplication::translate("vorn::ctl::Verify", "回读数据"), {},
                 QCoreApplication::translate("vorn::ctl::Verify", "%n 字节", nullptr, int(blocks.size()))}};
    QList<FieldDifference> out;
    for (const TableDifference &d : *diffs)
        out.append({d.channel, tableFieldName(d.field), shownDifferenceValue(d, true, table[d.channel].upper.trimmed()),
                    shownDifferenceValue(d, false)});
    return out;
}

QString describe(const FieldDifference &d)
{
    if (d.channel < 0)
        return QCoreApplication::translate("vorn::ctl::Verify", "%1：文件 %2，设备 %3")
            .arg(d.field, d.expected, d.actual);
    return QCoreApplication::translate("vorn::ctl::Verify", "%1# %2：文件 %3，设备 %4")
        .arg(d.channel).arg(d.field, d.expected, d.actual);
}

}  // namespace vorn::ctl
