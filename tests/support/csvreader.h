#pragma once
// Reads CSV text back as a spreadsheet would (RFC 4180: quoted cells, doubled
// quotes, line breaks inside quotes), lines ending in CR LF. A last line
// without its line end, or a quote left open, comes back as the one cell
// "(torn)", so that a count of cells catches it.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

inline QList<QStringList> readCsv(const QByteArray &utf8)
{
    const QString text = QString::fromUtf8(utf8);
    QList<QStringList> rows;
    QStringList row;
    QString cell;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        any = true;
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                cell += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row.append(cell);
            cell.clear();
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            row.append(cell);
            rows.append(row);
            row.clear();
            cell.clear();
            any = false;
            ++i;
        } else {
            cell += c;
        }
    }
    if (any || quoted)
        rows.append(QStringList{QStringLiteral("(torn)")});
    return rows;
}
