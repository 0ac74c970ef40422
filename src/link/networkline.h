#pragma once
// The line to a device behind a device server or ser2net, over TCP:
// tcp://HOST:PORT carries the line's bytes as they are, rfc2217://HOST:PORT
// carries them through the Telnet codec (netport.h), which sets the far
// port's line and asks the server to purge.
//
// Opening never waits: open() starts connecting and returns; opened() comes
// once the connection stands and, for rfc2217://, the server has taken up the
// COM-PORT-OPTION and answered the line settings (or a short while has
// passed without the answers); openFailed() when none of that happens within
// the connect timeout.
//
// Round trips: the socket sends at once (TCP_NODELAY), and on Linux it
// acknowledges at once after each read (TCP_QUICKACK, which the system turns
// off again by itself): a server that keeps Nagle on (ser2net does for each
// client) holds a device's short reply back until its own last small segment
// is acknowledged, and a delayed acknowledgement costs some 40 ms.

#include "link/line.h"
#include "link/netport.h"

#include <QAbstractSocket>

class QTcpSocket;
class QTimer;

namespace vorn {

class NetworkLine : public Line
{
    Q_OBJECT
public:
    explicit NetworkLine(QObject *parent = nullptr);
    ~NetworkLine() override;

    // How long a network port may take to connect and, for rfc2217://, to
    // take up the COM-PORT-OPTION, unless set otherwise.
    static constexpr int kConnectTimeoutMs = 3000;
    // How long the answers to the line settings are waited for at most; a
    // server that never gives them is used all the same after this.
    static constexpr int kSettingsWaitMs = 500;
    void setConnectTimeout(int msecs) { m_connectMs = msecs > 0 ? msecs : kConnectTimeoutMs; }
    int connectTimeout() const { return m_connectMs; }

    void open(const QString &url) override;
    void close() override;
    bool isOpen() const override { return m_phase == Phase::Open; }
    bool isOpening() const override { return m_phase == Phase::Connecting || m_phase == Phase::Negotiating
                                             || m_phase == Phase::Settling; }
    bool write(const QByteArray &frame) override;
    void discardInput() override;
    bool waitUntilWritten(int msecs) override;
    // A network port is tried by opening it.
    bool present(const QString &url) const override { return !url.isEmpty(); }

    // The socket, for tests that look at its options (nullptr when closed).
    const QTcpSocket *socket() const { return m_sock; }

private:
    enum class Phase { Closed, Connecting, Negotiating, Settling, Open };

    void onConnected();
    void onReadyRead();
    void onGone(const QString &systemWords);
    void onDeadline();
    void finishOpening();
    void failOpening(OpenFailure kind, const QString &text);
    void lose(const QString &reason);
    void dropSocket();
    // Takes what the socket holds, through the Telnet codec for an
    // rfc2217:// port; answers the server where it must.
    QByteArray take();
    // Keeps what a device server says before it closes (a refusal comes as a
    // line of text), while the connection has carried nothing but text.
    void note(const QByteArray &data);
    // Why the line went: what the device server said before it closed, or
    // the system's words.
    QString lossReason(const QString &systemWords) const;

    QTcpSocket *m_sock = nullptr;
    QTimer *m_deadline;
    Phase m_phase = Phase::Closed;
    bool m_telnet = false;
    Rfc2217Codec m_codec;
    bool m_purgeWanted = false;
    QByteArray m_serverText;
    bool m_onlyText = true;
    int m_connectMs = kConnectTimeoutMs;
    bool m_losing = false;
    quint64 m_openings = 0;   // which open() a queued connecting belongs to
};

}  // namespace vorn
