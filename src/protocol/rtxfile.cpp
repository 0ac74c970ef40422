#include "protocol/rtxfile.h"

#include "protocol/gbk.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace vorn {

static QStringList fieldsOf(const ChannelTexts &r)
{
    return {r.lower, r.upper, r.dot, r.formula, r.start1, r.start2};
}

QString rtxRecord(const ChannelTable &table)
{
    QString rec;
    rec.reserve(kRtxRecordChars);
    for (const ChannelTexts &row : table) {
        const QStringList f = fieldsOf(row);
        for (int k = 0; k < 6; ++k)
            rec += f[k].left(kRtxWidths[k]).leftJustified(kRtxWidths[k], QLatin1Char(' '));
    }
    return rec;
}

std::optional<QByteArray> encodeRtx(const ChannelTable &table, QString *why)
{
    const QString rec = rtxRecord(table);
    if (rec.contains(QLatin1Char('"'))) {
        if (why) *why = QCoreApplication::translate("vorn::RtxFile", "配置中含有双引号 \"，无法保存。");
        return std::nullopt;
    }
    QString reason;
    auto bytes = toGbk(QLatin1Char('"') + rec + QLatin1Char('"'), &reason);
    if (!bytes) {
        if (why)
            *why = gbkConverter() == GbkConverter::Missing
                       ? reason
                       : QCoreApplication::translate("vorn::RtxFile", "配置中含有无法保存的字符。") + QLatin1Char('\n')
                             + reason;
        return std::nullopt;
    }
    if (bytes->contains('\0')) {
        if (why) *why = QCoreApplication::translate("vorn::RtxFile", "配置中含有无法保存的字符。");
        return std::nullopt;
    }
    *bytes += "\r\n";
    return bytes;
}

QStringList rtxCutTexts(const ChannelTable &table)
{
    QStringList out;
    for (int ch = 0; ch < kChannels; ++ch) {
        const QStringList f = fieldsOf(table[ch]);
        for (int k = 0; k < 6; ++k)
            if (f[k].size() > kRtxWidths[k])
                out.append(QStringLiteral("%1#: %2 → %3").arg(ch).arg(f[k], f[k].left(kRtxWidths[k])));
    }
    return out;
}

// The first field of a file: blanks before it skipped; a quoted field runs to
// the next quote, an unquoted one to the first comma or line end (blanks at
// its end belong to it: the last field of a record may end in blanks).
// nullopt when the field does not end within the bytes; when they are only
// the start of the file (!whole), one that runs to their end may go on after
// them.
static std::optional<QByteArray> firstField(const QByteArray &b, bool whole)
{
    qsizetype i = 0;
    while (i < b.size() && (b[i] == ' ' || b[i] == '\t'))
        ++i;
    if (i < b.size() && b[i] == '"') {
        const qsizetype end = b.indexOf('"', i + 1);
        if (end < 0)
            return std::nullopt;
        return b.mid(i + 1, end - i - 1);
    }
    qsizetype end = i;
    while (end < b.size() && b[end] != ',' && b[end] != '\r' && b[end] != '\n')
        ++end;
    if (end == b.size() && !whole)
        return std::nullopt;
    return b.mid(i, end - i);
}

static RtxLoad decode(const QByteArray &bytes, bool whole, ChannelTable *table, QString *why)
{
    const auto field = firstField(bytes, whole);
    if (!field) {
        if (why) *why = QCoreApplication::translate("vorn::RtxFile", "文件开头没有完整的配置记录。");
        return RtxLoad::NotARecord;
    }
    if (field->contains('\0')) {
        if (why) *why = QCoreApplication::translate("vorn::RtxFile", "配置记录中含有空字符。");
        return RtxLoad::NotARecord;
    }
    QString reason;
    const auto rec = fromGbk(*field, &reason);
    if (!rec) {
        if (why) *why = reason;
        return gbkConverter() == GbkConverter::Missing ? RtxLoad::NoConverter : RtxLoad::NotARecord;
    }
    if (rec->size() != kRtxRecordChars) {
        if (why)
            *why = QCoreApplication::translate("vorn::RtxFile", "配置记录应为 %1 个字符，文件中为 %2 个。")
                       .arg(kRtxRecordChars).arg(rec->size());
        return RtxLoad::NotARecord;
    }
    ChannelTable t;
    for (int ch = 0; ch < kChannels; ++ch) {
        int pos = ch * kRtxChannelChars;
        QString f[6];
        for (int k = 0; k < 6; ++k) {
            QString s = rec->mid(pos, kRtxWidths[k]);
            while (s.endsWith(QLatin1Char(' ')))
                s.chop(1);
            f[k] = s;
            pos += kRtxWidths[k];
        }
        t[ch] = {f[0], f[1], f[2], f[3], f[4], f[5]};
    }
    if (table)
        *table = t;
    return RtxLoad::Ok;
}

std::optional<ChannelTable> decodeRtx(const QByteArray &bytes, QString *why)
{
    ChannelTable t;
    if (decode(bytes, true, &t, why) != RtxLoad::Ok)
        return std::nullopt;
    return t;
}

RtxLoad loadRtxFile(const QString &path, ChannelTable *table, QString *why)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        if (why) *why = QCoreApplication::translate("vorn::RtxFile", "这是一个文件夹，不是配置文件：%1").arg(path);
        return RtxLoad::Missing;
    }
    if (!info.exists()) {
        if (why) *why = QCoreApplication::translate("vorn::RtxFile", "文件不存在：%1").arg(path);
        return RtxLoad::Missing;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (why) *why = f.errorString();
        return RtxLoad::Unreadable;
    }
    // One bounded read, whatever the file is (a huge file, a device node that
    // never ends): the record is at its start and nothing after it counts.
    const QByteArray bytes = f.read(kRtxReadBytes + 1);
    if (f.error() != QFileDevice::NoError) {
        if (why) *why = f.errorString();
        return RtxLoad::Unreadable;
    }
    const bool whole = bytes.size() <= kRtxReadBytes;
    QString reason;
    const RtxLoad result = decode(bytes, whole, table, &reason);
    if (why) {
        if (result == RtxLoad::NotARecord)
            *why = QCoreApplication::translate("vorn::RtxFile", "文件内容不是有效的配置记录。") + QLatin1Char('\n')
                   + reason;
        else if (result != RtxLoad::Ok)
            *why = reason;
    }
    return result;
}

bool saveRtxFile(const QString &path, const QByteArray &bytes, QString *why)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (why) *why = f.errorString();
        return false;
    }
    // QSaveFile::commit() drops errors of its final flush (a short write on a
    // full disk) and would then replace the old file with the cut one.
    if (f.write(bytes) != bytes.size() || !f.flush()) {
        if (why)
            *why = QCoreApplication::translate("vorn::RtxFile", "写入失败（磁盘已满或没有写入权限？）") + QLatin1Char(' ')
                   + f.errorString();
        f.cancelWriting();
        return false;
    }
    if (!f.commit()) {
        if (why) *why = f.errorString();
        return false;
    }
    return true;
}

RtxSave saveTableToRtx(const ChannelTable &table, const std::function<bool(const QStringList &cut)> &acceptCut,
                       const std::function<QString()> &path, QString *why)
{
    const auto bytes = encodeRtx(table, why);
    if (!bytes)
        return RtxSave::NotStorable;
    const QStringList cut = rtxCutTexts(table);
    if (!cut.isEmpty() && !acceptCut(cut))
        return RtxSave::CutRefused;
    const QString file = path();
    if (file.isEmpty())
        return RtxSave::NoPath;
    return saveRtxFile(file, *bytes, why) ? RtxSave::Saved : RtxSave::NotWritten;
}

QString rtxDialogFilter()
{
    // kRtxFilter's description in the language in effect, with its pattern:
    // "配置文件(*.RTX)".
    const QString pattern = QString::fromUtf8(kRtxFilter).section(QLatin1Char('|'), 1, 1);
    return QCoreApplication::translate("vorn::RtxFile", "配置文件(%1)", "file dialog filter").arg(pattern);
}

}  // namespace vorn
