#pragma once
// A real ser2net in front of a pseudo-terminal, for the end-to-end tests and
// the network latency benchmark.

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

#include "support/processrun.h"

namespace vorn::test {

inline constexpr int kSer2netBound = 20000;

// A ser2net serving one pseudo-terminal on 127.0.0.1 at a free port; it can
// be killed and started again on the same port.
class Ser2net
{
public:
    // chardelay false: ser2net passes on what it reads at once instead of
    // waiting for more characters first (at least 1 ms).
    Ser2net(const QString &device, bool telnet, bool chardelay = true)
        : m_device(device), m_telnet(telnet), m_chardelay(chardelay)
    {
        // Another test's request for any free port never lands on this
        // one while ser2net is down between a kill and its start.
        m_port = quint16(stablePort());
        start();
    }
    ~Ser2net() { kill(); }

    QString url() const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(m_telnet ? "rfc2217" : "tcp").arg(m_port);
    }
    bool start()
    {
        QFile f(m_dir.filePath(QStringLiteral("ser2net.yaml")));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(QStringLiteral("connection: &rt8\n"
                               "  accepter: %1tcp,127.0.0.1,%2\n"
                               "  connector: serialdev,%3,38400n81,local\n"
                               "  options:\n"
                               "    kickolduser: true\n%4")
                    .arg(m_telnet ? QStringLiteral("telnet(rfc2217),") : QString())
                    .arg(m_port)
                    .arg(m_device)
                    .arg(m_chardelay ? QString() : QStringLiteral("    chardelay: false\n"))
                    .toUtf8());
        f.close();
        m_proc.setProcessChannelMode(QProcess::MergedChannels);
        m_proc.start(QStringLiteral("ser2net"), {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                                                 f.fileName(), QStringLiteral("-P"),
                                                 m_dir.filePath(QStringLiteral("pid"))});
        if (!m_proc.waitForStarted(kSer2netBound))
            return false;
        // Listening once a connection is taken (it opens the device and is
        // closed again at once).
        return QTest::qWaitFor([this] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            const bool up = s.waitForConnected(1000);
            s.abort();
            return up;
        }, kSer2netBound);
    }
    void kill()
    {
        if (m_proc.state() == QProcess::NotRunning)
            return;
        m_proc.kill();
        m_proc.waitForFinished(kSer2netBound);
    }
    QString output() { return QString::fromUtf8(m_proc.readAll()); }

private:
    QTemporaryDir m_dir;
    QString m_device;
    bool m_telnet;
    bool m_chardelay;
    quint16 m_port = 0;
    QProcess m_proc;
};

}  // namespace vorn::test
