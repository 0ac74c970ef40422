#pragma once
// Texts of the messages the device session gives, word for word as the
// operator sees them.

#include <QString>

namespace vorn::msg {
inline const QString NoPort = QStringLiteral("没有可以使用的通讯端口");
inline const QString OpenError = QStringLiteral("端口打开错误~!");
inline const QString DownloadError = QStringLiteral("设置错误，请检查 设置数据是否正确？");
inline const QString SmartError = QStringLiteral("设置错误，请检查是否有 有效原始值？设置数据是否正确？");
inline const QString NotOpen = QStringLiteral("通讯端口没有打开，命令没有发送。");
inline const QString WriteFailed = QStringLiteral("命令发送失败，通讯端口可能已断开。");
}  // namespace vorn::msg
