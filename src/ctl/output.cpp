#include "ctl/output.h"

#include "ctl/options.h"

#include <QJsonDocument>

#include <algorithm>

namespace vorn::ctl {

QString jsonLine(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

// Rows in columns two blanks apart, the last column not filled.
QString aligned(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &r : rows)
        for (int i = 0; i < r.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], displayWidth(r[i]));
        }
    QString out;
    for (const QStringList &r : rows) {
        QString line;
        for (int i = 0; i < r.size(); ++i) {
            line += r[i];
            if (i + 1 < r.size())
                line += QString(widths[i] - displayWidth(r[i]) + 2, QLatin1Char(' '));
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line + QLatin1Char('\n');
    }
    return out;
}

QString usbIds(const PortInfo &p)
{
    if (p.vendorId < 0 || p.productId < 0)
        return {};
    return QStringLiteral("%1:%2").arg(p.vendorId, 4, 16, QLatin1Char('0')).arg(p.productId, 4, 16, QLatin1Char('0'));
}

}  // namespace vorn::ctl
