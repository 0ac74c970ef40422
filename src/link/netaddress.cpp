#include "link/netaddress.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace vorn {

bool isNetworkName(const QString &name)
{
    return name.contains(QLatin1String("://"));
}

QString shownPortName(const QString &name)
{
    // Whatever stands before the last '@' may be a user name and a password:
    // it goes, the scheme stays. Without "://" (a mistyped URL such as
    // "tcp:/bob:pw@host:1", or "bob:pw@host:1") only a scheme followed by a
    // slash is kept.
    const qsizetype at = name.lastIndexOf(QLatin1Char('@'));
    if (at < 0)
        return name;
    const qsizetype sep = name.indexOf(QLatin1String("://"));
    if (sep >= 0 && sep < at)
        return name.left(sep + 3) + name.mid(at + 1);
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:/+"));
    const QRegularExpressionMatch m = scheme.match(name);
    const qsizetype keep = m.hasMatch() && m.capturedEnd() <= at ? m.capturedEnd() : 0;
    return name.left(keep) + name.mid(at + 1);
}

bool parseNetAddress(const QString &url, NetAddress *out, QString *why)
{
    const auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    const qsizetype sep = url.indexOf(QLatin1String("://"));
    if (sep < 0)
        return fail(QStringLiteral("not a network port (tcp://HOST:PORT or rfc2217://HOST:PORT)"));
    const QString scheme = url.left(sep).toLower();
    NetAddress a;
    if (scheme == QLatin1String("tcp"))
        a.kind = NetAddress::Kind::Tcp;
    else if (scheme == QLatin1String("rfc2217"))
        a.kind = NetAddress::Kind::Rfc2217;
    else if (scheme.contains(QLatin1Char(':')) || scheme.contains(QLatin1Char('/')))
        // "/dev/ttyUSB0:tcp://cab5:4001": a list separated by colons, as one
        // without URLs is.
        return fail(QStringLiteral("unknown kind of network port \"%1\" (tcp or rfc2217); a VORNRT8_PORTS list "
                                   "that holds a URL is separated by \";\", not \":\": "
                                   "/dev/ttyUSB0;tcp://HOST:PORT")
                        .arg(scheme));
    else
        return fail(QStringLiteral("unknown kind of network port \"%1\" (tcp or rfc2217)").arg(scheme));
    QString rest = url.mid(sep + 3);
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    // Nothing may hide a user name or a password, and nothing follows the port.
    if (rest.contains(QLatin1Char('@')))
        return fail(QStringLiteral("a network port takes no user name or password"));
    if (rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('?')) || rest.contains(QLatin1Char('#')))
        return fail(QStringLiteral("a network port is HOST:PORT and nothing after it"));
    QString host, port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("an IPv6 address without its closing \"]\""));
        host = rest.mid(1, close - 1);
        QHostAddress v6;
        if (!v6.setAddress(host) || v6.protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("\"%1\" is not an IPv6 address").arg(host));
        const QString after = rest.mid(close + 1);
        if (!after.startsWith(QLatin1Char(':')))
            return fail(QStringLiteral("the port number is missing (HOST:PORT)"));
        port = after.mid(1);
    } else {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return fail(QStringLiteral("the port number is missing (HOST:PORT)"));
        host = rest.left(colon);
        port = rest.mid(colon + 1);
        if (host.contains(QLatin1Char(':')))
            return fail(QStringLiteral("an IPv6 address goes in brackets: [%1]").arg(host));
        static const QRegularExpression hostName(QStringLiteral(
            "^[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\.?$"));
        if (host.isEmpty())
            return fail(QStringLiteral("the host is missing (HOST:PORT)"));
        if (!hostName.match(host).hasMatch())
            return fail(QStringLiteral("\"%1\" is not a host name or an address").arg(host));
    }
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const uint number = port.toUInt();
    if (!digits.match(port).hasMatch() || number < 1 || number > 65535)
        return fail(port.isEmpty() ? QStringLiteral("the port number is missing (HOST:PORT)")
                                   : QStringLiteral("\"%1\" is not a port number (1 to 65535)").arg(port));
    a.host = host;
    a.port = quint16(number);
    if (out)
        *out = a;
    return true;
}

}  // namespace vorn
