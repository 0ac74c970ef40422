#include "session/csv.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <QDateTime>

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

// The stamp of the millisecond ms within the second of date and offset,
// written to out; returns its length.
int joinStamp(const char *date, int ms, const char *offset, char *out)
{
    // At most 23 + 4 + 7 characters: within the 40 of a TimeStamp.
    const size_t d = std::strlen(date), o = std::strlen(offset);
    std::memcpy(out, date, d);
    char *p = out + d;
    *p++ = '.';
    *p++ = char('0' + ms / 100);
    *p++ = char('0' + ms / 10 % 10);
    *p++ = char('0' + ms % 10);
    std::memcpy(p, offset, o);
    return int(p + o - out);
}

QByteArray joinStamp(const char *date, int ms, const char *offset)
{
    char buf[40];
    return QByteArray(buf, joinStamp(date, ms, offset, buf));
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

TimeStamp timeStampNow()
{
    TimeStamp t;
#ifdef Q_OS_WIN
    t.msecs = QDateTime::currentMSecsSinceEpoch();
    const QByteArray b = isoTime(t.msecs);
    t.size = int(std::min<qsizetype>(b.size(), sizeof t.text - 1));
    std::memcpy(t.text, b.constData(), size_t(t.size));
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
    const int ms = int(ts.tv_nsec / 1000000);
    t.msecs = qint64(ts.tv_sec) * 1000 + ms;
    t.size = joinStamp(date, ms, offset, t.text);
#endif
    return t;
}

QByteArray isoTimeNow()
{
    const TimeStamp t = timeStampNow();
    return QByteArray(t.text, t.size);
}

}  // namespace vorn
