#pragma once
// Feedback records: while the device streams target values it sends text
// records, "N", comma-separated fields, CR LF. Plain functions on bytes.

#include <QByteArray>
#include <QString>
#include <optional>

namespace vorn {

// How often the input is looked at for records.
inline constexpr int kPollIntervalMs = 200;

// The values text of the record in the first n bytes of buf, or nullopt when
// they are not a record (too short, no leading "N", no CR LF at the end). Only
// the first record is taken; fields are separated by CR LF with none after the
// last.
std::optional<QString> parseFeedbackRecord(const QByteArray &buf, int n);

// Why the first n bytes of buf are not a record (for the line's log).
QString recordFlaw(const QByteArray &buf, int n);

}  // namespace vorn
