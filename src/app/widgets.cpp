#include "app/widgets.h"

#include <QAccessibleWidget>
#include <QCompleter>
#include <cmath>

#include <QAbstractTextDocumentLayout>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QToolButton>

namespace vorn {

void Lamp::setFillColor(const QColor &c)
{
    m_color = c;
    if (m_keepBackground && m_background.isNull() && isVisible())
        takeBackground();
    update();
}

void Lamp::setKeepsBackground(bool keep)
{
    m_keepBackground = keep;
    forgetBackground();
    update();
}

void Lamp::forgetBackground()
{
    m_background = QPixmap();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Lamp::takeBackground()
{
    // From the window down to the lamp's parent, each draws itself beneath
    // the lamp without its children, as it does when the lamp is repainted
    // through them; the window draws its background first. Nothing else
    // stands beneath the lamp. Without an alpha channel, the picture is
    // blended exactly as the window's own surface is.
    QList<QWidget *> chain;
    for (QWidget *w = parentWidget(); w; w = w->isWindow() ? nullptr : w->parentWidget())
        chain.prepend(w);
    if (chain.isEmpty())
        return;
    const qreal ratio = devicePixelRatioF();
    QPixmap picture(size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(palette().color(QPalette::Window));
    for (QWidget *w : chain) {
        const QRect beneath(mapTo(w, QPoint(0, 0)), size());
        w->render(&picture, QPoint(), QRegion(beneath),
                  w->isWindow() ? QWidget::DrawWindowBackground : QWidget::RenderFlags());
    }
    m_background = picture;
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void Lamp::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::ActivationChange:
    case QEvent::EnabledChange:
    case QEvent::ParentChange:
        forgetBackground();
        break;
    default:
        break;
    }
}

void Lamp::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    forgetBackground();
}

void Lamp::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    forgetBackground();
}

void Lamp::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    forgetBackground();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (!m_background.isNull())
        p.drawPixmap(0, 0, m_background);
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
    // The box only ever shows the latest values: nothing is kept to undo
    // (an undo history would keep every update of a stream for ever).
    setUndoRedoEnabled(false);
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
    measure();
    const QStringList lines = shown.split(QLatin1Char('\n'));
    QTextDocument *doc = document();
    // What the operator has selected stays on the same lines while the
    // values under it change, so that a copy gives what is shown.
    const QTextCursor selection = textCursor();
    if (selection.hasSelection()) {
        const LinePlace anchor = linePlace(selection.anchor(), selection.anchor() > selection.position());
        const LinePlace position = linePlace(selection.position(), selection.position() > selection.anchor());
        replaceLines(lines);
        QTextCursor kept(doc);
        kept.setPosition(documentPosition(anchor));
        kept.setPosition(documentPosition(position), QTextCursor::KeepAnchor);
        setTextCursor(kept);
        return;
    }
    replaceLines(lines);
}

FeedbackBox::LinePlace FeedbackBox::linePlace(int position, bool endsSelection) const
{
    const QTextBlock block = document()->findBlock(position);
    const int column = position - block.position();
    // A selection that ends at the end of a line keeps the whole line,
    // however long its new text.
    return {block.blockNumber(), endsSelection && column == block.length() - 1 ? -1 : column};
}

int FeedbackBox::documentPosition(const LinePlace &place) const
{
    const QTextDocument *doc = document();
    if (place.line >= doc->blockCount()) {
        const QTextBlock last = doc->lastBlock();
        return last.position() + last.length() - 1;
    }
    const QTextBlock block = doc->findBlockByNumber(place.line);
    const int length = block.length() - 1;
    return block.position() + (place.column < 0 ? length : qMin(place.column, length));
}

void FeedbackBox::replaceLines(const QStringList &lines)
{
    QTextDocument *doc = document();
    QTextCursor c(doc);
    if (doc->blockCount() == lines.size() && m_docFrameTop == m_frameTop && m_docMargins == m_margins) {
        // The same lines at the same places, as while values stream: only
        // the texts that differ are replaced, in one edit, so that only
        // their lines are laid out again.
        c.beginEditBlock();
        qsizetype n = 0;
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next(), ++n) {
            if (block.text() == lines.at(n))
                continue;
            c.setPosition(block.position());
            c.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
            c.insertText(lines.at(n), QTextCharFormat());
        }
        c.endEditBlock();
        return;
    }
    // Lines and their places in one edit: the document is laid out once and
    // tells of one change.
    c.beginEditBlock();
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    if (frame.topMargin() != m_frameTop) {
        frame.setTopMargin(m_frameTop);
        doc->rootFrame()->setFrameFormat(frame);
    }
    c.select(QTextCursor::Document);
    c.removeSelectedText();
    c.setBlockFormat(lineFormat(0));
    c.setCharFormat(QTextCharFormat());
    for (qsizetype n = 0; n < lines.size(); ++n) {
        if (n > 0)
            c.insertBlock(lineFormat(int(n)), QTextCharFormat());
        c.insertText(lines.at(n));
    }
    c.endEditBlock();
    m_docFrameTop = m_frameTop;
    m_docMargins = m_margins;
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

QTextBlockFormat FeedbackBox::lineFormat(int n) const
{
    QTextBlockFormat f;
    f.setLineHeight(m_lineHeight, QTextBlockFormat::FixedHeight);
    f.setTopMargin(n > 0 && n < 10 ? m_margins[size_t(n)] : 0);
    f.setBottomMargin(0);
    return f;
}

void FeedbackBox::measure()
{
    const QFont font = document()->defaultFont();
    if (m_placed && geometry() == m_placedForGeometry && font == m_placedForFont)
        return;
    m_lineHeight = smallestPitchPx();
    if (m_baselineInLine < 0 || font != m_measuredFont) {
        // Where the document draws the baseline in a line of fixed height.
        QTextDocument probe;
        probe.setDefaultFont(font);
        probe.setDocumentMargin(0);
        probe.setPlainText(QStringLiteral("0"));
        QTextBlockFormat f;
        f.setLineHeight(m_lineHeight, QTextBlockFormat::FixedHeight);
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
    // The first line is placed by the document's top margin (a first block's
    // own top margin is not laid out), the others by their blocks' margins.
    m_frameTop = qMax(0, baseline(0) - m_baselineInLine);
    int lineTop = m_frameTop + m_lineHeight;   // below the first line
    m_margins[0] = 0;
    for (int n = 1; n < 10; ++n) {
        m_margins[size_t(n)] = qMax(0, baseline(n) - m_baselineInLine - lineTop);
        lineTop += m_margins[size_t(n)] + m_lineHeight;
    }
    m_placedForGeometry = geometry();
    m_placedForFont = font;
    m_placed = true;
}


void FeedbackBox::placeLines()
{
    QTextDocument *doc = document();
    if (doc->isEmpty())
        return;
    measure();
    // Looks only: one textChanged per text, not two.
    const QSignalBlocker quiet(this);
    QTextCursor c(doc);
    c.beginEditBlock();
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    frame.setTopMargin(m_frameTop);
    doc->rootFrame()->setFrameFormat(frame);
    int n = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next(), ++n) {
        c.setPosition(block.position());
        c.mergeBlockFormat(lineFormat(n));
    }
    c.endEditBlock();
    m_docFrameTop = m_frameTop;
    m_docMargins = m_margins;
}

KeyFilter::KeyFilter(QLineEdit *edit, QString allowed, int maxChars)
    : QValidator(edit), m_edit(edit), m_allowed(std::move(allowed)), m_max(maxChars)
{
    // The box's text, cursor and selection as they stand between edits; the
    // line edit validates an edit before it tells of any of them.
    const auto note = [this] {
        m_last = m_edit->text();
        m_cursor = m_edit->cursorPosition();
        m_selStart = m_edit->hasSelectedText() ? m_edit->selectionStart() : -1;
        m_selLength = m_edit->hasSelectedText() ? int(m_edit->selectedText().size()) : 0;
    };
    note();
    connect(edit, &QLineEdit::textChanged, this, note);
    connect(edit, &QLineEdit::cursorPositionChanged, this, note);
    connect(edit, &QLineEdit::selectionChanged, this, note);
}

QValidator::State KeyFilter::validate(QString &input, int &pos) const
{
    // Judge only what the edit brought in: the characters typed or pasted,
    // which end at the cursor. What was in the box before (a text a file or
    // the device put there) stays as it is.
    const QString &before = m_last;
    int head = -1, tail = -1;
    // Where the edit happened: the selection it replaced, or the cursor it
    // typed at, as they stood before it.
    const int from = m_selStart >= 0 ? m_selStart : m_cursor;
    const int to = m_selStart >= 0 ? m_selStart + m_selLength : m_cursor;
    if (from >= 0 && from <= to && to <= before.size()
        && input.size() >= from + (before.size() - to)
        && input.startsWith(QStringView(before).left(from))
        && input.endsWith(QStringView(before).mid(to))) {
        head = from;
        tail = int(before.size()) - to;
    } else {
        // Otherwise the inserted characters end at the cursor; what is
        // unchanged at both ends was there before.
        const int cursor = qBound(0, pos, int(input.size()));
        tail = int(input.size()) - cursor;
        if (tail > before.size() || !input.endsWith(QStringView(before).right(tail)))
            tail = 0;
        head = 0;
        const int headMax = qMin(cursor, int(before.size()) - tail);
        while (head < headMax && input.at(head) == before.at(head))
            ++head;
        if (tail == 0) {
            const int room = int(qMin(input.size(), before.size())) - head;
            while (tail < room && input.at(input.size() - 1 - tail) == before.at(before.size() - 1 - tail))
                ++tail;
        }
    }
    const QString inserted = input.mid(head, input.size() - head - tail);
    QString kept;
    kept.reserve(inserted.size());
    for (const QChar c : inserted)
        if (accepts(m_allowed, c))
            kept += c;
    // Typing or pasting may not make the text longer than the box allows; a
    // longer text already in place may still be edited shorter. The
    // characters brought in are cut from their end.
    const int limit = qMax(m_max, int(before.size()));
    const int others = int(input.size()) - int(inserted.size());
    if (others + kept.size() > limit)
        kept.truncate(qMax(0, limit - others));
    if (others + kept.size() > limit)
        return Invalid;
    input = input.left(head) + kept + input.right(tail);
    pos = head + int(kept.size());
    return Acceptable;
}

namespace {

class NamedComboAccessible : public QAccessibleWidget
{
public:
    explicit NamedComboAccessible(QWidget *w) : QAccessibleWidget(w, QAccessible::ComboBox) {}
    QComboBox *combo() const { return static_cast<QComboBox *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return combo()->accessibleName();
        case QAccessible::Value:
            return combo()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.editable = combo()->isEditable();
        return s;
    }
    QStringList actionNames() const override
    {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override
    {
        if (name == showMenuAction())
            combo()->showPopup();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface *namedComboFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("vorn::NamedComboBox") && object && object->isWidgetType())
        return new NamedComboAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

}  // namespace

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    window->move(area.x() + (area.width() - window->width()) / 2, area.y() + (area.height() - window->height()) / 2);
}

QToolButton *makeToolButton(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    return b;
}

NamedComboBox::NamedComboBox(QWidget *parent) : QComboBox(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(namedComboFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void NamedComboBox::makeEditable()
{
    // Qt gives an editable combo box a completer of its own (completing what
    // is typed from the list; a good part of the cost of the box) unless its
    // edit box brings one: a placeholder does, and goes again.
    static QCompleter *const placeholder = new QCompleter;
    auto *edit = new QLineEdit(this);
    edit->setCompleter(placeholder);
    setLineEdit(edit);
    edit->setCompleter(nullptr);
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
