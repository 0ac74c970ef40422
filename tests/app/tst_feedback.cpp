// The feedback column under a long stream: what it holds stays ten lines and
// nothing more however many updates came, and what the operator selected and
// copies is one whole set of values as shown.

#include "support/driving.h"
#include "support/tables.h"
#include "formfixture.h"

#include "app/widgets.h"
#include "protocol/frame.h"

#include <QApplication>
#include <QClipboard>
#include <QTextBlock>
#include <QTextDocument>

using namespace vorn;

namespace {

// Ten values for update k, of varying widths.
std::array<int, kChannels> valuesOf(int k)
{
    std::array<int, kChannels> v{};
    for (int i = 0; i < kChannels; ++i)
        v[size_t(i)] = int((quint32(k) * 2654435761u + quint32(i) * 40503u) % (k % 3 == 0 ? 65536u : 100u));
    return v;
}

QString rawText(const std::array<int, kChannels> &v)
{
    QString t;
    for (int x : v)
        t += QString::number(x) + QLatin1String("\r\n");
    return t;
}

// What the box's document holds, as far as it can be seen from outside.
struct Held
{
    bool undo = false, redo = false;
    int undoSteps = 0, redoSteps = 0, blocks = 0, characters = 0, lines = 0, formats = 0, objects = 0;
    QSizeF size;

    static Held of(const FeedbackBox &box)
    {
        const QTextDocument *d = box.document();
        return {d->isUndoAvailable(), d->isRedoAvailable(), d->availableUndoSteps(), d->availableRedoSteps(),
                d->blockCount(), d->characterCount(), d->lineCount(), int(d->allFormats().size()),
                int(d->findChildren<QObject *>().size()), d->size()};
    }
    bool operator==(const Held &) const = default;
    QString text() const
    {
        return QStringLiteral("undo %1/%2 steps, redo %3/%4 steps, %5 blocks, %6 characters, %7 lines, "
                              "%8 formats, %9 objects, size %10x%11")
            .arg(undo).arg(undoSteps).arg(redo).arg(redoSteps).arg(blocks).arg(characters).arg(lines)
            .arg(formats).arg(objects).arg(size.width()).arg(size.height());
    }
};

}  // namespace

class FeedbackTest : public QObject
{
    Q_OBJECT
private slots:
    void holdsOnlyWhatItShows_data();
    void holdsOnlyWhatItShows();
    void copyWhileValuesStream_data();
    void copyWhileValuesStream();
};

void FeedbackTest::holdsOnlyWhatItShows_data()
{
    QTest::addColumn<bool>("records");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<int>("updates");
    // Raw values: ten lines each time, only the texts change.
    QTest::newRow("raw values") << false << false << 100000;
    // Records of ten fields and of three in turn: the lines are laid anew.
    QTest::newRow("records of changing length") << true << false << 30000;
    QTest::newRow("raw values, everything selected") << false << true << 30000;
}

void FeedbackTest::holdsOnlyWhatItShows()
{
    QFETCH(bool, records);
    QFETCH(bool, selected);
    QFETCH(int, updates);
    FormFixture f;
    auto *box = f.get<FeedbackBox>(QStringLiteral("RsValText"));
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    const auto textOf = [records](int k) {
        if (records && k % 2)
            return QStringLiteral("1.5\r\n-2\r\n%1").arg(k % 1000);
        return rawText(valuesOf(k));
    };
    const QString first = textOf(0);
    box->setText(first);
    if (selected)
        box->selectAll();
    const Held before = Held::of(*box);
    for (int k = 1; k <= updates; ++k) {
        box->setText(textOf(k));
        if (k % 5000 == 0)
            QCoreApplication::processEvents();   // lays out and paints now and then, as the window would
    }
    box->setText(first);
    QCOMPARE(box->text(), first);
    const Held after = Held::of(*box);
    QVERIFY2(after == before, qPrintable(QStringLiteral("after one update: %1\nafter %2 more: %3")
                                             .arg(before.text()).arg(updates).arg(after.text())));
    QCOMPARE(box->textCursor().hasSelection(), selected);
}

void FeedbackTest::copyWhileValuesStream_data()
{
    QTest::addColumn<bool>("records");
    QTest::addColumn<int>("firstLine");   // -1: select all (Ctrl+A)
    QTest::addColumn<int>("lastLine");
    QTest::newRow("raw values, all") << false << -1 << 9;
    QTest::newRow("raw values, lines 2 to 4") << false << 2 << 4;
    QTest::newRow("records, all") << true << -1 << 9;
}

void FeedbackTest::copyWhileValuesStream()
{
    QFETCH(bool, records);
    QFETCH(int, firstLine);
    QFETCH(int, lastLine);
    FormFixture f;
    auto *box = f.get<FeedbackBox>(QStringLiteral("RsValText"));
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    f.button(records ? QStringLiteral("GetCommand(0)") : QStringLiteral("GetCommand(1)"))->click();
    QStringList shown;
    const auto update = [&](int k) {
        const std::array<int, kChannels> v = valuesOf(k);
        shown.clear();
        for (int x : v)
            shown.append(QString::number(x));
        if (records) {
            f.port.inject("N" + shown.join(QLatin1Char(',')).toLatin1() + "\r\n");
            QVERIFY(pollerTook(f.session));
        } else {
            f.port.inject(rawValuesReply(v));
        }
        QCOMPARE(box->toPlainText(), shown.join(QLatin1Char('\n')));
    };
    update(1);
    if (firstLine < 0) {
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    } else {
        QTextCursor c(box->document()->findBlockByNumber(firstLine));
        const QTextBlock last = box->document()->findBlockByNumber(lastLine);
        c.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
        box->setTextCursor(c);
    }
    QVERIFY(box->textCursor().hasSelection());
    // Values of other widths than the first: every update shifts the text.
    for (int k : {3, 4, 6, 5})
        update(k);
    QApplication::clipboard()->clear();
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    const QStringList expected = shown.mid(qMax(0, firstLine), lastLine - qMax(0, firstLine) + 1);
    QCOMPARE(QApplication::clipboard()->text(), expected.join(QLatin1Char('\n')));
}

QTEST_MAIN(FeedbackTest)
#include "tst_feedback.moc"
