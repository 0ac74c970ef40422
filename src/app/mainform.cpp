#include "app/mainform.h"

#include "protocol/rtxfile.h"
#include "protocol/requests.h"
#include "link/portmap.h"

#include <cmath>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QRegularExpression>

namespace vorn {

namespace {

const QColor kYellow(255, 255, 0), kGreen(0, 255, 0), kBlack(0, 0, 0), kRed(255, 0, 0);

}  // namespace

MainForm::MainForm(SerialControl *port, Dialogs *dialogs, QWidget *parent)
    : QWidget(parent), m_session(new DeviceSession(port, this)), m_dialogs(dialogs),
      m_clock([] { return QDateTime::currentDateTime(); }), GetValShapeTimer(new QTimer(this))
{
    port->setObjectName(QStringLiteral("VornMsComm"));
    ui.setupUi(this);
    GetValShapeTimer->setObjectName(QStringLiteral("GetValShapeTimer"));
    GetValShapeTimer->setInterval(100);
    wire();
}

MainForm::~MainForm()
{
    m_session->close();
}

void MainForm::wire()
{
    for (int i = 0; i < kChannels; ++i) {
        connect(ui.LCommand[i], &QPushButton::clicked, this, [this, i] { LCommand_Click(i); });
        connect(ui.HCommand[i], &QPushButton::clicked, this, [this, i] { HCommand_Click(i); });
        connect(ui.OkCommand[i], &QPushButton::clicked, this, [this, i] { OkCommand_Click(i); });
    }
    for (int i = 0; i < 3; ++i) {
        connect(ui.GetCommand[i], &QPushButton::clicked, this, [this, i] { GetCommand_Click(i); });
        connect(ui.SM2TypeCommand[i], &QPushButton::clicked, this, [this, i] { SM2TypeCommand_Click(i); });
    }
    connect(ui.ReSetCommand, &QPushButton::clicked, this, &MainForm::ReSetCommand_Click);
    connect(ui.SetCommand, &QPushButton::clicked, this, &MainForm::SetCommand_Click);
    connect(ui.SaveSetCommand, &QPushButton::clicked, this, &MainForm::SaveSetCommand_Click);
    connect(ui.OpenSetCommand, &QPushButton::clicked, this, &MainForm::OpenSetCommand_Click);
    connect(ui.CMD23Command, &QPushButton::clicked, this, &MainForm::CMD23Command_Click);
    connect(ui.CMD24Command, &QPushButton::clicked, this, &MainForm::CMD24Command_Click);
    connect(ui.RsCombo, &QComboBox::currentTextChanged, this, &MainForm::updatePortTip);
    ui.LedIDText->installEventFilter(this);
    connect(ui.OpenRs232Command, &QPushButton::clicked, this, &MainForm::OpenCommPort);
    connect(ui.SeTimeCommand, &QPushButton::clicked, this, &MainForm::SeTimeCommand_Click);
    connect(ui.FindCommand, &QPushButton::clicked, this, &MainForm::FindCommand_Click);
    connect(ui.SetIDCommand, &QPushButton::clicked, this, &MainForm::SetIDCommand_Click);
    connect(ui.OpenPowCommand, &QPushButton::clicked, this, &MainForm::OpenPowCommand_Click);
    connect(ui.ClosePowCommand, &QPushButton::clicked, this, &MainForm::ClosePowCommand_Click);
    // The window may sit inside a larger one (with a status bar): exit closes
    // the top-level window.
    connect(ui.ExitCommand, &QPushButton::clicked, this, [this] { window()->close(); });
    connect(GetValShapeTimer, &QTimer::timeout, this, &MainForm::GetValShapeTimer_Timer);

    connect(m_session, &DeviceSession::discovered, this, &MainForm::showDiscovery);
    connect(m_session, &DeviceSession::tableRead, this, &MainForm::showTable);
    connect(m_session, &DeviceSession::rawValues, this, &MainForm::showRawValues);
    connect(m_session, &DeviceSession::targetRecord, this, &MainForm::showRecord);
    connect(m_session, &DeviceSession::portOpened, this, &MainForm::portOpened);
    connect(m_session, &DeviceSession::portLost, this, &MainForm::portLost);
    connect(m_session, &DeviceSession::refused, this, &MainForm::refused);
}

// ---------------------------------------------------------------- start-up

void MainForm::load()
{
    for (int p = kFirstPort; p <= kLastPort; ++p)
        ui.RsCombo->addItem(QString::number(p));
    ui.RsCombo->setEditText(QStringLiteral("3"));
    m_session->setLedId(255);
    ui.LedIDText->setText(QString::number(m_session->ledId()));
    for (int i = 0; i < kChannels; ++i) {
        ui.KGFormulaCombo[i]->addItems(formulaNames());
        ui.KGFormulaCombo[i]->setEditText(formulaNames().at(0));
    }
    setSmartButtons(false);
    updatePortTip();
    SearchCommPort();
}

void MainForm::centre()
{
    centreOnScreen(this);
}

void MainForm::showCentred()
{
    centre();
    show();
}

void MainForm::closeEvent(QCloseEvent *event)
{
    m_session->close();
    event->accept();
}

// ---------------------------------------------------------------- the line

void MainForm::SearchCommPort()
{
    // Nothing found: the session refuses with its message.
    const int found = m_session->searchPorts();
    if (found == 0)
        return;
    ui.RsCombo->setEditText(QString::number(found));
    OpenCommPort();
}

void MainForm::OpenCommPort()
{
    m_session->openPort(ui.RsCombo->currentText());
}

void MainForm::setLamp(const QColor &colour)
{
    ui.GetValShape->setFillColor(colour);
    ui.GetValShape->setAccessibleName(MainFormUi::lampName(colour));
}

void MainForm::portOpened()
{
    setLamp(kYellow);
    updatePortTip();
}

void MainForm::updatePortTip()
{
    const auto port = readStrictByte(ui.RsCombo->currentText());
    const QString path = port ? m_session->devicePath(*port) : QString();
    ui.RsCombo->setToolTip(path.isEmpty() ? tr("没有这个端口") : path);
}

void MainForm::portLost(const QString &reason)
{
    setLamp(kRed);
    GetValShapeTimer->stop();
    // Told from the event loop once everyone has heard of the loss: the box
    // waits for a click, the log's time stamp and the watching for the
    // device do not. It says what the session is going to do.
    const QString text = m_session->autoReconnect() ? msg::PortLostWatched() : msg::PortLost();
    QTimer::singleShot(0, this, [this, text, reason] { tell(text, Dialogs::Icon::Warning, reason); });
}

void MainForm::refused(const Refusal &why)
{
    tell(why.text, why.badField ? Dialogs::Icon::Warning : Dialogs::Icon::None, why.detail);
}

void MainForm::GetValShapeTimer_Timer()
{
    setLamp(kBlack);
    GetValShapeTimer->stop();
}

void MainForm::lightLamp()
{
    setLamp(kGreen);
    GetValShapeTimer->start();
}

void MainForm::tell(const QString &text, Dialogs::Icon icon, const QString &detail)
{
    m_dialogs->message(isVisible() ? this : nullptr, text, icon, detail);
}

// ---------------------------------------------------------------- device number

void MainForm::commitNumber()
{
    if (ui.LedIDText->hasFocus())
        LedIDText_LostFocus();
}

void MainForm::LedIDText_LostFocus()
{
    // Only a whole, non-negative number becomes the device number; anything
    // else puts the current number back in the box.
    const QString t = ui.LedIDText->text().trimmed();
    static const QRegularExpression number(QStringLiteral("^[+]?(\\d+\\.?\\d*|\\.\\d+)([eE][+]?\\d+)?$"));
    const auto v = number.match(t).hasMatch() ? numericValue(t) : std::nullopt;
    if (!v) {
        ui.LedIDText->setText(QString::number(m_session->ledId()));
        return;
    }
    const double rounded = std::nearbyint(*v);
    if (rounded > 255) {
        ui.LedIDText->setText(QStringLiteral("255"));
        m_session->setLedId(255);
        return;
    }
    m_session->setLedId(quint8(rounded));
}

bool MainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui.LedIDText && event->type() == QEvent::FocusOut)
        LedIDText_LostFocus();
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- replies and records

void MainForm::showDiscovery(quint8 number, quint8 digits)
{
    ui.LedIDText->setText(QString::number(number));
    ui.SanLongText->setText(QString::number(digits));
    // The number is written with a blank for its sign, after the blank that
    // ends 找到.
    tell(tr("找到  %1 号设备~！").arg(number), Dialogs::Icon::Information);
}

void MainForm::showTable(const std::array<DecodedChannel, kChannels> &rows)
{
    for (int i = 0; i < kChannels; ++i) {
        const ChannelTexts &t = rows[i].texts;
        ui.LText[i]->setText(t.lower);
        if (rows[i].upperValid)
            ui.HText[i]->setText(t.upper);
        ui.DotText[i]->setText(t.dot);
        ui.KGFormulaCombo[i]->setEditText(t.formula);
        ui.KGstText[i]->setText(t.start1);
        ui.KGedText[i]->setText(t.start2);
    }
    lightLamp();
}

void MainForm::showRawValues(const std::array<int, kChannels> &raw)
{
    QString text;
    for (int i = 0; i < kChannels; ++i)
        text += QString::number(raw[i]) + QLatin1String("\r\n");
    ui.RsValText->setText(text);
    lightLamp();
}

void MainForm::showRecord(const QString &text)
{
    ui.RsValText->setText(text);
    lightLamp();
}

void MainForm::GetRsTimer_Timer()
{
    m_session->pollNow();
}

// ---------------------------------------------------------------- channel table

ChannelTexts MainForm::row(int i) const
{
    return {ui.LText[i]->text(), ui.HText[i]->text(), ui.DotText[i]->text(),
            ui.KGFormulaCombo[i]->currentText(), ui.KGstText[i]->text(), ui.KGedText[i]->text()};
}

ChannelTable MainForm::table() const
{
    ChannelTable t;
    for (int i = 0; i < kChannels; ++i)
        t[i] = row(i);
    return t;
}

void MainForm::setTable(const ChannelTable &t)
{
    for (int i = 0; i < kChannels; ++i) {
        ui.LText[i]->setText(t[i].lower);
        ui.HText[i]->setText(t[i].upper);
        ui.DotText[i]->setText(t[i].dot);
        ui.KGFormulaCombo[i]->setEditText(t[i].formula);
        ui.KGstText[i]->setText(t[i].start1);
        ui.KGedText[i]->setText(t[i].start2);
    }
}

void MainForm::SetCommand_Click()
{
    commitNumber();
    m_session->download(table());
}

void MainForm::ReSetCommand_Click()
{
    commitNumber();
    m_session->readBack();
}

void MainForm::SaveSetCommand_Click()
{
    const ChannelTable t = table();
    QString why;
    const auto bytes = encodeRtx(t, &why);
    if (!bytes) {
        tell(msg::SaveFailed(), Dialogs::Icon::Warning, why);
        return;
    }
    const QStringList cut = rtxCutTexts(t);
    if (!cut.isEmpty() && !m_dialogs->confirm(this, msg::CutWarning(), cut.join(QLatin1Char('\n'))))
        return;
    const QString path = m_dialogs->saveFileName(this, QCoreApplication::applicationDirPath(), rtxDialogFilter());
    if (path.isEmpty())
        return;
    if (!saveRtxFile(path, *bytes, &why))
        tell(msg::SaveFailed(), Dialogs::Icon::Warning, path + QStringLiteral("\n") + why);
}

void MainForm::OpenSetCommand_Click()
{
    const QString path = m_dialogs->openFileName(this, QStringLiteral("."), rtxDialogFilter());
    if (path.isEmpty())
        return;
    ChannelTable t;
    QString why;
    if (loadRtxFile(path, &t, &why) != RtxLoad::Ok) {
        tell(msg::LoadFailed(), Dialogs::Icon::Warning, path + QStringLiteral("\n") + why);
        return;
    }
    setTable(t);
}

// ---------------------------------------------------------------- live feedback

void MainForm::setSmartButtons(bool enabled)
{
    for (int i = 0; i < kChannels; ++i) {
        ui.LCommand[i]->setEnabled(enabled);
        ui.HCommand[i]->setEnabled(enabled);
        ui.OkCommand[i]->setEnabled(enabled);
    }
}

void MainForm::GetCommand_Click(int index)
{
    commitNumber();
    // Smart setting works on raw readings only.
    if (m_session->setFeedback(FeedbackMode(index)))
        setSmartButtons(FeedbackMode(index) == FeedbackMode::Raw);
}

void MainForm::LCommand_Click(int index)
{
    m_session->armCapture(CaptureState::kLow, index);
}

void MainForm::HCommand_Click(int index)
{
    m_session->armCapture(CaptureState::kHigh, index);
}

void MainForm::OkCommand_Click(int index)
{
    commitNumber();
    m_session->smartSetting(index, row(index));
}

// ---------------------------------------------------------------- display

void MainForm::SM2TypeCommand_Click(int index)
{
    commitNumber();
    m_session->setDisplayMode(index);
}

void MainForm::CMD23Command_Click()
{
    commitNumber();
    m_session->showNumber(ui.RsAddText[0]->text(), ui.RsAddText[1]->text(), ui.RsAddText[2]->text(),
                          ui.CMD23Text->text());
}

void MainForm::CMD24Command_Click()
{
    commitNumber();
    m_session->showCode(ui.RsAddText[0]->text(), ui.RsAddText[1]->text(), ui.CMD24Text[0]->text(),
                        ui.CMD24Text[1]->text());
}

// ---------------------------------------------------------------- housekeeping

void MainForm::FindCommand_Click()
{
    commitNumber();
    m_session->connectionTest();
}

void MainForm::SetIDCommand_Click()
{
    commitNumber();
    m_session->renumber(ui.SanLongText->text());
}

void MainForm::OpenPowCommand_Click()
{
    commitNumber();
    m_session->setPower(true);
}

void MainForm::ClosePowCommand_Click()
{
    commitNumber();
    m_session->setPower(false);
}

void MainForm::SeTimeCommand_Click()
{
    commitNumber();
    m_session->setClock(m_clock());
}

}  // namespace vorn
