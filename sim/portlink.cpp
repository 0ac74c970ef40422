#include "portlink.h"

#include <QCoreApplication>
#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rt8sim {

#ifdef Q_OS_UNIX

bool PortLink::place(const QString &path, const QString &target, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QByteArray p = QFile::encodeName(path);
    const QByteArray t = QFile::encodeName(target);
    struct stat st{};
    if (::lstat(p.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a symbolic link; not replacing it").arg(path);
        return false;
    }
    const QByteArray temp = p + ".new" + QByteArray::number(QCoreApplication::applicationPid());
    ::unlink(temp.constData());
    if (::symlink(t.constData(), temp.constData()) != 0 || ::rename(temp.constData(), p.constData()) != 0) {
        *error = QStringLiteral("cannot link %1 to %2: %3").arg(path, target, QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(temp.constData());
        return false;
    }
    m_path = path;
    m_target = target;
    return true;
}

void PortLink::remove()
{
    if (m_path.isEmpty())
        return;
    const QByteArray p = QFile::encodeName(m_path);
    char buf[4096];
    const ssize_t n = ::readlink(p.constData(), buf, sizeof buf);
    if (n >= 0 && QByteArray(buf, n) == QFile::encodeName(m_target))
        ::unlink(p.constData());
    m_path.clear();
    m_target.clear();
}

#else

bool PortLink::place(const QString &, const QString &, QString *error)
{
    *error = QStringLiteral("--link needs symbolic links to device files, which this system does not offer");
    return false;
}

void PortLink::remove() {}

#endif

}  // namespace rt8sim
