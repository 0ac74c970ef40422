// rt8gw left alone with faults. Four rt8sim devices streaming raw values
// every 10 ms (dev0 through a ser2net on 127.0.0.1, raw TCP; dev1 to dev3 on
// pseudo-terminals behind stable links, dev3 configured with "address": 255),
// published by rt8gw to a mosquitto started here, read by a subscriber of
// our own. At random moments (seeded; the seed and every fault are printed)
// one of these happens, the next only once every device streams again:
//
//   broker   mosquitto stopped (SIGTERM, so that its persistent store keeps
//            what it owes the subscriber) and started again 4-12 s later
//   ser2net  ser2net killed (SIGKILL) and started again 2-8 s later
//   freeze   one device's rt8sim stopped (SIGSTOP) for 10 s, then continued
//   swap     one device's rt8sim ended and another device (number 2, 8
//            digits, channels 0 and 1 held at 7, which no streamed value of
//            the others reaches) started on the same link for 8-15 s, then
//            the original device (number 1, 40 digits) again; dev3 and dev1
//            take turns (255 and 1 as the configured address)
//
// At the end: every set a simulator logged is received in order, counted in
// rt8gw's dropped, or was on a line while it was down (the sets in ser2net
// when it was killed, those a frozen device sent before the gateway asked it
// again, the last ones of a device that was swapped out), or was held up on a
// line that stalled without a fault of the run's while the gateway said
// silent (counted apart; it came late and was thrown away as stale); the swapped-in
// device's values never appear under the original's name; the statuses each
// fault should bring (lost, silent, no-answer, other-device), the return to
// online, the final statuses; resident memory from minute 2 (half the run
// when shorter) to the end; the gateway's processor share.
//
//   bench_gwfaults --rt8gw PATH --rt8sim PATH [--minutes M] [--seed N] [--logs DIR]
//
// The run lasts M minutes (10), longer when that is too short for each kind
// of fault to be made once.
//
// The first line of the output holds the figures as key=value pairs
// (tools/bench reads them); then one line per check ("check NAME PASS|FAIL
// text") and one per fault. Progress goes to standard error.

#include "protocol/frame.h"
#include "protocol/reply.h"
#include "support/mosquitto.h"
#include "support/processrun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <mosquitto.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

using vorn::test::listening;
using vorn::test::stablePort;
using Values = std::array<int, 10>;

constexpr int kDevices = 4;
constexpr int kSerDevice = 0;           // behind ser2net
constexpr int kAddress255Device = 3;    // configured with "address": 255
constexpr int kHeld = 7;                // the swapped-in device's channels 0 and 1
constexpr qint64 kSilenceMs = 5000;     // the gateway's silence_s, 5 by default
constexpr qint64 kSlackMs = 1500;       // sets already on their way when a line went down
const char *const kPrefix = "fault/rt8";
const QStringList kWords{QStringLiteral("online"),    QStringLiteral("lost"),         QStringLiteral("silent"),
                         QStringLiteral("no-answer"), QStringLiteral("other-device"), QStringLiteral("offline")};

QElapsedTimer g_clock;
qint64 now() { return g_clock.elapsed(); }
QString secs(qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 1); }

void progress(const QString &text)
{
    std::fprintf(stderr, "[%7s s] %s\n", qPrintable(secs(now())), text.toUtf8().constData());
    std::fflush(stderr);
}

bool waitFor(const std::function<bool()> &done, qint64 ms)
{
    QDeadlineTimer t(ms);
    while (!done() && !t.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}
void pause(qint64 ms) { waitFor([] { return false; }, ms); }

// Processor seconds (user + system) of a process; -1 when it is gone.
double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// Resident size in kB; -1 when the process is gone.
qint64 rssKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &l : f.readAll().split('\n'))
        if (l.startsWith("VmRSS:"))
            return l.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

bool endProcess(QProcess &p, int signal = SIGTERM)
{
    if (p.state() == QProcess::NotRunning)
        return true;
    ::kill(pid_t(p.processId()), signal);
    if (p.waitForFinished(15000))
        return true;
    p.kill();
    return p.waitForFinished(5000);
}

// ------------------------------------------------------------------ subscriber

struct Message
{
    qint64 at;
    QByteArray topic;
    QByteArray payload;
};

// A subscriber with a session the broker keeps (clean session off), so that
// what was published while it was away from a restarted broker waits for it.
class Subscriber
{
public:
    bool start(int port, const QByteArray &topic)
    {
        m_topic = topic;
        m_mosq = mosquitto_new("rt8-faults-subscriber", false, this);
        if (!m_mosq)
            return false;
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto *m, void *self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, static_cast<Subscriber *>(self)->m_topic.constData(), 1);
        });
        mosquitto_message_callback_set(m_mosq, [](mosquitto *, void *self, const mosquitto_message *msg) {
            auto *s = static_cast<Subscriber *>(self);
            std::lock_guard lock(s->m_mutex);
            s->m_new.push_back({now(), QByteArray(msg->topic),
                                QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen)});
        });
        return mosquitto_connect(m_mosq, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS
            && mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
    }
    void stop()
    {
        if (!m_mosq)
            return;
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    std::vector<Message> take()
    {
        std::lock_guard lock(m_mutex);
        std::vector<Message> out;
        out.swap(m_new);
        return out;
    }

private:
    mosquitto *m_mosq = nullptr;
    QByteArray m_topic;
    std::mutex m_mutex;
    std::vector<Message> m_new;
};

// ------------------------------------------------------------------ simulators

struct Sent
{
    qint64 at;
    Values values;
};

// One run of rt8sim on a device's link: what it logged, stamped as it came.
struct Life
{
    int device = 0;
    bool foreign = false;   // the swapped-in device
    qint64 started = 0, ended = -1;
    std::unique_ptr<QProcess> proc;
    std::vector<Sent> sent;
    std::vector<std::pair<qint64, QString>> requests;   // "feedback raw", "discover -> ...", ...
    QByteArray partial;
    std::unique_ptr<QFile> log;

    void read()
    {
        partial += proc->readAllStandardError();
        qsizetype nl;
        while ((nl = partial.indexOf('\n')) >= 0) {
            const QByteArray line = partial.left(nl);
            partial.remove(0, nl + 1);
            const qint64 t = now();
            log->write(QByteArray::number(t) + ' ' + line + '\n');
            if (line.startsWith("sent: ")) {
                const QByteArray b = QByteArray::fromHex(line.mid(6).replace(' ', ""));
                if (b.size() != vorn::kRawReplyLength)
                    continue;
                const auto v = vorn::decodeRawValues(b);
                Values a;
                std::copy(v.begin(), v.end(), a.begin());
                sent.push_back({t, a});
            } else if (line.startsWith("feedback") || line.startsWith("discover")) {
                requests.emplace_back(t, QString::fromLatin1(line));
            }
        }
    }
    bool streamingSince(qint64 t) const { return !sent.empty() && sent.back().at >= t; }
};

// ------------------------------------------------------------------ the run

struct Fault
{
    QString kind;        // broker, ser2net, freeze, swap
    int device = -1;     // -1: every device (the broker)
    qint64 begin = 0, end = 0, recovered = -1;
    QString detail;
};

struct StatusChange
{
    qint64 at;
    QString word;
};

class Run
{
public:
    QString rt8gw, rt8sim, logs;
    int minutes = 10;
    quint32 seed = 0;

    int exec();

private:
    bool startBroker();
    bool startSer2net();
    bool startLife(int device, bool foreign);
    bool endLife(int device);
    void tick();
    void readGateway();
    bool allFlowing(qint64 since = 0);
    QString topicName(const QByteArray &topic, const char *leaf) const;
    QString statusAt(int device, qint64 t) const;
    bool statusSeen(int device, const QString &word, qint64 from, qint64 to) const;
    void doFault(const QString &kind);
    void check(const QString &name, bool ok, const QString &text);

    QTemporaryDir m_tmp;
    QRandomGenerator m_rng;
    int m_brokerPort = 0, m_serPort = 0;
    vorn::test::Broker m_broker;
    QProcess m_ser2net, m_gw;
    QFile m_gwLog;
    QByteArray m_gwPartial;
    QStringList m_gwLines;
    Subscriber m_sub;
    std::vector<std::unique_ptr<Life>> m_lives;
    std::array<Life *, kDevices> m_current{};
    std::array<qint64, kDevices> m_lastValues{};
    std::array<bool, kDevices> m_gaveUp{};   // not streaming again after a fault: not waited for again
    std::array<std::vector<Values>, kDevices> m_received;
    std::array<std::vector<qint64>, kDevices> m_receivedAt;
    std::array<std::vector<StatusChange>, kDevices> m_status;
    std::vector<StatusChange> m_gwStatus;
    std::set<QByteArray> m_dropped;   // distinct dropped reports (a retained one comes again on resubscribing)
    std::vector<Fault> m_faults;
    int m_swaps = 0;
    std::vector<QString> m_checks;
    bool m_allOk = true;
};

QString Run::topicName(const QByteArray &topic, const char *leaf) const
{
    const QByteArray p = QByteArray(kPrefix) + '/';
    if (!topic.startsWith(p) || !topic.endsWith(QByteArray("/") + leaf))
        return {};
    return QString::fromUtf8(topic.mid(p.size(), topic.size() - p.size() - qsizetype(strlen(leaf)) - 1));
}

void Run::tick()
{
    for (Message &m : m_sub.take()) {
        if (const QString n = topicName(m.topic, "values"); n.startsWith(QLatin1String("dev"))) {
            const int d = n.mid(3).toInt();
            if (d < 0 || d >= kDevices)
                continue;
            const QJsonArray a = QJsonDocument::fromJson(m.payload).object().value(QLatin1String("values")).toArray();
            Values v{};
            for (int i = 0; i < 10; ++i)
                v[size_t(i)] = a.at(i).toInt(-1);
            m_received[size_t(d)].push_back(v);
            m_receivedAt[size_t(d)].push_back(m.at);
            if (v[0] != kHeld || v[1] != kHeld)
                m_lastValues[size_t(d)] = m.at;
        } else if (const QString s = topicName(m.topic, "status"); !s.isEmpty()) {
            const QString word = QString::fromUtf8(m.payload);
            if (s == QLatin1String("gateway")) {
                m_gwStatus.push_back({m.at, word});
            } else if (s.startsWith(QLatin1String("dev"))) {
                const int d = s.mid(3).toInt();
                if (d >= 0 && d < kDevices && (m_status[size_t(d)].empty() || m_status[size_t(d)].back().word != word))
                    m_status[size_t(d)].push_back({m.at, word});
            }
        } else if (m.topic == QByteArray(kPrefix) + "/gateway/dropped") {
            m_dropped.insert(m.payload);
        }
    }
    readGateway();
}

void Run::readGateway()
{
    m_gwPartial += m_gw.readAllStandardError();
    qsizetype nl;
    while ((nl = m_gwPartial.indexOf('\n')) >= 0) {
        const QByteArray line = m_gwPartial.left(nl);
        m_gwPartial.remove(0, nl + 1);
        m_gwLog.write(QByteArray::number(now()) + ' ' + line + '\n');
        m_gwLog.flush();
        m_gwLines << QString::fromUtf8(line);
    }
}

// Every device (but those given up on) has published values of its own in
// the last second, and since `since`.
bool Run::allFlowing(qint64 since)
{
    tick();
    const qint64 after = std::max(since, now() - 1000);
    for (int d = 0; d < kDevices; ++d)
        if (!m_gaveUp[size_t(d)] && (m_lastValues[size_t(d)] == 0 || m_lastValues[size_t(d)] < after))
            return false;
    return true;
}

QString Run::statusAt(int device, qint64 t) const
{
    QString w;
    for (const StatusChange &c : m_status[size_t(device)])
        if (c.at <= t)
            w = c.word;
    return w;
}

bool Run::statusSeen(int device, const QString &word, qint64 from, qint64 to) const
{
    for (const StatusChange &c : m_status[size_t(device)])
        if (c.at >= from && c.at <= to && c.word == word)
            return true;
    return false;
}

bool Run::startBroker()
{
    return m_broker.start();
}

bool Run::startSer2net()
{
    m_ser2net.start(QStringLiteral("ser2net"), {QStringLiteral("-n"), QStringLiteral("-c"),
                                                m_tmp.filePath(QStringLiteral("ser2net.yaml")), QStringLiteral("-P"),
                                                m_tmp.filePath(QStringLiteral("ser2net.pid"))});
    if (!m_ser2net.waitForStarted(10000)) {
        m_ser2net.setProgram(QStringLiteral("/usr/sbin/ser2net"));
        m_ser2net.start();
    }
    return waitFor([this] { return listening(m_serPort); }, 20000);
}

bool Run::startLife(int device, bool foreign)
{
    auto l = std::make_unique<Life>();
    l->device = device;
    l->foreign = foreign;
    l->started = now();
    const int n = int(m_lives.size());
    l->log = std::make_unique<QFile>(QDir(logs).filePath(QStringLiteral("sim-dev%1-%2%3.log").arg(device).arg(n).arg(foreign ? "-other" : "")));
    l->log->open(QIODevice::WriteOnly);
    l->proc = std::make_unique<QProcess>();
    const QString link = m_tmp.filePath(QStringLiteral("dev%1").arg(device));
    QStringList a{QStringLiteral("--period"), QStringLiteral("10"), QStringLiteral("--log-sent"),
                  QStringLiteral("--link"), link, QStringLiteral("--exit-after"), QString::number(minutes * 60 + 600),
                  QStringLiteral("--address"), foreign ? QStringLiteral("2") : QStringLiteral("1"),
                  QStringLiteral("--digits"), foreign ? QStringLiteral("8") : QStringLiteral("40")};
    if (!foreign)
        a << QStringLiteral("--no-stdin");
    // Stamped as it comes, not when the run next looks.
    Life *lp = l.get();
    QObject::connect(l->proc.get(), &QProcess::readyReadStandardError, l->proc.get(), [lp] { lp->read(); });
    l->proc->start(rt8sim, a);
    if (!l->proc->waitForStarted(10000))
        return false;
    if (foreign) {
        l->proc->write(QByteArray("hold 0 ") + QByteArray::number(kHeld) + "\nhold 1 " + QByteArray::number(kHeld) + "\n");
    }
    // Up once it printed its port (the link is placed before that).
    QProcess *p = l->proc.get();
    if (!waitFor([p] { return p->canReadLine(); }, 20000))
        return false;
    m_current[size_t(device)] = l.get();
    m_lives.push_back(std::move(l));
    return true;
}

bool Run::endLife(int device)
{
    Life *l = m_current[size_t(device)];
    if (!l)
        return true;
    const bool ok = endProcess(*l->proc);
    l->read();
    l->ended = now();
    l->log->flush();
    m_current[size_t(device)] = nullptr;
    return ok;
}

void Run::check(const QString &name, bool ok, const QString &text)
{
    m_checks.push_back(QStringLiteral("check %1 %2 %3").arg(name, ok ? "PASS" : "FAIL", text));
    m_allOk = m_allOk && ok;
}

void Run::doFault(const QString &kind)
{
    Fault f;
    f.kind = kind;
    f.begin = now();
    if (kind == QLatin1String("broker")) {
        const int down = 4000 + int(m_rng.bounded(8001));
        f.detail = QStringLiteral("broker stopped for %1 s").arg(secs(down));
        progress(QStringLiteral("fault: ") + f.detail);
        endProcess(m_broker.proc);
        pause(down);
        if (!startBroker())
            progress(QStringLiteral("mosquitto did not come back"));
    } else if (kind == QLatin1String("ser2net")) {
        const int down = 2000 + int(m_rng.bounded(6001));
        f.device = kSerDevice;
        f.detail = QStringLiteral("ser2net killed for %1 s").arg(secs(down));
        progress(QStringLiteral("fault: ") + f.detail);
        endProcess(m_ser2net, SIGKILL);
        pause(down);
        if (!startSer2net())
            progress(QStringLiteral("ser2net did not come back"));
    } else if (kind == QLatin1String("freeze")) {
        f.device = int(m_rng.bounded(kDevices));
        f.detail = QStringLiteral("dev%1 frozen (SIGSTOP) for 10 s").arg(f.device);
        progress(QStringLiteral("fault: ") + f.detail);
        const qint64 pid = m_current[size_t(f.device)]->proc->processId();
        ::kill(pid_t(pid), SIGSTOP);
        pause(10000);
        ::kill(pid_t(pid), SIGCONT);
    } else {
        f.device = (m_swaps++ % 2 == 0) ? kAddress255Device : 1;
        const int away = 8000 + int(m_rng.bounded(7001));
        f.detail = QStringLiteral("dev%1 (configured address %2) swapped for device 2 (8 digits) for %3 s, then back")
                       .arg(f.device).arg(f.device == kAddress255Device ? 255 : 1).arg(secs(away));
        progress(QStringLiteral("fault: ") + f.detail);
        endLife(f.device);
        if (!startLife(f.device, true))
            progress(QStringLiteral("the swapped-in rt8sim did not start"));
        pause(away);
        endLife(f.device);
        if (!startLife(f.device, false))
            progress(QStringLiteral("the original rt8sim did not start again"));
    }
    f.end = now();
    // Recovered once every device streams again (bounded: a gateway that
    // gives up never gets there).
    if (waitFor([this, &f] { return allFlowing(f.end); }, 90000)) {
        f.recovered = now();
        progress(QStringLiteral("every device streams again after %1 s").arg(secs(f.recovered - f.end)));
    } else {
        QStringList silent;
        for (int d = 0; d < kDevices; ++d)
            if (!m_gaveUp[size_t(d)] && m_lastValues[size_t(d)] < std::max(f.end, now() - 1000)) {
                m_gaveUp[size_t(d)] = true;
                silent << QStringLiteral("dev%1").arg(d);
            }
        progress(QStringLiteral("not streaming 90 s after the fault ended: %1 (not waited for again)")
                     .arg(silent.join(QLatin1String(", "))));
    }
    m_faults.push_back(f);
}

int Run::exec()
{
    g_clock.start();
    m_rng.seed(seed);
    QDir().mkpath(logs);
    progress(QStringLiteral("seed %1, %2 minutes, logs in %3").arg(seed).arg(minutes).arg(logs));

    // The broker, with a store that survives its stop.
    // The broker and ser2net are stopped and started again on their ports
    // (the broker's a stablePort()).
    m_brokerPort = m_broker.port;
    m_broker.extra = QStringLiteral("persistence true\npersistence_location %1/\nmax_queued_messages 0\n").arg(m_tmp.path());
    m_broker.proc.setStandardOutputFile(QDir(logs).filePath(QStringLiteral("mosquitto.log")), QIODevice::Append);
    if (!startBroker()) {
        std::fprintf(stderr, "bench_gwfaults: mosquitto did not start\n");
        return 1;
    }
    if (!m_sub.start(m_brokerPort, QByteArray(kPrefix) + "/#")) {
        std::fprintf(stderr, "bench_gwfaults: the subscriber did not connect\n");
        return 1;
    }
    for (int d = 0; d < kDevices; ++d)
        if (!startLife(d, false)) {
            std::fprintf(stderr, "bench_gwfaults: rt8sim did not start\n");
            return 1;
        }

    // ser2net in front of dev0's link (as the tests configure ser2net 4).
    m_serPort = stablePort();
    {
        QFile y(m_tmp.filePath(QStringLiteral("ser2net.yaml")));
        y.open(QIODevice::WriteOnly);
        y.write(QStringLiteral("connection: &rt8\n"
                               "  accepter: tcp,127.0.0.1,%1\n"
                               "  connector: serialdev,%2,38400n81,local\n"
                               "  options:\n"
                               "    kickolduser: true\n"
                               "    chardelay: false\n")
                    .arg(m_serPort).arg(m_tmp.filePath(QStringLiteral("dev%1").arg(kSerDevice))).toUtf8());
    }
    m_ser2net.setStandardOutputFile(QDir(logs).filePath(QStringLiteral("ser2net.log")), QIODevice::Append);
    m_ser2net.setProcessChannelMode(QProcess::MergedChannels);
    if (!startSer2net()) {
        std::fprintf(stderr, "bench_gwfaults: ser2net did not start\n");
        return 1;
    }

    // The gateway.
    QJsonArray devices;
    for (int d = 0; d < kDevices; ++d)
        devices.append(QJsonObject{
            {"name", QStringLiteral("dev%1").arg(d)},
            {"port", d == kSerDevice ? QStringLiteral("tcp://127.0.0.1:%1").arg(m_serPort)
                                     : m_tmp.filePath(QStringLiteral("dev%1").arg(d))},
            {"address", d == kAddress255Device ? 255 : 1},
            {"mode", "raw"}});
    const QJsonObject config{{"broker", QJsonObject{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(m_brokerPort)},
                                                    {"prefix", QString::fromLatin1(kPrefix)},
                                                    {"queue_size", 2000}}},
                             {"devices", devices}};
    {
        QFile c(QDir(logs).filePath(QStringLiteral("rt8gw.json")));
        c.open(QIODevice::WriteOnly);
        c.write(QJsonDocument(config).toJson());
    }
    m_gwLog.setFileName(QDir(logs).filePath(QStringLiteral("rt8gw.log")));
    m_gwLog.open(QIODevice::WriteOnly);
    QObject::connect(&m_gw, &QProcess::readyReadStandardError, &m_gw, [this] { readGateway(); });
    m_gw.start(rt8gw, {QStringLiteral("--config"), QDir(logs).filePath(QStringLiteral("rt8gw.json")),
                       QStringLiteral("--lang"), QStringLiteral("en")});
    if (!m_gw.waitForStarted(10000) || !waitFor([this] { return allFlowing(); }, 60000)) {
        tick();
        std::fprintf(stderr, "bench_gwfaults: not every device's values arrived within 60 s\n");
        return 1;
    }
    const qint64 pid = m_gw.processId();
    const qint64 t0 = now();
    const double cpu0 = cpuSeconds(pid);
    const qint64 runMs = qint64(minutes) * 60000;
    const qint64 markMs = std::min<qint64>(120000, runMs / 2);
    qint64 rssStart = rssKb(pid), rssMark = -1, rssPeak = rssStart;
    std::vector<std::pair<qint64, qint64>> rssSamples{{0, rssStart}};
    progress(QStringLiteral("every device streams; faults begin (rt8gw %1 kB resident)").arg(rssStart));

    // Resident size every 10 s, and at the mark.
    const auto sampleRss = [&] {
        const qint64 t = now() - t0;
        if (t - rssSamples.back().first < 10000 && !(rssMark < 0 && t >= markMs))
            return;
        const qint64 r = rssKb(pid);
        rssSamples.emplace_back(t, r);
        rssPeak = std::max(rssPeak, r);
        if (rssMark < 0 && t >= markMs)
            rssMark = r;
    };
    const auto waitSampling = [&](qint64 ms) {
        waitFor([&] { sampleRss(); return false; }, ms);
    };

    // Faults in rounds of the four kinds, each round in a random order, at
    // random moments, until too little time is left for one more (the
    // longest fault and its recovery take about 40 s); a short run goes on
    // until each kind was made once.
    QStringList round;
    const qint64 quietEnd = 15000;
    while (true) {
        const qint64 gap = 3000 + qint64(m_rng.bounded(runMs >= 300000 ? 25001 : 8001));
        if (m_faults.size() >= 4 && now() - t0 + gap + 40000 + quietEnd > runMs)
            break;
        if (round.isEmpty()) {
            round = {QStringLiteral("broker"), QStringLiteral("ser2net"), QStringLiteral("freeze"), QStringLiteral("swap")};
            for (int i = 3; i > 0; --i)
                round.swapItemsAt(i, int(m_rng.bounded(i + 1)));
        }
        waitSampling(gap);
        doFault(round.takeFirst());
    }
    waitSampling(std::max<qint64>(quietEnd, runMs - (now() - t0)));
    waitFor([this] { return allFlowing(); }, 60000);
    sampleRss();
    const qint64 t1 = now();
    const double cpu1 = cpuSeconds(pid);
    const qint64 rssEnd = rssKb(pid);
    rssSamples.emplace_back(t1 - t0, rssEnd);
    if (rssMark < 0)
        rssMark = rssEnd;

    // Final statuses while every device streams, then after a clean stop.
    pause(1500);
    tick();
    const qint64 tFinal = now();
    QStringList finals;
    const QString gwFinal = m_gwStatus.empty() ? QStringLiteral("none") : m_gwStatus.back().word;
    bool finalOk = gwFinal == QLatin1String("online");
    int streamingAtEnd = 0;
    for (int d = 0; d < kDevices; ++d) {
        const bool streaming = m_current[size_t(d)] && m_current[size_t(d)]->streamingSince(tFinal - 2000);
        streamingAtEnd += streaming ? 1 : 0;
        const QString w = statusAt(d, tFinal);
        finals << QStringLiteral("dev%1 %2 (%3)").arg(d).arg(w.isEmpty() ? QStringLiteral("none") : w,
                                                             streaming ? "streaming" : "not streaming");
        finalOk = finalOk && (streaming ? w == QLatin1String("online") : w != QLatin1String("online"));
    }
    const qint64 tStop = now();
    endProcess(m_gw);
    const int gwExit = m_gw.exitStatus() == QProcess::NormalExit ? m_gw.exitCode() : -2;
    const bool offlineOk = waitFor([&] {
        tick();
        if (m_gwStatus.empty() || m_gwStatus.back().word != QLatin1String("offline"))
            return false;
        for (int d = 0; d < kDevices; ++d)
            if (statusAt(d, now()) != QLatin1String("offline"))
                return false;
        return true;
    }, 10000);
    pause(1000);
    for (int d = 0; d < kDevices; ++d)
        endLife(d);
    endProcess(m_ser2net);
    pause(1000);
    tick();
    m_sub.stop();
    tick();
    endProcess(m_broker.proc);
    m_gwLog.flush();
    progress(QStringLiteral("done; accounting"));

    // ---------------------------------------------------------- accounting
    qint64 dropped = 0;
    std::map<QString, qint64> droppedBy;
    for (const QByteArray &p : m_dropped) {
        const QJsonObject o = QJsonDocument::fromJson(p).object();
        dropped += o.value(QLatin1String("dropped")).toInteger();
        const QJsonObject per = o.value(QLatin1String("devices")).toObject();
        for (auto it = per.begin(); it != per.end(); ++it)
            droppedBy[it.key()] += it.value().toInteger();
    }
    qint64 sentAll = 0, receivedAll = 0, inOrder = 0, inBrokerGaps = 0, excused = 0, unexplained = 0, stalled = 0;
    qint64 duplicates = 0, outOfOrder = 0, unknown = 0, foreignSets = 0, trailingAtStop = 0;
    bool perDeviceDropOk = true;
    QStringList perDevice, gapNotes;
    for (int d = 0; d < kDevices; ++d) {
        // The original device's lives in order, one sequence.
        std::vector<Sent> sent;
        std::map<const Life *, size_t> lifeEnd;   // index after each life's last set
        std::vector<const Life *> lifeOf;
        std::set<Values> foreignValues;
        for (const auto &l : m_lives) {
            if (l->device != d)
                continue;
            if (l->foreign) {
                for (const Sent &s : l->sent)
                    foreignValues.insert(s.values);
                continue;
            }
            for (const Sent &s : l->sent) {
                sent.push_back(s);
                lifeOf.push_back(l.get());
            }
            lifeEnd[l.get()] = sent.size();
        }
        std::vector<bool> got(sent.size(), false);
        size_t s = 0;
        std::vector<std::pair<size_t, size_t>> gaps;   // [from, to)
        for (const Values &r : m_received[size_t(d)]) {
            if ((r[0] == kHeld && r[1] == kHeld) || foreignValues.count(r)) {
                ++foreignSets;
                continue;
            }
            size_t k = s;
            while (k < sent.size() && sent[k].values != r)
                ++k;
            if (k < sent.size()) {
                if (k > s)
                    gaps.emplace_back(s, k);
                got[k] = true;
                ++inOrder;
                s = k + 1;
                continue;
            }
            // Not ahead: an earlier set again (a QoS 1 resend) or one out of order.
            bool earlier = false, before = false;
            for (size_t j = 0; j < s; ++j)
                if (sent[j].values == r) {
                    earlier = true;
                    before = before || got[j];
                    if (!got[j])
                        got[j] = true;
                }
            if (!earlier)
                ++unknown;
            else if (before)
                ++duplicates;
            else
                ++outOfOrder;
        }
        if (s < sent.size())
            gaps.emplace_back(s, sent.size());
        // Each gap, split where one life of the device ends and the next
        // begins, is explained by a fault on its line, by the broker being
        // away (then it must be in dropped), or by the gateway's stop.
        qint64 devBroker = 0, devExcused = 0, devUnexplained = 0, devTrailing = 0, devStalled = 0;
        for (auto [from, to] : gaps) {
            size_t a = from;
            while (a < to) {
                size_t b = a + 1;
                while (b < to && lifeOf[b] == lifeOf[a])
                    ++b;
                const qint64 first = sent[a].at, last = sent[b - 1].at;
                const Life *life = lifeOf[a];
                const qint64 n = qint64(b - a);
                QString why;
                if (first >= tStop - kSlackMs && b == sent.size()) {
                    why = QStringLiteral("on the way at the gateway's stop");
                    devTrailing += n;
                } else if (life->ended >= 0 && life->ended < tStop && b == lifeEnd[life]
                           && first >= life->ended - kSlackMs) {
                    why = QStringLiteral("the last sets before the device was swapped out");
                    devExcused += n;
                } else {
                    for (const Fault &f : m_faults) {
                        if (f.kind == QLatin1String("broker")) {
                            if (first >= f.begin - kSlackMs && last <= (f.recovered >= 0 ? f.recovered : tStop)) {
                                why = QStringLiteral("broker away");
                                devBroker += n;
                                break;
                            }
                            continue;
                        }
                        if (f.device != d || f.kind == QLatin1String("swap"))
                            continue;
                        // Until the gateway asked the device for values again:
                        // the last request for them before its values were
                        // back (a gateway that asks again after the line
                        // comes back rightly throws away what was sent before).
                        // (the first set received that the device sent
                        // after the fault: a set sent before it may arrive
                        // late on a busy machine and mark nothing).
                        qint64 back = tStop;
                        for (size_t k = 0; k < sent.size(); ++k)
                            if (got[k] && sent[k].at >= f.end) {
                                back = sent[k].at;
                                break;
                            }
                        qint64 asked = f.end;
                        for (const auto &[t, what] : life->requests)
                            if (t >= f.end && t <= back && what == QLatin1String("feedback raw"))
                                asked = t;
                        if (first >= f.begin - kSlackMs && last <= asked) {
                            why = f.kind == QLatin1String("ser2net")
                                ? QStringLiteral("sent while ser2net was down or in it at its kill")
                                : QStringLiteral("sent by the frozen device before the gateway asked it again");
                            devExcused += n;
                            break;
                        }
                    }
                }
                if (why.isEmpty()) {
                    // The path stalled with no fault of the run's (a busy
                    // machine can hold ser2net or a simulator for seconds):
                    // the gateway said silent, and what the device had sent
                    // meanwhile came late and was thrown away as stale by
                    // the next identification, never stamped as new.
                    const auto &changes = m_status[size_t(d)];
                    for (size_t i = 0; i < changes.size(); ++i) {
                        if (changes[i].word != QLatin1String("silent"))
                            continue;
                        qint64 online = tStop;
                        for (size_t j = i + 1; j < changes.size(); ++j)
                            if (changes[j].word == QLatin1String("online")) {
                                online = changes[j].at;
                                break;
                            }
                        if (first >= changes[i].at - kSilenceMs - kSlackMs && first <= changes[i].at && last <= online) {
                            why = QStringLiteral("withheld: the line stalled, the gateway said silent and threw the late sets away");
                            devStalled += n;
                            break;
                        }
                    }
                }
                if (why.isEmpty()) {
                    why = QStringLiteral("UNEXPLAINED");
                    devUnexplained += n;
                }
                gapNotes << QStringLiteral("gap dev%1: %2 sets sent %3 s to %4 s: %5").arg(d).arg(n).arg(secs(first), secs(last), why);
                a = b;
            }
        }
        const qint64 devDropped = droppedBy[QStringLiteral("dev%1").arg(d)];
        perDeviceDropOk = perDeviceDropOk && devBroker == devDropped;
        perDevice << QStringLiteral("dev%1: sent %2, received in order %3, missing while the broker was away %4 "
                                    "(dropped says %5), on a line that was down %6, at the stop %7, withheld while silent %8, unexplained %9")
                         .arg(d).arg(sent.size()).arg(qint64(std::count(got.begin(), got.end(), true)))
                         .arg(devBroker).arg(devDropped).arg(devExcused).arg(devTrailing).arg(devStalled).arg(devUnexplained);
        sentAll += qint64(sent.size());
        receivedAll += qint64(m_received[size_t(d)].size());
        inBrokerGaps += devBroker;
        excused += devExcused;
        unexplained += devUnexplained;
        stalled += devStalled;
        trailingAtStop += devTrailing;
    }

    // ---------------------------------------------------------- checks
    check(QStringLiteral("accounted"), unexplained == 0 && perDeviceDropOk && outOfOrder == 0 && unknown == 0,
          QStringLiteral("every set logged is received in order, in dropped, or was on a line that was down: "
                         "%1 sent, %2 in order, %3 missing while the broker was away against %4 in dropped, "
                         "%5 on a line that was down, %6 at the stop, %7 withheld while the gateway said silent, "
                         "%8 unexplained, %9 out of order, %10 not sent by the device")
              .arg(sentAll).arg(inOrder).arg(inBrokerGaps).arg(dropped).arg(excused).arg(trailingAtStop)
              .arg(stalled).arg(unexplained).arg(outOfOrder).arg(unknown));
    check(QStringLiteral("duplicates"), true, QStringLiteral("%1 sets received twice (QoS 1 allows it; informative)").arg(duplicates));
    check(QStringLiteral("swapped-values"), foreignSets == 0,
          QStringLiteral("%1 sets of the swapped-in device published under the original's name").arg(foreignSets));

    // The statuses each fault should bring, and only the known words.
    QStringList unknownWords;
    for (int d = 0; d < kDevices; ++d)
        for (const StatusChange &c : m_status[size_t(d)])
            if (!kWords.contains(c.word))
                unknownWords << QStringLiteral("dev%1 %2").arg(d).arg(c.word);
    check(QStringLiteral("status-words"), unknownWords.isEmpty(),
          unknownWords.isEmpty() ? QStringLiteral("only online, lost, silent, no-answer, other-device, offline")
                                 : QStringLiteral("unknown: ") + unknownWords.join(QLatin1String(", ")));
    int recovered = 0;
    QStringList faultLines;
    std::map<QString, std::pair<int, int>> byKind;   // faults, passed
    std::map<QString, QString> firstFailed;
    for (const Fault &f : m_faults) {
        QString expect, seen = QStringLiteral("-");
        bool ok = f.recovered >= 0;
        if (f.kind == QLatin1String("ser2net")) {
            expect = QStringLiteral("lost");
        } else if (f.kind == QLatin1String("freeze")) {
            expect = QStringLiteral("silent");
        } else if (f.kind == QLatin1String("swap")) {
            expect = f.device == kAddress255Device ? QStringLiteral("other-device") : QStringLiteral("no-answer");
        }
        // The faulted device's own values back (every device's after the
        // broker).
        qint64 back = -1;
        if (f.device >= 0) {
            const auto &at = m_receivedAt[size_t(f.device)];
            const auto &vals = m_received[size_t(f.device)];
            for (size_t i = 0; i < at.size() && back < 0; ++i)
                if (at[i] >= f.end && at[i] <= f.end + 90000 && (vals[i][0] != kHeld || vals[i][1] != kHeld))
                    back = at[i];
            ok = back >= 0;
        } else {
            back = f.recovered;
        }
        if (back >= 0)
            ++recovered;
        const qint64 until = std::min(back >= 0 ? back : f.end + 90000, tStop - 1);
        if (f.device >= 0) {
            QStringList words;
            for (const StatusChange &c : m_status[size_t(f.device)])
                if (c.at >= f.begin && c.at <= until + 2000)
                    words << c.word;
            seen = words.isEmpty() ? QStringLiteral("(none)") : words.join(QStringLiteral(" → "));
            ok = ok && (expect.isEmpty() || statusSeen(f.device, expect, f.begin, until))
                && statusAt(f.device, until + 2000) == QLatin1String("online");
        } else {
            // The broker: the gateway says online again on the new connection.
            bool back = false;
            for (const StatusChange &c : m_gwStatus)
                back = back || (c.at >= f.end && c.word == QLatin1String("online"));
            seen = back ? QStringLiteral("gateway online again") : QStringLiteral("gateway status not renewed");
            ok = ok && back;
        }
        faultLines << QStringLiteral("fault at %1 s: %2; expected %3 then online; statuses %4; %5 %6")
                          .arg(secs(f.begin - t0), f.detail, expect.isEmpty() ? QStringLiteral("-") : expect, seen,
                               back >= 0 ? QStringLiteral("streaming again %1 s after").arg(secs(back - f.end))
                                         : QStringLiteral("NOT streaming again within 90 s"),
                               ok ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
        auto &[made, passed] = byKind[f.kind];
        ++made;
        passed += ok ? 1 : 0;
        if (!ok && !firstFailed.count(f.kind))
            firstFailed[f.kind] = faultLines.last();
    }
    // One check per kind of fault; every fault on a line of its own below.
    for (const QString &kind : {QStringLiteral("broker"), QStringLiteral("ser2net"), QStringLiteral("freeze"),
                                QStringLiteral("swap")}) {
        const auto [made, passed] = byKind[kind];
        check(QStringLiteral("fault-") + kind, made > 0 && passed == made,
              made == 0 ? QStringLiteral("not made in this run")
                        : QStringLiteral("%1 of %2 as expected%3").arg(passed).arg(made)
                              .arg(firstFailed.count(kind) ? QStringLiteral("; first that was not: ") + firstFailed[kind]
                                                           : QString()));
    }
    check(QStringLiteral("final-statuses"), finalOk,
          QStringLiteral("gateway %1; %2").arg(gwFinal, finals.join(QLatin1String(", "))));
    check(QStringLiteral("streaming-at-end"), streamingAtEnd == kDevices,
          QStringLiteral("%1 of %2 devices stream at the end (the gateway never gives up)").arg(streamingAtEnd).arg(kDevices));
    check(QStringLiteral("offline-at-stop"), offlineOk && gwExit == 0,
          QStringLiteral("after SIGTERM: exit %1, every status offline: %2").arg(gwExit).arg(offlineOk ? "yes" : "no"));
    const qint64 growth = rssEnd - rssMark;
    check(QStringLiteral("rss"), rssMark > 0 && rssEnd > 0 && growth < 1024,
          QStringLiteral("VmRSS %1 kB at %2 s, %3 kB at the end: %4%5 kB (start %6 kB, peak %7 kB)")
              .arg(rssMark).arg(markMs / 1000).arg(rssEnd).arg(growth >= 0 ? "+" : "").arg(growth).arg(rssStart).arg(rssPeak));
    const double wallS = double(t1 - t0) / 1000.0;
    const double cpuPct = 100.0 * (cpu1 - cpu0) / wallS;

    std::printf("seed=%u minutes=%d faults=%zu recovered=%d sent=%lld received=%lld in_order=%lld broker_gaps=%lld "
                "dropped=%lld line_down=%lld at_stop=%lld stalled=%lld unexplained=%lld duplicates=%lld out_of_order=%lld "
                "unknown=%lld foreign=%lld rss_start_kb=%lld rss_mark_kb=%lld rss_end_kb=%lld rss_growth_kb=%lld "
                "rss_mark_s=%lld cpu_pct=%.2f cpu_s=%.3f wall_s=%.1f all_ok=%d\n",
                seed, minutes, m_faults.size(), recovered, (long long)sentAll, (long long)receivedAll,
                (long long)inOrder, (long long)inBrokerGaps, (long long)dropped, (long long)excused,
                (long long)trailingAtStop, (long long)stalled, (long long)unexplained, (long long)duplicates, (long long)outOfOrder,
                (long long)unknown, (long long)foreignSets, (long long)rssStart, (long long)rssMark,
                (long long)rssEnd, (long long)growth, (long long)(markMs / 1000), cpuPct, cpu1 - cpu0, wallS,
                m_allOk ? 1 : 0);
    for (const QString &c : m_checks)
        std::printf("%s\n", c.toUtf8().constData());
    for (const QString &l : faultLines)
        std::printf("%s\n", l.toUtf8().constData());
    for (const QString &l : perDevice)
        std::printf("device %s\n", l.toUtf8().constData());
    for (const QString &l : gapNotes)
        std::printf("%s\n", l.toUtf8().constData());
    for (const auto &[t, r] : rssSamples)
        std::printf("rss at %lld s: %lld kB\n", (long long)(t / 1000), (long long)r);
    for (int d = 0; d < kDevices; ++d) {
        QStringList w;
        for (const StatusChange &c : m_status[size_t(d)])
            w << QStringLiteral("%1@%2").arg(c.word, secs(c.at - t0));
        std::printf("statuses dev%d: %s\n", d, w.join(QLatin1Char(' ')).toUtf8().constData());
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    Run run;
    run.seed = quint32(QDateTime::currentMSecsSinceEpoch() % 1000000);
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString v = args.value(i + 1);
        bool ok = true;
        if (a == QLatin1String("--rt8gw"))
            run.rt8gw = v;
        else if (a == QLatin1String("--rt8sim"))
            run.rt8sim = v;
        else if (a == QLatin1String("--logs"))
            run.logs = v;
        else if (a == QLatin1String("--minutes"))
            run.minutes = v.toInt(&ok);
        else if (a == QLatin1String("--seed"))
            run.seed = v.toUInt(&ok);
        else
            ok = false;
        if (!ok || v.isEmpty()) {
            std::fprintf(stderr, "usage: bench_gwfaults --rt8gw PATH --rt8sim PATH [--minutes M] [--seed N] [--logs DIR]\n");
            return 2;
        }
        ++i;
    }
    if (run.rt8gw.isEmpty() || run.rt8sim.isEmpty() || run.minutes < 1 || run.minutes > 600) {
        std::fprintf(stderr, "usage: bench_gwfaults --rt8gw PATH --rt8sim PATH [--minutes M (1-600)] [--seed N] [--logs DIR]\n");
        return 2;
    }
    QTemporaryDir fallback;
    if (run.logs.isEmpty())
        run.logs = fallback.path();
    ::signal(SIGPIPE, SIG_IGN);
    mosquitto_lib_init();
    const int rc = run.exec();
    mosquitto_lib_cleanup();
    return rc;
}
