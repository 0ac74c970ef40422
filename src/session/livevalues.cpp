#include "session/livevalues.h"

#include <cmath>
#include <limits>

namespace vorn {

LiveValues::LiveValues()
{
    numbers.fill(std::numeric_limits<double>::quiet_NaN());
}

LiveValues LiveValues::fromRaw(const std::array<int, kChannels> &raw)
{
    LiveValues v;
    v.mode = FeedbackMode::Raw;
    v.raw = raw;
    for (int i = 0; i < kChannels; ++i)
        v.numbers[size_t(i)] = raw[size_t(i)];
    return v;
}

LiveValues LiveValues::fromRecord(const QString &recordText)
{
    LiveValues v;
    v.mode = FeedbackMode::Target;
    v.m_record = recordText;
    // Fields end at CR LF; the last runs to the end of the text.
    qsizetype at = 0;
    for (int i = 0; i < kChannels && at <= recordText.size(); ++i) {
        qsizetype end = recordText.indexOf(QLatin1String("\r\n"), at);
        if (end < 0)
            end = recordText.size();
        v.m_fields[size_t(i)] = {int(at), int(end - at)};
        v.numbers[size_t(i)] = fieldValue(v.field(i));
        at = end + 2;
    }
    return v;
}

QStringView LiveValues::field(int channel) const
{
    const auto [begin, size] = m_fields[size_t(channel)];
    return QStringView(m_record).mid(begin, size);
}

QString LiveValues::shown(int channel) const
{
    if (mode == FeedbackMode::Raw)
        return QString::number(raw[size_t(channel)]);
    return field(channel).toString();
}

QStringList LiveValues::shownValues() const
{
    QStringList out;
    out.reserve(kChannels);
    for (int i = 0; i < kChannels; ++i)
        out.append(shown(i));
    return out;
}

QString LiveValues::text() const
{
    if (mode != FeedbackMode::Raw)
        return m_record;
    QString out;
    out.reserve(kChannels * 8);
    for (int x : raw) {
        out += QString::number(x);
        out += QLatin1String("\r\n");
    }
    return out;
}

double fieldValue(QStringView field)
{
    bool ok = false;
    const double v = field.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace vorn
