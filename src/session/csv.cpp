#include "session/csv.h"

#include <cstdio>
#include <ctime>

#include "protocol/channeltable.h"

namespace vorn {

bool isPlainNumber(QStringView s)
{
    qsizetype i = 0;
    const qsizetype n = s.size();
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < n && s[i] >= u'0' && s[i] <= u'9')
            ++i;
        return i - from;
    };
    if (i < n && (s[i] == u'-' || s[i] == u'+'))
        ++i;
    qsizetype mantissa = digits();
    if (i < n && s[i] == u'.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        if (i < n && (s[i] == u'-' || s[i] == u'+'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == n;
}

QString csvCell(const QString &cell)
{
    QString out = cell;
    if (!out.isEmpty() && !isPlainNumber(out)) {
        const QChar c = out.front();
        if (c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r')
            out.prepend(QLatin1Char('\''));
    }
    if (out.contains(QLatin1Char(',')) || out.contains(QLatin1Char('"')) || out.contains(QLatin1Char('\n'))
        || out.contains(QLatin1Char('\r')))
        out = QLatin1Char('"') + out.replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
    return out;
}

QString csvLine(const QStringList &cells)
{
    QString out;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            out += QLatin1Char(',');
        out += csvCell(cells[i]);
    }
    return out;
}

QString modeName(FeedbackMode mode)
{
    return mode == FeedbackMode::Raw ? QStringLiteral("raw") : QStringLiteral("target");
}

QString valuesLine(const QString &time, const QString &mode, const QStringList &values)
{
    QStringList cells{time};
    if (!mode.isEmpty())
        cells.append(mode);
    cells += values;
    return csvLine(cells);
}

QString valuesHeader(bool withMode)
{
    QStringList h{QStringLiteral("time")};
    if (withMode)
        h.append(QStringLiteral("mode"));
    for (int i = 0; i < kChannels; ++i)
        h.append(QStringLiteral("ch%1").arg(i));
    return csvLine(h);
}

QByteArray isoTimeNow()
{
#ifdef Q_OS_WIN
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
#else
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    ::localtime_r(&ts.tv_sec, &t);
    const long offset = t.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", t.tm_year + 1900,
                                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, int(ts.tv_nsec / 1000000),
                                offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return QByteArray(buf, n);
#endif
}

}  // namespace vorn
