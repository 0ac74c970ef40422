// Start-up: one instance only, then the window, loaded (port search and its
// messages included) before it is centred and shown.

#include "app/dialogs.h"
#include "app/mainform.h"
#include "link/portmap.h"
#include "link/qtserialcontrol.h"
#include "session/language.h"

#include <QApplication>
#include <QTimer>
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

// Ends the program once the window has been painted (exit code 0 with the
// port open, 3 without).
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(const vorn::SerialControl *port) : m_port(port) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            const int code = m_port->isOpen() ? 0 : 3;
            QTimer::singleShot(0, qApp, [code] { QCoreApplication::exit(code); });
        }
        return false;
    }

private:
    const vorn::SerialControl *m_port;
    bool m_done = false;
};

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
    vorn::installTranslations(QString());   // English when the system speaks it, else Chinese

    vorn::QtSerialControl port(vorn::PortMap::fromSystem());
    vorn::QtDialogs dialogs;
    vorn::MainForm form(&port, &dialogs);
    form.load();
    form.showCentred();
    // For start-up measurements: end as soon as the shown window has been
    // painted once.
    FirstPaint firstPaint(&port);
    if (qEnvironmentVariableIsSet("VORNRT8_EXIT_WHEN_SHOWN"))
        form.installEventFilter(&firstPaint);
    return app.exec();
}
