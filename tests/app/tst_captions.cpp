// Every caption of the main window fits its control, in English and in
// Chinese: the designed layout keeps its places and sizes, so a wording that
// does not fit has to be shortened. Measured offscreen with each control's
// own font against the room its style gives the text; in English, no caption
// or name is left in Chinese.

#include "support/fakeline.h"
#include "support/scripteddialogs.h"

#include "app/mainwindow.h"
#include "protocol/frame.h"
#include "session/language.h"
#include "session/recorder.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace vorn;

namespace {

// The window as the operator finds it at start, or deep in work: port open
// and lost again while reconnecting, raw values streaming, recording to a
// file with a long name, counts in the thousands.
enum class State { Start, Busy };

struct Shell
{
    QTemporaryDir dir;
    FakeLine port;
    DeviceSession session{FakeLine::ports(), &port};
    ScriptedDialogs dialogs;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<MainWindow> window;

    Shell()
    {
        settings = std::make_unique<QSettings>(dir.filePath("vornrt8.conf"), QSettings::IniFormat);
        port.addPort(1);
        window = std::make_unique<MainWindow>(&session, &dialogs, settings.get());
        window->load();
    }
    void click(const char *name) const
    {
        window->form()->findChild<QPushButton *>(QLatin1String(name))->click();
    }
    QLabel *status(const char *name) const { return window->findChild<QLabel *>(QLatin1String(name)); }
};

bool hasChinese(const QString &text)
{
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    return han.match(text).hasMatch();
}

int textWidth(const QWidget *w, const QString &text)
{
    return QFontMetrics(w->font()).size(Qt::TextShowMnemonic, text).width();
}

// The room each kind of control gives its caption, in pixels; -1 for a
// control without a caption to measure.
int room(const QWidget *w, const QString &text)
{
    const QStyle *style = w->style();
    if (const auto *b = qobject_cast<const QPushButton *>(w)) {
        // The label is drawn in the contents rectangle; the style's own size
        // for a button keeps the button margin free besides.
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = text;
        if (b->autoDefault())
            opt.features |= QStyleOptionButton::AutoDefaultButton;
        return style->subElementRect(QStyle::SE_PushButtonContents, &opt, b).width()
               - style->pixelMetric(QStyle::PM_ButtonMargin, &opt, b);
    }
    if (const auto *c = qobject_cast<const QCheckBox *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(c);
        opt.text = text;
        return style->subElementRect(QStyle::SE_CheckBoxContents, &opt, c).width();
    }
    if (const auto *l = qobject_cast<const QLabel *>(w)) {
        // QLabel draws within its contents rectangle less its margin.
        return l->contentsRect().width() - 2 * l->margin() - qMax(0, l->indent());
    }
    if (const auto *t = qobject_cast<const QToolButton *>(w)) {
        // Laid out by the status bar: the room is what the layout gave it,
        // against the width the style asks for this text.
        return t->width() - (t->sizeHint().width() - textWidth(t, text));
    }
    return -1;
}

// A group box's title stands within its frame.
int titleRoom(const QGroupBox *g)
{
    QStyleOptionGroupBox opt;
    opt.initFrom(g);
    opt.text = g->title();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    opt.textAlignment = g->alignment();
    const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
    const QRect frame = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxFrame, g);
    // The label rectangle starts where the title is drawn; the title may
    // run to the frame's right edge.
    return frame.right() - label.left() + 1;
}

QString caption(const QWidget *w)
{
    if (const auto *b = qobject_cast<const QAbstractButton *>(w))
        return b->text();
    if (const auto *l = qobject_cast<const QLabel *>(w))
        return l->text();
    if (const auto *g = qobject_cast<const QGroupBox *>(w))
        return g->title();
    return {};
}

}  // namespace

class CaptionsTest : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { installTranslations(QStringLiteral("zh")); }
    void captionsFit_data();
    void captionsFit();
};

void CaptionsTest::captionsFit_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<int>("state");
    for (const char *lang : {"en", "zh"}) {
        QTest::addRow("%s, at start", lang) << QString::fromLatin1(lang) << int(State::Start);
        QTest::addRow("%s, busy", lang) << QString::fromLatin1(lang) << int(State::Busy);
    }
}

void CaptionsTest::captionsFit()
{
    QFETCH(QString, lang);
    QFETCH(int, state);
    const Language want = lang == QLatin1String("en") ? Language::English : Language::Chinese;
    QCOMPARE(installTranslations(lang), want);

    Shell s;
    MainWindow *w = s.window.get();
    if (State(state) == State::Busy) {
        s.click("FindCommand");
        s.click("GetCommand(1)");
        for (int i = 0; i < 2000; ++i)
            s.click("SeTimeCommand");
        s.port.inject(buildReply(0x40, QByteArray(20, '\x01')));
        // A name longer than the status line has room for loses its middle;
        // the tooltip keeps it whole.
        s.dialogs.nextSave = s.dir.filePath("line A cabinet 3 raw values 2026-12-07 morning shift.csv");
        w->toggleRecording();
        QVERIFY(w->findChild<QToolButton *>(QStringLiteral("RecordButton"))->isChecked());
        QCOMPARE(s.status("RecordStatus")->toolTip(), s.dialogs.nextSave);
        s.port.unplug();
        QTRY_VERIFY(s.status("CountStatus")->text().contains(QLatin1String("2002")));
    }
    w->showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QVERIFY(w->windowTitle().startsWith(QLatin1String("VornRT8V1.0")));
    // The status bar takes the room it has beneath the form; it does not
    // make the window wider.
    QCOMPARE(w->width(), w->form()->width());

    QStringList clipped, chinese;
    int measured = 0;
    const auto widgets = w->findChildren<QWidget *>();
    for (const QWidget *c : widgets) {
        if (!c->isVisibleTo(w) || c->objectName() == QLatin1String("Label5"))
            continue;   // the channel numbers are no words
        if (want == Language::English && hasChinese(c->accessibleName()))
            chinese << QStringLiteral("%1 (name) \"%2\"").arg(c->objectName(), c->accessibleName());
        const QString text = caption(c);
        if (text.isEmpty())
            continue;
        const auto *g = qobject_cast<const QGroupBox *>(c);
        const int has = g ? titleRoom(g) : room(c, text);
        if (has < 0)
            continue;
        ++measured;
        const int needs = textWidth(c, text);
        if (needs > has)
            clipped << QStringLiteral("%1 \"%2\": needs %3 px, has %4").arg(c->objectName(), text).arg(needs).arg(has);
        if (want == Language::English && hasChinese(text))
            chinese << QStringLiteral("%1 \"%2\"").arg(c->objectName(), text);
    }
    // Buttons, labels, frames of the form and the status bar's entries.
    QVERIFY2(measured >= 70, qPrintable(QString::number(measured)));
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
    QVERIFY2(chinese.isEmpty(), qPrintable(chinese.join(QLatin1Char('\n'))));
}

QTEST_MAIN(CaptionsTest)
#include "tst_captions.moc"
