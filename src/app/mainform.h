#pragma once
// The main window: the controls (MainFormUi) and what they do. Handlers read
// their fields and ask the device session; the window shows what the session
// reports: replies, records, the line, refusals.

#include "app/dialogs.h"
#include "app/mainformui.h"
#include "protocol/smartsetting.h"
#include "session/devicesession.h"
#include "session/messages.h"

#include <QTimer>
#include <QWidget>

namespace vorn {

class MainForm : public QWidget
{
    Q_OBJECT
public:
    // The form works the device through the session and shows what it
    // reports; it owns neither the session nor the dialogs.
    MainForm(DeviceSession *session, Dialogs *dialogs, QWidget *parent = nullptr);
    ~MainForm() override;

    // Fills the lists, sets the start state and searches the ports. The
    // search's message boxes are asked for here; the window is shown once
    // they are closed (QueuedDialogs::whenNoBox).
    void load();
    // Centres the window on its screen, from its own size.
    void centre();
    // Centres the window, then shows it.
    void showCentred();

    // The channel table in the grid.
    ChannelTable table() const;
    void setTable(const ChannelTable &table);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // The controls.
    void searchPorts();
    void openPort();
    void takeNumber();
    void downloadTable();
    void readTable();
    void saveTable();
    void openTable();
    void setFeedback(int mode);
    void captureLow(int channel);
    void captureHigh(int channel);
    void applySmartSetting(int channel);
    void setDisplayMode(int mode);
    void showNumber();
    void showCode();
    void findDevice();
    void renumber();
    void powerOn();
    void powerOff();
    void setDeviceClock();
    void dimLamp();

    // What the session reports.
    void showDiscovery(quint8 number, quint8 digits);
    void showTable(const std::array<vorn::DecodedChannel, vorn::kChannels> &rows);
    void showValues(const vorn::LiveValues &values);
    void portOpened();
    void portLost(const QString &reason);
    void refused(const vorn::Refusal &why);
    void updatePortTip();

private:
    void wire();
    ChannelTexts row(int channel) const;
    // A click may come without the number box losing focus (a shortcut, a
    // click from code); the number typed must still be the one used.
    void commitNumber();
    void lightLamp();
    void setLamp(const QColor &colour);
    void setSmartButtons(bool enabled);
    // Saving once any cutting is agreed to: asks for the file, then writes
    // it ("" : nothing is written).
    void saveTableAs(const ChannelTable &table);
    void writeTable(const ChannelTable &table, const QString &path);
    // The file chosen to open ("": nothing changes).
    void loadTable(const QString &path);
    void tell(const QString &text, Dialogs::Icon icon = Dialogs::Icon::None, const QString &detail = {});

    MainFormUi ui;
    DeviceSession *m_session;
    Dialogs *m_dialogs;
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
