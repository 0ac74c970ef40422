#pragma once
// Network ports: a serial line carried over TCP by a device server or ser2net.
//
//   tcp://HOST:PORT       the line's bytes as they are (the server sets the line)
//   rfc2217://HOST:PORT   Telnet with the COM-PORT-OPTION: this program sets
//                         the far port's line and asks the server to purge
//
// HOST is a host name, an IPv4 address or an IPv6 address in brackets. A URL
// with a user name or password in it is refused, so that none ever reaches a
// trace, a log or the status bar. The rule for showing a port's name lives
// here too: every message that names a port or a broker goes through it.

#include <QString>

namespace vorn {

struct NetAddress
{
    enum class Kind { Tcp, Rfc2217 };
    Kind kind = Kind::Tcp;
    QString host;       // without brackets
    quint16 port = 0;
};

// Whether a port's name is a network URL rather than a device path.
bool isNetworkName(const QString &name);

// The name to show for a port or a broker (mqtt://, mqtts://, tcp://,
// rfc2217://, or text that only looks like one): nothing of what stands
// before an '@' (a user name or password is never shown); a device path as
// it is. Every message that names a port or a broker goes through it.
QString shownPortName(const QString &name);

// The URL to an address; false with the reason in *why when it is not one.
bool parseNetAddress(const QString &url, NetAddress *out, QString *why);

}  // namespace vorn
