#pragma once
// Message boxes and file dialogs for tests: records every box, answers from a
// script, never blocks.

#include "app/dialogs.h"

namespace vorn {

class ScriptedDialogs : public Dialogs
{
public:
    struct Shown { QString text; Icon icon; QString detail; };
    QList<Shown> shown;
    QStringList texts() const
    {
        QStringList t;
        for (const Shown &s : shown)
            t.append(s.text);
        return t;
    }
    bool confirmAnswer = true;
    QString nextOpen, nextSave;        // names the dialogs return
    QString lastOpenDir, lastSaveDir, lastFilter;

    void message(QWidget *, const QString &text, Icon icon, const QString &detail) override
    { shown.append({text, icon, detail}); }
    bool confirm(QWidget *, const QString &text, const QString &detail) override
    { shown.append({text, Icon::Warning, detail}); return confirmAnswer; }
    QString openFileName(QWidget *, const QString &dir, const QString &filter) override
    { lastOpenDir = dir; lastFilter = filter; return nextOpen; }
    QString saveFileName(QWidget *, const QString &dir, const QString &filter) override
    { lastSaveDir = dir; lastFilter = filter; return nextSave; }
};

}  // namespace vorn
