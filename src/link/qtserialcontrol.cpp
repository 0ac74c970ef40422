#include "link/qtserialcontrol.h"

#include <QCoreApplication>
#include <QDateTime>

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSerialPortInfo>
#include <QTcpSocket>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace vorn {

// What the port object holds, in an array of just that size. readAll() would
// make a 16 KiB array for every read, a fresh one each time, even when
// nothing waits; at a reply every 10 ms that is most of the receive path's
// work. A read of all that waits into a QByteArray hands over the port
// object's own 32 KiB block, which the port then makes anew for the next
// read: a large allocation and free for every reply. Read into an array of
// the bytes' own size instead, the port keeps its block (every reply kept
// downstream, the line monitor keeps ten thousand, holds only its bytes).
template <typename Device>
static QByteArray readWaiting(Device *device)
{
    const qint64 waiting = device->bytesAvailable();
    if (waiting <= 0)
        return QByteArray();
    QByteArray bytes(waiting, Qt::Uninitialized);
    const qint64 n = device->read(bytes.data(), waiting);
    bytes.truncate(std::max<qint64>(n, 0));
    return bytes;
}

static QByteArray takeBuffered(QSerialPort *port)
{
    return readWaiting(port);
}

QtSerialControl::QtSerialControl(PortMap ports, QObject *parent)
    : SerialControl(parent), m_ports(ports), m_systemPorts(std::move(ports))
{
}

void QtSerialControl::setPortName(int port, const QString &name)
{
    m_ports.setPath(port, name.isEmpty() ? m_systemPorts.path(port) : name);
}

QtSerialControl::~QtSerialControl()
{
    close();
}

// The device's line: 38400 baud, 8 data bits, no parity, 1 stop bit, no
// flow control.
static void setLine(QSerialPort &port)
{
    port.setBaudRate(QSerialPort::Baud38400);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

// Whether this user's rights allow opening the device for reading and
// writing (a lock held by another program aside).
static bool mayOpen(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray p = QFile::encodeName(path);
    return ::access(p.constData(), R_OK | W_OK) == 0 || errno != EACCES;
#else
    Q_UNUSED(path);
    return true;
#endif
}

bool QtSerialControl::open()
{
    if (isOpen()) {
        m_errorText = QStringLiteral("port already open");
        m_failure = OpenFailure::InUse;
        return false;
    }
    const QString path = m_ports.path(commPort());
    if (path.isEmpty()) {
        m_errorText = QStringLiteral("no serial device for port %1").arg(commPort());
        m_failure = OpenFailure::NoSuchPort;
        return false;
    }
    if (isNetworkName(path))
        return openNetwork(path);
    delete m_port;
    m_port = new QSerialPort(this);
    m_port->setPortName(path);
    setLine(*m_port);
    m_port->setReadBufferSize(0);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const auto err = m_port->error();
        m_errorText = m_port->errorString();
        delete m_port;
        m_port = nullptr;
        switch (err) {
        case QSerialPort::DeviceNotFoundError:
            m_failure = OpenFailure::NoSuchPort;
            break;
        case QSerialPort::PermissionError:
            // Both another program's lock and a device this user may not
            // open end here; the device's own permissions tell them apart.
            // A lock is told by its holder, not as a permission.
            m_failure = mayOpen(path) ? OpenFailure::InUse : OpenFailure::PermissionDenied;
            if (m_failure == OpenFailure::InUse) {
                const QString holder = lockHolder(path);
                m_errorText = !holder.isEmpty()
                                  ? holder
                                  : QCoreApplication::translate("vorn::SerialControl", "被另一个程序占用（%1）")
                                        .arg(m_errorText);
            }
            break;
        case QSerialPort::ResourceError:
            // EIO and the like: a serial node with no hardware behind it.
            m_failure = OpenFailure::NoDevice;
            break;
        default:
            m_failure = OpenFailure::Other;
            break;
        }
        return false;
    }
    m_errorText.clear();
    m_failure = OpenFailure::None;
    m_losing = false;
    connect(m_port, &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
    return true;
}

bool QtSerialControl::isOpen() const
{
    if (m_sock)
        return m_sock->state() == QAbstractSocket::ConnectedState;
    return m_port && m_port->isOpen();
}

bool QtSerialControl::openNetwork(const QString &url)
{
    NetAddress at;
    QString why;
    if (!parseNetAddress(url, &at, &why)) {
        m_errorText = why;
        m_failure = OpenFailure::NoSuchPort;
        return false;
    }
    delete m_sock;
    m_sock = new QTcpSocket(this);
    m_telnet = at.kind == NetAddress::Kind::Rfc2217;
    m_codec = Rfc2217Codec();
    m_serverText.clear();
    m_onlyText = true;
    m_purgeWanted = false;
    const auto fail = [this](const QString &reason, OpenFailure failure) {
        m_errorText = reason;
        m_failure = failure;
        m_sock->disconnect(this);
        m_sock->abort();
        m_sock->deleteLater();
        m_sock = nullptr;
        // A host that cannot be found is no port at all (NoSuchPort); one
        // that does not answer is like a node with no device behind it
        // (NoDevice). The search passes over both.
        return false;
    };
    const QDeadlineTimer deadline(m_connectMs);
    if (m_probe && m_probeFor == url && m_probe->state() == QAbstractSocket::ConnectedState) {
        // The connection that told reconnecting the server is back: a second
        // one right after it closed may be turned away by the server.
        delete m_sock;
        m_sock = m_probe;
        m_probe = nullptr;
        m_probeFor.clear();
    } else {
        dropProbe();
        m_sock->connectToHost(at.host, at.port);
    }
    if (m_sock->state() != QAbstractSocket::ConnectedState
        && !m_sock->waitForConnected(int(deadline.remainingTime()))) {
        const auto err = m_sock->error();
        if (err == QAbstractSocket::SocketTimeoutError || m_sock->state() != QAbstractSocket::UnconnectedState)
            return fail(QStringLiteral("no connection within %1 s").arg(m_connectMs / 1000.0), OpenFailure::NoDevice);
        return fail(m_sock->errorString(),
                    err == QAbstractSocket::HostNotFoundError ? OpenFailure::NoSuchPort : OpenFailure::NoDevice);
    }
    m_sock->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_telnet) {
        // The server must take up the COM-PORT-OPTION before the line is
        // ours; its answer sets the far port's line.
        m_sock->write(Rfc2217Codec::opening());
        // A connection taken over from reconnecting may hold what the server
        // said first.
        QByteArray early = m_sock->bytesAvailable() > 0 ? takeNet() : QByteArray();
        while (m_codec.state() == Rfc2217Codec::State::Negotiating) {
            if (deadline.hasExpired() || !m_sock->waitForReadyRead(int(deadline.remainingTime())))
                break;
            early += takeNet();
        }
        // A server that cannot open its device may still agree first; the
        // words it sent and its closing tell.
        if (m_sock->state() == QAbstractSocket::ConnectedState && m_sock->bytesAvailable() == 0)
            m_sock->waitForReadyRead(0);
        early += takeNet();
        const QString said = serverWords(m_serverText);
        if (!said.isEmpty() && m_sock->state() != QAbstractSocket::ConnectedState)
            return fail(netLoss(QString()), OpenFailure::NoDevice);
        if (m_codec.state() == Rfc2217Codec::State::Refused)
            return fail(QStringLiteral("the server refuses RFC 2217 (the COM-PORT-OPTION)"), OpenFailure::Other);
        if (m_codec.state() != Rfc2217Codec::State::Ready)
            return fail(m_sock->state() == QAbstractSocket::ConnectedState
                            ? QStringLiteral("the server did not take up RFC 2217 within %1 s").arg(m_connectMs / 1000.0)
                            : netLoss(m_sock->errorString()),
                        OpenFailure::NoDevice);
        // Whatever the device sent before the line was set up is not kept.
        m_sock->write(Rfc2217Codec::purgeReceived());
        m_sock->flush();
    }
    m_errorText.clear();
    m_failure = OpenFailure::None;
    m_losing = false;
    connect(m_sock, &QTcpSocket::readyRead, this, &QtSerialControl::onNetReadyRead);
    // However the closing shows (the signal, or an error on a read or a
    // write), it is told the same way.
    connect(m_sock, &QTcpSocket::disconnected, this, [this] { lose(netLoss(QString())); });
    connect(m_sock, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            lose(netLoss(QString()));
        else if (e != QAbstractSocket::SocketTimeoutError && m_sock)
            lose(netLoss(m_sock->errorString()));
    });
    return true;
}

QByteArray QtSerialControl::takeNet()
{
    if (!m_sock)
        return {};
    const QByteArray raw = readWaiting(m_sock);
    if (raw.isEmpty())
        return {};
    if (!m_telnet) {
        noteNet(raw);
        return raw;
    }
    const QByteArray data = m_codec.feed(raw);
    const QByteArray replies = m_codec.takeReplies();
    if (!replies.isEmpty())
        m_sock->write(replies);
    noteNet(data);
    return data;
}

void QtSerialControl::noteNet(const QByteArray &data)
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

QString QtSerialControl::netLoss(const QString &systemWords) const
{
    // ser2net answers a connection to a device it cannot open with a line
    // ("Device open failure: ...") and closes: that line is the reason.
    const QString said = m_onlyText ? serverWords(m_serverText) : QString();
    if (!said.isEmpty())
        return QCoreApplication::translate("vorn::SerialControl", "设备服务器说“%1”，然后断开了连接").arg(said);
    return systemWords.isEmpty() ? QStringLiteral("the server closed the connection") : systemWords;
}

QString QtSerialControl::serialLoss(const QString &systemWords) const
{
    // A pulled adapter takes its device node with it; Qt calls that a
    // resource error, often in no words of the system's ("Unknown error").
    const QString path = m_ports.path(commPort());
    const bool gone = (m_port && m_port->error() == QSerialPort::ResourceError) || !QFileInfo::exists(path);
    if (gone)
        return QCoreApplication::translate("vorn::SerialControl", "设备已不在：%1 被拔出或挂断").arg(path);
    return systemWords;
}

void QtSerialControl::onNetReadyRead()
{
    if (!m_sock || m_losing)
        return;
    for (;;) {
        const QByteArray bytes = m_sock && !m_losing ? takeNet() : QByteArray();
        if (m_sock && m_telnet && m_codec.state() == Rfc2217Codec::State::Refused) {
            lose(QStringLiteral("the server refuses RFC 2217 (the COM-PORT-OPTION)"));
            return;
        }
        if (bytes.isEmpty()) {
            if (m_sock && m_sock->bytesAvailable() > 0)
                continue;   // only Telnet commands this time
            break;
        }
        emit received(bytes);
    }
}

void QtSerialControl::purgeInput()
{
    // Sent ahead of the next request, not now: the program empties its input
    // right after a request, and the server may already hold the answer.
    if (m_sock && m_telnet)
        m_purgeWanted = true;
}

void QtSerialControl::dropProbe() const
{
    if (!m_probe)
        return;
    m_probe->abort();
    m_probe->deleteLater();
    m_probe = nullptr;
    m_probeFor.clear();
}

void QtSerialControl::close()
{
    dropProbe();
    if (m_sock) {
        m_sock->disconnect(this);
        m_sock->abort();
        m_sock->deleteLater();
        m_sock = nullptr;
    }
    if (!m_port)
        return;
    m_port->disconnect(this);
    if (m_port->isOpen())
        m_port->close();
    m_port->deleteLater();
    m_port = nullptr;
}

bool QtSerialControl::deviceExists(int port) const
{
    const QString path = m_ports.path(port);
    if (path.isEmpty())
        return false;
    // A network port is there when a connection to it gets through. Asked
    // twice a second while the line is down, this must not wait: a server
    // that drops packets would hold the window for the whole connect timeout
    // at each try. So a connection is made in the background, and the port is
    // there once it has got through; open() takes that connection over.
    if (isNetworkName(path)) {
        NetAddress at;
        QString why;
        if (!parseNetAddress(path, &at, &why))
            return false;
        if (m_probe && m_probeFor == path) {
            const auto state = m_probe->state();
            if (state == QAbstractSocket::ConnectedState)
                return true;
            if (state != QAbstractSocket::UnconnectedState
                && QDateTime::currentMSecsSinceEpoch() - m_probeSince < m_connectMs)
                return false;
        }
        dropProbe();
        m_probe = new QTcpSocket(const_cast<QtSerialControl *>(this));
        m_probeFor = path;
        m_probeSince = QDateTime::currentMSecsSinceEpoch();
        m_probe->connectToHost(at.host, at.port);
        return false;
    }
#ifdef Q_OS_WIN
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (info.portName().compare(path, Qt::CaseInsensitive) == 0)
            return true;
    return false;
#else
    return QFileInfo::exists(path);
#endif
}

QString QtSerialControl::adapterSerial(int port) const
{
    // Asked of the system each time: the list made at start-up knows the
    // adapter that was there then, not the one there now. A path given as a
    // link (/dev/serial/by-id/...) is looked up by the device it leads to.
    const QString path = m_ports.path(port);
    if (path.isEmpty() || isNetworkName(path))
        return {};
    const QString real = QFileInfo(path).canonicalFilePath();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString at = info.systemLocation();
        if (at == path || (!real.isEmpty() && at == real) || info.portName().compare(path, Qt::CaseInsensitive) == 0)
            return info.serialNumber();
    }
    return {};
}

bool QtSerialControl::output(const QByteArray &frame)
{
    if (!isOpen() || m_losing) {
        m_errorText = m_losing ? m_lossReason : QStringLiteral("port not open");
        return false;
    }
    takeWaiting();
    if (m_sock) {
        if (m_losing || !m_sock) {
            m_errorText = m_lossReason;
            return false;
        }
        QByteArray out = m_telnet ? Rfc2217Codec::escape(frame) : frame;
        if (m_purgeWanted) {
            out.prepend(Rfc2217Codec::purgeReceived());
            m_purgeWanted = false;
        }
        if (m_sock->write(out) != out.size()) {
            m_errorText = netLoss(m_sock->errorString());
            lose(m_errorText);
            return false;
        }
        m_sock->flush();
        return true;
    }
    const qint64 n = m_port->write(frame);
    if (n != frame.size()) {
        m_errorText = serialLoss(m_port->errorString());
        lose(m_errorText);
        return false;
    }
    // Hand the bytes to the driver now: a hung-up line shows here, and the
    // frame leaves whole before any later event is handled.
    m_port->flush();
    if (m_port->error() == QSerialPort::WriteError || m_port->error() == QSerialPort::ResourceError) {
        m_errorText = serialLoss(m_port->errorString());
        lose(m_errorText);
        return false;
    }
    return true;
}

bool QtSerialControl::waitForSent(int msecs)
{
    if (!isOpen() || m_losing)
        return false;
    const QDeadlineTimer deadline(msecs);
    if (m_sock) {
        while (m_sock && m_sock->bytesToWrite() > 0) {
            if (deadline.hasExpired() || !m_sock->waitForBytesWritten(int(deadline.remainingTime())))
                break;
        }
        return m_sock && m_sock->bytesToWrite() == 0;
    }
    while (m_port->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !m_port->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    if (!m_port || m_port->bytesToWrite() > 0)
        return false;
#ifdef Q_OS_UNIX
    // Closing restores the port's former settings at once; the driver must
    // have sent the frame by then.
    int queued = 0;
    while (::ioctl(int(m_port->handle()), TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
#endif
    return true;
}

void QtSerialControl::takeWaiting()
{
    // What the driver and the port object hold arrived before the request
    // about to be written: hand it up now, so that the session sees it as
    // what came before the request.
    if (m_sock) {
        for (int i = 0; i < 64 && m_sock && !m_losing; ++i) {
            const bool more = m_sock->waitForReadyRead(0);
            const QByteArray bytes = takeNet();
            if (!bytes.isEmpty())
                emit received(bytes);
            if (!more)
                break;
        }
        return;
    }
    for (int i = 0; i < 64 && m_port && !m_losing; ++i) {
        const bool more = m_port->waitForReadyRead(0);
        const QByteArray bytes = m_port ? takeBuffered(m_port) : QByteArray();
        if (!bytes.isEmpty())
            emit received(bytes);
        if (!more)
            break;
    }
    if (m_port && m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
}

void QtSerialControl::onReadyRead()
{
    if (!m_port || m_losing)
        return;
    // A receiver that waits in a nested event loop (a modal box) gets no
    // second readyRead for what arrives meanwhile: the port object keeps
    // it, and it is handed up here once the receiver returns.
    for (;;) {
        const QByteArray bytes = m_port && !m_losing ? takeBuffered(m_port) : QByteArray();
        if (bytes.isEmpty())
            break;
        emit received(bytes);
    }
}

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        lose(serialLoss(m_port ? m_port->errorString() : QString()));
        break;
    default:
        // NoError on every opening, NotOpenError on closing a closed port,
        // timeouts: none of them means the line is gone.
        break;
    }
}

void QtSerialControl::lose(const QString &reason)
{
    // A hung-up line makes Qt 6.4 report read errors in a storm; close once,
    // from the event loop, not from inside the error signal.
    if (m_losing)
        return;
    m_losing = true;
    m_lossReason = reason;
    QMetaObject::invokeMethod(this, [this, reason] {
        if (!m_port && !m_sock)
            return;
        m_errorText = reason;
        close();
        emit portLost(reason);
    }, Qt::QueuedConnection);
}

}  // namespace vorn
