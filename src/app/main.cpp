// Start-up: one instance only, then the window, loaded (port search and its
// messages included) before it is centred and shown.

#include "app/dialogs.h"
#include "app/mainform.h"
#include "link/portmap.h"
#include "link/qtserialcontrol.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace {

QString lockPath()
{
    const QString over = qEnvironmentVariable("VORNRT8_LOCK_FILE");
    if (!over.isEmpty())
        return over;
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    return QDir::temp().filePath(QStringLiteral("vornrt8-%1.lock").arg(user));
}

}  // namespace

int main(int argc, char **argv)
{
    // Another instance running: end at once, without a word. The lock goes
    // with the process, so a crashed instance does not block the next start.
    QLockFile instance(lockPath());
    instance.setStaleLockTime(0);
    if (!instance.tryLock(0))
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(vorn::programName());

    vorn::QtSerialControl port(vorn::PortMap::fromSystem());
    vorn::QtDialogs dialogs;
    vorn::MainForm form(&port, &dialogs);
    form.load();
    form.show();
    form.centre();
    return app.exec();
}
