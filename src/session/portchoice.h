#pragma once
// How a port is named to the command-line programs (rt8ctl --port, the
// gateway's "port"): a port number 1 to 16 from the system's list, or a device
// path. Nothing names the search.

#include "link/portmap.h"

#include <QString>

namespace vorn {

struct PortChoice
{
    PortMap map;        // the ports the session is made with
    int number = 0;     // the port to open in it
    bool search = false; // no port named: search ports 1 to 16
};

PortChoice choosePort(const QString &text);

}  // namespace vorn
