#include "app/widgets.h"

#include <cmath>

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>

namespace vorn {

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int d = qMin(width(), height()) - 2;
    const QRect r((width() - d) / 2, (height() - d) / 2, d, d);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(m_color);
    p.drawEllipse(r);
}

// The buttons of the rows stand at these tops (twips, 15 to a pixel).
static constexpr int kRowTopsTwips[10] = {600, 972, 1344, 1716, 2088, 2460, 2832, 3204, 3576, 3945};

int rowTopPx(int row)
{
    return (kRowTopsTwips[qBound(0, row, 9)] + 7) / 15;
}

int rowPitchPx()
{
    return (372 + 7) / 15;
}

namespace {

// The pixel row of row n's channel label's baseline (RowLabel centres the
// label in the row's cell), relative to the table frame.
int rowBaselinePx(int row, const QFontMetricsF &fm)
{
    return rowTopPx(row) + qRound((rowPitchPx() - (fm.ascent() + fm.descent())) / 2 + fm.ascent());
}

// The smallest distance between two row tops: the feedback lines are this
// tall, and top margins make up the rest of each row.
int smallestPitchPx()
{
    int pitch = rowPitchPx();
    for (int row = 1; row < 10; ++row)
        pitch = qMin(pitch, rowTopPx(row) - rowTopPx(row - 1));
    return pitch;
}

}  // namespace

void HeaderLabel::setColumns(const QList<std::pair<int, int>> &columns)
{
    m_columns = columns;
    update();
}

void HeaderLabel::paintEvent(QPaintEvent *event)
{
    const QStringList words = text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() != m_columns.size()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    drawFrame(&p);
    const QRect area = contentsRect();
    const QFontMetrics fm = fontMetrics();
    for (int i = 0; i < words.size(); ++i) {
        // Centred over the column; a word wider than its column starts at
        // the column's left edge rather than spilling over both neighbours.
        const int left = m_columns.at(i).first - x();
        const int width = m_columns.at(i).second - m_columns.at(i).first;
        const int advance = fm.horizontalAdvance(words.at(i));
        const QRect cell(left + qMax(0, (width - advance) / 2), area.top(), advance, area.height());
        style()->drawItemText(&p, cell, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                              words.at(i), foregroundRole());
    }
}

void RowLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    const QStringList labels = text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int top = rowTopPx(0);
    for (int i = 0; i < labels.size(); ++i) {
        const QRect cell(0, rowTopPx(i) - top, width(), rowPitchPx());
        p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, labels.at(i));
    }
}

FeedbackBox::FeedbackBox(QWidget *parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setAcceptRichText(false);
    setLineWrapMode(QTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document()->setDocumentMargin(0);
    setContentsMargins(0, 0, 0, 0);
    setViewportMargins(2, 2, 2, 0);
    // The lines stand at their rows; the last one's line box reaches a few
    // pixels past the bottom, which must not make the box scrollable (a turn
    // of the wheel would lift every value off its row). More lines than rows
    // may still be scrolled to.
    QScrollBar *bar = verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (max != 0 && document()->blockCount() <= 10)
            bar->setMaximum(0);
    });
}

void FeedbackBox::setText(const QString &text)
{
    m_text = text;
    // One line per row; CR LF and lone CR or LF all end a line.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    setPlainText(shown);
    placeLines();
}

void FeedbackBox::changeEvent(QEvent *event)
{
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        placeLines();
}

void FeedbackBox::moveEvent(QMoveEvent *event)
{
    QTextEdit::moveEvent(event);
    placeLines();
}

void FeedbackBox::resizeEvent(QResizeEvent *event)
{
    QTextEdit::resizeEvent(event);
    placeLines();
}

void FeedbackBox::placeLines()
{
    QTextDocument *doc = document();
    if (doc->isEmpty())
        return;
    // Looks only: one textChanged per text, not two.
    const QSignalBlocker quiet(this);
    const int lineHeight = smallestPitchPx();
    const QFont font = doc->defaultFont();
    if (m_baselineInLine < 0 || font != m_measuredFont) {
        // Where the document draws the baseline in a line of fixed height.
        QTextDocument probe;
        probe.setDefaultFont(font);
        probe.setDocumentMargin(0);
        probe.setPlainText(QStringLiteral("0"));
        QTextBlockFormat f;
        f.setLineHeight(lineHeight, QTextBlockFormat::FixedHeight);
        QTextCursor(&probe).setBlockFormat(f);
        probe.documentLayout()->documentSize();
        const QTextLayout *layout = probe.firstBlock().layout();
        const QTextLine line = layout->lineAt(0);
        m_baselineInLine = qRound(line.y() + line.ascent());
        m_measuredFont = font;
    }

    // Line n stands on row n's baseline (in the viewport's coordinates), but
    // no lower than the digits can go without being cut. Whole pixels
    // throughout, so that no line is rounded off its row.
    const QFontMetricsF fm(font);
    const int viewportTop = y() + frameWidth() + viewportMargins().top();
    const int viewportHeight = height() - 2 * frameWidth() - viewportMargins().top() - viewportMargins().bottom();
    const int inkBelow = qMax(0, int(std::ceil(fm.tightBoundingRect(QStringLiteral("0123456789-.")).bottom())));
    const int lowest = viewportHeight - inkBelow;
    auto baseline = [&](int row) { return qMin(rowBaselinePx(row, fm) - viewportTop, lowest); };

    QTextCursor c(doc);
    c.beginEditBlock();
    // The first line is placed by the document's top margin (a first block's
    // own top margin is not laid out), the others by their blocks' margins.
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    frame.setTopMargin(qMax(0, baseline(0) - m_baselineInLine));
    doc->rootFrame()->setFrameFormat(frame);
    int lineTop = int(frame.topMargin());
    int n = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next(), ++n) {
        const int margin = n == 0 || n >= 10 ? 0 : qMax(0, baseline(n) - m_baselineInLine - lineTop);
        QTextBlockFormat f;
        f.setLineHeight(lineHeight, QTextBlockFormat::FixedHeight);
        f.setTopMargin(margin);
        f.setBottomMargin(0);
        c.setPosition(block.position());
        c.mergeBlockFormat(f);
        lineTop += margin + lineHeight;
    }
    c.endEditBlock();
}

KeyFilter::KeyFilter(QLineEdit *edit, QString allowed, int maxChars)
    : QValidator(edit), m_edit(edit), m_allowed(std::move(allowed)), m_max(maxChars)
{
    m_last = edit->text();
    connect(edit, &QLineEdit::textChanged, this, [this](const QString &t) { m_last = t; });
}

QValidator::State KeyFilter::validate(QString &input, int &pos) const
{
    // Drop what the column does not accept, keeping the cursor in place.
    QString kept;
    kept.reserve(input.size());
    int newPos = pos;
    for (int i = 0; i < input.size(); ++i) {
        if (accepts(m_allowed, input.at(i)))
            kept += input.at(i);
        else if (i < pos)
            --newPos;
    }
    // Typing or pasting may not make the text longer than the box allows;
    // a longer text already in place (from the device) may still be edited
    // shorter. Cut the inserted characters, which end at the cursor.
    const int limit = qMax(m_max, int(m_last.size()));
    if (kept.size() > limit) {
        const int excess = int(kept.size()) - limit;
        const int from = qMax(0, newPos - excess);
        kept.remove(from, newPos - from);
        newPos = from;
        if (kept.size() > limit)
            return Invalid;
    }
    input = kept;
    pos = qBound(0, newPos, int(kept.size()));
    return Acceptable;
}

FilteredEdit::FilteredEdit(const QString &allowed, int maxChars, QWidget *parent)
    : QLineEdit(parent), m_filter(new KeyFilter(this, allowed, maxChars)), m_max(maxChars)
{
    setValidator(m_filter);
}

void FilteredEdit::setText(const QString &text)
{
    // A validator also sees texts set by the program; this one must not.
    setValidator(nullptr);
    QLineEdit::setText(text);
    setValidator(m_filter);
}

}  // namespace vorn
