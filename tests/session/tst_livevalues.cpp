// Live values: a set as numbers and as shown, and the recording's CSV file,
// on the fake serial control.

#include "support/csvreader.h"
#include "support/fakeserialcontrol.h"

#include "protocol/frame.h"
#include "session/csv.h"
#include "session/devicesession.h"
#include "session/livevalues.h"
#include "session/recorder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <ctime>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>

using namespace vorn;

namespace {

QByteArray rawReply(int first)
{
    QByteArray p;
    for (int i = 0; i < kChannels; ++i)
        p += char((first + i) >> 8), p += char((first + i) & 0xFF);
    return buildReply(0x40, p);
}

}  // namespace

class LiveValuesTest : public QObject
{
    Q_OBJECT
private slots:
    void setsOfValues_data();
    void setsOfValues();
    void fieldsAsNumbers_data();
    void fieldsAsNumbers();
    void csvLines_data();
    void csvLines();
    void csvCells_data();
    void csvCells();
    void timeWithItsOffset_data();
    void timeWithItsOffset();
    void recordsAScriptedStream();
    void failedWriteStopsAndKeepsWhatWasWritten();
};

void LiveValuesTest::timeWithItsOffset_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("UTC") << QByteArray("UTC");
    QTest::newRow("east, whole hours") << QByteArray("Asia/Shanghai");
    QTest::newRow("east, 45 minutes") << QByteArray("Asia/Kathmandu");
    QTest::newRow("west, half an hour") << QByteArray("America/St_Johns");
}

void LiveValuesTest::timeWithItsOffset()
{
    QFETCH(QByteArray, zone);
    const QByteArray before = qgetenv("TZ");
    qputenv("TZ", zone);
    ::tzset();
    const qint64 at = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000 + 7;   // 7 ms past a second
    const QByteArray stamp = isoTime(at);
    before.isNull() ? qunsetenv("TZ") : qputenv("TZ", before);
    ::tzset();
    const QDateTime parsed = QDateTime::fromString(QString::fromLatin1(stamp), Qt::ISODateWithMs);
    QVERIFY2(parsed.isValid(), stamp.constData());
    const QTimeZone tz(zone);
    QVERIFY(tz.isValid());
    QCOMPARE(parsed.offsetFromUtc(), tz.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(at)));
    QCOMPARE(parsed.toMSecsSinceEpoch(), at);
    QVERIFY2(stamp.endsWith(tz.offsetFromUtc(parsed) == 0 ? QByteArray("+00:00") : QByteArray()), stamp.constData());
    QCOMPARE(stamp.size(), qsizetype(29));   // milliseconds and the offset always written
    // Now, as the values are stamped: the same form, this moment.
    const QDateTime now = QDateTime::fromString(QString::fromLatin1(isoTimeNow()), Qt::ISODateWithMs);
    QVERIFY(std::abs(now.toMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch()) < 1000);
    // A stamp and the moment it stands for come from one reading of the clock.
    const TimeStamp t = timeStampNow();
    QCOMPARE(t.view().size(), qsizetype(29));
    QCOMPARE(QDateTime::fromString(QString::fromLatin1(t.view()), Qt::ISODateWithMs).toMSecsSinceEpoch(), t.msecs);
}

// A set of values as the session makes it: the numbers, and the text shown
// for each channel and in the value box.
void LiveValuesTest::setsOfValues_data()
{
    QTest::addColumn<QString>("record");    // empty: the raw values 0, -1, 65535, 7, ...
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QList<double>>("numbers");   // NaN: not a number
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("raw values")
        << QString() << QStringList{"0", "-1", "65535", "7", "8", "9", "10", "11", "12", "13"}
        << QList<double>{0, -1, 65535, 7, 8, 9, 10, 11, 12, 13};
    QTest::newRow("record, missing fields empty")
        << QStringLiteral("12\r\n-3\r\n450")
        << QStringList{"12", "-3", "450", "", "", "", "", "", "", ""}
        << QList<double>{12, -3, 450, nan, nan, nan, nan, nan, nan, nan};
    QTest::newRow("record, texts and blanks kept as sent")
        << QStringLiteral("----\r\n 1.5 \r\n\r\n温度\r\n1e3\r\n1\r\n2\r\n3\r\n4\r\n5")
        << QStringList{"----", " 1.5 ", "", "温度", "1e3", "1", "2", "3", "4", "5"}
        << QList<double>{nan, 1.5, nan, nan, 1000, 1, 2, 3, 4, 5};
    QTest::newRow("record, beyond the tenth left out")
        << QStringLiteral("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11\r\n12\r")
        << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}
        << QList<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    QTest::newRow("record ending in CR LF: one more empty field")
        << QStringLiteral("1\r\n2\r\n")
        << QStringList{"1", "2", "", "", "", "", "", "", "", ""}
        << QList<double>{1, 2, nan, nan, nan, nan, nan, nan, nan, nan};
    QTest::newRow("empty record") << QStringLiteral("") << QStringList(10, QString())
                                  << QList<double>(10, nan);
}

void LiveValuesTest::setsOfValues()
{
    QFETCH(QString, record);
    QFETCH(QStringList, shown);
    QFETCH(QList<double>, numbers);
    const LiveValues v = record.isNull() ? LiveValues::fromRaw({0, -1, 65535, 7, 8, 9, 10, 11, 12, 13})
                                         : LiveValues::fromRecord(record);
    QCOMPARE(v.mode, record.isNull() ? FeedbackMode::Raw : FeedbackMode::Target);
    QCOMPARE(v.shownValues(), shown);
    for (int i = 0; i < kChannels; ++i) {
        QCOMPARE(v.shown(i), shown[i]);
        if (std::isnan(numbers[i]))
            QVERIFY2(std::isnan(v.number(i)), qPrintable(shown[i]));
        else
            QCOMPARE(v.number(i), numbers[i]);
        if (record.isNull())
            QCOMPARE(v.raw[size_t(i)], int(numbers[i]));
        else
            QCOMPARE(v.field(i).toString(), shown[i]);
    }
    // The value box: raw values one per line, each line ended; a record as
    // the device sent it.
    QCOMPARE(v.text(), record.isNull() ? shown.join(QLatin1String("\r\n")) + QLatin1String("\r\n") : record);
    // A copy shows the same (the gateway keeps the last set).
    const LiveValues copy = v;
    QCOMPARE(copy.shownValues(), shown);
}

void LiveValuesTest::fieldsAsNumbers_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("value");   // NaN: not a number
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("integer") << "450" << 450.0;
    QTest::newRow("negative decimal") << "-3.25" << -3.25;
    QTest::newRow("blanks around") << " 12 " << 12.0;
    QTest::newRow("dashes") << "----" << nan;
    QTest::newRow("empty") << "" << nan;
    QTest::newRow("two points") << "1.2.3" << nan;
    QTest::newRow("infinity") << "inf" << nan;
}

void LiveValuesTest::fieldsAsNumbers()
{
    QFETCH(QString, field);
    QFETCH(double, value);
    const double v = fieldValue(field);
    if (std::isnan(value))
        QVERIFY(std::isnan(v));
    else
        QCOMPARE(v, value);
}

void LiveValuesTest::csvLines_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("line");
    QTest::newRow("raw") << int(FeedbackMode::Raw) << LiveValues::fromRaw({0, 1, 2, 3, 4, 5, 6, 7, 8, 65535}).shownValues()
                         << "2026-12-07T08:15:27.045,raw,0,1,2,3,4,5,6,7,8,65535";
    QTest::newRow("target, a field not a number")
        << int(FeedbackMode::Target) << LiveValues::fromRecord(QStringLiteral("12\r\n-3\r\n----\r\n4.5")).shownValues()
        << "2026-12-07T08:15:27.045,target,12,-3,'----,4.5,,,,,,";
    QTest::newRow("a quote in a field") << int(FeedbackMode::Target) << LiveValues::fromRecord(QStringLiteral("a\"b")).shownValues()
                                        << "2026-12-07T08:15:27.045,target,\"a\"\"b\",,,,,,,,,";
}

void LiveValuesTest::csvLines()
{
    QFETCH(int, mode);
    QFETCH(QStringList, values);
    QFETCH(QString, line);
    const QDateTime t(QDate(2026, 12, 7), QTime(8, 15, 27, 45));
    QCOMPARE(recordingLine(t, FeedbackMode(mode), values), line);
}

void LiveValuesTest::csvCells_data()
{
    // What a device or a damaged line may put in a field, and how it is
    // written: a spreadsheet reads it back as the same text, never as a
    // formula; numbers stay numbers.
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("written");
    QTest::newRow("formula") << "=1+1" << "'=1+1";
    QTest::newRow("formula with a comma and quotes") << "=HYPERLINK(\"http://x\",\"y\")"
                                                     << "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"";
    QTest::newRow("plus") << "+1+1" << "'+1+1";
    QTest::newRow("minus, not a number") << "-2+3" << "'-2+3";
    QTest::newRow("dashes") << "----" << "'----";
    QTest::newRow("at") << "@SUM(A1)" << "'@SUM(A1)";
    QTest::newRow("tab first") << "\t=1" << "'\t=1";
    QTest::newRow("CR first") << "\r=1" << "\"'\r=1\"";
    QTest::newRow("LF inside") << "a\nb" << "\"a\nb\"";
    QTest::newRow("integer") << "450" << "450";
    QTest::newRow("negative integer") << "-3" << "-3";
    QTest::newRow("negative decimal") << "-0.5" << "-0.5";
    QTest::newRow("signed positive") << "+7" << "+7";
    QTest::newRow("point first") << "-.5" << "-.5";
    QTest::newRow("exponent") << "-1.5e+06" << "-1.5e+06";
    QTest::newRow("sign alone") << "-" << "'-";
    QTest::newRow("exponent without digits") << "-1e" << "'-1e";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("spaces") << "  " << "  ";
    QTest::newRow("space before a formula") << " =1" << " =1";
    QTest::newRow("equals later") << "a=1" << "a=1";
    QTest::newRow("quote") << "a\"b" << "\"a\"\"b\"";
    QTest::newRow("comma") << "1,5" << "\"1,5\"";
}

void LiveValuesTest::csvCells()
{
    QFETCH(QString, cell);
    QFETCH(QString, written);
    QCOMPARE(csvCell(cell), written);
    // Read back, the line has its cells, the one written as text.
    const QList<QStringList> rows = readCsv((csvLine({QStringLiteral("x"), cell, QStringLiteral("y")}) + QStringLiteral("\r\n")).toUtf8());
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].size(), 3);
    const bool asText = written.startsWith(QLatin1Char('\'')) || written.startsWith(QLatin1String("\"'"));
    QCOMPARE(rows[0][1], asText ? QLatin1Char('\'') + cell : cell);
}

void LiveValuesTest::recordsAScriptedStream()
{
    QTemporaryDir dir;
    FakeSerialControl port;
    port.addPort(1);
    DeviceSession session(&port);
    QVERIFY(session.openPort(1));
    ValueRecorder rec(&session);
    const QString path = dir.filePath("values.csv");
    QVERIFY(rec.start(path));
    QVERIFY(session.setFeedback(FeedbackMode::Raw));
    port.inject(rawReply(100));
    port.inject(rawReply(200) + "x");   // the stray byte is dropped, the reply recorded
    port.inject(rawReply(300));
    QVERIFY(session.setFeedback(FeedbackMode::Target));
    port.inject("N1.5,----,3\r\n");
    QTRY_COMPARE(rec.lines(), 4);
    rec.stop();
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    QVERIFY(all.startsWith("\xEF\xBB\xBF" "time,mode,ch0,ch1,ch2,ch3,ch4,ch5,ch6,ch7,ch8,ch9\r\n"));
    const QStringList lines = QString::fromUtf8(all.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    static const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3},"));
    QVERIFY(time.match(lines[1]).hasMatch());
    QCOMPARE(lines[1].section(QLatin1Char(','), 1), QStringLiteral("raw,100,101,102,103,104,105,106,107,108,109"));
    QCOMPARE(lines[2].section(QLatin1Char(','), 1), QStringLiteral("raw,200,201,202,203,204,205,206,207,208,209"));
    QCOMPARE(lines[3].section(QLatin1Char(','), 1), QStringLiteral("raw,300,301,302,303,304,305,306,307,308,309"));
    QCOMPARE(lines[4].section(QLatin1Char(','), 1), QStringLiteral("target,1.5,'----,3,,,,,,,"));
}

void LiveValuesTest::failedWriteStopsAndKeepsWhatWasWritten()
{
    QTemporaryDir dir;
    FakeSerialControl port;
    port.addPort(1);
    DeviceSession session(&port);
    QVERIFY(session.openPort(1));
    QVERIFY(session.setFeedback(FeedbackMode::Raw));
    ValueRecorder rec(&session);
    QSignalSpy failed(&rec, &ValueRecorder::failed);
    const QString path = dir.filePath("values.csv");
    QVERIFY(rec.start(path));
    port.inject(rawReply(1));
    QTRY_COMPARE(rec.lines(), 1);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const qint64 before = f.size();

    // The disk is full from here on.
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = rlim_t(before + 20);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    port.inject(rawReply(2));
    const bool stopped = QTest::qWaitFor([&] { return !failed.isEmpty(); }, 10000);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(stopped);
    QVERIFY(!rec.isRecording());
    QCOMPARE(failed.first().at(0).toString(), path);
    // The system's reason, not "Unknown error".
    QCOMPARE(failed.first().at(1).toString(), qt_error_string(EFBIG));
    // What was written stays: the header and the first line, whole, and
    // nothing of the line the disk took only in part.
    QCOMPARE(rec.lines(), 1);
    const QByteArray kept = f.readAll();
    QVERIFY(kept.startsWith("\xEF\xBB\xBF" "time,mode"));
    QCOMPARE(kept.size(), before);
    const QList<QStringList> rows = readCsv(kept.mid(3));
    QCOMPARE(rows.size(), 2);
    for (const QStringList &r : rows)
        QCOMPARE(r.size(), 12);
    port.inject(rawReply(3));   // no longer recording
    QTest::qWait(50);
    QCOMPARE(QFileInfo(path).size() <= before + 20, true);
}

QTEST_GUILESS_MAIN(LiveValuesTest)
#include "tst_livevalues.moc"
