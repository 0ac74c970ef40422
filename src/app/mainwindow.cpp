#include "app/mainwindow.h"

#include "app/linemonitor.h"
#include "app/networkports.h"
#include "app/trendwindow.h"
#include "app/widgets.h"
#include "protocol/frame.h"
#include "protocol/rtxfile.h"
#include "protocol/tablecompare.h"
#include "session/recorder.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QBoxLayout>
#include <QLayout>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <utility>

namespace vorn {

namespace {

const char kReconnectKey[] = "line/autoReconnect";

// A device path or file name takes at most this much of a status line;
// longer ones lose their middle (the tooltip has them whole).
constexpr int kNameWidthPx = 150;

QLabel *statusLabel(QWidget *parent, QBoxLayout *row, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    // Paths, names and what the line brought are shown as they are, never
    // read as markup.
    l->setTextFormat(Qt::PlainText);
    row->addWidget(l);
    return l;
}

// The counts change every second while values stream. Their label has a
// fixed size that only grows, three digits' room at a time, so that a new
// count repaints the label alone instead of laying out and repainting the
// whole bar.
void fitCounts(QLabel *label)
{
    const QSize need = label->sizeHint();
    if (label->maximumWidth() != QWIDGETSIZE_MAX && need.width() <= label->maximumWidth()
        && need.height() == label->maximumHeight())
        return;
    label->setFixedSize(need.width() + label->fontMetrics().horizontalAdvance(QStringLiteral("000")),
                        need.height());
}

void bringForward(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

QString shortName(const QLabel *label, const QString &name)
{
    return label->fontMetrics().elidedText(name, Qt::ElideMiddle, kNameWidthPx);
}

QString lineStateText(LineState s)
{
    switch (s) {
    case LineState::Closed: return MainWindow::tr("未打开");
    case LineState::Open: return MainWindow::tr("已打开");
    case LineState::Lost: return MainWindow::tr("已断开");
    case LineState::Reconnecting: return MainWindow::tr("等待重新连接");
    case LineState::NotResumed: break;
    }
    return {};
}

QString feedbackText(FeedbackMode m)
{
    switch (m) {
    case FeedbackMode::Target: return MainWindow::tr("反馈：目标值");
    case FeedbackMode::Raw: return MainWindow::tr("反馈：原始值");
    case FeedbackMode::Off: break;
    }
    return MainWindow::tr("反馈：关闭");
}

// The window's dialogs for the form, noting the file the operator chose to
// open.
class ChoiceNoting : public Dialogs
{
public:
    ChoiceNoting(Dialogs *inner, QString *chosen, std::function<void()> opened)
        : m_inner(inner), m_chosen(chosen), m_opened(std::move(opened))
    {
    }
    void message(QWidget *parent, const QString &text, Icon icon, const QString &detail,
                 std::function<void()> then) override
    {
        m_inner->message(parent, text, icon, detail, std::move(then));
    }
    void confirm(QWidget *parent, const QString &text, const QString &detail,
                 std::function<void(bool yes)> answered) override
    {
        m_inner->confirm(parent, text, detail, std::move(answered));
    }
    // The form handles the file chosen, then the window notes it.
    void openFileName(QWidget *parent, const QString &dir, const QString &filter, FileChosen then) override
    {
        m_inner->openFileName(parent, dir, filter, [this, then = std::move(then)](const QString &path) {
            *m_chosen = path;
            then(path);
            m_opened();
        });
    }
    void saveFileName(QWidget *parent, const QString &dir, const QString &filter, FileChosen then) override
    {
        m_inner->saveFileName(parent, dir, filter, std::move(then));
    }

private:
    Dialogs *m_inner;
    QString *m_chosen;
    std::function<void()> m_opened;
};

}  // namespace

MainWindow::MainWindow(DeviceSession *session, Dialogs *dialogs, QSettings *settings, QWidget *parent)
    : QMainWindow(parent), m_session(session),
      m_formDialogs(std::make_unique<ChoiceNoting>(dialogs, &m_chosenFile, [this] { noteOpenedTable(); })),
      m_form(new MainForm(session, m_formDialogs.get(), this)), m_dialogs(dialogs),
      m_settings(settings), m_log(new LineLog(session, this)), m_lines(new LineModel(m_log, this)),
      m_recorder(new ValueRecorder(session, this))
{
    // The operator's network ports count from the start-up search on.
    NetworkPortsDialog::apply(session->port(), settings);
    setObjectName(QStringLiteral("MainWindow"));
    // The form's font for the status bar too: the default font has no
    // Chinese, and looking for one that has costs start-up a good part of
    // its time.
    setFont(m_form->font());
    setWindowTitle(m_form->windowTitle());
    setCentralWidget(m_form);
    // The designed form keeps its fixed size; the window is the form plus
    // the status bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Two lines beneath the form, as wide as it: the line (port, state,
    // device, feedback, reconnecting by itself), then the counts, the
    // recording and the other windows. One line has no room for them all
    // once the port is open, values stream and a recording runs.
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    auto *lines = new QWidget(bar);
    lines->setObjectName(QStringLiteral("StatusLines"));
    auto *stack = new QVBoxLayout(lines);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    auto *first = new QHBoxLayout;
    auto *second = new QHBoxLayout;
    first->setSpacing(12);
    second->setSpacing(12);
    stack->addLayout(first);
    stack->addLayout(second);
    m_portLabel = statusLabel(lines, first, "PortStatus");
    m_portLabel->setCursor(Qt::PointingHandCursor);
    m_portLabel->installEventFilter(this);
    m_lineLabel = statusLabel(lines, first, "LineStatus");
    m_deviceLabel = statusLabel(lines, first, "DeviceStatus");
    m_feedbackLabel = statusLabel(lines, first, "FeedbackStatus");
    first->addStretch();
    m_reconnect = new QCheckBox(tr("自动重连"), lines);
    m_reconnect->setObjectName(QStringLiteral("ReconnectBox"));
    m_reconnect->setToolTip(tr("端口断开后，设备重新接入时自动打开并恢复反馈"));
    first->addWidget(m_reconnect);
    m_countLabel = statusLabel(lines, second, "CountStatus");
    second->setAlignment(m_countLabel, Qt::AlignVCenter);
    m_recordLabel = statusLabel(lines, second, "RecordStatus");
    m_traceLabel = statusLabel(lines, second, "TraceStatus");
    m_traceLabel->hide();
    m_tableLabel = statusLabel(lines, second, "TableStatus");
    m_tableLabel->hide();
    second->addStretch();
    // The shortcuts work from the monitor and trend windows too.
    auto shortcut = [this](const QKeySequence &keys, void (MainWindow::*slot)()) {
        auto *s = new QShortcut(keys, this);
        s->setContext(Qt::ApplicationShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    auto entry = [&](const char *name, const QString &text, const QString &tip) {
        QToolButton *b = makeToolButton(lines, name, text);
        b->setToolTip(tip);
        b->setAutoRaise(true);
        second->addWidget(b);
        return b;
    };
    m_monitorButton = entry("MonitorButton", tr("通讯监视"), tr("通讯监视 (F12)"));
    connect(m_monitorButton, &QToolButton::clicked, this, &MainWindow::showMonitor);
    shortcut(QKeySequence(Qt::Key_F12), &MainWindow::showMonitor);
    m_trendButton = entry("TrendButton", tr("趋势"), tr("趋势 (Ctrl+T)"));
    connect(m_trendButton, &QToolButton::clicked, this, &MainWindow::showTrend);
    m_recordButton = entry("RecordButton", tr("记录"), tr("记录 (Ctrl+R)"));
    m_recordButton->setCheckable(true);
    // Added to the bar once filled: the bar takes its height from the lines
    // then, so the window has its final size before it is shown.
    bar->addWidget(lines, 1);
    connect(m_recordButton, &QToolButton::clicked, this, &MainWindow::toggleRecording);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_T), &MainWindow::showTrend);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_R), &MainWindow::toggleRecording);
    connect(m_recorder, &ValueRecorder::stopped, this, &MainWindow::updateStatus);
    connect(m_recorder, &ValueRecorder::failed, this, [this](const QString &path, const QString &why) {
        m_dialogs->message(this, tr("写入记录文件失败，记录已停止；已写入的内容保留在文件中。"),
                           Dialogs::Icon::Warning, path + QLatin1Char('\n') + why);
    });

    DeviceSession *s = m_session;
    // What the device should hold: the table of the last download, or of
    // the last file opened; a read-back is compared with it.
    connect(s, &DeviceSession::frameSent, this, [this](const QByteArray &frame) {
        if (frame.size() == kFrameOverhead + kChannels * kBlockSize && quint8(frame[5]) == cmd::Download)
            m_reference = frame.mid(6, kChannels * kBlockSize);
    });
    connect(s, &DeviceSession::tableRead, this,
            [this](const std::array<DecodedChannel, kChannels> &, const QByteArray &blocks) { compareReadBack(blocks); });
    const bool reconnect = !m_settings || m_settings->value(QLatin1String(kReconnectKey), true).toBool();
    s->setAutoReconnect(reconnect);
    m_reconnect->setChecked(reconnect);
    connect(m_reconnect, &QCheckBox::toggled, this, [this](bool on) {
        m_session->setAutoReconnect(on);
        if (m_settings)
            m_settings->setValue(QLatin1String(kReconnectKey), on);
    });
    connect(s, &DeviceSession::portOpened, this, &MainWindow::updateStatus);
    connect(s, &DeviceSession::reconnected, this, [this](int, const QString &, const DeviceIdentity &device) {
        m_resumed = device;
        updateStatus();
    });
    connect(s, &DeviceSession::lineStateChanged, this, [this](LineState state) {
        if (state != LineState::Open)
            m_resumed.reset();
    });
    connect(s, &DeviceSession::portClosed, this, &MainWindow::updateStatus);
    connect(s, &DeviceSession::lineStateChanged, this, &MainWindow::updateStatus);
    connect(s, &DeviceSession::ledIdChanged, this, &MainWindow::updateStatus);
    connect(s, &DeviceSession::feedbackModeChanged, this, &MainWindow::updateStatus);
    // What came back after a loss was not the device being recorded: the
    // recording ends, saying why in its last line.
    connect(s, &DeviceSession::notResumed, this, [this](const QString &why) {
        if (m_recorder->isRecording())
            m_recorder->stop(tr("未恢复连接：%1").arg(why));
    });
    // The counts change with every frame and the recorded lines with every
    // set of values: the bar follows them once a second at most, when a
    // frame comes, so that its repaint goes with the one the frame causes
    // anyway; the timer shows the last figures once frames stop.
    m_countTimer = new QTimer(this);
    m_countTimer->setSingleShot(true);
    connect(m_countTimer, &QTimer::timeout, this, &MainWindow::updateStatus);
    const auto follow = [this] {
        if (m_statusShown.hasExpired(1000))
            updateStatus();
        else if (!m_countTimer->isActive())
            m_countTimer->start(1250 - int(m_statusShown.elapsed()));
    };
    connect(m_log, &LineLog::countsChanged, this, follow);
    connect(m_recorder, &ValueRecorder::linesChanged, this, follow);
    updateStatus();
}

MainWindow::~MainWindow()
{
    // The line is closed while everything that listens to it is whole; the
    // form, deleted after this window's own parts, then has nothing to tell.
    m_recorder->stop();
    m_session->close();
    m_session->disconnect(this);
}

void MainWindow::noteOpenedTable()
{
    // The form has handled the click: the table it shows is the file's when
    // the file loaded.
    const QString path = std::exchange(m_chosenFile, QString());
    ChannelTable fromFile;
    if (path.isEmpty() || loadRtxFile(path, &fromFile) != RtxLoad::Ok || fromFile != m_form->table())
        return;
    if (const auto blocks = encodeTable(fromFile))
        m_reference = *blocks;
}

void MainWindow::compareReadBack(const QByteArray &blocks)
{
    const auto diffs = m_reference.isEmpty() ? std::nullopt : compareBlocks(m_reference, blocks);
    if (!diffs) {
        m_tableLabel->hide();
        return;
    }
    if (diffs->isEmpty()) {
        m_tableLabel->setText(tr("与文件相同"));
        m_tableLabel->setToolTip({});
    } else {
        m_tableLabel->setText(tr("与文件有 %n 处不同", nullptr, int(diffs->size())));
        QStringList lines;
        for (const TableDifference &d : *diffs)
            lines.append(describeDifference(d));
        m_tableLabel->setToolTip(lines.join(QLatin1Char('\n')));
    }
    m_tableLabel->show();
}

void MainWindow::updateStatus()
{
    m_statusShown.start();
    m_countTimer->stop();
    DeviceSession *s = m_session;
    const int number = s->portNumber();
    const QString path = s->devicePath(number);
    m_portLabel->setText(s->lineState() == LineState::Closed
                             ? tr("端口：无")
                             : tr("端口 %1：%2").arg(number).arg(shortName(m_portLabel, path)));
    m_portLabel->setToolTip(s->lineState() == LineState::Closed ? QString() : path);
    if (s->lineState() == LineState::NotResumed) {
        m_lineLabel->setText(s->notResumedForSilence() ? tr("未恢复：设备无应答") : tr("未恢复：不是原设备"));
        m_lineLabel->setToolTip(s->notResumedWhy());
    } else if (s->lineState() == LineState::Open && m_resumed) {
        // Which device a reconnection took: where none was known before the
        // loss, any device answering to the number in use was taken.
        m_lineLabel->setText(tr("已重新连接：%1 号设备，显示位数 %2").arg(m_resumed->number).arg(m_resumed->digits));
        m_lineLabel->setToolTip(QString());
    } else {
        m_lineLabel->setText(lineStateText(s->lineState()));
        m_lineLabel->setToolTip(QString());
    }
    m_deviceLabel->setText(tr("设备 %1").arg(s->ledId()));
    m_feedbackLabel->setText(feedbackText(s->feedbackMode()));
    m_countLabel->setText(tr("发送 %1 · 接收 %2 · 丢弃 %3")
                              .arg(m_log->sent()).arg(m_log->taken()).arg(m_log->dropped()));
    fitCounts(m_countLabel);
    const bool recording = m_recorder->isRecording();
    m_recordLabel->setVisible(recording);
    if (recording)
        m_recordLabel->setText(tr("记录：%1，%n 行", nullptr, m_recorder->lines())
                                   .arg(shortName(m_recordLabel, QFileInfo(m_recorder->path()).fileName())));
    m_recordLabel->setToolTip(m_recorder->path());
    m_recordButton->setChecked(recording);
}

TrendWindow *MainWindow::trend()
{
    if (!m_trend)
        m_trend = new TrendWindow(m_session, m_dialogs, this);
    return m_trend;
}

void MainWindow::showTrend()
{
    bringForward(trend());
}

void MainWindow::toggleRecording()
{
    if (m_recorder->isRecording()) {
        m_recorder->stop();
        return;
    }
    // The button stays as it was until a file is chosen.
    updateStatus();
    m_dialogs->saveFileName(this, QString(), tr("CSV 文件 (*.csv)"), [this](const QString &path) {
        QString why;
        if (!path.isEmpty() && !m_recorder->isRecording() && !m_recorder->start(path, &why))
            m_dialogs->message(this, tr("无法创建记录文件。"), Dialogs::Icon::Warning,
                               path + QLatin1Char('\n') + why);
        updateStatus();
    });
}

void MainWindow::showCentred()
{
    adjustSize();
    centreOnScreen(this);
    show();
}

NetworkPortsDialog *MainWindow::networkPorts()
{
    if (!m_networkPorts)
        m_networkPorts = new NetworkPortsDialog(m_session->port(), m_settings, this);
    return m_networkPorts;
}

void MainWindow::showNetworkPorts()
{
    bringForward(networkPorts());
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_portLabel && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        showNetworkPorts();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

LineMonitor *MainWindow::monitor()
{
    if (!m_monitor)
        m_monitor = new LineMonitor(m_lines, m_dialogs, this);
    return m_monitor;
}

void MainWindow::showMonitor()
{
    bringForward(monitor());
}

bool MainWindow::startTrace(const QString &path, QString *why)
{
    if (!m_trace) {
        m_trace = new LineTrace(m_log, this);
        // Told once, in the bar and in the monitor; no box per entry.
        connect(m_trace, &LineTrace::failed, this, [this](const QString &file, const QString &reason) {
            m_traceLabel->setText(tr("跟踪已停止"));
            m_traceLabel->setToolTip(file + QLatin1Char('\n') + reason);
            m_traceLabel->show();
            m_log->note(tr("跟踪文件写入失败，不再记录：%1（%2）").arg(file, reason), true);
        });
    }
    return m_trace->open(path, why);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_form->close();
    m_recorder->stop();
    if (m_monitor)
        m_monitor->close();
    if (m_trend)
        m_trend->close();
    event->accept();
}

}  // namespace vorn
