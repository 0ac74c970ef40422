#include "protocol/describe.h"

#include "protocol/channeltable.h"
#include "protocol/frame.h"
#include "protocol/record.h"
#include "protocol/splitter.h"

#include <QCoreApplication>

#include <algorithm>

namespace vorn {

namespace {

int byteAt(const QByteArray &b, int i) { return i < b.size() ? int(static_cast<quint8>(b[i])) : -1; }

// The meanings are in the context "vorn::Line", with the reasons replies and
// records are dropped for.
QString modeName(int mode, const char *target, const char *raw, const char *off)
{
    switch (mode) {
    case 0: return QCoreApplication::translate("vorn::Line", target);
    case 1: return QCoreApplication::translate("vorn::Line", raw);
    case 2: return QCoreApplication::translate("vorn::Line", off);
    default: return QCoreApplication::translate("vorn::Line", "方式 %1").arg(mode);
    }
}

}  // namespace

QString describeCommand(const QByteArray &f)
{
    if (!checkFrame(f, FrameLayout::Command).isFrame())
        return QCoreApplication::translate("vorn::Line", "不完整的命令帧");
    const int n = int(f.size());
    const int address = byteAt(f, 3);
    const QByteArray p = f.mid(6, n - 8);
    const auto at = [&](int i) { return byteAt(p, i); };
    const auto signedAt = [&](int i) { return decodeSignMagnitude(quint8(at(i)), quint8(at(i + 1))); };
    QString what;
    switch (quint8(byteAt(f, 5))) {
    case cmd::Discover:
        what = QCoreApplication::translate("vorn::Line", "连接测试");
        break;
    case cmd::SetNumber:
        what = QCoreApplication::translate("vorn::Line", "修改编号为 %1，显示位数 %2").arg(at(0)).arg(at(1));
        break;
    case cmd::Download:
        what = QCoreApplication::translate("vorn::Line", "下载配置（%1 个通道）").arg(p.size() / kBlockSize);
        break;
    case cmd::ReadBack:
        what = QCoreApplication::translate("vorn::Line", "回读配置");
        break;
    case cmd::Feedback:
        what = modeName(at(0), QT_TRANSLATE_NOOP("vorn::Line", "反馈目标值"),
                        QT_TRANSLATE_NOOP("vorn::Line", "反馈原始值"), QT_TRANSLATE_NOOP("vorn::Line", "关闭反馈"));
        break;
    case cmd::DisplayMode:
        what = modeName(at(0), QT_TRANSLATE_NOOP("vorn::Line", "显示目标值"),
                        QT_TRANSLATE_NOOP("vorn::Line", "显示原始值"), QT_TRANSLATE_NOOP("vorn::Line", "关闭显示"));
        break;
    case cmd::ShowNumber: {
        QString digits;
        for (int i = 2; i < p.size(); ++i)
            digits += QString::number(at(i));
        what = QCoreApplication::translate("vorn::Line", "显示数字 %1（位置 %2，端口 %3）")
                   .arg(digits).arg(at(0)).arg(at(1));
        break;
    }
    case cmd::ShowCode:
        what = QCoreApplication::translate("vorn::Line", "显示编码 %1 %2（位置 %3，端口 %4）")
                   .arg(at(2)).arg(at(3)).arg(at(0)).arg(at(1));
        break;
    case cmd::SmartSet:
        what = QCoreApplication::translate("vorn::Line", "智能设置 %1#：增益 %2，偏移 %3")
                   .arg(at(0)).arg(at(3) * 256 + at(4)).arg(signedAt(1));
        break;
    case cmd::Power:
        what = at(0) == 1 ? QCoreApplication::translate("vorn::Line", "开机")
                          : QCoreApplication::translate("vorn::Line", "关机");
        break;
    case cmd::Clock:
        what = QCoreApplication::translate("vorn::Line", "同步时间 %1-%2-%3 %4:%5:%6")
                   .arg(at(0), 2, 10, QLatin1Char('0')).arg(at(1), 2, 10, QLatin1Char('0'))
                   .arg(at(2), 2, 10, QLatin1Char('0')).arg(at(3), 2, 10, QLatin1Char('0'))
                   .arg(at(4), 2, 10, QLatin1Char('0')).arg(at(5), 2, 10, QLatin1Char('0'));
        break;
    default:
        what = QCoreApplication::translate("vorn::Line", "命令代码 0x%1")
                   .arg(QString::number(byteAt(f, 5), 16).rightJustified(2, QLatin1Char('0')).toUpper());
        break;
    }
    return QStringLiteral("%1 → %2").arg(what).arg(address);
}

QString describeReply(const ReplyVerdict &verdict)
{
    return std::visit(
        Overloaded{
            [&](std::monostate) {
                return QCoreApplication::translate("vorn::Line", "丢弃：%1").arg(verdict.reason);
            },
            [](const DiscoveryReply &d) {
                return QCoreApplication::translate("vorn::Line", "找到设备 %1，显示位数 %2").arg(d.number).arg(d.digits);
            },
            [](const ReadBackReply &) {
                return QCoreApplication::translate("vorn::Line", "回读配置（%1 个通道）").arg(kChannels);
            },
            [](const RawValuesReply &r) {
                QStringList values;
                for (int v : r.values)
                    values.append(QString::number(v));
                return QCoreApplication::translate("vorn::Line", "原始值 %1").arg(values.join(QLatin1Char(' ')));
            },
        },
        verdict.content);
}

QString describeRecord(const QByteArray &bytes, bool taken, const QString &why)
{
    if (!taken)
        return QCoreApplication::translate("vorn::Line", "丢弃记录：%1").arg(why);
    const auto text = parseFeedbackRecord(bytes, int(bytes.size()));
    QString fields = text.value_or(QString());
    fields.replace(QLatin1String("\r\n"), QLatin1String(" "));
    return QCoreApplication::translate("vorn::Line", "目标值 %1").arg(fields);
}

QString escapeControls(const QString &text)
{
    // C0, DEL and C1 controls, and the line and paragraph separators.
    const auto needs = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029;
    };
    if (std::none_of(text.begin(), text.end(), needs))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!needs(c)) {
            out += c;
            continue;
        }
        switch (c.unicode()) {
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default: {
            const bool narrow = c.unicode() <= 0xFF;
            out += (narrow ? QLatin1String("\\x") : QLatin1String("\\u"))
                   + QString::number(c.unicode(), 16).toUpper().rightJustified(narrow ? 2 : 4, QLatin1Char('0'));
        }
        }
    }
    return out;
}

}  // namespace vorn
