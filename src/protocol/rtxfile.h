#pragma once
// Configuration files (*.RTX): the sixty texts of the channel table in one
// quoted fixed-width record, GBK, followed by CR LF.
//
//   "<ch0><ch1>...<ch9>"\r\n     each channel 26 characters:
//   lower 5 | upper 5 | decimal places 1 | formula 5 | start 1 5 | start 2 5
//
// Fields are the texts as typed, left-aligned, filled with blanks and cut to
// their width. Widths count characters, not bytes (a Chinese character takes
// two bytes in GBK).

#include "protocol/channeltable.h"

#include <QString>
#include <functional>
#include <optional>

namespace vorn {

inline constexpr int kRtxRecordChars = 260;
inline constexpr int kRtxChannelChars = 26;
// Only the first field of a file counts, and a valid one is a few hundred
// bytes: loading reads this much of a file (and one byte more, to know whether
// a field that reaches the end of it ends there).
inline constexpr qint64 kRtxReadBytes = 64 * 1024;
// The dialogs' filter, description then pattern.
inline constexpr char kRtxFilter[] = "配置文件(*.RTX)|*.RTX";

// Field widths in the order of the record.
inline constexpr int kRtxWidths[6] = {5, 5, 1, 5, 5, 5};

// The 260-character record (without quotes).
QString rtxRecord(const ChannelTable &table);
// The whole file, GBK. nullopt (and *why) when a text holds a character GBK
// cannot store or a double quote, which would not load back, or when there is
// no GBK converter.
std::optional<QByteArray> encodeRtx(const ChannelTable &table, QString *why = nullptr);
// Texts that saving would cut, as "channel: text" lines; empty when none.
QStringList rtxCutTexts(const ChannelTable &table);

// The table in a file's bytes, or nullopt (and *why) when its first field is
// not a 260-character GBK record or there is no GBK converter.
std::optional<ChannelTable> decodeRtx(const QByteArray &bytes, QString *why = nullptr);

// Reading and writing files. Loading reads the first kRtxReadBytes of the
// file only, once; the table is touched only on Ok. Saving replaces the old
// file only once the new one is whole on disk.
enum class RtxLoad { Ok, Missing, Unreadable, NotARecord, NoConverter };
RtxLoad loadRtxFile(const QString &path, ChannelTable *table, QString *why = nullptr);
bool saveRtxFile(const QString &path, const QByteArray &bytes, QString *why = nullptr);

// Saving a table, as the window and rt8ctl do it: the table is encoded
// first; texts that would be cut are put to acceptCut (false: nothing is
// written); then path() names the file ("": nothing is written) and the file
// is written whole or not at all. *why holds the reason for NotStorable and
// NotWritten.
enum class RtxSave { Saved, NotStorable, CutRefused, NoPath, NotWritten };
RtxSave saveTableToRtx(const ChannelTable &table, const std::function<bool(const QStringList &cut)> &acceptCut,
                       const std::function<QString()> &path, QString *why = nullptr);

// Qt's filter text for kRtxFilter.
QString rtxDialogFilter();

}  // namespace vorn
