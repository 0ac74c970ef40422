#include "app/mainform.h"

#include "channels/rtxfile.h"
#include "control/requests.h"
#include "link/frame.h"
#include "link/portmap.h"

#include <cmath>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QRegularExpression>
#include <QScreen>

namespace vorn {

namespace {

// Design positions are in twips, 15 to a pixel.
int px(int twips) { return (twips + 7) / 15; }

void place(QWidget *w, int l, int t, int width, int height)
{
    w->setGeometry(px(l), px(t), px(width), px(height));
}

// The window's 宋体, or the nearest font this system has. Looked up once, in
// the list of installed families: asking the font database about a family
// the system lacks makes fontconfig work out a substitute for it, some 4
// million instructions for the three names tried before Noto on Linux.
QString songtiFamily()
{
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char *name : {"SimSun", "宋体", "NSimSun", "Noto Serif CJK SC", "Noto Sans CJK SC",
                                 "WenQuanYi Zen Hei"}) {
            const QString f = QString::fromUtf8(name);
            if (installed.contains(f, Qt::CaseInsensitive))
                return f;
        }
        return QString();
    }();
    return family;
}

QFont songti(double points)
{
    QFont f;
    if (!songtiFamily().isEmpty())
        f.setFamily(songtiFamily());
    f.setPointSizeF(points);
    f.setBold(true);
    return f;
}

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(i);
}

const QColor kRed(255, 0, 0), kYellow(255, 255, 0), kGreen(0, 255, 0), kBlack(0, 0, 0);

const QString kDigitsAndMinus = QStringLiteral("0123456789-");
const QString kDigits = QStringLiteral("0123456789");

}  // namespace

MainForm::MainForm(SerialControl *port, Dialogs *dialogs, QWidget *parent)
    : QWidget(parent), m_port(port), m_dialogs(dialogs),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("VornRT8V1.0 — RT8 参数配置与维护"));
    setFont(songti(9));
    setFixedSize(px(10950), px(7215));
    m_port->setObjectName(QStringLiteral("VornMsComm"));
    buildControls();
    connect(m_port, &SerialControl::onComm, this, &MainForm::VornMsComm_OnComm);
    connect(m_port, &SerialControl::portLost, this, &MainForm::onPortLost);
}

MainForm::~MainForm()
{
    if (m_port->isOpen())
        m_port->close();
}

void MainForm::buildControls()
{
    // The channel table.
    Frame1 = new QGroupBox(QStringLiteral("参数配置"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    place(Frame1, 120, 120, 10695, 4455);

    Label2 = new HeaderLabel(QStringLiteral("通道   反馈值     下限    上限   小数位  报警启动  启动值1 启动值2    智能设置"), Frame1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(songti(12));
    place(Label2, 120, 240, 10455, 375);

    Label5 = new RowLabel(QStringLiteral("0# 1# 2# 3# 4# 5# 6# 7# 8# 9#"), Frame1);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setFont(songti(18));
    place(Label5, 120, 600, 495, 3705);   // tall enough for the tenth row at this font

    RsValText = new FeedbackBox(Frame1);
    RsValText->setObjectName(QStringLiteral("RsValText"));
    RsValText->setFont(songti(18));
    place(RsValText, 720, 600, 1335, 3705);

    static constexpr int kButtonTops[10] = {600, 972, 1344, 1716, 2088, 2460, 2832, 3204, 3576, 3945};
    for (int i = 0; i < kChannels; ++i) {
        const int top = kButtonTops[i];
        auto edit = [&](const char *name, int left, const QString &allowed, int max, const QString &text) {
            auto *e = new FilteredEdit(allowed, max, Frame1);
            e->setObjectName(indexed(name, i));
            e->setFont(songti(15));
            e->setTextMargins(0, 0, 0, 0);
            e->setText(text);
            place(e, left, top, 1020, 420);
            return e;
        };
        LText[i] = edit("LText", 2160, kDigitsAndMinus, 5, QStringLiteral("0"));
        HText[i] = edit("HText", 3240, kDigitsAndMinus, 5, QStringLiteral("1000"));
        DotText[i] = edit("DotText", 4320, kDigits, 1, QStringLiteral("1"));
        KGstText[i] = edit("KGstText", 6720, kDigitsAndMinus, 5, QStringLiteral("0"));
        KGedText[i] = edit("KGedText", 7800, kDigitsAndMinus, 5, QStringLiteral("1000"));

        auto *combo = new QComboBox(Frame1);
        combo->setObjectName(indexed("KGFormulaCombo", i));
        combo->setFont(songti(14.25));   // before the edit box exists: one font change, not two
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        place(combo, 5400, top, 1215, 405);
        KGFormulaCombo[i] = combo;

        auto button = [&](const char *name, const QString &caption, int left) {
            auto *b = new QPushButton(caption, Frame1);
            b->setObjectName(indexed(name, i));
            place(b, left, top, 495, 375);
            return b;
        };
        LCommand[i] = button("LCommand", QStringLiteral("低"), 8880);
        HCommand[i] = button("HCommand", QStringLiteral("高"), 9480);
        OkCommand[i] = button("OkCommand", QStringLiteral("OK"), 10080);
        connect(LCommand[i], &QPushButton::clicked, this, [this, i] { LCommand_Click(i); });
        connect(HCommand[i], &QPushButton::clicked, this, [this, i] { HCommand_Click(i); });
        connect(OkCommand[i], &QPushButton::clicked, this, [this, i] { OkCommand_Click(i); });
    }
    // Each header word over its column; 智能设置 over the three buttons.
    auto column = [](const QWidget *first, const QWidget *last) {
        return std::pair{first->x(), last->x() + last->width()};
    };
    Label2->setColumns({column(Label5, Label5), column(RsValText, RsValText), column(LText[0], LText[0]),
                        column(HText[0], HText[0]), column(DotText[0], DotText[0]),
                        column(KGFormulaCombo[0], KGFormulaCombo[0]), column(KGstText[0], KGstText[0]),
                        column(KGedText[0], KGedText[0]), column(LCommand[0], OkCommand[0])});

    // The lower frame and its five groups.
    auto *lower = new QGroupBox(this);
    lower->setObjectName(QStringLiteral("Frame2"));
    place(lower, 120, 4560, 10695, 2535);
    auto group = [&](const char *name, const QString &caption, int left, int width) {
        auto *g = new QGroupBox(caption, lower);
        g->setObjectName(QLatin1String(name));
        place(g, left, 240, width, 2175);
        return g;
    };
    auto pushButton = [&](QWidget *parent, const QString &name, const QString &caption,
                          int l, int t, int w, int h) {
        auto *b = new QPushButton(caption, parent);
        b->setObjectName(name);
        place(b, l, t, w, h);
        return b;
    };
    auto label = [&](QWidget *parent, const QString &name, const QString &caption,
                     int l, int t, int w, int h) {
        auto *lb = new QLabel(caption, parent);
        lb->setObjectName(name);
        place(lb, l, t, w, h);
        return lb;
    };
    auto lineEdit = [&](QWidget *parent, const QString &name, const QString &text, int max,
                        int l, int t, int w, int h) {
        auto *e = new QLineEdit(text, parent);
        e->setObjectName(name);
        if (max > 0)
            e->setMaxLength(max);
        e->setTextMargins(0, 0, 0, 0);
        place(e, l, t, w, h);
        return e;
    };

    QGroupBox *feedback = group("Frame3", QStringLiteral("获取反馈值"), 120, 1575);
    GetCommand[2] = pushButton(feedback, indexed("GetCommand", 2), QStringLiteral("关闭反馈"), 120, 360, 1335, 375);
    GetCommand[0] = pushButton(feedback, indexed("GetCommand", 0), QStringLiteral("反馈目标值"), 120, 960, 1335, 375);
    GetCommand[1] = pushButton(feedback, indexed("GetCommand", 1), QStringLiteral("反馈原始值"), 120, 1560, 1335, 375);
    GetRsTimer = new QTimer(this);
    GetRsTimer->setObjectName(QStringLiteral("GetRsTimer"));
    GetRsTimer->setInterval(kPollIntervalMs);
    connect(GetRsTimer, &QTimer::timeout, this, &MainForm::GetRsTimer_Timer);

    QGroupBox *display = group("Frame4", QStringLiteral("LED显示类型"), 1800, 1575);
    SM2TypeCommand[2] = pushButton(display, indexed("SM2TypeCommand", 2), QStringLiteral("关闭显示"), 120, 360, 1335, 375);
    SM2TypeCommand[0] = pushButton(display, indexed("SM2TypeCommand", 0), QStringLiteral("显示目标值"), 120, 960, 1335, 375);
    SM2TypeCommand[1] = pushButton(display, indexed("SM2TypeCommand", 1), QStringLiteral("显示原始值"), 120, 1560, 1335, 375);
    for (int i = 0; i < 3; ++i) {
        connect(GetCommand[i], &QPushButton::clicked, this, [this, i] { GetCommand_Click(i); });
        connect(SM2TypeCommand[i], &QPushButton::clicked, this, [this, i] { SM2TypeCommand_Click(i); });
    }

    QGroupBox *config = group("Frame5", QStringLiteral("参数配置"), 3480, 1575);
    ReSetCommand = pushButton(config, QStringLiteral("ReSetCommand"), QStringLiteral("回读配置"), 120, 240, 1335, 375);
    SetCommand = pushButton(config, QStringLiteral("SetCommand"), QStringLiteral("下载配置"), 120, 720, 1335, 375);
    SaveSetCommand = pushButton(config, QStringLiteral("SaveSetCommand"), QStringLiteral("保存配置"), 120, 1200, 1335, 375);
    OpenSetCommand = pushButton(config, QStringLiteral("OpenSetCommand"), QStringLiteral("打开配置"), 120, 1680, 1335, 375);
    connect(ReSetCommand, &QPushButton::clicked, this, &MainForm::ReSetCommand_Click);
    connect(SetCommand, &QPushButton::clicked, this, &MainForm::SetCommand_Click);
    connect(SaveSetCommand, &QPushButton::clicked, this, &MainForm::SaveSetCommand_Click);
    connect(OpenSetCommand, &QPushButton::clicked, this, &MainForm::OpenSetCommand_Click);

    QGroupBox *external = group("Frame6", QStringLiteral("外部数据"), 5160, 1935);
    label(external, indexed("Label3", 3), QStringLiteral("位置起点"), 120, 300, 855, 195);
    RsAddText[0] = lineEdit(external, indexed("RsAddText", 0), QStringLiteral("46"), 3, 960, 240, 855, 300);
    label(external, indexed("Label3", 2), QStringLiteral("显示端口"), 120, 570, 855, 255);
    RsAddText[1] = lineEdit(external, indexed("RsAddText", 1), QStringLiteral("1"), 3, 960, 540, 855, 300);
    label(external, indexed("Label3", 0), QStringLiteral("数据位数"), 120, 870, 855, 255);
    RsAddText[2] = lineEdit(external, indexed("RsAddText", 2), QStringLiteral("4"), 3, 960, 840, 855, 300);
    CMD23Text = lineEdit(external, QStringLiteral("CMD23Text"), QStringLiteral("12345"), 10, 120, 1200, 615, 375);
    CMD23Command = pushButton(external, QStringLiteral("CMD23Command"), QStringLiteral("显示数字"), 840, 1200, 975, 375);
    CMD24Text[0] = lineEdit(external, indexed("CMD24Text", 0), QStringLiteral("1"), 3, 120, 1680, 255, 360);
    CMD24Text[1] = lineEdit(external, indexed("CMD24Text", 1), QStringLiteral("1"), 3, 480, 1680, 255, 360);
    CMD24Command = pushButton(external, QStringLiteral("CMD24Command"), QStringLiteral("显示编码"), 840, 1680, 975, 375);
    connect(CMD23Command, &QPushButton::clicked, this, &MainForm::CMD23Command_Click);
    connect(CMD24Command, &QPushButton::clicked, this, &MainForm::CMD24Command_Click);

    QGroupBox *control = group("Frame7", QStringLiteral("控制信息"), 7200, 3375);
    label(control, QStringLiteral("Label1"), QStringLiteral("通讯端口"), 240, 270, 975, 255);
    RsCombo = new QComboBox(control);
    RsCombo->setObjectName(QStringLiteral("RsCombo"));
    RsCombo->setEditable(true);
    RsCombo->setInsertPolicy(QComboBox::NoInsert);
    place(RsCombo, 1200, 240, 735, 300);
    connect(RsCombo, &QComboBox::currentTextChanged, this, &MainForm::updatePortTip);
    GetValShape = new Lamp(control);
    GetValShape->setObjectName(QStringLiteral("GetValShape"));
    GetValShape->setFillColor(kRed);
    place(GetValShape, 2520, 240, 495, 375);
    label(control, indexed("Label4", 0), QStringLiteral("设备编号"), 240, 600, 975, 255);
    LedIDText = lineEdit(control, QStringLiteral("LedIDText"), QStringLiteral("255"), 0, 1200, 592, 735, 270);
    LedIDText->installEventFilter(this);
    OpenRs232Command = pushButton(control, QStringLiteral("OpenRs232Command"), QStringLiteral("打开串口"), 2280, 720, 975, 375);
    label(control, indexed("Label4", 1), QStringLiteral("显示位数"), 240, 900, 855, 240);
    SanLongText = lineEdit(control, QStringLiteral("SanLongText"), QStringLiteral("40"), 3, 1200, 840, 735, 270);
    SeTimeCommand = pushButton(control, QStringLiteral("SeTimeCommand"), QStringLiteral("同步时间"), 120, 1200, 975, 375);
    FindCommand = pushButton(control, QStringLiteral("FindCommand"), QStringLiteral("测试连接"), 1200, 1200, 975, 375);
    SetIDCommand = pushButton(control, QStringLiteral("SetIDCommand"), QStringLiteral("修改编号"), 2280, 1200, 975, 375);
    OpenPowCommand = pushButton(control, QStringLiteral("OpenPowCommand"), QStringLiteral("开机"), 120, 1680, 975, 375);
    ClosePowCommand = pushButton(control, QStringLiteral("ClosePowCommand"), QStringLiteral("关机"), 1200, 1680, 975, 375);
    ExitCommand = pushButton(control, QStringLiteral("ExitCommand"), QStringLiteral("退出"), 2280, 1680, 975, 375);
    GetValShapeTimer = new QTimer(this);
    GetValShapeTimer->setObjectName(QStringLiteral("GetValShapeTimer"));
    GetValShapeTimer->setInterval(100);
    connect(GetValShapeTimer, &QTimer::timeout, this, &MainForm::GetValShapeTimer_Timer);
    connect(OpenRs232Command, &QPushButton::clicked, this, &MainForm::OpenCommPort);
    connect(SeTimeCommand, &QPushButton::clicked, this, &MainForm::SeTimeCommand_Click);
    connect(FindCommand, &QPushButton::clicked, this, &MainForm::FindCommand_Click);
    connect(SetIDCommand, &QPushButton::clicked, this, &MainForm::SetIDCommand_Click);
    connect(OpenPowCommand, &QPushButton::clicked, this, &MainForm::OpenPowCommand_Click);
    connect(ClosePowCommand, &QPushButton::clicked, this, &MainForm::ClosePowCommand_Click);
    connect(ExitCommand, &QPushButton::clicked, this, &QWidget::close);
}

// ---------------------------------------------------------------- start-up

void MainForm::load()
{
    for (int p = kFirstPort; p <= kLastPort; ++p)
        RsCombo->addItem(QString::number(p));
    RsCombo->setEditText(QStringLiteral("3"));
    m_ledId = 255;
    LedIDText->setText(QString::number(m_ledId));
    for (int i = 0; i < kChannels; ++i) {
        KGFormulaCombo[i]->addItems(formulaNames());
        KGFormulaCombo[i]->setEditText(formulaNames().at(0));
    }
    setSmartButtons(false);
    updatePortTip();
    SearchCommPort();
}

void MainForm::centre()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect avail = screen->geometry();
    const QSize frame = frameGeometry().size().isValid() ? frameGeometry().size() : size();
    move(avail.x() + (avail.width() - frame.width()) / 2, avail.y() + (avail.height() - frame.height()) / 2);
}

void MainForm::closeEvent(QCloseEvent *event)
{
    if (m_port->isOpen())
        m_port->close();
    GetRsTimer->stop();
    event->accept();
}

// ---------------------------------------------------------------- port

void MainForm::SearchCommPort()
{
    int found = 0;
    for (int p = kFirstPort; p <= kLastPort; ++p) {
        m_port->setCommPort(p);
        const int r = m_port->open();
        if (r == SerialControl::kErrNoSuchPort || r == SerialControl::kErrPortInUse) {
            m_port->close();
            continue;
        }
        found = p;
        break;
    }
    if (found == 0) {
        tell(msg::NoPort);
        return;
    }
    RsCombo->setEditText(QString::number(found));
    OpenCommPort();
}

void MainForm::OpenCommPort()
{
    if (m_port->isOpen())
        m_port->close();
    const auto port = readStrictByte(RsCombo->currentText());
    if (!port || *port < kFirstPort || *port > kLastPort) {
        tell(msg::OpenError, Dialogs::Icon::None,
             QStringLiteral("“%1”不是 1 到 16 之间的端口号。").arg(RsCombo->currentText()));
        return;
    }
    m_port->setCommPort(*port);
    m_port->setSettings(QStringLiteral("38400,n,8,1"));
    m_port->setOutBufferSize(2048);
    if (m_port->open() != SerialControl::kOpened) {
        tell(msg::OpenError, Dialogs::Icon::None, m_port->errorText());
        return;
    }
    m_portLostShown = false;
    GetValShape->setFillColor(kYellow);
    updatePortTip();
}

void MainForm::updatePortTip()
{
    const auto port = readStrictByte(RsCombo->currentText());
    const QString path = port ? m_port->devicePath(*port) : QString();
    RsCombo->setToolTip(path.isEmpty() ? QStringLiteral("没有这个端口") : path);
}

void MainForm::onPortLost(const QString &reason)
{
    GetValShape->setFillColor(kRed);
    GetValShapeTimer->stop();
    if (m_portLostShown)
        return;
    m_portLostShown = true;
    tell(msg::PortLost, Dialogs::Icon::Warning, reason);
}

void MainForm::GetValShapeTimer_Timer()
{
    GetValShape->setFillColor(kBlack);
    GetValShapeTimer->stop();
}

void MainForm::lightLamp()
{
    GetValShape->setFillColor(kGreen);
    GetValShapeTimer->start();
}

void MainForm::tell(const QString &text, Dialogs::Icon icon, const QString &detail)
{
    m_dialogs->message(isVisible() ? this : nullptr, text, icon, detail);
}

QByteArray MainForm::frame(quint8 code, const QByteArray &payload)
{
    // A click may come without the number box losing focus (a shortcut, a
    // click from code); the number typed must still be the one used.
    if (LedIDText->hasFocus())
        LedIDText_LostFocus();
    return buildFrame(m_ledId, code, payload);
}

bool MainForm::send(const QByteArray &f, const QString &failText)
{
    if (!m_port->isOpen()) {
        tell(failText.isEmpty() ? msg::NotOpen : failText, Dialogs::Icon::None,
             failText.isEmpty() ? QString() : msg::NotOpen);
        return false;
    }
    if (!m_port->output(f)) {
        tell(failText.isEmpty() ? msg::WriteFailed : failText, Dialogs::Icon::None, m_port->errorText());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- device number

void MainForm::LedIDText_LostFocus()
{
    // Only a whole, non-negative number becomes the device number; anything
    // else puts the current number back in the box.
    const QString t = LedIDText->text().trimmed();
    static const QRegularExpression number(QStringLiteral("^[+]?(\\d+\\.?\\d*|\\.\\d+)([eE][+]?\\d+)?$"));
    const auto v = number.match(t).hasMatch() ? numericValue(t) : std::nullopt;
    if (!v) {
        LedIDText->setText(QString::number(m_ledId));
        return;
    }
    const double rounded = std::nearbyint(*v);
    if (rounded > 255) {
        LedIDText->setText(QStringLiteral("255"));
        m_ledId = 255;
        return;
    }
    m_ledId = quint8(rounded);
}

bool MainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == LedIDText && event->type() == QEvent::FocusOut)
        LedIDText_LostFocus();
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- receiving

void MainForm::VornMsComm_OnComm()
{
    handleReceiveEvent(*m_port, *this);
}

void MainForm::discoveryReply(quint8 number, quint8 digits)
{
    m_ledId = number;
    LedIDText->setText(QString::number(number));
    SanLongText->setText(QString::number(digits));
    // The number is written with a blank for its sign, after the blank that
    // ends 找到.
    tell(QStringLiteral("找到  %1 号设备~！").arg(number), Dialogs::Icon::Information);
}

void MainForm::readBackReply(const std::array<DecodedChannel, kChannels> &rows)
{
    for (int i = 0; i < kChannels; ++i) {
        const ChannelTexts &t = rows[i].texts;
        LText[i]->setText(t.lower);
        if (rows[i].upperValid)
            HText[i]->setText(t.upper);
        DotText[i]->setText(t.dot);
        KGFormulaCombo[i]->setEditText(t.formula);
        KGstText[i]->setText(t.start1);
        KGedText[i]->setText(t.start2);
    }
    lightLamp();
}

void MainForm::rawValueReply(const std::array<int, kChannels> &raw)
{
    QString text;
    for (int i = 0; i < kChannels; ++i)
        text += QString::number(raw[i]) + QLatin1String("\r\n");
    m_capture.apply(raw);
    RsValText->setText(text);
    lightLamp();
}

void MainForm::GetRsTimer_Timer()
{
    QString text;
    if (m_poller.tick(*m_port, &text) == FeedbackPoller::Tick::Taken) {
        RsValText->setText(text);
        lightLamp();
    }
}

// ---------------------------------------------------------------- channel table

ChannelTexts MainForm::row(int i) const
{
    return {LText[i]->text(), HText[i]->text(), DotText[i]->text(),
            KGFormulaCombo[i]->currentText(), KGstText[i]->text(), KGedText[i]->text()};
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
        LText[i]->setText(t[i].lower);
        HText[i]->setText(t[i].upper);
        DotText[i]->setText(t[i].dot);
        KGFormulaCombo[i]->setEditText(t[i].formula);
        KGstText[i]->setText(t[i].start1);
        KGedText[i]->setText(t[i].start2);
    }
}

void MainForm::SetCommand_Click()
{
    int bad = -1;
    const auto payload = encodeTable(table(), &bad);
    if (!payload) {
        tell(msg::DownloadError, Dialogs::Icon::None,
             QStringLiteral("%1# 通道的参数无效，没有发送任何数据。").arg(bad));
        return;
    }
    send(frame(cmd::Download, *payload), msg::DownloadError);
}

void MainForm::ReSetCommand_Click()
{
    if (!send(frame(cmd::ReadBack, QByteArray(1, '\0'))))
        return;
    GetRsTimer->stop();
    m_port->setRThreshold(kReadBackReplyLength);
    m_port->clearInput();
}

void MainForm::SaveSetCommand_Click()
{
    const ChannelTable t = table();
    QString why;
    const auto bytes = encodeRtx(t, &why);
    if (!bytes) {
        tell(msg::SaveFailed, Dialogs::Icon::Warning, why);
        return;
    }
    const QStringList cut = rtxCutTexts(t);
    if (!cut.isEmpty() && !m_dialogs->confirm(this, msg::CutWarning, cut.join(QLatin1Char('\n'))))
        return;
    const QString path = m_dialogs->saveFileName(this, QCoreApplication::applicationDirPath(), rtxDialogFilter());
    if (path.isEmpty())
        return;
    if (!saveRtxFile(path, *bytes, &why))
        tell(msg::SaveFailed, Dialogs::Icon::Warning, path + QStringLiteral("\n") + why);
}

void MainForm::OpenSetCommand_Click()
{
    const QString path = m_dialogs->openFileName(this, QStringLiteral("."), rtxDialogFilter());
    if (path.isEmpty())
        return;
    ChannelTable t;
    QString why;
    if (loadRtxFile(path, &t, &why) != RtxLoad::Ok) {
        tell(msg::LoadFailed, Dialogs::Icon::Warning, path + QStringLiteral("\n") + why);
        return;
    }
    setTable(t);
}

// ---------------------------------------------------------------- live feedback

void MainForm::setSmartButtons(bool enabled)
{
    for (int i = 0; i < kChannels; ++i) {
        LCommand[i]->setEnabled(enabled);
        HCommand[i]->setEnabled(enabled);
        OkCommand[i]->setEnabled(enabled);
    }
}

void MainForm::GetCommand_Click(int index)
{
    if (!send(frame(cmd::Feedback, QByteArray(1, char(index)))))
        return;
    m_port->clearInput();
    switch (index) {
    case 0:
        setSmartButtons(false);
        m_port->setRThreshold(0);
        GetRsTimer->start();
        break;
    case 1:
        setSmartButtons(true);
        GetRsTimer->stop();
        m_port->setRThreshold(kRawReplyLength);
        break;
    default:
        setSmartButtons(false);
        m_port->setRThreshold(0);
        GetRsTimer->stop();
        break;
    }
}

void MainForm::LCommand_Click(int index)
{
    m_capture.arm(CaptureState::kLow, index);
}

void MainForm::HCommand_Click(int index)
{
    m_capture.arm(CaptureState::kHigh, index);
}

void MainForm::OkCommand_Click(int index)
{
    const auto payload = smartSettingPayload(index, m_capture.lowRaw[index], m_capture.highRaw[index],
                                             row(index));
    if (!payload) {
        tell(msg::SmartError, Dialogs::Icon::None,
             QStringLiteral("%1# 通道：低点原始值 %2，高点原始值 %3。")
                 .arg(index).arg(m_capture.lowRaw[index]).arg(m_capture.highRaw[index]));
        return;
    }
    send(frame(cmd::SmartSet, *payload), msg::SmartError);
}

// ---------------------------------------------------------------- display

void MainForm::SM2TypeCommand_Click(int index)
{
    send(frame(cmd::DisplayMode, QByteArray(1, char(index))));
}

void MainForm::CMD23Command_Click()
{
    const Payload p = showNumberPayload(RsAddText[0]->text(), RsAddText[1]->text(),
                                        RsAddText[2]->text(), CMD23Text->text());
    if (!p.ok()) {
        tell(p.error, Dialogs::Icon::Warning);
        return;
    }
    send(frame(cmd::ShowNumber, p.bytes));
}

void MainForm::CMD24Command_Click()
{
    const Payload p = showCodePayload(RsAddText[0]->text(), RsAddText[1]->text(),
                                      CMD24Text[0]->text(), CMD24Text[1]->text());
    if (!p.ok()) {
        tell(p.error, Dialogs::Icon::Warning);
        return;
    }
    send(frame(cmd::ShowCode, p.bytes));
}

// ---------------------------------------------------------------- housekeeping

void MainForm::FindCommand_Click()
{
    if (LedIDText->hasFocus())
        LedIDText_LostFocus();
    if (!send(frame(cmd::Discover, QByteArray(1, char(m_ledId)))))
        return;
    m_port->setRThreshold(kDiscoveryReplyLength);
    m_port->clearInput();
}

void MainForm::SetIDCommand_Click()
{
    if (LedIDText->hasFocus())
        LedIDText_LostFocus();
    const Payload p = changeNumberPayload(m_ledId, SanLongText->text());
    if (!p.ok()) {
        tell(p.error, Dialogs::Icon::Warning);
        return;
    }
    send(buildFrame(kBroadcast, cmd::SetNumber, p.bytes));
}

void MainForm::OpenPowCommand_Click()
{
    send(frame(cmd::Power, QByteArray(1, '\x01')));
}

void MainForm::ClosePowCommand_Click()
{
    send(frame(cmd::Power, QByteArray(1, '\x00')));
}

void MainForm::SeTimeCommand_Click()
{
    send(frame(cmd::Clock, clockPayload(m_clock())));
}

}  // namespace vorn
