#include "app/widgets.h"

#include <QPainter>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>

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
}

void FeedbackBox::setText(const QString &text)
{
    m_text = text;
    // Show one line per row at the row pitch; CR LF and lone CR or LF all end
    // a line.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    setPlainText(shown);
    // The line spacing is looks only: one textChanged per text, not two.
    const QSignalBlocker quiet(this);
    QTextCursor c(document());
    c.select(QTextCursor::Document);
    QTextBlockFormat f;
    f.setLineHeight(rowPitchPx(), QTextBlockFormat::FixedHeight);
    c.mergeBlockFormat(f);
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
