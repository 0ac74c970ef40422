#include "app/dialogs.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

#include <utility>

namespace vorn {

QString programName()
{
    return QStringLiteral("VornRT8");
}

// ---------------------------------------------------------------- one box at a time

void QueuedDialogs::message(QWidget *parent, const QString &text, Icon icon, const QString &detail,
                            std::function<void()> then)
{
    ask(parent, Box{false, text, icon, detail}, [then = std::move(then)](bool) {
        if (then)
            then();
    });
}

void QueuedDialogs::confirm(QWidget *parent, const QString &text, const QString &detail,
                            std::function<void(bool yes)> answered)
{
    ask(parent, Box{true, text, Icon::Warning, detail}, std::move(answered));
}

void QueuedDialogs::ask(QWidget *parent, Box box, std::function<void(bool)> then)
{
    m_waiting.push_back(Asked{parent, parent != nullptr, std::move(box), std::move(then)});
    // While a continuation runs, the box it asks for takes its turn behind
    // those that were waiting already.
    if (!m_closing)
        showNext();
}

void QueuedDialogs::showNext()
{
    while (!m_open && !m_waiting.empty()) {
        Asked next = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (next.hadParent && !next.parent)
            continue;
        m_open = std::move(next);
        // A copy: the box may be closed, and m_open emptied, before
        // present() returns.
        const Box box = m_open->box;
        present(m_open->parent, box);
        return;
    }
    if (m_open || !m_waiting.empty())
        return;
    // Nothing open, nothing waiting: whatever waited for that goes on.
    while (!m_whenNoBox.empty() && !m_open && m_waiting.empty()) {
        const auto then = std::move(m_whenNoBox.front());
        m_whenNoBox.pop_front();
        then();
    }
}

void QueuedDialogs::closed(bool yes)
{
    if (!m_open)
        return;
    Asked was = std::move(*m_open);
    m_open.reset();
    if (was.then && (!was.hadParent || was.parent)) {
        const bool wasClosing = std::exchange(m_closing, true);
        was.then(yes);
        m_closing = wasClosing;
    }
    showNext();
}

void QueuedDialogs::dropped()
{
    m_open.reset();
    showNext();
}

void QueuedDialogs::whenNoBox(std::function<void()> then)
{
    m_whenNoBox.push_back(std::move(then));
    if (!m_open && m_waiting.empty())
        showNext();
}

// ---------------------------------------------------------------- the real boxes

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

QtDialogs::QtDialogs() : m_context(std::make_unique<QObject>()) {}

QtDialogs::~QtDialogs()
{
    m_context.reset();
    // A box over nothing has no window to go with.
    if (m_shown && !m_shown->parent())
        delete m_shown;
}

void QtDialogs::present(QWidget *parent, const Box &b)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(programName());
    box->setTextFormat(Qt::PlainText);
    box->setText(b.text);
    switch (b.icon) {
    case Icon::None: box->setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box->setIcon(QMessageBox::Information); break;
    case Icon::Warning: box->setIcon(QMessageBox::Warning); break;
    case Icon::Critical: box->setIcon(QMessageBox::Critical); break;
    }
    if (!b.detail.isEmpty())
        setPlainDetail(box, b.detail);
    if (b.question) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
    }
    m_shown = box;
    const bool question = b.question;
    QObject::connect(box, &QDialog::finished, m_context.get(), [this, box, question] {
        if (m_shown != box)
            return;
        m_shown = nullptr;
        closed(!question || box->standardButton(box->clickedButton()) == QMessageBox::Yes);
    });
    // Deleted while open, with its window: no answer came. The next box is
    // shown from the event loop, once that window is gone altogether.
    QObject::connect(box, &QObject::destroyed, m_context.get(), [this, box] {
        if (m_shown != box)
            return;
        m_shown = nullptr;
        QMetaObject::invokeMethod(m_context.get(), [this] { dropped(); }, Qt::QueuedConnection);
    });
    if (parent) {
        // Modal to its window, without an event loop of its own.
        box->open();
    } else {
        // Before the window is shown (the start-up's messages): modal to the
        // program, as the window's own boxes are to the window.
        box->setWindowModality(Qt::ApplicationModal);
        // Closing it is no reason to end: the window is yet to come.
        box->setAttribute(Qt::WA_QuitOnClose, false);
        box->show();
    }
}

void QtDialogs::openFileName(QWidget *parent, const QString &dir, const QString &filter, FileChosen then)
{
    chooseFile(parent, dir, filter, false, std::move(then));
}

void QtDialogs::saveFileName(QWidget *parent, const QString &dir, const QString &filter, FileChosen then)
{
    chooseFile(parent, dir, filter, true, std::move(then));
}

void QtDialogs::chooseFile(QWidget *parent, const QString &dir, const QString &filter, bool save, FileChosen then)
{
    auto *dialog = new QFileDialog(parent, QString(), dir, filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // No default suffix: a name typed without .RTX is used as typed.
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Closed with its window: nothing follows.
    QObject::connect(dialog, &QDialog::finished, m_context.get(), [dialog, then = std::move(then)](int result) {
        const QString path = result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
        if (then)
            then(path);
    });
    dialog->open();
}

}  // namespace vorn
