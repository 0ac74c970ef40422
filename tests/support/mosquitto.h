#pragma once
// A real mosquitto on 127.0.0.1 at a port of its own, and mosquitto_sub on
// it, for the gateway's end-to-end tests and benchmarks. The programs are
// the ones CMake found (MOSQUITTO_EXE, MOSQUITTO_SUB_EXE, MOSQUITTO_PUB_EXE)
// where the including target defines them, else found on the PATH and in
// /usr/sbin.

#include "support/processrun.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

namespace vorn::test {

inline constexpr int kBrokerBound = 30000;   // for the broker to listen on a busy machine

inline QString mosquittoProgram(const QString &name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    return found.isEmpty() ? name : found;
}

#ifdef MOSQUITTO_EXE
inline QString mosquittoExe() { return QStringLiteral(MOSQUITTO_EXE); }
#else
inline QString mosquittoExe() { return mosquittoProgram(QStringLiteral("mosquitto")); }
#endif
#ifdef MOSQUITTO_SUB_EXE
inline QString mosquittoSubExe() { return QStringLiteral(MOSQUITTO_SUB_EXE); }
#else
inline QString mosquittoSubExe() { return mosquittoProgram(QStringLiteral("mosquitto_sub")); }
#endif
#ifdef MOSQUITTO_PUB_EXE
inline QString mosquittoPubExe() { return QStringLiteral(MOSQUITTO_PUB_EXE); }
#else
inline QString mosquittoPubExe() { return mosquittoProgram(QStringLiteral("mosquitto_pub")); }
#endif

// mosquitto on 127.0.0.1 at a free port, without persistence unless extra
// (lines added to its configuration) asks for it; it can be stopped
// (proc.end()) and started again on the same port (a stablePort(), which no
// program asking the system for any free port is given meanwhile).
struct Broker
{
    QTemporaryDir dir;
    int port = stablePort();
    QString extra;
    Process proc;

    // Started and listening (false when it did not listen within the bound).
    bool start()
    {
        QFile f(dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n%2").arg(port).arg(extra).toUtf8());
        f.close();
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.start(mosquittoExe(), {QStringLiteral("-c"), f.fileName()});
        return QTest::qWaitFor([this] { return listening(port) || proc.state() == QProcess::NotRunning; }, kBrokerBound)
               && proc.state() != QProcess::NotRunning;
    }
    // mosquitto_pub at QoS 1, to its end.
    bool publish(const QString &topic, const QByteArray &payload, bool retain = false)
    {
        QProcess p;
        QStringList args{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port),
                         QStringLiteral("-q"),  QStringLiteral("1"),         QStringLiteral("-t"), topic,
                         QStringLiteral("-m"),  QString::fromUtf8(payload)};
        if (retain)
            args << QStringLiteral("-r");
        p.start(mosquittoPubExe(), args);
        return p.waitForFinished(kBrokerBound) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
};

// mosquitto_sub at QoS 1 on the filters, a line per message in format
// ("%t %p": the topic, a space and the payload; an empty payload leaves the
// topic and the space).
struct Subscriber : Process
{
    Subscriber(int port, const QStringList &filters, const QString &format = QStringLiteral("%t %p"))
    {
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port),
                         QStringLiteral("-q"), QStringLiteral("1"),         QStringLiteral("-F"), format};
        for (const QString &f : filters)
            args << QStringLiteral("-t") << f;
        start(mosquittoSubExe(), args);
    }
    Subscriber(int port, const QString &filter) : Subscriber(port, QStringList{filter}) {}

    // The payloads on topic, in order.
    QStringList on(const QString &topic) const
    {
        QStringList got;
        const QString head = topic + QLatin1Char(' ');
        for (const QString &l : out.split(QLatin1Char('\n')))
            if (l.startsWith(head) || l == topic)
                got.append(l.mid(head.size()));
        return got;
    }
    // The payloads on topic as JSON objects.
    QList<QJsonObject> values(const QString &topic) const
    {
        QList<QJsonObject> got;
        for (const QString &p : on(topic))
            got.append(QJsonDocument::fromJson(p.toUtf8()).object());
        return got;
    }
    // Every topic seen that starts with head.
    QStringList topics(const QString &head) const
    {
        QStringList got;
        for (const QString &l : out.split(QLatin1Char('\n')))
            if (l.startsWith(head))
                got.append(l.section(QLatin1Char(' '), 0, 0));
        return got;
    }
};

}  // namespace vorn::test
