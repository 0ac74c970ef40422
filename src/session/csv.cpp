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

namespace {

#ifndef Q_OS_WIN
// The second's part of a time stamp: the date, the time to the second and
// the offset.
void formatSecond(time_t second, char (&date)[24], char (&offset)[8])
{
    tm t{};
    ::localtime_r(&second, &t);
    const long off = t.tm_gmtoff;
    const long minutes = (off < 0 ? -off : off) / 60;
    std::snprintf(date, sizeof date, "%04d-%02d-%02dT%02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    std::snprintf(offset, sizeof offset, "%c%02ld:%02ld", off < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

QByteArray joinStamp(const char *date, int ms, const char *offset)
{
    QByteArray out;
    out.reserve(29);
    out.append(date);
    out.append('.');
    out.append(char('0' + ms / 100));
    out.append(char('0' + ms / 10 % 10));
    out.append(char('0' + ms % 10));
    out.append(offset);
    return out;
}
#endif

}  // namespace

QByteArray isoTime(qint64 msecs)
{
#ifdef Q_OS_WIN
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(msecs);
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
#else
    const qint64 ms = ((msecs % 1000) + 1000) % 1000;
    char date[24], offset[8];
    formatSecond(time_t((msecs - ms) / 1000), date, offset);
    return joinStamp(date, int(ms), offset);
#endif
}

QByteArray isoTimeNow()
{
#ifdef Q_OS_WIN
    return isoTime(QDateTime::currentMSecsSinceEpoch());
#else
    // The second's part is worked out once a second; within it only the
    // milliseconds change.
    thread_local time_t second = -1;
    thread_local char date[24];
    thread_local char offset[8];
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    if (ts.tv_sec != second) {
        formatSecond(ts.tv_sec, date, offset);
        second = ts.tv_sec;
    }
    return joinStamp(date, int(ts.tv_nsec / 1000000), offset);
#endif
}

}  // namespace vorn
