#pragma once
// A running rt8sim for end-to-end tests: its port, its log, its keyboard.

#include <QProcess>
#include <QStringList>
#include <QTest>

class SimProcess
{
public:
    explicit SimProcess(QStringList args = {})
    {
        m_proc.setProgram(QStringLiteral(RT8SIM_EXE));
        m_proc.setArguments(QStringList{QStringLiteral("--exit-after"), QStringLiteral("300")} + args);
        QObject::connect(&m_proc, &QProcess::readyReadStandardError, [this] {
            m_log += QString::fromUtf8(m_proc.readAllStandardError());
        });
        m_proc.start();
    }
    ~SimProcess()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(3000))
                m_proc.kill();
            m_proc.waitForFinished(3000);
        }
    }

    // The device side of its line, from its first line of output.
    QString port()
    {
        if (m_port.isEmpty()) {
            QElapsedTimer t;
            t.start();
            while (!m_proc.canReadLine() && t.elapsed() < 10000)
                m_proc.waitForReadyRead(100);
            const QString line = QString::fromUtf8(m_proc.readLine()).trimmed();
            if (line.startsWith(QLatin1String("port: ")))
                m_port = line.mid(6);
        }
        return m_port;
    }

    void type(const QString &line) { m_proc.write((line + QLatin1Char('\n')).toUtf8()); }
    QString log() const { return m_log; }
    // The log lines that start with prefix.
    QStringList logLines(const QString &prefix) const
    {
        QStringList out;
        for (const QString &l : m_log.split(QLatin1Char('\n')))
            if (l.contains(prefix))
                out.append(l);
        return out;
    }
    QProcess &process() { return m_proc; }

private:
    QProcess m_proc;
    QString m_port;
    QString m_log;
};
