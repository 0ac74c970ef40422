// A user who may not open the serial device: the program, run as an
// unprivileged user against a pseudo-terminal that belongs to root, tells the
// device, the system's reason and the fix. Root ignores permissions, so the
// test runs itself again as "nobody" for the part that needs it.

#include "support/pty.h"

#include "support/scripteddialogs.h"
#include "app/mainform.h"
#include "link/serialportline.h"

#include <QApplication>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>

using namespace vorn;

namespace {

// The part that runs as the unprivileged user: load the window on the ports
// given, optionally press "打开串口" on port 2, and print every message box as
// one line: text, a tab, the detail (line ends written as \n).
int runAsChild(const QStringList &args)
{
    const QString mode = args.value(0);
    ScriptedDialogs dialogs;
    SerialPortLine port;
    DeviceSession session(PortMap(args.mid(1)), &port);
    {
        MainForm form(&session, &dialogs);
        form.load();
        if (mode == QLatin1String("open")) {
            form.findChild<QComboBox *>(QStringLiteral("RsCombo"))->setEditText(QStringLiteral("2"));
            form.findChild<QPushButton *>(QStringLiteral("OpenRs232Command"))->click();
        }
    }
    for (const auto &s : dialogs.shown) {
        QString detail = s.detail;
        detail.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        std::printf("%s\t%s\n", s.text.toUtf8().constData(), detail.toUtf8().constData());
    }
    return 0;
}

}  // namespace

class PermissionTest : public QObject
{
    Q_OBJECT
private slots:
    void unprivilegedUserIsToldWhy_data();
    void unprivilegedUserIsToldWhy();
};

void PermissionTest::unprivilegedUserIsToldWhy_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("message");
    QTest::newRow("start-up search") << "search" << QStringLiteral("没有可以使用的通讯端口");
    QTest::newRow("打开串口") << "open" << QStringLiteral("端口打开错误~!");
}

void PermissionTest::unprivilegedUserIsToldWhy()
{
    QFETCH(QString, mode);
    QFETCH(QString, message);
    if (::geteuid() != 0)
        QSKIP("needs root, to make a device this test's user may not open and to run as another user");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv (util-linux) is not installed");
    Pty pty;
    QVERIFY(pty.ok());
    QVERIFY(::chmod(pty.path.toLocal8Bit().constData(), 0600) == 0);

    QProcess child;
    child.setProgram(setpriv);
    child.setArguments({"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                        QCoreApplication::applicationFilePath(), "--as-child", mode,
                        "/dev/does-not-exist-vorn", pty.path});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    child.setProcessEnvironment(env);
    child.start();
    QVERIFY2(child.waitForFinished(60000), "the unprivileged run did not end");
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0, child.readAllStandardError().constData());
    const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'),
                                                                                    Qt::SkipEmptyParts);
    QVERIFY2(!lines.isEmpty(), "no message at all");
    QCOMPARE(lines.last().section(QLatin1Char('\t'), 0, 0), message);
    if (mode == QLatin1String("open"))
        QCOMPARE(lines.size(), 2);   // the search's, then the one of the button
    else
        QCOMPARE(lines.size(), 1);
    const QString detail = lines.last().section(QLatin1Char('\t'), 1);
    for (const QString &part : {pty.path, QStringLiteral("Permission denied"),
                                QStringLiteral("sudo usermod -aG dialout $USER"), QStringLiteral("重新登录")})
        QVERIFY2(detail.contains(part), qPrintable(detail));
    QVERIFY2(!detail.contains(QLatin1String("/dev/does-not-exist-vorn")), qPrintable(detail));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 1 && args.at(1) == QLatin1String("--as-child"))
        return runAsChild(args.mid(2));
    PermissionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_permission.moc"
