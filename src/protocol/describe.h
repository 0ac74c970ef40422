#pragma once
// What a frame on the line means, in a few words, for the line monitor and
// the trace: "连接测试 → 255", "找到设备 12，显示位数 4", "原始值 100 100 ...".

#include "protocol/reply.h"

#include <QByteArray>
#include <QString>

namespace vorn {

// A command frame as the program writes it.
QString describeCommand(const QByteArray &frame);
// What became of a piece from the line: what the reply held, or why it was
// dropped.
QString describeReply(const ReplyVerdict &verdict);
// A feedback record looked at by the poller: taken, or discarded and why.
QString describeRecord(const QByteArray &bytes, bool taken, const QString &why);
// The text with every control character written as an escape (\n, \r, \t,
// \xHH, \uHHHH for line and paragraph separators), so that it stays on one
// line.
QString escapeControls(const QString &text);

}  // namespace vorn
