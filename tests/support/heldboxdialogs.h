#pragma once
// Message boxes that stay open a while, as the operator leaves a real one
// open: the box is shown, the call that showed it returns, and timers, serial
// input and other events go on underneath. The box closes (answered Yes, or
// OK) once releaseWhen() holds, checked every few milliseconds, at most 10 s
// after it was shown.

#include "support/scripteddialogs.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <functional>

class HeldBoxDialogs : public vorn::ScriptedDialogs
{
public:
    std::function<bool()> releaseWhen = [] { return true; };
    // Whether the last box closed because releaseWhen() held.
    bool released = true;

    HeldBoxDialogs()
    {
        closeAtOnce = false;
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
            if (!boxOpen()) {
                m_poll.stop();
                return;
            }
            const bool release = releaseWhen();
            if (release || m_deadline.hasExpired()) {
                released = release;
                answer(true);
            }
        });
    }

protected:
    void present(QWidget *parent, const Box &box) override
    {
        ScriptedDialogs::present(parent, box);
        released = false;
        m_deadline = QDeadlineTimer(10000);
        m_poll.start();
    }

private:
    QTimer m_poll;
    QDeadlineTimer m_deadline;
};
