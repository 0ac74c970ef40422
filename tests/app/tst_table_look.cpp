// The channel table as it is drawn: each header word over its own column,
// and the ten feedback values whole inside their box, each on its row.
// Everything is measured on the rendered pixels, with the fonts the window
// picks on this system.

#include "formfixture.h"

#include "app/widgets.h"
#include "session/language.h"

#include <QLabel>
#include <QPainter>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>

using namespace vorn;

namespace {

// How much darker than `background` each pixel is, for pixels counted as ink.
int darkness(QRgb pixel, int background)
{
    return qMax(0, background - qGray(pixel));
}

constexpr int kInk = 64;   // darker than the background by this much: ink

// The ink of each pixel column of `img`, summed over its rows.
QList<int> columnInk(const QImage &img, int background)
{
    QList<int> ink(img.width(), 0);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ink[x] += darkness(img.pixel(x, y), background);
    return ink;
}

// Runs of pixel rows of `area` that hold ink: [first, last] pairs.
QList<std::pair<int, int>> inkRows(const QImage &img, const QRect &area, int background)
{
    QList<std::pair<int, int>> runs;
    int start = -1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        bool ink = false;
        for (int x = area.left(); x <= area.right() && !ink; ++x)
            ink = darkness(img.pixel(x, y), background) > kInk;
        if (ink && start < 0)
            start = y;
        if (!ink && start >= 0) {
            runs.append({start, y - 1});
            start = -1;
        }
    }
    if (start >= 0)
        runs.append({start, area.bottom()});
    return runs;
}

// How many pixel rows the ink of `text` spans, drawn alone in `font`.
int inkHeight(const QFont &font, const QString &text)
{
    const QFontMetrics fm(font);
    QImage alone(fm.horizontalAdvance(text) + 8, 3 * fm.height(), QImage::Format_ARGB32);
    alone.fill(Qt::white);
    {
        QPainter p(&alone);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(4, 2 * fm.height(), text);
    }
    const QList<std::pair<int, int>> rows = inkRows(alone, alone.rect(), 255);
    return rows.isEmpty() ? 0 : rows.last().second - rows.first().first + 1;
}

// Where `word` is drawn in `label`: the pixel columns (label coordinates) of
// the best match of the word's ink, drawn alone in the label's font, with
// how far the best match is off (0 = the same ink, 1 = none of it).
struct Found
{
    int first = 0, last = -1;
    double mismatch = 1;
};

Found findWord(const QLabel *label, const QImage &drawn, const QString &word)
{
    const int background = qGray(label->palette().color(label->backgroundRole()).rgb());
    const QFontMetrics fm(label->font());
    QImage alone(fm.horizontalAdvance(word) + 8, drawn.height(), QImage::Format_ARGB32);
    alone.fill(label->palette().color(label->backgroundRole()));
    {
        QPainter p(&alone);
        p.setFont(label->font());
        p.setPen(label->palette().color(label->foregroundRole()));
        p.drawText(alone.rect().adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, word);
    }
    QList<int> pattern = columnInk(alone, background);
    while (!pattern.isEmpty() && pattern.first() == 0)
        pattern.removeFirst();
    while (!pattern.isEmpty() && pattern.last() == 0)
        pattern.removeLast();
    const QList<int> header = columnInk(drawn, background);
    double total = 0;
    for (int v : pattern)
        total += v;
    Found best;
    for (int x = 0; x + pattern.size() <= header.size(); ++x) {
        double off = 0;
        for (int k = 0; k < pattern.size(); ++k)
            off += qAbs(header[x + k] - pattern[k]);
        if (total > 0 && off / total < best.mismatch)
            best = {x, x + int(pattern.size()) - 1, off / total};
    }
    return best;
}

}  // namespace

class TableLookTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void headerWordsOverTheirColumns_data();
    void headerWordsOverTheirColumns();
    void feedbackLinesOnTheirRows_data();
    void feedbackLinesOnTheirRows();
    void feedbackBoxDoesNotScroll_data();
    void feedbackBoxDoesNotScroll();
    void lampOverItsKeptBackground_data();
    void lampOverItsKeptBackground();

private:
    std::unique_ptr<FormFixture> f;
};

void TableLookTest::init()
{
    f = std::make_unique<FormFixture>();
    f->form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f->form.get()));
}

void TableLookTest::cleanup()
{
    f.reset();
}

void TableLookTest::headerWordsOverTheirColumns_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("first");   // the column's leftmost control in row 0
    QTest::addColumn<QString>("last");    // and its rightmost
    const QStringList columns[9] = {{"Label5", "Label5"}, {"RsValText", "RsValText"}, {"LText(0)", "LText(0)"},
                                    {"HText(0)", "HText(0)"}, {"DotText(0)", "DotText(0)"},
                                    {"KGFormulaCombo(0)", "KGFormulaCombo(0)"}, {"KGstText(0)", "KGstText(0)"},
                                    {"KGedText(0)", "KGedText(0)"}, {"LCommand(0)", "OkCommand(0)"}};
    const QStringList zh{"通道", "反馈值", "下限", "上限", "小数位", "报警启动", "启动值1", "启动值2", "智能设置"};
    // The English headings keep their words together with no-break spaces.
    const QString nb(QChar(0x00A0));
    const QStringList en{"Ch.", "Value", "Lower", "Upper", "Dec." + nb + "pl.", "Alarm", "Start" + nb + "1",
                         "Start" + nb + "2", "Smart" + nb + "setting"};
    for (int i = 0; i < 9; ++i) {
        QTest::addRow("zh %s", qPrintable(zh[i])) << "zh" << zh[i] << columns[i][0] << columns[i][1];
        QTest::addRow("en %s", qPrintable(QString(en[i]).replace(nb, " "))) << "en" << en[i] << columns[i][0]
                                                                             << columns[i][1];
    }
}

void TableLookTest::headerWordsOverTheirColumns()
{
    QFETCH(QString, lang);
    QFETCH(QString, word);
    QFETCH(QString, first);
    QFETCH(QString, last);
    if (lang == QLatin1String("en")) {
        QCOMPARE(installTranslations(QStringLiteral("en")), Language::English);
        f = std::make_unique<FormFixture>();
        f->form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f->form.get()));
    }
    const auto back = qScopeGuard([] { installTranslations(QStringLiteral("zh")); });
    auto *header = f->get<QLabel>(QStringLiteral("Label2"));
    if (lang == QLatin1String("zh"))
        QCOMPARE(header->text(),
                 QStringLiteral("通道   反馈值     下限    上限   小数位  报警启动  启动值1 启动值2    智能设置"));
    const QImage drawn = header->grab().toImage();
    const Found at = findWord(header, drawn, word);
    QVERIFY2(at.mismatch < 0.2, qPrintable(QStringLiteral("%1 not drawn whole (mismatch %2)").arg(word).arg(at.mismatch)));

    // Both in the coordinates of the table frame.
    const int inkLeft = header->x() + at.first, inkRight = header->x() + at.last;
    const QWidget *l = f->get(first), *r = f->get(last);
    QCOMPARE(l->parentWidget(), header->parentWidget());
    const int columnLeft = l->x(), columnRight = r->x() + r->width() - 1;
    QVERIFY2(inkLeft >= columnLeft && inkRight <= columnRight,
             qPrintable(QStringLiteral("%1 drawn at %2..%3, its column is %4..%5")
                            .arg(word).arg(inkLeft).arg(inkRight).arg(columnLeft).arg(columnRight)));
}

void TableLookTest::feedbackLinesOnTheirRows_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("end");      // what ends each line
    QTest::addColumn<QString>("before");   // what the box showed before
    const QStringList raw{"12345", "0", "65535", "7", "30000", "1000", "999", "20000", "4", "32767"};
    const QString earlierRaw = QStringLiteral("1\r\n22\r\n333\r\n4444\r\n55555\r\n6\r\n7\r\n8\r\n9\r\n0\r\n");
    QTest::newRow("target values") << QStringList{"88.4", "94.5", "94.7", "84.5", "64.6", "39.9", "17.8", "5.3", "6.9", "22.5"}
                                   << "\r\n" << QString();
    QTest::newRow("raw values") << raw << "\r\n" << QString();
    QTest::newRow("negative values") << QStringList{"-1", "-20.5", "-3", "-400", "-5", "-6", "-7", "-8", "-9999", "-10"}
                                     << "\r\n" << QString();
    QTest::newRow("lone LF") << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"} << "\n" << QString();
    // While values stream only the lines that differ are replaced.
    QTest::newRow("raw after raw") << raw << "\r\n" << earlierRaw;
    QTest::newRow("the same again") << raw << "\r\n" << raw.join(QLatin1String("\r\n")) + QLatin1String("\r\n");
    QTest::newRow("ten after three") << raw << "\r\n" << QStringLiteral("1\r\n2\r\n3\r\n");
    QTest::newRow("ten after fourteen") << raw << "\r\n" << earlierRaw + QStringLiteral("1\r\n2\r\n3\r\n4\r\n");
    QTest::newRow("empty lines after raw") << QStringList{"5", "", "", "", "", "", "", "", "", "6"} << "\r\n"
                                           << earlierRaw;
}

void TableLookTest::feedbackLinesOnTheirRows()
{
    QFETCH(QStringList, values);
    QFETCH(QString, end);
    QFETCH(QString, before);
    auto *box = f->get<FeedbackBox>(QStringLiteral("RsValText"));
    auto *labels = f->get<QLabel>(QStringLiteral("Label5"));
    if (!before.isEmpty())
        box->setText(before);
    const QString text = values.join(end) + end;
    box->setText(text);
    QCOMPARE(box->text(), text);
    QCOMPARE(box->toPlainText(), values.join(QLatin1Char('\n')));

    // The channel labels' ink, row by row, in the table frame's coordinates.
    const QImage labelImage = labels->grab().toImage();
    const QList<std::pair<int, int>> labelRows =
        inkRows(labelImage, labelImage.rect(), qGray(labels->palette().color(labels->backgroundRole()).rgb()));
    QCOMPARE(labelRows.size(), 10);

    // The values' ink inside the viewport: one run per value, each as tall
    // as the value's own ink (a line cut at an edge would be shorter).
    const QRect viewport = box->viewport()->geometry();
    const QImage boxImage = box->grab().toImage();
    const QList<std::pair<int, int>> lines =
        inkRows(boxImage, viewport, qGray(box->viewport()->palette().color(QPalette::Base).rgb()));
    QList<int> shown;
    for (int n = 0; n < 10; ++n)
        if (!values.at(n).isEmpty())
            shown.append(n);
    QCOMPARE(lines.size(), shown.size());
    for (int k = 0; k < shown.size(); ++k) {
        const int n = shown.at(k);
        const auto [top, bottom] = lines.at(k);
        QVERIFY2(bottom - top + 1 == inkHeight(box->font(), values.at(n)),
                 qPrintable(QStringLiteral("line %1 at %2..%3, not whole in the viewport %4..%5")
                                .arg(n).arg(top).arg(bottom).arg(viewport.top()).arg(viewport.bottom())));
        // Level with its row: on the baseline of the row's channel label
        // (digits and "#" both end on it).
        const int valueBottom = box->y() + bottom, labelBottom = labels->y() + labelRows.at(n).second;
        QVERIFY2(qAbs(valueBottom - labelBottom) <= 1,
                 qPrintable(QStringLiteral("line %1 ends at %2, its label at %3").arg(n).arg(valueBottom).arg(labelBottom)));
    }
}

void TableLookTest::feedbackBoxDoesNotScroll_data()
{
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<bool>("scrolls");
    QTest::newRow("one per row") << 10 << false;
    QTest::newRow("fewer than rows") << 3 << false;
    QTest::newRow("more than rows") << 14 << true;
}

void TableLookTest::feedbackBoxDoesNotScroll()
{
    QFETCH(int, lineCount);
    QFETCH(bool, scrolls);
    auto *box = f->get<FeedbackBox>(QStringLiteral("RsValText"));
    QString text;
    for (int n = 0; n < lineCount; ++n)
        text += QString::number(1000 + n) + QLatin1String("\r\n");
    box->setText(text);
    QScrollBar *bar = box->verticalScrollBar();
    const QPointF at = box->viewport()->rect().center();
    QWheelEvent wheel(at, box->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(box->viewport(), &wheel);
    QCOMPARE(bar->value() > 0, scrolls);
    QCOMPARE(bar->maximum() > 0, scrolls);
}

void TableLookTest::lampOverItsKeptBackground_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::newRow("red: port open") << QColor(255, 0, 0);
    QTest::newRow("green: data") << QColor(0, 255, 0);
    QTest::newRow("yellow: connected again") << QColor(255, 255, 0);
    QTest::newRow("black: closed") << QColor(0, 0, 0);
}

// The lamp painted over the picture it keeps of the frames behind it looks
// exactly as the lamp painted over the frames themselves, on the window's
// own surface.
void TableLookTest::lampOverItsKeptBackground()
{
    QFETCH(QColor, colour);
    auto *lamp = f->get<Lamp>(QStringLiteral("GetValShape"));
    struct Paints : QObject
    {
        int count = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            count += e->type() == QEvent::Paint;
            return false;
        }
    } paints;
    lamp->installEventFilter(&paints);
    QWidget *window = lamp->window();
    const QRect around(lamp->mapTo(window, QPoint(-4, -4)), lamp->size() + QSize(8, 8));
    const auto shown = [&](const QColor &c) {
        const int before = paints.count;
        lamp->setFillColor(c);
        if (!QTest::qWaitFor([&] { return paints.count > before; }, 5000))
            return QImage();
        QCoreApplication::processEvents();
        return window->screen()->grabWindow(window->winId(), around.x(), around.y(), around.width(), around.height())
            .toImage();
    };

    lamp->setKeepsBackground(false);
    const QImage throughFrames = shown(colour);
    QVERIFY(!throughFrames.isNull());
    QVERIFY(!lamp->testAttribute(Qt::WA_OpaquePaintEvent));

    lamp->setKeepsBackground(true);
    shown(colour == Qt::blue ? Qt::white : Qt::blue);   // takes the picture
    QVERIFY(lamp->testAttribute(Qt::WA_OpaquePaintEvent));
    const QImage overPicture = shown(colour);
    QVERIFY(!overPicture.isNull());
    QCOMPARE(overPicture, throughFrames);

    // Moved, it takes a new picture at its new place.
    lamp->move(lamp->pos() + QPoint(1, 0));
    QVERIFY(!lamp->testAttribute(Qt::WA_OpaquePaintEvent));
}

QTEST_MAIN(TableLookTest)
#include "tst_table_look.moc"
