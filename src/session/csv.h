#pragma once
// The one way this program writes a CSV line: the recording, the trend's
// data export and rt8ctl's stream all go through it. Cells are quoted as
// RFC 4180 has it, and a cell that a spreadsheet would take for a formula is
// kept as text: what came off the line stays data.

#include "protocol/feedbackmode.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vorn {

// A plain decimal number: an optional sign, digits with an optional point
// (or a point and digits), an optional exponent. "-3", "-0.5", "1e+06".
bool isPlainNumber(QStringView cell);

// One cell as written: a cell that is not a plain number and begins with
// "=", "+", "-", "@", a tab or a CR gets a leading apostrophe, so that a
// spreadsheet shows it as text; a cell holding a comma, a quote, a CR or an
// LF is then quoted, its quotes doubled.
QString csvCell(const QString &cell);

// One CSV line (without its line end), every cell through csvCell.
QString csvLine(const QStringList &cells);

// A line of live values: the time (local, with milliseconds), the mode
// ("raw" or "target") unless it is left out, then the ten values as shown.
QString valuesLine(const QString &time, const QString &mode, const QStringList &values);
QString modeName(FeedbackMode mode);

// A moment (ms since the epoch) as local time with its UTC offset, to the
// millisecond, as every line of values carries it:
// "2026-12-07T10:15:30.125+08:00". Made without Qt's date classes, which look
// up the time zone for every call: a gateway stamps hundreds of sets a
// second.
QByteArray isoTime(qint64 msecs);
// Now, the same way; the part to the second is worked out once a second.
QByteArray isoTimeNow();
// Now as such a stamp kept on the stack, with the moment it stands for: the
// clock read once, nothing allocated.
struct TimeStamp
{
    qint64 msecs = 0;   // since the epoch
    char text[40] = {};
    int size = 0;
    QByteArrayView view() const { return QByteArrayView(text, size); }
};
TimeStamp timeStampNow();

// The header of such lines: "time", "mode" (withMode), "ch0" to "ch9".
QString valuesHeader(bool withMode);

}  // namespace vorn
