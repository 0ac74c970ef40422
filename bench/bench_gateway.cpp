// rt8gw under load: four rt8sim devices each streaming raw values every
// 10 ms, through the gateway, to a subscriber (mosquitto_sub) on a mosquitto
// of its own on 127.0.0.1. Prints values lost, the gateway's share of one
// core and the latency from the gateway taking a reply to the subscriber
// receiving it. With MODBUS_CLIENTS (0 or more) the gateway also serves
// Modbus TCP on 127.0.0.1, and that many clients (libmodbus) each read all 36
// registers of every unit every 100 ms meanwhile: the replies' time is
// printed too.
//
//   bench_gateway RT8GW RT8SIM [SECONDS [MODBUS_CLIENTS]]

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
#include <QThread>

#include <modbus/modbus.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>
#include <cstdio>
#include <memory>
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

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// One Modbus client: every 100 ms all 36 registers of every unit; the time
// of each reply in ms, and how many failed.
void poll(int port, int units, const std::atomic<bool> &stop, std::vector<double> *times, int *failed)
{
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
    if (!ctx || modbus_connect(ctx) != 0) {
        ++*failed;
        if (ctx)
            modbus_free(ctx);
        return;
    }
    uint16_t regs[36];
    auto next = std::chrono::steady_clock::now();
    while (!stop) {
        for (int unit = 1; unit <= units; ++unit) {
            modbus_set_slave(ctx, unit);
            const auto t0 = std::chrono::steady_clock::now();
            const int n = modbus_read_input_registers(ctx, 0, 36, regs);
            const auto t1 = std::chrono::steady_clock::now();
            if (n == 36)
                times->push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            else
                ++*failed;
        }
        next += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(next);
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_gateway RT8GW RT8SIM [SECONDS [MODBUS_CLIENTS]]\n");
        return 2;
    }
    const QString gwExe = args[1], simExe = args[2];
    const int seconds = args.value(3, QStringLiteral("60")).toInt();
    const int clients = args.value(4, QStringLiteral("0")).toInt();
    const int modbusPort = freePort();
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
        devices.append(QJsonObject{{"name", QStringLiteral("dev%1").arg(i)}, {"port", path}, {"address", 1}, {"mode", "raw"},
                                   {"unit", i + 1}});
        sims.push_back(std::move(p));
    }
    QThread::msleep(300);   // the broker listening

    QProcess sub;
    QByteArray subOut;
    QObject::connect(&sub, &QProcess::readyReadStandardOutput, [&] { subOut += sub.readAllStandardOutput(); });
    sub.start(QStringLiteral("mosquitto_sub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                               QString::number(port), QStringLiteral("-q"), QStringLiteral("1"),
                                               QStringLiteral("-t"), QStringLiteral("bench/rt8/+/values"),
                                               QStringLiteral("-F"), QStringLiteral("%U %t %p")});
    waitFor([&] { return false; }, 500);

    QFile cfg(dir.filePath(QStringLiteral("rt8gw.json")));
    cfg.open(QIODevice::WriteOnly);
    QJsonObject config{{"broker", QJsonObject{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(port)}, {"prefix", "bench/rt8"}}},
                       {"devices", devices}};
    if (args.size() > 4)
        config.insert("modbus", QJsonObject{{"listen", QStringLiteral("127.0.0.1:%1").arg(modbusPort)}});
    cfg.write(QJsonDocument(config).toJson());
    cfg.close();
    QProcess gw;
    gw.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gw.start(gwExe, {QStringLiteral("--config"), cfg.fileName(), QStringLiteral("--lang"), QStringLiteral("en")});
    // Measured once every device's values flow.
    waitFor([&] {
        for (int i = 0; i < kDevices; ++i)
            if (!subOut.contains(QStringLiteral("bench/rt8/dev%1/values").arg(i).toUtf8()))
                return false;
        return true;
    }, 30000);
    std::atomic<bool> stopPolling{false};
    std::vector<std::vector<double>> replyTimes(size_t(std::max(clients, 0)));
    std::vector<int> replyFailed(size_t(std::max(clients, 0)));
    std::vector<std::thread> pollers;
    for (int c = 0; c < clients; ++c)
        pollers.emplace_back(poll, modbusPort, kDevices, std::cref(stopPolling), &replyTimes[size_t(c)], &replyFailed[size_t(c)]);
    const double cpu0 = cpuSeconds(gw.processId());
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    waitFor([] { return false; }, seconds * 1000);
    const double cpu1 = cpuSeconds(gw.processId());
    const qint64 t1 = QDateTime::currentMSecsSinceEpoch();
    stopPolling = true;
    for (std::thread &t : pollers)
        t.join();
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
    std::vector<double> latency;
    qint64 sentTotal = 0, receivedTotal = 0, lost = 0, trailing = 0, unmatched = 0;
    QList<QList<QJsonArray>> received(kDevices);
    for (const QByteArray &line : subOut.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3)
            continue;
        const int i = parts[1].split('/').value(2).mid(3).toInt();
        const QJsonObject o = QJsonDocument::fromJson(line.mid(parts[0].size() + parts[1].size() + 2)).object();
        const double at = parts[0].toDouble() * 1000.0;
        const double taken = double(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs).toMSecsSinceEpoch());
        latency.push_back(at - taken);
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
    std::printf("devices %d, every 10 ms, %.1f s measured\n", kDevices, wallS);
    std::printf("sent %lld, published and received %lld, lost %lld, on the way at the stop %lld, not sent %lld\n",
                (long long)sentTotal, (long long)receivedTotal, (long long)lost, (long long)trailing, (long long)unmatched);
    std::printf("gateway cpu %.2f %% of one core (%.3f s / %.3f s)\n", 100.0 * (cpu1 - cpu0) / wallS, cpu1 - cpu0, wallS);
    std::printf("latency taken -> subscriber: p50 %.2f ms, p99 %.2f ms, max %.2f ms (n=%zu)\n", percentile(latency, 0.5),
                percentile(latency, 0.99), latency.empty() ? 0.0 : *std::max_element(latency.begin(), latency.end()),
                latency.size());
    if (clients > 0) {
        std::vector<double> all;
        int failedTotal = 0;
        for (int c = 0; c < clients; ++c) {
            all.insert(all.end(), replyTimes[size_t(c)].begin(), replyTimes[size_t(c)].end());
            failedTotal += replyFailed[size_t(c)];
        }
        std::printf("modbus clients %d, each all 36 registers of %d units every 100 ms: replies %zu, failed %d\n", clients,
                    kDevices, all.size(), failedTotal);
        std::printf("modbus reply: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", percentile(all, 0.5), percentile(all, 0.99),
                    all.empty() ? 0.0 : *std::max_element(all.begin(), all.end()));
    }
    return 0;
}
