#include "channels/rtxfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

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
        if (why) *why = QStringLiteral("配置中含有双引号 \"，无法保存。");
        return std::nullopt;
    }
    QStringEncoder gbk("GBK");
    QByteArray bytes = gbk.encode(QLatin1Char('"') + rec + QLatin1Char('"'));
    if (gbk.hasError() || bytes.contains('\0')) {
        if (why) *why = QStringLiteral("配置中含有无法保存的字符。");
        return std::nullopt;
    }
    bytes += "\r\n";
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

// The first field of the file: blanks before it skipped; a quoted field runs
// to the next quote, an unquoted one to the first comma or line end (blanks at
// its end belong to it: the last field of a record may end in blanks).
static QByteArray firstField(const QByteArray &b)
{
    qsizetype i = 0;
    while (i < b.size() && (b[i] == ' ' || b[i] == '\t'))
        ++i;
    if (i < b.size() && b[i] == '"') {
        const qsizetype end = b.indexOf('"', i + 1);
        return end < 0 ? QByteArray() : b.mid(i + 1, end - i - 1);
    }
    qsizetype end = i;
    while (end < b.size() && b[end] != ',' && b[end] != '\r' && b[end] != '\n')
        ++end;
    return b.mid(i, end - i);
}

std::optional<ChannelTable> decodeRtx(const QByteArray &bytes)
{
    const QByteArray field = firstField(bytes);
    if (field.isEmpty() || field.contains('\0'))
        return std::nullopt;
    QStringDecoder gbk("GBK");
    const QString rec = gbk.decode(field);
    if (gbk.hasError() || rec.size() != kRtxRecordChars)
        return std::nullopt;
    ChannelTable t;
    for (int ch = 0; ch < kChannels; ++ch) {
        int pos = ch * kRtxChannelChars;
        QString f[6];
        for (int k = 0; k < 6; ++k) {
            QString s = rec.mid(pos, kRtxWidths[k]);
            while (s.endsWith(QLatin1Char(' ')))
                s.chop(1);
            f[k] = s;
            pos += kRtxWidths[k];
        }
        t[ch] = {f[0], f[1], f[2], f[3], f[4], f[5]};
    }
    return t;
}

RtxLoad loadRtxFile(const QString &path, ChannelTable *table, QString *why)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        if (why) *why = QStringLiteral("文件不存在：") + path;
        return RtxLoad::Missing;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (why) *why = f.errorString();
        return RtxLoad::Unreadable;
    }
    // Never read more than a record could need: a huge or endless file
    // (a device node, say) is refused after one bounded read.
    const QByteArray bytes = f.read(kRtxMaxFileBytes + 1);
    if (bytes.size() > kRtxMaxFileBytes) {
        if (why) *why = QStringLiteral("文件过大，不是配置文件。");
        return RtxLoad::TooLarge;
    }
    const auto t = decodeRtx(bytes);
    if (!t) {
        if (why) *why = QStringLiteral("文件内容不是有效的配置记录。");
        return RtxLoad::NotARecord;
    }
    if (table)
        *table = *t;
    return RtxLoad::Ok;
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
        if (why) *why = QStringLiteral("写入失败（磁盘已满或没有写入权限？）") + QLatin1Char(' ') + f.errorString();
        f.cancelWriting();
        return false;
    }
    if (!f.commit()) {
        if (why) *why = f.errorString();
        return false;
    }
    return true;
}

QString rtxDialogFilter()
{
    const QString vb = QString::fromUtf8(kRtxFilter);
    const QString desc = vb.section(QLatin1Char('|'), 0, 0);
    const QString pattern = vb.section(QLatin1Char('|'), 1, 1);
    if (desc.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')')))
        return desc;
    return desc + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

}  // namespace vorn
