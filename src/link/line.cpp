#include "link/line.h"

#include "link/netaddress.h"
#include "link/networkline.h"
#include "link/serialportline.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

namespace vorn {

std::unique_ptr<Line> makeLine(const QString &name)
{
    if (isNetworkName(name))
        return std::make_unique<NetworkLine>();
    return std::make_unique<SerialPortLine>();
}

QString permissionAdvice(const QString &path, const QString &reason)
{
    QString text = QCoreApplication::translate("vorn::Line", "%1：%2", "device path: system reason")
                       .arg(path, reason);
#if defined(Q_OS_LINUX)
    text += QLatin1Char('\n')
          + QCoreApplication::translate("vorn::Line", "当前用户没有使用这个串口的权限。在 Debian/Ubuntu 上请执行\n"
                                                               "    sudo usermod -aG dialout $USER\n"
                                                               "然后注销并重新登录。");
#else
    text += QLatin1Char('\n') + QCoreApplication::translate("vorn::Line", "当前用户没有使用这个串口的权限。");
#endif
    return text;
}

QString lockHolder(const QString &path, const QStringList &lockFolders)
{
    // The lock file is named after the device without its /dev/ and with
    // every other '/' made '_': /dev/ttyUSB0 is LCK..ttyUSB0, /dev/pts/3
    // LCK..pts_3. QSerialPort writes it in the first of these folders it may
    // write in; another program in another, so every one is looked at.
    QString name = path;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (name.isEmpty())
        return {};
    QStringList folders = lockFolders;
    if (folders.isEmpty())
        folders = {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/etc/locks"),
                   QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"), QStringLiteral("/tmp"),
                   QStringLiteral("/var/tmp"), QStringLiteral("/var/lock/lockdev"), QDir::tempPath()};
    for (const QString &folder : std::as_const(folders)) {
        const QString file = folder + QStringLiteral("/LCK..") + name;
        if (!QFileInfo::exists(file))
            continue;
        // QLockFile's own reading: the process number, then the program.
        QLockFile lock(file);
        qint64 pid = 0;
        QString host, program;
        if (!lock.getLockInfo(&pid, &host, &program) || pid <= 0)
            continue;
        if (program.isEmpty())
            return QCoreApplication::translate("vorn::Line", "被进程 %1 占用").arg(pid);
        return QCoreApplication::translate("vorn::Line", "被 %1 占用（进程 %2）").arg(program).arg(pid);
    }
    return {};
}

QString serverWords(const QByteArray &bytes)
{
    // A refusal is a line or two of text; replies start with 02, records are
    // "N" and numbers: neither holds a word of letters.
    if (bytes.isEmpty() || bytes.size() > 512)
        return {};
    const QString text = QString::fromUtf8(bytes);
    if (text.contains(QChar::ReplacementCharacter))
        return {};
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\r') && c != QLatin1Char('\n')
            && c != QLatin1Char('\t'))
            return {};
    static const QRegularExpression word(QStringLiteral("\\p{L}{2,}"));
    if (!word.match(text).hasMatch())
        return {};
    return text.simplified();
}

}  // namespace vorn
