#pragma once
// The Telnet side of an rfc2217:// port (Telnet with the COM-PORT-OPTION:
// this program sets the far port's line and asks the server to purge), free
// of sockets. NetworkLine (networkline.h) carries it.

#include <QByteArray>
#include <QList>
#include <QString>

namespace vorn {

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
    // How many of the server's answers to the line settings came (one per
    // setting; lineSettings() asks for five).
    int settingsAnswered() const { return m_settingsAnswered; }
    static constexpr int kSettings = 5;

private:
    void onCommand(quint8 verb, quint8 option);

    enum class In { Data, Iac, Verb, Sub, SubIac };
    In m_in = In::Data;
    // Where in a subnegotiation: its first bytes say whose and what it is.
    int m_subAt = 0;
    quint8 m_subOption = 0;
    int m_settingsAnswered = 0;
    quint8 m_verb = 0;
    QByteArray m_replies;
    State m_state = State::Negotiating;
    // Options this side has answered, so that no answer is given twice.
    QList<quint16> m_answered;
};

}  // namespace vorn
