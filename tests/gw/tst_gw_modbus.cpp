// rt8gw's Modbus TCP server, the built program with rt8sim devices on
// pseudo-terminals and no broker, read by two clients nobody here wrote:
// mbpoll and pymodbus. The values the simulators sent in every word order,
// every exception, frames that are not frames, two clients at once, one that
// floods garbage, too many clients and idle ones, a port that cannot be
// had, a device unplugged.

#include "e2e/simprocess.h"
#include "support/gateway.h"

#include "protocol/reply.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <unistd.h>

using namespace vorn;
using vorn::test::freePort;

namespace {

constexpr int kBound = 30000;   // for anything to happen on a busy machine

using vorn::test::GwDevice;
using vorn::test::Process;
using vorn::test::sentSets;

// rt8gw with a Modbus server on 127.0.0.1 at a free port (or listenPort), and
// no broker; through the programs in via where given.
struct Gateway : vorn::test::GatewayProcess
{
    int port;
    Gateway(const QTemporaryDir &dir, const QList<GwDevice> &devices, QJsonObject modbus = {}, int listenPort = 0,
            const QStringList &via = {})
        : port(listenPort ? listenPort : freePort())
    {
        modbus.insert("listen", QStringLiteral("127.0.0.1:%1").arg(port));
        launch(dir, vorn::test::gatewayConfig(0, devices, {{"modbus", modbus}}), {}, QProcessEnvironment::systemEnvironment(),
               QStringLiteral("rt8gw-%1.json").arg(port), via);
    }
    // Answering, or gone.
    bool listening()
    {
        return waitForStarted(kBound)
               && QTest::qWaitFor([this] { return err.contains(QLatin1String("Modbus TCP")) || state() != Running; }, kBound)
               && state() == Running;
    }
};

// Requests through pymodbus (modbus_client.py), one JSON object each; its
// answers in order.
QList<QJsonObject> pymodbus(int port, const QList<QJsonObject> &requests)
{
    QProcess p;
    p.start(QStringLiteral(PYTHON3_EXE), {QStringLiteral(MODBUS_CLIENT_PY), QString::number(port)});
    for (const QJsonObject &r : requests)
        p.write(QJsonDocument(r).toJson(QJsonDocument::Compact) + '\n');
    p.closeWriteChannel();
    const vorn::test::Result r = vorn::test::finish(p, 120000);
    QList<QJsonObject> answers;
    for (const QString &line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        answers.append(QJsonDocument::fromJson(line.toUtf8()).object());
    if (answers.size() != requests.size())
        qWarning("pymodbus: %s", qPrintable(vorn::test::describe(r)));
    return answers;
}

QJsonObject readAll(int unit)
{
    return {{"op", "read_input"}, {"unit", unit}, {"address", 0}, {"count", 36}};
}

// The 36 registers of a unit through pymodbus; empty when not answered.
QList<int> registers(int port, int unit)
{
    QList<int> got;
    for (const QJsonValue v : pymodbus(port, {readAll(unit)}).value(0).value("registers").toArray())
        got.append(v.toInt());
    return got;
}

// mbpoll, once: the values it shows, by reference (1-based), signed where
// it shows a sign.
QMap<int, QString> mbpoll(int port, int unit, int reference, int count, const QString &type, bool bigEndian)
{
    QProcess p;
    QStringList args{"-m", "tcp", "-p", QString::number(port), "-a", QString::number(unit), "-r", QString::number(reference),
                     "-c", QString::number(count), "-t", type, "-o", "5", "-1"};
    if (bigEndian)
        args << "-B";
    p.start(QStringLiteral(MBPOLL_EXE), args + QStringList{"127.0.0.1"});
    const vorn::test::Result r = vorn::test::finish(p, kBound);
    QMap<int, QString> got;
    static const QRegularExpression row(QStringLiteral("^\\[(\\d+)\\]:\\s+(\\S+)(?:\\s+\\((-?\\d+)\\))?"));
    for (const QString &line : r.out.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = row.match(line);
        if (m.hasMatch())
            got.insert(m.captured(1).toInt(), m.captured(3).isEmpty() ? m.captured(2) : m.captured(3));
    }
    if (got.isEmpty())
        qWarning("mbpoll: %s", qPrintable(vorn::test::describe(r)));
    return got;
}

// The last set of values a simulator sent: raw values as numbers, a
// record's fields as text.
QStringList lastSent(const SimProcess &sim)
{
    const QList<QStringList> sets = sentSets(sim);
    return sets.isEmpty() ? QStringList() : sets.constLast();
}

// A field as the int16 register shows it, worked out here on its own: the
// digits without the point, saturated.
int int16Of(const QString &field)
{
    bool ok = false;
    const qlonglong v = QString(field).remove(QLatin1Char('.')).toLongLong(&ok);
    return ok ? int(std::clamp<qlonglong>(v, -32768, 32767)) : -32768;
}

// Two registers of a float in a word order back to the float.
float floatOf(quint16 first, quint16 second, const QString &order)
{
    const auto swap = [](quint16 w) { return quint16(w << 8 | w >> 8); };
    if (order.startsWith(QLatin1String("BA")) || order.startsWith(QLatin1String("DC"))) {
        first = swap(first);
        second = swap(second);
    }
    const quint32 bits = order.startsWith(QLatin1String("AB")) || order.startsWith(QLatin1String("BA"))
                             ? quint32(first) << 16 | second
                             : quint32(second) << 16 | first;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Holds the ten channels of a simulator's first device at these raw values
// and waits until it says so.
bool hold(SimProcess &sim, const QList<int> &raw)
{
    for (int i = 0; i < raw.size(); ++i)
        sim.type(QStringLiteral("hold %1 %2").arg(i).arg(raw[i]));
    return QTest::qWaitFor([&] { return sim.logLines(QStringLiteral("held at")).size() >= raw.size(); }, kBound);
}

const QList<int> kHeld{0, 1, 255, 12345, 32767, 32768, 40000, 65535, 100, 7};

// A raw frame: MBAP header (transaction 1, protocol, length) and the rest.
QByteArray frame(int protocol, int length, const QByteArray &rest)
{
    QByteArray f;
    f.append(char(0)).append(char(1));
    f.append(char(protocol >> 8)).append(char(protocol & 0xFF));
    f.append(char(length >> 8)).append(char(length & 0xFF));
    return f + rest;
}

const QByteArray kReadAll = QByteArray::fromHex("010400000024");   // unit 1, 04, address 0, count 36

bool closedByServer(QTcpSocket &s)
{
    return QTest::qWaitFor([&] { return s.state() == QAbstractSocket::UnconnectedState; }, kBound);
}

}  // namespace

class TestGatewayModbus : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void valuesInEveryWordOrder_data();
    void valuesInEveryWordOrder();
    void answers_data();
    void answers();
    void malformedFramesCloseTheirClient_data();
    void malformedFramesCloseTheirClient();
    void twoClientsAtOnce();
    void aClientIsAnsweredAtMostOnceAMillisecond();
    void garbageFloodClosedOthersGoOn();
    void tooManyAndIdleClients();
    void serverBelowTheGateway();
    void listenRefused_data();
    void listenRefused();
    void deviceUnplugged();

private:
    QTemporaryDir m_dir;
    // One gateway for the answers: unit 1 a raw device, unit 3 one that is
    // not there.
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Gateway> m_gw;
};

void TestGatewayModbus::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_sim = std::make_unique<SimProcess>(QStringList{"--period", "100"});
    QVERIFY(!m_sim->port().isEmpty());
    QVERIFY(hold(*m_sim, kHeld));
    m_gw = std::make_unique<Gateway>(m_dir, QList<GwDevice>{{"cab1", m_sim->port(), 1, "raw"},
                                                          {"cab3", m_dir.filePath("none"), 255, "raw", 3}});
    QVERIFY2(m_gw->listening(), qPrintable(m_gw->err));
    QTRY_VERIFY2_WITH_TIMEOUT(registers(m_gw->port, 1).value(30) == 1, qPrintable(m_gw->err), kBound);
}

void TestGatewayModbus::cleanupTestCase()
{
    m_gw.reset();
    m_sim.reset();
}

void TestGatewayModbus::valuesInEveryWordOrder_data()
{
    QTest::addColumn<QString>("order");
    for (const char *o : {"ABCD", "CDAB", "BADC", "DCBA"})
        QTest::newRow(o) << QString::fromLatin1(o);
}

void TestGatewayModbus::valuesInEveryWordOrder()
{
    QFETCH(QString, order);
    SimProcess raw({"--address", "1", "--period", "100", "--log-sent"});
    SimProcess target({"--address", "5", "--digits", "8", "--period", "300", "--log-sent"});
    QVERIFY(!raw.port().isEmpty() && !target.port().isEmpty());
    QVERIFY(hold(raw, kHeld));
    QVERIFY(hold(target, {0, 100, 1000, 5000, 10000, 20000, 30000, 40000, 50000, 65535}));
    QTemporaryDir dir;
    Gateway gw(dir, {{"cab1", raw.port(), 1, "raw"}, {"cab2", target.port(), 5, "target", 2}},
               QJsonObject{{"word_order", order}});
    QVERIFY2(gw.listening(), qPrintable(gw.err));
    QTRY_VERIFY2_WITH_TIMEOUT(registers(gw.port, 1).value(30) == 1 && registers(gw.port, 2).value(30) == 1,
                              qPrintable(gw.err), kBound);
    for (const auto &[unit, sim] : {std::pair{1, &raw}, std::pair{2, &target}}) {
        // Its log read meanwhile (the clients are waited for without an event loop).
        QTRY_COMPARE_WITH_TIMEOUT(lastSent(*sim).size(), 10, kBound);
        const QStringList sent = lastSent(*sim);
        // pymodbus decoding the floats in the word order.
        const QJsonArray floats = pymodbus(gw.port, {{{"op", "floats"}, {"unit", unit}, {"order", order}}})
                                      .value(0).value("floats").toArray();
        QCOMPARE(floats.size(), 10);
        // mbpoll: the 16-bit registers, and its own floats where it knows
        // the order (CDAB by default, ABCD with -B).
        const QMap<int, QString> words = mbpoll(gw.port, unit, 1, 36, QStringLiteral("3"), false);
        QCOMPARE(words.size(), 36);
        QMap<int, QString> mbFloats;
        if (order == QLatin1String("ABCD") || order == QLatin1String("CDAB"))
            mbFloats = mbpoll(gw.port, unit, 1, 10, QStringLiteral("3:float"), order == QLatin1String("ABCD"));
        for (int i = 0; i < 10; ++i) {
            const float expected = float(sent[i].toDouble());
            const QString at = QStringLiteral("unit %1 channel %2: sent %3").arg(unit).arg(i).arg(sent[i]);
            QVERIFY2(floats[i].toDouble() == double(expected), qPrintable(at + " pymodbus " + QString::number(floats[i].toDouble())));
            const float fromWords = floatOf(quint16(words.value(2 * i + 1).toInt()), quint16(words.value(2 * i + 2).toInt()), order);
            QVERIFY2(fromWords == expected, qPrintable(at + " mbpoll words " + QString::number(fromWords)));
            if (!mbFloats.isEmpty())
                QVERIFY2(std::abs(mbFloats.value(2 * i + 1).toDouble() - expected) <= std::abs(expected) * 1e-6,
                         qPrintable(at + " mbpoll float " + mbFloats.value(2 * i + 1)));
            QVERIFY2(qint16(words.value(21 + i).toInt()) == int16Of(sent[i]),
                     qPrintable(at + " int16 " + words.value(21 + i)));
        }
        QCOMPARE(words.value(31).toInt(), 1);   // online
        QVERIFY(words.value(32).toInt() < 100); // values less than 10 s old
        QVERIFY(words.value(33).toInt() * 65536 + quint16(words.value(34).toInt()) > 0);
        QCOMPARE(words.value(35).toInt(), unit == 1 ? 1 : 5);   // the device's number
        QCOMPARE(words.value(36).toInt(), unit == 1 ? 40 : 8);  // its digits
    }
}

void TestGatewayModbus::answers_data()
{
    QTest::addColumn<QJsonObject>("request");
    QTest::addColumn<int>("exception");   // 0: answered
    QTest::addColumn<int>("count");       // registers answered
    const auto req = [](const char *op, int unit, int address, int count) {
        return QJsonObject{{"op", op}, {"unit", unit}, {"address", address}, {"count", count}};
    };
    QTest::newRow("04: all 36") << req("read_input", 1, 0, 36) << 0 << 36;
    QTest::newRow("03: all 36") << req("read_holding", 1, 0, 36) << 0 << 36;
    QTest::newRow("03: the last") << req("read_holding", 1, 35, 1) << 0 << 1;
    QTest::newRow("04: a device not there") << req("read_input", 3, 30, 6) << 0 << 6;
    QTest::newRow("04: address 36") << req("read_input", 1, 36, 1) << 2 << 0;
    QTest::newRow("03: beyond 35") << req("read_holding", 1, 30, 7) << 2 << 0;
    QTest::newRow("04: address 65535") << req("read_input", 1, 65535, 1) << 2 << 0;
    QTest::newRow("04: count 0") << req("read_input", 1, 0, 0) << 2 << 0;
    QTest::newRow("03: count 126") << req("read_holding", 1, 0, 126) << 2 << 0;
    QTest::newRow("06: write one") << req("write_register", 1, 0, 1) << 1 << 0;
    QTest::newRow("16: write several") << req("write_registers", 1, 0, 2) << 1 << 0;
    QTest::newRow("01: coils") << req("read_coils", 1, 0, 1) << 1 << 0;
    QTest::newRow("02: discrete inputs") << req("read_discrete", 1, 0, 1) << 1 << 0;
    QTest::newRow("unit 9: no such device") << req("read_input", 9, 0, 1) << 10 << 0;
    QTest::newRow("unit 0") << req("read_input", 0, 0, 1) << 10 << 0;
    QTest::newRow("unit 255") << req("read_holding", 255, 0, 1) << 10 << 0;
    QTest::newRow("unit 9: a write") << req("write_register", 9, 0, 1) << 10 << 0;
}

void TestGatewayModbus::answers()
{
    QFETCH(QJsonObject, request);
    QFETCH(int, exception);
    QFETCH(int, count);
    const qsizetype logged = m_sim->log().size();
    const QList<QJsonObject> got = pymodbus(m_gw->port, {request});
    QCOMPARE(got.size(), 1);
    const QString shown = QString::fromUtf8(QJsonDocument(got[0]).toJson(QJsonDocument::Compact));
    if (exception) {
        QVERIFY2(got[0].value("exception").toInt() == exception, qPrintable(shown));
    } else {
        QVERIFY2(got[0].value("registers").toArray().size() == count, qPrintable(shown));
    }
    // Nothing a client sends reaches the device (its log read a while).
    QTest::qWait(300);
    QCOMPARE(m_sim->log().mid(logged).count(QLatin1String("feedback")), 0);
    QCOMPARE(m_sim->log().mid(logged).count(QLatin1String("discover")), 0);
    QCOMPARE(m_gw->state(), QProcess::Running);
}

void TestGatewayModbus::malformedFramesCloseTheirClient_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("protocol id 1") << frame(1, 6, kReadAll);
    QTest::newRow("length 0") << frame(0, 0, {});
    QTest::newRow("length 1") << frame(0, 1, QByteArray::fromHex("01"));
    QTest::newRow("length 255") << frame(0, 255, QByteArray(255, '\1'));
    QTest::newRow("a read one byte too long") << frame(0, 7, kReadAll + '\0');
    QTest::newRow("a read one byte short") << frame(0, 5, kReadAll.left(5));
}

void TestGatewayModbus::malformedFramesCloseTheirClient()
{
    QFETCH(QByteArray, bytes);
    QTcpSocket other;   // a sound client beside it
    other.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_gw->port));
    QVERIFY(other.waitForConnected(kBound));
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_gw->port));
    QVERIFY(s.waitForConnected(kBound));
    s.write(bytes);
    QVERIFY(closedByServer(s));
    // The sound one is answered: 9 bytes of header, function and count,
    // then 72 bytes of registers.
    other.write(frame(0, 6, kReadAll));
    QVERIFY(QTest::qWaitFor([&] { return other.bytesAvailable() >= 9 + 72; }, kBound));
    const QByteArray reply = other.readAll();
    QCOMPARE(reply.size(), 9 + 72);
    QCOMPARE(reply.mid(6, 3), QByteArray::fromHex("010448"));
}

void TestGatewayModbus::twoClientsAtOnce()
{
    // mbpoll polling every 100 ms, pymodbus reading 30 times meanwhile.
    Process poller;
    poller.start(QStringLiteral(MBPOLL_EXE), {"-m", "tcp", "-p", QString::number(m_gw->port), "-a", "1", "-r", "31",
                                              "-c", "1", "-t", "3", "-l", "100", "127.0.0.1"});
    QVERIFY(QTest::qWaitFor([&] { return poller.out.count(QLatin1String("[31]:")) >= 3; }, kBound));
    const QList<QJsonObject> got = pymodbus(m_gw->port, {{{"op", "poll"}, {"unit", 1}, {"times", 30}, {"interval_ms", 50}}});
    const qsizetype polled = poller.out.count(QLatin1String("[31]:"));
    QVERIFY(QTest::qWaitFor([&] { return poller.out.count(QLatin1String("[31]:")) >= polled + 3; }, kBound));
    QCOMPARE(got.value(0).value("polls").toInt(), 30);
    static const QRegularExpression status(QStringLiteral("\\[31\\]:\\s+(\\d+)"));
    for (auto it = status.globalMatch(poller.out); it.hasNext();)
        QCOMPARE(it.next().captured(1), QStringLiteral("1"));
    QVERIFY2(!poller.out.contains(QLatin1String("error")) && !poller.err.contains(QLatin1String("error")),
             qPrintable(poller.out.right(500) + poller.err));
}

void TestGatewayModbus::aClientIsAnsweredAtMostOnceAMillisecond()
{
    // 200 requests in one write, as a client that asks as fast as it can:
    // every one answered, in order, none sooner than a millisecond after the
    // one before (a busy machine only makes it slower).
    constexpr int kRequests = 200;
    QByteArray burst;
    for (int i = 0; i < kRequests; ++i) {
        QByteArray f = frame(0, 6, kReadAll);
        f[0] = char(i >> 8);
        f[1] = char(i & 0xFF);
        burst += f;
    }
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_gw->port));
    QVERIFY(s.waitForConnected(kBound));
    QElapsedTimer took;
    took.start();
    s.write(burst);
    QVERIFY(QTest::qWaitFor([&] { return s.bytesAvailable() >= kRequests * (9 + 72); }, kBound));
    QVERIFY2(took.elapsed() >= kRequests - 1, qPrintable(QString::number(took.elapsed())));
    const QByteArray replies = s.readAll();
    QCOMPARE(replies.size(), kRequests * (9 + 72));
    for (int i = 0; i < kRequests; ++i) {
        const QByteArray r = replies.mid(i * (9 + 72), 9);
        QCOMPARE((quint8(r[0]) << 8) | quint8(r[1]), i);
        QCOMPARE(r.mid(6, 3), QByteArray::fromHex("010448"));
    }
}

void TestGatewayModbus::garbageFloodClosedOthersGoOn()
{
    Process poller;
    poller.start(QStringLiteral(MBPOLL_EXE), {"-m", "tcp", "-p", QString::number(m_gw->port), "-a", "1", "-r", "1",
                                              "-c", "36", "-t", "3", "-l", "100", "127.0.0.1"});
    QVERIFY(QTest::qWaitFor([&] { return poller.out.count(QLatin1String("[36]:")) >= 2; }, kBound));
    QTcpSocket flood;
    flood.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_gw->port));
    QVERIFY(flood.waitForConnected(kBound));
    QByteArray garbage(1 << 16, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + 13) & 0xFF);
    // Written until the server has hung up (or a megabyte went).
    for (int sent = 0; sent < (1 << 20) && flood.state() == QAbstractSocket::ConnectedState; sent += garbage.size()) {
        flood.write(garbage);
        flood.waitForBytesWritten(1000);
    }
    QVERIFY(closedByServer(flood));
    const qsizetype polled = poller.out.count(QLatin1String("[36]:"));
    QVERIFY(QTest::qWaitFor([&] { return poller.out.count(QLatin1String("[36]:")) >= polled + 3; }, kBound));
    QCOMPARE(registers(m_gw->port, 1).value(30), 1);
    QVERIFY2(!poller.out.contains(QLatin1String("error")) && !poller.err.contains(QLatin1String("error")),
             qPrintable(poller.out.right(500) + poller.err));
}

void TestGatewayModbus::tooManyAndIdleClients()
{
    QTemporaryDir dir;
    Gateway gw(dir, {{"cab1", dir.filePath("none"), 1, "raw"}}, QJsonObject{{"max_clients", 2}, {"idle_s", 5}});
    QVERIFY2(gw.listening(), qPrintable(gw.err));
    QTcpSocket first, second, third;
    for (QTcpSocket *s : {&first, &second}) {
        s->connectToHost(QStringLiteral("127.0.0.1"), quint16(gw.port));
        QVERIFY(s->waitForConnected(kBound));
    }
    // Both taken before the third comes: each answered once.
    for (QTcpSocket *s : {&first, &second}) {
        s->write(frame(0, 6, kReadAll));
        QVERIFY(QTest::qWaitFor([&] { return s->bytesAvailable() >= 9 + 72; }, kBound));
        s->readAll();
    }
    // The newest is refused.
    third.connectToHost(QStringLiteral("127.0.0.1"), quint16(gw.port));
    QVERIFY(closedByServer(third));
    // The second keeps asking, the first says nothing: only the first is
    // closed for idling.
    QElapsedTimer asking;
    asking.start();
    while (first.state() == QAbstractSocket::ConnectedState && asking.elapsed() < kBound) {
        second.write(frame(0, 6, kReadAll));
        QVERIFY(QTest::qWaitFor([&] { return second.bytesAvailable() >= 9 + 72; }, kBound));
        second.readAll();
        QTest::qWait(500);
    }
    QCOMPARE(first.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(second.state(), QAbstractSocket::ConnectedState);
    // A place is free again.
    QCOMPARE(registers(gw.port, 1).size(), 36);
    // Without a broker it stops as cleanly as with one.
    gw.terminate();
    QVERIFY(gw.waitForFinished(kBound));
    QCOMPARE(gw.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gw.exitCode(), 0);
}

// The nice value of each of a process's threads, its own (the main thread)
// first.
static QList<int> threadNices(qint64 pid)
{
    QStringList tasks = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    tasks.removeOne(QString::number(pid));
    tasks.prepend(QString::number(pid));
    QList<int> nices;
    for (const QString &t : tasks) {
        QFile f(QStringLiteral("/proc/%1/task/%2/stat").arg(pid).arg(t));
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray stat = f.readAll();
            nices.append(stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(16).toInt());
        }
    }
    return nices;
}

void TestGatewayModbus::serverBelowTheGateway()
{
    // The lines and the broker first: the server's thread at nice 10, the
    // gateway's own at 0.
    const qint64 pid = m_gw->processId();
    QTRY_VERIFY2_WITH_TIMEOUT(threadNices(pid).count(10) == 1, qPrintable(QString::number(threadNices(pid).count(10))), kBound);
    QCOMPARE(threadNices(pid).value(0, -1), 0);
}

void TestGatewayModbus::listenRefused_data()
{
    QTest::addColumn<bool>("taken");   // false: a port below 1024, as an ordinary user
    QTest::addColumn<QString>("hint");
    QTest::newRow("taken by another") << true << QString();
    QTest::newRow("below 1024, without CAP_NET_BIND_SERVICE")
        << false << QStringLiteral("; port 502 is below %1 and needs the capability CAP_NET_BIND_SERVICE "
                                   "(in a systemd unit: AmbientCapabilities=CAP_NET_BIND_SERVICE)");
}

void TestGatewayModbus::listenRefused()
{
    QFETCH(bool, taken);
    QFETCH(QString, hint);
    QTemporaryDir dir;
    QStringList via;   // root runs it as nobody, without capabilities
    if (!taken) {
        QFile ports(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
        const int first = ports.open(QIODevice::ReadOnly) ? ports.readAll().trimmed().toInt() : 1024;
        if (first <= 502)
            QSKIP("ordinary users may take port 502 here");
        hint = hint.arg(first);
        if (::geteuid() == 0) {
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (setpriv.isEmpty())
                QSKIP("run as root, and no setpriv to run rt8gw as another user");
            via = QStringList{setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all"};
            QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther));
        }
    }
    const int port = taken ? m_gw->port : 502;
    Gateway gw(dir, {{"cab1", dir.filePath("none"), 1, "raw"}}, {}, port, via);
    QVERIFY(gw.waitForFinished(kBound));
    gw.err += QString::fromUtf8(gw.readAllStandardError());
    QCOMPARE(gw.exitCode(), 1);
    QVERIFY2(gw.err.contains(QStringLiteral("cannot take Modbus TCP connections on 127.0.0.1:%1: ").arg(port)),
             qPrintable(gw.err));
    QVERIFY2(hint.isEmpty() ? !gw.err.contains(QLatin1String("CAP_NET_BIND_SERVICE")) : gw.err.contains(hint),
             qPrintable(gw.err));
}

void TestGatewayModbus::deviceUnplugged()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("rt8"));
    SimProcess sim({"--period", "100", "--link", link, "--unplug-after", "8", "--log-sent"});
    QVERIFY(!sim.port().isEmpty());
    QVERIFY(hold(sim, kHeld));
    Gateway gw(dir, {{"cab1", link, 1, "raw"}});
    QVERIFY2(gw.listening(), qPrintable(gw.err));
    QList<int> online;
    QTRY_VERIFY2_WITH_TIMEOUT((online = registers(gw.port, 1)).value(30) == 1, qPrintable(gw.err), kBound);
    QList<int> lost;
    QTRY_VERIFY2_WITH_TIMEOUT((lost = registers(gw.port, 1)).value(30) == 3, qPrintable(gw.err), kBound);
    // The age grows while the last values stay.
    QList<int> later;
    QTRY_VERIFY_WITH_TIMEOUT((later = registers(gw.port, 1)).value(31) >= lost.value(31) + 10, kBound);
    QCOMPARE(later.value(30), 3);
    QCOMPARE(later.mid(0, 30), online.mid(0, 30));
    QCOMPARE(later.mid(32, 2), lost.mid(32, 2));   // no more sets
    QCOMPARE(later.value(34), 1);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(qint16(later.value(20 + i)), qint16(std::min(kHeld[i], 32767)));
}

QTEST_GUILESS_MAIN(TestGatewayModbus)
#include "tst_gw_modbus.moc"
