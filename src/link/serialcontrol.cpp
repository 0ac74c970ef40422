#include "link/serialcontrol.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace vorn {

void SerialControl::setRThreshold(int count)
{
    m_threshold = count < 0 ? 0 : count;
    // A threshold lowered below what already waits raises the event, later.
    queueCheck();
}

void SerialControl::queueCheck()
{
    if (m_threshold > 0 && m_input.size() >= m_threshold && !m_checkQueued) {
        m_checkQueued = true;
        QMetaObject::invokeMethod(this, [this] { m_checkQueued = false; checkThreshold(); },
                                  Qt::QueuedConnection);
    }
}

void SerialControl::received(const QByteArray &bytes, bool raiseNow)
{
    // Like a hardware input buffer: what does not fit is lost.
    const qsizetype room = kInputBufferSize - m_input.size();
    if (room > 0)
        m_input.append(bytes.left(room));
    if (raiseNow)
        checkThreshold();
    else
        queueCheck();
}

void SerialControl::checkThreshold()
{
    // A handler that shows a modal box spins a nested event loop; bytes that
    // arrive meanwhile must not start a second handler on top of the first.
    if (m_inEvent)
        return;
    if (m_threshold <= 0 || m_input.size() < m_threshold)
        return;
    m_inEvent = true;
    m_event = kEvReceive;
    emit onComm();
    m_event = 0;
    m_inEvent = false;
}

QString permissionAdvice(const QString &path, const QString &reason)
{
    QString text = QCoreApplication::translate("vorn::SerialControl", "%1：%2", "device path: system reason")
                       .arg(path, reason);
#if defined(Q_OS_LINUX)
    text += QLatin1Char('\n')
          + QCoreApplication::translate("vorn::SerialControl", "当前用户没有使用这个串口的权限。在 Debian/Ubuntu 上请执行\n"
                                                               "    sudo usermod -aG dialout $USER\n"
                                                               "然后注销并重新登录。");
#else
    text += QLatin1Char('\n') + QCoreApplication::translate("vorn::SerialControl", "当前用户没有使用这个串口的权限。");
#endif
    return text;
}

}  // namespace vorn
