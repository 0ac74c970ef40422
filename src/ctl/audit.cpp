// rt8ctl audit: the table of a .RTX file against what one device or every
// device on the line holds, and --save-found.

#include "ctl/controller.h"
#include "ctl/output.h"
#include "protocol/frame.h"
#include "protocol/rtxfile.h"
#include "protocol/tablecompare.h"

#include <QDir>
#include <QJsonObject>

namespace vorn::ctl {

int Controller::audit()
{
    const QString path = m_inv.words.first();
    ChannelTable table;
    if (!loadTable(path, &table))
        return ExitFile;
    // What a download of the file would leave in the device.
    int failed = -1;
    const auto expected = encodeTable(table, &failed);
    if (!expected) {
        printErr(tr("配置文件 %1 中 %2# 的参数无法转换，没有发送。").arg(path).arg(failed));
        return ExitFile;
    }
    if (!m_inv.saveFound.isEmpty() && !QDir().mkpath(m_inv.saveFound)) {
        printErr(tr("无法建立文件夹 %1，没有发送。").arg(m_inv.saveFound));
        return ExitFile;
    }

    // The devices: the one asked for, or every one that answers.
    QList<Found> devices;
    if (m_inv.scan) {
        const int testMs = m_inv.timeoutMs > 0 ? m_inv.timeoutMs : kDefaultScanTimeoutMs;
        for (int n = m_inv.from; n <= m_inv.to; ++n) {
            Found f{};
            const int rc = connectionTest(quint8(n), testMs, &f);
            if (rc == ExitNoReply)
                continue;
            if (rc != ExitOk)
                return rc;
            devices.append(f);
        }
        if (devices.isEmpty()) {
            printErr(tr("%1 到 %2 号都没有应答（每个号等 %3 ms）。").arg(m_inv.from).arg(m_inv.to).arg(testMs));
            return ExitNoReply;
        }
    } else {
        Found f{};
        const int rc = connectionTest(m_inv.address, m_inv.timeout(), &f);
        if (rc == ExitNoReply)
            return noReply(tr("测试连接"));
        if (rc != ExitOk)
            return rc;
        devices.append(f);
    }

    // The worst outcome decides the exit code: a device that differs, then
    // one that could not be read back or saved.
    const auto rank = [](int code) {
        switch (code) {
        case ExitOk: return 0;
        case ExitDiffers: return 1;
        case ExitNoReply: return 2;
        case ExitFile: return 3;
        default: return 4;
        }
    };
    int worst = ExitOk;
    int same = 0, differ = 0, unread = 0;
    for (const Found &f : devices) {
        // With 255 the device that answered is read back by its own number.
        const int number = m_inv.address == kBroadcast || m_inv.scan ? f.number : m_inv.address;
        int rc = readBack(number);
        if (rc == ExitPort)
            return rc;
        QJsonObject o{{QStringLiteral("address"), f.number}, {QStringLiteral("digits"), f.digits}};
        const auto compared = rc == ExitOk ? compareBlocks(*expected, m_blocks) : std::nullopt;
        if (rc == ExitOk && !compared)
            rc = ExitNoReply;   // a read-back that is no whole table
        if (rc != ExitOk) {
            ++unread;
            o.insert(QStringLiteral("equal"), QJsonValue::Null);
            o.insert(QStringLiteral("error"), tr("回读没有应答"));
            if (m_inv.json)
                printOut(jsonLine(o));
            else
                printOut(tr("%1 号（显示位数 %2）：回读没有应答\n").arg(f.number).arg(f.digits));
            worst = rank(rc) > rank(worst) ? rc : worst;
            continue;
        }
        const QList<TableDifference> &diffs = *compared;
        rc = diffs.isEmpty() ? ExitOk : ExitDiffers;
        diffs.isEmpty() ? ++same : ++differ;
        if (m_inv.json) {
            o.insert(QStringLiteral("equal"), diffs.isEmpty());
            o.insert(QStringLiteral("differences"), differencesJson(diffs));
            printOut(jsonLine(o));
        } else {
            QString text = diffs.isEmpty()
                               ? tr("%1 号（显示位数 %2）：与文件相同\n").arg(f.number).arg(f.digits)
                               : tr("%1 号（显示位数 %2）：与文件有 %n 处不同\n", nullptr, int(diffs.size()))
                                     .arg(f.number).arg(f.digits);
            QList<QStringList> rows;
            for (const TableDifference &d : diffs)
                rows.append({QStringLiteral("  %1#").arg(d.channel), tableFieldName(d.field),
                             shownDifferenceValue(d, true, table[d.channel].upper.trimmed()) + QStringLiteral(" → ")
                                 + shownDifferenceValue(d, false)});
            printOut(text + (rows.isEmpty() ? QString() : aligned(rows)));
        }
        if (!m_inv.saveFound.isEmpty()) {
            const int saved = saveFound(f.number);
            rc = rank(saved) > rank(rc) ? saved : rc;
        }
        worst = rank(rc) > rank(worst) ? rc : worst;
        if (cli::standardOutput().failed())
            return ExitFile;
    }
    if (m_inv.scan && !m_inv.json)
        printOut(tr("%n 台设备应答：", nullptr, int(devices.size()))
                 + tr("%1 台与文件相同，%2 台不同，%3 台没能回读。\n").arg(same).arg(differ).arg(unread));
    return worst;
}

int Controller::saveFound(int number)
{
    const QString path = QDir(m_inv.saveFound).filePath(QStringLiteral("%1.RTX").arg(number));
    ChannelTable found;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (!(*m_rows)[ch].upperValid) {
            printErr(tr("%1 号 %2# 的上限（下限加量程）超出 -32768 到 32767，无法写成文本；没有写 %3。")
                         .arg(number).arg(ch).arg(path));
            return ExitFile;
        }
        found[ch] = (*m_rows)[ch].texts;
    }
    QString why;
    const auto noCut = [&](const QStringList &cut) {
        printErr(tr("%1 号的部分参数超过文件中的字段宽度，没有写 %2。").arg(number).arg(path) + QLatin1Char('\n')
                 + cut.join(QLatin1Char('\n')));
        return false;
    };
    switch (saveTableToRtx(found, noCut, [&] { return path; }, &why)) {
    case RtxSave::Saved:
        return ExitOk;
    case RtxSave::CutRefused:
    case RtxSave::NoPath:
        return ExitFile;
    case RtxSave::NotStorable:
    case RtxSave::NotWritten:
        break;
    }
    printErr(tr("配置文件保存失败。\n%1\n%2").arg(path, why));
    return ExitFile;
}

}  // namespace vorn::ctl
