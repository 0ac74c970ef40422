#include "link/serialcontrol.h"

#include <QCoreApplication>

namespace vorn {

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
