#pragma once
// The line to a serial device through QSerialPort. It opens at once: opened()
// or openFailed() comes from inside open().

#include "link/line.h"

#include <QSerialPort>

namespace vorn {

class SerialPortLine : public Line
{
    Q_OBJECT
public:
    explicit SerialPortLine(QObject *parent = nullptr);
    ~SerialPortLine() override;

    void open(const QString &path) override;
    void close() override;
    bool isOpen() const override;
    bool write(const QByteArray &frame) override;
    void discardInput() override;
    bool waitUntilWritten(int msecs) override;
    bool present(const QString &path) const override;
    QString adapterSerial(const QString &path) const override;

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void lose(const QString &reason);
    // Why the line went: the system's words, or that the device is gone.
    QString lossReason(const QString &systemWords) const;

    QSerialPort *m_port = nullptr;
    QString m_path;
    bool m_losing = false;
};

// The USB serial number of the adapter behind one device path, read from
// what the system tells of that one device (on Linux its sysfs entry), not
// from a walk over every port; "" when there is none.
QString usbSerialOf(const QString &path);

}  // namespace vorn
