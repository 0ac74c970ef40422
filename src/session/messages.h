#pragma once
// Texts of the messages the device session gives, word for word as the
// operator sees them, in the language in effect. Functions, not constants:
// they are read once the translation is installed.

#include <QCoreApplication>
#include <QString>

namespace vorn::msg {
inline QString NoPort() { return QCoreApplication::translate("vorn::DeviceSession", "没有可以使用的通讯端口"); }
inline QString OpenError() { return QCoreApplication::translate("vorn::DeviceSession", "端口打开错误~!"); }
// The detail of OpenError() for a port field that holds no port number.
inline QString NotAPortNumber(const QString &text)
{
    return QCoreApplication::translate("vorn::DeviceSession", "“%1”不是 1 到 16 之间的端口号。").arg(text);
}
inline QString DownloadError()
{
    return QCoreApplication::translate("vorn::DeviceSession", "设置错误，请检查 设置数据是否正确？");
}
inline QString SmartError()
{
    return QCoreApplication::translate("vorn::DeviceSession", "设置错误，请检查是否有 有效原始值？设置数据是否正确？");
}
inline QString NotOpen()
{
    return QCoreApplication::translate("vorn::DeviceSession", "通讯端口没有打开，命令没有发送。");
}
inline QString Checking()
{
    return QCoreApplication::translate("vorn::DeviceSession", "正在确认重新接入的设备，命令没有发送。");
}
inline QString WriteFailed()
{
    return QCoreApplication::translate("vorn::DeviceSession", "命令发送失败，通讯端口可能已断开。");
}
}  // namespace vorn::msg
