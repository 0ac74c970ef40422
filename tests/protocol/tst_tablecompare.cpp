// The comparison of a table with what a read-back says the device holds, and
// the hash of the blocks read.

#include "protocol/tablecompare.h"

#include <QCryptographicHash>
#include <QTest>

#include "support/tables.h"

using namespace vorn;

Q_DECLARE_METATYPE(QList<vorn::TableDifference>)

class TableCompareTest : public QObject
{
    Q_OBJECT
private slots:
    void compare_data();
    void compare();
    void hash();
};

void TableCompareTest::compare_data()
{
    QTest::addColumn<ChannelTable>("file");
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<bool>("compares");
    QTest::addColumn<QList<TableDifference>>("expected");
    using D = QList<TableDifference>;
    using F = TableField;

    const ChannelTable start = startTable();
    QTest::newRow("the same") << start << blocksOf(start) << true << D{};
    QTest::newRow("1.5 and 1.50 went out as 2") << with(0, [](ChannelTexts &r) { r.lower = "1.50"; r.upper = "999.5"; })
                                                << blocksOf(with(0, [](ChannelTexts &r) { r.lower = "1.5"; r.upper = "1000"; }))
                                                << true << D{};
    QTest::newRow("blank is 0, 5 places are 1")
        << with(4, [](ChannelTexts &r) { r.lower = ""; r.dot = "5"; r.start1 = " 0 "; })
        << blocksOf(with(4, [](ChannelTexts &r) { r.dot = "1"; })) << true << D{};
    QByteArray negativeZero = blocksOf(start);
    negativeZero[3 * kBlockSize] = char(0x80);
    QTest::newRow("negative zero is zero") << start << negativeZero << true << D{};

    QTest::newRow("upper of 3#, formula of 7#")
        << start
        << blocksOf([] {
               ChannelTable t = startTable();
               t[3].upper = "1200";
               t[7].formula = "大于";
               return t;
           }())
        << true << D{{3, F::Upper, "1000", "1200"}, {7, F::Formula, "固定关", "大于"}};
    QTest::newRow("lower moves, upper kept") << start << blocksOf(with(2, [](ChannelTexts &r) { r.lower = "10"; }))
                                             << true << D{{2, F::Lower, "0", "10"}};
    QTest::newRow("decimals and start values")
        << start << blocksOf(with(1, [](ChannelTexts &r) { r.dot = "3"; r.start1 = "-1"; r.start2 = "999"; }))
        << true << D{{1, F::Decimals, "1", "3"}, {1, F::Start1, "0", "-1"}, {1, F::Start2, "1000", "999"}};
    QTest::newRow("upper past 32767 differs")
        << with(6, [](ChannelTexts &r) { r.lower = "10000"; r.upper = "40000"; })
        << blocksOf(with(6, [](ChannelTexts &r) { r.lower = "10000"; r.upper = "40001"; })) << true
        << D{{6, F::Upper, "", ""}};
    QByteArray unknownCode = blocksOf(start);
    unknownCode[8 * kBlockSize + 5] = char(0x07);
    QTest::newRow("a code no name stands for") << start << unknownCode << true << D{{8, F::Formula, "固定关", "0x07"}};
    QTest::newRow("table that does not convert") << with(0, [](ChannelTexts &r) { r.lower = "-32768"; })
                                                 << blocksOf(start) << false << D{};
    QTest::newRow("short read-back") << start << blocksOf(start).left(99) << false << D{};
}

void TableCompareTest::compare()
{
    QFETCH(ChannelTable, file);
    QFETCH(QByteArray, device);
    QFETCH(bool, compares);
    QFETCH(QList<TableDifference>, expected);
    const auto got = compareTable(file, device);
    QCOMPARE(got.has_value(), compares);
    if (got)
        QCOMPARE(*got, expected);
}

void TableCompareTest::hash()
{
    const QByteArray a = blocksOf(startTable());
    QCOMPARE(blocksHash(a).size(), 64);
    QCOMPARE(blocksHash(a), blocksHash(blocksOf(with(0, [](ChannelTexts &r) { r.lower = "0.4"; }))));
    QVERIFY(blocksHash(a) != blocksHash(blocksOf(with(9, [](ChannelTexts &r) { r.start2 = "1001"; }))));
    // Ten zero blocks: a known value.
    QCOMPARE(blocksHash(QByteArray(100, '\0')),
             QString::fromLatin1(QCryptographicHash::hash(QByteArray(100, '\0'), QCryptographicHash::Sha256).toHex()));
    QCOMPARE(tableFieldKey(TableField::Start2), QStringLiteral("start2"));
}

QTEST_GUILESS_MAIN(TableCompareTest)
#include "tst_tablecompare.moc"
