#pragma once
// The simulator's end of the serial line: a pseudo-terminal it creates
// itself (PtyLine) or an existing serial port (SerialPortLine).
//
// Output is queued: write() never blocks and the bytes go out as the line
// takes them. drained() is raised from the event loop (never from inside
// write()) when output that had to wait has gone out. While the line is
// closed (unplugged) written bytes are thrown away, as they would be on a
// pulled adapter.

#include <QByteArray>
#include <QObject>
#include <QString>

class QSerialPort;
class QSocketNotifier;

namespace rt8sim {

class Line : public QObject
{
    Q_OBJECT
public:
    // More queued output than this and new writes are thrown away: nobody
    // is reading the other side.
    static constexpr qint64 kMaxPending = 1 << 20;

    using QObject::QObject;
    ~Line() override = default;

    // Opens (or, after close(), reopens) the line. False with a reason in
    // *error (error may be null).
    virtual bool open(QString *error) = 0;
    // Closes the line as a pulled adapter would.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // What a client opens: the pseudo-terminal's device path, or the port name.
    virtual QString portName() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Bytes queued but not yet taken by the system.
    virtual qint64 pendingBytes() const = 0;

signals:
    void received(const QByteArray &bytes);
    void drained();
    void log(const QString &line);
};

#ifdef Q_OS_UNIX

// A pseudo-terminal in raw mode at 38400 baud. The simulator keeps the
// terminal side open itself, so the controlling side never sees a hang-up
// while no client has it open.
class PtyLine : public Line
{
    Q_OBJECT
public:
    explicit PtyLine(QObject *parent = nullptr);
    ~PtyLine() override;

    bool open(QString *error) override;
    void close() override;
    bool isOpen() const override { return m_master >= 0; }
    QString portName() const override { return m_slaveName; }
    void write(const QByteArray &bytes) override;
    qint64 pendingBytes() const override { return m_out.size(); }

private:
    void readMaster();
    void flush();

    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
    QByteArray m_out;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    bool m_overflowLogged = false;
};
#endif

// One end of a null-modem pair (or a real adapter) at 38400 baud, 8N1.
class SerialPortLine : public Line
{
    Q_OBJECT
public:
    explicit SerialPortLine(const QString &name, QObject *parent = nullptr);
    ~SerialPortLine() override;

    bool open(QString *error) override;
    void close() override;
    bool isOpen() const override;
    QString portName() const override { return m_name; }
    void write(const QByteArray &bytes) override;
    qint64 pendingBytes() const override;

private:
    QString m_name;
    QSerialPort *m_port;
    bool m_closing = false;
    bool m_overflowLogged = false;
};

}  // namespace rt8sim
