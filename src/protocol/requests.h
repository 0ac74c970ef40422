#pragma once
// Payloads of the display and housekeeping requests, read from the texts of
// their fields. Every field is read before anything is built; a field that
// cannot be read refuses the request and names itself.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace vorn {

// A payload, or the message that says which field is wrong.
struct Payload
{
    QByteArray bytes;
    QString error;   // empty when bytes are good
    bool ok() const { return error.isEmpty(); }
};

// The whole text (blanks around it allowed) is a decimal number, taken to the
// nearest whole number (halves to even), 0..255.
std::optional<int> readStrictByte(const QString &text);
// The number at the start of the text (none counts as 0), blanks ignored,
// taken to the nearest whole number, 0..255.
std::optional<int> readLeadingByte(const QString &text);

// "显示数字": start position, display port, then n digit bytes from the number
// text, left-aligned and filled with zeros on the right.
Payload showNumberPayload(const QString &start, const QString &port, const QString &count,
                          const QString &number);
// "显示编码": start position, display port, two code bytes.
Payload showCodePayload(const QString &start, const QString &port, const QString &code0,
                        const QString &code1);

// "同步时间": yy MM dd hh mm ss of the given local time, each as a plain byte.
QByteArray clockPayload(const QDateTime &localTime);
// "修改编号": the number to assign, then the display-digit count.
Payload changeNumberPayload(quint8 ledId, const QString &digitCount);

}  // namespace vorn
