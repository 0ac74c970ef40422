// The window around the designed form: the status bar beneath it, the line
// monitor, the trace file and reconnecting by itself, on the fake serial
// control.

#include "support/driving.h"
#include "support/fakeline.h"
#include "support/scripteddialogs.h"

#include "app/linemonitor.h"
#include "app/mainwindow.h"
#include "protocol/frame.h"
#include "protocol/rtxfile.h"
#include "support/tables.h"

#include <QCheckBox>
#include <QFile>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace vorn;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text)); }
const QByteArray kDiscovery = hex("02000AEE00210C04CD03");

struct Shell
{
    QTemporaryDir dir;
    FakeLine port;
    DeviceSession session{FakeLine::ports(), &port};
    ScriptedDialogs dialogs;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<MainWindow> window;

    explicit Shell(bool reconnectSetting = true, bool writeSetting = false)
    {
        settings = std::make_unique<QSettings>(dir.filePath("vornrt8.conf"), QSettings::IniFormat);
        if (writeSetting)
            settings->setValue("line/autoReconnect", reconnectSetting);
        port.addPort(1);
        window = std::make_unique<MainWindow>(&session, &dialogs, settings.get());
        window->load();
    }
    QString status(const char *name) const
    {
        return window->findChild<QLabel *>(QLatin1String(name))->text();
    }
    void click(const char *name) const
    {
        window->form()->findChild<QPushButton *>(QLatin1String(name))->click();
    }
    QStringList meanings() const
    {
        LineMonitor *m = window->monitor();
        m->flush();
        QStringList out;
        for (int r = 0; r < m->filter()->rowCount(); ++r)
            out.append(m->filter()->index(r, LineModel::Direction).data().toString() + QLatin1Char(' ')
                       + m->filter()->index(r, LineModel::Meaning).data().toString());
        return out;
    }
};

}  // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void statusBarBeneathTheForm();
    void statusFollowsTheLine();
    void readBackComparedWithTheFile_data();
    void readBackComparedWithTheFile();
    void textIsNeverMarkup();
    void monitorShowsWhatPassed_data();
    void monitorShowsWhatPassed();
    void monitorIsBoundedAndPauses();
    void monitorSavesText();
    void traceFileOneLinePerEntry();
    void oneEntryOneLine_data();
    void oneEntryOneLine();
    void traceThatStopsIsToldOnce();
    void reconnectsByItself_data();
    void reconnectsByItself();
};

void MainWindowTest::statusBarBeneathTheForm()
{
    Shell s;
    s.window->showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(s.window.get()));
    MainForm *form = s.window->form();
    // The designed form keeps its size and every control its place; the
    // window grows by the status bar only.
    QCOMPARE(form->size(), QSize(730, 481));
    QCOMPARE(form->mapTo(s.window.get(), QPoint(0, 0)), QPoint(0, 0));
    QCOMPARE(form->findChild<QPushButton *>("ExitCommand")->geometry(), QRect(152, 112, 65, 25));
    QStatusBar *bar = s.window->statusBar();
    QCOMPARE(bar->geometry().top(), 481);
    QCOMPARE(s.window->height(), 481 + bar->height());
    QCOMPARE(s.window->width(), 730);
    QVERIFY(s.window->windowTitle().startsWith(QStringLiteral("VornRT8V1.0")));
    // Exit closes the whole window.
    s.click("ExitCommand");
    QTRY_VERIFY(!s.window->isVisible());
    QVERIFY(!s.port.isOpen());
}

void MainWindowTest::textIsNeverMarkup()
{
    // Paths, reasons and what the device sent reach the status bar and the
    // message boxes: shown as they are, never read as markup.
    Shell s;
    const QList<QLabel *> labels = s.window->statusBar()->findChildren<QLabel *>();
    QVERIFY(!labels.isEmpty());
    for (const QLabel *l : labels)
        QVERIFY2(l->textFormat() == Qt::PlainText, qPrintable(l->objectName()));

    QtDialogs dialogs;
    QList<Qt::TextFormat> formats;
    QTimer look;
    look.setInterval(10);
    connect(&look, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        formats = {box->textFormat(),
                   box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))->textFormat()};
        box->done(0);
    });
    look.start();
    dialogs.message(nullptr, QStringLiteral("<b>N=1</b>"), Dialogs::Icon::Warning, QStringLiteral("<img src=x>"));
    QTRY_COMPARE(formats, (QList<Qt::TextFormat>{Qt::PlainText, Qt::PlainText}));
    QTRY_VERIFY(!dialogs.boxOpen());
    formats.clear();
    dialogs.confirm(nullptr, QStringLiteral("<b>N=1</b>"), QStringLiteral("<img src=x>"), [](bool) {});
    QTRY_COMPARE(formats, (QList<Qt::TextFormat>{Qt::PlainText, Qt::PlainText}));
}

void MainWindowTest::statusFollowsTheLine()
{
    Shell s;
    QCOMPARE(s.status("PortStatus"), QStringLiteral("端口 1：/dev/fake1"));
    QCOMPARE(s.status("LineStatus"), QStringLiteral("已打开"));
    QCOMPARE(s.status("DeviceStatus"), QStringLiteral("设备 255"));
    QCOMPARE(s.status("FeedbackStatus"), QStringLiteral("反馈：关闭"));
    QCOMPARE(s.status("CountStatus"), QStringLiteral("发送 0 · 接收 0 · 丢弃 0"));
    s.click("FindCommand");
    s.port.inject(kDiscovery);
    QCOMPARE(s.status("DeviceStatus"), QStringLiteral("设备 12"));
    s.click("GetCommand(1)");
    QCOMPARE(s.status("FeedbackStatus"), QStringLiteral("反馈：原始值"));
    s.port.inject(buildReply(0x40, QByteArray(20, '\x01')));
    s.port.inject(buildReply(0x40, QByteArray(20, '\x01')) + "x");   // a stray byte after a reply: dropped alone
    QTRY_COMPARE(s.status("CountStatus"), QStringLiteral("发送 2 · 接收 3 · 丢弃 1"));
    // The counts' label keeps its size while the counts change, yet always
    // shows them whole.
    auto *counts = s.window->findChild<QLabel *>(QStringLiteral("CountStatus"));
    const QRect before = counts->geometry();
    for (int n = 0; n < 150; ++n)
        s.port.inject(buildReply(0x40, QByteArray(20, char(n))));
    QTRY_COMPARE(s.status("CountStatus"), QStringLiteral("发送 2 · 接收 153 · 丢弃 1"));
    QCOMPARE(counts->geometry(), before);
    QVERIFY(counts->width() >= counts->sizeHint().width());
    s.session.setAutoReconnect(false);
    s.port.unplug();
    QCOMPARE(s.status("LineStatus"), QStringLiteral("已断开"));
}

void MainWindowTest::monitorShowsWhatPassed_data()
{
    QTest::addColumn<int>("show");   // LineFilter::Show
    QTest::addColumn<QStringList>("rows");
    const QString sent1 = QStringLiteral("→ 连接测试 → 255");
    const QString found = QStringLiteral("← 找到设备 12，显示位数 4");
    const QString sent2 = QStringLiteral("→ 反馈原始值 → 12");
    const QString raw = QStringLiteral("← 原始值 1 2 3 4 5 6 7 8 9 10");
    const QString bad = QStringLiteral("← 丢弃：校验字节应为 0xB2，收到 0xB3");
    QTest::newRow("all") << int(LineFilter::Show::All) << QStringList{sent1, found, sent2, raw, bad};
    QTest::newRow("sent") << int(LineFilter::Show::Sent) << QStringList{sent1, sent2};
    QTest::newRow("received") << int(LineFilter::Show::Received) << QStringList{found, raw, bad};
    QTest::newRow("problems") << int(LineFilter::Show::Problems) << QStringList{bad};
}

void MainWindowTest::monitorShowsWhatPassed()
{
    QFETCH(int, show);
    QFETCH(QStringList, rows);
    Shell s;
    s.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.window.get()));
    QTest::keyClick(s.window.get(), Qt::Key_F12);
    LineMonitor *m = s.window->monitor();
    QTRY_VERIFY(m->isVisible());
    QVERIFY(!m->isModal());
    m->clear();   // the opening of the port at start
    s.click("FindCommand");
    s.port.inject(kDiscovery);
    s.click("GetCommand(1)");
    QByteArray values;
    for (int i = 1; i <= 10; ++i)
        values += char(0), values += char(i);
    s.port.inject(buildReply(0x40, values));
    QByteArray spoiled = buildReply(0x40, QByteArray(20, '\0'));
    spoiled[26] = char(0xB3);
    s.port.inject(spoiled);
    m->filter()->setShow(LineFilter::Show(show));
    QCOMPARE(s.meanings(), rows);
    // Bytes and time stand beside each meaning.
    m->filter()->setShow(LineFilter::Show::All);
    QCOMPARE(m->model()->index(0, LineModel::Bytes).data().toString(), QStringLiteral("02 00 09 FF EE 21 FF C6 03"));
    QVERIFY(m->model()->index(4, LineModel::Time).data().toLongLong() >= m->model()->index(0, LineModel::Time).data().toLongLong());
}

void MainWindowTest::monitorIsBoundedAndPauses()
{
    Shell s;
    LineMonitor *m = s.window->monitor();
    m->clear();
    const int total = LineModel::kMaxEntries + 50;
    for (int i = 0; i < total; ++i)
        s.click("OpenPowCommand");
    m->flush();
    QCOMPARE(m->model()->rowCount(), LineModel::kMaxEntries);
    // The oldest went first: the table ends with the newest.
    s.click("ClosePowCommand");
    m->flush();
    QCOMPARE(m->model()->rowCount(), LineModel::kMaxEntries);
    QCOMPARE(m->model()->index(LineModel::kMaxEntries - 1, LineModel::Meaning).data().toString(),
             QStringLiteral("关机 → 255"));
    // An entry keeps its bytes in an array of their size, whatever block the
    // line handed them over in.
    s.click("FindCommand");
    QByteArray inBigBlock;
    inBigBlock.reserve(32768);
    inBigBlock += kDiscovery;
    s.port.inject(inBigBlock);
    m->flush();
    const LineEntry &reply = m->model()->at(LineModel::kMaxEntries - 1);
    QCOMPARE(reply.bytes, kDiscovery);
    QVERIFY2(reply.bytes.capacity() < 1024, qPrintable(QString::number(reply.bytes.capacity())));
    // Paused, the table stands still; resumed, it shows what came meanwhile.
    m->clear();
    m->setPaused(true);
    s.click("OpenPowCommand");
    m->flush();
    QCOMPARE(m->model()->rowCount(), 0);
    m->setPaused(false);
    QCOMPARE(m->model()->rowCount(), 1);
}

void MainWindowTest::monitorSavesText()
{
    Shell s;
    LineMonitor *m = s.window->monitor();
    m->clear();
    s.click("FindCommand");
    s.port.inject(kDiscovery);
    m->flush();
    s.dialogs.nextSave = s.dir.filePath("line.txt");
    m->saveAs();
    QFile f(s.dialogs.nextSave);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].endsWith(QStringLiteral("→ 02 00 09 FF EE 21 FF C6 03  连接测试 → 255")), qPrintable(lines[0]));
    QVERIFY2(lines[1].endsWith(QStringLiteral("← 02 00 0A EE 00 21 0C 04 CD 03  找到设备 12，显示位数 4")),
             qPrintable(lines[1]));
    // A file that cannot be written is told, not pretended.
    s.dialogs.nextSave = s.dir.filePath("no/such/folder/line.txt");
    s.dialogs.shown.clear();
    m->saveAs();
    QCOMPARE(s.dialogs.texts(), QStringList{QStringLiteral("通讯记录保存失败。")});
}

void MainWindowTest::traceFileOneLinePerEntry()
{
    Shell s;
    const QString path = s.dir.filePath("trace.txt");
    QVERIFY(s.window->startTrace(path));
    s.click("FindCommand");
    s.port.inject(kDiscovery);
    s.port.inject(hex("02 00 09 EE 00 55 00 B2 03"));
    // Each line is on disk as soon as it is written.
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    static const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    for (const QString &l : lines)
        QVERIFY2(iso.match(l).hasMatch(), qPrintable(l));
    QVERIFY(lines[0].contains(QStringLiteral(" → 02 00 09 FF EE 21 FF C6 03  连接测试 → 255")));
    QVERIFY(lines[2].contains(QStringLiteral(" ← 02 00 09 EE 00 55 00 B2 03  丢弃：未知的应答代码 0x55")));
    QVERIFY(!s.window->startTrace(s.dir.filePath("no/such/folder/trace.txt")));
}

void MainWindowTest::oneEntryOneLine_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("meaning");
    QTest::newRow("lone LF") << QByteArray("N12\n3,4\r\n") << QStringLiteral("目标值 12\\n3 4");
    QTest::newRow("vertical tab") << QByteArray("N1\x0B" "2,3\r\n") << QStringLiteral("目标值 1\\x0B2 3");
    QTest::newRow("NUL and DEL") << QByteArray("N\0" "1,\x7F\r\n", 7) << QStringLiteral("目标值 \\x001 \\x7F");
    QTest::newRow("C1 next line") << QByteArray("N5\x85,6\r\n") << QStringLiteral("目标值 5\\x85 6");
    QTest::newRow("tab") << QByteArray("N1\t2\r\n") << QStringLiteral("目标值 1\\t2");
}

void MainWindowTest::oneEntryOneLine()
{
    QFETCH(QByteArray, record);
    QFETCH(QString, meaning);
    Shell s;
    const QString path = s.dir.filePath("trace.txt");
    QVERIFY(s.window->startTrace(path));
    LineMonitor *m = s.window->monitor();
    m->clear();   // what came before the trace
    s.click("GetCommand(0)");
    s.port.inject(record);
    QVERIFY(pollerTook(s.session));
    m->flush();
    const int rows = m->model()->rowCount();
    QCOMPARE(m->model()->index(rows - 1, LineModel::Meaning).data().toString(), meaning);
    const QString bytes = QString::fromLatin1(record.toHex(' ').toUpper());
    QCOMPARE(m->model()->index(rows - 1, LineModel::Bytes).data().toString(), bytes);
    // Copied, saved and traced: one line per entry, the record's last.
    const QStringList shown = m->shownText(false).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(shown.size(), rows);
    QVERIFY2(shown.last().endsWith(bytes + QStringLiteral("  ") + meaning), qPrintable(shown.last()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList traced = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(traced.size(), rows);
    QCOMPARE(traced.last(), shown.last());
}

void MainWindowTest::traceThatStopsIsToldOnce()
{
    Shell s;
    s.window->show();
    QVERIFY(s.window->startTrace(QStringLiteral("/dev/full")));
    LineMonitor *m = s.window->monitor();
    m->clear();
    for (int i = 0; i < 3; ++i)
        s.click("OpenPowCommand");
    m->flush();
    auto *traceStatus = s.window->findChild<QLabel *>(QStringLiteral("TraceStatus"));
    QVERIFY(traceStatus);
    QVERIFY(traceStatus->isVisible());
    QCOMPARE(traceStatus->text(), QStringLiteral("跟踪已停止"));
    QVERIFY(traceStatus->toolTip().startsWith(QStringLiteral("/dev/full\n")));
    const QStringList told = s.meanings().filter(QStringLiteral("跟踪文件写入失败"));
    QCOMPARE(told.size(), 1);
    QVERIFY(told.first().contains(QStringLiteral("/dev/full")));
    QCOMPARE(s.dialogs.shown.size(), 0);
}

void MainWindowTest::reconnectsByItself_data()
{
    QTest::addColumn<bool>("on");
    QTest::newRow("on") << true;
    QTest::newRow("turned off, kept between runs") << false;
}

void MainWindowTest::reconnectsByItself()
{
    QFETCH(bool, on);
    Shell s(on, true);
    QCOMPARE(s.window->findChild<QCheckBox *>("ReconnectBox")->isChecked(), on);
    s.click("GetCommand(1)");
    const int written = int(s.port.written.size());
    s.port.unplug(QStringLiteral("cable pulled"));
    // The message says what is going to happen.
    const QString told = on ? msg::PortLostWatched() : msg::PortLost();
    QTRY_COMPARE(s.dialogs.texts(), QStringList{told});
    QCOMPARE(s.status("LineStatus"), on ? QStringLiteral("等待重新连接") : QStringLiteral("已断开"));
    s.port.replug();
    if (on) {
        // Back by itself: the stream stopped and the device asked who it is,
        // then open again, raw values asked for again; the loss was told
        // once, the answer not at all.
        QTRY_COMPARE_WITH_TIMEOUT(s.port.written.size(), written + 2, 10000);
        QCOMPARE(s.port.written.last(), hex("020009FFEE21FFC603"));
        s.port.inject(kDiscovery);
        // No device was known before the loss: which one answered is shown,
        // so that a swap is seen.
        QCOMPARE(s.status("LineStatus"), QStringLiteral("已重新连接：12 号设备，显示位数 4"));
        QCOMPARE(s.port.written.size(), written + 3);
        QCOMPARE(s.port.written.last(), hex("020009FFEE400159 03"));
        QCOMPARE(s.status("DeviceStatus"), QStringLiteral("设备 255"));
        QCOMPARE(s.dialogs.texts(), QStringList{told});
        QVERIFY(s.meanings().contains(QStringLiteral("• 端口 1 已自动重新连接：12 号设备，显示位数 4")));
        // The raw values come again.
        QSignalSpy values(&s.session, &DeviceSession::liveValues);
        s.port.inject(rawValuesReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        QCOMPARE(values.count(), 1);
    } else {
        QTest::qWait(1500);   // three chances to reconnect, none taken
        QVERIFY(!s.port.isOpen());
        // The operator's "打开串口" still works.
        s.click("OpenRs232Command");
        QVERIFY(s.port.isOpen());
    }
    // The choice is kept.
    s.window->findChild<QCheckBox *>("ReconnectBox")->setChecked(!on);
    QCOMPARE(s.settings->value("line/autoReconnect").toBool(), !on);
}

void MainWindowTest::readBackComparedWithTheFile_data()
{
    QTest::addColumn<QString>("source");      // "open", "open cancelled", "download" or "" (neither)
    QTest::addColumn<bool>("drifted");        // the device holds 3# upper 1200 and 7# 大于
    QTest::addColumn<QString>("status");      // "" : nothing shown
    QTest::addColumn<QString>("tip");
    const QString two = QStringLiteral("3#  上限  611 → 1200\n7#  报警启动  固定关 → 大于");
    QTest::newRow("nothing to compare with") << "" << true << "" << "";
    QTest::newRow("opened, the same") << "open" << false << "与文件相同" << "";
    QTest::newRow("opened, two differences") << "open" << true << "与文件有 2 处不同" << two;
    QTest::newRow("opening cancelled") << "open cancelled" << true << "" << "";
    QTest::newRow("downloaded, the same") << "download" << false << "与文件相同" << "";
    QTest::newRow("downloaded, two differences") << "download" << true << "与文件有 2 处不同" << two;
}

void MainWindowTest::readBackComparedWithTheFile()
{
    QFETCH(QString, source);
    QFETCH(bool, drifted);
    QFETCH(QString, status);
    QFETCH(QString, tip);
    Shell s;
    ChannelTable file = variedTable();
    file[0].lower = QStringLiteral("0.4");   // kept as 0: the same
    file[7].formula = QStringLiteral("固定关");
    QVERIFY(saveRtxFile(s.dir.filePath("plant.RTX"), encodeRtx(file).value()));
    if (source.startsWith(QLatin1String("open"))) {
        s.dialogs.nextOpen = source == QLatin1String("open") ? s.dir.filePath("plant.RTX") : QString();
        s.click("OpenSetCommand");
    } else if (source == QLatin1String("download")) {
        s.window->form()->setTable(file);
        s.click("SetCommand");
    }
    QVERIFY2(s.dialogs.shown.isEmpty(), qPrintable(s.dialogs.texts().join('\n')));
    ChannelTable held = file;
    if (drifted) {
        held[3].upper = QStringLiteral("1200");
        held[7].formula = QStringLiteral("大于");
    }
    s.click("ReSetCommand");
    s.port.inject(buildReply(cmd::ReadBack, encodeTable(held).value()));
    QTRY_VERIFY_WITH_TIMEOUT(s.window->form()->table()[3].upper == held[3].upper, 10000);
    auto *label = s.window->findChild<QLabel *>(QStringLiteral("TableStatus"));
    QVERIFY(label);
    QCOMPARE(label->isVisibleTo(s.window.get()), !status.isEmpty());
    if (!status.isEmpty()) {
        QCOMPARE(label->text(), status);
        QCOMPARE(label->toolTip(), tip);
    }
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
