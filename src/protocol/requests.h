#pragma once
// Payloads of the display and housekeeping requests, read from the texts of
// their fields. Every field is read before anything is built; a field that
// cannot be read refuses the request and names itself.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace vorn {

// The whole text (blanks around it allowed) is a decimal number, taken to the
// nearest whole number (halves to even), 0..255.
std::optional<int> readStrictByte(const QString &text);
// The number at the start of the text (none counts as 0), blanks ignored,
// taken to the nearest whole number, 0..255.
std::optional<int> readLeadingByte(const QString &text);

// Each payload below is nullopt when a field cannot be read; *why then holds
// the message that names the field.

// "显示数字": start position, display port, then n digit bytes from the number
// text, left-aligned and filled with zeros on the right.
std::optional<QByteArray> showNumberPayload(const QString &start, const QString &port, const QString &count,
                                            const QString &number, QString *why = nullptr);
// "显示编码": start position, display port, two code bytes.
std::optional<QByteArray> showCodePayload(const QString &start, const QString &port, const QString &code0,
                                          const QString &code1, QString *why = nullptr);

// "同步时间": yy MM dd hh mm ss of the given local time, each as a plain byte.
QByteArray clockPayload(const QDateTime &localTime);
// "修改编号": the number to assign, then the display-digit count.
std::optional<QByteArray> changeNumberPayload(quint8 ledId, const QString &digitCount, QString *why = nullptr);

}  // namespace vorn
