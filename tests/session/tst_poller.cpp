// Feedback records and the two-tick rule; port numbers to device paths.

#include "support/fakeline.h"
#include "link/portmap.h"
#include "session/recordpoller.h"

#include <QTest>

using namespace vorn;

class TstPoller : public QObject
{
    Q_OBJECT
private slots:
    void parsesRecord_data();
    void parsesRecord();
    void ticks_data();
    void ticks();
};

void TstPoller::parsesRecord_data()
{
    QTest::addColumn<QByteArray>("buf");
    QTest::addColumn<QString>("text");   // null: not a record
    QTest::newRow("three fields") << QByteArray("N12,-3,450\r\n") << "12\r\n-3\r\n450";
    QTest::newRow("one field") << QByteArray("N7\r\n") << "7";
    QTest::newRow("two records") << QByteArray("N1,2\r\nN3,4\r\n") << "1\r\n2";
    QTest::newRow("CR without LF") << QByteArray("N1,2\r") << QString();
    QTest::newRow("no N") << QByteArray("12,-3\r\n") << QString();
    QTest::newRow("two bytes") << QByteArray("\r\n") << QString();
}

void TstPoller::parsesRecord()
{
    QFETCH(QByteArray, buf);
    QFETCH(QString, text);
    const auto r = parseFeedbackRecord(buf, int(buf.size()));
    QCOMPARE(r.has_value(), !text.isNull());
    if (r)
        QCOMPARE(*r, text);
}

// chunks[i] arrives before tick i ("<clear>": something else empties the
// input, as the receiver does); the trace lists, per tick, the outcome,
// countAtLastTick() and the bytes left waiting.
void TstPoller::ticks_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("text");
    QTest::newRow("record") << QByteArrayList{"N12,-3,450\r\n", "", ""}
                            << "Noted 12 12, Taken 0 0, Idle 0 0" << "12\r\n-3\r\n450";
    QTest::newRow("record still arriving") << QByteArrayList{"N12,", "-3\r\n", ""}
                                           << "Noted 4 4, Noted 8 8, Taken 0 0" << "12\r\n-3";
    QTest::newRow("one stray byte") << QByteArrayList{"x", ""} << "Noted 1 1, Discarded 0 0" << "";
    QTest::newRow("two stray bytes") << QByteArrayList{"\r\n", ""} << "Noted 2 2, Discarded 0 0" << "";
    QTest::newRow("emptied elsewhere") << QByteArrayList{"abc", "<clear>"} << "Noted 3 3, Idle 3 0" << "";
}

void TstPoller::ticks()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QString, trace);
    QFETCH(QString, text);
    QByteArray waiting;
    FeedbackPoller poller;
    QStringList seen;
    QString shown;
    for (const QByteArray &c : chunks) {
        if (c == "<clear>")
            waiting.clear();
        else
            waiting += c;
        const char *names[] = {"Idle", "Noted", "Taken", "Discarded"};
        seen << QStringLiteral("%1 %2 %3").arg(QLatin1String(names[int(poller.tick(waiting, &shown))]))
                    .arg(poller.countAtLastTick()).arg(waiting.size());
    }
    QCOMPARE(seen.join(QStringLiteral(", ")), trace);
    QCOMPARE(shown, text);
}

QTEST_GUILESS_MAIN(TstPoller)
#include "tst_poller.moc"
