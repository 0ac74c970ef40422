#pragma once
// "趋势": the ten channels' live values over time, raw or target values
// (whichever is streaming), each channel in its own colour with a box to show
// or hide it; a span of 1 minute, 10 minutes or 1 hour; automatic vertical
// scale; pause; the chart as PNG and its data as CSV. Keeps at most one hour
// at 100 values a second; redraws at most ten times a second. Not modal.

#include "app/dialogs.h"
#include "app/samplering.h"
#include "session/devicesession.h"
#include "session/livevalues.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QProgressDialog;
class QThread;
class QTimer;
class QToolButton;

class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace vorn {

class TrendWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCapacity = 3600 * 100;   // one hour at 100 values a second
    // Drawing comes at most every kRedrawMs, and no more often than keeps
    // it under kDrawShare of the time (a slow machine draws less often).
    static constexpr int kRedrawMs = 100;
    static constexpr int kMaxRedrawMs = 2000;
    static constexpr double kDrawShare = 0.02;

    TrendWindow(DeviceSession *session, Dialogs *dialogs, QWidget *parent = nullptr);
    ~TrendWindow() override;

    // The span shown, in seconds: 60, 600 or 3600.
    void setSpan(int seconds);
    int span() const { return m_spanSeconds; }
    void setChannelShown(int channel, bool shown);
    void setPaused(bool paused);
    // What is plotted: raw values, or target values.
    FeedbackMode kind() const { return m_kind; }
    // The interval between drawings now, in ms.
    int redrawInterval() const;

    // Draws now what has come in (the timer does it ten times a second).
    void redraw();
    void exportImage();
    void exportImageTo(const QString &path);
    // Writes the samples within the span shown to a CSV file on a thread of
    // its own, with a progress window that can cancel it (a cancelled export
    // leaves no file). The window keeps answering meanwhile.
    void exportData();
    void exportDataTo(const QString &path);
    // The samples within the span shown, as CSV (header first).
    QString shownData() const;
    // The samples [first, last) of ring as CSV lines, each with its CR LF.
    static QByteArray csvRows(const std::vector<Sample> &samples, size_t first, size_t last);
    // The vertical scale's labels for a range and its tick count: no decimal
    // places on whole numbers, as many as the step needs otherwise.
    static QString labelFormat(double min, double max, int tickCount);

private:
    struct Export;
    void add(FeedbackMode kind, const std::array<double, kChannels> &values);
    void drawn(qint64 costNs);
    void exportDone();

    DeviceSession *m_session;
    Dialogs *m_dialogs;
    SampleRing m_ring{kCapacity};
    FeedbackMode m_kind = FeedbackMode::Raw;
    int m_spanSeconds = 60;
    bool m_paused = false;
    bool m_dirty = true;
    qint64 m_redrawStart = -1;   // ns on m_clock, until the drawing is painted
    qint64 m_lastRedraw = -1;
    double m_costMs = 0;         // what a drawing costs, smoothed
    QElapsedTimer m_clock;
    QChart *m_chart;
    QChartView *m_view;
    QDateTimeAxis *m_x;
    QValueAxis *m_y;
    std::array<QLineSeries *, kChannels> m_series{};
    std::array<QCheckBox *, kChannels> m_boxes{};
    QComboBox *m_spanCombo;
    QToolButton *m_pause;
    QToolButton *m_exportData = nullptr;
    QTimer *m_timer;
    std::unique_ptr<Export> m_export;
    QPointer<QProgressDialog> m_progress;
};

}  // namespace vorn
