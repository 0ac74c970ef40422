#include "protocol/tablecompare.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonObject>

namespace vorn {

namespace {

QString formulaText(quint8 code)
{
    const QString name = formulaName(code);
    if (formulaCode(name) == code)
        return name;
    return QStringLiteral("0x%1").arg(code, 2, 16, QLatin1Char('0'));
}

}  // namespace

QString tableFieldKey(TableField field)
{
    switch (field) {
    case TableField::Lower: return QStringLiteral("lower");
    case TableField::Upper: return QStringLiteral("upper");
    case TableField::Decimals: return QStringLiteral("decimals");
    case TableField::Formula: return QStringLiteral("formula");
    case TableField::Start1: return QStringLiteral("start1");
    case TableField::Start2: return QStringLiteral("start2");
    }
    return {};
}

std::optional<QList<TableDifference>> compareBlocks(const QByteArray &expected, const QByteArray &found)
{
    const int whole = kChannels * kBlockSize;
    if (expected.size() < whole || found.size() < whole)
        return std::nullopt;
    QList<TableDifference> out;
    for (int ch = 0; ch < kChannels; ++ch) {
        const char *e = expected.constData() + ch * kBlockSize;
        const char *a = found.constData() + ch * kBlockSize;
        // Decoded values are plain decimal numbers: equal texts, equal
        // values (a negative zero reads as 0 like a positive one).
        const DecodedChannel de = decodeChannel(e), da = decodeChannel(a);
        const auto differ = [&](TableField field, const QString &x, const QString &y) {
            if (x != y)
                out.append({ch, field, x, y});
        };
        differ(TableField::Lower, de.texts.lower, da.texts.lower);
        // The upper limit is lower + span; when it cannot be shown, the span
        // bytes themselves decide.
        if (de.upperValid && da.upperValid)
            differ(TableField::Upper, de.texts.upper, da.texts.upper);
        else if (de.upperValid != da.upperValid || e[2] != a[2] || e[3] != a[3] || de.texts.lower != da.texts.lower)
            out.append({ch, TableField::Upper, de.upperValid ? de.texts.upper : QString(),
                        da.upperValid ? da.texts.upper : QString()});
        differ(TableField::Decimals, de.texts.dot, da.texts.dot);
        if (e[5] != a[5])
            out.append({ch, TableField::Formula, formulaText(quint8(e[5])), formulaText(quint8(a[5]))});
        differ(TableField::Start1, de.texts.start1, da.texts.start1);
        differ(TableField::Start2, de.texts.start2, da.texts.start2);
    }
    return out;
}

std::optional<QList<TableDifference>> compareTable(const ChannelTable &table, const QByteArray &found,
                                                   int *failedChannel)
{
    const auto expected = encodeTable(table, failedChannel);
    if (!expected)
        return std::nullopt;
    return compareBlocks(*expected, found);
}

QString tableFieldName(TableField field)
{
    switch (field) {
    case TableField::Lower: return QCoreApplication::translate("vorn::TableCompare", "下限");
    case TableField::Upper: return QCoreApplication::translate("vorn::TableCompare", "上限");
    case TableField::Decimals: return QCoreApplication::translate("vorn::TableCompare", "小数位");
    case TableField::Formula: return QCoreApplication::translate("vorn::TableCompare", "报警启动");
    case TableField::Start1: return QCoreApplication::translate("vorn::TableCompare", "启动值1");
    case TableField::Start2: return QCoreApplication::translate("vorn::TableCompare", "启动值2");
    }
    return {};
}

QString shownDifferenceValue(const TableDifference &d, bool expected, const QString &typed)
{
    const QString &v = expected ? d.expected : d.found;
    if (d.field == TableField::Formula && v.startsWith(QLatin1String("0x")))
        // Codes the device may hold but no name stands for show as 固定关
        // in the window; here the code says what it is.
        return QCoreApplication::translate("vorn::TableCompare", "%1（代码 0x%2）").arg(formulaName(0), v.mid(2));
    if (d.field == TableField::Upper && v.isEmpty())
        // Lower limit plus span outside 16 bits: a file's text may still say it.
        return typed.isEmpty() ? QCoreApplication::translate("vorn::TableCompare", "（超出 -32768 到 32767）") : typed;
    return v;
}

QString describeDifference(const TableDifference &d)
{
    return QStringLiteral("%1#  %2  %3 → %4")
        .arg(d.channel)
        .arg(tableFieldName(d.field), shownDifferenceValue(d, true), shownDifferenceValue(d, false));
}

QJsonArray differencesJson(const QList<TableDifference> &differences)
{
    const auto value = [](const QString &text) -> QJsonValue {
        if (text.isEmpty())
            return QJsonValue::Null;
        bool number = false;
        const int v = text.toInt(&number);
        return number ? QJsonValue(v) : QJsonValue(text);
    };
    QJsonArray out;
    for (const TableDifference &d : differences)
        out.append(QJsonObject{{QStringLiteral("channel"), d.channel},
                               {QStringLiteral("field"), tableFieldKey(d.field)},
                               {QStringLiteral("expected"), value(d.expected)},
                               {QStringLiteral("found"), value(d.found)}});
    return out;
}

QString blocksHash(const QByteArray &blocks)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(blocks.left(kChannels * kBlockSize), QCryptographicHash::Sha256).toHex());
}

}  // namespace vorn
