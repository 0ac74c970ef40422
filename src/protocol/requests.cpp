#include "protocol/requests.h"

#include "protocol/channeltable.h"

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

std::optional<QByteArray> showNumberPayload(const NumberDisplay &request, int *badDigit)
{
    QByteArray b;
    b.reserve(2 + request.digits.size());
    b += char(request.place.start);
    b += char(request.place.port);
    for (qsizetype i = 0; i < request.digits.size(); ++i) {
        const auto d = quint8(request.digits[i]);
        if (d > 9) {
            if (badDigit)
                *badDigit = int(i);
            return std::nullopt;
        }
        b += char(d);
    }
    return b;
}

QByteArray showCodePayload(const CodeDisplay &request)
{
    QByteArray b;
    b += char(request.place.start);
    b += char(request.place.port);
    b += char(request.code0);
    b += char(request.code1);
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

QByteArray changeNumberPayload(quint8 ledId, quint8 digitCount)
{
    QByteArray b;
    b += char(ledId);
    b += char(digitCount);
    return b;
}

}  // namespace vorn
