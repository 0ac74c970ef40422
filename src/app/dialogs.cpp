#include "app/dialogs.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

namespace vorn {

QString programName()
{
    return QStringLiteral("VornRT8");
}

namespace {

// The detail under a message (file names, the system's reasons, what the
// device sent) is shown as it is, never read as markup.
void setPlainDetail(QMessageBox *box, const QString &detail)
{
    box->setInformativeText(detail);
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
}

}  // namespace

void QtDialogs::message(QWidget *parent, const QString &text, Icon icon, const QString &detail)
{
    QMessageBox box(parent);
    box.setWindowTitle(programName());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    if (!detail.isEmpty())
        setPlainDetail(&box, detail);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool QtDialogs::confirm(QWidget *parent, const QString &text, const QString &detail)
{
    QMessageBox box(parent);
    box.setWindowTitle(programName());
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    if (!detail.isEmpty())
        setPlainDetail(&box, detail);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::openFileName(QWidget *parent, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, QString(), dir, filter);
}

QString QtDialogs::saveFileName(QWidget *parent, const QString &dir, const QString &filter)
{
    // No default suffix: a name typed without .RTX is used as typed.
    return QFileDialog::getSaveFileName(parent, QString(), dir, filter);
}

}  // namespace vorn
