#include "link/serialportline.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifndef Q_OS_LINUX
#include <QSerialPortInfo>
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
static QByteArray readWaiting(QSerialPort *port)
{
    const qint64 waiting = port->bytesAvailable();
    if (waiting <= 0)
        return QByteArray();
    QByteArray bytes(waiting, Qt::Uninitialized);
    const qint64 n = port->read(bytes.data(), waiting);
    bytes.truncate(std::max<qint64>(n, 0));
    return bytes;
}

SerialPortLine::SerialPortLine(QObject *parent) : Line(parent) {}

SerialPortLine::~SerialPortLine()
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

void SerialPortLine::open(const QString &path)
{
    if (isOpen())
        return fail(OpenFailure::InUse, QStringLiteral("port already open"));
    close();
    m_path = path;
    m_port = new QSerialPort(this);
    m_port->setPortName(path);
    setLine(*m_port);
    m_port->setReadBufferSize(0);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const auto err = m_port->error();
        QString text = m_port->errorString();
        delete m_port;
        m_port = nullptr;
        OpenFailure kind = OpenFailure::Other;
        switch (err) {
        case QSerialPort::DeviceNotFoundError:
            kind = OpenFailure::NoSuchPort;
            break;
        case QSerialPort::PermissionError:
            // Both another program's lock and a device this user may not
            // open end here; the device's own permissions tell them apart.
            // A lock is told by its holder, not as a permission.
            kind = mayOpen(path) ? OpenFailure::InUse : OpenFailure::PermissionDenied;
            if (kind == OpenFailure::InUse) {
                const QString holder = lockHolder(path);
                text = !holder.isEmpty()
                           ? holder
                           : QCoreApplication::translate("vorn::Line", "被另一个程序占用（%1）").arg(text);
            }
            break;
        case QSerialPort::ResourceError:
            // EIO and the like: a serial node with no hardware behind it.
            kind = OpenFailure::NoDevice;
            break;
        default:
            break;
        }
        return fail(kind, text);
    }
    m_errorText.clear();
    m_losing = false;
    connect(m_port, &QSerialPort::readyRead, this, &SerialPortLine::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialPortLine::onError);
    emit opened();
}

bool SerialPortLine::isOpen() const
{
    return m_port && m_port->isOpen();
}

void SerialPortLine::close()
{
    if (!m_port)
        return;
    m_port->disconnect(this);
    if (m_port->isOpen())
        m_port->close();
    m_port->deleteLater();
    m_port = nullptr;
}

bool SerialPortLine::present(const QString &path) const
{
    if (path.isEmpty())
        return false;
#ifdef Q_OS_WIN
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (info.portName().compare(path, Qt::CaseInsensitive) == 0)
            return true;
    return false;
#else
    return QFileInfo::exists(path);
#endif
}

QString usbSerialOf(const QString &path)
{
#ifdef Q_OS_LINUX
    // /sys/class/tty/ttyUSB0/device leads into the USB device's tree; the
    // first folder above it that holds both idVendor and serial is the
    // adapter. A path given as a link (/dev/serial/by-id/...) is looked up by
    // the device it leads to; a pseudo-terminal has no device folder.
    const QString real = QFileInfo(path).canonicalFilePath();
    if (real.isEmpty())
        return {};
    const QString node = QFileInfo(real).fileName();
    QString at = QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(node)).canonicalFilePath();
    for (int up = 0; up < 8 && at.startsWith(QLatin1String("/sys/")); ++up) {
        const QDir dir(at);
        if (dir.exists(QStringLiteral("idVendor")) && dir.exists(QStringLiteral("serial"))) {
            QFile f(dir.filePath(QStringLiteral("serial")));
            if (!f.open(QIODevice::ReadOnly))
                return {};
            return QString::fromUtf8(f.readAll()).trimmed();
        }
        at = QFileInfo(at).path();
    }
    return {};
#else
    const QString real = QFileInfo(path).canonicalFilePath();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString at = info.systemLocation();
        if (at == path || (!real.isEmpty() && at == real) || info.portName().compare(path, Qt::CaseInsensitive) == 0)
            return info.serialNumber();
    }
    return {};
#endif
}

QString SerialPortLine::adapterSerial(const QString &path) const
{
    // Asked of the system each time: what was known at start-up is the
    // adapter that was there then, not the one there now.
    return path.isEmpty() ? QString() : usbSerialOf(path);
}

void SerialPortLine::discardInput()
{
    if (!isOpen() || m_losing)
        return;
    // The port object's buffer and the driver's queue both.
    m_port->clear(QSerialPort::Input);
}

bool SerialPortLine::write(const QByteArray &frame)
{
    if (!isOpen() || m_losing) {
        if (!m_losing)
            m_errorText = QStringLiteral("port not open");
        return false;
    }
    const qint64 n = m_port->write(frame);
    if (n != frame.size()) {
        lose(lossReason(m_port->errorString()));
        return false;
    }
    // Hand the bytes to the driver now: a hung-up line shows here, and the
    // frame leaves whole before any later event is handled.
    m_port->flush();
    if (m_port->error() == QSerialPort::WriteError || m_port->error() == QSerialPort::ResourceError) {
        lose(lossReason(m_port->errorString()));
        return false;
    }
    return true;
}

bool SerialPortLine::waitUntilWritten(int msecs)
{
    if (!isOpen() || m_losing)
        return false;
    const QDeadlineTimer deadline(msecs);
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

void SerialPortLine::onReadyRead()
{
    if (!m_port || m_losing)
        return;
    for (;;) {
        const QByteArray bytes = m_port && !m_losing ? readWaiting(m_port) : QByteArray();
        if (bytes.isEmpty())
            break;
        emit received(bytes);
    }
}

void SerialPortLine::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        lose(lossReason(m_port ? m_port->errorString() : QString()));
        break;
    default:
        // NoError on every opening, NotOpenError on closing a closed port,
        // timeouts: none of them means the line is gone.
        break;
    }
}

QString SerialPortLine::lossReason(const QString &systemWords) const
{
    // A pulled adapter takes its device node with it; Qt calls that a
    // resource error, often in no words of the system's ("Unknown error").
    const bool gone = (m_port && m_port->error() == QSerialPort::ResourceError) || !QFileInfo::exists(m_path);
    if (gone)
        return QCoreApplication::translate("vorn::Line", "设备已不在：%1 被拔出或挂断").arg(m_path);
    return systemWords;
}

void SerialPortLine::lose(const QString &reason)
{
    // A hung-up line makes Qt 6.4 report read errors in a storm; close once,
    // from the event loop, not from inside the error signal.
    m_errorText = reason;
    if (m_losing)
        return;
    m_losing = true;
    QMetaObject::invokeMethod(this, [this, reason] {
        if (!m_port)
            return;
        m_errorText = reason;
        close();
        emit lost(reason);
    }, Qt::QueuedConnection);
}

}  // namespace vorn
