// Configuration files: the bytes on disk, loading back, and what is refused.

#include "protocol/rtxfile.h"
#include "nogbkconverter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace vorn;
Q_DECLARE_METATYPE(vorn::RtxLoad)

namespace {

QByteArray quoted(const QByteArray &record) { return '"' + record + "\"\r\n"; }

// The start texts' record in GBK, without quotes: its last field ends in a blank.
QByteArray startRecordBytes()
{
    const QByteArray file = encodeRtx(startTable()).value_or(QByteArray());
    return file.mid(1, file.size() - 4);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace

class TstRtxFile : public QObject
{
    Q_OBJECT
private slots:
    void bytesOnDisk();
    void savesAndLoadsBack();
    void cutsLongTexts();
    void readsFirstField_data();
    void readsFirstField();
    void loadsFileStart_data();
    void loadsFileStart();
    void endlessFileReadOnce();
    void noGbkConverter();
    void failedSaveKeepsOldFile();
};

void TstRtxFile::bytesOnDisk()
{
    // Channel k of the start texts with formula k (0: 固定关, the start text).
    const QByteArray formulaBytes[7] = {
        "B9 CC B6 A8 B9 D8 20 20", "B9 CC B6 A8 BF AA 20 20", "B4 F3 D3 DA 20 20 20", "D0 A1 D3 DA 20 20 20",
        "B5 C8 D3 DA 20 20 20",    "B7 B6 CE A7 C4 DA 20 20", "B7 B6 CE A7 CD E2 20 20"};
    const auto channel = [](const QByteArray &formula) {
        return QByteArray::fromHex("30 20 20 20 20 31 30 30 30 20 31" + formula + "30 20 20 20 20 31 30 30 30 20");
    };
    const auto start = encodeRtx(startTable());
    QVERIFY(start);
    QCOMPARE(start->size(), 294);
    QCOMPARE(start->toHex(' '), quoted(channel(formulaBytes[0]).repeated(10)).toHex(' '));

    ChannelTable t = startTable();
    QByteArray record;
    for (int k = 0; k < 7; ++k) {
        t[k].formula = formulaNames().at(k);
        record += channel(formulaBytes[k]);
    }
    record += channel(formulaBytes[0]).repeated(3);
    QCOMPARE(encodeRtx(t).value_or(QByteArray()).toHex(' '), quoted(record).toHex(' '));

    t[9].start2 = QStringLiteral("1\"2");
    QString why;
    QVERIFY(!encodeRtx(t, &why));
    QVERIFY(!why.isEmpty());
}

void TstRtxFile::savesAndLoadsBack()
{
    ChannelTable t = startTable();
    t[0] = {"-9999", "32767", "3", QStringLiteral("固定关"), "-1", " 12"};
    t[1] = {"0", "1000", "0", QStringLiteral("固定开"), "-3276", "5"};
    t[2] = {"-5", "5", "2", QStringLiteral("大于"), "&H7F", "1e3"};
    t[3] = {"12-3", "x", "1", QStringLiteral("小于"), "", "0"};
    t[4] = {"", "", "", QStringLiteral("等于"), "abc", "-1000"};
    t[5] = {"1.5", "2.5", "9", QStringLiteral("范围内"), "+3", " -7"};
    t[6] = {"100", "99", "4", QStringLiteral("范围外"), "32768", "-0"};
    t[7] = {"a b", " 1", "5", "xy", "1 2 3", QStringLiteral("上")};
    QVERIFY(rtxCutTexts(t).isEmpty());

    QTemporaryDir dir;
    const QString path = dir.filePath("a.RTX");
    QVERIFY(saveRtxFile(path, encodeRtx(t).value_or(QByteArray())));
    ChannelTable loaded;
    QCOMPARE(loadRtxFile(path, &loaded), RtxLoad::Ok);
    for (int ch = 0; ch < kChannels; ++ch)
        QVERIFY2(loaded[ch] == t[ch], qPrintable(QString::number(ch)));
}

void TstRtxFile::cutsLongTexts()
{
    ChannelTable t = startTable();
    t[0].lower = QStringLiteral("-20000");
    t[3].formula = QStringLiteral("范围内范围外");
    const QStringList cut = rtxCutTexts(t);
    QCOMPARE(cut.size(), 2);
    QVERIFY(cut[0].contains(QStringLiteral("-20000")));
    QVERIFY(cut[1].contains(QStringLiteral("范围内范围外")));
    const QByteArray bytes = encodeRtx(t).value_or(QByteArray());
    QVERIFY(bytes.startsWith("\"-20001000 "));
    const auto loaded = decodeRtx(bytes);
    QVERIFY(loaded);
    QCOMPARE((*loaded)[0].lower, QStringLiteral("-2000"));
    QCOMPARE((*loaded)[3].formula, QStringLiteral("范围内范围"));
}

void TstRtxFile::readsFirstField_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("record");   // the record loaded; null: refused
    const QByteArray rec(260, '7');
    const QString sevens(260, QLatin1Char('7'));
    const QString start = rtxRecord(startTable());
    const QByteArray startBytes = startRecordBytes();
    QTest::newRow("260 quoted") << quoted(rec) << sevens;
    QTest::newRow("259 quoted") << quoted(QByteArray(259, '7')) << QString();
    QTest::newRow("261 quoted") << quoted(QByteArray(261, '7')) << QString();
    QTest::newRow("blanks before the quote") << " \t" + quoted(rec) << sevens;
    QTest::newRow("quote not closed") << '"' + rec + "\r\n" << QString();
    QTest::newRow("unquoted to the comma") << rec + ",more\r\n" << sevens;
    QTest::newRow("unquoted to the line end") << rec + "\r\n" + rec << sevens;
    QTest::newRow("unquoted, too long") << rec + "7\r\n" << QString();
    QTest::newRow("unquoted, ends in blanks") << startBytes + "\r\n" << start;
    QTest::newRow("unquoted, ends in blanks, comma") << startBytes + ",x\r\n" << start;
    QTest::newRow("unquoted, blanks both sides") << " \t" + startBytes << start;
    QTest::newRow("unquoted, 259 and a blank") << QByteArray(259, '7') + " \r\n"
                                               << QString(259, QLatin1Char('7')) + QLatin1Char(' ');
    QTest::newRow("unquoted, 259 and a tab") << QByteArray(259, '7') + "\t\r\n"
                                             << QString(259, QLatin1Char('7')) + QLatin1Char('\t');
    QTest::newRow("second record ignored") << quoted(rec) + quoted("1") << sevens;
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("empty quoted") << quoted("") << QString();
    QTest::newRow("NUL inside") << quoted(QByteArray(100, '7') + '\0' + QByteArray(159, '7')) << QString();
    // 260 characters but for the bytes that are not GBK.
    QTest::newRow("lead byte before the quote") << quoted(rec + "\xB9") << QString();
    QTest::newRow("lead byte before a blank") << quoted(QByteArray(258, '7') + "\xB9 ") << QString();
}

void TstRtxFile::readsFirstField()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, record);
    QString why;
    const auto t = decodeRtx(bytes, &why);
    QVERIFY2(t.has_value() == !record.isNull(), qPrintable(why));
    if (t)
        QCOMPARE(rtxRecord(*t), record);
    else
        QVERIFY(!why.isEmpty());
}

void TstRtxFile::loadsFileStart_data()
{
    QTest::addColumn<QByteArray>("bytes");   // null: no file
    QTest::addColumn<RtxLoad>("result");
    QTest::addColumn<QString>("record");     // the record loaded on Ok
    const QByteArray rec(260, '7');
    const QString sevens(260, QLatin1Char('7'));
    const QByteArray junk = QByteArray("9,\"x\"\r\n").repeated(100 * 1024 / 7);
    const qsizetype readBytes = kRtxReadBytes;

    QTest::newRow("100 KiB, quoted record first") << encodeRtx(startTable()).value_or("") + junk << RtxLoad::Ok
                                                  << rtxRecord(startTable());
    QTest::newRow("100 KiB, unquoted record first") << startRecordBytes() + ',' + junk << RtxLoad::Ok
                                                    << rtxRecord(startTable());
    QTest::newRow("100 KiB of blanks, then a record") << QByteArray(100 * 1024, ' ') + quoted(rec)
                                                      << RtxLoad::NotARecord << QString();
    QTest::newRow("quote not closed within 64 KiB") << '"' + rec + QByteArray(100 * 1024, '7') + '"'
                                                    << RtxLoad::NotARecord << QString();
    // An unquoted record against the end of what is read.
    QTest::newRow("line end is the first byte past 64 KiB")
        << QByteArray(readBytes - 260, ' ') + rec + "\r\n" + junk << RtxLoad::Ok << sevens;
    QTest::newRow("field goes on past what is read")
        << QByteArray(readBytes + 1 - 260, ' ') + rec + "7\r\n" + junk << RtxLoad::NotARecord << QString();
    QTest::newRow("exactly 64 KiB, record at the end")
        << QByteArray(readBytes - 260, ' ') + rec << RtxLoad::Ok << sevens;

    QByteArray binary(4096, '\0');
    QRandomGenerator rng(8);
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char(i % 7 == 0 ? 0 : rng.bounded(256));
    QTest::newRow("binary") << binary << RtxLoad::NotARecord << QString();
    QTest::newRow("not GBK") << quoted(QByteArray(258, '7') + "\xB9\x0A") << RtxLoad::NotARecord << QString();
    QTest::newRow("missing") << QByteArray() << RtxLoad::Missing << QString();
}

void TstRtxFile::loadsFileStart()
{
    QFETCH(QByteArray, bytes);
    QFETCH(RtxLoad, result);
    QFETCH(QString, record);
    QTemporaryDir dir;
    const QString path = dir.filePath("x.RTX");
    if (!bytes.isNull())
        QVERIFY(writeFile(path, bytes));
    ChannelTable t = startTable();
    t[4].lower = QStringLiteral("kept");
    const ChannelTable before = t;
    QString why;
    QCOMPARE(loadRtxFile(path, &t, &why), result);
    if (result == RtxLoad::Ok) {
        QCOMPARE(rtxRecord(t), record);
    } else {
        QVERIFY(!why.isEmpty());
        QVERIFY(t == before);
    }
}

void TstRtxFile::endlessFileReadOnce()
{
    // A device that never ends: one bounded read, then refused.
    const QString zero = QStringLiteral("/dev/zero");
    if (!QFileInfo(zero).isReadable())
        QSKIP("no /dev/zero here");
    ChannelTable t = startTable();
    QString why;
    QCOMPARE(loadRtxFile(zero, &t, &why), RtxLoad::NotARecord);
    QVERIFY(!why.isEmpty());
    QVERIFY(t == startTable());
}

void TstRtxFile::noGbkConverter()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("start.RTX");
    QVERIFY(writeFile(path, encodeRtx(startTable()).value_or(QByteArray())));
    ChannelTable t = startTable();
    t[2].formula = QStringLiteral("范围外");
    const ChannelTable before = t;
    {
        NoGbkConverter none;
        QString why;
        QVERIFY(!encodeRtx(t, &why));
        QVERIFY2(why.contains(QLatin1String("GBK")), qPrintable(why));
        why.clear();
        QCOMPARE(loadRtxFile(path, &t, &why), RtxLoad::NoConverter);
        QVERIFY2(why.contains(QLatin1String("GBK")), qPrintable(why));
        QVERIFY(t == before);
    }
    QCOMPARE(loadRtxFile(path, &t), RtxLoad::Ok);
    QVERIFY(t == startTable());
}

void TstRtxFile::failedSaveKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("keep.RTX");
    const QByteArray old = encodeRtx(startTable()).value_or(QByteArray());
    QVERIFY(writeFile(path, old));
    ChannelTable t = startTable();
    t[2].formula = QStringLiteral("范围外");

    // Files may grow to 100 bytes only: the write fails part-way.
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString why;
    const bool ok = saveRtxFile(path, encodeRtx(t).value_or(QByteArray()), &why);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QVERIFY(!why.isEmpty());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.RTX"});

    why.clear();
    QVERIFY(!saveRtxFile(dir.filePath("no/such/folder/a.RTX"), old, &why));
    QVERIFY(!why.isEmpty());
}

QTEST_GUILESS_MAIN(TstRtxFile)
#include "tst_rtxfile.moc"
