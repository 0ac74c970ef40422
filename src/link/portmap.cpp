#include "link/portmap.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>

namespace vorn {

QString PortMap::path(int port) const
{
    if (port < 1 || port > m_paths.size())
        return {};
    return m_paths.at(port - 1);
}

QStringList PortMap::parseList(const QString &text)
{
    return text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
}

QStringList PortMap::orderDevices(const QStringList &names, const QString &dir)
{
    struct Dev { int group; qlonglong number; QString name; };
    static const QRegularExpression re(QStringLiteral("^(ttyUSB|ttyACM|ttyS|cu\\.)(.*?)(\\d*)$"));
    QList<Dev> devs;
    for (const QString &n : names) {
        const auto m = re.match(n);
        if (!m.hasMatch())
            continue;
        const QString kind = m.captured(1);
        const int group = kind == QLatin1String("ttyUSB") ? 0
                        : kind == QLatin1String("ttyACM") ? 1
                        : kind == QLatin1String("cu.")    ? 2 : 3;
        if (group != 2 && !m.captured(2).isEmpty())
            continue;  // ttyS-something-else is not a serial port
        if (group != 2 && m.captured(3).isEmpty())
            continue;
        const qlonglong num = m.captured(3).isEmpty() ? -1 : m.captured(3).toLongLong();
        devs.append({group, num, n});
    }
    std::sort(devs.begin(), devs.end(), [](const Dev &a, const Dev &b) {
        if (a.group != b.group) return a.group < b.group;
        if (a.number != b.number) return a.number < b.number;
        return a.name < b.name;
    });
    QStringList out;
    for (const Dev &d : devs)
        out.append(dir + QLatin1Char('/') + d.name);
    return out;
}

PortMap PortMap::fromSystem()
{
#ifdef Q_OS_WIN
    QStringList paths;
    for (int p = kFirstPort; p <= kLastPort; ++p)
        paths.append(QStringLiteral("COM%1").arg(p));
    return PortMap(paths);
#else
    const QByteArray env = qgetenv("VORNRT8_PORTS");
    if (qEnvironmentVariableIsSet("VORNRT8_PORTS"))
        return PortMap(parseList(QString::fromLocal8Bit(env)));
    QDir dev(QStringLiteral("/dev"));
#  ifdef Q_OS_MACOS
    const QStringList names = dev.entryList({QStringLiteral("cu.*")}, QDir::System | QDir::Files);
#  else
    const QStringList names = dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"),
                                             QStringLiteral("ttyS*")},
                                            QDir::System | QDir::Files | QDir::AllEntries);
#  endif
    return PortMap(orderDevices(names));
#endif
}

}  // namespace vorn
