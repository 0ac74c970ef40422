// The command-line programs' shared support: a write that does not go out is
// told with the system's reason, a stop signal reaches the event loop, and
// --lang is read from the options before the first word.

#include "cli/language.h"
#include "cli/output.h"
#include "cli/stopsignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace vorn;

namespace {

volatile sig_atomic_t s_counted = 0;

void countSignal(int)
{
    s_counted = s_counted + 1;
}

// What a signal does now: its handler.
void (*handlerOf(int sig))(int)
{
    struct sigaction now{};
    ::sigaction(sig, nullptr, &now);
    return now.sa_handler;
}

}  // namespace

class CliTest : public QObject
{
    Q_OBJECT
private slots:
    void failedWrites_data();
    void failedWrites();
    void messagesCarryTheProgramName();
    void stopSignals_data();
    void stopSignals();
    void languageChoice_data();
    void languageChoice();
};

void CliTest::failedWrites_data()
{
    // Where the output goes: a file in a fresh folder, or (empty) a pipe whose
    // reading end is closed.
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("failure");
    QTest::newRow("a file") << "out.txt" << true << QString();
    QTest::newRow("a full disk") << "/dev/full" << false << qt_error_string(ENOSPC);
    QTest::newRow("a reader gone (closed pipe)") << "" << false << qt_error_string(EPIPE);
}

void CliTest::failedWrites()
{
    QFETCH(QString, target);
    QFETCH(bool, ok);
    QFETCH(QString, failure);
    // While the stop signals are caught a reader that went away is a failed
    // write, not the end of the program (without them this test would end
    // by SIGPIPE).
    cli::StopSignals stopSignals;
    QVERIFY(stopSignals.isActive());
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(target);
    std::FILE *file = nullptr;
    if (target.isEmpty()) {
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        ::close(fds[0]);
        file = ::fdopen(fds[1], "w");
    } else {
        file = std::fopen(QFile::encodeName(path).constData(), "w");
    }
    QVERIFY(file);
    cli::TextStream stream(file);
    QCOMPARE(stream.write(QStringLiteral("ch0 1000\n")), ok);
    QCOMPARE(stream.failure(), failure);
    QCOMPARE(stream.failed(), !ok);
    // The first reason stays; a later write fails as well.
    QCOMPARE(stream.write(QStringLiteral("通道 2\n")), ok);
    QCOMPARE(stream.failure(), failure);
    std::fclose(file);
    if (ok) {
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()), QStringLiteral("ch0 1000\n通道 2\n"));
    }
}

void CliTest::messagesCarryTheProgramName()
{
    // Standard error into a file for the one message.
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("err.txt")));
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    QVERIFY(saved >= 0);
    QVERIFY(std::freopen(path.constData(), "w", stderr));
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("rt8gw"));
    const bool written = cli::printErr(QStringLiteral("设备 A：在线"));
    QCoreApplication::setApplicationName(name);
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QVERIFY(written);
    QFile f(QString::fromLocal8Bit(path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(f.readAll()), QStringLiteral("rt8gw: 设备 A：在线\n"));
}

void CliTest::stopSignals_data()
{
    QTest::addColumn<QList<int>>("caught");
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("stops");
    QTest::newRow("Ctrl+C") << QList<int>{SIGINT, SIGTERM} << int(SIGINT) << true;
    QTest::newRow("SIGTERM") << QList<int>{SIGINT, SIGTERM} << int(SIGTERM) << true;
    QTest::newRow("SIGHUP, asked for") << QList<int>{SIGINT, SIGTERM, SIGHUP} << int(SIGHUP) << true;
    QTest::newRow("SIGHUP, not asked for") << QList<int>{SIGINT, SIGTERM} << int(SIGHUP) << false;
}

void CliTest::stopSignals()
{
    QFETCH(QList<int>, caught);
    QFETCH(int, sent);
    QFETCH(bool, stops);
    // A handler of the test's own before and after: the one that was there
    // comes back, and a signal not asked for stays with it.
    struct sigaction counting{};
    counting.sa_handler = &countSignal;
    sigemptyset(&counting.sa_mask);
    struct sigaction before{};
    QCOMPARE(::sigaction(sent, &counting, &before), 0);
    const auto pipeBefore = handlerOf(SIGPIPE);
    s_counted = 0;
    {
        cli::StopSignals stopSignals(caught);
        QVERIFY(stopSignals.isActive());
        QSignalSpy stopped(&stopSignals, &cli::StopSignals::stopRequested);
        QVERIFY(handlerOf(SIGPIPE) == SIG_IGN);
        QCOMPARE(::raise(sent), 0);
        // raise() returns after the handler ran: what it wrote waits in the
        // pipe for the loop.
        if (stops) {
            QTRY_COMPARE(stopped.count(), 1);
            QCOMPARE(int(s_counted), 0);
            // Again, later: it is told again.
            QCOMPARE(::raise(sent), 0);
            QTRY_COMPARE(stopped.count(), 2);
        } else {
            QCOMPARE(int(s_counted), 1);
            QCoreApplication::processEvents();
            QCOMPARE(stopped.count(), 0);
        }
    }
    QVERIFY(handlerOf(SIGPIPE) == pipeBefore);
    QVERIFY(handlerOf(sent) == &countSignal);
    const int counted = s_counted;
    QCOMPARE(::raise(sent), 0);
    QCOMPARE(int(s_counted), counted + 1);
    ::sigaction(sent, &before, nullptr);
}

void CliTest::languageChoice_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("choice");
    QTest::newRow("en") << "--lang en find" << "en";
    QTest::newRow("zh, written with =") << "--port 2 --lang=zh scan --from 3" << "zh";
    QTest::newRow("in capitals, blanks around") << "--lang \" EN \" find" << "en";
    QTest::newRow("only options") << "--config gw.json --lang en --check" << "en";
    QTest::newRow("none") << "--port 2 find" << "";
    QTest::newRow("one it does not speak") << "--lang fr find" << "";
    // Only the options before the first word choose; options that do not
    // read leave the choice to the system.
    QTest::newRow("after the first word") << "display number 12 --lang en" << "";
    QTest::newRow("an option it does not know") << "--lang en --bogus find" << "";
    QTest::newRow("no value") << "--lang" << "";
}

void CliTest::languageChoice()
{
    QFETCH(QString, line);
    QFETCH(QString, choice);
    const QList<QCommandLineOption> options{
        QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
        QCommandLineOption(QStringLiteral("port"), QString(), QStringLiteral("N")),
        QCommandLineOption(QStringLiteral("config"), QString(), QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("check")),
        QCommandLineOption(QStringLiteral("lang"), QString(), QStringLiteral("en|zh")),
    };
    QCOMPARE(cli::languageChoice(QStringList{QStringLiteral("prog")} + QProcess::splitCommand(line), options), choice);
}

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
