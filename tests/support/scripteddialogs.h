#pragma once
// Message boxes and file dialogs for tests: records every box as it is shown,
// answers from a script, never blocks. Boxes go through the window's own
// queue (one open at a time, in the order asked); each is closed at once
// unless closeAtOnce is false, in which case it stays open until answer().

#include "app/dialogs.h"

namespace vorn {

class ScriptedDialogs : public QueuedDialogs
{
public:
    struct Shown { QString text; Icon icon; QString detail; bool question = false; };
    // The boxes shown, in the order shown.
    QList<Shown> shown;
    QStringList texts() const
    {
        QStringList t;
        for (const Shown &s : shown)
            t.append(s.text);
        return t;
    }
    bool confirmAnswer = true;   // the answer to a question closed at once
    bool closeAtOnce = true;
    QString nextOpen, nextSave;        // names the dialogs return
    QString lastOpenDir, lastSaveDir, lastFilter;

    // Closes the open box: Yes (or OK), or No.
    void answer(bool yes = true) { closed(yes); }

    // File dialogs answer at once with the names set beforehand.
    void openFileName(QWidget *, const QString &dir, const QString &filter, FileChosen then) override
    { lastOpenDir = dir; lastFilter = filter; then(nextOpen); }
    void saveFileName(QWidget *, const QString &dir, const QString &filter, FileChosen then) override
    { lastSaveDir = dir; lastFilter = filter; then(nextSave); }

protected:
    void present(QWidget *, const Box &box) override
    {
        shown.append({box.text, box.icon, box.detail, box.question});
        if (closeAtOnce)
            closed(!box.question || confirmAnswer);
    }
};

}  // namespace vorn
