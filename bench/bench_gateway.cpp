// rt8gw under load: four rt8sim devices each streaming raw values every
// 10 ms, through the gateway, to a subscriber (mosquitto_sub) on a mosquitto
// of its own on 127.0.0.1. Prints values lost, the gateway's share of one
// core and the latency from the gateway taking a reply to the subscriber
// receiving it. With --least (--least-qt: the least gateway's Qt event-loop
// variant, least_gateway --qt), the same run with the least gateway
// (bench/least_gateway) in rt8gw's place, for the ratio of the two. With
// --modbus CLIENTS, rt8gw also serves Modbus TCP on 127.0.0.1 (the devices
// units 1 to 4), and that many clients (libmodbus, a thread each) read all 36
// registers of every unit, one unit after the other, as fast as they can
// while the share is measured: reads a second and their reply times
// (BENCH_MODBUS_NICE=N runs the clients' threads at nice N, for clients that
// leave the processors to the gateway as clients on other machines would).
//
//   bench_gateway RT8GW RT8SIM [SECONDS] [--least | --least-qt LEAST_GATEWAY | --modbus CLIENTS]
//
// The first line of the output holds the figures as key=value pairs
// (tools/bench reads them); the lines after it say the same for people.

#include "percentile.h"
#include "protocol/reply.h"
#include "support/mosquitto.h"
#include "support/processrun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <modbus/modbus.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using vorn::test::freePort;
using vorn::test::listening;

// Processor seconds a process has used; with thread, that thread of it
// alone. Read from the scheduler's own account of each thread (schedstat, in
// nanoseconds): /proc/PID/stat counts in ticks of 10 ms, and a gateway that
// uses 1 % of a core for 20 s is only some 20 of them, too coarse for a
// ratio of two such runs. The threads that ran are all alive while the
// share is measured (the connecting thread ends long before).
double cpuSeconds(qint64 pid, qint64 thread = 0)
{
    const auto schedstat = [pid](const QString &task) {
        QFile f(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(task));
        return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toDouble() / 1e9 : -1.0;
    };
    if (thread)
        return schedstat(QString::number(thread));
    double sum = 0;
    for (const QString &task : QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        sum += std::max(schedstat(task), 0.0);   // a thread that just ended
    }
    return sum;
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer t(ms);
    while (!done() && !t.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

// One Modbus client: all 36 registers of every unit, one unit after the
// other, until stop; each reply's time (the first kMaxSamples) and the
// failures (a failed read is followed by a new connection, so that a late
// reply is not taken for the next one's).
struct Poller
{
    static constexpr size_t kMaxSamples = 1 << 20;
    std::vector<qint64> times;   // nanoseconds
    qint64 reads = 0, failed = 0;
    std::array<quint32, 8> taken{};   // per unit, the sets of values taken its registers said last

    void run(int port, int units, const std::atomic<bool> &stop)
    {
        times.reserve(kMaxSamples);
        if (const int nice = qEnvironmentVariableIntValue("BENCH_MODBUS_NICE"))
            ::setpriority(PRIO_PROCESS, id_t(::gettid()), nice);
        modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
        if (!ctx) {
            ++failed;
            return;
        }
        modbus_set_response_timeout(ctx, 5, 0);
        bool connected = modbus_connect(ctx) == 0;
        uint16_t regs[36];
        while (!stop) {
            if (!connected) {
                ++failed;
                modbus_close(ctx);
                connected = modbus_connect(ctx) == 0;
                continue;
            }
            for (int unit = 1; unit <= units && connected && !stop; ++unit) {
                modbus_set_slave(ctx, unit);
                const auto t0 = std::chrono::steady_clock::now();
                const int n = modbus_read_input_registers(ctx, 0, 36, regs);
                const auto t1 = std::chrono::steady_clock::now();
                if (n != 36) {
                    connected = false;
                    break;
                }
                ++reads;
                taken[size_t(unit) % taken.size()] = quint32(regs[32]) << 16 | regs[33];
                if (times.size() < kMaxSamples)
                    times.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count());
            }
        }
        modbus_close(ctx);
        modbus_free(ctx);
    }
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    QString leastExe;
    bool leastQt = false;
    if (const qsizetype at = args.indexOf(QStringLiteral("--least-qt")); at > 0 && at + 1 < args.size()) {
        leastQt = true;
        args[at] = QStringLiteral("--least");
    }
    if (const qsizetype at = args.indexOf(QStringLiteral("--least")); at > 0 && at + 1 < args.size()) {
        leastExe = args[at + 1];
        args.remove(at, 2);
    }
    int clients = -1;   // no Modbus server
    if (const qsizetype at = args.indexOf(QStringLiteral("--modbus")); at > 0 && at + 1 < args.size()) {
        bool ok = false;
        clients = args[at + 1].toInt(&ok);
        if (!ok || clients < 0)
            clients = -2;
        args.remove(at, 2);
    }
    if (args.size() < 3 || args.size() > 4 || args.contains(QStringLiteral("--least")) || args.contains(QStringLiteral("--modbus"))
        || clients < -1 || (clients >= 0 && !leastExe.isEmpty())) {
        std::fprintf(stderr, "usage: bench_gateway RT8GW RT8SIM [SECONDS] [--least | --least-qt LEAST_GATEWAY | --modbus CLIENTS]\n");
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

    vorn::test::Broker broker;
    const int port = broker.port;
    const bool brokerUp = broker.start();

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
        QJsonObject device{{"name", QStringLiteral("dev%1").arg(i)}, {"port", path}, {"address", 1}, {"mode", "raw"}};
        if (clients >= 0)
            device.insert("unit", i + 1);
        devices.append(device);
        sims.push_back(std::move(p));
    }
    if (!brokerUp) {
        std::fprintf(stderr, "bench_gateway: mosquitto did not listen on 127.0.0.1:%d\n", port);
        return 1;
    }

    vorn::test::Subscriber sub(port, {QStringLiteral("bench/rt8/+/values"), QStringLiteral("bench/probe")},
                               QStringLiteral("%U %t %p"));
    // The subscriber takes messages once a probe published after its start
    // reaches it.
    const bool subscribed = waitFor([&] {
        broker.publish(QStringLiteral("bench/probe"), "probe");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
        return sub.out.contains(QLatin1String("bench/probe"));
    }, 20000);
    if (!subscribed) {
        std::fprintf(stderr, "bench_gateway: mosquitto_sub took no message\n");
        return 1;
    }

    QFile cfg(dir.filePath(QStringLiteral("rt8gw.json")));
    cfg.open(QIODevice::WriteOnly);
    QJsonObject config{{"broker", QJsonObject{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(port)}, {"prefix", "bench/rt8"}}},
                       {"devices", devices}};
    const int modbusPort = clients >= 0 ? freePort() : 0;
    if (clients >= 0)
        config.insert("modbus", QJsonObject{{"listen", QStringLiteral("127.0.0.1:%1").arg(modbusPort)}});
    cfg.write(QJsonDocument(config).toJson());
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
        if (leastQt)
            a << QStringLiteral("--qt");
        gw.start(leastExe, a);
    }
    // Measured once every device's values flow.
    const bool flowing = waitFor([&] {
        for (int i = 0; i < kDevices; ++i)
            if (!sub.out.contains(QStringLiteral("bench/rt8/dev%1/values").arg(i)))
                return false;
        return true;
    }, 30000);
    if (!flowing)
        std::fprintf(stderr, "bench_gateway: not every device's values arrived within 30 s\n");
    // The Modbus clients, from when the server listens until the share is read.
    std::atomic<bool> stopPolling{false};
    std::vector<Poller> pollers(size_t(std::max(clients, 0)));
    std::vector<std::thread> pollerThreads;
    const bool modbusUp = clients < 0 || waitFor([modbusPort] { return listening(modbusPort); }, 20000);
    if (!modbusUp)
        std::fprintf(stderr, "bench_gateway: rt8gw did not listen for Modbus TCP on 127.0.0.1:%d\n", modbusPort);
    for (Poller &p : pollers)
        pollerThreads.emplace_back([&p, modbusPort, &stopPolling] { p.run(modbusPort, kDevices, stopPolling); });
    const double cpu0 = cpuSeconds(gw.processId());
    const double main0 = cpuSeconds(gw.processId(), gw.processId());
    QDeadlineTimer wall;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    waitFor([] { return false; }, seconds * 1000);
    const double cpu1 = cpuSeconds(gw.processId());
    const double main1 = cpuSeconds(gw.processId(), gw.processId());
    const qint64 t1 = QDateTime::currentMSecsSinceEpoch();
    stopPolling = true;
    for (std::thread &t : pollerThreads)
        t.join();
    ::kill(pid_t(gw.processId()), SIGTERM);
    gw.waitForFinished(20000);
    waitFor([] { return false; }, 1000);
    sub.end();
    const QByteArray subOut = sub.out.toUtf8();
    for (auto &p : sims) {
        p->terminate();
        p->waitForFinished(5000);
    }
    broker.proc.end();

    // Per device: what was sent (in order) and what arrived (in order).
    std::vector<qint64> latency;   // nanoseconds
    qint64 sentTotal = 0, receivedTotal = 0, lost = 0, trailing = 0, unmatched = 0, inWindow = 0;
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
        inWindow += at >= double(t0) && at < double(t1);
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
            if (k > s) {
                // What the gateway says it took (its Modbus registers, read
                // last before the stop) tells a set lost on the line or in
                // the gateway from one lost on the way to the subscriber.
                quint32 taken = 0;
                for (const Poller &p : pollers)
                    taken = std::max(taken, p.taken[size_t(i + 1)]);
                std::fprintf(stderr, "bench_gateway: dev%d: %lld sets not received, sent #%lld to #%lld of %lld "
                             "(the gateway took %u by its last Modbus reply; 0: no Modbus)\n", i, (long long)(k - s),
                             (long long)s, (long long)k - 1, (long long)sent.size(), taken);
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
    const double mainPct = 100.0 * (main1 - main0) / wallS;
    const double perSecond = double(inWindow) / wallS;
    const double latMax = latency.empty() ? -1 : double(*std::max_element(latency.begin(), latency.end())) / 1e6;
    std::vector<qint64> replies;
    qint64 reads = 0, readsFailed = 0;
    for (const Poller &p : pollers) {
        replies.insert(replies.end(), p.times.begin(), p.times.end());
        reads += p.reads;
        readsFailed += p.failed;
    }
    const double replyMax = replies.empty() ? -1 : double(*std::max_element(replies.begin(), replies.end())) / 1e6;
    std::printf("gateway=%s flowing=%d cpu_pct=%.2f cpu_s=%.3f wall_s=%.3f sent=%lld received=%lld lost=%lld "
                "trailing=%lld unmatched=%lld lat_p50=%.2f lat_p99=%.2f lat_max=%.2f main_pct=%.2f per_s=%.1f "
                "modbus_clients=%d modbus_up=%d modbus_reads=%lld modbus_per_s=%.1f modbus_failed=%lld "
                "modbus_p50=%.3f modbus_p99=%.3f modbus_max=%.3f\n",
                leastExe.isEmpty() ? "rt8gw" : "least", flowing ? 1 : 0, cpuPct, cpu1 - cpu0, wallS,
                (long long)sentTotal, (long long)receivedTotal, (long long)lost, (long long)trailing,
                (long long)unmatched, percentileMs(latency, 50), percentileMs(latency, 99), latMax, mainPct, perSecond,
                std::max(clients, 0), modbusUp ? 1 : 0, (long long)reads, double(reads) / wallS, (long long)readsFailed,
                percentileMs(replies, 50), percentileMs(replies, 99), replyMax);
    std::printf("%s, devices %d, every 10 ms, %.1f s measured\n", leastExe.isEmpty() ? "rt8gw" : "least gateway",
                kDevices, wallS);
    std::printf("sent %lld, published and received %lld, lost %lld, on the way at the stop %lld, not sent %lld\n",
                (long long)sentTotal, (long long)receivedTotal, (long long)lost, (long long)trailing, (long long)unmatched);
    std::printf("gateway cpu %.2f %% of one core (%.3f s / %.3f s)\n", cpuPct, cpu1 - cpu0, wallS);
    std::printf("latency taken -> subscriber (nearest rank): p50 %.2f ms, p99 %.2f ms, max %.2f ms (n=%zu)\n",
                percentileMs(latency, 50), percentileMs(latency, 99), latMax, latency.size());
    std::printf("values received while measured: %.1f a second; the gateway's main thread %.2f %% of one core\n",
                perSecond, mainPct);
    if (clients >= 0)
        std::printf("modbus: %d clients, each all 36 registers of %d units back to back: %lld replies (%.1f a second), "
                    "%lld failed; reply p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    clients, kDevices, (long long)reads, double(reads) / wallS, (long long)readsFailed,
                    percentileMs(replies, 50), percentileMs(replies, 99), replyMax);
    return 0;
}
