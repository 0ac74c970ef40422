#pragma once
// The window's own small controls: the activity lamp, the column header whose
// words stand over their columns, the channel labels and the feedback column
// that line up with the table rows, and the filtered numeric text boxes.

#include <QColor>
#include <QComboBox>
#include <QToolButton>
#include <QLabel>
#include <QLineEdit>
#include <QTextBlockFormat>
#include <QTextEdit>
#include <array>
#include <QValidator>
#include <QPixmap>
#include <QWidget>

#include <utility>

namespace vorn {

// A filled circle whose colour shows the state of the link.
// The round lamp. It changes colour twice for every reply while values
// stream; so that each change repaints the lamp alone, not the two frames
// and the window behind it, it keeps a picture of what they draw beneath it
// and paints that first. The picture is made anew after anything that may
// change it (a move, a resize, a palette or style change).
class Lamp : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
    void setFillColor(const QColor &c);
    QColor fillColor() const { return m_color; }
    // Off: the frames behind paint themselves beneath the lamp, as for any
    // widget that is not opaque.
    void setKeepsBackground(bool keep);

protected:
    void paintEvent(QPaintEvent *) override;
    void changeEvent(QEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void forgetBackground();
    void takeBackground();

    QColor m_color = Qt::red;
    QPixmap m_background;
    bool m_keepBackground = true;
};

// Row tops of the channel table, in pixels relative to the table frame.
int rowTopPx(int row);
int rowPitchPx();

// The column header above the table. text() is the whole caption, blanks
// included; its blank-separated words are drawn each centred over its own
// column, so that they stand where they belong whatever the font makes of a
// blank. Without a column for every word the caption is drawn as it is.
class HeaderLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;
    // Left and right edge (exclusive) of the column under each word, in the
    // coordinates of the label's parent.
    void setColumns(const QList<std::pair<int, int>> &columns);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<std::pair<int, int>> m_columns;
};

// "0# 1# ... 9#": one channel label level with each row.
class RowLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override;
};

// The feedback column: one value per line, line n on the baseline of row n's
// channel label, all ten inside the box. text() is exactly what was set
// (lines ending CR LF where the writer put them). The box lies in the table
// frame, whose row tops rowTopPx() gives; it does not scroll while it holds
// no more lines than there are rows.
class FeedbackBox : public QTextEdit
{
    Q_OBJECT
public:
    explicit FeedbackBox(QWidget *parent = nullptr);
    void setText(const QString &text);
    QString text() const { return m_text; }

protected:
    void changeEvent(QEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // A place in the text as line and column; column -1 is the line's end.
    struct LinePlace
    {
        int line = 0;
        int column = 0;
    };
    LinePlace linePlace(int position, bool endsSelection) const;
    int documentPosition(const LinePlace &place) const;
    // Puts the lines into the document, changing only what differs.
    void replaceLines(const QStringList &lines);
    // Works out where each line goes (when the font or the box's place
    // changes), then gives the lines there their places.
    void placeLines();
    void measure();
    QTextBlockFormat lineFormat(int n) const;
    QString m_text;
    QFont m_measuredFont;        // the font m_baselineInLine was measured with
    int m_baselineInLine = -1;   // baseline below the top of a fixed-height line
    // Where the lines go: the document's top margin, then each line's top
    // margin, for the geometry and font m_placedFor* record.
    int m_frameTop = 0;
    int m_lineHeight = 0;
    std::array<int, 10> m_margins{};
    // The places the document's lines were last given.
    int m_docFrameTop = -1;
    std::array<int, 10> m_docMargins{};
    QRect m_placedForGeometry;
    QFont m_placedForFont;
    bool m_placed = false;
};

// Keeps only the characters a numeric column accepts among those typed or
// pasted, and limits what the operator types to maxChars characters. The text
// already in the box is never judged: what the program placed there
// (read-back, file load) stays as it is while the operator edits around it.
class KeyFilter : public QValidator
{
    Q_OBJECT
public:
    KeyFilter(QLineEdit *edit, QString allowed, int maxChars);
    State validate(QString &input, int &pos) const override;
    static bool accepts(const QString &allowed, QChar c) { return allowed.contains(c); }

private:
    QLineEdit *m_edit;
    QString m_allowed;
    int m_max;
    // The text, cursor and selection before the edit being validated.
    QString m_last;
    int m_cursor = 0;
    int m_selStart = -1;
    int m_selLength = 0;
};

// A numeric column's text box. setText() places a text as it is (the device
// or a file may hold what could not be typed); typing and pasting go through
// the KeyFilter.
class FilteredEdit : public QLineEdit
{
    Q_OBJECT
public:
    FilteredEdit(const QString &allowed, int maxChars, QWidget *parent = nullptr);
    void setText(const QString &text);
    int maxChars() const { return m_max; }

private:
    KeyFilter *m_filter;
    int m_max;
};

// Centres a window on its screen from its own size. Done before the window
// is shown, it appears in its place instead of jumping there.
void centreOnScreen(QWidget *window);

// A flat tool button with a name and a text, for the bars of the monitor and
// the trend.
QToolButton *makeToolButton(QWidget *parent, const char *name, const QString &text);

// An editable combo box whose accessible name is its own (on Linux a stock
// combo box is named by its text, so ten "固定关" boxes would sound alike);
// its value is the text.
class NamedComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit NamedComboBox(QWidget *parent = nullptr);
    // Makes the text editable, with no completion from the list: what is
    // typed stays as typed.
    void makeEditable();
};

}  // namespace vorn
