#pragma once
// Which device stands behind serial port number 1..16.
//
// Windows: port p is COMp. Elsewhere VORNRT8_PORTS, when set, is a
// colon-separated list of device paths, entry p being port p (an empty entry:
// no such port); otherwise the serial devices present at start-up, USB
// adapters first (/dev/ttyUSB*, /dev/ttyACM*, then /dev/ttyS*; on macOS
// /dev/cu.*), each group in numeric order.

#include <QString>
#include <QStringList>

namespace vorn {

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;

class PortMap
{
public:
    // Reads the environment and the device folder once.
    static PortMap fromSystem();
    // Entry 0 is port 1.
    explicit PortMap(QStringList paths = {}) : m_paths(std::move(paths)) {}

    QString path(int port) const;
    const QStringList &paths() const { return m_paths; }

    // VORNRT8_PORTS text to paths.
    static QStringList parseList(const QString &text);
    // Orders device names found in /dev as the search wants them.
    static QStringList orderDevices(const QStringList &names, const QString &dir = QStringLiteral("/dev"));

private:
    QStringList m_paths;
};

}  // namespace vorn
