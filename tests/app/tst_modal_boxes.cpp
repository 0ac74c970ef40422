// Message boxes without an event loop of their own: showing one returns at
// once, the box stays open modal to its window, what is to follow it runs
// once it is closed, and a box asked for while another is open waits for it.

#include "formfixture.h"

#include "app/mainwindow.h"
#include "protocol/rtxfile.h"
#include "session/messages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>

using namespace vorn;

namespace {

const QByteArray kFound12 = hex("02 00 0A EE 00 21 0C 04 CD 03");
const QByteArray kFound7 = hex("02 00 0A EE 00 21 07 04 C6 03");

// The message boxes on screen, whatever their parent.
QList<QMessageBox *> visibleBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            boxes.append(box);
    return boxes;
}

QMessageBox *theBox()
{
    const auto boxes = visibleBoxes();
    return boxes.size() == 1 ? boxes.first() : nullptr;
}

// A box left open by a run that blocks in it is closed after a while, so
// that such a run fails instead of hanging.
void closeAnyBoxLater(QObject *context)
{
    QTimer::singleShot(3000, context, [] {
        for (QMessageBox *box : visibleBoxes())
            box->done(0);
    });
}

// The window on a fake line with real message boxes, shown, port 1 open.
struct ShownForm
{
    FakeLine port;
    DeviceSession session{FakeLine::ports(), &port};
    QtDialogs dialogs;
    MainForm form{&session, &dialogs};
    ShownForm()
    {
        port.addPort(1);
        form.load();
        form.show();
    }
};

}  // namespace

class ModalBoxesTest : public QObject
{
    Q_OBJECT
private slots:
    void sequenceGoesOnWhenTheBoxCloses_data();
    void sequenceGoesOnWhenTheBoxCloses();
    void secondMessageWaitsForTheFirst();
    void windowShownOnceTheStartupBoxesClose();
    void showingABoxReturnsAtOnce();
    void realBoxesOneAtATime();
    void realQuestionAnswered_data();
    void realQuestionAnswered();
    void boxOfAGoneWindowIsDropped();
    void fileDialogReturnsAtOnce_data();
    void fileDialogReturnsAtOnce();
};

void ModalBoxesTest::sequenceGoesOnWhenTheBoxCloses_data()
{
    QTest::addColumn<bool>("cut");          // a field wider than the file holds
    QTest::addColumn<bool>("yes");          // the answer to the question about cutting
    QTest::addColumn<bool>("writable");     // the file chosen can be written
    QTest::addColumn<QStringList>("boxes"); // in the order shown
    QTest::addColumn<bool>("asked");        // the file dialog came up
    QTest::addColumn<bool>("saved");
    const QString q = msg::CutWarning(), failed = msg::SaveFailed();
    QTest::newRow("nothing cut") << false << true << true << QStringList{} << true << true;
    QTest::newRow("cut, Yes") << true << true << true << QStringList{q} << true << true;
    QTest::newRow("cut, No") << true << false << true << QStringList{q} << false << false;
    QTest::newRow("cut, Yes, not writable") << true << true << false << QStringList{q, failed} << true << false;
    QTest::newRow("cut, No, not writable") << true << false << false << QStringList{q} << false << false;
    QTest::newRow("nothing cut, not writable") << false << true << false << QStringList{failed} << true << false;
}

void ModalBoxesTest::sequenceGoesOnWhenTheBoxCloses()
{
    QFETCH(bool, cut);
    QFETCH(bool, yes);
    QFETCH(bool, writable);
    QFETCH(QStringList, boxes);
    QFETCH(bool, asked);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    FormFixture f;
    f.dialogs.closeAtOnce = false;
    const int sentBefore = int(f.port.written.size());
    ChannelTable t = startTable();
    t[3].lower = cut ? QStringLiteral("-20000") : QStringLiteral("-200");
    t[5].start1 = QStringLiteral("42");
    f.form->setTable(t);
    f.dialogs.nextSave = writable ? dir.filePath(QStringLiteral("t.RTX"))
                                  : dir.filePath(QStringLiteral("no-such-folder/t.RTX"));
    f.button(QStringLiteral("SaveSetCommand"))->click();
    if (cut) {
        // The question is open; nothing after it has happened yet.
        QCOMPARE(f.dialogs.texts(), QStringList{msg::CutWarning()});
        QVERIFY(f.dialogs.shown.first().question);
        QVERIFY(f.dialogs.boxOpen());
        QVERIFY(f.dialogs.lastSaveDir.isEmpty());
        QVERIFY(!QFile::exists(f.dialogs.nextSave));
        // The grid changes under the question: what is saved is the table
        // the question was about.
        f.form->setTable(startTable());
        f.dialogs.answer(yes);
    }
    // A box that follows the answer is shown; close it.
    if (f.dialogs.boxOpen() && f.dialogs.shown.size() == boxes.size())
        f.dialogs.answer();
    QCOMPARE(f.dialogs.texts(), boxes);
    QVERIFY(!f.dialogs.boxOpen());
    QCOMPARE(!f.dialogs.lastSaveDir.isEmpty(), asked);
    ChannelTable loaded;
    QCOMPARE(loadRtxFile(f.dialogs.nextSave, &loaded) == RtxLoad::Ok, saved);
    if (saved) {
        QCOMPARE(loaded[3].lower, cut ? QStringLiteral("-2000") : QStringLiteral("-200"));
        QCOMPARE(loaded[5].start1, QStringLiteral("42"));
    }
    // Saving is the window's own business: nothing goes on the line.
    QCOMPARE(int(f.port.written.size()), sentBefore);
}

void ModalBoxesTest::secondMessageWaitsForTheFirst()
{
    // Two answers to the connection test: the second is taken while the
    // first one's box is open, and its box comes once that one is closed.
    FormFixture f;
    f.dialogs.closeAtOnce = false;
    f.button(QStringLiteral("FindCommand"))->click();
    f.port.inject(kFound12);
    f.port.inject(kFound7);
    QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("找到  12 号设备~！")});
    QCOMPARE(f.dialogs.boxesWaiting(), 1);
    QCOMPARE(f.session.ledId(), quint8(7));
    f.dialogs.answer();
    QCOMPARE(f.dialogs.texts(), (QStringList{QStringLiteral("找到  12 号设备~！"), QStringLiteral("找到  7 号设备~！")}));
    QCOMPARE(f.dialogs.boxesWaiting(), 0);
    QVERIFY(f.dialogs.boxOpen());
    f.dialogs.answer();
    QVERIFY(!f.dialogs.boxOpen());
    QCOMPARE(f.dialogs.shown.size(), 2);
}

void ModalBoxesTest::windowShownOnceTheStartupBoxesClose()
{
    // As the program starts: no port to open, so the search says so; the
    // window comes once that box is closed.
    FakeLine port;
    DeviceSession session(FakeLine::ports(), &port);
    ScriptedDialogs dialogs;
    dialogs.closeAtOnce = false;
    MainWindow window(&session, &dialogs, nullptr);
    window.load();
    dialogs.whenNoBox([&] { window.showCentred(); });
    QCOMPARE(dialogs.texts(), QStringList{msg::NoPort()});
    QVERIFY(!window.isVisible());
    dialogs.answer();
    QVERIFY(window.isVisible());
}

void ModalBoxesTest::showingABoxReturnsAtOnce()
{
    // A reply that shows a box: the reply's handling has returned while the
    // box is still open, and the event loop underneath is the program's
    // own, not one run inside the box.
    ShownForm f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    auto &[port, session, dialogs, form] = f;
    QVERIFY(port.isOpen());
    form.findChild<QPushButton *>(QStringLiteral("FindCommand"))->click();
    const int levelHere = QThread::currentThread()->loopLevel();
    int levelUnderTheBox = -1;
    bool boxWasOpen = false;
    QTimer::singleShot(0, this, [&] {
        levelUnderTheBox = QThread::currentThread()->loopLevel();
        boxWasOpen = theBox() != nullptr;
    });
    closeAnyBoxLater(this);
    port.inject(kFound12);
    QMessageBox *box = theBox();
    QVERIFY2(box, "the reply was handled only once the box had closed");
    QCOMPARE(box->text(), QStringLiteral("找到  12 号设备~！"));
    QCOMPARE(box->icon(), QMessageBox::Information);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->parentWidget(), &form);
    QTRY_VERIFY(levelUnderTheBox >= 0);
    QVERIFY(boxWasOpen);
    QCOMPARE(levelUnderTheBox, levelHere);
    // The line goes on under the box: the next answer is taken at once, its
    // box waits.
    port.inject(kFound7);
    QCOMPARE(session.ledId(), quint8(7));
    QCOMPARE(visibleBoxes().size(), 1);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(theBox() && theBox()->text() == QStringLiteral("找到  7 号设备~！"));
    theBox()->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(visibleBoxes().isEmpty());
    QVERIFY(!dialogs.boxOpen());
}

void ModalBoxesTest::realBoxesOneAtATime()
{
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QtDialogs dialogs;
    QStringList done;
    dialogs.message(&window, QStringLiteral("first"), Dialogs::Icon::Warning, QStringLiteral("why"),
                    [&] { done.append(QStringLiteral("first")); });
    dialogs.message(&window, QStringLiteral("second"), Dialogs::Icon::Critical, {},
                    [&] { done.append(QStringLiteral("second")); });
    QMessageBox *box = theBox();
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("first"));
    QCOMPARE(box->informativeText(), QStringLiteral("why"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->windowTitle(), QStringLiteral("VornRT8"));
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(dialogs.boxesWaiting(), 1);
    QVERIFY(done.isEmpty());
    box->button(QMessageBox::Ok)->click();
    QCOMPARE(done, QStringList{QStringLiteral("first")});
    QTRY_VERIFY(theBox() && theBox()->text() == QStringLiteral("second"));
    QCOMPARE(theBox()->icon(), QMessageBox::Critical);
    theBox()->button(QMessageBox::Ok)->click();
    QCOMPARE(done, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    QTRY_VERIFY(visibleBoxes().isEmpty());
}

void ModalBoxesTest::realQuestionAnswered_data()
{
    QTest::addColumn<int>("how");   // a button, or 0 for Escape
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << true;
    QTest::newRow("No") << int(QMessageBox::No) << false;
    QTest::newRow("Escape") << 0 << false;
}

void ModalBoxesTest::realQuestionAnswered()
{
    QFETCH(int, how);
    QFETCH(bool, yes);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QtDialogs dialogs;
    std::optional<bool> answer;
    bool after = false;
    dialogs.confirm(&window, QStringLiteral("cut?"), QStringLiteral("3: -20000"), [&](bool y) {
        answer = y;
        // What follows the answer may ask for the next box; it comes once
        // the question is gone.
        dialogs.message(&window, QStringLiteral("after"), Dialogs::Icon::None, {}, [&] { after = true; });
    });
    QMessageBox *box = theBox();
    QVERIFY(box);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
    QVERIFY(!answer);
    if (how)
        box->button(QMessageBox::StandardButton(how))->click();
    else
        QTest::keyClick(box, Qt::Key_Escape);
    QCOMPARE(answer, std::optional<bool>(yes));
    QTRY_VERIFY(theBox() && theBox()->text() == QStringLiteral("after"));
    QVERIFY(!after);
    theBox()->button(QMessageBox::Ok)->click();
    QVERIFY(after);
}

void ModalBoxesTest::boxOfAGoneWindowIsDropped()
{
    // A window closes for good with its box open and another waiting: what
    // was to follow them does not run, and the next window's box is shown.
    auto doomed = std::make_unique<QWidget>();
    QWidget other;
    doomed->show();
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(doomed.get()));
    QtDialogs dialogs;
    QStringList done;
    dialogs.message(doomed.get(), QStringLiteral("doomed 1"), Dialogs::Icon::None, {},
                    [&] { done.append(QStringLiteral("doomed 1")); });
    dialogs.message(doomed.get(), QStringLiteral("doomed 2"), Dialogs::Icon::None, {},
                    [&] { done.append(QStringLiteral("doomed 2")); });
    dialogs.message(&other, QStringLiteral("other"), Dialogs::Icon::None, {},
                    [&] { done.append(QStringLiteral("other")); });
    QVERIFY(theBox() && theBox()->text() == QStringLiteral("doomed 1"));
    doomed.reset();
    QTRY_VERIFY(theBox() && theBox()->text() == QStringLiteral("other"));
    QVERIFY(done.isEmpty());
    theBox()->button(QMessageBox::Ok)->click();
    QCOMPARE(done, QStringList{QStringLiteral("other")});
    QVERIFY(!dialogs.boxOpen());
}

void ModalBoxesTest::fileDialogReturnsAtOnce_data()
{
    QTest::addColumn<bool>("chosen");
    QTest::newRow("a file chosen") << true;
    QTest::newRow("cancelled") << false;
}

void ModalBoxesTest::fileDialogReturnsAtOnce()
{
    // "打开配置": the click returns with the file dialog open over the
    // window; the table is loaded once a file is chosen.
    QFETCH(bool, chosen);
    QTemporaryDir dir;
    ChannelTable t = startTable();
    t[2].upper = QStringLiteral("1234");
    const QString path = dir.filePath(QStringLiteral("t.RTX"));
    QVERIFY(saveRtxFile(path, *encodeRtx(t)));
    ShownForm f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    auto &[port, session, dialogs, form] = f;
    QTimer::singleShot(3000, this, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
                d->reject();
    });
    form.findChild<QPushButton *>(QStringLiteral("OpenSetCommand"))->click();
    QFileDialog *dialog = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
            dialog = d;
    QVERIFY2(dialog, "the click returned only once the file dialog had closed");
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(form.table(), startTable());
    if (chosen) {
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    } else {
        dialog->reject();
    }
    QCOMPARE(form.table(), chosen ? t : startTable());
}

QTEST_MAIN(ModalBoxesTest)
#include "tst_modal_boxes.moc"
