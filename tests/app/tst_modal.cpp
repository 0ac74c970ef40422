// The window on the real serial layer over a pseudo-terminal, with message
// boxes that stay open a while, as an operator leaves them: what arrives
// while a box is open must not spoil the next reply, and a whole reply that
// arrives then is taken, its box shown once the first is closed.

#include "support/heldboxdialogs.h"
#include "support/pty.h"

#include "app/mainform.h"
#include "protocol/channeltable.h"
#include "protocol/frame.h"
#include "link/qtserialcontrol.h"

#include <QPushButton>
#include <QTest>

#include <algorithm>

using namespace vorn;

namespace {

QByteArray blocksOf(const ChannelTable &t)
{
    return *encodeTable(t);
}

}  // namespace

class ModalTest : public QObject
{
    Q_OBJECT
private slots:
    void bytesDuringTheBoxDoNotSpoilTheNextReply_data();
    void bytesDuringTheBoxDoNotSpoilTheNextReply();
};

void ModalTest::bytesDuringTheBoxDoNotSpoilTheNextReply_data()
{
    QTest::addColumn<QByteArray>("stray");
    QTest::addColumn<QString>("next");
    QTest::addColumn<int>("numberAfter");   // the device number once the box is closed
    QTest::newRow("five bytes, then a read-back") << QByteArray::fromHex("11 22 33 44 55") << "read-back" << 12;
    QTest::newRow("a whole reply, then a read-back") << QByteArray::fromHex("02 00 0A EE 00 21 07 04 C6 03")
                                                     << "read-back" << 7;
    QTest::newRow("five bytes, then a second connection test") << QByteArray::fromHex("11 22 33 44 55")
                                                               << "discovery" << 12;
}

void ModalTest::bytesDuringTheBoxDoNotSpoilTheNextReply()
{
    QFETCH(QByteArray, stray);
    QFETCH(QString, next);
    QFETCH(int, numberAfter);
    Pty pty;
    QVERIFY(pty.ok());
    QtSerialControl port(PortMap({pty.path}));
    DeviceSession session(&port);
    HeldBoxDialogs dialogs;
    MainForm form(&session, &dialogs);
    form.load();
    QVERIFY(port.isOpen());
    // The replies the session turned down: a wait below ends as soon as the
    // one it waits for is among them.
    QList<QByteArray> dropped;
    connect(&session, &DeviceSession::replyReceived, this, [&](const QByteArray &bytes, const ReplyVerdict &v) {
        if (!v.taken())
            dropped.append(bytes);
    });
    const auto droppedWhole = [&](const QByteArray &reply) {
        return std::any_of(dropped.cbegin(), dropped.cend(), [&](const QByteArray &d) { return d.endsWith(reply); });
    };

    // The connection test is answered; while the box that reports it is open
    // more bytes arrive and are handed up by the port object.
    bool sent = false;
    qsizetype arrived = 0;
    connect(&port, &QtSerialControl::received, this, [&](const QByteArray &bytes) {
        if (sent)
            arrived += bytes.size();
    });
    dialogs.releaseWhen = [&] {
        if (!sent)
            sent = pty.send(stray);
        // A later box (the reply that came meanwhile) closes at once.
        return arrived == stray.size() || dialogs.shown.size() > 1;
    };
    form.findChild<QPushButton *>(QStringLiteral("FindCommand"))->click();
    QCOMPARE(pty.receive(9, 5000), QByteArray::fromHex("02 00 09 FF EE 21 FF C6 03"));
    const QByteArray found12 = QByteArray::fromHex("02 00 0A EE 00 21 0C 04 CD 03");
    QVERIFY(pty.send(found12));
    QTRY_VERIFY_WITH_TIMEOUT((!dialogs.boxOpen() && dialogs.shown.size() == (numberAfter == 12 ? 1 : 2))
                                 || droppedWhole(found12),
                             10000);
    QVERIFY2(!droppedWhole(found12), "the answer to the connection test was turned down");
    QCOMPARE(dialogs.shown.size(), numberAfter == 12 ? 1 : 2);
    QVERIFY2(dialogs.released, "the bytes sent while the box was open never reached the port object");
    dialogs.releaseWhen = [] { return true; };
    QCOMPARE(session.ledId(), quint8(numberAfter));
    const quint8 number = quint8(numberAfter);
    if (next == QLatin1String("read-back")) {
        ChannelTable t = startTable();
        t[0].lower = QStringLiteral("-100");
        t[9].start2 = QStringLiteral("777");
        form.findChild<QPushButton *>(QStringLiteral("ReSetCommand"))->click();
        QCOMPARE(pty.receive(9, 5000), buildFrame(number, cmd::ReadBack, QByteArray(1, '\0')));
        const QByteArray reply = buildReply(cmd::ReadBack, blocksOf(t));
        QVERIFY(pty.send(reply));
        QTRY_VERIFY_WITH_TIMEOUT(form.table() == t || droppedWhole(reply), 10000);
        QVERIFY2(!droppedWhole(reply), "the read-back was turned down");
        QCOMPARE(form.table(), t);
    } else {
        form.findChild<QPushButton *>(QStringLiteral("FindCommand"))->click();
        QCOMPARE(pty.receive(9, 5000), buildFrame(number, cmd::Discover, QByteArray(1, char(number))));
        const QByteArray found13 = QByteArray::fromHex("02 00 0A EE 00 21 0D 04 CC 03");
        QVERIFY(pty.send(found13));
        QTRY_VERIFY_WITH_TIMEOUT(session.ledId() == 13 || droppedWhole(found13), 10000);
        QVERIFY2(!droppedWhole(found13), "the answer to the second connection test was turned down");
        QCOMPARE(session.ledId(), quint8(13));
        QCOMPARE(dialogs.texts().last(), QStringLiteral("找到  13 号设备~！"));
    }
}

QTEST_MAIN(ModalTest)
#include "tst_modal.moc"
