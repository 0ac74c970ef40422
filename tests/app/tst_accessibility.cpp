// What assistive technology reads: every focusable control of each window
// has a name of its own; and the table can be filled from the keyboard.

#include "support/fakeline.h"
#include "support/scripteddialogs.h"

#include "app/linemonitor.h"
#include "app/mainwindow.h"
#include "app/trendwindow.h"
#include "app/widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace vorn;

namespace {

// Focusable controls under an interface, by their accessible name.
void collect(QAccessibleInterface *iface, QMultiMap<QString, QString> *names, QStringList *unnamed)
{
    if (!iface)
        return;
    QObject *o = iface->object();
    auto *w = qobject_cast<QWidget *>(o);
    // What cannot be seen is not read; a control whose focus goes to a part
    // of it (an editable combo box to its edit box) is read as that part.
    if (iface->state().focusable && w && !iface->state().invisible && !w->focusProxy()) {
        const QString name = iface->text(QAccessible::Name).trimmed();
        if (name.isEmpty())
            unnamed->append(o->objectName() + QStringLiteral(" (") + QLatin1String(o->metaObject()->className())
                            + QStringLiteral(" in ") + (o->parent() ? o->parent()->objectName() : QString())
                            + QLatin1Char(')'));
        else
            names->insert(name, o->objectName());
    }
    for (int i = 0; i < iface->childCount(); ++i)
        collect(iface->child(i), names, unnamed);
}

struct Shell
{
    QTemporaryDir dir;
    FakeLine port;
    DeviceSession session{FakeLine::ports(), &port};
    ScriptedDialogs dialogs;
    QSettings settings{dir.filePath("vornrt8.conf"), QSettings::IniFormat};
    MainWindow window{&session, &dialogs, &settings};
    Shell()
    {
        port.addPort(1);
        window.load();
    }
};

}  // namespace

class AccessibilityTest : public QObject
{
    Q_OBJECT
private slots:
    void everyFocusableControlNamedOnce_data();
    void everyFocusableControlNamedOnce();
    void namesSayWhatEachIs();
    void tabWalksTheTable_data();
    void tabWalksTheTable();
};

void AccessibilityTest::everyFocusableControlNamedOnce_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main window") << "main";
    QTest::newRow("line monitor") << "monitor";
    QTest::newRow("trend") << "trend";
}

void AccessibilityTest::everyFocusableControlNamedOnce()
{
    QFETCH(QString, window);
    Shell s;
    QWidget *w = &s.window;
    if (window == QLatin1String("monitor"))
        w = s.window.monitor();
    else if (window == QLatin1String("trend"))
        w = s.window.trend();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QMultiMap<QString, QString> names;
    QStringList unnamed;
    collect(QAccessible::queryAccessibleInterface(w), &names, &unnamed);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    QStringList twice;
    for (const QString &n : names.uniqueKeys())
        if (names.count(n) > 1)
            twice.append(n + QStringLiteral(": ") + names.values(n).join(QLatin1Char('/')));
    QVERIFY2(twice.isEmpty(), qPrintable(twice.join(QStringLiteral("; "))));
    QVERIFY(names.size() >= (window == QLatin1String("main") ? 90 : 5));
}

void AccessibilityTest::namesSayWhatEachIs()
{
    Shell s;
    const auto nameOf = [&](const char *objectName) {
        QWidget *w = s.window.findChild<QWidget *>(QLatin1String(objectName));
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    };
    QCOMPARE(nameOf("LText(0)"), QStringLiteral("0# 下限"));
    // An editable combo box takes focus in its edit box, which carries the
    // name (on Linux a combo box's own name is its text).
    QCOMPARE(QAccessible::queryAccessibleInterface(
                 s.window.findChild<QComboBox *>("KGFormulaCombo(3)")->lineEdit())->text(QAccessible::Name),
             QStringLiteral("3# 报警启动"));
    QCOMPARE(nameOf("KGedText(9)"), QStringLiteral("9# 启动值2"));
    QCOMPARE(nameOf("LCommand(5)"), QStringLiteral("5# 智能设置 低"));
    QCOMPARE(nameOf("RsAddText(0)"), QStringLiteral("位置起点"));
    QCOMPARE(nameOf("LedIDText"), QStringLiteral("设备编号"));
    QCOMPARE(nameOf("SanLongText"), QStringLiteral("显示位数"));
    QCOMPARE(nameOf("RsCombo"), QStringLiteral("通讯端口"));
    QCOMPARE(nameOf("FindCommand"), QStringLiteral("测试连接"));
    // The lamp by its state.
    QCOMPARE(nameOf("GetValShape"), QStringLiteral("端口已打开"));
    s.port.unplug();
    QCOMPARE(nameOf("GetValShape"), QStringLiteral("端口未打开"));
}

void AccessibilityTest::tabWalksTheTable_data()
{
    QTest::addColumn<bool>("smartOn");
    QTest::newRow("smart setting off") << false;
    QTest::newRow("raw values on: the row's buttons too") << true;
}

void AccessibilityTest::tabWalksTheTable()
{
    QFETCH(bool, smartOn);
    Shell s;
    s.window.show();
    QVERIFY(QTest::qWaitForWindowActive(&s.window));
    if (smartOn)
        s.window.form()->findChild<QPushButton *>("GetCommand(1)")->click();
    QStringList row0{"LText(0)", "HText(0)", "DotText(0)", "KGFormulaCombo(0)", "KGstText(0)", "KGedText(0)"};
    if (smartOn)
        row0 << "LCommand(0)" << "HCommand(0)" << "OkCommand(0)";
    const QStringList expected = row0 + QStringList{"LText(1)", "HText(1)"};
    auto *first = s.window.findChild<QLineEdit *>("LText(0)");
    first->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), first);
    QStringList walked{first->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *f = QApplication::focusWidget();
        // An editable combo box takes focus through its edit box.
        if (f && qobject_cast<QComboBox *>(f->parentWidget()))
            f = f->parentWidget();
        walked.append(f ? f->objectName() : QStringLiteral("(none)"));
        // Entering a box by Tab selects its text: typing replaces it.
        if (auto *e = qobject_cast<QLineEdit *>(QApplication::focusWidget()))
            QCOMPARE(e->selectedText(), e->text());
    }
    QCOMPARE(walked, expected);
    // Shift+Tab walks back.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("LText(1)"));
    // Typing replaces the selected text.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("5"));
    const QString last = expected.at(expected.size() - 3);
    if (!smartOn)
        QCOMPARE(s.window.findChild<QLineEdit *>(last)->text(), QStringLiteral("5"));
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
