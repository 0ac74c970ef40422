// rt8gw under load: four rt8sim devices each streaming raw values every
// 10 ms, through the gateway, to a subscriber (mosquitto_sub) on a mosquitto
// of its own on 127.0.0.1. Prints values lost, the gateway's share of one
// core and the latency from the gateway taking a reply to the subscriber
// receiving it. With "faces", the gateway serves Prometheus's /metrics,
// scraped once a second, and publishes Home Assistant's discovery configs.
//
//   bench_gateway RT8GW RT8SIM [SECONDS] [faces]

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
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <thread>
#include <csignal>
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

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_gateway RT8GW RT8SIM [SECONDS]\n");
        return 2;
    }
    const QString gwExe = args[1], simExe = args[2];
    const int seconds = args.value(3, QStringLiteral("60")).toInt();
    const bool faces = args.value(4) == QLatin1String("faces");
    const int metricsPort = freePort();
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
    QJsonObject root{{"broker", QJsonObject{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(port)}, {"prefix", "bench/rt8"}}},
                     {"devices", devices}};
    if (faces) {
        root.insert("metrics", QJsonObject{{"listen", QStringLiteral("127.0.0.1:%1").arg(metricsPort)}});
        root.insert("homeassistant", QJsonObject{});
    }
    cfg.write(QJsonDocument(root).toJson());
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
    // A scrape a second, as Prometheus would, on a thread of its own (the
    // subscriber's output is read here meanwhile).
    std::atomic<bool> scraping{faces};
    std::atomic<int> scrapes{0}, scraped{0};
    std::atomic<qint64> slowestUs{0};
    std::thread scraper([&] {
        while (scraping) {
            QElapsedTimer t;
            t.start();
            ++scrapes;
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(quint16(metricsPort));
            QByteArray got;
            if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
                const char request[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
                if (::write(fd, request, sizeof request - 1) > 0) {
                    char buf[4096];
                    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
                        got.append(buf, n);
                }
            }
            ::close(fd);
            if (got.startsWith("HTTP/1.1 200") && got.contains("rt8_channel_value{"))
                ++scraped;
            slowestUs = std::max<qint64>(slowestUs, t.nsecsElapsed() / 1000);
            for (int i = 0; i < 20 && scraping; ++i)
                QThread::msleep(50);
        }
    });
    const double cpu0 = cpuSeconds(gw.processId());
    QDeadlineTimer wall;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    waitFor([] { return false; }, seconds * 1000);
    const double cpu1 = cpuSeconds(gw.processId());
    scraping = false;
    scraper.join();
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
    std::printf("devices %d, every 10 ms, %.1f s measured%s\n", kDevices, wallS,
                faces ? ", /metrics scraped every second, Home Assistant's discovery on" : "");
    if (faces)
        std::printf("scrapes %d, answered with values %d, the slowest in %.2f ms\n", scrapes.load(), scraped.load(),
                    double(slowestUs.load()) / 1000.0);
    std::printf("sent %lld, published and received %lld, lost %lld, on the way at the stop %lld, not sent %lld\n",
                (long long)sentTotal, (long long)receivedTotal, (long long)lost, (long long)trailing, (long long)unmatched);
    std::printf("gateway cpu %.2f %% of one core (%.3f s / %.3f s)\n", 100.0 * (cpu1 - cpu0) / wallS, cpu1 - cpu0, wallS);
    std::printf("latency taken -> subscriber: p50 %.2f ms, p99 %.2f ms, max %.2f ms (n=%zu)\n", percentile(latency, 0.5),
                percentile(latency, 0.99), latency.empty() ? 0.0 : *std::max_element(latency.begin(), latency.end()),
                latency.size());
    return 0;
}
