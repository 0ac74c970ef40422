#pragma once
// Driving the window from a test as the operator does.

#include "support/driving.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QWidget>
#include <QFocusEvent>

namespace vorn {

// The device number box loses focus, as when the operator moves on.
inline void leaveNumber(QWidget *form)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(form->findChild<QLineEdit *>(QStringLiteral("LedIDText")), &out);
}

}  // namespace vorn
