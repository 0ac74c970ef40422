#pragma once
// Which device stands behind serial port number 1..16.
//
// Windows: port p is COMp. Elsewhere VORNRT8_PORTS, when set, is a
// colon-separated list of device paths, entry p being port p (an empty entry:
// no such port); a list that holds a network URL (tcp://, rfc2217://) is
// separated by semicolons instead; otherwise the serial ports the system reports at start-up
// (QSerialPortInfo, which leaves out serial nodes with no device behind them),
// USB adapters first: ttyUSB, then ttyACM, then the rest (on macOS the cu.*
// devices only), each group in numeric order.

#include <QList>
#include <QString>
#include <QStringList>

namespace vorn {

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;

// What the system tells of one serial port.
struct PortInfo
{
    QString path;           // /dev/ttyUSB0, COM3
    QString description;    // "USB-Serial Controller", when known
    QString manufacturer;
    QString serialNumber;
    int vendorId = -1;      // USB vendor and product, -1 when unknown
    int productId = -1;
    bool operator==(const PortInfo &) const = default;
};

class PortMap
{
public:
    // Reads the environment and the system's port list once.
    static PortMap fromSystem();
    // Entry 0 is port 1.
    explicit PortMap(QStringList paths = {});
    explicit PortMap(QList<PortInfo> ports) : m_ports(std::move(ports)) {}

    QString path(int port) const;
    // What is known of port p (an empty path when there is none).
    PortInfo info(int port) const;
    QStringList paths() const;
    // Port p to another device or URL (what was known of it is dropped).
    void setPath(int port, const QString &path);
    int size() const { return int(m_ports.size()); }

    // VORNRT8_PORTS text to paths.
    static QStringList parseList(const QString &text);
    // The ports in the order port numbers are given to them. On macOS only
    // the cu.* devices count (each port also has a tty.* twin).
    enum class System { Linux, MacOS };
    static QList<PortInfo> ordered(QList<PortInfo> ports, System system = System::Linux);

private:
    QList<PortInfo> m_ports;
};

}  // namespace vorn
