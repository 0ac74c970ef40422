// The serial control over QSerialPort, against a pseudo-terminal whose master
// side plays the device.

#include "channels/channeltable.h"
#include "link/frame.h"
#include "link/qtserialcontrol.h"

#include "support/pty.h"

#include <QEventLoop>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>

#include <sys/resource.h>

using namespace vorn;

namespace {

qint64 cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000LL + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

}  // namespace

class TstQtSerialControl : public QObject
{
    Q_OBJECT
private slots:
    void writesFrameByteForByte();
    void raisesReceiveEvent_data();
    void raisesReceiveEvent();
    void refusesPortHeldByAnother();
    void openErrors_data();
    void openErrors();
    void reportsHangUpOnce();
    void emptyingDiscardsWhatArrivedDuringAHandler();
    void emptyingAfterARequestDiscardsWhatCameBefore();
    void emptyingAfterARequestKeepsAQuickAnswer();
};

void TstQtSerialControl::writesFrameByteForByte()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QVERIFY(!ctl.output("\x02"));   // not open yet
    ctl.setSettings(QStringLiteral("38400,n,8,1"));
    QCOMPARE(ctl.open(), 0);
    QVERIFY(ctl.isOpen());
    const QByteArray frame = buildFrame(1, cmd::Download, *encodeTable(startTable()));
    QVERIFY(ctl.output(frame));
    const QByteArray got = pty.receive(frame.size() + 1, 500);
    QCOMPARE(got.size(), 108);
    QCOMPARE(got, frame);
    ctl.close();
    QVERIFY(!ctl.isOpen());
    QVERIFY(!ctl.output(frame));
}

void TstQtSerialControl::raisesReceiveEvent_data()
{
    QTest::addColumn<int>("firstChunk");
    QTest::newRow("one chunk") << 10;
    QTest::newRow("two chunks") << 4;
}

void TstQtSerialControl::raisesReceiveEvent()
{
    QFETCH(int, firstChunk);
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QCOMPARE(ctl.open(), 0);
    ctl.setRThreshold(10);
    QSignalSpy spy(&ctl, &SerialControl::onComm);
    int eventSeen = 0;
    connect(&ctl, &SerialControl::onComm, this, [&] { eventSeen = ctl.commEvent(); });

    const QByteArray reply = QByteArray::fromHex("02 00 0A EE 00 21 0C 04 CD 03");
    QVERIFY(pty.send(reply.left(firstChunk)));
    QTRY_COMPARE(ctl.inBufferCount(), firstChunk);
    if (firstChunk < 10) {
        QTest::qWait(50);
        QCOMPARE(spy.count(), 0);
        QVERIFY(pty.send(reply.mid(firstChunk)));
    }
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(eventSeen, SerialControl::kEvReceive);
    QCOMPARE(ctl.input(), reply);
    // The bytes in a block near their size, not in the port object's read
    // block: whatever keeps them (the line monitor keeps ten thousand
    // replies) keeps only that.
    QVERIFY2(ctl.input().capacity() < 1024, qPrintable(QString::number(ctl.input().capacity())));
    // Closing discards what waited on the old line.
    ctl.close();
    QCOMPARE(ctl.inBufferCount(), 0);
}

void TstQtSerialControl::refusesPortHeldByAnother()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl first(PortMap({pty.path}));
    QtSerialControl second(PortMap({pty.path}));
    QCOMPARE(first.open(), 0);
    QCOMPARE(second.open(), SerialControl::kErrPortInUse);
    QVERIFY(!second.errorText().isEmpty());
    QVERIFY(!second.isOpen());
    first.close();
    QCOMPARE(second.open(), 0);
}

void TstQtSerialControl::openErrors_data()
{
    QTest::addColumn<QString>("ports");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("result");
    const QString s = QStringLiteral("38400,n,8,1");
    QTest::newRow("missing device") << "/dev/does-not-exist-vorn" << 1 << s << 8002;
    QTest::newRow("empty entry") << "::/dev/does-not-exist-vorn" << 2 << s << 8002;
    QTest::newRow("beyond the list") << "/dev/does-not-exist-vorn" << 2 << s << 8002;
    QTest::newRow("bad settings") << "/dev/does-not-exist-vorn" << 1 << "38400,x,8,1" << 8010;
}

void TstQtSerialControl::openErrors()
{
    QFETCH(QString, ports);
    QFETCH(int, port);
    QFETCH(QString, settings);
    QFETCH(int, result);
    QtSerialControl ctl(PortMap(PortMap::parseList(ports)));
    ctl.setCommPort(port);
    ctl.setSettings(settings);
    QCOMPARE(ctl.open(), result);
    QVERIFY(!ctl.errorText().isEmpty());
    QVERIFY(!ctl.isOpen());
}

void TstQtSerialControl::reportsHangUpOnce()
{
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QCOMPARE(ctl.open(), 0);
    QSignalSpy lost(&ctl, &SerialControl::portLost);
    pty.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
    QVERIFY(!ctl.isOpen());
    const qint64 cpuBefore = cpuMs();
    QTest::qWait(500);
    QCOMPARE(lost.count(), 1);
    QVERIFY2(cpuMs() - cpuBefore < 250, "still busy after the hang-up");
    QVERIFY(!ctl.output("\x02"));
}

namespace {
const QByteArray kDiscovery = QByteArray::fromHex("02 00 0A EE 00 21 0C 04 CD 03");
const QByteArray kStray = QByteArray::fromHex("11 22 33 44 55");
}  // namespace

void TstQtSerialControl::emptyingDiscardsWhatArrivedDuringAHandler()
{
    // A handler that waits in a nested event loop (a message box): bytes that
    // arrive meanwhile stay in the port object, since it raises no second
    // readyRead inside the first. Emptying the input must take them too.
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QCOMPARE(ctl.open(), 0);
    ctl.setRThreshold(10);
    QList<QByteArray> seen;
    bool strayHeld = false;
    connect(&ctl, &SerialControl::onComm, this, [&] {
        seen.append(ctl.input());
        if (seen.size() == 1) {
            QVERIFY(pty.send(kStray));
            QEventLoop box;
            QTimer ticker;
            QDeadlineTimer deadline(5000);
            connect(&ticker, &QTimer::timeout, &box, [&] {
                if (ctl.heldByPort() == kStray.size() || deadline.hasExpired())
                    box.quit();
            });
            ticker.start(2);
            box.exec();
            strayHeld = ctl.heldByPort() == kStray.size();
        }
        ctl.clearInput();
    });
    QVERIFY(pty.send(kDiscovery));
    QTRY_COMPARE(seen.size(), 1);
    QVERIFY2(strayHeld, "the stray bytes never reached the port object while the handler waited");
    QCOMPARE(ctl.heldByPort(), 0);
    QVERIFY(pty.send(kDiscovery));
    QTRY_COMPARE(seen.size(), 2);
    QCOMPARE(seen.last(), kDiscovery);
}

void TstQtSerialControl::emptyingAfterARequestDiscardsWhatCameBefore()
{
    // Bytes still in the driver when a request goes out came before it: the
    // input emptied after the write must not keep them.
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QCOMPARE(ctl.open(), 0);
    QSignalSpy events(&ctl, &SerialControl::onComm);
    QList<QByteArray> seen;
    connect(&ctl, &SerialControl::onComm, this, [&] { seen.append(ctl.input()); ctl.clearInput(); });
    QVERIFY(pty.send(kStray));
    QVERIFY(pty.waitInDriver(kStray.size()));
    const QByteArray request = buildFrame(255, cmd::Discover, QByteArray(1, char(255)));
    QVERIFY(ctl.output(request));
    ctl.setRThreshold(10);
    ctl.clearInput();
    QCOMPARE(pty.receive(request.size(), 2000), request);
    QVERIFY(pty.send(kDiscovery));
    QTRY_COMPARE(seen.size(), 1);
    QCOMPARE(seen.first(), kDiscovery);
}

void TstQtSerialControl::emptyingAfterARequestKeepsAQuickAnswer()
{
    // A device on a fast line (a pseudo-terminal) may answer before the
    // handler that wrote the request has emptied the input: that answer stays.
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl ctl(PortMap({pty.path}));
    QCOMPARE(ctl.open(), 0);
    QList<QByteArray> seen;
    connect(&ctl, &SerialControl::onComm, this, [&] { seen.append(ctl.input()); ctl.clearInput(); });
    const QByteArray request = buildFrame(255, cmd::Discover, QByteArray(1, char(255)));
    QVERIFY(ctl.output(request));
    QCOMPARE(pty.receive(request.size(), 2000), request);
    QVERIFY(pty.send(kDiscovery));
    QVERIFY(pty.waitInDriver(kDiscovery.size()));
    ctl.setRThreshold(10);
    ctl.clearInput();
    QTRY_COMPARE(seen.size(), 1);
    QCOMPARE(seen.first(), kDiscovery);
}

QTEST_GUILESS_MAIN(TstQtSerialControl)
#include "tst_qtserialcontrol.moc"
