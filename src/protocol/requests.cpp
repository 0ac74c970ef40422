#include "protocol/requests.h"

#include "protocol/channeltable.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace vorn {

static std::optional<int> toByte(double v)
{
    const auto r = roundToInt32(v);
    if (!r || *r < 0 || *r > 255)
        return std::nullopt;
    return *r;
}

std::optional<int> readStrictByte(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)\\s*$"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return toByte(v);
}

std::optional<int> readLeadingByte(const QString &text)
{
    const auto v = numericValue(text);
    if (!v)
        return std::nullopt;
    return toByte(*v);
}

// A refusal names the field it could not read by the field's caption; the
// captions are marked for translation where they are given.
static std::nullopt_t refuse(QString *why, const QString &message)
{
    if (why)
        *why = message;
    return std::nullopt;
}

static QString rangeError(const char *field)
{
    return QCoreApplication::translate("vorn::Requests", "“%1”无效：请输入 0 到 255 之间的数字。")
        .arg(QCoreApplication::translate("vorn::Requests", field));
}

std::optional<QByteArray> showNumberPayload(const QString &start, const QString &port, const QString &count,
                                            const QString &number, QString *why)
{
    const auto s = readStrictByte(start);
    if (!s) return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "位置起点")));
    const auto p = readStrictByte(port);
    if (!p) return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示端口")));
    const auto n = readLeadingByte(count);
    if (!n) return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "数据位数")));
    // The number is filled with ten zeros once; more digits than that would
    // run past the text.
    if (*n > number.size() + 10)
        return refuse(why, QCoreApplication::translate("vorn::Requests", "“数据位数”过大：最多为显示数字的位数加 10（%1）。")
                        .arg(number.size() + 10));
    QString digits = number;
    if (digits.size() < *n)
        digits += QStringLiteral("0000000000");
    QByteArray b;
    b += char(*s);
    b += char(*p);
    for (int i = 0; i < *n; ++i) {
        const QChar c = digits.at(i);
        if (c < u'0' || c > u'9')
            return refuse(why, QCoreApplication::translate("vorn::Requests", "“显示数字”无效：第 %1 位不是数字 0 到 9。")
                            .arg(i + 1));
        b += char(c.unicode() - u'0');
    }
    return b;
}

std::optional<QByteArray> showCodePayload(const QString &start, const QString &port, const QString &code0,
                                          const QString &code1, QString *why)
{
    const auto s = readStrictByte(start);
    if (!s) return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "位置起点")));
    const auto p = readStrictByte(port);
    if (!p) return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示端口")));
    const auto c0 = readStrictByte(code0);
    if (!c0) return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示编码 第1个编码")));
    const auto c1 = readStrictByte(code1);
    if (!c1) return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示编码 第2个编码")));
    QByteArray b;
    b += char(*s);
    b += char(*p);
    b += char(*c0);
    b += char(*c1);
    return b;
}

QByteArray clockPayload(const QDateTime &t)
{
    const QDate d = t.date();
    const QTime tm = t.time();
    QByteArray b;
    b += char(d.year() % 100);
    b += char(d.month());
    b += char(d.day());
    b += char(tm.hour());
    b += char(tm.minute());
    b += char(tm.second());
    return b;
}

std::optional<QByteArray> changeNumberPayload(quint8 ledId, const QString &digitCount, QString *why)
{
    const auto n = readStrictByte(digitCount);
    if (!n)
        return refuse(why, rangeError(QT_TRANSLATE_NOOP("vorn::Requests", "显示位数")));
    QByteArray b;
    b += char(ledId);
    b += char(*n);
    return b;
}

}  // namespace vorn
