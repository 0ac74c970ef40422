// rt8gw under load: four rt8sim devices each streaming raw values every
// 10 ms, through the gateway, to a subscriber (mosquitto_sub) on a mosquitto
// of its own on 127.0.0.1. Prints values lost, the gateway's share of one
// core and the latency from the gateway taking a reply to the subscriber
// receiving it. With --least, the same run with the least gateway
// (bench/least_gateway) in rt8gw's place, for the ratio of the two.
//
//   bench_gateway RT8GW RT8SIM [SECONDS] [--least LEAST_GATEWAY]
//
// The first line of the output holds the figures as key=value pairs
// (tools/bench reads them); the lines after it say the same for people.

#include "percentile.h"
#include "protocol/reply.h"
#include "support/processrun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using vorn::test::freePort;

// Processor seconds (user + system) a process has used.
double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer t(ms);
    while (!done() && !t.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

// Whether something listens on 127.0.0.1:port.
bool listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool up = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return up;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    QString leastExe;
    if (const qsizetype at = args.indexOf(QStringLiteral("--least")); at > 0 && at + 1 < args.size()) {
        leastExe = args[at + 1];
        args.remove(at, 2);
    }
    if (args.size() < 3 || args.size() > 4 || args.contains(QStringLiteral("--least"))) {
        std::fprintf(stderr, "usage: bench_gateway RT8GW RT8SIM [SECONDS] [--least LEAST_GATEWAY]\n");
        return 2;
    }
    const QString gwExe = args[1], simExe = args[2];
    const int seconds = args.value(3, QStringLiteral("60")).toInt();
    if (seconds < 1) {
        std::fprintf(stderr, "bench_gateway: SECONDS must be 1 or more\n");
        return 2;
    }
    constexpr int kDevices = 4;
    QTemporaryDir dir;

    const int port = freePort();
    QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port).toUtf8());
    conf.close();
    QProcess broker;
    broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (!broker.waitForStarted(10000)) {
        broker.setProgram(QStringLiteral("/usr/sbin/mosquitto"));
        broker.start();
    }

    std::vector<std::unique_ptr<QProcess>> sims;
    QStringList simLogs(kDevices);
    QJsonArray devices;
    for (int i = 0; i < kDevices; ++i) {
        auto p = std::make_unique<QProcess>();
        p->start(simExe, {QStringLiteral("--period"), QStringLiteral("10"), QStringLiteral("--log-sent"),
                          QStringLiteral("--no-stdin"), QStringLiteral("--exit-after"), QString::number(seconds + 120)});
        QProcess *sp = p.get();
        QObject::connect(sp, &QProcess::readyReadStandardError, [sp, i, &simLogs] {
            simLogs[i] += QString::fromLatin1(sp->readAllStandardError());
        });
        waitFor([sp] { return sp->canReadLine(); }, 10000);
        const QString path = QString::fromUtf8(sp->readLine()).trimmed().mid(6);
        devices.append(QJsonObject{{"name", QStringLiteral("dev%1").arg(i)}, {"port", path}, {"address", 1}, {"mode", "raw"}});
        sims.push_back(std::move(p));
    }
    if (!waitFor([port] { return listening(port); }, 20000)) {
        std::fprintf(stderr, "bench_gateway: mosquitto did not listen on 127.0.0.1:%d\n", port);
        return 1;
    }

    QProcess sub;
    QByteArray subOut;
    QObject::connect(&sub, &QProcess::readyReadStandardOutput, [&] { subOut += sub.readAllStandardOutput(); });
    sub.start(QStringLiteral("mosquitto_sub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                               QString::number(port), QStringLiteral("-q"), QStringLiteral("1"),
                                               QStringLiteral("-t"), QStringLiteral("bench/rt8/+/values"),
                                               QStringLiteral("-t"), QStringLiteral("bench/probe"),
                                               QStringLiteral("-F"), QStringLiteral("%U %t %p")});
    // The subscriber takes messages once a probe published after its start
    // reaches it.
    const bool subscribed = waitFor([&] {
        QProcess::execute(QStringLiteral("mosquitto_pub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                                                            QStringLiteral("-p"), QString::number(port),
                                                            QStringLiteral("-t"), QStringLiteral("bench/probe"),
                                                            QStringLiteral("-m"), QStringLiteral("probe")});
        QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
        return subOut.contains("bench/probe");
    }, 20000);
    if (!subscribed) {
        std::fprintf(stderr, "bench_gateway: mosquitto_sub took no message\n");
        return 1;
    }

    QFile cfg(dir.filePath(QStringLiteral("rt8gw.json")));
    cfg.open(QIODevice::WriteOnly);
    cfg.write(QJsonDocument(QJsonObject{{"broker", QJsonObject{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(port)},
                                                               {"prefix", "bench/rt8"}}},
                                        {"devices", devices}}).toJson());
    cfg.close();
    QProcess gw;
    gw.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (leastExe.isEmpty()) {
        gw.start(gwExe, {QStringLiteral("--config"), cfg.fileName(), QStringLiteral("--lang"), QStringLiteral("en")});
    } else {
        QStringList a{QStringLiteral("--broker"), QString::number(port), QStringLiteral("--prefix"),
                      QStringLiteral("bench/rt8")};
        for (const auto &d : std::as_const(devices))
            a << d.toObject().value("name").toString() + QLatin1Char('=') + d.toObject().value("port").toString();
        gw.start(leastExe, a);
    }
    // Measured once every device's values flow.
    const bool flowing = waitFor([&] {
        for (int i = 0; i < kDevices; ++i)
            if (!subOut.contains(QStringLiteral("bench/rt8/dev%1/values").arg(i).toUtf8()))
                return false;
        return true;
    }, 30000);
    if (!flowing)
        std::fprintf(stderr, "bench_gateway: not every device's values arrived within 30 s\n");
    const double cpu0 = cpuSeconds(gw.processId());
    QDeadlineTimer wall;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    waitFor([] { return false; }, seconds * 1000);
    const double cpu1 = cpuSeconds(gw.processId());
    const qint64 t1 = QDateTime::currentMSecsSinceEpoch();
    ::kill(pid_t(gw.processId()), SIGTERM);
    gw.waitForFinished(20000);
    waitFor([] { return false; }, 1000);
    sub.terminate();
    sub.waitForFinished(5000);
    subOut += sub.readAllStandardOutput();
    for (auto &p : sims) {
        p->terminate();
        p->waitForFinished(5000);
    }
    broker.terminate();
    broker.waitForFinished(5000);

    // Per device: what was sent (in order) and what arrived (in order).
    std::vector<qint64> latency;   // nanoseconds
    qint64 sentTotal = 0, receivedTotal = 0, lost = 0, trailing = 0, unmatched = 0;
    QList<QList<QJsonArray>> received(kDevices);
    for (const QByteArray &line : subOut.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3 || !parts[1].endsWith("/values"))   // the probe
            continue;
        const int i = parts[1].split('/').value(2).mid(3).toInt();
        const QJsonObject o = QJsonDocument::fromJson(line.mid(parts[0].size() + parts[1].size() + 2)).object();
        const double at = parts[0].toDouble() * 1000.0;
        const double taken = double(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs).toMSecsSinceEpoch());
        latency.push_back(qint64((at - taken) * 1e6));
        if (i >= 0 && i < kDevices)
            received[i].append(o.value("values").toArray());
    }
    for (int i = 0; i < kDevices; ++i) {
        QList<QJsonArray> sent;
        for (const QString &l : simLogs[i].split(QLatin1Char('\n'))) {
            const int at = l.indexOf(QLatin1String("sent: "));
            if (at < 0)
                continue;
            const QByteArray b = QByteArray::fromHex(l.mid(at + 6).remove(QLatin1Char(' ')).toLatin1());
            if (b.size() != 28)
                continue;
            QJsonArray a;
            for (int v : vorn::decodeRawValues(b))
                a.append(v);
            sent.append(a);
        }
        // Walk both in order: a sent set not received before a later one
        // that was is lost; sets after the last received were on their way
        // when the gateway stopped them.
        qsizetype s = 0;
        for (const QJsonArray &r : received[i]) {
            qsizetype k = s;
            while (k < sent.size() && sent[k] != r)
                ++k;
            if (k == sent.size()) {
                ++unmatched;
                continue;
            }
            lost += k - s;
            s = k + 1;
        }
        trailing += sent.size() - s;
        sentTotal += sent.size();
        receivedTotal += received[i].size();
    }
    const double wallS = double(t1 - t0) / 1000.0;
    const double cpuPct = 100.0 * (cpu1 - cpu0) / wallS;
    const double latMax = latency.empty() ? -1 : double(*std::max_element(latency.begin(), latency.end())) / 1e6;
    std::printf("gateway=%s flowing=%d cpu_pct=%.2f cpu_s=%.3f wall_s=%.3f sent=%lld received=%lld lost=%lld "
                "trailing=%lld unmatched=%lld lat_p50=%.2f lat_p99=%.2f lat_max=%.2f\n",
                leastExe.isEmpty() ? "rt8gw" : "least", flowing ? 1 : 0, cpuPct, cpu1 - cpu0, wallS,
                (long long)sentTotal, (long long)receivedTotal, (long long)lost, (long long)trailing,
                (long long)unmatched, percentileMs(latency, 50), percentileMs(latency, 99), latMax);
    std::printf("%s, devices %d, every 10 ms, %.1f s measured\n", leastExe.isEmpty() ? "rt8gw" : "least gateway",
                kDevices, wallS);
    std::printf("sent %lld, published and received %lld, lost %lld, on the way at the stop %lld, not sent %lld\n",
                (long long)sentTotal, (long long)receivedTotal, (long long)lost, (long long)trailing, (long long)unmatched);
    std::printf("gateway cpu %.2f %% of one core (%.3f s / %.3f s)\n", cpuPct, cpu1 - cpu0, wallS);
    std::printf("latency taken -> subscriber (nearest rank): p50 %.2f ms, p99 %.2f ms, max %.2f ms (n=%zu)\n",
                percentileMs(latency, 50), percentileMs(latency, 99), latMax, latency.size());
    return 0;
}
