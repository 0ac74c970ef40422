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
const QString kSays12 = QStringLiteral("找到  12 号设备~！");
const QString kSays7 = QStringLiteral("找到  7 号设备~！");

// The dialogs of one kind on screen, whatever their parent.
template <typename T = QMessageBox>
QList<T *> visible()
{
    QList<T *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<T *>(w); d && d->isVisible())
            found.append(d);
    return found;
}

QMessageBox *theBox()
{
    const auto boxes = visible();
    return boxes.size() == 1 ? boxes.first() : nullptr;
}

// A dialog left open by a run that blocks in it is closed after a while, so
// that such a run fails instead of hanging.
void closeAnyDialogLater(QObject *context)
{
    QTimer::singleShot(3000, context, [] {
        for (QDialog *d : visible<QDialog>())
            d->done(0);
    });
}

// Shows a plain box over window that notes its text in done once closed.
void noteOnClose(QtDialogs &dialogs, QWidget *window, const QString &text, QStringList &done,
                 Dialogs::Icon icon = Dialogs::Icon::None, const QString &more = {})
{
    dialogs.message(window, text, icon, more, [&done, text] { done.append(text); });
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
    void windowShownOnceTheStartupBoxesClose();
    void showingABoxReturnsAtOnce();
    void realBoxesOneAtATime_data();
    void realBoxesOneAtATime();
    void realQuestionAnswered_data();
    void realQuestionAnswered();
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
    f.dialogs.nextSave = dir.filePath(writable ? QStringLiteral("t.RTX") : QStringLiteral("no-such-folder/t.RTX"));
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
    closeAnyDialogLater(this);
    port.inject(kFound12);
    QMessageBox *box = theBox();
    QVERIFY2(box, "the reply was handled only once the box had closed");
    QCOMPARE(box->text(), kSays12);
    QCOMPARE(box->icon(), QMessageBox::Information);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->parentWidget(), &form);
    QTRY_VERIFY(levelUnderTheBox >= 0);
    QVERIFY(boxWasOpen);
    QCOMPARE(levelUnderTheBox, levelHere);
    // The line goes on under the box: the next answer is taken at once, its
    // box waits for the first one to close and then is the only one left.
    port.inject(kFound7);
    QCOMPARE(session.ledId(), quint8(7));
    QCOMPARE(visible().size(), 1);
    QCOMPARE(dialogs.boxesWaiting(), 1);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(theBox() && theBox()->text() == kSays7);
    QCOMPARE(dialogs.boxesWaiting(), 0);
    QVERIFY(dialogs.boxOpen());
    theBox()->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(visible().isEmpty());
    QVERIFY(!dialogs.boxOpen());
    QCOMPARE(dialogs.boxesWaiting(), 0);
}

void ModalBoxesTest::realBoxesOneAtATime_data()
{
    QTest::addColumn<bool>("gone");   // the first window closes for good with its boxes pending
    QTest::newRow("window stays") << false;
    QTest::newRow("window gone") << true;
}

void ModalBoxesTest::realBoxesOneAtATime()
{
    // Boxes come one at a time, each once the one before is closed. A window
    // gone with its box open and another waiting: what was to follow them
    // does not run, and the next window's box is shown.
    QFETCH(bool, gone);
    auto window = std::make_unique<QWidget>();
    QWidget other;
    window->show();
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QtDialogs dialogs;
    QStringList done;
    noteOnClose(dialogs, window.get(), QStringLiteral("first"), done, Dialogs::Icon::Warning, QStringLiteral("why"));
    noteOnClose(dialogs, window.get(), QStringLiteral("second"), done, Dialogs::Icon::Critical);
    noteOnClose(dialogs, &other, QStringLiteral("other"), done);
    QMessageBox *box = theBox();
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("first"));
    QCOMPARE(box->informativeText(), QStringLiteral("why"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->windowTitle(), QStringLiteral("VornRT8"));
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(dialogs.boxesWaiting(), 2);
    QVERIFY(done.isEmpty());
    QStringList expected;
    if (gone) {
        window.reset();
    } else {
        box->button(QMessageBox::Ok)->click();
        QCOMPARE(done, QStringList{QStringLiteral("first")});
        QTRY_VERIFY(theBox() && theBox()->text() == QStringLiteral("second"));
        QCOMPARE(theBox()->icon(), QMessageBox::Critical);
        theBox()->button(QMessageBox::Ok)->click();
        expected = QStringList{QStringLiteral("first"), QStringLiteral("second")};
        QCOMPARE(done, expected);
    }
    QTRY_VERIFY(theBox() && theBox()->text() == QStringLiteral("other"));
    QCOMPARE(done, expected);
    theBox()->button(QMessageBox::Ok)->click();
    expected << QStringLiteral("other");
    QCOMPARE(done, expected);
    QTRY_VERIFY(visible().isEmpty());
    QVERIFY(!dialogs.boxOpen());
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
    QStringList done;
    dialogs.confirm(&window, QStringLiteral("cut?"), QStringLiteral("3: -20000"), [&](bool y) {
        answer = y;
        // What follows the answer may ask for the next box; it comes once
        // the question is gone.
        noteOnClose(dialogs, &window, QStringLiteral("after"), done);
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
    QVERIFY(done.isEmpty());
    theBox()->button(QMessageBox::Ok)->click();
    QCOMPARE(done, QStringList{QStringLiteral("after")});
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
    closeAnyDialogLater(this);
    f.form.findChild<QPushButton *>(QStringLiteral("OpenSetCommand"))->click();
    const auto open = visible<QFileDialog>();
    QVERIFY2(!open.isEmpty(), "the click returned only once the file dialog had closed");
    QFileDialog *dialog = open.last();
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(f.form.table(), startTable());
    if (chosen) {
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    } else {
        dialog->reject();
    }
    QCOMPARE(f.form.table(), chosen ? t : startTable());
}

QTEST_MAIN(ModalBoxesTest)
#include "tst_modal_boxes.moc"
