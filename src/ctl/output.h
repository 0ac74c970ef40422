#pragma once
// rt8ctl's output: results as columns or as JSON lines, written through the
// checked writes every command-line program shares (cli/output.h).

#include "cli/output.h"
#include "link/portmap.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace vorn::ctl {

using cli::printErr;
using cli::printOut;

// One JSON object on a line of its own.
QString jsonLine(const QJsonObject &o);

// Rows in columns two blanks apart, the last column not filled.
QString aligned(const QList<QStringList> &rows);

// A port's USB vendor and product ("0403:6001"); empty where it has none.
QString usbIds(const PortInfo &p);

}  // namespace vorn::ctl
