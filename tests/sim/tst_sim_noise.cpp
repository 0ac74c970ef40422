// Line noise, and the commands typed on the simulator's standard input.

#include "console.h"
#include "noise.h"

#include <QTest>

using rt8sim::ConsoleCommand;
using rt8sim::Noise;

namespace {
const QByteArray kReply = QByteArray::fromHex("02000AEE01210128ED03");
}

class TestSimNoise : public QObject
{
    Q_OBJECT
private slots:
    void corruptKinds_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("minSize");
        QTest::addColumn<int>("maxSize");
        QTest::newRow("flip") << int(Noise::Kind::FlipByte) << 10 << 10;
        QTest::newRow("drop") << int(Noise::Kind::DropByte) << 9 << 9;
        QTest::newRow("insert") << int(Noise::Kind::InsertStray) << 11 << 13;
        QTest::newRow("append") << int(Noise::Kind::AppendStray) << 11 << 13;
    }

    // Always damaged, and only in the chosen way.
    void corruptKinds()
    {
        QFETCH(int, kind);
        QFETCH(int, minSize);
        QFETCH(int, maxSize);
        Noise noise(1.0, 42);
        for (int i = 0; i < 200; ++i) {
            const QByteArray out = noise.corrupt(kReply, Noise::Kind(kind));
            QVERIFY(out != kReply);
            QVERIFY(out.size() >= minSize && out.size() <= maxSize);
            // Taking the damage out again gives the item back.
            const int extra = int(out.size() - kReply.size());
            bool explained = false;
            for (int j = 0; j <= kReply.size() && !explained; ++j) {
                if (extra > 0)
                    explained = QByteArray(out).remove(j, extra) == kReply && (kind != int(Noise::Kind::AppendStray) || j == kReply.size());
                else if (extra < 0)
                    explained = QByteArray(kReply).remove(j, 1) == out;
                else if (j < kReply.size())
                    explained = QByteArray(out).replace(j, 1, kReply.mid(j, 1)) == kReply;
            }
            QVERIFY(explained);
        }
    }

    void share_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        // 4000 items; bounds some five standard deviations wide.
        QTest::newRow("0") << 0.0 << 0 << 0;
        QTest::newRow("0.05") << 0.05 << 130 << 270;
        QTest::newRow("0.5") << 0.5 << 1840 << 2160;
        QTest::newRow("1") << 1.0 << 4000 << 4000;
    }

    void share()
    {
        QFETCH(double, rate);
        QFETCH(int, lo);
        QFETCH(int, hi);
        Noise noise(rate, 7), twin(rate, 7);
        int changed = 0;
        QSet<qsizetype> sizes;
        for (int i = 0; i < 4000; ++i) {
            const QByteArray out = noise.apply(kReply);
            QCOMPARE(twin.apply(kReply), out);   // same seed, same damage
            if (out != kReply) {
                ++changed;
                sizes.insert(std::clamp<qsizetype>(out.size(), 9, 11));
            }
        }
        QVERIFY2(changed >= lo && changed <= hi, qPrintable(QString::number(changed)));
        QCOMPARE(noise.damagedCount(), changed);
        if (changed > 100)
            QCOMPARE(sizes.size(), 3);   // shortened, same length and lengthened all occur
    }

    void console_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("device");   // -1: none chosen
        QTest::newRow("hold") << "hold 3 12000" << int(ConsoleCommand::Hold) << 3 << 12000 << -1;
        QTest::newRow("hold, blanks") << "  HOLD\t9   65535 \r" << int(ConsoleCommand::Hold) << 9 << 65535 << -1;
        QTest::newRow("release") << "release 3" << int(ConsoleCommand::Release) << 3 << 0 << -1;
        QTest::newRow("release all") << "release all" << int(ConsoleCommand::ReleaseAll) << -1 << 0 << -1;
        QTest::newRow("quit") << "quit" << int(ConsoleCommand::Quit) << -1 << 0 << -1;
        QTest::newRow("unplug") << "unplug" << int(ConsoleCommand::Unplug) << -1 << 0 << -1;
        QTest::newRow("replug") << " Replug " << int(ConsoleCommand::Replug) << -1 << 0 << -1;
        QTest::newRow("unplug with a word more") << "unplug 3" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
        QTest::newRow("@5 unplug") << "@5 unplug" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
        QTest::newRow("empty") << "   " << int(ConsoleCommand::Empty) << -1 << 0 << -1;
        QTest::newRow("channel 10") << "hold 10 5" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
        QTest::newRow("value 65536") << "hold 1 65536" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
        QTest::newRow("value not a number") << "hold 1 12k" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
        QTest::newRow("unknown") << "jump 3" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
        QTest::newRow("@5 hold") << "@5 hold 3 12000" << int(ConsoleCommand::Hold) << 3 << 12000 << 5;
        QTest::newRow("@0 release") << " @0  release 9" << int(ConsoleCommand::Release) << 9 << 0 << 0;
        QTest::newRow("@255 release all") << "@255 RELEASE all" << int(ConsoleCommand::ReleaseAll) << -1 << 0 << 255;
        QTest::newRow("@256") << "@256 hold 3 1" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
        QTest::newRow("@5 alone") << "@5" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
        QTest::newRow("@5 quit") << "@5 quit" << int(ConsoleCommand::Invalid) << -1 << 0 << -1;
    }

    void console()
    {
        QFETCH(QString, line);
        QFETCH(int, kind);
        QFETCH(int, channel);
        QFETCH(int, value);
        QFETCH(int, device);
        const ConsoleCommand c = rt8sim::parseConsoleLine(line);
        QCOMPARE(int(c.kind), kind);
        QCOMPARE(c.error.isEmpty(), kind != int(ConsoleCommand::Invalid));
        if (kind == int(ConsoleCommand::Hold) || kind == int(ConsoleCommand::Release)) {
            QCOMPARE(c.channel, channel);
            QCOMPARE(c.value, value);
        }
        if (kind != int(ConsoleCommand::Invalid))
            QCOMPARE(c.device.value_or(-1), device);
    }
};

QTEST_GUILESS_MAIN(TestSimNoise)
#include "tst_sim_noise.moc"
