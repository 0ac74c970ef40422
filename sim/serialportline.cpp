#include "line.h"

#include <QSerialPort>
#include <QTimer>

namespace rt8sim {

SerialPortLine::SerialPortLine(const QString &name, QObject *parent)
    : Line(parent), m_name(name), m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, [this] { emit received(m_port->readAll()); });
    connect(m_port, &QSerialPort::bytesWritten, this, [this] {
        if (m_port->bytesToWrite() == 0)
            emit drained();
    });
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError || e == QSerialPort::NotOpenError || e == QSerialPort::TimeoutError)
            return;
        if (e != QSerialPort::ReadError && e != QSerialPort::WriteError && e != QSerialPort::ResourceError)
            return;
        // The port keeps reporting the error until closed; close it once,
        // outside the signal.
        if (m_closing || !m_port->isOpen())
            return;
        m_closing = true;
        emit log(QStringLiteral("line: %1, port closed").arg(m_port->errorString()));
        QTimer::singleShot(0, this, [this] {
            m_port->close();
            m_closing = false;
        });
    });
}

SerialPortLine::~SerialPortLine()
{
    close();
}

bool SerialPortLine::open(QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    close();
    m_port->setPortName(m_name);
    m_port->setBaudRate(QSerialPort::Baud38400);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        *error = m_port->errorString();
        return false;
    }
    // Whatever came in while it was closed would have been lost on a real line.
    m_port->clear(QSerialPort::AllDirections);
    m_overflowLogged = false;
    return true;
}

void SerialPortLine::close()
{
    if (m_port->isOpen())
        m_port->close();
}

bool SerialPortLine::isOpen() const
{
    return m_port->isOpen() && !m_closing;
}

void SerialPortLine::write(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    if (m_port->bytesToWrite() + bytes.size() > kMaxPending) {
        if (!m_overflowLogged)
            emit log(QStringLiteral("line: the port does not take output, output thrown away"));
        m_overflowLogged = true;
        return;
    }
    m_overflowLogged = false;
    m_port->write(bytes);
}

qint64 SerialPortLine::pendingBytes() const
{
    return m_port->isOpen() ? m_port->bytesToWrite() : 0;
}

}  // namespace rt8sim
