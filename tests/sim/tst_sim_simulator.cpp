// The simulator on an in-memory line: replies, stream pacing, noise,
// unplugging and replugging, and several devices sharing the line.

#include "line.h"
#include "protocol/frame.h"
#include "protocol/splitter.h"
#include "simulator.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace rt8sim;

namespace {

const QByteArray kDiscover = QByteArray::fromHex("020009FFEE21FFC603");
const QByteArray kDiscoverReply = QByteArray::fromHex("02000AEE01210128ED03");

QByteArray feedback(quint8 mode) { return vorn::buildFrame(1, 0x40, QByteArray(1, char(mode))); }

// Keeps what is written. While blocked, writes wait in pendingBytes() as
// they would in a full pseudo-terminal.
class MemoryLine : public Line
{
public:
    bool open(QString *) override
    {
        ++opens;
        return m_open = true;
    }
    void close() override
    {
        m_open = false;
        m_pending.clear();
    }
    bool isOpen() const override { return m_open; }
    QString portName() const override { return QStringLiteral("mem%1").arg(opens); }
    void write(const QByteArray &b) override { (!m_open ? dropped : blocked ? m_pending : out) += b; }
    qint64 pendingBytes() const override { return m_pending.size(); }
    void inject(const QByteArray &b) { emit received(b); }
    void unblock()
    {
        blocked = false;
        out += m_pending;
        m_pending.clear();
        QTimer::singleShot(0, this, [this] { emit drained(); });
    }
    QByteArray out, dropped;
    bool blocked = false;
    int opens = 0;

private:
    bool m_open = false;
    QByteArray m_pending;
};

// The number of raw replies in bytes, or -1 if anything else is there.
int rawReplies(const QByteArray &bytes)
{
    for (int i = 0; i < bytes.size(); i += vorn::kRawReplyLength)
        if (!vorn::checkFrame(bytes.mid(i, vorn::kRawReplyLength), vorn::FrameLayout::Reply).isFrame() || bytes[i + 5] != 0x40)
            return -1;
    return int(bytes.size() / vorn::kRawReplyLength);
}

struct Rig
{
    explicit Rig(int periodMs, double noise = 0.0) : sim(&line, &device, Noise(noise, 99), periodMs)
    {
        line.open(nullptr);
        QObject::connect(&sim, &Simulator::log, [this](const QString &l) { logs << l; });
    }
    MemoryLine line;
    Device device;
    Simulator sim;
    QStringList logs;
};

// Devices 1 and 5 on one line.
struct TwoDevices
{
    explicit TwoDevices(int periodMs) : sim(&line, QList<Device *>{&one, &five}, Noise(0.0, 1), periodMs)
    {
        line.open(nullptr);
    }
    MemoryLine line;
    Device one{1};
    Device five{5};
    Simulator sim;
};

// Raw replies in bytes counted by the number of the device that sent them
// (reply byte 4); false if anything else is there.
bool rawRepliesBySender(const QByteArray &bytes, QMap<int, int> *by)
{
    by->clear();
    if (rawReplies(bytes) < 0)
        return false;
    for (int i = 0; i < bytes.size(); i += vorn::kRawReplyLength)
        ++(*by)[quint8(bytes[i + 4])];
    return true;
}

}  // namespace

class TestSimSimulator : public QObject
{
    Q_OBJECT
private slots:
    void repliesGoOut_data()
    {
        QTest::addColumn<double>("noise");
        QTest::newRow("clean") << 0.0;
        QTest::newRow("all damaged") << 1.0;
    }

    void repliesGoOut()
    {
        QFETCH(double, noise);
        Rig r(500, noise);
        r.line.inject(kDiscover.left(4));
        QVERIFY(r.line.out.isEmpty());
        r.line.inject(kDiscover.mid(4));
        QCOMPARE(r.line.out == kDiscoverReply, noise == 0.0);
        QCOMPARE(r.sim.noise().damagedCount(), noise == 0.0 ? 0 : 1);
        QCOMPARE(r.logs, QStringList{"discover -> number 1 digits 40"});
    }

    void streamPeriod_data()
    {
        QTest::addColumn<int>("period");
        QTest::newRow("10 ms") << 10;
        QTest::newRow("50 ms") << 50;
    }

    // Timers may fire late, never early: however busy the machine, no more
    // items than the time since the request allows.
    void streamPeriod()
    {
        QFETCH(int, period);
        Rig r(period);
        r.device.hold(7, 7000);
        QElapsedTimer t;
        t.start();
        r.line.inject(feedback(1));
        // Four items' worth of bytes, then what they are: something else on
        // the line fails at once instead of at the bound.
        QTRY_VERIFY_WITH_TIMEOUT(r.line.out.size() >= 4 * vorn::kRawReplyLength, 20000);
        QVERIFY(rawReplies(r.line.out) >= 4);
        r.line.inject(feedback(2));
        const qint64 ms = t.elapsed();
        const int n = rawReplies(r.line.out);
        QVERIFY2(n <= ms / period + 1, qPrintable(QStringLiteral("%1 items in %2 ms").arg(n).arg(ms)));
        QCOMPARE(r.line.out.mid(6 + 14, 2).toHex(), QByteArray("1b58"));
        r.line.out.clear();
        QTest::qWait(3 * period + 20);
        QVERIFY(r.line.out.isEmpty());   // stopped
    }

    // Period 0: as fast as the line takes them, and no faster.
    void periodZero()
    {
        Rig r(0);
        r.line.inject(feedback(1));
        QTRY_VERIFY(r.line.out.size() >= 200 * vorn::kRawReplyLength);
        r.line.blocked = true;
        QTest::qWait(30);
        const qint64 made = r.sim.streamedItems();
        QTest::qWait(50);
        QCOMPARE(r.sim.streamedItems(), made);
        QCOMPARE(r.line.pendingBytes(), qint64(vorn::kRawReplyLength));   // one waits, none behind it
        r.line.unblock();
        QTRY_VERIFY(r.sim.streamedItems() > made + 100);
        r.line.inject(feedback(2));
        QVERIFY(rawReplies(r.line.out) > 0);
    }

    // With a period, a busy line makes the stream skip items.
    void busyLineSkips()
    {
        Rig r(5);
        r.line.blocked = true;
        r.line.inject(feedback(1));
        QTRY_COMPARE(r.line.pendingBytes(), qint64(vorn::kRawReplyLength));
        QTest::qWait(200);
        QCOMPARE(r.line.pendingBytes(), qint64(vorn::kRawReplyLength));
        QCOMPARE(r.sim.streamedItems(), qint64(1));
        r.line.unblock();
        QTRY_VERIFY(r.sim.streamedItems() > 3);
    }

    void unplugAndReplug()
    {
        Rig r(0);
        r.line.inject(feedback(1));
        QTRY_VERIFY(!r.line.out.isEmpty());
        r.sim.unplug();
        QVERIFY(!r.line.isOpen());
        const qint64 made = r.sim.streamedItems();
        QTest::qWait(50);
        QCOMPARE(r.sim.streamedItems(), made);   // no spinning on a closed line
        // The link is moved on lineOpened, which must come before the log line
        // that clients wait for.
        QObject::connect(&r.sim, &rt8sim::Simulator::lineOpened, [&](const QString &port) { r.logs.append("opened " + port); });
        QVERIFY(r.sim.replug(nullptr));
        QCOMPARE(r.logs.mid(r.logs.size() - 3), (QStringList{"unplugged", "opened mem2", "replugged: port mem2"}));
        r.line.out.clear();
        QTRY_VERIFY(r.line.out.size() >= 10 * vorn::kRawReplyLength);   // the stream carries on
    }

    // The clean-up timer gives up a broken header, so the frame behind it
    // is answered without any further bytes.
    void staleHeaderGivenUp()
    {
        Rig r(500);
        r.line.inject(QByteArray::fromHex("0200F0FFEE") + kDiscover);
        QVERIFY(r.line.out.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(r.line.out, kDiscoverReply, FrameReader::kStaleMs + 3 * Simulator::kTickMs);
    }

    // A feedback request starts the stream of the devices it reaches, and a
    // stop request stops only theirs.
    void streamsPerDevice_data()
    {
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("startAddress");
        QTest::addColumn<QList<int>>("streaming");
        QTest::newRow("5 alone, 10 ms") << 10 << 5 << QList<int>{5};
        QTest::newRow("5 alone, as fast as the line") << 0 << 5 << QList<int>{5};
        QTest::newRow("both, 10 ms") << 10 << 255 << QList<int>{1, 5};
        QTest::newRow("both, as fast as the line") << 0 << 255 << QList<int>{1, 5};
    }

    void streamsPerDevice()
    {
        QFETCH(int, period);
        QFETCH(int, startAddress);
        QFETCH(QList<int>, streaming);
        TwoDevices r(period);
        r.line.inject(vorn::buildFrame(quint8(startAddress), 0x40, QByteArray(1, '\x01')));
        QMap<int, int> by;
        // Until five items of each, or anything but raw replies.
        QTRY_VERIFY(!rawRepliesBySender(r.line.out, &by)
                    || (by.value(streaming.first()) >= 5 && by.value(streaming.last()) >= 5));
        QVERIFY(rawRepliesBySender(r.line.out, &by));
        QCOMPARE(by.keys(), streaming);
        if (period == 0 && streaming.size() == 2)
            QVERIFY2(qAbs(by[1] - by[5]) <= 1, "the two streams do not take turns");

        r.line.inject(vorn::buildFrame(5, 0x40, QByteArray(1, '\x02')));
        QCOMPARE(r.five.feedback(), Device::Feedback::Off);
        r.line.out.clear();
        if (streaming.contains(1)) {
            QTRY_VERIFY(!rawRepliesBySender(r.line.out, &by) || by.value(1) >= 5);
            QVERIFY(rawRepliesBySender(r.line.out, &by));
            QCOMPARE(by.keys(), QList<int>{1});
        }
    }
};

QTEST_GUILESS_MAIN(TestSimSimulator)
#include "tst_sim_simulator.moc"
