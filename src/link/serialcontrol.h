#pragma once
// The byte transport below the session: every byte to and from the device
// goes through here.
//
// It opens and closes a port, writes whole frames and hands up every chunk of
// bytes it receives, as it comes; it knows nothing of frames, replies or what
// a request expects. The real implementation sits on QSerialPort; tests use
// the in-memory FakeSerialControl.
//
// output() first hands up whatever arrived before it (what the port object
// and the driver hold), then writes: everything received() delivers after an
// output() arrived after that request went out. received() is emitted from
// the event loop or from inside output(), never from inside another call.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace vorn {

class SerialControl : public QObject
{
    Q_OBJECT
public:
    // Why the last open() failed: the one error kind of the transport. The
    // system's own words for it are in errorText().
    enum class OpenFailure {
        None,
        NoSuchPort,         // no device at that path, or no such port number
        InUse,              // another program holds the port (or this control has it open)
        PermissionDenied,   // this user may not open the device
        NoDevice,           // the node exists but nothing answers: an input/output error
        Other,              // anything else
    };

    using QObject::QObject;
    ~SerialControl() override = default;

    void setCommPort(int port) { m_port = port; }
    int commPort() const { return m_port; }

    // Opens the selected port; the line is always 38400 baud, 8 data bits, no
    // parity, 1 stop bit. False when it did not open: lastFailure() says why
    // and errorText() holds the system's own words.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    QString errorText() const { return m_errorText; }
    OpenFailure lastFailure() const { return m_failure; }
    // The device path behind a port number ("" when there is none).
    virtual QString devicePath(int port) const = 0;
    // Whether the device behind a port number is there now (an adapter that
    // was pulled is not), without opening it.
    virtual bool deviceExists(int port) const = 0;
    // The USB serial number of the adapter behind a port number, as the
    // system reports it now; "" when it reports none (no USB adapter, a
    // pseudo-terminal, or not yet).
    virtual QString adapterSerial(int port) const
    {
        Q_UNUSED(port);
        return {};
    }

    // Writes the whole frame. False when the port is closed or the write
    // failed; then nothing (or not all) went out and errorText() says why.
    virtual bool output(const QByteArray &frame) = 0;
    // Gives a port number a name of the operator's, a network URL; "" gives
    // it back its own device. Takes effect at the next open().
    virtual void setPortName(int port, const QString &name)
    {
        Q_UNUSED(port);
        Q_UNUSED(name);
    }
    // The program has just thrown away what it received: a transport with
    // buffers of its own far away (a device server) may empty them too.
    virtual void purgeInput() {}

signals:
    // Bytes from the device, in the order they came.
    void received(const QByteArray &bytes);
    // The open port failed underneath us (adapter pulled, line hung up).
    // Raised once; the port is already closed when it arrives.
    void portLost(const QString &reason);

protected:
    QString m_errorText;
    OpenFailure m_failure = OpenFailure::None;

private:
    int m_port = 1;
};

// Who holds a serial device locked, as the lock file that QSerialPort (and
// other programs through QLockFile or the UUCP convention) leave in the lock
// folders names it: "被 rt8ctl 占用（进程 4242）", translated. Empty when no
// lock file names a holder. lockFolders: where to look, the system's by
// default (/var/lock, /run/lock, the temporary folder ...).
QString lockHolder(const QString &path, const QStringList &lockFolders = {});

// The words a device server said on a connection before closing it (ser2net:
// "Device open failure: ..."), when the bytes are such words: printable text
// holding a word of letters, no more than a few lines. Empty otherwise (a
// device's replies and records are not).
QString serverWords(const QByteArray &bytes);

// What to tell a user who may not open a serial device: the device, the
// system's reason and how to get the right (on Linux, the dialout group).
QString permissionAdvice(const QString &path, const QString &reason);

}  // namespace vorn
