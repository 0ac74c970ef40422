#include "app/mainformui.h"

#include "protocol/channeltable.h"
#include "link/portmap.h"

#include <QFontDatabase>

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

const QString kDigitsAndMinus = QStringLiteral("0123456789-");
const QString kDigits = QStringLiteral("0123456789");

}  // namespace

void MainFormUi::setupUi(QWidget *form)
{
    form->setObjectName(QStringLiteral("MainForm"));
    form->setWindowTitle(QStringLiteral("VornRT8V1.0 — ") + tr("RT8 参数配置与维护"));
    form->setFont(songti(9));
    form->setFixedSize(px(10950), px(7215));

    // The channel table.
    Frame1 = new QGroupBox(tr("参数配置"), form);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    place(Frame1, 120, 120, 10695, 4455);

    //: Column headings in one label, nine words separated by blanks; each word is drawn over its column.
    //: A heading of more than one word keeps its words together with no-break spaces (U+00A0).
    Label2 = new HeaderLabel(tr("通道   反馈值     下限    上限   小数位  报警启动  启动值1 启动值2    智能设置"), Frame1);
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

        auto *combo = new NamedComboBox(Frame1);
        combo->setObjectName(indexed("KGFormulaCombo", i));
        combo->setFont(songti(14.25));   // before the edit box exists: one font change, not two
        combo->makeEditable();
        combo->setInsertPolicy(QComboBox::NoInsert);
        place(combo, 5400, top, 1215, 405);
        KGFormulaCombo[i] = combo;

        auto button = [&](const char *name, const QString &caption, int left) {
            auto *b = new QPushButton(caption, Frame1);
            b->setObjectName(indexed(name, i));
            place(b, left, top, 495, 375);
            return b;
        };
        //: Smart setting: take the low point (a button 33 pixels wide).
        LCommand[i] = button("LCommand", tr("低"), 8880);
        //: Smart setting: take the high point (a button 33 pixels wide).
        HCommand[i] = button("HCommand", tr("高"), 9480);
        OkCommand[i] = button("OkCommand", tr("OK"), 10080);
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
    auto *lower = new QGroupBox(form);
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

    QGroupBox *feedback = group("Frame3", tr("获取反馈值"), 120, 1575);
    GetCommand[2] = pushButton(feedback, indexed("GetCommand", 2), tr("关闭反馈"), 120, 360, 1335, 375);
    GetCommand[0] = pushButton(feedback, indexed("GetCommand", 0), tr("反馈目标值"), 120, 960, 1335, 375);
    GetCommand[1] = pushButton(feedback, indexed("GetCommand", 1), tr("反馈原始值"), 120, 1560, 1335, 375);

    QGroupBox *display = group("Frame4", tr("LED显示类型"), 1800, 1575);
    SM2TypeCommand[2] = pushButton(display, indexed("SM2TypeCommand", 2), tr("关闭显示"), 120, 360, 1335, 375);
    SM2TypeCommand[0] = pushButton(display, indexed("SM2TypeCommand", 0), tr("显示目标值"), 120, 960, 1335, 375);
    SM2TypeCommand[1] = pushButton(display, indexed("SM2TypeCommand", 1), tr("显示原始值"), 120, 1560, 1335, 375);
    for (int i = 0; i < 3; ++i) {
    }

    QGroupBox *config = group("Frame5", tr("参数配置"), 3480, 1575);
    ReSetCommand = pushButton(config, QStringLiteral("ReSetCommand"), tr("回读配置"), 120, 240, 1335, 375);
    SetCommand = pushButton(config, QStringLiteral("SetCommand"), tr("下载配置"), 120, 720, 1335, 375);
    SaveSetCommand = pushButton(config, QStringLiteral("SaveSetCommand"), tr("保存配置"), 120, 1200, 1335, 375);
    OpenSetCommand = pushButton(config, QStringLiteral("OpenSetCommand"), tr("打开配置"), 120, 1680, 1335, 375);

    QGroupBox *external = group("Frame6", tr("外部数据"), 5160, 1935);
    label(external, indexed("Label3", 3), tr("位置起点"), 120, 300, 855, 195);
    RsAddText[0] = lineEdit(external, indexed("RsAddText", 0), QStringLiteral("46"), 3, 960, 240, 855, 300);
    label(external, indexed("Label3", 2), tr("显示端口"), 120, 570, 855, 255);
    RsAddText[1] = lineEdit(external, indexed("RsAddText", 1), QStringLiteral("1"), 3, 960, 540, 855, 300);
    label(external, indexed("Label3", 0), tr("数据位数"), 120, 870, 855, 255);
    RsAddText[2] = lineEdit(external, indexed("RsAddText", 2), QStringLiteral("4"), 3, 960, 840, 855, 300);
    CMD23Text = lineEdit(external, QStringLiteral("CMD23Text"), QStringLiteral("12345"), 10, 120, 1200, 615, 375);
    CMD23Command = pushButton(external, QStringLiteral("CMD23Command"), tr("显示数字"), 840, 1200, 975, 375);
    CMD24Text[0] = lineEdit(external, indexed("CMD24Text", 0), QStringLiteral("1"), 3, 120, 1680, 255, 360);
    CMD24Text[1] = lineEdit(external, indexed("CMD24Text", 1), QStringLiteral("1"), 3, 480, 1680, 255, 360);
    CMD24Command = pushButton(external, QStringLiteral("CMD24Command"), tr("显示编码"), 840, 1680, 975, 375);

    QGroupBox *control = group("Frame7", tr("控制信息"), 7200, 3375);
    label(control, QStringLiteral("Label1"), tr("通讯端口"), 240, 270, 975, 255);
    RsCombo = new NamedComboBox(control);
    RsCombo->setObjectName(QStringLiteral("RsCombo"));
    RsCombo->makeEditable();
    RsCombo->setInsertPolicy(QComboBox::NoInsert);
    place(RsCombo, 1200, 240, 735, 300);
    GetValShape = new Lamp(control);
    GetValShape->setObjectName(QStringLiteral("GetValShape"));
    GetValShape->setFillColor(QColor(255, 0, 0));   // red: no port opened yet
    GetValShape->setAccessibleName(lampName(GetValShape->fillColor()));
    place(GetValShape, 2520, 240, 495, 375);
    label(control, indexed("Label4", 0), tr("设备编号"), 240, 600, 975, 255);
    LedIDText = lineEdit(control, QStringLiteral("LedIDText"), QStringLiteral("255"), 0, 1200, 592, 735, 270);
    OpenRs232Command = pushButton(control, QStringLiteral("OpenRs232Command"), tr("打开串口"), 2280, 720, 975, 375);
    label(control, indexed("Label4", 1), tr("显示位数"), 240, 900, 855, 240);
    SanLongText = lineEdit(control, QStringLiteral("SanLongText"), QStringLiteral("40"), 3, 1200, 840, 735, 270);
    SeTimeCommand = pushButton(control, QStringLiteral("SeTimeCommand"), tr("同步时间"), 120, 1200, 975, 375);
    FindCommand = pushButton(control, QStringLiteral("FindCommand"), tr("测试连接"), 1200, 1200, 975, 375);
    SetIDCommand = pushButton(control, QStringLiteral("SetIDCommand"), tr("修改编号"), 2280, 1200, 975, 375);
    OpenPowCommand = pushButton(control, QStringLiteral("OpenPowCommand"), tr("开机"), 120, 1680, 975, 375);
    ClosePowCommand = pushButton(control, QStringLiteral("ClosePowCommand"), tr("关机"), 1200, 1680, 975, 375);
    ExitCommand = pushButton(control, QStringLiteral("ExitCommand"), tr("退出"), 2280, 1680, 975, 375);

    nameAndOrder(form);
}

QString MainFormUi::lampName(const QColor &colour)
{
    if (colour == QColor(255, 0, 0))
        return tr("端口未打开");
    if (colour == QColor(0, 255, 0))
        return tr("收到数据");
    return tr("端口已打开");
}

void MainFormUi::nameAndOrder(QWidget *form)
{
    // Each box of the table by channel and column, each row button by
    // channel and action, each box of the lower frames by its label.
    for (int i = 0; i < kChannels; ++i) {
        const QString row = QStringLiteral("%1# ").arg(i);
        LText[i]->setAccessibleName(row + tr("下限"));
        HText[i]->setAccessibleName(row + tr("上限"));
        DotText[i]->setAccessibleName(row + tr("小数位"));
        // Focus goes to the edit box of the combo box, and on Linux a combo
        // box's own name is its text: the edit box carries the name too.
        KGFormulaCombo[i]->setAccessibleName(row + tr("报警启动"));
        KGFormulaCombo[i]->lineEdit()->setAccessibleName(row + tr("报警启动"));
        KGstText[i]->setAccessibleName(row + tr("启动值1"));
        KGedText[i]->setAccessibleName(row + tr("启动值2"));
        LCommand[i]->setAccessibleName(row + tr("智能设置 低"));
        HCommand[i]->setAccessibleName(row + tr("智能设置 高"));
        OkCommand[i]->setAccessibleName(row + tr("智能设置 OK"));
    }
    RsValText->setAccessibleName(tr("反馈值"));
    RsAddText[0]->setAccessibleName(tr("位置起点"));
    RsAddText[1]->setAccessibleName(tr("显示端口"));
    RsAddText[2]->setAccessibleName(tr("数据位数"));
    CMD23Text->setAccessibleName(tr("要显示的数字"));
    CMD24Text[0]->setAccessibleName(tr("第1个编码"));
    CMD24Text[1]->setAccessibleName(tr("第2个编码"));
    RsCombo->setAccessibleName(tr("通讯端口"));
    RsCombo->lineEdit()->setAccessibleName(tr("通讯端口"));
    LedIDText->setAccessibleName(tr("设备编号"));
    SanLongText->setAccessibleName(tr("显示位数"));
    const auto buddy = [form](const QString &label, QWidget *box) {
        if (auto *l = form->findChild<QLabel *>(label))
            l->setBuddy(box);
    };
    buddy(QStringLiteral("Label3(3)"), RsAddText[0]);
    buddy(QStringLiteral("Label3(2)"), RsAddText[1]);
    buddy(QStringLiteral("Label3(0)"), RsAddText[2]);
    buddy(QStringLiteral("Label1"), RsCombo);
    buddy(QStringLiteral("Label4(0)"), LedIDText);
    buddy(QStringLiteral("Label4(1)"), SanLongText);

    // Tab walks the table row by row, left to right, then the lower frames
    // left to right, each from top to bottom. Disabled buttons are passed
    // over.
    QList<QWidget *> order;
    for (int i = 0; i < kChannels; ++i)
        order << LText[i] << HText[i] << DotText[i] << KGFormulaCombo[i] << KGstText[i] << KGedText[i]
              << LCommand[i] << HCommand[i] << OkCommand[i];
    order << GetCommand[2] << GetCommand[0] << GetCommand[1];
    order << SM2TypeCommand[2] << SM2TypeCommand[0] << SM2TypeCommand[1];
    order << ReSetCommand << SetCommand << SaveSetCommand << OpenSetCommand;
    order << RsAddText[0] << RsAddText[1] << RsAddText[2] << CMD23Text << CMD23Command << CMD24Text[0]
          << CMD24Text[1] << CMD24Command;
    order << RsCombo << LedIDText << OpenRs232Command << SanLongText << SeTimeCommand << FindCommand
          << SetIDCommand << OpenPowCommand << ClosePowCommand << ExitCommand;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

}  // namespace vorn
