#pragma once
// Whether a device holds a table: the ten channel blocks a download would
// leave in it against the ten blocks a read-back returns, field by field as
// the device keeps them (numbers, not the texts typed: "1.5" and "1.50" go
// out alike). The one rule for rt8ctl's audit and write --verify, the
// gateway's config topic and the window's status bar.

#include "protocol/channeltable.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <optional>

namespace vorn {

enum class TableField { Lower, Upper, Decimals, Formula, Start1, Start2 };

// The field's name in JSON: lower, upper, decimals, formula, start1, start2.
QString tableFieldKey(TableField field);

struct TableDifference
{
    int channel = 0;          // 0..9
    TableField field = TableField::Lower;
    // What each side holds, as a read-back shows it: decimal numbers; a
    // formula's name, or "0xNN" for a code no name stands for; an upper limit
    // that lower + span cannot show (outside -32768..32767) is empty.
    QString expected;
    QString found;
    bool operator==(const TableDifference &) const = default;
};

// expected and found: ten channel blocks each (100 bytes); nullopt when
// either is shorter.
std::optional<QList<TableDifference>> compareBlocks(const QByteArray &expected, const QByteArray &found);

// The table's texts as a download would send them, against the blocks read
// back; nullopt when a field of the table does not convert (*failedChannel
// says which) or found is short.
std::optional<QList<TableDifference>> compareTable(const ChannelTable &table, const QByteArray &found,
                                                   int *failedChannel = nullptr);

// A field's name in the language in effect: 下限, 上限, 小数位, 报警启动,
// 启动值1, 启动值2.
QString tableFieldName(TableField field);
// A difference's value as a person reads it: a formula code no name stands
// for says so, an upper limit outside 16 bits says that (or typed, a file's
// own text for it, when given).
QString shownDifferenceValue(const TableDifference &d, bool expected, const QString &typed = {});
// "3#  上限  1000 → 1200"
QString describeDifference(const TableDifference &d);

// [{"channel", "field", "expected", "found"}, ...]: numbers as JSON numbers,
// formula names as texts, an upper limit that cannot be shown as null.
QJsonArray differencesJson(const QList<TableDifference> &differences);

// SHA-256 of the ten channel blocks, lower-case hex: two devices holding the
// same table have the same hash.
QString blocksHash(const QByteArray &blocks);

}  // namespace vorn
