#pragma once
// Network ports: a serial line carried over TCP by a device server or ser2net.
//
//   tcp://HOST:PORT       the line's bytes as they are (the server sets the line)
//   rfc2217://HOST:PORT   Telnet with the COM-PORT-OPTION: this program sets
//                         the far port's line and asks the server to purge
//
// HOST is a host name, an IPv4 address or an IPv6 address in brackets. A URL
// with a user name or password in it is refused, so that none ever reaches a
// trace, a log or the status bar.

#include <QByteArray>
#include <QList>
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

// The Telnet side of an rfc2217:// port, free of sockets: bytes from the
// server go in, the line's own bytes come out, and what must be answered.
class Rfc2217Codec
{
public:
    static constexpr char kIac = char(0xFF);
    static constexpr quint8 kComPortOption = 44;

    enum class State { Negotiating, Ready, Refused };

    // What is sent once the connection stands: this side will use the
    // COM-PORT-OPTION and binary transmission both ways.
    static QByteArray opening();
    // The far port's line, sent once the server agrees: 38400 baud, 8 data
    // bits, no parity, 1 stop bit, no flow control.
    static QByteArray lineSettings();
    // Ask the server to throw away what it holds from the device.
    static QByteArray purgeReceived();
    // The line's bytes made fit for the Telnet stream (0xFF doubled).
    static QByteArray escape(const QByteArray &data);

    // Takes bytes from the server; returns the line's bytes among them.
    // Commands, negotiation and the server's notices are kept back; what must
    // be answered is added to replies().
    QByteArray feed(const QByteArray &bytes);
    // What to send to the server now; taken once.
    QByteArray takeReplies();
    State state() const { return m_state; }

private:
    void onCommand(quint8 verb, quint8 option);

    enum class In { Data, Iac, Verb, Sub, SubIac };
    In m_in = In::Data;
    quint8 m_verb = 0;
    QByteArray m_replies;
    State m_state = State::Negotiating;
    // Options this side has answered, so that no answer is given twice.
    QList<quint16> m_answered;
};

}  // namespace vorn
