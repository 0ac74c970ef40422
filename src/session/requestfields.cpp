#include "session/requestfields.h"

#include <QCoreApplication>

namespace vorn {

namespace {

// The captions are marked for translation where they are given.
std::nullopt_t refuse(QString *why, const QString &message)
{
    if (why)
        *why = message;
    return std::nullopt;
}

QString rangeError(const char *field)
{
    return QCoreApplication::translate("vorn::Requests", "“%1”无效：请输入 0 到 255 之间的数字。")
        .arg(QCoreApplication::translate("vorn::Requests", field));
}

// Start position and display port, the first two fields of both display
// requests.
std::optional<DisplayPlace> readPlace(const QString &start, const QString &port, QString *why)
{
    const auto s = readStrictByte(start);
    if (!s)
        return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "位置起点")));
    const auto p = readStrictByte(port);
    if (!p)
        return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示端口")));
    return DisplayPlace{quint8(*s), quint8(*p)};
}

}  // namespace

QString badDigitMessage(int index)
{
    return QCoreApplication::translate("vorn::Requests", "“显示数字”无效：第 %1 位不是数字 0 到 9。").arg(index + 1);
}

std::optional<NumberDisplay> readNumberDisplay(const QString &start, const QString &port, const QString &count,
                                               const QString &number, QString *why)
{
    const auto place = readPlace(start, port, why);
    if (!place)
        return std::nullopt;
    const auto n = readLeadingByte(count);
    if (!n)
        return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "数据位数")));
    // The number is filled with ten zeros once; more digits than that would
    // run past the text.
    if (*n > number.size() + 10)
        return refuse(why, QCoreApplication::translate("vorn::Requests", "“数据位数”过大：最多为显示数字的位数加 10（%1）。")
                               .arg(number.size() + 10));
    NumberDisplay r{*place, {}};
    r.digits.reserve(*n);
    for (int i = 0; i < *n; ++i) {
        const QChar c = i < number.size() ? number.at(i) : QChar(u'0');
        if (c < u'0' || c > u'9')
            return refuse(why, badDigitMessage(i));
        r.digits += char(c.unicode() - u'0');
    }
    return r;
}

std::optional<CodeDisplay> readCodeDisplay(const QString &start, const QString &port, const QString &code0,
                                           const QString &code1, QString *why)
{
    const auto place = readPlace(start, port, why);
    if (!place)
        return std::nullopt;
    const auto c0 = readStrictByte(code0);
    if (!c0)
        return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示编码 第1个编码")));
    const auto c1 = readStrictByte(code1);
    if (!c1)
        return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示编码 第2个编码")));
    return CodeDisplay{*place, quint8(*c0), quint8(*c1)};
}

std::optional<quint8> readDigitCount(const QString &text, QString *why)
{
    const auto n = readStrictByte(text);
    if (!n)
        return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示位数")));
    return quint8(*n);
}

}  // namespace vorn
