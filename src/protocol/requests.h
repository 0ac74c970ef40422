#pragma once
// Payloads of the display and housekeeping requests, from the numbers they
// carry; and the two ways a byte is read from a text. (The operator's field
// texts are read into these numbers by session/requestfields.h.)

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

// Where a display request shows: the position of its first digit on the
// LED display and the display port.
struct DisplayPlace
{
    quint8 start = 0;
    quint8 port = 0;
};

// "显示数字": the digits to show, each 0 to 9, from the start position on.
struct NumberDisplay
{
    DisplayPlace place;
    QByteArray digits;
};

// "显示编码": two code bytes.
struct CodeDisplay
{
    DisplayPlace place;
    quint8 code0 = 0;
    quint8 code1 = 0;
};

// The payloads: start position, display port, then the digits or the two
// codes. nullopt when a digit is not 0 to 9 (*badDigit: its index).
std::optional<QByteArray> showNumberPayload(const NumberDisplay &request, int *badDigit = nullptr);
QByteArray showCodePayload(const CodeDisplay &request);

// "同步时间": yy MM dd hh mm ss of the given local time, each as a plain byte.
QByteArray clockPayload(const QDateTime &localTime);
// "修改编号": the number to assign, then the display-digit count.
QByteArray changeNumberPayload(quint8 ledId, quint8 digitCount);

}  // namespace vorn
