#include "link/networkline.h"

#include "link/netaddress.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace vorn {

namespace {

const char kRefusesTelnet[] = "the server refuses RFC 2217 (the COM-PORT-OPTION)";

// Acknowledge what comes at once, not after the system's delay. Linux turns
// this off again by itself, so it is set again after every read.
void ackAtOnce(QTcpSocket *socket)
{
#ifdef Q_OS_LINUX
    const int one = 1;
    ::setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#else
    Q_UNUSED(socket);
#endif
}

// What the socket holds, in an array of just that size (see SerialPortLine).
QByteArray readWaiting(QTcpSocket *socket)
{
    const qint64 waiting = socket->bytesAvailable();
    if (waiting <= 0)
        return QByteArray();
    QByteArray bytes(waiting, Qt::Uninitialized);
    const qint64 n = socket->read(bytes.data(), waiting);
    bytes.truncate(std::max<qint64>(n, 0));
    return bytes;
}

// What the system holds for the socket and Qt has not read yet, taken
// without waiting.
QByteArray readSystem(QTcpSocket *socket)
{
    QByteArray all;
#ifdef Q_OS_UNIX
    char buf[4096];
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::recv(int(socket->socketDescriptor()), buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            break;
        all.append(buf, n);
    }
#else
    Q_UNUSED(socket);
#endif
    return all;
}

}  // namespace

NetworkLine::NetworkLine(QObject *parent) : Line(parent), m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &NetworkLine::onDeadline);
}

NetworkLine::~NetworkLine()
{
    close();
}

void NetworkLine::open(const QString &url)
{
    if (m_phase != Phase::Closed)
        return fail(OpenFailure::InUse, QStringLiteral("port already open"));
    NetAddress at;
    QString why;
    if (!parseNetAddress(url, &at, &why))
        return fail(OpenFailure::NoSuchPort, why);
    dropSocket();
    m_sock = new QTcpSocket(this);
    m_telnet = at.kind == NetAddress::Kind::Rfc2217;
    m_codec = Rfc2217Codec();
    m_serverText.clear();
    m_onlyText = true;
    m_purgeWanted = false;
    m_losing = false;
    m_phase = Phase::Connecting;
    connect(m_sock, &QTcpSocket::connected, this, &NetworkLine::onConnected);
    connect(m_sock, &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    // However the closing shows (the signal, or an error on a read or a
    // write), it is told the same way.
    connect(m_sock, &QTcpSocket::disconnected, this, [this] { onGone(QString()); });
    connect(m_sock, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::SocketTimeoutError || !m_sock)
            return;
        if (e == QAbstractSocket::HostNotFoundError && isOpening())
            return failOpening(OpenFailure::NoSuchPort, m_sock->errorString());
        onGone(e == QAbstractSocket::RemoteHostClosedError ? QString() : m_sock->errorString());
    });
    m_deadline->start(m_connectMs);
    // Connected from the event loop: whatever the system says at once
    // (a refusal on this machine) is told after open() has returned, like
    // everything else about a network line's opening.
    const quint64 opening = ++m_openings;
    QMetaObject::invokeMethod(this, [this, opening, at] {
        if (opening == m_openings && m_sock && m_phase == Phase::Connecting)
            m_sock->connectToHost(at.host, at.port);
    }, Qt::QueuedConnection);
}

void NetworkLine::onConnected()
{
    if (m_phase != Phase::Connecting)
        return;
    m_sock->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    ackAtOnce(m_sock);
    if (!m_telnet)
        return finishOpening();
    // The server must take up the COM-PORT-OPTION before the line is ours;
    // its answer sets the far port's line.
    m_phase = Phase::Negotiating;
    m_sock->write(Rfc2217Codec::opening());
    m_sock->flush();
    // What came with the connection (a server that speaks first).
    if (m_sock && m_sock->bytesAvailable() > 0)
        onReadyRead();
}

void NetworkLine::onReadyRead()
{
    while (m_sock && !m_losing && m_phase != Phase::Closed) {
        const QByteArray data = take();
        // Answering the server may have found the connection gone.
        if (!m_sock || m_phase == Phase::Closed)
            return;
        ackAtOnce(m_sock);
        if (m_telnet && m_codec.state() == Rfc2217Codec::State::Refused) {
            if (isOpening())
                failOpening(OpenFailure::Other, QLatin1String(kRefusesTelnet));
            else
                lose(QLatin1String(kRefusesTelnet));
            return;
        }
        if (m_phase == Phase::Negotiating && m_codec.state() == Rfc2217Codec::State::Ready) {
            // Agreed; the line settings went out with the answer. Their
            // answers are waited for, a short while at most: a request
            // written meanwhile would have its reply held behind them.
            m_phase = Phase::Settling;
            m_deadline->start(kSettingsWaitMs);
        }
        if (m_phase == Phase::Settling && m_codec.settingsAnswered() >= Rfc2217Codec::kSettings) {
            finishOpening();
            return;
        }
        if (m_phase == Phase::Open && !data.isEmpty())
            emit received(data);
        if (!m_sock || m_sock->bytesAvailable() <= 0)
            break;
    }
}

void NetworkLine::finishOpening()
{
    m_deadline->stop();
    if (m_telnet) {
        // Whatever the device sent before the line was set up is not kept,
        // here (noted all the same) nor at the server.
        take();
        if (!m_sock)
            return;
        m_sock->write(Rfc2217Codec::purgeReceived());
        m_sock->flush();
        if (!m_sock)
            return;
    }
    m_phase = Phase::Open;
    m_errorText.clear();
    emit opened();
}

void NetworkLine::onDeadline()
{
    switch (m_phase) {
    case Phase::Connecting:
        return failOpening(OpenFailure::NoDevice,
                           QStringLiteral("no connection within %1 s").arg(m_connectMs / 1000.0));
    case Phase::Negotiating:
        return failOpening(OpenFailure::NoDevice, QStringLiteral("the server did not take up RFC 2217 within %1 s")
                                                      .arg(m_connectMs / 1000.0));
    case Phase::Settling:
        // No (or not every) answer to the line settings: used all the same.
        return finishOpening();
    default:
        return;
    }
}

void NetworkLine::onGone(const QString &systemWords)
{
    if (!m_sock)
        return;
    // What the server said last (a refusal, before it closed) may still
    // wait: it is the reason.
    if (m_sock->bytesAvailable() > 0)
        take();
    if (isOpening()) {
        // A host that does not answer is like a node with no device behind
        // it (NoDevice): the search passes over it.
        failOpening(OpenFailure::NoDevice, lossReason(systemWords));
        return;
    }
    if (m_phase == Phase::Open)
        lose(lossReason(systemWords));
}

void NetworkLine::failOpening(OpenFailure kind, const QString &text)
{
    m_deadline->stop();
    dropSocket();
    fail(kind, text);
}

QByteArray NetworkLine::take()
{
    if (!m_sock)
        return {};
    const QByteArray raw = readWaiting(m_sock);
    if (raw.isEmpty())
        return {};
    if (!m_telnet) {
        note(raw);
        return raw;
    }
    const QByteArray data = m_codec.feed(raw);
    const QByteArray replies = m_codec.takeReplies();
    note(data);
    if (!replies.isEmpty()) {
        // A connection found gone here is told through its signals (and
        // m_sock is null after them).
        QTcpSocket *sock = m_sock;
        sock->write(replies);
        sock->flush();
    }
    return data;
}

void NetworkLine::note(const QByteArray &data)
{
    if (!m_onlyText || data.isEmpty())
        return;
    // Past a few lines it is a device's talk, not a server's refusal.
    m_serverText += data;
    if (m_serverText.size() > 512) {
        m_onlyText = false;
        m_serverText.clear();
    }
}

QString NetworkLine::lossReason(const QString &systemWords) const
{
    // ser2net answers a connection to a device it cannot open with a line
    // ("Device open failure: ...") and closes: that line is the reason.
    const QString said = m_onlyText ? serverWords(m_serverText) : QString();
    if (!said.isEmpty())
        return QCoreApplication::translate("vorn::Line", "设备服务器说“%1”，然后断开了连接").arg(said);
    return systemWords.isEmpty() ? QStringLiteral("the server closed the connection") : systemWords;
}

void NetworkLine::discardInput()
{
    if (!isOpen() || m_losing)
        return;
    // What Qt holds and what the system holds: through the codec (its
    // commands are answered as ever), noted (a server's last words stay the
    // reason of a loss), and not handed up.
    take();
    if (!m_sock || m_phase != Phase::Open)
        return;
    const QByteArray raw = readSystem(m_sock);
    if (!raw.isEmpty()) {
        if (m_telnet) {
            note(m_codec.feed(raw));
            const QByteArray replies = m_codec.takeReplies();
            if (!replies.isEmpty())
                m_sock->write(replies);
        } else {
            note(raw);
        }
    }
    if (!m_sock)
        return;
    ackAtOnce(m_sock);
    // And the device server's buffer: the purge goes out with the request.
    if (m_telnet)
        m_purgeWanted = true;
}

bool NetworkLine::write(const QByteArray &frame)
{
    if (!isOpen() || m_losing) {
        if (!m_losing)
            m_errorText = QStringLiteral("port not open");
        return false;
    }
    QByteArray out = m_telnet ? Rfc2217Codec::escape(frame) : frame;
    if (m_purgeWanted) {
        out.prepend(Rfc2217Codec::purgeReceived());
        m_purgeWanted = false;
    }
    if (m_sock->write(out) != out.size()) {
        lose(lossReason(m_sock->errorString()));
        return false;
    }
    m_sock->flush();
    return true;
}

bool NetworkLine::waitUntilWritten(int msecs)
{
    if (!isOpen() || m_losing)
        return false;
    const QDeadlineTimer deadline(msecs);
    while (m_sock && m_sock->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !m_sock->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    return m_sock && m_sock->bytesToWrite() == 0;
}

void NetworkLine::lose(const QString &reason)
{
    m_errorText = reason;
    if (m_losing)
        return;
    m_losing = true;
    QMetaObject::invokeMethod(this, [this, reason] {
        if (m_phase != Phase::Open)
            return;
        m_errorText = reason;
        close();
        emit lost(reason);
    }, Qt::QueuedConnection);
}

void NetworkLine::dropSocket()
{
    m_phase = Phase::Closed;
    if (!m_sock)
        return;
    m_sock->disconnect(this);
    m_sock->abort();
    m_sock->deleteLater();
    m_sock = nullptr;
}

void NetworkLine::close()
{
    m_deadline->stop();
    dropSocket();
}

}  // namespace vorn
