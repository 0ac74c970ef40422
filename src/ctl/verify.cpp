#include "ctl/verify.h"

#include <QCoreApplication>

namespace vorn::ctl {

namespace {

QString shownFormula(const QString &text)
{
    // Codes the device may hold but no name stands for show as 固定关 in the
    // window; here the code says what it is.
    if (!text.startsWith(QLatin1String("0x")))
        return text;
    return QCoreApplication::translate("vorn::ctl::Verify", "%1（代码 0x%2）").arg(formulaName(0), text.mid(2));
}

QString shownUpper(const QString &text, const QString &typed = {})
{
    if (!text.isEmpty())
        return text;
    // Lower limit plus span outside 16 bits: a file's text may still say it.
    return typed.isEmpty() ? QCoreApplication::translate("vorn::ctl::Verify", "（超出 -32768 到 32767）") : typed;
}

}  // namespace

QString fieldName(TableField field)
{
    switch (field) {
    case TableField::Lower: return QCoreApplication::translate("vorn::ctl::Verify", "下限");
    case TableField::Upper: return QCoreApplication::translate("vorn::ctl::Verify", "上限");
    case TableField::Decimals: return QCoreApplication::translate("vorn::ctl::Verify", "小数位");
    case TableField::Formula: return QCoreApplication::translate("vorn::ctl::Verify", "报警启动");
    case TableField::Start1: return QCoreApplication::translate("vorn::ctl::Verify", "启动值1");
    case TableField::Start2: return QCoreApplication::translate("vorn::ctl::Verify", "启动值2");
    }
    return {};
}

QString shownValue(const TableDifference &d, bool expected, const QString &typed)
{
    const QString &v = expected ? d.expected : d.found;
    if (d.field == TableField::Formula)
        return shownFormula(v);
    if (d.field == TableField::Upper)
        return shownUpper(v, typed);
    return v;
}

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
        out.append({d.channel, fieldName(d.field), shownValue(d, true, table[d.channel].upper.trimmed()),
                    shownValue(d, false)});
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
