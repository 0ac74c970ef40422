// One instance only: a second start ends at once and leaves the first alone.

#include "app/instancelock.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

class InstanceTest : public QObject
{
    Q_OBJECT
private slots:
    void secondStartEnds();
    void lockRules_data();
    void lockRules();
};

void InstanceTest::lockRules_data()
{
    QTest::addColumn<QString>("before");   // what there is at the lock's path
    QTest::addColumn<bool>("runs");
    QTest::addColumn<bool>("held");
    QTest::newRow("nothing yet") << "none" << true << true;
    QTest::newRow("file an ended instance left") << "stale" << true << true;
    QTest::newRow("held by a running instance") << "held" << false << false;
    QTest::newRow("held, then let go") << "released" << true << true;
    QTest::newRow("no such folder: runs unguarded") << "no folder" << true << false;
}

void InstanceTest::lockRules()
{
    QFETCH(QString, before);
    QFETCH(bool, runs);
    QFETCH(bool, held);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("instance.lock"));
    std::unique_ptr<vorn::InstanceLock> other;
    if (before == QLatin1String("stale")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("999999\nvornrt8\nsomewhere\n");
    } else if (before == QLatin1String("held") || before == QLatin1String("released")) {
        other = std::make_unique<vorn::InstanceLock>(path);
        QVERIFY(other->acquire());
        QVERIFY(other->held());
        if (before == QLatin1String("released"))
            other.reset();
    } else if (before == QLatin1String("no folder")) {
        path = dir.filePath(QStringLiteral("missing/instance.lock"));
    }
    vorn::InstanceLock lock(path);
    QCOMPARE(lock.acquire(), runs);
    QCOMPARE(lock.held(), held);
    if (held) {
        // While it is held, nobody else gets it; the file names the holder.
        vorn::InstanceLock second(path);
        QVERIFY(!second.acquire());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readLine().trimmed(), QByteArray::number(QCoreApplication::applicationPid()));
    }
}

void InstanceTest::secondStartEnds()
{
    // A pseudo-terminal as port 1, so the first instance opens a port and
    // shows no message.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    const QString slave = QString::fromLocal8Bit(ptsname(master));
    const int keep = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    QVERIFY(keep >= 0);

    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("VORNRT8_PORTS"), slave);
    env.insert(QStringLiteral("VORNRT8_LOCK_FILE"), dir.filePath(QStringLiteral("instance.lock")));

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(VORNRT8_EXE));
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("instance.lock"))), 5000);
    QTest::qWait(300);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(VORNRT8_EXE));
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardError().contains("VornRT8"), false);

    QCOMPARE(first.state(), QProcess::Running);
    first.terminate();
    QVERIFY(first.waitForFinished(5000));

    // With the first gone, a new start runs again.
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(QStringLiteral(VORNRT8_EXE));
    QVERIFY(third.waitForStarted());
    QVERIFY(!third.waitForFinished(1500));
    third.kill();
    third.waitForFinished(3000);
    ::close(keep);
    ::close(master);
}

QTEST_GUILESS_MAIN(InstanceTest)
#include "tst_instance.moc"
