// The network line against servers played by the test on 127.0.0.1: one that
// takes the connection and says nothing, and a small RFC 2217 server whose
// every answer the test gives. The session on top of it never waits for a
// network port: its openings and its port search go on from the line's
// signals.

#include "link/netport.h"
#include "link/networkline.h"
#include "link/serialportline.h"
#include "protocol/frame.h"
#include "session/devicesession.h"
#include "session/messages.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

using namespace vorn;

namespace {

constexpr int kBound = 10000;

// A server that takes connections and plays the far side of each through
// the test.
struct Server
{
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    QByteArray got;
    Server()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            peer = server.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [this] { got += peer->readAll(); });
        });
    }
    QString url(const char *scheme) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(server.serverPort());
    }
    bool say(const QByteArray &bytes) { return peer && peer->write(bytes) == bytes.size() && peer->flush(); }
};

QByteArray telnet(quint8 verb, quint8 option)
{
    QByteArray b;
    b.append(char(0xFF)).append(char(verb)).append(char(option));
    return b;
}

// The server's answer to one line setting (its command plus 100).
QByteArray settingAnswer(quint8 command, const QByteArray &value)
{
    QByteArray b;
    b.append(char(0xFF)).append(char(250)).append(char(44)).append(char(command + 100));
    return b + value + QByteArray::fromHex("fff0");
}

QByteArray allSettingsAnswered()
{
    return settingAnswer(1, QByteArray::fromHex("00009600")) + settingAnswer(2, "\x08") + settingAnswer(3, "\x01")
         + settingAnswer(4, "\x01") + settingAnswer(5, "\x01");
}

constexpr quint8 kDo = 253, kWill = 251;

}  // namespace

class TstNetworkLine : public QObject
{
    Q_OBJECT
private slots:
    void sessionOpensWithoutWaiting_data();
    void sessionOpensWithoutWaiting();
    void searchGoesOnPastASilentPort();
    void sendsAtOnce();
    void waitsForTheLineSettings_data();
    void waitsForTheLineSettings();
    void refusalDuringTheOpeningIsTheReason();
    void discardTakesWhatTheSystemHolds();
};

void TstNetworkLine::sessionOpensWithoutWaiting_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("says");
    // Takes the connection and never says a word: RFC 2217 is never taken up.
    QTest::newRow("silent RFC 2217 server") << "rfc2217" << true << "did not take up RFC 2217 within 0.5 s";
    // Nobody listens: the system refuses the connection.
    QTest::newRow("nobody listens") << "tcp" << false << "Connection refused";
}

void TstNetworkLine::sessionOpensWithoutWaiting()
{
    QFETCH(QString, scheme);
    QFETCH(bool, listening);
    QFETCH(QString, says);
    Server s;
    const QString url = s.url(qPrintable(scheme));
    if (!listening)
        s.server.close();
    SerialPortLine serial;
    NetworkLine network;
    network.setConnectTimeout(500);
    DeviceSession session(PortMap({url}), &serial, &network);
    QList<Refusal> refusals;
    connect(&session, &DeviceSession::refused, this, [&](const Refusal &r) { refusals.append(r); });
    QSignalSpy failed(&session, &DeviceSession::portOpenFailed);
    // Back at once, still opening: nothing is known yet, nothing refused.
    QVERIFY(session.openPort(1));
    QVERIFY(session.isOpening());
    QVERIFY(!session.isOpen());
    QVERIFY(refusals.isEmpty());
    // Told later, from the event loop.
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kBound);
    QCOMPARE(failed.first().at(0).toInt(), 1);
    QCOMPARE(refusals.size(), 1);
    QCOMPARE(refusals.first().text, msg::OpenError());
    QVERIFY2(refusals.first().detail.contains(says), qPrintable(refusals.first().detail));
    QVERIFY(!session.isOpening());
}

void TstNetworkLine::searchGoesOnPastASilentPort()
{
    // A silent RFC 2217 server first, a raw TCP server second: the search
    // returns at once and finds the second.
    Server silent, good;
    SerialPortLine serial;
    NetworkLine network;
    network.setConnectTimeout(500);
    DeviceSession session(PortMap({silent.url("rfc2217"), good.url("tcp")}), &serial, &network);
    QSignalSpy searched(&session, &DeviceSession::portsSearched);
    session.searchPorts();
    QVERIFY(session.isSearching());
    QCOMPARE(searched.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(searched.count(), 1, kBound);
    QCOMPARE(searched.first().at(0).toInt(), 2);
    QVERIFY(session.isOpen());
    QVERIFY(!session.isSearching());
}

void TstNetworkLine::sendsAtOnce()
{
#ifndef Q_OS_UNIX
    QSKIP("looks at the socket's options through the system");
#else
    Server s;
    NetworkLine line;
    QSignalSpy opened(&line, &Line::opened);
    line.open(s.url("tcp"));
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, kBound);
    QVERIFY(line.socket());
    int on = 0;
    socklen_t size = sizeof on;
    QCOMPARE(::getsockopt(int(line.socket()->socketDescriptor()), IPPROTO_TCP, TCP_NODELAY, &on, &size), 0);
    QVERIFY(on != 0);
#endif
}

void TstNetworkLine::waitsForTheLineSettings_data()
{
    QTest::addColumn<bool>("answers");
    QTest::newRow("the server answers the settings") << true;
    QTest::newRow("the server never answers them") << false;
}

void TstNetworkLine::waitsForTheLineSettings()
{
    QFETCH(bool, answers);
    Server s;
    NetworkLine line;
    QSignalSpy opened(&line, &Line::opened);
    QSignalSpy failed(&line, &Line::openFailed);
    line.open(s.url("rfc2217"));
    QTRY_VERIFY_WITH_TIMEOUT(s.peer && s.got.startsWith(Rfc2217Codec::opening()), kBound);
    // The server agrees; the line settings come back to it.
    QVERIFY(s.say(telnet(kDo, 44) + telnet(kWill, 44)));
    QTRY_VERIFY_WITH_TIMEOUT(s.got.contains(Rfc2217Codec::lineSettings()), kBound);
    QVERIFY(!s.got.contains(Rfc2217Codec::purgeReceived()));
    if (answers) {
        // Not open while the answers are owed (the line has read the
        // agreement: the settings came), open once they are given.
        QCOMPARE(opened.count(), 0);
        QVERIFY(s.say(allSettingsAnswered()));
    }
    // Without them it is used all the same, after a short while.
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, kBound);
    QCOMPARE(failed.count(), 0);
    // What the device sent before is purged at the server, then the request
    // goes out whole.
    QTRY_VERIFY_WITH_TIMEOUT(s.got.endsWith(Rfc2217Codec::purgeReceived()), kBound);
    const QByteArray request = buildFrame(1, cmd::Discover, QByteArray(1, '\x01'));
    QVERIFY(line.write(request));
    QTRY_VERIFY_WITH_TIMEOUT(s.got.endsWith(request), kBound);
}

void TstNetworkLine::refusalDuringTheOpeningIsTheReason()
{
    // ser2net in front of a device it cannot open agrees first, then says
    // why and closes: what it said is the reason the opening failed.
    Server s;
    NetworkLine line;
    QSignalSpy opened(&line, &Line::opened);
    QSignalSpy failed(&line, &Line::openFailed);
    line.open(s.url("rfc2217"));
    QTRY_VERIFY_WITH_TIMEOUT(s.peer && s.got.startsWith(Rfc2217Codec::opening()), kBound);
    QVERIFY(s.say(telnet(kDo, 44) + "Device open failure: no such device\r\n"));
    s.peer->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kBound);
    QCOMPARE(opened.count(), 0);
    QCOMPARE(failed.first().at(0).value<Line::OpenFailure>(), Line::OpenFailure::NoDevice);
    QCOMPARE(failed.first().at(1).toString(),
             QStringLiteral("设备服务器说“Device open failure: no such device”，然后断开了连接"));
}

void TstNetworkLine::discardTakesWhatTheSystemHolds()
{
#ifndef Q_OS_UNIX
    QSKIP("waits on the socket's input through the system");
#else
    // Bytes that reached the system before a request, not yet read by the
    // program, are not handed up after it.
    Server s;
    NetworkLine line;
    QSignalSpy opened(&line, &Line::opened);
    line.open(s.url("tcp"));
    QTRY_VERIFY_WITH_TIMEOUT(opened.count() == 1 && s.peer, kBound);
    QByteArray got;
    connect(&line, &Line::received, this, [&](const QByteArray &b) { got += b; });
    const QByteArray stale = QByteArray::fromHex("02 00 1E EE 00 12 34");
    QVERIFY(s.say(stale));
    // Waited for without the event loop, so that the line has not read it.
    const int fd = int(line.socket()->socketDescriptor());
    int queued = 0;
    for (int i = 0; i < 2000 && queued < stale.size(); ++i) {
        QCOMPARE(::ioctl(fd, FIONREAD, &queued), 0);
        if (queued < stale.size())
            QThread::msleep(5);
    }
    QCOMPARE(queued, int(stale.size()));
    line.discardInput();
    const QByteArray answer = QByteArray::fromHex("02 00 0A EE 00 21 0C 04 CD 03");
    QVERIFY(line.write(buildFrame(255, cmd::Discover, QByteArray(1, char(255)))));
    QTRY_VERIFY_WITH_TIMEOUT(s.got.size() >= 9, kBound);
    QVERIFY(s.say(answer));
    QTRY_COMPARE_WITH_TIMEOUT(got, answer, kBound);
#endif
}

QTEST_GUILESS_MAIN(TstNetworkLine)
#include "tst_networkline.moc"
