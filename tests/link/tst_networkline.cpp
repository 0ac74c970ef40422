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

// The server's DO and WILL for option 44.
const QByteArray kDo44 = QByteArray::fromHex("fffd2c"), kWill44 = QByteArray::fromHex("fffb2c");

// The server's answers to the five line settings (each its command plus 100).
QByteArray allSettingsAnswered()
{
    const QByteArray values[] = {QByteArray::fromHex("00009600"), "\x08", "\x01", "\x01", "\x01"};
    QByteArray b;
    for (int i = 0; i < 5; ++i)
        b += QByteArray::fromHex("fffa2c") + char(101 + i) + values[i] + QByteArray::fromHex("fff0");
    return b;
}

}  // namespace

class TstNetworkLine : public QObject
{
    Q_OBJECT
private slots:
    void sessionOpensWithoutWaiting_data();
    void sessionOpensWithoutWaiting();
    void searchGoesOnPastASilentPort();
    void openingOverRfc2217_data();
    void openingOverRfc2217();
    void tcpSendsAtOnceAndDiscardsWhatTheSystemHolds();
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
    QVERIFY(session.isOpening() && !session.isOpen());
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
    QVERIFY(session.isOpen() && !session.isSearching());
}

void TstNetworkLine::openingOverRfc2217_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("answersSettings");
    QTest::addColumn<QString>("reason");
    QTest::newRow("the server answers the settings") << kDo44 + kWill44 << true << QString();
    QTest::newRow("the server never answers them") << kDo44 + kWill44 << false << QString();
    // ser2net in front of a device it cannot open agrees first, then says
    // why and closes: what it said is the reason the opening failed.
    QTest::newRow("the server refuses and closes")
        << kDo44 + "Device open failure: no such device\r\n" << false
        << QStringLiteral("设备服务器说“Device open failure: no such device”，然后断开了连接");
}

void TstNetworkLine::openingOverRfc2217()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, answersSettings);
    QFETCH(QString, reason);
    Server s;
    NetworkLine line;
    QSignalSpy opened(&line, &Line::opened);
    QSignalSpy failed(&line, &Line::openFailed);
    line.open(s.url("rfc2217"));
    QTRY_VERIFY_WITH_TIMEOUT(s.peer && s.got.startsWith(Rfc2217Codec::opening()), kBound);
    QVERIFY(s.say(reply));
    if (!reason.isEmpty()) {
        s.peer->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kBound);
        QCOMPARE(opened.count(), 0);
        QCOMPARE(failed.first().at(0).value<Line::OpenFailure>(), Line::OpenFailure::NoDevice);
        QCOMPARE(failed.first().at(1).toString(), reason);
        return;
    }
    // The server agreed; the line settings come back to it.
    QTRY_VERIFY_WITH_TIMEOUT(s.got.contains(Rfc2217Codec::lineSettings()), kBound);
    QVERIFY(!s.got.contains(Rfc2217Codec::purgeReceived()));
    if (answersSettings) {
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

void TstNetworkLine::tcpSendsAtOnceAndDiscardsWhatTheSystemHolds()
{
#ifndef Q_OS_UNIX
    QSKIP("looks at the socket's options and input through the system");
#else
    Server s;
    NetworkLine line;
    QSignalSpy opened(&line, &Line::opened);
    line.open(s.url("tcp"));
    QTRY_VERIFY_WITH_TIMEOUT(opened.count() == 1 && s.peer, kBound);
    QVERIFY(line.socket());
    const int fd = int(line.socket()->socketDescriptor());
    // Sends at once: small writes are not held back.
    int on = 0;
    socklen_t size = sizeof on;
    QCOMPARE(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &size), 0);
    QVERIFY(on != 0);
    // Bytes that reached the system before a request, not yet read by the
    // program, are not handed up after it.
    QByteArray got;
    connect(&line, &Line::received, this, [&](const QByteArray &b) { got += b; });
    const QByteArray stale = QByteArray::fromHex("02 00 1E EE 00 12 34");
    QVERIFY(s.say(stale));
    // Waited for without the event loop, so that the line has not read it.
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
