#include "link/netport.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace vorn {

namespace {
// Telnet commands and options.
constexpr quint8 kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254, kIacByte = 255;
constexpr quint8 kBinary = 0, kSuppressGoAhead = 3;
// COM-PORT-OPTION commands, client to server.
constexpr quint8 kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                 kPurgeData = 12;
constexpr quint8 kParityNone = 1, kStopOne = 1, kControlNoFlow = 1, kPurgeReceive = 1;

QByteArray command(quint8 verb, quint8 option)
{
    QByteArray b;
    b.append(char(kIacByte)).append(char(verb)).append(char(option));
    return b;
}

QByteArray comPort(quint8 what, const QByteArray &value)
{
    QByteArray b;
    b.append(char(kIacByte)).append(char(kSb)).append(char(Rfc2217Codec::kComPortOption)).append(char(what));
    b.append(Rfc2217Codec::escape(value));
    b.append(char(kIacByte)).append(char(kSe));
    return b;
}
}  // namespace

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

QByteArray Rfc2217Codec::opening()
{
    return command(kWill, kComPortOption) + command(kWill, kBinary) + command(kDo, kBinary)
         + command(kWill, kSuppressGoAhead) + command(kDo, kSuppressGoAhead);
}

QByteArray Rfc2217Codec::lineSettings()
{
    const quint32 baud = 38400;
    QByteArray b;
    for (int shift = 24; shift >= 0; shift -= 8)
        b.append(char((baud >> shift) & 0xFF));
    return comPort(kSetBaudRate, b) + comPort(kSetDataSize, QByteArray(1, char(8)))
         + comPort(kSetParity, QByteArray(1, char(kParityNone)))
         + comPort(kSetStopSize, QByteArray(1, char(kStopOne)))
         + comPort(kSetControl, QByteArray(1, char(kControlNoFlow)));
}

QByteArray Rfc2217Codec::purgeReceived()
{
    return comPort(kPurgeData, QByteArray(1, char(kPurgeReceive)));
}

QByteArray Rfc2217Codec::escape(const QByteArray &data)
{
    if (!data.contains(kIac))
        return data;
    QByteArray out;
    out.reserve(data.size() + 8);
    for (const char c : data) {
        out.append(c);
        if (c == kIac)
            out.append(c);
    }
    return out;
}

QByteArray Rfc2217Codec::feed(const QByteArray &bytes)
{
    QByteArray data;
    for (const char ch : bytes) {
        const quint8 c = quint8(ch);
        switch (m_in) {
        case In::Data:
            if (c == kIacByte)
                m_in = In::Iac;
            else
                data.append(ch);
            break;
        case In::Iac:
            if (c == kIacByte) {
                data.append(ch);
                m_in = In::Data;
            } else if (c >= kWill && c <= kDont) {
                m_verb = c;
                m_in = In::Verb;
            } else if (c == kSb) {
                m_in = In::Sub;
            } else {
                m_in = In::Data;   // NOP, GA and the like carry nothing
            }
            break;
        case In::Verb:
            onCommand(m_verb, c);
            m_in = In::Data;
            break;
        case In::Sub:
            // The server's answers and its line-state and modem-state notices:
            // nothing this program acts on.
            if (c == kIacByte)
                m_in = In::SubIac;
            break;
        case In::SubIac:
            m_in = c == kSe ? In::Data : In::Sub;
            break;
        }
    }
    return data;
}

QByteArray Rfc2217Codec::takeReplies()
{
    QByteArray r;
    r.swap(m_replies);
    return r;
}

void Rfc2217Codec::onCommand(quint8 verb, quint8 option)
{
    const quint16 key = quint16(verb << 8 | option);
    const bool first = !m_answered.contains(key);
    if (first)
        m_answered.append(key);
    if (option == kComPortOption) {
        if (verb == kDo || verb == kWill) {
            if (m_state == State::Negotiating) {
                m_state = State::Ready;
                m_replies += lineSettings();
            }
            if (verb == kWill && first)
                m_replies += command(kDo, option);
        } else {
            m_state = State::Refused;
        }
        return;
    }
    if (!first)
        return;
    // Binary and suppress-go-ahead were asked for in the opening; anything
    // else the server offers or asks for is declined.
    const bool wanted = option == kBinary || option == kSuppressGoAhead;
    if (verb == kDo && !wanted)
        m_replies += command(kWont, option);
    else if (verb == kWill && !wanted)
        m_replies += command(kDont, option);
}

}  // namespace vorn
