#include "session/portchoice.h"

namespace vorn {

PortChoice choosePort(const QString &text)
{
    if (text.isEmpty())
        return {PortMap::fromSystem(), 0, true};
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber)
        return {PortMap::fromSystem(), number};
    // A device path is port 1 of a list of its own.
    return {PortMap(QStringList{text}), 1};
}

}  // namespace vorn
