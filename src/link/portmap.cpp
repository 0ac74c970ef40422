#include "link/portmap.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>
#include <optional>

namespace vorn {

PortMap::PortMap(QStringList paths)
{
    for (QString &p : paths) {
        PortInfo info;
        info.path = std::move(p);
        m_ports.append(info);
    }
}

QString PortMap::path(int port) const
{
    return info(port).path;
}

PortInfo PortMap::info(int port) const
{
    if (port < 1 || port > m_ports.size())
        return {};
    return m_ports.at(port - 1);
}

void PortMap::setPath(int port, const QString &path)
{
    if (port < kFirstPort || port > kLastPort)
        return;
    while (m_ports.size() < port)
        m_ports.append(PortInfo{});
    m_ports[port - 1] = PortInfo{};
    m_ports[port - 1].path = path;
}

QStringList PortMap::paths() const
{
    QStringList out;
    for (const PortInfo &p : m_ports)
        out.append(p.path);
    return out;
}

QStringList PortMap::parseList(const QString &text)
{
    // Network URLs hold colons of their own: a list with one in it is
    // separated by semicolons.
    if (text.contains(QLatin1String("://"))) {
        QStringList out = text.split(QLatin1Char(';'), Qt::KeepEmptyParts);
        for (QString &e : out)
            e = e.trimmed();
        return out;
    }
    return text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
}

QList<PortInfo> PortMap::ordered(QList<PortInfo> ports, System system)
{
    // Group, then the name without its number, then the number: ttyS2 before
    // ttyS10.
    struct Key { int group; QString stem; qlonglong number; QString name; };
    static const QRegularExpression numbered(QStringLiteral("^(.*?)(\\d+)$"));
    const auto keyOf = [&](const PortInfo &p) -> std::optional<Key> {
        const QString name = QFileInfo(p.path).fileName();
        if (name.isEmpty())
            return std::nullopt;
        if (system == System::MacOS && !name.startsWith(QLatin1String("cu.")))
            return std::nullopt;
        const int group = name.startsWith(QLatin1String("ttyUSB")) ? 0
                        : name.startsWith(QLatin1String("ttyACM")) ? 1 : 2;
        const auto m = numbered.match(name);
        if (m.hasMatch())
            return Key{group, m.captured(1), m.captured(2).toLongLong(), name};
        return Key{group, name, -1, name};
    };
    QList<std::pair<Key, PortInfo>> keyed;
    for (PortInfo &p : ports)
        if (const auto k = keyOf(p))
            keyed.append({*k, std::move(p)});
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) {
        const Key &x = a.first, &y = b.first;
        if (x.group != y.group) return x.group < y.group;
        if (x.stem != y.stem) return x.stem < y.stem;
        if (x.number != y.number) return x.number < y.number;
        return x.name < y.name;
    });
    QList<PortInfo> out;
    for (auto &k : keyed)
        out.append(std::move(k.second));
    return out;
}

PortMap PortMap::fromSystem()
{
#ifdef Q_OS_WIN
    QStringList paths;
    for (int p = kFirstPort; p <= kLastPort; ++p)
        paths.append(QStringLiteral("COM%1").arg(p));
    PortMap map(paths);
    // What the system knows of the COM ports that exist.
    for (const QSerialPortInfo &i : QSerialPortInfo::availablePorts()) {
        const QString name = i.portName();
        bool ok = false;
        const int p = name.startsWith(QLatin1String("COM")) ? name.mid(3).toInt(&ok) : 0;
        if (ok && p >= kFirstPort && p <= kLastPort)
            map.m_ports[p - 1] = {name, i.description(), i.manufacturer(), i.serialNumber(),
                                  i.hasVendorIdentifier() ? int(i.vendorIdentifier()) : -1,
                                  i.hasProductIdentifier() ? int(i.productIdentifier()) : -1};
    }
    return map;
#else
    if (qEnvironmentVariableIsSet("VORNRT8_PORTS"))
        return PortMap(parseList(qEnvironmentVariable("VORNRT8_PORTS")));
    QList<PortInfo> found;
    for (const QSerialPortInfo &i : QSerialPortInfo::availablePorts())
        found.append({i.systemLocation(), i.description(), i.manufacturer(), i.serialNumber(),
                      i.hasVendorIdentifier() ? int(i.vendorIdentifier()) : -1,
                      i.hasProductIdentifier() ? int(i.productIdentifier()) : -1});
#  ifdef Q_OS_MACOS
    return PortMap(ordered(found, System::MacOS));
#  else
    return PortMap(ordered(found, System::Linux));
#  endif
#endif
}

}  // namespace vorn
