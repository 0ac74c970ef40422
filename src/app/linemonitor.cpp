#include "app/linemonitor.h"

#include "app/widgets.h"

#include <QApplication>
#include <QCache>
#include <QPainter>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace vorn {

// ---------------------------------------------------------------- model

LineModel::LineModel(LineLog *log, QObject *parent) : QAbstractTableModel(parent), m_flushTimer(new QTimer(this))
{
    connect(log, &LineLog::entry, this, &LineModel::take);
    // However fast the line, the table changes at most four times a second
    // while it is shown (each change repaints the rows in view), once a
    // second while it is not.
    m_flushTimer->setInterval(1000);
    connect(m_flushTimer, &QTimer::timeout, this, &LineModel::flush);
    m_flushTimer->start();
}

void LineModel::take(const LineEntry &entry)
{
    // Kept for long, so in arrays of their own size: what the line or a
    // text builder handed over may share a far larger block.
    LineEntry kept = entry;
    kept.bytes.squeeze();
    kept.meaning.squeeze();
    m_pending.append(std::move(kept));
    if (m_pending.size() > 2 * kMaxEntries)
        m_pending.remove(0, m_pending.size() - kMaxEntries);
}

void LineModel::flush()
{
    if (m_paused || m_pending.isEmpty())
        return;
    append(m_pending);
    m_pending.clear();
    emit flushed();
}

void LineModel::setShown(bool shown)
{
    m_flushTimer->setInterval(shown ? 250 : 1000);
    if (shown)
        flush();
}

void LineModel::setPaused(bool paused)
{
    m_paused = paused;
    if (!paused)
        flush();
}

int LineModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int LineModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LineModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_entries.size()))
        return {};
    const LineEntry &e = m_entries[size_t(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Time: return QString::number(e.ms);
        case Direction: return e.direction();
        case Bytes: {
            // What the column has room for; the tooltip has them all.
            constexpr qsizetype kShown = 24;
            const QByteArray hex = e.bytes.left(kShown).toHex(' ').toUpper();
            return e.bytes.size() > kShown ? QString::fromLatin1(hex) + QStringLiteral(" …")
                                           : QString::fromLatin1(hex);
        }
        case Meaning: return e.meaning;
        default: return {};
        }
    }
    if (role == Qt::ForegroundRole && e.problem)
        return QColor(180, 0, 0);
    if (role == Qt::ToolTipRole && index.column() == Time)
        return e.timeText();
    if (role == Qt::ToolTipRole && index.column() == Bytes)
        return QString::fromLatin1(e.bytes.toHex(' ').toUpper());
    if (role == Qt::ToolTipRole && index.column() == Meaning)
        return e.meaning;
    if (role == Qt::TextAlignmentRole && index.column() == Time)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant LineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Time: return tr("时间 (ms)");
    case Direction: return tr("方向");
    case Bytes: return tr("字节");
    case Meaning: return tr("含义");
    default: return {};
    }
}

void LineModel::append(const QList<LineEntry> &entries)
{
    if (entries.isEmpty())
        return;
    // Only the newest kMaxEntries of what comes in can stay.
    const int incoming = int(qMin<qsizetype>(entries.size(), kMaxEntries));
    const int overflow = int(m_entries.size()) + incoming - kMaxEntries;
    if (overflow > 0) {
        beginRemoveRows({}, 0, overflow - 1);
        m_entries.erase(m_entries.begin(), m_entries.begin() + overflow);
        endRemoveRows();
    }
    const int first = int(m_entries.size());
    beginInsertRows({}, first, first + incoming - 1);
    for (qsizetype i = entries.size() - incoming; i < entries.size(); ++i)
        m_entries.push_back(entries.at(i));
    endInsertRows();
}

void LineModel::clear()
{
    beginResetModel();
    m_entries.clear();
    m_pending.clear();
    endResetModel();
}

// ---------------------------------------------------------------- filter

void LineFilter::setShow(Show show)
{
    m_show = show;
    invalidateFilter();
}

bool LineFilter::filterAcceptsRow(int row, const QModelIndex &) const
{
    const auto *m = static_cast<const LineModel *>(sourceModel());
    const LineEntry &e = m->at(row);
    switch (m_show) {
    case Show::All: return true;
    case Show::Sent: return e.kind == LineEntry::Kind::Sent;
    case Show::Received: return e.kind == LineEntry::Kind::Received;
    case Show::Problems: return e.problem;
    }
    return true;
}

// ---------------------------------------------------------------- drawing

namespace {

// Draws each cell's text from a cache of laid-out texts: the entries never
// change, and laying out a long line of bytes or a Chinese meaning anew on
// every repaint cost more than everything else the window does while values
// stream. A text longer than its column is cut at the column's edge (the
// tooltip has it whole).
class LineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget *widget = opt.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
        if (opt.text.isEmpty())
            return;
        QStaticText *text = m_cache.object(opt.text);
        if (!text) {
            text = new QStaticText(opt.text);
            text->setTextFormat(Qt::PlainText);
            text->setPerformanceHint(QStaticText::AggressiveCaching);
            text->prepare(QTransform(), opt.font);
            m_cache.insert(opt.text, text);
        }
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(2, 0, -2, 0);
        const QSizeF size = text->size();
        const qreal x = (opt.displayAlignment & Qt::AlignRight) ? area.right() + 1 - size.width() : area.left();
        const qreal y = area.top() + (area.height() - size.height()) / 2;
        const bool selected = opt.state & QStyle::State_Selected;
        painter->save();
        painter->setClipRect(area);
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawStaticText(QPointF(x, y), *text);
        painter->restore();
    }

private:
    mutable QCache<QString, QStaticText> m_cache{4096};
};

}  // namespace

// ---------------------------------------------------------------- window

LineMonitor::LineMonitor(LineModel *model, Dialogs *dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), m_model(model), m_filter(new LineFilter(this)), m_dialogs(dialogs),
      m_view(new QTableView(this)), m_pause(new QToolButton(this)), m_show(new QComboBox(this))
{
    setObjectName(QStringLiteral("LineMonitor"));
    setWindowTitle(tr("通讯监视"));
    resize(900, 480);

    m_filter->setSourceModel(m_model);
    m_view->setObjectName(QStringLiteral("LineView"));
    m_view->setAccessibleName(tr("通讯记录"));
    m_view->setModel(m_filter);
    m_view->setItemDelegate(new LineDelegate(m_view));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setWordWrap(false);
    m_view->setAlternatingRowColors(true);
    m_view->verticalHeader()->hide();
    // Rows of one height, measured once: ten thousand rows stay cheap.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setColumnWidth(LineModel::Time, 80);
    m_view->setColumnWidth(LineModel::Direction, 40);
    m_view->setColumnWidth(LineModel::Bytes, 360);

    m_pause->setObjectName(QStringLiteral("PauseButton"));
    m_pause->setText(tr("暂停"));
    m_pause->setCheckable(true);
    m_pause->setChecked(m_model->isPaused());
    connect(m_pause, &QToolButton::toggled, this, &LineMonitor::setPaused);
    m_show->setObjectName(QStringLiteral("ShowCombo"));
    m_show->setAccessibleName(tr("显示哪些记录"));
    m_show->addItems({tr("全部"), tr("只看发送"), tr("只看接收"), tr("只看问题")});
    connect(m_show, &QComboBox::currentIndexChanged, this,
            [this](int i) { m_filter->setShow(LineFilter::Show(i)); });
    auto button = [this](const char *name, const QString &text, void (LineMonitor::*slot)()) {
        QToolButton *b = makeToolButton(this, name, text);
        connect(b, &QToolButton::clicked, this, slot);
        return b;
    };
    auto *bar = new QHBoxLayout;
    bar->addWidget(m_pause);
    bar->addWidget(button("ClearButton", tr("清除"), &LineMonitor::clear));
    bar->addWidget(m_show);
    bar->addStretch();
    bar->addWidget(button("CopyButton", tr("复制"), &LineMonitor::copy));
    bar->addWidget(button("SaveButton", tr("另存为…"), &LineMonitor::saveAs));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view);

    // Follows the newest entries while the view stands at its end.
    QScrollBar *scroll = m_view->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this, [this, scroll](int v) { m_atEnd = v >= scroll->maximum(); });
    connect(m_model, &LineModel::flushed, this, &LineMonitor::scrollOnFlush);
}

void LineMonitor::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_model->setShown(true);
}

void LineMonitor::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_model->setShown(false);
}

void LineMonitor::scrollOnFlush()
{
    if (m_atEnd && isVisible())
        m_view->scrollToBottom();
}

void LineMonitor::setPaused(bool paused)
{
    m_model->setPaused(paused);
    if (m_pause->isChecked() != paused)
        m_pause->setChecked(paused);
}

QString LineMonitor::shownText(bool selectedOnly) const
{
    QStringList lines;
    const QModelIndexList selected = m_view->selectionModel() ? m_view->selectionModel()->selectedRows()
                                                              : QModelIndexList();
    if (selectedOnly && !selected.isEmpty()) {
        QList<int> rows;
        for (const QModelIndex &i : selected)
            rows.append(m_filter->mapToSource(i).row());
        std::sort(rows.begin(), rows.end());
        for (int r : rows)
            lines.append(m_model->at(r).toLine());
    } else {
        for (int r = 0; r < m_filter->rowCount(); ++r)
            lines.append(m_model->at(m_filter->mapToSource(m_filter->index(r, 0)).row()).toLine());
    }
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void LineMonitor::copy()
{
    QApplication::clipboard()->setText(shownText(true));
}

void LineMonitor::saveAs()
{
    m_dialogs->saveFileName(this, QString(), tr("文本文件 (*.txt)"), [this](const QString &path) { saveTo(path); });
}

void LineMonitor::saveTo(const QString &path)
{
    if (path.isEmpty())
        return;
    QSaveFile f(path);
    const QByteArray bytes = shownText(false).toUtf8();
    // A short write on a full disk shows at the flush, which commit() would
    // not report.
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush() || !f.commit())
        m_dialogs->message(this, tr("通讯记录保存失败。"), Dialogs::Icon::Warning,
                           path + QLatin1Char('\n') + f.errorString());
}

}  // namespace vorn
