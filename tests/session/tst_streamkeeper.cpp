// Keeping a device streaming on the fake line: which answering device is
// taken at each opening, and what a silent device or a lost line becomes.

#include "support/fakeline.h"
#include "support/tables.h"

#include "protocol/frame.h"
#include "session/streamkeeper.h"

#include <QTest>

using namespace vorn;

namespace {

QByteArray discover(quint8 address) { return buildFrame(address, 0x21, QByteArray(1, char(address))); }

struct Rig
{
    FakeLine port;
    DeviceSession session{FakeLine::ports(), &port};
    StreamKeeper keeper;
    int values = 0;
    Rig(quint8 address, std::optional<quint8> digits, int silenceMs = 60000)
        : keeper(&session, StreamKeeper::Settings{1, address, FeedbackMode::Raw, digits, silenceMs, 50, 400})
    {
        port.addPort(1);
        QObject::connect(&keeper, &StreamKeeper::values, [this] { ++values; });
    }
    int asked(const QByteArray &frame) const { return int(port.written.count(frame)); }
    // Answers the next connection test as device number/digits (none: no
    // answer) and, when it is taken, streams one set of values.
    // Every try tells a stream to stop before it asks who is there: the
    // try numbered `opening` (from 0) is the one after that many stops.
    void answer(int opening, const QString &device)
    {
        const quint8 a = keeper.settings().address;
        QTRY_VERIFY_WITH_TIMEOUT(asked(buildFrame(a, 0x40, QByteArray(1, '\x02'))) > opening
                                     && port.written.last() == discover(a), 10000);
        if (device.isEmpty())
            return;
        const QStringList nd = device.split(QLatin1Char('/'));
        const int asking = asked(buildFrame(keeper.settings().address, 0x40, QByteArray(1, '\x01')));
        port.inject(buildReply(0x21, QByteArray().append(char(nd[0].toInt())).append(char(nd[1].toInt()))));
        // Values asked for only of the device meant.
        if (asked(buildFrame(keeper.settings().address, 0x40, QByteArray(1, '\x01'))) > asking)
            port.inject(rawValuesReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    }
};

}  // namespace

class StreamKeeperTest : public QObject
{
    Q_OBJECT
private slots:
    void whichDeviceIsTaken_data();
    void whichDeviceIsTaken();
    void silentThenBack();
    void readsTheTableBeforeValues_data();
    void readsTheTableBeforeValues();
    void opensWithoutWaiting_data();
    void opensWithoutWaiting();
};

void StreamKeeperTest::whichDeviceIsTaken_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("digits");              // given in the configuration, -1: not given
    QTest::addColumn<bool>("unplugged");          // between openings; otherwise the line stays open
    QTest::addColumn<QStringList>("answers");     // "number/digits" per try, "" no answer
    QTest::addColumn<QStringList>("statuses");    // after each try
    const QStringList online{"online"};
    QTest::newRow("its number") << 5 << -1 << false << QStringList{"5/4"} << online;
    QTest::newRow("another number, none known yet") << 5 << -1 << false << QStringList{"7/4"} << QStringList{"other-device"};
    QTest::newRow("255: the first answer fixes it") << 255 << -1 << true << QStringList{"1/40", "2/8"}
                                                     << QStringList{"online", "other-device"};
    QTest::newRow("the same number, other digits") << 1 << -1 << true << QStringList{"1/40", "1/8"}
                                                    << QStringList{"online", "other-device"};
    QTest::newRow("the same device back") << 1 << -1 << true << QStringList{"1/40", "1/40"} << QStringList{"online", "online"};
    QTest::newRow("digits given") << 1 << 8 << false << QStringList{"1/40"} << QStringList{"other-device"};
    QTest::newRow("digits given, any number to 255") << 255 << 8 << false << QStringList{"3/8"} << online;
    QTest::newRow("no answer, tried again until it answers") << 1 << -1 << false << QStringList{"", "", "1/40"}
                                                              << QStringList{"no-answer", "no-answer", "online"};
    QTest::newRow("swapped, then the original back") << 1 << -1 << true << QStringList{"1/40", "", "1/40"}
                                                      << QStringList{"online", "no-answer", "online"};
    QTest::newRow("another, then the one meant") << 1 << -1 << true << QStringList{"1/40", "1/8", "1/40"}
                                                 << QStringList{"online", "other-device", "online"};
}

void StreamKeeperTest::whichDeviceIsTaken()
{
    QFETCH(int, address);
    QFETCH(int, digits);
    QFETCH(bool, unplugged);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, statuses);
    Rig r(quint8(address), digits < 0 ? std::nullopt : std::optional<quint8>(quint8(digits)));
    r.keeper.start();
    for (int i = 0; i < answers.size(); ++i) {
        if (i > 0 && unplugged) {
            r.port.unplug();
            QCOMPARE(StreamKeeper::word(r.keeper.status()), QStringLiteral("lost"));
            r.port.replug();
        }
        const int values = r.values;
        r.answer(i, answers[i]);
        QTRY_COMPARE_WITH_TIMEOUT(StreamKeeper::word(r.keeper.status()), statuses[i], 10000);
        // Values only of the device meant; another's never pass.
        if (statuses[i] == QLatin1String("online")) {
            QCOMPARE(r.values, values + 1);
        } else {
            r.port.inject(rawValuesReply({9, 9, 9, 9, 9, 9, 9, 9, 9, 9}));
            QCOMPARE(r.values, values);
        }
    }
}

void StreamKeeperTest::silentThenBack()
{
    Rig r(1, std::nullopt, 300);
    r.keeper.start();
    r.answer(0, QStringLiteral("1/40"));
    QCOMPARE(r.keeper.status(), StreamKeeper::Status::Online);
    // No values: silent, the line stays open, and the device is asked again.
    QTRY_COMPARE_WITH_TIMEOUT(r.keeper.status(), StreamKeeper::Status::Silent, 10000);
    QCOMPARE(r.port.closeCount, 0);
    r.answer(1, QString());
    r.answer(2, QStringLiteral("1/40"));
    QTRY_COMPARE_WITH_TIMEOUT(r.keeper.status(), StreamKeeper::Status::Online, 10000);
    QCOMPARE(r.port.openCount, 1);
}

void StreamKeeperTest::readsTheTableBeforeValues_data()
{
    QTest::addColumn<QList<bool>>("answered");   // the read-back after each identification, lost between them
    QTest::newRow("answered") << QList<bool>{true};
    QTest::newRow("unanswered: values all the same") << QList<bool>{false};
    QTest::newRow("read again after the line is back") << QList<bool>{true, false, true};
}

void StreamKeeperTest::readsTheTableBeforeValues()
{
    QFETCH(QList<bool>, answered);
    FakeLine port;
    port.addPort(1);
    DeviceSession session(FakeLine::ports(), &port);
    StreamKeeper::Settings settings{1, 1, FeedbackMode::Raw, std::nullopt, 60000, 50, 400};
    settings.readTable = true;
    settings.readBackTimeoutMs = 200;
    StreamKeeper keeper(&session, settings);
    QList<QByteArray> read;
    QStringList notRead;
    int values = 0;
    connect(&keeper, &StreamKeeper::tableRead, [&](const QByteArray &b) { read.append(b); });
    connect(&keeper, &StreamKeeper::tableNotRead, [&](const QString &why) { notRead.append(why); });
    connect(&keeper, &StreamKeeper::values, [&] { ++values; });
    const QByteArray readBack = buildFrame(1, cmd::ReadBack, QByteArray(1, '\0'));
    const QByteArray askValues = buildFrame(1, cmd::Feedback, QByteArray(1, '\x01'));
    const QByteArray blocks = encodeTable(variedTable()).value();
    keeper.start();
    for (int i = 0; i < answered.size(); ++i) {
        if (i > 0) {
            port.unplug();
            port.replug();
        }
        QTRY_VERIFY_WITH_TIMEOUT(port.written.count(discover(1)) > i && port.written.last() == discover(1), 10000);
        port.inject(buildReply(cmd::Discover, QByteArray("\x01\x28", 2)));
        // The table is asked for, and the values not yet.
        QTRY_COMPARE_WITH_TIMEOUT(port.written.count(readBack), i + 1, 10000);
        QCOMPARE(port.written.last(), readBack);
        QCOMPARE(int(port.written.count(askValues)), i);
        if (answered[i]) {
            port.inject(buildReply(cmd::ReadBack, blocks));
            QCOMPARE(read.size(), int(answered.mid(0, i + 1).count(true)));
            QCOMPARE(read.last(), blocks);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(notRead.size(), int(answered.mid(0, i + 1).count(false)), 10000);
        }
        // Then the values, either way.
        QTRY_COMPARE_WITH_TIMEOUT(int(port.written.count(askValues)), i + 1, 10000);
        port.inject(rawValuesReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        QTRY_COMPARE_WITH_TIMEOUT(keeper.status(), StreamKeeper::Status::Online, 10000);
    }
    QCOMPARE(read.size() + notRead.size(), answered.size());
}

void StreamKeeperTest::opensWithoutWaiting_data()
{
    // A network line tells its opening later: the keeper goes on from it.
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("status");
    QTest::newRow("opens later: the device is asked for") << true << "online";
    QTest::newRow("fails later: lost, tried again") << false << "lost";
}

void StreamKeeperTest::opensWithoutWaiting()
{
    QFETCH(bool, opens);
    QFETCH(QString, status);
    Rig r(1, std::nullopt);
    r.port.deferOpen = true;
    if (!opens)
        r.port.setPortFailure(1, Line::OpenFailure::NoDevice, QStringLiteral("no connection within 3 s"));
    QStringList statuses, whys;
    connect(&r.keeper, &StreamKeeper::statusChanged, this, [&](StreamKeeper::Status s, const QString &why) {
        statuses.append(StreamKeeper::word(s));
        whys.append(why);
    });
    r.keeper.start();
    QVERIFY(r.session.isOpening());
    QVERIFY(r.port.written.isEmpty());
    QVERIFY(statuses.isEmpty());
    r.port.finishOpening();
    if (opens)
        r.answer(0, QStringLiteral("1/40"));
    QTRY_VERIFY_WITH_TIMEOUT(!statuses.isEmpty(), 10000);
    QCOMPARE(statuses.first(), status);
    if (!opens)
        QVERIFY2(whys.first().contains(QStringLiteral("no connection within 3 s")), qPrintable(whys.first()));
}

QTEST_GUILESS_MAIN(StreamKeeperTest)
#include "tst_streamkeeper.moc"
