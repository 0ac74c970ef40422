#pragma once
// "通讯监视": every frame sent, every reply and record received with what
// became of it, and what happened to the line, as a table: time, direction,
// bytes, meaning. Keeps the last kMaxEntries entries. Not modal.

#include "app/dialogs.h"
#include "session/linelog.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>
#include <deque>

class QComboBox;
class QTableView;
class QTimer;
class QToolButton;

namespace vorn {

// The entries of a line log, oldest first, at most kMaxEntries of them. It
// takes what the log reports from the start, whether a monitor shows it or
// not, and brings new entries in at most four times a second.
class LineModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kMaxEntries = 10000;
    enum Column { Time, Direction, Bytes, Meaning, ColumnCount };

    explicit LineModel(LineLog *log, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Appends entries, dropping the oldest beyond kMaxEntries.
    void append(const QList<LineEntry> &entries);
    // Brings in what arrived since the last time now.
    void flush();
    // While paused the table stands still; what arrives meanwhile is kept
    // (the newest kMaxEntries) and comes in on resuming.
    void setPaused(bool paused);
    // Whether a monitor shows the entries: then they come in four times a
    // second, otherwise once a second.
    void setShown(bool shown);
    bool isPaused() const { return m_paused; }
    void clear();
    const LineEntry &at(int row) const { return m_entries.at(size_t(row)); }

signals:
    // After new entries came in.
    void flushed();

private:
    void take(const LineEntry &entry);

    std::deque<LineEntry> m_entries;
    QList<LineEntry> m_pending;
    QTimer *m_flushTimer;
    bool m_paused = false;
};

// Which entries show: all, one direction, or only problems.
class LineFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    enum class Show { All, Sent, Received, Problems };
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setShow(Show show);
    Show show() const { return m_show; }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override;

private:
    Show m_show = Show::All;
};

class LineMonitor : public QWidget
{
    Q_OBJECT
public:
    LineMonitor(LineModel *model, Dialogs *dialogs, QWidget *parent = nullptr);

    LineModel *model() const { return m_model; }
    LineFilter *filter() const { return m_filter; }
    // The shown entries (the selected ones when asked and there are any),
    // one line each.
    QString shownText(bool selectedOnly) const;
    // Brings in new entries now (the model does so ten times a second).
    void flush() { m_model->flush(); }

    void setPaused(bool paused);
    void clear() { m_model->clear(); }
    void copy();
    void saveAs();
    void saveTo(const QString &path);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void scrollOnFlush();

    LineModel *m_model;
    LineFilter *m_filter;
    Dialogs *m_dialogs;
    QTableView *m_view;
    QToolButton *m_pause;
    QComboBox *m_show;
    bool m_atEnd = true;
};

}  // namespace vorn
