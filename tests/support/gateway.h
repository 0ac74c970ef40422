#pragma once
// rt8gw as the gateway's end-to-end tests start it: a configuration written
// from a list of devices, the built program (RT8GW_EXE) on it, and the sets of
// values a simulator logged as sent, to compare with what the gateway shows.

#include "protocol/reply.h"
#include "support/processrun.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

namespace vorn::test {

struct GwDevice
{
    QString name;
    QString port;
    int address = 1;
    QString mode = QStringLiteral("raw");
    int unit = 0;   // 0: none given
};

// The configuration as JSON text: a broker at 127.0.0.1:brokerPort (none
// when 0) with prefix plant/rt8 and brokerMore's keys, the devices, and
// more's keys at the top.
inline QString gatewayConfig(int brokerPort, const QList<GwDevice> &devices, const QJsonObject &more = {},
                             const QJsonObject &brokerMore = {})
{
    QJsonArray list;
    for (const GwDevice &d : devices) {
        QJsonObject o{{"name", d.name}, {"port", d.port}, {"address", d.address}, {"mode", d.mode}};
        if (d.unit)
            o.insert("unit", d.unit);
        list.append(o);
    }
    QJsonObject root{{"devices", list}};
    if (brokerPort) {
        QJsonObject broker{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(brokerPort)}, {"prefix", "plant/rt8"}};
        for (auto it = brokerMore.begin(); it != brokerMore.end(); ++it)
            broker.insert(it.key(), it.value());
        root.insert("broker", broker);
    }
    for (auto it = more.begin(); it != more.end(); ++it)
        root.insert(it.key(), it.value());
    return QString::fromUtf8(QJsonDocument(root).toJson());
}

#ifdef RT8GW_EXE
// rt8gw on config (written to file in dir), in English, with more
// arguments; through the programs in via where given (setpriv ... to run it
// as another user). Ended with the test while err is still there to take
// its last words.
struct GatewayProcess : Process
{
    GatewayProcess() = default;
    GatewayProcess(const QTemporaryDir &dir, const QString &config, const QStringList &more = {},
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                   const QString &file = QStringLiteral("rt8gw.json"))
    {
        launch(dir, config, more, env, file);
    }
    void launch(const QTemporaryDir &dir, const QString &config, const QStringList &more = {},
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                const QString &file = QStringLiteral("rt8gw.json"), const QStringList &via = {})
    {
        QFile f(dir.filePath(file));
        if (f.open(QIODevice::WriteOnly))
            f.write(config.toUtf8());
        f.close();
        setProcessEnvironment(env);
        const QStringList args = QStringList{QStringLiteral("--config"), f.fileName(), QStringLiteral("--lang"),
                                             QStringLiteral("en")} + more;
        if (via.isEmpty())
            start(QStringLiteral(RT8GW_EXE), args);
        else
            start(via.first(), via.mid(1) + QStringList{QStringLiteral(RT8GW_EXE)} + args);
    }
};
#endif

// The sets of values a simulator (SimProcess) logged as sent, oldest first:
// raw replies as numbers, target records as their fields.
template <class Sim>
QList<QStringList> sentSets(const Sim &sim)
{
    QList<QStringList> got;
    for (const QString &line : sim.logLines(QStringLiteral("sent: "))) {
        const QByteArray bytes =
            QByteArray::fromHex(line.section(QStringLiteral("sent: "), 1).remove(QLatin1Char(' ')).toLatin1());
        QStringList fields;
        if (bytes.startsWith('N')) {
            fields = QString::fromLatin1(bytes.mid(1, bytes.size() - 3)).split(QLatin1Char(','));
        } else if (bytes.size() == 28) {
            for (int v : decodeRawValues(bytes))
                fields.append(QString::number(v));
        } else {
            continue;
        }
        got.append(fields);
    }
    return got;
}

}  // namespace vorn::test
