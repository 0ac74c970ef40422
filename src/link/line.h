#pragma once
// One line to the device: every byte to and from it goes through here. A line
// per kind, each in its own files: SerialPortLine (QSerialPort) and
// NetworkLine (tcp:// and rfc2217:// over QTcpSocket); tests use FakeLine.
//
// A line opens a device path or URL, writes whole frames, throws away what
// came in before a request when asked (discardInput(), right before the
// request is written) and hands up every chunk of bytes it receives, as it
// comes, from the event loop. It knows nothing of port numbers, frames,
// replies or what a request expects.
//
// Opening may take a while (a network line connects and sets up the far
// port): open() returns at once, and opened() or openFailed() follows, from
// inside open() or later. The caller's thread never waits on a socket.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace vorn {

class Line : public QObject
{
    Q_OBJECT
public:
    // Why an opening failed: the one error kind of the link. The system's
    // own words for it come with it.
    enum class OpenFailure {
        None,
        NoSuchPort,         // no device at that path, no such host, not a port name
        InUse,              // another program holds the port (or this line is open)
        PermissionDenied,   // this user may not open the device
        NoDevice,           // the node exists but nothing answers: an input/output error, no connection
        Other,              // anything else
    };
    Q_ENUM(OpenFailure)

    using QObject::QObject;
    ~Line() override = default;

    // Opens the line to a device path or URL; for a serial device 38400 baud,
    // 8 data bits, no parity, 1 stop bit. opened() or openFailed() follows.
    virtual void open(const QString &name) = 0;
    // Closes the line (an opening under way is given up, told by nothing).
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // An open() whose outcome is not told yet.
    virtual bool isOpening() const { return false; }
    // Writes the whole frame. False when the line is not open or the write
    // failed; then nothing (or not all) went out and errorText() says why.
    virtual bool write(const QByteArray &frame) = 0;
    // Throws away what came in and was not handed up yet, here and, where
    // the line can ask for it, far away (a device server's buffer): called
    // right before a request whose answer must stand alone is written.
    virtual void discardInput() = 0;
    // Waits until every byte written has left the program and the driver,
    // at most msecs. False when some bytes still wait (or the line is not
    // open). A front end that ends right after a request calls this before
    // closing.
    virtual bool waitUntilWritten(int msecs) = 0;
    // Whether the device behind a name is there now, without opening it (an
    // adapter that was pulled is not; a network port is tried by opening).
    virtual bool present(const QString &name) const = 0;
    // The USB serial number of the adapter behind a device path, as the
    // system reports it now; "" when it reports none (no USB adapter, a
    // pseudo-terminal, a network port, or not yet).
    virtual QString adapterSerial(const QString &name) const
    {
        Q_UNUSED(name);
        return {};
    }
    // The system's words for the last failure (opening, writing, the loss).
    QString errorText() const { return m_errorText; }

signals:
    // Bytes from the device, in the order they came.
    void received(const QByteArray &bytes);
    // The open line failed underneath us (adapter pulled, line hung up, the
    // server closed). Raised once; the line is already closed when it arrives.
    void lost(const QString &reason);
    void opened();
    void openFailed(vorn::Line::OpenFailure kind, const QString &text);

protected:
    // Tells a failed opening (errorText() holds the words).
    void fail(OpenFailure kind, const QString &text)
    {
        m_errorText = text;
        emit openFailed(kind, text);
    }
    QString m_errorText;
};

// The line of the kind a device path or URL needs: a NetworkLine for a
// network URL, a SerialPortLine otherwise.
std::unique_ptr<Line> makeLine(const QString &name);

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

Q_DECLARE_METATYPE(vorn::Line::OpenFailure)
