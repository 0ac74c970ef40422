#include "app/trendwindow.h"

#include "app/widgets.h"
#include "session/csv.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLineSeries>
#include <QProgressDialog>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>
#include <QVBoxLayout>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>

namespace vorn {

namespace {

// The chart view, telling when a drawing has been painted.
class TrendView : public QChartView
{
public:
    TrendView(QChart *chart, QWidget *parent, std::function<void()> painted)
        : QChartView(chart, parent), m_painted(std::move(painted))
    {
    }

protected:
    void paintEvent(QPaintEvent *e) override
    {
        QChartView::paintEvent(e);
        m_painted();
    }

private:
    std::function<void()> m_painted;
};

// Ten colours told apart easily, channel 0 first.
const QColor kColours[kChannels] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f),
    QColor(0xbc, 0xbd, 0x22), QColor(0x17, 0xbe, 0xcf)};

const int kSpans[] = {60, 600, 3600};

// Samples written per slice of an export: between two slices it looks
// whether it was cancelled and tells how far it got.
constexpr size_t kExportSlice = 4000;

}  // namespace

// An export under way: the samples copied out of the ring (a few ms for an
// hour), written to the file by a thread of its own. The file is committed or
// thrown away on the window's thread, once the thread has ended, so that a
// cancel given at any time before leaves nothing behind.
struct TrendWindow::Export
{
    std::vector<Sample> samples;
    QSaveFile file;
    QThread *thread = nullptr;
    std::atomic<size_t> done{0};
    std::atomic<bool> cancelled{false};
    bool ok = true;
    QString why;

    explicit Export(const QString &path) : file(path) {}
    void run()
    {
        QByteArray bytes = QByteArray("\xEF\xBB\xBF") + valuesHeader(false).toUtf8() + "\r\n";
        for (size_t at = 0;; at += kExportSlice) {
            const size_t to = std::min(samples.size(), at + kExportSlice);
            if (at < to)
                bytes += TrendWindow::csvRows(samples, at, to);
            if (file.write(bytes) != bytes.size()) {
                ok = false;
                why = file.errorString();
                return;
            }
            bytes.clear();
            done = to;
            if (to == samples.size() || cancelled)
                return;
        }
    }
};

TrendWindow::TrendWindow(DeviceSession *session, Dialogs *dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), m_session(session), m_dialogs(dialogs), m_chart(new QChart),
      m_view(new TrendView(m_chart, this, [this] {
          if (m_redrawStart >= 0) {
              drawn(m_clock.nsecsElapsed() - m_redrawStart);
              m_redrawStart = -1;
          }
      })),
      m_x(new QDateTimeAxis), m_y(new QValueAxis),
      m_spanCombo(new QComboBox(this)), m_pause(new QToolButton(this)), m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("TrendWindow"));
    setWindowTitle(tr("趋势"));
    resize(900, 520);

    m_chart->legend()->hide();
    m_x->setFormat(QStringLiteral("hh:mm:ss"));
    m_x->setTitleText(tr("时间"));
    m_y->setTitleText(tr("原始值"));
    m_chart->addAxis(m_x, Qt::AlignBottom);
    m_chart->addAxis(m_y, Qt::AlignLeft);
    auto *boxes = new QHBoxLayout;
    for (int i = 0; i < kChannels; ++i) {
        auto *s = new QLineSeries(m_chart);
        s->setName(QStringLiteral("%1#").arg(i));
        s->setColor(kColours[i]);
        s->setUseOpenGL(false);
        m_chart->addSeries(s);
        s->attachAxis(m_x);
        s->attachAxis(m_y);
        m_series[i] = s;
        auto *box = new QCheckBox(QStringLiteral("%1#").arg(i), this);
        box->setObjectName(QStringLiteral("ShowChannel(%1)").arg(i));
        box->setAccessibleName(tr("显示 %1#").arg(i));
        box->setChecked(true);
        QPalette p = box->palette();
        p.setColor(QPalette::WindowText, kColours[i]);
        box->setPalette(p);
        connect(box, &QCheckBox::toggled, this, [this, i](bool on) { setChannelShown(i, on); });
        boxes->addWidget(box);
        m_boxes[i] = box;
    }
    boxes->addStretch();
    m_view->setObjectName(QStringLiteral("TrendChart"));
    m_view->setAccessibleName(tr("趋势图"));
    m_view->setRenderHint(QPainter::Antialiasing, false);

    m_spanCombo->setObjectName(QStringLiteral("SpanCombo"));
    m_spanCombo->setAccessibleName(tr("时间跨度"));
    m_spanCombo->addItems({tr("1 分钟"), tr("10 分钟"), tr("1 小时")});
    connect(m_spanCombo, &QComboBox::currentIndexChanged, this, [this](int i) { setSpan(kSpans[qBound(0, i, 2)]); });
    m_pause->setObjectName(QStringLiteral("TrendPause"));
    m_pause->setText(tr("暂停"));
    m_pause->setCheckable(true);
    connect(m_pause, &QToolButton::toggled, this, &TrendWindow::setPaused);
    auto button = [this](const char *name, const QString &text, void (TrendWindow::*slot)()) {
        QToolButton *b = makeToolButton(this, name, text);
        connect(b, &QToolButton::clicked, this, slot);
        return b;
    };
    auto *bar = new QHBoxLayout;
    bar->addWidget(m_spanCombo);
    bar->addWidget(m_pause);
    bar->addStretch();
    bar->addWidget(button("ExportImage", tr("导出图片…"), &TrendWindow::exportImage));
    m_exportData = button("ExportData", tr("导出数据…"), &TrendWindow::exportData);
    bar->addWidget(m_exportData);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(boxes);
    layout->addWidget(m_view, 1);

    connect(session, &DeviceSession::liveValues, this,
            [this](const LiveValues &live) { add(live.mode, live.numbers); });
    // However fast the values come, the chart is drawn at most ten times a
    // second.
    m_clock.start();
    m_timer->setInterval(kRedrawMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (!m_dirty || !isVisible())
            return;
        if (m_lastRedraw >= 0 && (m_clock.nsecsElapsed() - m_lastRedraw) / 1000000 < redrawInterval())
            return;
        redraw();
    });
    m_timer->start();
}

TrendWindow::~TrendWindow()
{
    if (m_export) {
        m_export->cancelled = true;
        m_export->thread->wait();
        delete m_export->thread;
    }
}

void TrendWindow::add(FeedbackMode kind, const std::array<double, kChannels> &values)
{
    // One kind at a time: raw values and target values do not share a scale.
    if (kind != m_kind) {
        m_ring.clear();
        m_kind = kind;
        m_y->setTitleText(kind == FeedbackMode::Raw ? tr("原始值") : tr("目标值"));
    }
    Sample s;
    s.ms = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < kChannels; ++i)
        s.value[i] = float(values[i]);
    m_ring.append(s);
    m_dirty = true;
}

void TrendWindow::setSpan(int seconds)
{
    m_spanSeconds = seconds;
    const int index = seconds <= 60 ? 0 : seconds <= 600 ? 1 : 2;
    if (m_spanCombo->currentIndex() != index)
        m_spanCombo->setCurrentIndex(index);
    m_dirty = true;
}

void TrendWindow::setChannelShown(int channel, bool shown)
{
    m_series[channel]->setVisible(shown);
    if (m_boxes[channel]->isChecked() != shown)
        m_boxes[channel]->setChecked(shown);
    m_dirty = true;
}

void TrendWindow::setPaused(bool paused)
{
    // Paused, the chart stands still; values keep coming into its memory.
    m_paused = paused;
    if (m_pause->isChecked() != paused)
        m_pause->setChecked(paused);
    m_dirty = true;
}

int TrendWindow::redrawInterval() const
{
    return int(qBound(double(kRedrawMs), m_costMs / kDrawShare, double(kMaxRedrawMs)));
}

void TrendWindow::drawn(qint64 costNs)
{
    const double ms = double(costNs) / 1e6;
    m_costMs = m_costMs <= 0 ? ms : 0.7 * m_costMs + 0.3 * ms;
}

void TrendWindow::redraw()
{
    if (m_paused)
        return;
    m_dirty = false;
    m_redrawStart = m_lastRedraw = m_clock.nsecsElapsed();
    const qint64 latest = m_ring.size() > 0 ? m_ring.at(m_ring.size() - 1).ms : QDateTime::currentMSecsSinceEpoch();
    const qint64 now = std::max(latest, QDateTime::currentMSecsSinceEpoch());
    const qint64 from = now - qint64(m_spanSeconds) * 1000;
    const auto [first, last] = m_ring.window(from, now);
    const int buckets = std::max(50, int(m_chart->plotArea().width()));
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    for (int ch = 0; ch < kChannels; ++ch) {
        QList<QPointF> points;
        if (m_series[ch]->isVisible()) {
            for (const PlotPoint &p : plotPoints(m_ring, first, last, ch, buckets)) {
                points.append(QPointF(p.x, p.y));
                lo = std::min(lo, p.y);
                hi = std::max(hi, p.y);
            }
        }
        m_series[ch]->replace(points);
    }
    m_x->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(now));
    // Raw values are never negative: the scale goes below 0 only when a
    // value does.
    const bool nonNegative = lo >= 0;
    if (lo > hi) {
        lo = 0;
        hi = 1;
    } else if (lo == hi) {
        lo -= 1;
        hi += 1;
    } else {
        const double margin = (hi - lo) * 0.05;
        lo -= margin;
        hi += margin;
    }
    if (nonNegative)
        lo = std::max(lo, 0.0);
    m_y->setRange(lo, hi);
    // Round figures on the scale, around the values.
    m_y->applyNiceNumbers();
    if (nonNegative && m_y->min() < 0)
        m_y->setMin(0);
    // Raw values are whole numbers: a scale between them says nothing.
    if (m_kind == FeedbackMode::Raw && m_y->tickCount() > 1
        && (m_y->max() - m_y->min()) / (m_y->tickCount() - 1) < 1) {
        const double from = std::floor(m_y->min());
        m_y->setRange(from, from + m_y->tickCount() - 1);
    }
    m_y->setLabelFormat(labelFormat(m_y->min(), m_y->max(), m_y->tickCount()));
}

QString TrendWindow::labelFormat(double min, double max, int tickCount)
{
    const double step = tickCount > 1 ? (max - min) / (tickCount - 1) : max - min;
    // The fewest decimal places that write the lowest label and the step
    // exactly (to a millionth of the step).
    for (int places = 0; places < 6; ++places) {
        const double scale = std::pow(10.0, places);
        const auto whole = [&](double v) {
            return std::abs(v * scale - std::round(v * scale)) <= 1e-6 * std::max(1.0, std::abs(step * scale));
        };
        if (whole(step) && whole(min))
            return QStringLiteral("%.%1f").arg(places);
    }
    return QStringLiteral("%.6g");
}

namespace {

std::vector<Sample> samplesShown(const SampleRing &ring, int spanSeconds)
{
    const qint64 latest = ring.size() > 0 ? ring.at(ring.size() - 1).ms : QDateTime::currentMSecsSinceEpoch();
    const auto [first, last] = ring.window(latest - qint64(spanSeconds) * 1000, latest);
    std::vector<Sample> out;
    out.reserve(size_t(last - first));
    for (int r = first; r < last; ++r)
        out.push_back(ring.at(r));
    return out;
}

}  // namespace

QByteArray TrendWindow::csvRows(const std::vector<Sample> &samples, size_t first, size_t last)
{
    QString text;
    QStringList values;
    for (size_t r = first; r < last; ++r) {
        const Sample &s = samples[r];
        values.clear();
        for (float v : s.value)
            values.append(std::isnan(v) ? QString() : QString::number(double(v), 'g', 9));
        text += valuesLine(QDateTime::fromMSecsSinceEpoch(s.ms).toString(Qt::ISODateWithMs), QString(), values);
        text += QLatin1String("\r\n");
    }
    return text.toUtf8();
}

QString TrendWindow::shownData() const
{
    const std::vector<Sample> samples = samplesShown(m_ring, m_spanSeconds);
    return valuesHeader(false) + QLatin1String("\r\n") + QString::fromUtf8(csvRows(samples, 0, samples.size()));
}

void TrendWindow::exportImage()
{
    m_dialogs->saveFileName(this, QString(), tr("PNG 图片 (*.png)"),
                            [this](const QString &path) { exportImageTo(path); });
}

void TrendWindow::exportImageTo(const QString &path)
{
    if (path.isEmpty())
        return;
    if (!m_view->grab().save(path, "PNG"))
        m_dialogs->message(this, tr("图片保存失败。"), Dialogs::Icon::Warning, path);
}

void TrendWindow::exportData()
{
    if (m_export)
        return;
    m_dialogs->saveFileName(this, QString(), tr("CSV 文件 (*.csv)"),
                            [this](const QString &path) { exportDataTo(path); });
}

void TrendWindow::exportDataTo(const QString &path)
{
    if (path.isEmpty() || m_export)
        return;
    auto job = std::make_unique<Export>(path);
    if (!job->file.open(QIODevice::WriteOnly)) {
        m_dialogs->message(this, tr("数据保存失败。"), Dialogs::Icon::Warning,
                           path + QLatin1Char('\n') + job->file.errorString());
        return;
    }
    job->samples = samplesShown(m_ring, m_spanSeconds);
    const int total = int(job->samples.size());
    m_export = std::move(job);
    m_exportData->setEnabled(false);

    // Shown only when the export takes a while; not modal.
    m_progress = new QProgressDialog(tr("正在导出数据…"), tr("取消"), 0, std::max(total, 1), this);
    m_progress->setObjectName(QStringLiteral("ExportProgress"));
    m_progress->setWindowTitle(tr("导出数据"));
    m_progress->setWindowModality(Qt::NonModal);
    m_progress->setMinimumDuration(500);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    Export *e = m_export.get();
    connect(m_progress, &QProgressDialog::canceled, this, [e] { e->cancelled = true; });
    auto *tick = new QTimer(m_progress);
    tick->setInterval(100);
    connect(tick, &QTimer::timeout, m_progress, [this, e] {
        if (m_progress && !e->cancelled)
            m_progress->setValue(int(e->done.load()));
    });
    tick->start();

    e->thread = QThread::create([e] { e->run(); });
    connect(e->thread, &QThread::finished, this, &TrendWindow::exportDone);
    e->thread->start(QThread::LowPriority);
}

void TrendWindow::exportDone()
{
    const std::unique_ptr<Export> e = std::move(m_export);
    e->thread->wait();
    delete e->thread;
    if (m_progress && m_progress->wasCanceled())
        e->cancelled = true;
    if (m_progress)
        m_progress->deleteLater();
    m_progress = nullptr;
    m_exportData->setEnabled(true);
    if (e->cancelled) {
        e->file.cancelWriting();
        return;
    }
    if (!e->ok || !e->file.commit())
        m_dialogs->message(this, tr("数据保存失败。"), Dialogs::Icon::Warning,
                           e->file.fileName() + QLatin1Char('\n') + (e->why.isEmpty() ? e->file.errorString() : e->why));
}

}  // namespace vorn
