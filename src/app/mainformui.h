#pragma once
// The main window's controls: each by its name, at its design position
// (twips, 15 to a pixel), with its caption, initial text, font and limits.
// Layout only, as a form designer would write it; what the controls do is
// MainForm's. Captions and names are translated in MainForm's context, with
// the window's messages.

#include "app/widgets.h"
#include "protocol/channeltable.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>

namespace vorn {

class MainFormUi
{
    Q_DECLARE_TR_FUNCTIONS(vorn::MainForm)
public:
    // Creates every control on form and sizes the form.
    void setupUi(QWidget *form);
    // The accessible name of the lamp for its colour: "端口未打开" (red),
    // "端口已打开" (yellow, black), "收到数据" (green).
    static QString lampName(const QColor &colour);

    QGroupBox *Frame1 = nullptr;     // 参数配置 (the table)
    HeaderLabel *Label2 = nullptr;
    RowLabel *Label5 = nullptr;
    FeedbackBox *RsValText = nullptr;
    std::array<FilteredEdit *, kChannels> LText{}, HText{}, DotText{}, KGstText{}, KGedText{};
    std::array<NamedComboBox *, kChannels> KGFormulaCombo{};
    std::array<QPushButton *, kChannels> LCommand{}, HCommand{}, OkCommand{};
    std::array<QPushButton *, 3> GetCommand{}, SM2TypeCommand{};
    QPushButton *ReSetCommand = nullptr, *SetCommand = nullptr, *SaveSetCommand = nullptr,
                *OpenSetCommand = nullptr;
    std::array<QLineEdit *, 3> RsAddText{};
    QLineEdit *CMD23Text = nullptr;
    std::array<QLineEdit *, 2> CMD24Text{};
    QPushButton *CMD23Command = nullptr, *CMD24Command = nullptr;
    NamedComboBox *RsCombo = nullptr;
    Lamp *GetValShape = nullptr;
    QLineEdit *LedIDText = nullptr, *SanLongText = nullptr;
    QPushButton *OpenRs232Command = nullptr, *SeTimeCommand = nullptr, *FindCommand = nullptr,
                *SetIDCommand = nullptr, *OpenPowCommand = nullptr, *ClosePowCommand = nullptr,
                *ExitCommand = nullptr;

private:
    // Names for assistive technology, label buddies, and the Tab order.
    void nameAndOrder(QWidget *form);
};

}  // namespace vorn
