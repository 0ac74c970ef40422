#pragma once
// The program's window: the designed form, unchanged, with a status bar of
// two lines beneath it (port, line state, device number, feedback mode,
// automatic reconnection; frame counts, recording) and the entries to the
// line monitor (F12), the trend and the recording.

#include "app/dialogs.h"
#include "app/mainform.h"
#include "session/linelog.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QSettings;
class QToolButton;

namespace vorn {

class LineModel;
class LineMonitor;
class NetworkPortsDialog;
class TrendWindow;
class ValueRecorder;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The window works the device through the session; settings keeps the
    // operator's choices between runs. It owns neither, nor the dialogs.
    MainWindow(DeviceSession *session, Dialogs *dialogs, QSettings *settings, QWidget *parent = nullptr);
    ~MainWindow() override;

    MainForm *form() const { return m_form; }

    // Loads the form (the port search and its messages) and shows the window
    // centred on its screen.
    void load() { m_form->load(); }
    void showCentred();

    // The line monitor, made on first use.
    LineMonitor *monitor();
    void showMonitor();

    // Appends every line entry to a file; false (and *why) when it cannot be
    // opened.
    bool startTrace(const QString &path, QString *why = nullptr);

    // Network ports for port numbers, made on first use; reached by
    // clicking the port in the status bar.
    NetworkPortsDialog *networkPorts();
    void showNetworkPorts();

    // The trend, made on first use.
    TrendWindow *trend();
    void showTrend();
    // Recording live values: asks for a file and starts, or stops.
    void toggleRecording();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateStatus();
    // After "打开配置" and the file chosen: the table the form now shows,
    // when it came from that file.
    void noteOpenedTable();
    // After a read-back: whether the device holds the table last opened from
    // a file or downloaded.
    void compareReadBack(const QByteArray &blocks);

    DeviceSession *m_session;
    // The form's dialogs: the window's, passed through, noting the file
    // chosen to open.
    QString m_chosenFile;
    std::unique_ptr<Dialogs> m_formDialogs;
    MainForm *m_form;
    Dialogs *m_dialogs;
    QSettings *m_settings;
    LineLog *m_log;
    LineModel *m_lines;
    LineTrace *m_trace = nullptr;
    QPointer<LineMonitor> m_monitor;
    QPointer<TrendWindow> m_trend;
    QPointer<NetworkPortsDialog> m_networkPorts;
    ValueRecorder *m_recorder;
    QLabel *m_portLabel, *m_lineLabel, *m_deviceLabel, *m_feedbackLabel, *m_countLabel, *m_recordLabel;
    QLabel *m_traceLabel;
    QLabel *m_tableLabel;
    // The ten blocks the device should hold: the table last opened from a
    // file or downloaded since the start; empty before either.
    QByteArray m_reference;
    QTimer *m_countTimer;
    QElapsedTimer m_statusShown;
    QCheckBox *m_reconnect;
    // The device a reconnection resumed, shown while that line stays open.
    std::optional<DeviceIdentity> m_resumed;
    QToolButton *m_monitorButton, *m_trendButton, *m_recordButton;
};

}  // namespace vorn
