#pragma once
// The fields of the display and numbering requests as the operator types
// them (the window's boxes, rt8ctl's words), read into the numbers the
// session's calls take. The fields are read in their order on the form; the
// first that cannot be read refuses the request and names itself by its
// caption, so that the window and rt8ctl say the same.

#include "protocol/requests.h"

#include <QString>
#include <optional>

namespace vorn {

// "显示数字": start position and display port (whole numbers 0 to 255), the
// digit count (the number at its start, 0 to 255, at most the number's length
// plus 10), then that many digits of the number, left-aligned and filled with
// zeros on the right. nullopt with *why naming the field otherwise.
std::optional<NumberDisplay> readNumberDisplay(const QString &start, const QString &port, const QString &count,
                                               const QString &number, QString *why = nullptr);
// "显示编码": start position, display port and the two codes, each a whole
// number 0 to 255.
std::optional<CodeDisplay> readCodeDisplay(const QString &start, const QString &port, const QString &code0,
                                           const QString &code1, QString *why = nullptr);
// "修改编号": the display-digit count, a whole number 0 to 255.
std::optional<quint8> readDigitCount(const QString &text, QString *why = nullptr);

// The message for a number to show whose digit at index i is not 0 to 9.
QString badDigitMessage(int index);

}  // namespace vorn
