#include "link/describe.h"

#include "channels/channeltable.h"
#include "link/frame.h"
#include "link/record.h"

namespace vorn {

namespace {

int byteAt(const QByteArray &b, int i) { return i < b.size() ? int(static_cast<quint8>(b[i])) : -1; }

QString modeName(int mode, const char *target, const char *raw, const char *off)
{
    switch (mode) {
    case 0: return QString::fromUtf8(target);
    case 1: return QString::fromUtf8(raw);
    case 2: return QString::fromUtf8(off);
    default: return QStringLiteral("方式 %1").arg(mode);
    }
}

}  // namespace

QString describeCommand(const QByteArray &f)
{
    if (!isValidCommand(f))
        return QStringLiteral("不完整的命令帧");
    const int n = int(f.size());
    const int address = byteAt(f, 3);
    const QByteArray p = f.mid(6, n - 8);
    const auto at = [&](int i) { return byteAt(p, i); };
    const auto signedAt = [&](int i) { return decodeSignMagnitude(quint8(at(i)), quint8(at(i + 1))); };
    QString what;
    switch (quint8(byteAt(f, 5))) {
    case cmd::Discover:
        what = QStringLiteral("连接测试");
        break;
    case cmd::SetNumber:
        what = QStringLiteral("修改编号为 %1，显示位数 %2").arg(at(0)).arg(at(1));
        break;
    case cmd::Download:
        what = QStringLiteral("下载配置（%1 个通道）").arg(p.size() / kBlockSize);
        break;
    case cmd::ReadBack:
        what = QStringLiteral("回读配置");
        break;
    case cmd::Feedback:
        what = modeName(at(0), "反馈目标值", "反馈原始值", "关闭反馈");
        break;
    case cmd::DisplayMode:
        what = modeName(at(0), "显示目标值", "显示原始值", "关闭显示");
        break;
    case cmd::ShowNumber: {
        QString digits;
        for (int i = 2; i < p.size(); ++i)
            digits += QString::number(at(i));
        what = QStringLiteral("显示数字 %1（位置 %2，端口 %3）").arg(digits).arg(at(0)).arg(at(1));
        break;
    }
    case cmd::ShowCode:
        what = QStringLiteral("显示编码 %1 %2（位置 %3，端口 %4）").arg(at(2)).arg(at(3)).arg(at(0)).arg(at(1));
        break;
    case cmd::SmartSet:
        what = QStringLiteral("智能设置 %1#：增益 %2，偏移 %3")
                   .arg(at(0)).arg(at(3) * 256 + at(4)).arg(signedAt(1));
        break;
    case cmd::Power:
        what = at(0) == 1 ? QStringLiteral("开机") : QStringLiteral("关机");
        break;
    case cmd::Clock:
        what = QStringLiteral("同步时间 %1-%2-%3 %4:%5:%6")
                   .arg(at(0), 2, 10, QLatin1Char('0')).arg(at(1), 2, 10, QLatin1Char('0'))
                   .arg(at(2), 2, 10, QLatin1Char('0')).arg(at(3), 2, 10, QLatin1Char('0'))
                   .arg(at(4), 2, 10, QLatin1Char('0')).arg(at(5), 2, 10, QLatin1Char('0'));
        break;
    default:
        what = QStringLiteral("命令代码 0x%1").arg(QString::number(byteAt(f, 5), 16).rightJustified(2, QLatin1Char('0')).toUpper());
        break;
    }
    return QStringLiteral("%1 → %2").arg(what).arg(address);
}

QString describeReply(const QByteArray &bytes, const ReplyVerdict &verdict)
{
    switch (verdict.outcome) {
    case ReceiveOutcome::Discovery: {
        const Discovery d = decodeDiscovery(bytes);
        return QStringLiteral("找到设备 %1，显示位数 %2").arg(d.number).arg(d.digits);
    }
    case ReceiveOutcome::ReadBack:
        return QStringLiteral("回读配置（%1 个通道）").arg(kChannels);
    case ReceiveOutcome::RawValues: {
        QStringList values;
        for (int v : decodeRawValues(bytes))
            values.append(QString::number(v));
        return QStringLiteral("原始值 ") + values.join(QLatin1Char(' '));
    }
    default:
        return QStringLiteral("丢弃：") + verdict.reason;
    }
}

QString describeRecord(const QByteArray &bytes, bool taken, const QString &why)
{
    if (!taken)
        return QStringLiteral("丢弃记录：") + why;
    const auto text = parseFeedbackRecord(bytes, int(bytes.size()));
    QString fields = text.value_or(QString());
    fields.replace(QLatin1String("\r\n"), QLatin1String(" "));
    return QStringLiteral("目标值 ") + fields;
}

}  // namespace vorn
