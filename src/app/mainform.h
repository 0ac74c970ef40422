#pragma once
// The main window: the controls (MainFormUi) and what they do. Handlers read
// their fields and ask the device session; the window shows what the session
// reports: replies, records, the line, refusals.

#include "app/dialogs.h"
#include "app/mainformui.h"
#include "protocol/smartsetting.h"
#include "session/devicesession.h"
#include "session/messages.h"

#include <QDateTime>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace vorn {

class MainForm : public QWidget
{
    Q_OBJECT
public:
    // The window does not own port or dialogs; its session works the port.
    MainForm(SerialControl *port, Dialogs *dialogs, QWidget *parent = nullptr);
    ~MainForm() override;

    // Fills the lists, sets the start state and searches the ports. Message
    // boxes of the search appear before the window is shown.
    void load();
    // Centres the window on its screen, from its own size.
    void centre();
    // Centres the window, then shows it.
    void showCentred();

    // The PC clock the time request reads; tests fix it.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    DeviceSession *session() const { return m_session; }
    SerialControl *port() const { return m_session->port(); }
    quint8 ledId() const { return m_session->ledId(); }
    int lastInCount() const { return m_session->lastInCount(); }
    const CaptureState &capture() const { return m_session->capture(); }

    ChannelTexts row(int channel) const;
    ChannelTable table() const;
    void setTable(const ChannelTable &table);

    // Handlers, named after their controls and events.
    void SearchCommPort();
    void OpenCommPort();
    void LedIDText_LostFocus();
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
    void wire();
    // What the session reports.
    void showDiscovery(quint8 number, quint8 digits);
    void showTable(const std::array<DecodedChannel, kChannels> &rows);
    void showRawValues(const std::array<int, kChannels> &raw);
    void showRecord(const QString &text);
    void portOpened();
    void portLost(const QString &reason);
    void refused(const Refusal &why);

    // A click may come without the number box losing focus (a shortcut, a
    // click from code); the number typed must still be the one used.
    void commitNumber();
    void lightLamp();
    void setLamp(const QColor &colour);
    void setSmartButtons(bool enabled);
    void updatePortTip();
    void tell(const QString &text, Dialogs::Icon icon = Dialogs::Icon::None, const QString &detail = {});

    MainFormUi ui;
    DeviceSession *m_session;
    Dialogs *m_dialogs;
    std::function<QDateTime()> m_clock;
    QTimer *GetValShapeTimer;
};

// Texts of the window's own messages, in the language in effect.
namespace msg {
inline QString PortLost()
{
    return MainForm::tr("通讯端口已断开。请检查连接线，然后点击“打开串口”重新连接。");
}
inline QString PortLostWatched()
{
    return MainForm::tr("通讯端口已断开。同一台设备重新接入后，将自动重新打开端口。");
}
inline QString SaveFailed() { return MainForm::tr("配置文件保存失败，原文件未改动。"); }
inline QString LoadFailed() { return MainForm::tr("无法打开配置文件，参数表未改动。"); }
inline QString CutWarning()
{
    return MainForm::tr("部分参数超过文件中的字段宽度，保存时将被截断。仍然保存吗？");
}
}  // namespace msg

}  // namespace vorn
