#pragma once
// Message boxes that behave like modal ones: while "shown", they run a nested
// event loop, so timers, serial input and other events go on underneath, as
// they do under a real box. The box closes once releaseWhen() holds (checked
// every few milliseconds, at most 10 s).

#include "support/scripteddialogs.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

class NestedLoopDialogs : public vorn::ScriptedDialogs
{
public:
    std::function<bool()> releaseWhen = [] { return true; };
    // Whether the last box closed because releaseWhen() held.
    bool released = true;

    void message(QWidget *parent, const QString &text, Icon icon, const QString &detail) override
    {
        ScriptedDialogs::message(parent, text, icon, detail);
        QEventLoop loop;
        QDeadlineTimer deadline(10000);
        QTimer poll;
        released = false;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (releaseWhen()) {
                released = true;
                loop.quit();
            } else if (deadline.hasExpired()) {
                loop.quit();
            }
        });
        poll.start(5);
        loop.exec();
    }
};
