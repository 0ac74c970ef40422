#pragma once
// The main window: the channel table, the feedback column, the display,
// configuration and control frames, the lamp and the two timers. Handlers
// read their fields, build a frame with the protocol functions and send it
// through the serial control; replies come back through the receiver and the
// record poller.

#include "app/dialogs.h"
#include "app/widgets.h"
#include "channels/smartsetting.h"
#include "link/receiver.h"
#include "link/recordpoller.h"
#include "link/serialcontrol.h"

#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

namespace vorn {

class MainForm : public QWidget, private ReceiverSink
{
    Q_OBJECT
public:
    // The window does not own port or dialogs.
    MainForm(SerialControl *port, Dialogs *dialogs, QWidget *parent = nullptr);
    ~MainForm() override;

    // Fills the lists, sets the start state and searches the ports. Message
    // boxes of the search appear before the window is shown.
    void load();
    // Centres the window on its screen.
    void centre();

    // The PC clock the time request reads; tests fix it.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    quint8 ledId() const { return m_ledId; }
    int lastInCount() const { return m_poller.lastInCount(); }
    const CaptureState &capture() const { return m_capture; }
    SerialControl *port() const { return m_port; }

    ChannelTexts row(int channel) const;
    ChannelTable table() const;
    void setTable(const ChannelTable &table);

    // Handlers, named after their controls and events.
    void SearchCommPort();
    void OpenCommPort();
    void LedIDText_LostFocus();
    void VornMsComm_OnComm();
    void GetRsTimer_Timer();
    void GetValShapeTimer_Timer();
    void SetCommand_Click();
    void ReSetCommand_Click();
    void SaveSetCommand_Click();
    void OpenSetCommand_Click();
    void GetCommand_Click(int index);
    void LCommand_Click(int index);
    void HCommand_Click(int index);
    void OkCommand_Click(int index);
    void SM2TypeCommand_Click(int index);
    void CMD23Command_Click();
    void CMD24Command_Click();
    void FindCommand_Click();
    void SetIDCommand_Click();
    void OpenPowCommand_Click();
    void ClosePowCommand_Click();
    void SeTimeCommand_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // ReceiverSink
    void discoveryReply(quint8 number, quint8 digits) override;
    void readBackReply(const std::array<DecodedChannel, kChannels> &rows) override;
    void rawValueReply(const std::array<int, kChannels> &raw) override;

    void buildControls();
    void lightLamp();
    void setSmartButtons(bool enabled);
    void onPortLost(const QString &reason);
    void updatePortTip();
    // Writes one frame; on a closed port or a failed write tells the operator
    // (with failText, or a text of its own) and returns false.
    bool send(const QByteArray &frame, const QString &failText = {});
    QByteArray frame(quint8 code, const QByteArray &payload);
    void tell(const QString &text, Dialogs::Icon icon = Dialogs::Icon::None, const QString &detail = {});

    SerialControl *m_port;
    Dialogs *m_dialogs;
    std::function<QDateTime()> m_clock;

    quint8 m_ledId = 255;
    FeedbackPoller m_poller;
    CaptureState m_capture;
    bool m_portLostShown = false;

    // Controls, by their names.
    QGroupBox *Frame1 = nullptr;     // 参数配置 (the table)
    HeaderLabel *Label2 = nullptr;
    RowLabel *Label5 = nullptr;
    FeedbackBox *RsValText = nullptr;
    std::array<FilteredEdit *, kChannels> LText{}, HText{}, DotText{}, KGstText{}, KGedText{};
    std::array<QComboBox *, kChannels> KGFormulaCombo{};
    std::array<QPushButton *, kChannels> LCommand{}, HCommand{}, OkCommand{};
    std::array<QPushButton *, 3> GetCommand{}, SM2TypeCommand{};
    QPushButton *ReSetCommand = nullptr, *SetCommand = nullptr, *SaveSetCommand = nullptr,
                *OpenSetCommand = nullptr;
    std::array<QLineEdit *, 3> RsAddText{};
    QLineEdit *CMD23Text = nullptr;
    std::array<QLineEdit *, 2> CMD24Text{};
    QPushButton *CMD23Command = nullptr, *CMD24Command = nullptr;
    QComboBox *RsCombo = nullptr;
    Lamp *GetValShape = nullptr;
    QLineEdit *LedIDText = nullptr, *SanLongText = nullptr;
    QPushButton *OpenRs232Command = nullptr, *SeTimeCommand = nullptr, *FindCommand = nullptr,
                *SetIDCommand = nullptr, *OpenPowCommand = nullptr, *ClosePowCommand = nullptr,
                *ExitCommand = nullptr;
    QTimer *GetRsTimer = nullptr;
    QTimer *GetValShapeTimer = nullptr;
};

// Texts of the window's own messages.
namespace msg {
inline const QString NoPort = QStringLiteral("没有可以使用的通讯端口");
inline const QString OpenError = QStringLiteral("端口打开错误~!");
inline const QString DownloadError = QStringLiteral("设置错误，请检查 设置数据是否正确？");
inline const QString SmartError = QStringLiteral("设置错误，请检查是否有 有效原始值？设置数据是否正确？");
inline const QString NotOpen = QStringLiteral("通讯端口没有打开，命令没有发送。");
inline const QString WriteFailed = QStringLiteral("命令发送失败，通讯端口可能已断开。");
inline const QString PortLost = QStringLiteral("通讯端口已断开。请检查连接线，然后点击“打开串口”重新连接。");
inline const QString SaveFailed = QStringLiteral("配置文件保存失败，原文件未改动。");
inline const QString LoadFailed = QStringLiteral("无法打开配置文件，参数表未改动。");
inline const QString CutWarning = QStringLiteral("部分参数超过文件中的字段宽度，保存时将被截断。仍然保存吗？");
}  // namespace msg

}  // namespace vorn
