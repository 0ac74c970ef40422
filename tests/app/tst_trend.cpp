// The trend window offscreen: its series after a scripted stream, channels
// shown and hidden, target fields that are not numbers, drawing only from its
// timer; the entries of the main window that open it and the recording; and
// the ring of samples it keeps and the points it draws from it.

#include "support/driving.h"
#include "support/tables.h"
#include "support/csvreader.h"
#include "support/fakeline.h"
#include "support/scripteddialogs.h"

#include "app/mainwindow.h"
#include "app/samplering.h"
#include "app/trendwindow.h"
#include "protocol/frame.h"
#include "session/recorder.h"

#include <QChartView>
#include <QDir>
#include <QLabel>
#include <QLineSeries>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QValueAxis>

using namespace vorn;

namespace {

Sample sample(qint64 ms, float v)
{
    Sample s;
    s.ms = ms;
    s.value.fill(v);
    return s;
}

QList<double> ys(const QLineSeries *s)
{
    QList<double> out;
    for (const QPointF &p : s->points())
        out.append(p.y());
    return out;
}

struct Rig
{
    FakeLine port;
    DeviceSession session{FakeLine::ports(), &port};
    ScriptedDialogs dialogs;
    TrendWindow trend{&session, &dialogs};
    Rig()
    {
        port.addPort(1);
        session.openPort(1);
    }
    // What the trend shows, as the operator sees it: the chart's lines
    // (channel 0 first), its vertical scale, the export button.
    QChart *chart() const { return trend.findChild<QChartView *>(QStringLiteral("TrendChart"))->chart(); }
    QLineSeries *series(int channel) const { return qobject_cast<QLineSeries *>(chart()->series().at(channel)); }
    QValueAxis *valueAxis() const { return qobject_cast<QValueAxis *>(chart()->axes(Qt::Vertical).value(0)); }
    // An export runs while its button is off.
    bool exporting() const { return !trend.findChild<QToolButton *>(QStringLiteral("ExportData"))->isEnabled(); }
    QProgressDialog *exportProgress() const
    {
        return trend.findChild<QProgressDialog *>(QStringLiteral("ExportProgress"));
    }
};

}  // namespace

class TrendTest : public QObject
{
    Q_OBJECT
private slots:
    void seriesAfterARawStream();
    void targetFieldsThatAreNotNumbersAreSkipped();
    void drawsOnlyFromItsTimer();
    void verticalScale_data();
    void verticalScale();
    void exportsWhatItShows();
    void cancelledExportLeavesNoFile();
    void mainWindowEntries();
    // The ring of samples and the points drawn from it.
    void ringKeepsTheNewest_data();
    void ringKeepsTheNewest();
    void windowOfTime_data();
    void windowOfTime();
    void plotKeepsExtremesWithinBuckets();
};

void TrendTest::seriesAfterARawStream()
{
    Rig r;
    QVERIFY(r.session.setFeedback(FeedbackMode::Raw));
    r.port.inject(rawValuesReply({10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    r.port.inject(rawValuesReply({11, 21, 31, 41, 51, 61, 71, 81, 91, 101}));
    r.port.inject(rawValuesReply({12, 22, 32, 42, 52, 62, 72, 82, 92, 65535}));
    r.trend.redraw();
    QCOMPARE(ys(r.series(0)), (QList<double>{10, 11, 12}));
    QCOMPARE(ys(r.series(9)), (QList<double>{100, 101, 65535}));
    QCOMPARE(r.trend.kind(), FeedbackMode::Raw);
    // The vertical scale follows the values shown.
    QVERIFY(r.valueAxis()->min() <= 10 && r.valueAxis()->max() >= 65535);
    // A hidden channel is not drawn, and no longer sets the scale.
    r.trend.setChannelShown(9, false);
    r.trend.redraw();
    QVERIFY(!r.series(9)->isVisible());
    QVERIFY(r.series(9)->points().isEmpty());
    QVERIFY(r.valueAxis()->max() < 1000);
    r.trend.setChannelShown(9, true);
    r.trend.redraw();
    QCOMPARE(ys(r.series(9)), (QList<double>{100, 101, 65535}));
}

void TrendTest::targetFieldsThatAreNotNumbersAreSkipped()
{
    Rig r;
    QVERIFY(r.session.setFeedback(FeedbackMode::Raw));
    r.port.inject(rawValuesReply({1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    QVERIFY(r.session.setFeedback(FeedbackMode::Target));
    r.port.inject("N1.5,----,3\r\n");
    QVERIFY(pollerTook(r.session));
    r.port.inject("N2.5,7,x\r\n");
    QVERIFY(pollerTook(r.session));
    r.trend.redraw();
    // Target values replace the raw ones; fields that are not numbers are
    // left out, not drawn as 0.
    QCOMPARE(r.trend.kind(), FeedbackMode::Target);
    QCOMPARE(ys(r.series(0)), (QList<double>{1.5, 2.5}));
    QCOMPARE(ys(r.series(1)), (QList<double>{7}));
    QCOMPARE(ys(r.series(2)), (QList<double>{3}));
    QVERIFY(r.series(3)->points().isEmpty());
}

void TrendTest::drawsOnlyFromItsTimer()
{
    Rig r;
    r.trend.show();
    QVERIFY(QTest::qWaitForWindowExposed(&r.trend));
    QVERIFY(r.session.setFeedback(FeedbackMode::Raw));
    QSignalSpy drawn(r.series(5), &QLineSeries::pointsReplaced);
    for (int i = 0; i < 200; ++i)
        r.port.inject(rawValuesReply({i, i, i, i, i, i, i, i, i, i}));
    // Values coming in do not draw; the timer does, with all of them.
    QCOMPARE(drawn.size(), 0);
    QTRY_VERIFY(drawn.size() > 0);
    QCOMPARE(r.series(5)->points().size(), 200);
}

void TrendTest::exportsWhatItShows()
{
    QTemporaryDir dir;
    Rig r;
    QVERIFY(r.session.setFeedback(FeedbackMode::Raw));
    r.port.inject(rawValuesReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    r.dialogs.nextSave = dir.filePath("trend.csv");
    r.trend.exportData();
    QTRY_VERIFY(!r.exporting());
    QFile f(r.dialogs.nextSave);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QStringList> rows = readCsv(f.readAll().mid(3));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].join(QLatin1Char(',')), QStringLiteral("time,ch0,ch1,ch2,ch3,ch4,ch5,ch6,ch7,ch8,ch9"));
    QCOMPARE(rows[1].mid(1).join(QLatin1Char(',')), QStringLiteral("1,2,3,4,5,6,7,8,9,10"));
    r.trend.resize(600, 400);
    r.dialogs.nextSave = dir.filePath("trend.png");
    r.trend.exportImage();
    QImage png(r.dialogs.nextSave);
    QVERIFY(!png.isNull());
    QVERIFY(r.dialogs.shown.isEmpty());
}

void TrendTest::verticalScale_data()
{
    // Values of channel 0 (the others hidden): the scale holds them, stays
    // at 0 or above unless a value is below 0, and its labels are as long
    // as the step needs: no ".0" on whole numbers.
    QTest::addColumn<bool>("raw");
    QTest::addColumn<QList<double>>("values");
    QTest::newRow("raw, all 0") << true << QList<double>{0, 0};
    QTest::newRow("raw from 0") << true << QList<double>{0, 37, 100};
    QTest::newRow("raw, near 0") << true << QList<double>{3, 9};
    QTest::newRow("raw, one value") << true << QList<double>{65535};
    QTest::newRow("raw, high and narrow") << true << QList<double>{40000, 40003};
    QTest::newRow("target, below 0") << false << QList<double>{-3, 5};
    QTest::newRow("target, tenths") << false << QList<double>{0.5, 0.7};
}

void TrendTest::verticalScale()
{
    QFETCH(bool, raw);
    QFETCH(QList<double>, values);
    Rig r;
    for (int ch = 1; ch < kChannels; ++ch)
        r.trend.setChannelShown(ch, false);
    QVERIFY(r.session.setFeedback(raw ? FeedbackMode::Raw : FeedbackMode::Target));
    for (double v : values) {
        if (raw) {
            r.port.inject(rawValuesReply({int(v), 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        } else {
            r.port.inject("N" + QByteArray::number(v) + ",0\r\n");
            QVERIFY(pollerTook(r.session));
        }
    }
    r.trend.redraw();
    QCOMPARE(r.trend.shownData().split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), int(values.size()) + 1);
    const QValueAxis *y = r.valueAxis();
    const double lowest = *std::min_element(values.begin(), values.end());
    const double highest = *std::max_element(values.begin(), values.end());
    QVERIFY2(y->min() <= lowest && y->max() >= highest, qPrintable(QStringLiteral("%1..%2").arg(y->min()).arg(y->max())));
    if (lowest >= 0)
        QCOMPARE(std::min(y->min(), 0.0), 0.0);
    QVERIFY(!y->labelFormat().isEmpty());
    QStringList labels;
    const double step = (y->max() - y->min()) / (y->tickCount() - 1);
    for (int i = 0; i < y->tickCount(); ++i)
        labels.append(QString::asprintf(qPrintable(y->labelFormat()), y->min() + i * step));
    const bool whole = std::all_of(values.begin(), values.end(), [](double v) { return v == std::round(v); });
    for (const QString &l : labels)
        QVERIFY2(!whole || !l.contains(QLatin1Char('.')), qPrintable(labels.join(QLatin1Char(' '))));
    const qsizetype shown = labels.size();
    labels.removeDuplicates();
    QVERIFY2(labels.size() == shown, qPrintable(labels.join(QLatin1Char(' '))));
}

void TrendTest::cancelledExportLeavesNoFile()
{
    QTemporaryDir dir;
    Rig r;
    QVERIFY(r.session.setFeedback(FeedbackMode::Raw));
    for (int i = 0; i < 50; ++i)
        r.port.inject(rawValuesReply({i, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    const QString path = dir.filePath("trend.csv");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("kept\r\n");
    old.close();
    r.dialogs.nextSave = path;
    r.trend.exportData();
    QVERIFY(r.exporting());
    QVERIFY(r.exportProgress());
    // The operator's click, whenever it comes before the export is done.
    r.exportProgress()->findChild<QPushButton *>()->click();
    QTRY_VERIFY(!r.exporting());
    // The file as it was, and nothing beside it.
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("kept\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"trend.csv"});
    QVERIFY(r.dialogs.shown.isEmpty());
}

void TrendTest::mainWindowEntries()
{
    QTemporaryDir dir;
    FakeLine port;
    port.addPort(1);
    ScriptedDialogs dialogs;
    QSettings settings(dir.filePath("vornrt8.conf"), QSettings::IniFormat);
    DeviceSession session(FakeLine::ports(), &port);
    MainWindow w(&session, &dialogs, &settings);
    w.load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(&w, Qt::Key_T, Qt::ControlModifier);
    QTRY_VERIFY(w.trend()->isVisible());
    // Ctrl+R asks for a file and records; the status bar tells the file and
    // its lines; Ctrl+R again stops.
    dialogs.nextSave = dir.filePath("run.csv");
    QTest::keyClick(&w, Qt::Key_R, Qt::ControlModifier);
    auto *record = w.findChild<QToolButton *>("RecordButton");
    QVERIFY(record->isChecked());
    w.form()->findChild<QPushButton *>("GetCommand(1)")->click();
    port.inject(rawValuesReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    auto *label = w.findChild<QLabel *>("RecordStatus");
    QTRY_COMPARE(label->text(), QStringLiteral("记录：run.csv，1 行"));
    // Smart setting keeps working while both run.
    w.form()->findChild<QPushButton *>("LCommand(2)")->click();
    port.inject(rawValuesReply({0, 0, 1000, 0, 0, 0, 0, 0, 0, 0}));
    w.form()->findChild<QPushButton *>("HCommand(2)")->click();
    port.inject(rawValuesReply({0, 0, 5000, 0, 0, 0, 0, 0, 0, 0}));
    w.form()->findChild<QPushButton *>("OkCommand(2)")->click();
    QCOMPARE(port.written.last(), buildFrame(255, 0x30, QByteArray::fromHex("0280FA27100100000003E8")));
    QTest::keyClick(&w, Qt::Key_R, Qt::ControlModifier);
    QVERIFY(!record->isChecked());
    // The header and the three sets taken.
    QFile recorded(dir.filePath("run.csv"));
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    QCOMPARE(recorded.readAll().count("\r\n"), 4);
    QVERIFY(!label->isVisible());
}

// ------------------------------------------------------------ ring and plot

void TrendTest::ringKeepsTheNewest_data()
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

void TrendTest::ringKeepsTheNewest()
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

void TrendTest::windowOfTime_data()
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

void TrendTest::windowOfTime()
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

void TrendTest::plotKeepsExtremesWithinBuckets()
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

QTEST_MAIN(TrendTest)
#include "tst_trend.moc"
