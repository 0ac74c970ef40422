// The window's start state, the port search, the number box and the filters.

#include "formfixture.h"

#include "app/widgets.h"
#include "support/fakeline.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>

using namespace vorn;

class StartupTest : public QObject
{
    Q_OBJECT
private slots:
    void startState();
    void portSearch_data();
    void portSearch();
    void searchPassesOverUnusablePorts_data();
    void searchPassesOverUnusablePorts();
    void explicitOpenTellsTheReason_data();
    void explicitOpenTellsTheReason();
    void reopenPort_data();
    void reopenPort();
    void closingClosesPort();
    void numberBox_data();
    void numberBox();
    void numberTakesEffectForNextFrame();
    void keyFilter_data();
    void keyFilter();
    void pasteIsFiltered();
    void programTextsAreNotCut();
    void editsJudgeOnlyWhatIsTyped_data();
    void editsJudgeOnlyWhatIsTyped();
    void portLostIsToldOnce();
    void showsInItsPlace();
    void comboTextStaysAsTyped_data();
    void comboTextStaysAsTyped();
};

void StartupTest::startState()
{
    FormFixture f;
    QCOMPARE(f.dialogs.shown.size(), 0);
    QVERIFY(f.form->windowTitle().startsWith(QStringLiteral("VornRT8V1.0")));
    QComboBox *rs = f.combo(QStringLiteral("RsCombo"));
    QCOMPARE(rs->count(), 16);
    for (int p = 1; p <= 16; ++p)
        QCOMPARE(rs->itemText(p - 1), QString::number(p));
    QCOMPARE(rs->currentText(), QStringLiteral("1"));
    QCOMPARE(f.edit(QStringLiteral("LedIDText"))->text(), QStringLiteral("255"));
    QCOMPARE(f.session.ledId(), quint8(255));
    QCOMPARE(f.edit(QStringLiteral("SanLongText"))->text(), QStringLiteral("40"));
    QCOMPARE(f.form->findChild<FeedbackBox *>(QStringLiteral("RsValText"))->text(), QString());
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(f.edit(f.at("LText", i))->text(), QStringLiteral("0"));
        QCOMPARE(f.edit(f.at("HText", i))->text(), QStringLiteral("1000"));
        QCOMPARE(f.edit(f.at("DotText", i))->text(), QStringLiteral("1"));
        QCOMPARE(f.edit(f.at("KGstText", i))->text(), QStringLiteral("0"));
        QCOMPARE(f.edit(f.at("KGedText", i))->text(), QStringLiteral("1000"));
        QComboBox *c = f.combo(f.at("KGFormulaCombo", i));
        QCOMPARE(c->currentText(), QStringLiteral("固定关"));
        QCOMPARE(c->count(), 7);
        QCOMPARE(c->itemText(1), QStringLiteral("固定开"));
        QCOMPARE(c->itemText(6), QStringLiteral("范围外"));
    }
    // The thirty smart-setting buttons are off, every other button on.
    int disabled = 0;
    for (QPushButton *b : f.form->findChildren<QPushButton *>()) {
        const bool smart = b->objectName().startsWith(QLatin1String("LCommand"))
                        || b->objectName().startsWith(QLatin1String("HCommand"))
                        || b->objectName().startsWith(QLatin1String("OkCommand"));
        QCOMPARE(b->isEnabled(), !smart);
        disabled += smart;
    }
    QCOMPARE(disabled, 30);
    QVERIFY(!f.timer(QStringLiteral("GetValShapeTimer"))->isActive());
    QVERIFY(!f.takes(hex("02 00 0A EE 00 21 0C 04 CD 03")));   // no answer awaited
    // Nor records: what comes waits, and no poller takes it.
    f.port.inject("N1,2\r\n");
    QVERIFY(vorn::pollerStill(f.session));
    // Controls stand at their design places (15 twips to a pixel).
    QCOMPARE(f.button(QStringLiteral("ExitCommand"))->geometry(), QRect(152, 112, 65, 25));
    QCOMPARE(f.edit(f.at("HText", 3))->geometry(), QRect(216, 114, 68, 28));
    QCOMPARE(f.form->size(), QSize(730, 481));
    QCOMPARE(f.combo(QStringLiteral("RsCombo"))->toolTip(), QStringLiteral("/dev/fake1"));
}

using Failure = Line::OpenFailure;
Q_DECLARE_METATYPE(QList<Failure>)

void StartupTest::portSearch_data()
{
    QTest::addColumn<QList<Failure>>("results");   // what opening ports 1, 2, ... yields; missing: absent
    QTest::addColumn<int>("openedPort");
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QColor>("lamp");

    const QColor yellow(255, 255, 0), red(255, 0, 0);
    const Failure absent = Failure::NoSuchPort, inUse = Failure::InUse, opens = Failure::None;
    QTest::newRow("1 and 2 absent, 3 free") << QList<Failure>{absent, absent, opens} << 3 << "3" << QStringList() << yellow;
    QTest::newRow("1 in use, 2 free") << QList<Failure>{inUse, opens} << 2 << "2" << QStringList() << yellow;
    QTest::newRow("16 the only one") << (QList<Failure>(15, absent) << opens) << 16 << "16" << QStringList() << yellow;
    QTest::newRow("none at all") << QList<Failure>{} << 0 << "3" << QStringList{QStringLiteral("没有可以使用的通讯端口")} << red;
    QTest::newRow("all in use") << QList<Failure>(16, inUse) << 0 << "3" << QStringList{QStringLiteral("没有可以使用的通讯端口")} << red;
    QTest::newRow("other failure stops the search") << QList<Failure>{Failure::Other, opens} << 0 << "1"
        << QStringList{QStringLiteral("端口打开错误~!")} << red;
}

void StartupTest::portSearch()
{
    QFETCH(QList<Failure>, results);
    QFETCH(int, openedPort);
    QFETCH(QString, combo);
    QFETCH(QStringList, messages);
    QFETCH(QColor, lamp);
    FormFixture::PortResults ports;
    for (int i = 0; i < results.size(); ++i)
        if (results[i] != Failure::NoSuchPort)
            ports[i + 1] = results[i];
    FormFixture f(ports);
    QCOMPARE(f.dialogs.texts(), messages);
    QCOMPARE(f.port.isOpen(), openedPort != 0);
    if (openedPort)
        QCOMPARE(f.session.portNumber(), openedPort);
    QCOMPARE(f.combo(QStringLiteral("RsCombo"))->currentText(), combo);
    QCOMPARE(f.form->findChild<Lamp *>(QStringLiteral("GetValShape"))->fillColor(), lamp);
}

void StartupTest::searchPassesOverUnusablePorts_data()
{
    QTest::addColumn<QList<Failure>>("ports");   // ports 1, 2, ...; None opens
    QTest::addColumn<int>("openedPort");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("inDetail");
    QTest::addColumn<QStringList>("notInDetail");
    const QString noPort = QStringLiteral("没有可以使用的通讯端口");
    QTest::newRow("input/output error, then a free port")
        << QList<Failure>{Failure::NoDevice, Failure::None} << 2 << QStringList() << QStringList() << QStringList();
    QTest::newRow("only nodes without a device")
        << QList<Failure>{Failure::NoDevice, Failure::NoDevice, Failure::NoDevice} << 0 << QStringList{noPort}
        << QStringList() << QStringList{"dialout"};
    QTest::newRow("not allowed, then a free port")
        << QList<Failure>{Failure::PermissionDenied, Failure::None} << 2 << QStringList() << QStringList()
        << QStringList();
    QTest::newRow("not allowed, nothing else")
        << QList<Failure>{Failure::PermissionDenied} << 0 << QStringList{noPort}
        << QStringList{"/dev/fake1", "Permission denied", "usermod -aG dialout", "重新登录"} << QStringList();
    QTest::newRow("in use and not allowed: only the refusal is explained")
        << QList<Failure>{Failure::InUse, Failure::NoDevice, Failure::PermissionDenied} << 0 << QStringList{noPort}
        << QStringList{"/dev/fake3", "Permission denied"} << QStringList{"/dev/fake1", "/dev/fake2"};
    QTest::newRow("two not allowed") << QList<Failure>{Failure::PermissionDenied, Failure::PermissionDenied} << 0
        << QStringList{noPort} << QStringList{"/dev/fake1", "/dev/fake2"} << QStringList();
}

void StartupTest::searchPassesOverUnusablePorts()
{
    QFETCH(QList<Failure>, ports);
    QFETCH(int, openedPort);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, inDetail);
    QFETCH(QStringList, notInDetail);
    FakeLine port;
    for (int i = 0; i < ports.size(); ++i)
        port.setPortFailure(i + 1, ports[i],
                            ports[i] == Failure::PermissionDenied ? QStringLiteral("Permission denied")
                                                                  : QStringLiteral("Input/output error"));
    ScriptedDialogs dialogs;
    DeviceSession session(FakeLine::ports(), &port);
    MainForm form(&session, &dialogs);
    form.load();
    QCOMPARE(dialogs.texts(), messages);
    QCOMPARE(port.isOpen(), openedPort != 0);
    if (openedPort)
        QCOMPARE(session.portNumber(), openedPort);
    const QString detail = dialogs.shown.isEmpty() ? QString() : dialogs.shown.first().detail;
    for (const QString &s : inDetail)
        QVERIFY2(detail.contains(s), qPrintable(detail));
    for (const QString &s : notInDetail)
        QVERIFY2(!detail.contains(s), qPrintable(detail));
}

void StartupTest::explicitOpenTellsTheReason_data()
{
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("advice");
    QTest::newRow("input/output error") << Failure::NoDevice << "Input/output error" << false;
    QTest::newRow("not allowed") << Failure::PermissionDenied << "Permission denied" << true;
    QTest::newRow("in use") << Failure::InUse << "Permission error while locking the device" << false;
}

void StartupTest::explicitOpenTellsTheReason()
{
    // The search passes such ports over; "打开串口" on one says why it failed.
    QFETCH(Failure, failure);
    QFETCH(QString, reason);
    QFETCH(bool, advice);
    FormFixture f;
    f.port.setPortFailure(2, failure, reason);
    f.combo(QStringLiteral("RsCombo"))->setEditText(QStringLiteral("2"));
    f.button(QStringLiteral("OpenRs232Command"))->click();
    QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("端口打开错误~!")});
    const QString detail = f.dialogs.shown.first().detail;
    QVERIFY2(detail.contains(QStringLiteral("/dev/fake2")) && detail.contains(reason), qPrintable(detail));
    QCOMPARE(detail.contains(QStringLiteral("dialout")), advice);
    QVERIFY(!f.port.isOpen());
}

void StartupTest::reopenPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("opens");
    QTest::newRow("free port") << "2" << true;
    QTest::newRow("the same port again") << "1" << true;
    QTest::newRow("absent port") << "5" << false;
    QTest::newRow("not a number") << "abc" << false;
    QTest::newRow("out of range") << "17" << false;
    QTest::newRow("empty") << "" << false;
}

void StartupTest::reopenPort()
{
    QFETCH(QString, text);
    QFETCH(bool, opens);
    FormFixture f({{1, Failure::None}, {2, Failure::None}});
    f.combo(QStringLiteral("RsCombo"))->setEditText(text);
    const int closesBefore = f.port.closeCount;
    f.port.inject("stale bytes of the old line");
    f.button(QStringLiteral("OpenRs232Command"))->click();
    QVERIFY(!f.session.recordInputPending());
    QCOMPARE(f.port.closeCount, closesBefore + 1);   // the open port was closed first
    QCOMPARE(f.port.isOpen(), opens);
    QCOMPARE(f.dialogs.texts(), opens ? QStringList() : QStringList{QStringLiteral("端口打开错误~!")});
    if (opens)
        QCOMPARE(f.session.portNumber(), text.toInt());
}

void StartupTest::closingClosesPort()
{
    for (const bool exitButton : {true, false}) {
        FormFixture f;
        f.form->show();
        QVERIFY(f.port.isOpen());
        if (exitButton)
            f.button(QStringLiteral("ExitCommand"))->click();
        else
            f.form->close();
        QVERIFY(!f.port.isOpen());
        QVERIFY(!f.form->isVisible());
        QCOMPARE(f.dialogs.shown.size(), 0);
    }
}

void StartupTest::numberBox_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("ledId");
    QTest::newRow("7") << "7" << "7" << 7;
    QTest::newRow("0") << "0" << "0" << 0;
    QTest::newRow("above 255") << "300" << "255" << 255;
    QTest::newRow("half to even") << "6.5" << "6.5" << 6;
    QTest::newRow("empty keeps the number") << "" << "12" << 12;
    QTest::newRow("letters keep the number") << "abc" << "12" << 12;
    QTest::newRow("negative keeps the number") << "-3" << "12" << 12;
    QTest::newRow("trailing letters keep the number") << "9x" << "12" << 12;
    QTest::newRow("huge") << "1e30" << "255" << 255;
}

void StartupTest::numberBox()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, ledId);
    FormFixture f;
    QLineEdit *box = f.edit(QStringLiteral("LedIDText"));
    box->setText(QStringLiteral("12"));
    f.leaveNumber();
    QCOMPARE(f.session.ledId(), quint8(12));
    box->setText(typed);
    f.leaveNumber();
    QCOMPARE(box->text(), shown);
    QCOMPARE(int(f.session.ledId()), ledId);
}

void StartupTest::numberTakesEffectForNextFrame()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QLineEdit *box = f.edit(QStringLiteral("LedIDText"));
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("300"));
    // A click with the box still focused: the number is taken first.
    f.button(QStringLiteral("OpenPowCommand"))->click();
    QCOMPARE(box->text(), QStringLiteral("255"));
    QCOMPARE(f.lastWritten(), hex("02 00 09 FF EE 12 01 0B 03"));
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("7"));
    f.button(QStringLiteral("OpenPowCommand"))->setFocus();   // focus leaves the box
    QCOMPARE(f.session.ledId(), quint8(7));
    f.button(QStringLiteral("OpenPowCommand"))->click();
    QCOMPARE(f.lastWritten().at(3), char(7));
}

void StartupTest::keyFilter_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("result");
    QTest::newRow("lower: minus, digits; point and letter refused") << "LText" << "-1.5a" << "-15";
    QTest::newRow("upper: several minus signs") << "HText" << "1-2-" << "1-2-";
    QTest::newRow("start value: at most five") << "KGstText" << "1234567" << "12345";
    QTest::newRow("start value 2: blank refused") << "KGedText" << "1 2" << "12";
    QTest::newRow("decimal places: minus and point refused") << "DotText" << "-.3" << "3";
    QTest::newRow("decimal places: one digit only") << "DotText" << "34" << "3";
}

void StartupTest::keyFilter()
{
    QFETCH(QString, box);
    QFETCH(QString, keys);
    QFETCH(QString, result);
    FormFixture f;
    QLineEdit *e = f.edit(f.at(box.toLatin1().constData(), 4));
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QCOMPARE(e->text(), QString());
    QTest::keyClicks(e, keys);
    QCOMPARE(e->text(), result);
    QTest::keyClick(e, Qt::Key_Backspace);
    QCOMPARE(e->text(), result.left(result.size() - 1));
}

void StartupTest::pasteIsFiltered()
{
    FormFixture f;
    QLineEdit *lower = f.edit(f.at("LText", 0));
    lower->clear();
    lower->insert(QStringLiteral("-1a2.3 "));   // what a paste does
    QCOMPARE(lower->text(), QStringLiteral("-123"));
    lower->insert(QStringLiteral("4567"));
    QCOMPARE(lower->text(), QStringLiteral("-1234"));
    lower->clear();
    lower->insert(QStringLiteral("１2－3"));   // full-width digits and minus are not taken
    QCOMPARE(lower->text(), QStringLiteral("23"));
    QLineEdit *dot = f.edit(f.at("DotText", 0));
    dot->clear();
    dot->insert(QStringLiteral("-x2"));
    QCOMPARE(dot->text(), QStringLiteral("2"));
    // Boxes without a filter take what is pasted.
    QLineEdit *number = f.edit(QStringLiteral("CMD23Text"));
    number->clear();
    number->insert(QStringLiteral("a-1.5"));
    QCOMPARE(number->text(), QStringLiteral("a-1.5"));
}

void StartupTest::programTextsAreNotCut()
{
    // A read-back may place texts that could not be typed; they stay whole,
    // and the operator can still shorten them.
    FormFixture f;
    ChannelTable t = startTable();
    t[3].lower = QStringLiteral("-20000");
    t[3].dot = QStringLiteral("12");
    f.form->setTable(t);
    QLineEdit *lower = f.edit(f.at("LText", 3));
    QCOMPARE(lower->text(), QStringLiteral("-20000"));
    QCOMPARE(f.edit(f.at("DotText", 3))->text(), QStringLiteral("12"));
    lower->setFocus();
    lower->end(false);
    QTest::keyClicks(lower, QStringLiteral("7"));   // longer still: refused
    QCOMPARE(lower->text(), QStringLiteral("-20000"));
    lower->setSelection(5, 1);
    QTest::keyClicks(lower, QStringLiteral("5"));   // same length: taken
    QCOMPARE(lower->text(), QStringLiteral("-20005"));
    QTest::keyClick(lower, Qt::Key_Backspace);
    QCOMPARE(lower->text(), QStringLiteral("-2000"));
    QTest::keyClicks(lower, QStringLiteral("1"));   // back at the limit of five
    QCOMPARE(lower->text(), QStringLiteral("-2000"));
}

void StartupTest::editsJudgeOnlyWhatIsTyped_data()
{
    // A text placed by a file or the device, then an edit: only the typed or
    // pasted characters are filtered; the placed ones stay.
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("placed");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("result");
    QTest::newRow("digit after a point") << "LText" << "1.5" << 3 << 0 << "0" << "" << "1.50";
    QTest::newRow("minus in front") << "HText" << "1.5" << 0 << 0 << "-" << "" << "-1.5";
    QTest::newRow("letter typed, digit taken") << "KGstText" << "1e3" << 1 << 0 << "x9" << "" << "19e3";
    QTest::newRow("selected digit replaced") << "KGedText" << "2.25" << 3 << 1 << "7" << "" << "2.27";
    QTest::newRow("selected point replaced") << "LText" << "2.25" << 1 << 1 << "." << "" << "225";
    QTest::newRow("whole text replaced") << "LText" << "abc" << 0 << 3 << "-4" << "" << "-4";
    QTest::newRow("paste filtered") << "HText" << "1.5" << 3 << 0 << "" << "2a.3" << "1.523";
    QTest::newRow("paste in the middle") << "LText" << "1.5" << 1 << 0 << "" << " 9 " << "19.5";
    QTest::newRow("backspace keeps the rest") << "LText" << "1.5" << 3 << 0 << "\b" << "" << "1.";
    QTest::newRow("decimal places: no room") << "DotText" << "1." << 2 << 0 << "3" << "" << "1.";
}

void StartupTest::editsJudgeOnlyWhatIsTyped()
{
    QFETCH(QString, box);
    QFETCH(QString, placed);
    QFETCH(int, cursor);
    QFETCH(int, selected);
    QFETCH(QString, typed);
    QFETCH(QString, pasted);
    QFETCH(QString, result);
    FormFixture f;
    auto *e = static_cast<FilteredEdit *>(f.edit(f.at(box.toLatin1().constData(), 2)));
    ChannelTable t = startTable();
    t[2] = {placed, placed, placed, t[2].formula, placed, placed};
    f.form->setTable(t);
    QCOMPARE(e->text(), placed);
    e->setFocus();
    if (selected > 0)
        e->setSelection(cursor, selected);
    else
        e->setCursorPosition(cursor);
    if (typed == QLatin1String("\b"))
        QTest::keyClick(e, Qt::Key_Backspace);
    else
        QTest::keyClicks(e, typed);
    if (!pasted.isEmpty())
        e->insert(pasted);   // what a paste does
    QCOMPARE(e->text(), result);
}

void StartupTest::portLostIsToldOnce()
{
    FormFixture f;
    f.port.unplug(QStringLiteral("cable pulled"));
    f.port.unplug();   // already closed: nothing more
    QTRY_COMPARE(f.dialogs.texts(), QStringList{msg::PortLostWatched()});
    QCOMPARE(f.dialogs.shown.first().detail, QStringLiteral("cable pulled"));
    QCOMPARE(f.form->findChild<Lamp *>(QStringLiteral("GetValShape"))->fillColor(), QColor(255, 0, 0));
    // A request now is refused with a message, nothing written.
    f.button(QStringLiteral("OpenPowCommand"))->click();
    QCOMPARE(f.port.written.size(), 0);
    QCOMPARE(f.dialogs.texts().last(), msg::NotOpen());
    // Opening again works and a later loss is told again.
    f.button(QStringLiteral("OpenRs232Command"))->click();
    QVERIFY(f.port.isOpen());
    QCOMPARE(f.form->findChild<Lamp *>(QStringLiteral("GetValShape"))->fillColor(), QColor(255, 255, 0));
    f.port.unplug();
    QTRY_COMPARE(f.dialogs.texts().count(msg::PortLostWatched()), 2);
}

void StartupTest::showsInItsPlace()
{
    // The window is centred before it is shown: where it first appears is
    // where it stays.
    FormFixture f;
    struct ShowWatch : QObject
    {
        QList<QPoint> shownAt;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (e->type() == QEvent::Show)
                shownAt.append(static_cast<QWidget *>(o)->pos());
            return false;
        }
    } watch;
    f.form->installEventFilter(&watch);
    f.form->showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    const QRect screen = f.form->screen()->geometry();
    const QPoint centred(screen.x() + (screen.width() - f.form->width()) / 2,
                         screen.y() + (screen.height() - f.form->height()) / 2);
    QCOMPARE(watch.shownAt, QList<QPoint>{centred});
    QCOMPARE(f.form->pos(), centred);
}

void StartupTest::comboTextStaysAsTyped_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("typed");
    QTest::newRow("formula: start of a list item") << "KGFormulaCombo(4)" << QStringLiteral("范");
    QTest::newRow("formula: a whole item and more") << "KGFormulaCombo(0)" << QStringLiteral("大于x");
    QTest::newRow("port: start of a number in the list") << "RsCombo" << QStringLiteral("1");
}

void StartupTest::comboTextStaysAsTyped()
{
    // Typing into a combo box completes nothing from its list: the text is
    // what was typed (the formula is matched as a whole when it is used).
    QFETCH(QString, combo);
    QFETCH(QString, typed);
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QComboBox *c = f.combo(combo);
    c->setFocus();
    c->lineEdit()->selectAll();
    QTest::keyClick(c->lineEdit(), Qt::Key_Backspace);
    // Chinese characters come as key events that carry their text, as an
    // input method sends them.
    for (const QChar ch : typed) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(c->lineEdit(), ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, c->lineEdit(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    QCOMPARE(c->currentText(), typed);
    QVERIFY(!c->lineEdit()->hasSelectedText());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
