// Every request the window sends, and what it does with the answers, on the
// fake line.

#include "formfixture.h"

#include "app/widgets.h"
#include "protocol/rtxfile.h"
#include "protocol/frame.h"
#include "protocol/requests.h"
#include "nogbkconverter.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace vorn;

namespace {

QByteArray rawReply(const std::array<int, 10> &v)
{
    QByteArray p;
    for (int x : v) {
        p += char(x >> 8);
        p += char(x & 0xFF);
    }
    return buildReply(0x40, p);
}

QByteArray readBackReply(const QByteArray &blocks)
{
    return buildReply(0x32, blocks);
}

// Device 12's answer to a connection test (4 display digits).
const QByteArray kDiscovery = hex("02 00 0A EE 00 21 0C 04 CD 03");

QColor lampOf(const FormFixture &f)
{
    return f.form->findChild<Lamp *>(QStringLiteral("GetValShape"))->fillColor();
}

QString feedbackOf(const FormFixture &f)
{
    return f.form->findChild<FeedbackBox *>(QStringLiteral("RsValText"))->text();
}

const QColor kGreen(0, 255, 0), kYellow(255, 255, 0), kBlack(0, 0, 0);

}  // namespace

class RequestsTest : public QObject
{
    Q_OBJECT
private slots:
    void simpleFrames_data();
    void simpleFrames();
    void refusedWhenPortClosed_data();
    void refusedWhenPortClosed();
    void failedWriteIsRefused();

    void connectionTest();
    void changeNumberRefusesBadCount_data();
    void changeNumberRefusesBadCount();

    void receiverRejects_data();
    void receiverRejects();
    void repliesArrivingTogetherAreEachTaken_data();
    void repliesArrivingTogetherAreEachTaken();
    void readBackFillsTable();
    void rawValuesAndLamp();

    void download();
    void downloadRefused_data();
    void downloadRefused();
    void readBackRequest();
    void readBackClosedPortKeepsSettings();

    void feedbackModes_data();
    void feedbackModes();
    void poller();

    void smartSetting();
    void smartSettingRefused();
    void firstRawReplyCapturesNothing();

    void displayRefusals_data();
    void displayRefusals();

    void saveAndLoad();
    void saveWarnsBeforeCutting();
    void loadRefusesBadFile();
    void filesWithoutGbkConverter();
};

// ------------------------------------------------------------ plain requests

void RequestsTest::simpleFrames_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("ledId");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("power on, device 1") << "OpenPowCommand" << 1 << hex("02 00 09 01 EE 12 01 F5 03");
    QTest::newRow("power off, device 1") << "ClosePowCommand" << 1 << hex("02 00 09 01 EE 12 00 F4 03");
    QTest::newRow("change number 5, 40 digits") << "SetIDCommand" << 5 << hex("02 00 0A FF EE 94 05 28 A2 03");
    QTest::newRow("change number from device 1 goes to 255") << "SetIDCommand" << 1 << hex("02 00 0A FF EE 94 01 28 A6 03");
    // Empty: the device's clock set to the PC's, read at the click.
    QTest::newRow("clock, device 1") << "SeTimeCommand" << 1 << QByteArray();
    QTest::newRow("display mode 0") << "SM2TypeCommand(0)" << 1 << hex("02 00 09 01 EE 41 00 A7 03");
    QTest::newRow("display mode 1") << "SM2TypeCommand(1)" << 1 << hex("02 00 09 01 EE 41 01 A6 03");
    QTest::newRow("display mode 2") << "SM2TypeCommand(2)" << 1 << hex("02 00 09 01 EE 41 02 A5 03");
    QTest::newRow("display number") << "CMD23Command" << 255 << hex("02 00 0E FF EE 23 2E 01 01 02 03 04 17 03");
    QTest::newRow("display code") << "CMD24Command" << 255 << hex("02 00 0C FF EE 24 2E 01 01 01 16 03");
}

void RequestsTest::simpleFrames()
{
    QFETCH(QString, button);
    QFETCH(int, ledId);
    QFETCH(QByteArray, frame);
    FormFixture f;
    f.edit(QStringLiteral("LedIDText"))->setText(QString::number(ledId));
    f.leaveNumber();
    QDateTime before = QDateTime::currentDateTime();
    before.setTime(QTime(before.time().hour(), before.time().minute(), before.time().second()));
    f.button(button)->click();
    f.button(button)->click();   // twice: two identical frames
    const QDateTime after = QDateTime::currentDateTime();
    if (frame.isEmpty()) {
        QCOMPARE(f.port.written.size(), 2);
        for (const QByteArray &w : f.port.written) {
            QCOMPARE(w.size(), 14);
            const auto at = [&w](int i) { return int(quint8(w[i])); };
            const QDateTime sent(QDate(2000 + at(6), at(7), at(8)), QTime(at(9), at(10), at(11)));
            QVERIFY2(before <= sent && sent <= after, qPrintable(sent.toString(Qt::ISODate)));
            QCOMPARE(w, buildFrame(quint8(ledId), cmd::Clock, clockPayload(sent)));
        }
    } else {
        QCOMPARE(f.port.written, (QList<QByteArray>{frame, frame}));
    }
    QCOMPARE(f.dialogs.shown.size(), 0);
    QVERIFY(!f.takes(kDiscovery));
    QCOMPARE(f.session.feedbackMode(), FeedbackMode::Off);
}

void RequestsTest::refusedWhenPortClosed_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    for (const char *b : {"OpenPowCommand", "ClosePowCommand", "SeTimeCommand", "FindCommand", "SetIDCommand",
                          "SM2TypeCommand(1)", "CMD23Command", "CMD24Command", "GetCommand(0)", "GetCommand(1)",
                          "GetCommand(2)", "ReSetCommand"})
        QTest::newRow(b) << b << msg::NotOpen();
    QTest::newRow("SetCommand") << "SetCommand" << msg::DownloadError();
}

void RequestsTest::refusedWhenPortClosed()
{
    QFETCH(QString, button);
    QFETCH(QString, message);
    FormFixture f(FormFixture::PortResults{});   // no port at all
    f.dialogs.shown.clear();
    f.button(button)->click();
    QCOMPARE(f.port.written.size(), 0);
    QCOMPARE(f.dialogs.texts(), QStringList{message});
    // No setting changed.
    QVERIFY(!f.takes(kDiscovery));
    QCOMPARE(f.session.feedbackMode(), FeedbackMode::Off);
    QVERIFY(!f.button(QStringLiteral("LCommand(0)"))->isEnabled());
}

void RequestsTest::failedWriteIsRefused()
{
    FormFixture f;
    f.port.setFailWrites(true);
    f.button(QStringLiteral("GetCommand(1)"))->click();
    QCOMPARE(f.dialogs.texts(), QStringList{msg::WriteFailed()});
    QCOMPARE(f.dialogs.shown.first().detail, QStringLiteral("write failed"));
    QVERIFY(!f.takes(kDiscovery));
    QVERIFY(!f.button(QStringLiteral("OkCommand(9)"))->isEnabled());
    f.button(QStringLiteral("SetCommand"))->click();
    QCOMPARE(f.dialogs.texts().last(), msg::DownloadError());
}

// ------------------------------------------------------------ connection test

void RequestsTest::connectionTest()
{
    FormFixture f;
    f.port.inject("junk");
    f.button(QStringLiteral("FindCommand"))->click();
    QCOMPARE(f.lastWritten(), hex("02 00 09 FF EE 21 FF C6 03"));
    QVERIFY(!f.session.recordInputPending());
    const QColor lampBefore = lampOf(f);
    f.port.inject(hex("02 00 0A EE 00 21 0C 04 CD 03"));
    QCOMPARE(f.session.ledId(), quint8(12));
    QCOMPARE(f.edit(QStringLiteral("LedIDText"))->text(), QStringLiteral("12"));
    QCOMPARE(f.edit(QStringLiteral("SanLongText"))->text(), QStringLiteral("4"));
    QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("找到  12 号设备~！")});
    QCOMPARE(f.dialogs.shown.first().icon, Dialogs::Icon::Information);
    QCOMPARE(lampOf(f), lampBefore);
    // The next request goes to the number found.
    f.button(QStringLiteral("OpenPowCommand"))->click();
    QCOMPARE(f.lastWritten(), hex("02 00 09 0C EE 12 01 F8 03"));
}

void RequestsTest::changeNumberRefusesBadCount_data()
{
    QTest::addColumn<QString>("digits");
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "ab";
    QTest::newRow("above 255") << "256";
    QTest::newRow("negative") << "-1";
    QTest::newRow("trailing letter") << "4a";
    QTest::newRow("two numbers") << "1 2";
}

void RequestsTest::changeNumberRefusesBadCount()
{
    QFETCH(QString, digits);
    FormFixture f;
    f.edit(QStringLiteral("SanLongText"))->setText(digits);
    f.button(QStringLiteral("SetIDCommand"))->click();
    QCOMPARE(f.port.written.size(), 0);
    QCOMPARE(f.dialogs.shown.size(), 1);
    QVERIFY(f.dialogs.texts().first().contains(QStringLiteral("显示位数")));
    QCOMPARE(f.dialogs.shown.first().icon, Dialogs::Icon::Warning);
}

// ------------------------------------------------------------ receiver

void RequestsTest::receiverRejects_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("left");   // bytes that may still begin a reply
    const QByteArray good = rawReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    auto changed = [&](int at, char value) { QByteArray b = good; b[at] = value; return b; };
    QTest::newRow("start byte") << changed(0, 0x03) << 0;
    QTest::newRow("end byte") << changed(27, 0x02) << 1;
    QTest::newRow("marker") << changed(3, char(0xEF)) << 0;
    QTest::newRow("length field") << changed(2, 0x1B) << 0;
    QTest::newRow("check byte") << changed(26, char(good[26] ^ 1)) << 0;
    QTest::newRow("payload byte") << changed(10, char(good[10] ^ 0x40)) << 0;
    QTest::newRow("unknown code") << buildReply(0x31, QByteArray(20, '\x01')) << 0;
    QTest::newRow("8 bytes") << hex("02 00 08 EE 00 40 A6 03") << 0;
    QTest::newRow("raw code, short frame") << buildReply(0x40, QByteArray(2, '\x01')) << 0;
    QTest::newRow("discovery code, 9 bytes") << buildReply(0x21, QByteArray(1, '\x01')) << 0;
    QTest::newRow("read-back code, 28 bytes") << buildReply(0x32, QByteArray(20, '\x01')) << 0;
    QTest::newRow("feedback record") << QByteArray("N1,2,3,4,5,6,7,8,9,10,11,1\r\n") << 0;
}

void RequestsTest::receiverRejects()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, left);
    FormFixture f;
    f.button(QStringLiteral("GetCommand(1)"))->click();
    const ChannelTable before = f.form->table();
    f.port.inject(bytes);
    QCOMPARE(feedbackOf(f), QString());
    QCOMPARE(f.form->table(), before);
    QCOMPARE(f.session.ledId(), quint8(255));
    QCOMPARE(lampOf(f), kYellow);
    QCOMPARE(f.dialogs.shown.size(), 0);
    // What may still begin a reply is kept and judged with what comes next:
    // dropped ahead of a good reply, which is taken.
    QSignalSpy seen(&f.session, &DeviceSession::replyReceived);
    const QByteArray good = rawReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    f.port.inject(good);
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.last().at(0).toByteArray(), good);
    qsizetype ahead = 0;
    for (int i = 0; i + 1 < seen.size(); ++i)
        ahead += seen.at(i).at(0).toByteArray().size();
    QCOMPARE(ahead, left);
}

// Whole valid replies that arrive together, or with other bytes, are each
// taken: the first feeds the capture armed before, the box shows the last.
void RequestsTest::repliesArrivingTogetherAreEachTaken_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray first = rawReply({11, 12, 1000, 14, 15, 16, 17, 18, 19, 20});
    const QByteArray last = rawReply({21, 22, 23, 24, 25, 26, 27, 28, 29, 30});
    QTest::newRow("two glued replies") << first + last;
    QTest::newRow("a stray byte between") << first + QByteArray("x") + last;
    QTest::newRow("a damaged reply between") << first + QByteArray(first).replace(26, 1, "\x00") + last;
    QTest::newRow("a record before") << QByteArray("N1,2\r\n") + first + last;
}

void RequestsTest::repliesArrivingTogetherAreEachTaken()
{
    QFETCH(QByteArray, bytes);
    FormFixture f;
    f.button(QStringLiteral("GetCommand(1)"))->click();
    f.button(QStringLiteral("LCommand(2)"))->click();
    f.port.inject(bytes);
    QCOMPARE(feedbackOf(f), QStringLiteral("21\r\n22\r\n23\r\n24\r\n25\r\n26\r\n27\r\n28\r\n29\r\n30\r\n"));
    QCOMPARE(lampOf(f), kGreen);
    QVERIFY(!f.session.recordInputPending());
    // The first of them was the low reading (1000), the next not.
    f.button(QStringLiteral("HCommand(2)"))->click();
    f.port.inject(rawReply({0, 0, 5000, 0, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(f.okFrame(2), f.smartFrame(2, 1000, 5000));
}

void RequestsTest::readBackFillsTable()
{
    FormFixture f;
    f.button(QStringLiteral("ReSetCommand"))->click();
    QByteArray blocks;
    for (int i = 0; i < 10; ++i) {
        // lower -(100 + i), span 200 + i, dp i % 4, formula cycling, start values
        const int lower = 100 + i;
        blocks += char(0x80 | (lower >> 8));
        blocks += char(lower & 0xFF);
        blocks += char(0);
        blocks += char(200 + i);
        blocks += char(i % 4);
        const char codes[] = {0x00, char(0x99), 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, char(0xFF), 0x00};
        blocks += codes[i];
        blocks += hex("80 01 7F FF");
    }
    // Row 8: span that cannot be shown keeps the old upper limit.
    blocks[8 * 10 + 2] = char(0x80);
    f.edit(f.at("HText", 8))->setText(QStringLiteral("777"));
    f.port.inject(readBackReply(blocks));
    const QStringList formulas = {QStringLiteral("固定关"), QStringLiteral("固定开"), QStringLiteral("大于"),
                                  QStringLiteral("小于"), QStringLiteral("等于"), QStringLiteral("范围内"),
                                  QStringLiteral("范围外"), QStringLiteral("固定关"), QStringLiteral("固定关"),
                                  QStringLiteral("固定关")};
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(f.edit(f.at("LText", i))->text(), QString::number(-(100 + i)));
        QCOMPARE(f.edit(f.at("HText", i))->text(), i == 8 ? QStringLiteral("777") : QString::number(100));
        QCOMPARE(f.edit(f.at("DotText", i))->text(), QString::number(i % 4));
        QCOMPARE(f.combo(f.at("KGFormulaCombo", i))->currentText(), formulas[i]);
        QCOMPARE(f.edit(f.at("KGstText", i))->text(), QStringLiteral("-1"));
        QCOMPARE(f.edit(f.at("KGedText", i))->text(), QStringLiteral("32767"));
    }
    QCOMPARE(lampOf(f), kGreen);
    QVERIFY(f.timer(QStringLiteral("GetValShapeTimer"))->isActive());
}

void RequestsTest::rawValuesAndLamp()
{
    FormFixture f;
    f.button(QStringLiteral("GetCommand(1)"))->click();
    QByteArray all100 = hex("02 00 1C EE 00 40");
    for (int i = 0; i < 10; ++i)
        all100 += hex("00 64");
    all100 += hex("B2 03");
    f.port.inject(all100);
    QCOMPARE(feedbackOf(f), QStringLiteral("100\r\n").repeated(10));
    QCOMPARE(lampOf(f), kGreen);
    f.port.inject(rawReply({65535, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    QCOMPARE(feedbackOf(f), QStringLiteral("65535\r\n0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lampOf(f), kBlack, 10000);
    QVERIFY(!f.timer(QStringLiteral("GetValShapeTimer"))->isActive());
}

// ------------------------------------------------------------ configuration

void RequestsTest::download()
{
    FormFixture f;
    f.button(QStringLiteral("SetCommand"))->click();
    QByteArray expected = hex("02 00 6C FF EE 31");
    for (int i = 0; i < 10; ++i)
        expected += hex("00 00 03 E8 01 00 00 00 03 E8");
    expected += hex("4C 03");
    QCOMPARE(f.port.written, QList<QByteArray>{expected});
    QCOMPARE(f.dialogs.shown.size(), 0);
    QVERIFY(!f.takes(kDiscovery));
}

void RequestsTest::downloadRefused_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::newRow("upper below lower") << "HText(9)" << "-1";
    QTest::newRow("lower does not fit") << "LText(0)" << "-32768";
    QTest::newRow("span above 32767") << "HText(4)" << "40000";
    QTest::newRow("negative decimal places") << "DotText(2)" << "-1";
    QTest::newRow("start value 1 too large") << "KGstText(5)" << "99999";
    QTest::newRow("start value 2 overflows") << "KGedText(7)" << "1e309";
    QTest::newRow("decimal places beyond 32 bits") << "DotText(1)" << "9e12";
}

void RequestsTest::downloadRefused()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    FormFixture f;
    static_cast<FilteredEdit *>(f.edit(box))->setText(text);
    const ChannelTable before = f.form->table();
    f.button(QStringLiteral("SetCommand"))->click();
    QCOMPARE(f.port.written.size(), 0);
    QCOMPARE(f.dialogs.texts(), QStringList{msg::DownloadError()});
    QCOMPARE(f.form->table(), before);
}

void RequestsTest::readBackRequest()
{
    FormFixture f;
    f.button(QStringLiteral("GetCommand(0)"))->click();
    f.port.inject("N1,2\r\n");
    f.button(QStringLiteral("ReSetCommand"))->click();
    QCOMPARE(f.lastWritten(), hex("02 00 09 FF EE 32 00 2A 03"));
    QVERIFY(!f.session.recordInputPending());
    QVERIFY(f.takes(readBackReply(encodeTable(startTable()).value())));
}

void RequestsTest::readBackClosedPortKeepsSettings()
{
    FormFixture f;
    f.button(QStringLiteral("GetCommand(0)"))->click();
    f.port.close();
    f.port.inject("N5\r\n");
    f.button(QStringLiteral("ReSetCommand"))->click();
    QCOMPARE(f.port.written.size(), 1);
    QCOMPARE(f.dialogs.texts(), QStringList{msg::NotOpen()});
    // The poller runs on and takes the record.
    QVERIFY(pollerTook(f.session));
    QCOMPARE(feedbackOf(f), QStringLiteral("5"));
}

// ------------------------------------------------------------ live feedback

void RequestsTest::feedbackModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("poller");
    QTest::addColumn<bool>("smart");
    QTest::newRow("target values") << 0 << hex("02 00 09 01 EE 40 00 A6 03") << true << false;
    QTest::newRow("raw values") << 1 << hex("02 00 09 01 EE 40 01 A7 03") << false << true;
    QTest::newRow("off") << 2 << hex("02 00 09 01 EE 40 02 A4 03") << false << false;
}

void RequestsTest::feedbackModes()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, frame);
    QFETCH(bool, poller);
    QFETCH(bool, smart);
    FormFixture f;
    f.edit(QStringLiteral("LedIDText"))->setText(QStringLiteral("1"));
    f.leaveNumber();
    // From each other state, the same settings result.
    for (int from : {0, 1, 2}) {
        f.button(FormFixture::at("GetCommand", from))->click();
        // The start of a reply waits in every state.
        f.port.inject(hex("02 00 1C EE 00"));
        f.port.written.clear();
        const int discards = f.port.discards;
        f.button(FormFixture::at("GetCommand", mode))->click();
        QCOMPARE(f.port.written, QList<QByteArray>{frame});
        // The input was emptied, here and by the line, before the request.
        QCOMPARE(f.port.discards, discards + 1);
        QVERIFY(!f.session.recordInputPending());
        // A record is taken in target values only. Raw values: the receiver
        // has it; off: it waits, and a poller that ran before stands still.
        f.port.inject("N1,2\r\n");
        if (poller)
            QVERIFY(pollerTook(f.session));
        else
            QCOMPARE(f.session.recordInputPending(), !smart);
        if (!poller && !smart && from == 0)
            QVERIFY(pollerStill(f.session));
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(f.button(FormFixture::at("LCommand", i))->isEnabled(), smart);
            QCOMPARE(f.button(FormFixture::at("HCommand", i))->isEnabled(), smart);
            QCOMPARE(f.button(FormFixture::at("OkCommand", i))->isEnabled(), smart);
        }
    }
    // Raw values are taken as they come; nothing else is taken as a reply.
    if (smart)
        QVERIFY(f.takes(buildReply(0x40, QByteArray(20, '\x01'))));
    else
        QVERIFY(!f.takes(kDiscovery));
    // A connection test during streaming awaits its reply: records go to the
    // receiver, which drops them, until target values are asked for again.
    f.button(QStringLiteral("FindCommand"))->click();
    f.port.inject("N1,2\r\n");
    QVERIFY(!f.session.recordInputPending());
    QVERIFY(f.takes(kDiscovery));
}

void RequestsTest::poller()
{
    FormFixture f;
    f.button(QStringLiteral("GetCommand(0)"))->click();
    QColor lamp;   // as the record is shown
    connect(&f.session, &DeviceSession::liveValues, [&] { lamp = lampOf(f); });
    f.port.inject("N12,-3,450\r\n");
    QVERIFY(pollerTook(f.session));
    QCOMPARE(feedbackOf(f), QStringLiteral("12\r\n-3\r\n450"));
    QCOMPARE(lamp, kGreen);

    // Two records: the first shown, both gone.
    f.port.inject("N1,2\r\nN3,4\r\n");
    QVERIFY(pollerTook(f.session));
    QCOMPARE(feedbackOf(f), QStringLiteral("1\r\n2"));
    // No CR LF at the end, or stray bytes: discarded, the text stays.
    for (const QByteArray &junk : {QByteArray("N7,8\r"), QByteArray("x"), QByteArray("\r\n"),
                                   rawReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})}) {
        f.port.inject(junk);
        QVERIFY(pollerTook(f.session));
        QCOMPARE(feedbackOf(f), QStringLiteral("1\r\n2"));
    }
}

// ------------------------------------------------------------ smart setting

void RequestsTest::smartSetting()
{
    FormFixture f;
    f.button(QStringLiteral("GetCommand(1)"))->click();
    std::array<int, 10> v{};
    v.fill(3000);
    f.button(QStringLiteral("LCommand(2)"))->click();
    v[2] = 1000;
    f.port.inject(rawReply(v));
    v[2] = 7777;
    f.port.inject(rawReply(v));   // not armed: nothing taken
    f.button(QStringLiteral("HCommand(2)"))->click();
    v[2] = 5000;
    f.port.inject(rawReply(v));
    // The frame: low 1000, high 5000.
    f.port.written.clear();
    f.button(QStringLiteral("OkCommand(2)"))->click();
    QCOMPARE(f.dialogs.shown.size(), 0);
    QCOMPARE(f.port.written,
             QList<QByteArray>{hex("02 00 13 FF EE 30 02 80 FA 27 10 01 00 00 00 03 E8 97 03")});
    // OK again sends the same; nothing in the window changed.
    f.button(QStringLiteral("OkCommand(2)"))->click();
    QCOMPARE(f.port.written.size(), 2);
    QCOMPARE(f.port.written[0], f.port.written[1]);

    // Low on row 2, then high on row 5 before a reply: only row 5 is taken.
    f.button(QStringLiteral("LCommand(2)"))->click();
    f.button(QStringLiteral("HCommand(5)"))->click();
    v[2] = 1;
    v[5] = 4242;
    const QByteArray row2 = f.port.written[0];
    f.port.inject(rawReply(v));
    QCOMPARE(f.okFrame(2), row2);
    QVERIFY(!f.smartFrame(5, 0, 4242).isEmpty());
    QCOMPARE(f.okFrame(5), f.smartFrame(5, 0, 4242));
}

void RequestsTest::smartSettingRefused()
{
    FormFixture f;
    f.button(QStringLiteral("GetCommand(1)"))->click();
    f.port.written.clear();
    f.button(QStringLiteral("OkCommand(4)"))->click();   // no readings: both 0
    QCOMPARE(f.port.written.size(), 0);
    QCOMPARE(f.dialogs.texts(), QStringList{msg::SmartError()});
    // Valid readings but a row that does not fit.
    std::array<int, 10> v{};
    f.button(QStringLiteral("LCommand(4)"))->click();
    v[4] = 100;
    f.port.inject(rawReply(v));
    f.button(QStringLiteral("HCommand(4)"))->click();
    v[4] = 9000;
    f.port.inject(rawReply(v));
    static_cast<FilteredEdit *>(f.edit(QStringLiteral("KGstText(4)")))->setText(QStringLiteral("-32768"));
    f.button(QStringLiteral("OkCommand(4)"))->click();
    QCOMPARE(f.port.written.size(), 0);
    QCOMPARE(f.dialogs.texts().size(), 2);
    // Port gone: the smart-setting message too.
    static_cast<FilteredEdit *>(f.edit(QStringLiteral("KGstText(4)")))->setText(QStringLiteral("0"));
    f.port.close();
    f.button(QStringLiteral("OkCommand(4)"))->click();
    QCOMPARE(f.dialogs.texts().last(), msg::SmartError());
    QCOMPARE(f.port.written.size(), 0);
}

void RequestsTest::firstRawReplyCapturesNothing()
{
    FormFixture f;
    f.button(QStringLiteral("GetCommand(1)"))->click();
    f.port.inject(rawReply({111, 222, 0, 0, 0, 0, 0, 0, 0, 0}));
    // "OK" finds no readings: neither is 111.
    QVERIFY(f.okFrame(0).isEmpty());
    QCOMPARE(f.dialogs.texts(), QStringList{msg::SmartError()});
    QCOMPARE(f.dialogs.shown.last().detail, QStringLiteral("0# 通道：低点原始值 0，高点原始值 0。"));
}

// ------------------------------------------------------------ display

void RequestsTest::displayRefusals_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::newRow("start position 256") << "RsAddText(0)" << "256" << "CMD23Command" << "位置起点";
    QTest::newRow("port not a number") << "RsAddText(1)" << "a" << "CMD24Command" << "显示端口";
    QTest::newRow("digit count above text + 10") << "RsAddText(2)" << "16" << "CMD23Command" << "数据位数";
    QTest::newRow("letter among the digits") << "CMD23Text" << "12a45" << "CMD23Command" << "显示数字";
    QTest::newRow("code byte empty") << "CMD24Text(1)" << "" << "CMD24Command" << "显示编码";
    QTest::newRow("code byte negative") << "CMD24Text(0)" << "-1" << "CMD24Command" << "显示编码";
    QTest::newRow("start position with junk") << "RsAddText(0)" << "4a" << "CMD24Command" << "位置起点";
    QTest::newRow("port past 255") << "RsAddText(1)" << "256" << "CMD23Command" << "显示端口";
    QTest::newRow("digit count negative") << "RsAddText(2)" << "-1" << "CMD23Command" << "数据位数";
    QTest::newRow("full-width digit") << "CMD23Text" << QStringLiteral("1２34") << "CMD23Command" << "第 2 位";
    QTest::newRow("second code past 255") << "CMD24Text(1)" << "256" << "CMD24Command" << "第2个编码";
}

void RequestsTest::displayRefusals()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QString, button);
    QFETCH(QString, field);
    FormFixture f;
    QSignalSpy refused(&f.session, &DeviceSession::refused);
    f.edit(box)->setText(text);
    f.button(button)->click();
    QCOMPARE(f.port.written.size(), 0);
    QCOMPARE(f.dialogs.shown.size(), 1);
    QVERIFY2(f.dialogs.texts().first().contains(field), qPrintable(f.dialogs.texts().first()));
    QCOMPARE(f.dialogs.shown.first().icon, Dialogs::Icon::Warning);
    // Told as a refusal of the session, so that the line monitor has it too.
    QCOMPARE(refused.size(), 1);
}

// ------------------------------------------------------------ files

void RequestsTest::saveAndLoad()
{
    QTemporaryDir dir;
    FormFixture f;
    ChannelTable t = startTable();
    t[0] = {QStringLiteral("-9999"), QStringLiteral("12-3"), QStringLiteral("3"), QStringLiteral("范围外"),
            QStringLiteral("-1"), QStringLiteral("")};
    t[9].formula = QStringLiteral("固定开");
    f.form->setTable(t);
    f.dialogs.nextSave = dir.filePath(QStringLiteral("a.RTX"));
    f.button(QStringLiteral("SaveSetCommand"))->click();
    QCOMPARE(f.dialogs.shown.size(), 0);
    QCOMPARE(f.dialogs.lastFilter, QStringLiteral("配置文件(*.RTX)"));
    QCOMPARE(f.dialogs.lastSaveDir, QCoreApplication::applicationDirPath());
    QFile file(f.dialogs.nextSave);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), *encodeRtx(t));

    f.form->setTable(startTable());
    f.dialogs.nextOpen = f.dialogs.nextSave;
    f.button(QStringLiteral("OpenSetCommand"))->click();
    QCOMPARE(f.dialogs.lastOpenDir, QStringLiteral("."));
    QCOMPARE(f.form->table(), t);

    // Cancelled dialogs do nothing.
    f.dialogs.nextOpen.clear();
    f.dialogs.nextSave.clear();
    f.form->setTable(startTable());
    f.button(QStringLiteral("OpenSetCommand"))->click();
    f.button(QStringLiteral("SaveSetCommand"))->click();
    QCOMPARE(f.form->table(), startTable());
    QCOMPARE(f.dialogs.shown.size(), 0);
}

void RequestsTest::saveWarnsBeforeCutting()
{
    QTemporaryDir dir;
    FormFixture f;
    ChannelTable t = startTable();
    t[3].lower = QStringLiteral("-20000");
    f.form->setTable(t);
    f.dialogs.nextSave = dir.filePath(QStringLiteral("cut.RTX"));
    f.dialogs.confirmAnswer = false;
    f.button(QStringLiteral("SaveSetCommand"))->click();
    QCOMPARE(f.dialogs.texts(), QStringList{msg::CutWarning()});
    QVERIFY(f.dialogs.shown.first().detail.contains(QStringLiteral("-20000")));
    QVERIFY(!QFile::exists(f.dialogs.nextSave));
    f.dialogs.confirmAnswer = true;
    f.button(QStringLiteral("SaveSetCommand"))->click();
    ChannelTable loaded;
    QCOMPARE(loadRtxFile(f.dialogs.nextSave, &loaded), RtxLoad::Ok);
    QCOMPARE(loaded[3].lower, QStringLiteral("-2000"));
}

void RequestsTest::loadRefusesBadFile()
{
    QTemporaryDir dir;
    FormFixture f;
    const QString path = dir.filePath(QStringLiteral("bad.RTX"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\"too short\"\r\n");
    file.close();
    ChannelTable t = startTable();
    t[1].upper = QStringLiteral("5");
    f.form->setTable(t);
    f.dialogs.nextOpen = path;
    f.button(QStringLiteral("OpenSetCommand"))->click();
    QCOMPARE(f.form->table(), t);
    QCOMPARE(f.dialogs.texts(), QStringList{msg::LoadFailed()});
    f.dialogs.nextOpen = dir.filePath(QStringLiteral("missing.RTX"));
    f.button(QStringLiteral("OpenSetCommand"))->click();
    QCOMPARE(f.form->table(), t);
    QCOMPARE(f.dialogs.texts().size(), 2);
}

void RequestsTest::filesWithoutGbkConverter()
{
    QTemporaryDir dir;
    FormFixture f;
    const QString good = dir.filePath(QStringLiteral("good.RTX"));
    QFile file(good);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(encodeRtx(startTable()).value_or(QByteArray()));
    file.close();
    ChannelTable t = startTable();
    t[6].formula = QStringLiteral("小于");
    f.form->setTable(t);

    NoGbkConverter none;
    f.dialogs.nextSave = dir.filePath(QStringLiteral("new.RTX"));
    f.button(QStringLiteral("SaveSetCommand"))->click();
    QVERIFY(!QFile::exists(f.dialogs.nextSave));
    QCOMPARE(f.dialogs.texts(), QStringList{msg::SaveFailed()});
    QVERIFY2(f.dialogs.shown.last().detail.contains(QLatin1String("GBK")), qPrintable(f.dialogs.shown.last().detail));

    f.dialogs.nextOpen = good;
    f.button(QStringLiteral("OpenSetCommand"))->click();
    QCOMPARE(f.form->table(), t);
    QCOMPARE(f.dialogs.texts(), (QStringList{msg::SaveFailed(), msg::LoadFailed()}));
    QVERIFY2(f.dialogs.shown.last().detail.contains(QLatin1String("GBK")), qPrintable(f.dialogs.shown.last().detail));
}

QTEST_MAIN(RequestsTest)
#include "tst_window.moc"
