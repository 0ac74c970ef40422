// Live values: the trend's memory and what it plots, and the recording's CSV
// file, on the fake line.

#include "support/csvreader.h"
#include "support/fakeline.h"

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

Sample sample(qint64 ms, float v)
{
    Sample s;
    s.ms = ms;
    s.value.fill(v);
    return s;
}

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
    void ringKeepsTheNewest_data();
    void ringKeepsTheNewest();
    void windowOfTime_data();
    void windowOfTime();
    void plotKeepsExtremesWithinBuckets();
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
}

void LiveValuesTest::ringKeepsTheNewest_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("appended");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("oldest");   // ms of the oldest kept
    QTest::newRow("below capacity") << 10 << 4 << 4 << 0;
    QTest::newRow("exactly full") << 10 << 10 << 10 << 0;
    QTest::newRow("one over") << 10 << 11 << 10 << 1;
    QTest::newRow("wrapped several times") << 7 << 50 << 7 << 43;
    QTest::newRow("capacity one") << 1 << 5 << 1 << 4;
}

void LiveValuesTest::ringKeepsTheNewest()
{
    QFETCH(int, capacity);
    QFETCH(int, appended);
    QFETCH(int, size);
    QFETCH(int, oldest);
    SampleRing ring(capacity);
    for (int i = 0; i < appended; ++i)
        ring.append(sample(i, float(i)));
    QCOMPARE(ring.size(), size);
    QCOMPARE(ring.at(0).ms, qint64(oldest));
    for (int i = 1; i < ring.size(); ++i)
        QCOMPARE(ring.at(i).ms, ring.at(i - 1).ms + 1);   // in order across the wrap
    QCOMPARE(ring.at(ring.size() - 1).ms, qint64(appended - 1));
}

void LiveValuesTest::windowOfTime_data()
{
    // Samples every 10 ms from 0 to 990 in a ring of 60: 400..990 kept.
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<qint64>("firstMs");   // -1: empty
    QTest::addColumn<int>("count");
    QTest::newRow("all kept") << qint64(0) << qint64(2000) << qint64(400) << 60;
    QTest::newRow("last second of a span") << qint64(900) << qint64(990) << qint64(900) << 10;
    QTest::newRow("bounds between samples") << qint64(405) << qint64(434) << qint64(410) << 3;
    QTest::newRow("before everything kept") << qint64(0) << qint64(399) << qint64(-1) << 0;
    QTest::newRow("after the newest") << qint64(991) << qint64(5000) << qint64(-1) << 0;
}

void LiveValuesTest::windowOfTime()
{
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(qint64, firstMs);
    QFETCH(int, count);
    SampleRing ring(60);
    for (int ms = 0; ms < 1000; ms += 10)
        ring.append(sample(ms, 1));
    const auto [first, last] = ring.window(from, to);
    QCOMPARE(last - first, count);
    if (count > 0)
        QCOMPARE(ring.at(first).ms, firstMs);
}

void LiveValuesTest::plotKeepsExtremesWithinBuckets()
{
    SampleRing ring(10000);
    for (int i = 0; i < 10000; ++i) {
        Sample s = sample(i, float(i % 100));
        s.value[3] = i == 5000 ? 1e6f : float(i % 100);   // one spike
        s.value[4] = (i % 2) ? std::numeric_limits<float>::quiet_NaN() : 7.0f;
        ring.append(s);
    }
    const auto pts = plotPoints(ring, 0, ring.size(), 3, 200);
    QVERIFY(int(pts.size()) <= 400);
    double top = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        top = std::max(top, pts[i].y);
        if (i > 0)
            QVERIFY(pts[i].x >= pts[i - 1].x);
    }
    QCOMPARE(top, 1e6);   // a spike is never averaged away
    for (const PlotPoint &p : plotPoints(ring, 0, ring.size(), 4, 200))
        QCOMPARE(p.y, 7.0);   // what is not a number is left out, not drawn as 0
    QCOMPARE(int(plotPoints(ring, 10, 20, 0, 200).size()), 10);   // few samples: all of them
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
    QTest::newRow("raw") << int(FeedbackMode::Raw) << LiveValues::fromRaw({0, 1, 2, 3, 4, 5, 6, 7, 8, 65535}).values
                         << "2026-12-07T08:15:27.045,raw,0,1,2,3,4,5,6,7,8,65535";
    QTest::newRow("target, a field not a number")
        << int(FeedbackMode::Target) << LiveValues::fromRecord(QStringLiteral("12\r\n-3\r\n----\r\n4.5")).values
        << "2026-12-07T08:15:27.045,target,12,-3,'----,4.5,,,,,,";
    QTest::newRow("a quote in a field") << int(FeedbackMode::Target) << LiveValues::fromRecord(QStringLiteral("a\"b")).values
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
    FakeLine port;
    port.addPort(1);
    DeviceSession session(FakeLine::ports(), &port);
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
    FakeLine port;
    port.addPort(1);
    DeviceSession session(FakeLine::ports(), &port);
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
