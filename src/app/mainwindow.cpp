#include "app/mainwindow.h"

#include "app/linemonitor.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QToolButton>

namespace vorn {

namespace {

const char kReconnectKey[] = "line/autoReconnect";

QLabel *statusLabel(QStatusBar *bar, const char *name)
{
    auto *l = new QLabel(bar);
    l->setObjectName(QLatin1String(name));
    bar->addWidget(l);
    return l;
}

QString lineStateText(LineState s)
{
    switch (s) {
    case LineState::Closed: return QStringLiteral("未打开");
    case LineState::Open: return QStringLiteral("已打开");
    case LineState::Lost: return QStringLiteral("已断开");
    case LineState::Reconnecting: return QStringLiteral("等待重新连接");
    }
    return {};
}

QString feedbackText(FeedbackMode m)
{
    switch (m) {
    case FeedbackMode::Target: return QStringLiteral("反馈：目标值");
    case FeedbackMode::Raw: return QStringLiteral("反馈：原始值");
    case FeedbackMode::Off: break;
    }
    return QStringLiteral("反馈：关闭");
}

}  // namespace

MainWindow::MainWindow(SerialControl *port, Dialogs *dialogs, QSettings *settings, QWidget *parent)
    : QMainWindow(parent), m_form(new MainForm(port, dialogs, this)), m_dialogs(dialogs), m_settings(settings),
      m_log(new LineLog(m_form->session(), this)), m_lines(new LineModel(m_log, this))
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(m_form->windowTitle());
    setCentralWidget(m_form);
    // The designed form keeps its fixed size; the window is the form plus
    // the status bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    m_portLabel = statusLabel(bar, "PortStatus");
    m_lineLabel = statusLabel(bar, "LineStatus");
    m_deviceLabel = statusLabel(bar, "DeviceStatus");
    m_feedbackLabel = statusLabel(bar, "FeedbackStatus");
    m_countLabel = statusLabel(bar, "CountStatus");
    m_reconnect = new QCheckBox(QStringLiteral("自动重连"), bar);
    m_reconnect->setObjectName(QStringLiteral("ReconnectBox"));
    m_reconnect->setToolTip(QStringLiteral("端口断开后，设备重新接入时自动打开并恢复反馈"));
    bar->addPermanentWidget(m_reconnect);
    m_monitorButton = new QToolButton(bar);
    m_monitorButton->setObjectName(QStringLiteral("MonitorButton"));
    m_monitorButton->setText(QStringLiteral("通讯监视"));
    m_monitorButton->setToolTip(QStringLiteral("通讯监视 (F12)"));
    m_monitorButton->setAutoRaise(true);
    bar->addPermanentWidget(m_monitorButton);
    connect(m_monitorButton, &QToolButton::clicked, this, &MainWindow::showMonitor);
    auto *f12 = new QShortcut(QKeySequence(Qt::Key_F12), this);
    connect(f12, &QShortcut::activated, this, &MainWindow::showMonitor);

    DeviceSession *s = session();
    const bool reconnect = !m_settings || m_settings->value(QLatin1String(kReconnectKey), true).toBool();
    s->setAutoReconnect(reconnect);
    m_reconnect->setChecked(reconnect);
    connect(m_reconnect, &QCheckBox::toggled, this, [this](bool on) {
        session()->setAutoReconnect(on);
        if (m_settings)
            m_settings->setValue(QLatin1String(kReconnectKey), on);
    });
    connect(s, &DeviceSession::portOpened, this, &MainWindow::updateStatus);
    connect(s, &DeviceSession::portClosed, this, &MainWindow::updateStatus);
    connect(s, &DeviceSession::lineStateChanged, this, &MainWindow::updateStatus);
    connect(s, &DeviceSession::ledIdChanged, this, &MainWindow::updateStatus);
    connect(s, &DeviceSession::feedbackModeChanged, this, &MainWindow::updateStatus);
    connect(m_log, &LineLog::countsChanged, this, &MainWindow::updateStatus);
    updateStatus();
}

MainWindow::~MainWindow() = default;

void MainWindow::updateStatus()
{
    DeviceSession *s = session();
    const int number = s->portNumber();
    const QString path = s->devicePath(number);
    m_portLabel->setText(s->lineState() == LineState::Closed
                             ? QStringLiteral("端口：无")
                             : QStringLiteral("端口 %1：%2").arg(number).arg(path));
    m_lineLabel->setText(lineStateText(s->lineState()));
    m_deviceLabel->setText(QStringLiteral("设备 %1").arg(s->ledId()));
    m_feedbackLabel->setText(feedbackText(s->feedbackMode()));
    m_countLabel->setText(QStringLiteral("发送 %1 · 接收 %2 · 丢弃 %3")
                              .arg(m_log->sent()).arg(m_log->taken()).arg(m_log->dropped()));
}

void MainWindow::showCentred()
{
    // Centred from its own size before it is shown, so it does not jump.
    adjustSize();
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    show();
}

LineMonitor *MainWindow::monitor()
{
    if (!m_monitor)
        m_monitor = new LineMonitor(m_lines, m_dialogs, this);
    return m_monitor;
}

void MainWindow::showMonitor()
{
    LineMonitor *m = monitor();
    m->show();
    m->raise();
    m->activateWindow();
}

bool MainWindow::startTrace(const QString &path, QString *why)
{
    if (!m_trace)
        m_trace = new LineTrace(m_log, this);
    return m_trace->open(path, why);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_form->close();
    if (m_monitor)
        m_monitor->close();
    event->accept();
}

}  // namespace vorn
