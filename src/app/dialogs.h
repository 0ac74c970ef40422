#pragma once
// Every message box and file dialog of the window goes through here, so tests
// can read what the operator would have been told and never block.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace vorn {

class Dialogs
{
public:
    enum class Icon { None, Information, Warning, Critical };
    virtual ~Dialogs() = default;
    // A modal box with an OK button only and the program's name as title.
    virtual void message(QWidget *parent, const QString &text, Icon icon = Icon::None,
                         const QString &detail = {}) = 0;
    // Yes / No; true for Yes.
    virtual bool confirm(QWidget *parent, const QString &text, const QString &detail = {}) = 0;
    // "" when cancelled.
    virtual QString openFileName(QWidget *parent, const QString &dir, const QString &filter) = 0;
    virtual QString saveFileName(QWidget *parent, const QString &dir, const QString &filter) = 0;
};

// The program's name, title of every box.
QString programName();

class QtDialogs : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text, Icon icon, const QString &detail) override;
    bool confirm(QWidget *parent, const QString &text, const QString &detail) override;
    QString openFileName(QWidget *parent, const QString &dir, const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &dir, const QString &filter) override;
};

}  // namespace vorn
