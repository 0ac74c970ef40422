#pragma once
// Every message box and file dialog of the window goes through here, so tests
// can read what the operator would have been told and answer it.
//
// A message box never runs an event loop of its own: asking for one returns at
// once, the box stays open modal to its window, and what is to follow the box
// (the rest of a sequence, the answer to a question) is handed over as a
// continuation that runs once the box is closed. Replies, timers and the line
// go on underneath, and nothing the session is in the middle of is re-entered.

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace vorn {

class Dialogs
{
public:
    enum class Icon { None, Information, Warning, Critical };
    virtual ~Dialogs() = default;
    // A box with an OK button only and the program's name as title, modal
    // to parent's window (to the program where there is no parent yet).
    // Returns at once; then runs once the box is closed.
    virtual void message(QWidget *parent, const QString &text, Icon icon = Icon::None, const QString &detail = {},
                         std::function<void()> then = {}) = 0;
    // Yes / No, No the default, with a warning icon; answered(true) for Yes,
    // once the box is closed. Returns at once.
    virtual void confirm(QWidget *parent, const QString &text, const QString &detail,
                         std::function<void(bool yes)> answered) = 0;
    // A file to open or to save to, chosen in a dialog modal to parent's
    // window. Returns at once; then(path) once the dialog is closed, "" when
    // it was cancelled.
    using FileChosen = std::function<void(const QString &path)>;
    virtual void openFileName(QWidget *parent, const QString &dir, const QString &filter, FileChosen then) = 0;
    virtual void saveFileName(QWidget *parent, const QString &dir, const QString &filter, FileChosen then) = 0;
};

// The program's name, title of every box.
QString programName();

// Boxes one at a time, in the order they were asked for: a box asked for
// while another is open waits until that one is closed. Boxes never stack,
// and an answer never goes to the wrong question. A box whose window is gone
// before it could be shown is not shown, and what was to follow it does not
// run (it would work on the window that is gone); the next one is shown.
class QueuedDialogs : public Dialogs
{
public:
    struct Box
    {
        bool question = false;   // Yes / No rather than OK
        QString text;
        Icon icon = Icon::None;
        QString detail;
    };

    void message(QWidget *parent, const QString &text, Icon icon = Icon::None, const QString &detail = {},
                 std::function<void()> then = {}) override;
    void confirm(QWidget *parent, const QString &text, const QString &detail,
                 std::function<void(bool yes)> answered) override;

    // Whether a box is open, and how many wait behind it.
    bool boxOpen() const { return m_open.has_value(); }
    int boxesWaiting() const { return int(m_waiting.size()); }
    // Runs then once no box is open or waiting: at once when none is.
    void whenNoBox(std::function<void()> then);

protected:
    // Shows box over parent (nullptr: over nothing) and returns; the box
    // reports its closing through closed().
    virtual void present(QWidget *parent, const Box &box) = 0;
    // The open box was closed: yes for Yes (OK counts as Yes). Its
    // continuation runs, then the next box waiting is shown.
    void closed(bool yes);
    // The open box went without an answer (its window was deleted): no
    // continuation runs; the next box waiting is shown.
    void dropped();

private:
    struct Asked
    {
        QPointer<QWidget> parent;
        bool hadParent = false;
        Box box;
        std::function<void(bool)> then;
    };
    void ask(QWidget *parent, Box box, std::function<void(bool)> then);
    void showNext();

    std::deque<Asked> m_waiting;
    std::optional<Asked> m_open;
    std::deque<std::function<void()>> m_whenNoBox;
    bool m_closing = false;
};

// The real boxes: QMessageBox, opened with open(), never exec().
class QtDialogs : public QueuedDialogs
{
public:
    QtDialogs();
    ~QtDialogs() override;
    void openFileName(QWidget *parent, const QString &dir, const QString &filter, FileChosen then) override;
    void saveFileName(QWidget *parent, const QString &dir, const QString &filter, FileChosen then) override;

protected:
    void present(QWidget *parent, const Box &box) override;

private:
    void chooseFile(QWidget *parent, const QString &dir, const QString &filter, bool save, FileChosen then);

    // The boxes' signals are connected through it: gone with this object.
    std::unique_ptr<QObject> m_context;
    // The box open now; cleared as it closes or goes.
    QObject *m_shown = nullptr;
};

}  // namespace vorn
