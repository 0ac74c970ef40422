// rt8ctl's commands on the channel table: read it back (read), download a
// .RTX file and check what the device took (write --verify).

#include "ctl/controller.h"
#include "ctl/output.h"
#include "ctl/verify.h"
#include "protocol/rtxfile.h"

#include <QJsonObject>

namespace vorn::ctl {

int Controller::readBack(int number)
{
    m_rows.reset();
    m_dropped.clear();
    m_session->setLedId(number < 0 ? m_inv.address : quint8(number));
    if (!m_session->readBack())
        return refusal(false);
    if (!waitUntil([this] { return m_rows.has_value(); }, m_inv.timeout()))
        return noReply(tr("回读配置"));
    return ExitOk;
}

int Controller::read()
{
    if (const int rc = readBack(); rc != ExitOk)
        return rc;
    const auto &rows = *m_rows;
    const QString path = m_inv.words.first();
    QStringList unshown;
    for (int ch = 0; ch < kChannels; ++ch)
        if (!rows[ch].upperValid)
            unshown.append(QStringLiteral("%1#").arg(ch));

    if (path == QLatin1String("-")) {
        if (m_inv.json) {
            for (int ch = 0; ch < kChannels; ++ch) {
                const ChannelTexts &t = rows[ch].texts;
                QJsonObject o{{QStringLiteral("channel"), ch},
                              {QStringLiteral("lower"), t.lower.toInt()},
                              {QStringLiteral("decimals"), t.dot.toInt()},
                              {QStringLiteral("formula"), t.formula},
                              {QStringLiteral("start1"), t.start1.toInt()},
                              {QStringLiteral("start2"), t.start2.toInt()}};
                o.insert(QStringLiteral("upper"), rows[ch].upperValid ? QJsonValue(t.upper.toInt()) : QJsonValue());
                printOut(jsonLine(o));
            }
        } else {
            QList<QStringList> table{{tr("通道"), tr("下限"), tr("上限"), tr("小数位"), tr("报警启动"),
                                      tr("启动值1"), tr("启动值2")}};
            for (int ch = 0; ch < kChannels; ++ch) {
                const ChannelTexts &t = rows[ch].texts;
                table.append({QStringLiteral("%1#").arg(ch), t.lower, rows[ch].upperValid ? t.upper : QStringLiteral("?"),
                              t.dot, t.formula, t.start1, t.start2});
            }
            printOut(aligned(table));
        }
        if (!unshown.isEmpty())
            printErr(tr("%1 通道的上限（下限加量程）超出 -32768 到 32767，无法显示。")
                         .arg(unshown.join(tr("、"))));
        return ExitOk;
    }

    // The file: what the window's "保存配置" writes for the same table.
    if (!unshown.isEmpty()) {
        printErr(tr("%1 通道的上限（下限加量程）超出 -32768 到 32767，无法写成文本；没有写文件。")
                     .arg(unshown.join(tr("、"))));
        return ExitFile;
    }
    ChannelTable table;
    for (int ch = 0; ch < kChannels; ++ch)
        table[ch] = rows[ch].texts;
    QString why;
    const auto cutAllowed = [this](const QStringList &cut) {
        if (!m_inv.allowCut) {
            printErr(tr("部分参数超过文件中的字段宽度，保存时将被截断；没有写文件"
                        "（--allow-cut 照样保存）。")
                     + QLatin1Char('\n') + cut.join(QLatin1Char('\n')));
            return false;
        }
        printErr(tr("部分参数超过文件中的字段宽度，已截断保存：") + QLatin1Char('\n') + cut.join(QLatin1Char('\n')));
        return true;
    };
    switch (saveTableToRtx(table, cutAllowed, [&] { return path; }, &why)) {
    case RtxSave::Saved:
        return ExitOk;
    case RtxSave::NotStorable:
        printErr(tr("配置文件保存失败，没有写文件。") + QLatin1Char('\n') + why);
        return ExitFile;
    case RtxSave::CutRefused:
    case RtxSave::NoPath:
        return ExitFile;
    case RtxSave::NotWritten:
        break;
    }
    printErr(tr("配置文件保存失败，原文件未改动。\n%1\n%2").arg(path, why));
    return ExitFile;
}

bool Controller::loadTable(const QString &path, ChannelTable *table)
{
    QString why;
    if (loadRtxFile(path, table, &why) == RtxLoad::Ok)
        return true;
    printErr(tr("无法读取配置文件，没有发送。\n%1\n%2").arg(path, why));
    return false;
}

int Controller::write()
{
    const QString path = m_inv.words.first();
    ChannelTable table;
    if (!loadTable(path, &table))
        return ExitFile;
    // A field that does not convert refuses the download: nothing is sent.
    const bool convertible = encodeTable(table).has_value();
    m_session->setLedId(m_inv.address);
    if (!m_session->download(table))
        return refusal(!convertible);
    if (!m_inv.verify)
        return sent();

    if (const int rc = readBack(); rc != ExitOk)
        return rc;
    const QList<FieldDifference> diffs = compareWithDevice(table, m_blocks);
    for (const FieldDifference &d : diffs)
        printOut(describe(d) + QLatin1Char('\n'));
    if (!diffs.isEmpty()) {
        printErr(tr("核对不一致：设备中有 %n 处与文件不同。", nullptr, int(diffs.size())));
        return ExitDiffers;
    }
    printErr(tr("已下载，核对一致。"));
    return ExitOk;
}

}  // namespace vorn::ctl
