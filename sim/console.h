#pragma once
// Commands typed on the simulator's standard input:
//   hold <channel> <raw>   keep channel 0..9 at raw value 0..65535
//   release <channel>      let it follow its signal again ("release all")
//   unplug                 close the line like a pulled adapter
//   replug                 open a new line, as when the adapter is back
//   quit                   end the simulator
// hold and release act on the first device given; "@N " in front of them,
// e.g. "@5 hold 3 12000", makes them act on the device(s) numbered N instead.

#include <QString>
#include <optional>

namespace rt8sim {

struct ConsoleCommand
{
    enum Kind { Empty, Hold, Release, ReleaseAll, Unplug, Replug, Quit, Invalid };
    Kind kind = Empty;
    int channel = -1;
    int value = 0;
    std::optional<int> device;   // hold/release: the number after "@", if given
    QString error;   // for Invalid: what was wrong
};

ConsoleCommand parseConsoleLine(const QString &line);

}  // namespace rt8sim
