#include "app/mainform.h"

#include "protocol/rtxfile.h"
#include "protocol/requests.h"
#include "link/portmap.h"
#include "session/requestfields.h"

#include <cmath>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QRegularExpression>

namespace vorn {

namespace {

const QColor kYellow(255, 255, 0), kGreen(0, 255, 0), kBlack(0, 0, 0), kRed(255, 0, 0);

}  // namespace

MainForm::MainForm(DeviceSession *session, Dialogs *dialogs, QWidget *parent)
    : QWidget(parent), m_session(session), m_dialogs(dialogs), GetValShapeTimer(new QTimer(this))
{
    ui.setupUi(this);
    GetValShapeTimer->setObjectName(QStringLiteral("GetValShapeTimer"));
    GetValShapeTimer->setInterval(100);
    wire();
}

MainForm::~MainForm() = default;

void MainForm::wire()
{
    for (int i = 0; i < kChannels; ++i) {
        connect(ui.LCommand[i], &QPushButton::clicked, this, [this, i] { captureLow(i); });
        connect(ui.HCommand[i], &QPushButton::clicked, this, [this, i] { captureHigh(i); });
        connect(ui.OkCommand[i], &QPushButton::clicked, this, [this, i] { applySmartSetting(i); });
    }
    for (int i = 0; i < 3; ++i) {
        connect(ui.GetCommand[i], &QPushButton::clicked, this, [this, i] { setFeedback(i); });
        connect(ui.SM2TypeCommand[i], &QPushButton::clicked, this, [this, i] { setDisplayMode(i); });
    }
    connect(ui.ReSetCommand, &QPushButton::clicked, this, &MainForm::readTable);
    connect(ui.SetCommand, &QPushButton::clicked, this, &MainForm::downloadTable);
    connect(ui.SaveSetCommand, &QPushButton::clicked, this, &MainForm::saveTable);
    connect(ui.OpenSetCommand, &QPushButton::clicked, this, &MainForm::openTable);
    connect(ui.CMD23Command, &QPushButton::clicked, this, &MainForm::showNumber);
    connect(ui.CMD24Command, &QPushButton::clicked, this, &MainForm::showCode);
    connect(ui.RsCombo, &QComboBox::currentTextChanged, this, &MainForm::updatePortTip);
    ui.LedIDText->installEventFilter(this);
    connect(ui.OpenRs232Command, &QPushButton::clicked, this, &MainForm::openPort);
    connect(ui.SeTimeCommand, &QPushButton::clicked, this, &MainForm::setDeviceClock);
    connect(ui.FindCommand, &QPushButton::clicked, this, &MainForm::findDevice);
    connect(ui.SetIDCommand, &QPushButton::clicked, this, &MainForm::renumber);
    connect(ui.OpenPowCommand, &QPushButton::clicked, this, &MainForm::powerOn);
    connect(ui.ClosePowCommand, &QPushButton::clicked, this, &MainForm::powerOff);
    // The window may sit inside a larger one (with a status bar): exit closes
    // the top-level window.
    connect(ui.ExitCommand, &QPushButton::clicked, this, [this] { window()->close(); });
    connect(GetValShapeTimer, &QTimer::timeout, this, &MainForm::dimLamp);

    connect(m_session, &DeviceSession::discovered, this, &MainForm::showDiscovery);
    connect(m_session, &DeviceSession::tableRead, this, &MainForm::showTable);
    connect(m_session, &DeviceSession::liveValues, this, &MainForm::showValues);
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
    searchPorts();
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

void MainForm::searchPorts()
{
    // Nothing found: the session refuses with its message.
    const int found = m_session->searchPorts();
    if (found == 0)
        return;
    ui.RsCombo->setEditText(QString::number(found));
    openPort();
}

void MainForm::openPort()
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
    // Told from the event loop once everyone has heard of the loss, after
    // any box asked for on the way (a write that failed); the watching for
    // the device goes on under the box. It says what the session is going
    // to do.
    const QString text = m_session->autoReconnect() ? msg::PortLostWatched() : msg::PortLost();
    QTimer::singleShot(0, this, [this, text, reason] { tell(text, Dialogs::Icon::Warning, reason); });
}

void MainForm::refused(const Refusal &why)
{
    tell(why.text, why.badField ? Dialogs::Icon::Warning : Dialogs::Icon::None, why.detail);
}

void MainForm::dimLamp()
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
        takeNumber();
}

void MainForm::takeNumber()
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
        takeNumber();
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

void MainForm::showValues(const LiveValues &values)
{
    ui.RsValText->setText(values.text());
    lightLamp();
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

void MainForm::downloadTable()
{
    commitNumber();
    m_session->download(table());
}

void MainForm::readTable()
{
    commitNumber();
    m_session->readBack();
}

void MainForm::saveTable()
{
    // The table as it is at the click is the one saved, even if a read-back
    // fills the grid while the question about cutting is open.
    const ChannelTable t = table();
    QString why;
    if (!encodeRtx(t, &why)) {
        tell(msg::SaveFailed(), Dialogs::Icon::Warning, why);
        return;
    }
    const QStringList cut = rtxCutTexts(t);
    if (cut.isEmpty()) {
        saveTableAs(t);
        return;
    }
    // Saved only once Yes is clicked; on No nothing is asked or written.
    m_dialogs->confirm(this, msg::CutWarning(), cut.join(QLatin1Char('\n')), [this, t](bool yes) {
        if (yes)
            saveTableAs(t);
    });
}

void MainForm::saveTableAs(const ChannelTable &t)
{
    m_dialogs->saveFileName(this, QCoreApplication::applicationDirPath(), rtxDialogFilter(),
                            [this, t](const QString &path) { writeTable(t, path); });
}

void MainForm::writeTable(const ChannelTable &t, const QString &path)
{
    QString why;
    const auto cutAccepted = [](const QStringList &) { return true; };
    switch (saveTableToRtx(t, cutAccepted, [&path] { return path; }, &why)) {
    case RtxSave::NotStorable:
        tell(msg::SaveFailed(), Dialogs::Icon::Warning, why);
        break;
    case RtxSave::NotWritten:
        tell(msg::SaveFailed(), Dialogs::Icon::Warning, path + QStringLiteral("\n") + why);
        break;
    case RtxSave::Saved:
    case RtxSave::CutRefused:
    case RtxSave::NoPath:
        break;
    }
}

void MainForm::openTable()
{
    m_dialogs->openFileName(this, QStringLiteral("."), rtxDialogFilter(),
                            [this](const QString &path) { loadTable(path); });
}

void MainForm::loadTable(const QString &path)
{
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

void MainForm::setFeedback(int index)
{
    commitNumber();
    // Smart setting works on raw readings only.
    if (m_session->setFeedback(FeedbackMode(index)))
        setSmartButtons(FeedbackMode(index) == FeedbackMode::Raw);
}

void MainForm::captureLow(int index)
{
    m_session->armCapture(CaptureState::kLow, index);
}

void MainForm::captureHigh(int index)
{
    m_session->armCapture(CaptureState::kHigh, index);
}

void MainForm::applySmartSetting(int index)
{
    commitNumber();
    m_session->smartSetting(index, row(index));
}

// ---------------------------------------------------------------- display

void MainForm::setDisplayMode(int index)
{
    commitNumber();
    m_session->setDisplayMode(index);
}

void MainForm::showNumber()
{
    commitNumber();
    QString why;
    const auto request = readNumberDisplay(ui.RsAddText[0]->text(), ui.RsAddText[1]->text(),
                                           ui.RsAddText[2]->text(), ui.CMD23Text->text(), &why);
    if (request)
        m_session->showNumber(*request);
    else
        m_session->refuseField(why);
}

void MainForm::showCode()
{
    commitNumber();
    QString why;
    const auto request = readCodeDisplay(ui.RsAddText[0]->text(), ui.RsAddText[1]->text(), ui.CMD24Text[0]->text(),
                                         ui.CMD24Text[1]->text(), &why);
    if (request)
        m_session->showCode(*request);
    else
        m_session->refuseField(why);
}

// ---------------------------------------------------------------- housekeeping

void MainForm::findDevice()
{
    commitNumber();
    m_session->connectionTest();
}

void MainForm::renumber()
{
    commitNumber();
    QString why;
    if (const auto digits = readDigitCount(ui.SanLongText->text(), &why))
        m_session->renumber(*digits);
    else
        m_session->refuseField(why);
}

void MainForm::powerOn()
{
    commitNumber();
    m_session->setPower(true);
}

void MainForm::powerOff()
{
    commitNumber();
    m_session->setPower(false);
}

void MainForm::setDeviceClock()
{
    commitNumber();
    m_session->setClock(QDateTime::currentDateTime());
}

}  // namespace vorn
