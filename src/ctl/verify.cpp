#include "ctl/verify.h"

#include <QCoreApplication>

namespace vorn::ctl {

namespace {

QString formulaText(quint8 code)
{
    // Codes the device may hold but no name stands for show as 固定关 in the
    // window; here the code says what it is.
    const QString name = formulaName(code);
    if (formulaCode(name) == code)
        return name;
    return QCoreApplication::translate("vorn::ctl::Verify", "%1（代码 0x%2）")
        .arg(name).arg(code, 2, 16, QLatin1Char('0'));
}

QString upperText(const DecodedChannel &c, const QString &typed = {})
{
    if (c.upperValid)
        return c.texts.upper;
    // Lower limit plus span outside 16 bits: a file's text may still say it.
    return typed.isEmpty() ? QCoreApplication::translate("vorn::ctl::Verify", "（超出 -32768 到 32767）") : typed;
}

}  // namespace

QList<FieldDifference> compareWithDevice(const ChannelTable &table, const QByteArray &blocks)
{
    const auto expected = encodeTable(table);
    if (!expected)
        return {{-1, QCoreApplication::translate("vorn::ctl::Verify", "参数表"),
                 QCoreApplication::translate("vorn::ctl::Verify", "无法转换"), {}}};
    if (blocks.size() < kChannels * kBlockSize)
        return {{-1, QCoreApplication::translate("vorn::ctl::Verify", "回读数据"), {},
                 QCoreApplication::translate("vorn::ctl::Verify", "%n 字节", nullptr, int(blocks.size()))}};

    QList<FieldDifference> out;
    for (int ch = 0; ch < kChannels; ++ch) {
        const char *e = expected->constData() + ch * kBlockSize;
        const char *a = blocks.constData() + ch * kBlockSize;
        // Decoded values are plain decimal numbers: equal texts, equal
        // values (a negative zero reads as 0 like a positive one).
        const DecodedChannel de = decodeChannel(e), da = decodeChannel(a);
        const auto differ = [&](const QString &field, const QString &x, const QString &y) {
            if (x != y)
                out.append({ch, field, x, y});
        };
        differ(QCoreApplication::translate("vorn::ctl::Verify", "下限"), de.texts.lower, da.texts.lower);
        // The upper limit is lower + span; when it cannot be shown, the span
        // bytes themselves decide.
        if (de.upperValid && da.upperValid)
            differ(QCoreApplication::translate("vorn::ctl::Verify", "上限"), de.texts.upper, da.texts.upper);
        else if (de.upperValid != da.upperValid || e[2] != a[2] || e[3] != a[3]
                 || de.texts.lower != da.texts.lower)
            out.append({ch, QCoreApplication::translate("vorn::ctl::Verify", "上限"),
                        upperText(de, table[ch].upper.trimmed()), upperText(da)});
        differ(QCoreApplication::translate("vorn::ctl::Verify", "小数位"), de.texts.dot, da.texts.dot);
        if (e[5] != a[5])
            out.append({ch, QCoreApplication::translate("vorn::ctl::Verify", "报警启动"), formulaText(quint8(e[5])),
                        formulaText(quint8(a[5]))});
        differ(QCoreApplication::translate("vorn::ctl::Verify", "启动值1"), de.texts.start1, da.texts.start1);
        differ(QCoreApplication::translate("vorn::ctl::Verify", "启动值2"), de.texts.start2, da.texts.start2);
    }
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
