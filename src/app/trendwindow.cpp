#include "app/trendwindow.h"

#include "app/widgets.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLineSeries>
#include <QSaveFile>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>
#include <QVBoxLayout>

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

}  // namespace

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
    bar->addWidget(button("ExportData", tr("导出数据…"), &TrendWindow::exportData));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(boxes);
    layout->addWidget(m_view, 1);

    connect(session, &DeviceSession::rawValues, this, [this](const std::array<int, kChannels> &raw) {
        std::array<double, kChannels> v;
        for (int i = 0; i < kChannels; ++i)
            v[i] = raw[i];
        add(FeedbackMode::Raw, v);
    });
    connect(session, &DeviceSession::targetRecord, this, [this](const QString &text) {
        const QStringList fields = shownValues(text);
        std::array<double, kChannels> v;
        for (int i = 0; i < kChannels; ++i)
            v[i] = fieldValue(fields[i]);
        add(FeedbackMode::Target, v);
    });
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
    ++m_redraws;
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
    m_y->setRange(lo, hi);
    // Round figures on the scale, around the values.
    m_y->applyNiceNumbers();
}

QString TrendWindow::shownData() const
{
    const qint64 latest = m_ring.size() > 0 ? m_ring.at(m_ring.size() - 1).ms : QDateTime::currentMSecsSinceEpoch();
    const auto [first, last] = m_ring.window(latest - qint64(m_spanSeconds) * 1000, latest);
    QStringList lines;
    QStringList head{QStringLiteral("time")};
    for (int i = 0; i < kChannels; ++i)
        head.append(QStringLiteral("ch%1").arg(i));
    lines.append(head.join(QLatin1Char(',')));
    for (int r = first; r < last; ++r) {
        const Sample &s = m_ring.at(r);
        QStringList fields{QDateTime::fromMSecsSinceEpoch(s.ms).toString(Qt::ISODateWithMs)};
        for (float v : s.value)
            fields.append(std::isnan(v) ? QString() : QString::number(double(v), 'g', 9));
        lines.append(fields.join(QLatin1Char(',')));
    }
    return lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n");
}

void TrendWindow::exportImage()
{
    const QString path = m_dialogs->saveFileName(this, QString(), tr("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (!m_view->grab().save(path, "PNG"))
        m_dialogs->message(this, tr("图片保存失败。"), Dialogs::Icon::Warning, path);
}

void TrendWindow::exportData()
{
    const QString path = m_dialogs->saveFileName(this, QString(), tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    QSaveFile f(path);
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + shownData().toUtf8();
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush() || !f.commit())
        m_dialogs->message(this, tr("数据保存失败。"), Dialogs::Icon::Warning,
                           path + QLatin1Char('\n') + f.errorString());
}

}  // namespace vorn
