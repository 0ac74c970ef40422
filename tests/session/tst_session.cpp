// The device session on the fake line: each request's frame and the
// receive settings it leaves, refusals, replies and records with what became
// of them, and the line.

#include "support/driving.h"
#include "support/fakeline.h"

#include "protocol/frame.h"
#include "session/devicesession.h"
#include "session/messages.h"
#include "session/requestfields.h"

#include <QSignalSpy>
#include <QTimer>
#include <QTest>
#include <functional>

using namespace vorn;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text)); }

using Request = std::function<bool(DeviceSession &)>;

struct Rig
{
    FakeLine port;
    DeviceSession session{FakeLine::ports(), &port};
    QList<Refusal> refusals;
    QList<QByteArray> sent;
    explicit Rig(bool open = true)
    {
        if (open)
            port.addPort(1);
        QObject::connect(&session, &DeviceSession::refused, [this](const Refusal &r) { refusals.append(r); });
        QObject::connect(&session, &DeviceSession::frameSent, [this](const QByteArray &f) { sent.append(f); });
        if (open)
            session.openPort(1);
    }
};

QMap<QString, Request> requests()
{
    const QDateTime clock(QDate(2026, 12, 6), QTime(8, 15, 27));
    return {
        {"connection test", [](DeviceSession &s) { return s.connectionTest(); }},
        {"renumber", [](DeviceSession &s) { return s.renumber(40); }},
        {"download", [](DeviceSession &s) { return s.download(startTable()); }},
        {"read back", [](DeviceSession &s) { return s.readBack(); }},
        {"target values", [](DeviceSession &s) { return s.setFeedback(FeedbackMode::Target); }},
        {"raw values", [](DeviceSession &s) { return s.setFeedback(FeedbackMode::Raw); }},
        {"feedback off", [](DeviceSession &s) { return s.setFeedback(FeedbackMode::Off); }},
        {"smart setting", [](DeviceSession &s) {
             s.armCapture(CaptureState::kLow, 0);
             return s.smartSetting(0, startTexts());
         }},
        {"display mode 1", [](DeviceSession &s) { return s.setDisplayMode(1); }},
        {"show number", [](DeviceSession &s) { return s.showNumber({{46, 1}, QByteArray("\1\2\3\4")}); }},
        {"show code", [](DeviceSession &s) { return s.showCode({{46, 1}, 1, 1}); }},
        {"power on", [](DeviceSession &s) { return s.setPower(true); }},
        {"power off", [](DeviceSession &s) { return s.setPower(false); }},
        {"clock", [clock](DeviceSession &s) { return s.setClock(clock); }},
    };
}

const QByteArray kDiscoveryReply = hex("02000AEE00210C04CD03");

// What a request leaves the session ready to take, seen from outside: records
// (while the poller runs), or the reply of the kind named, which it takes.
enum class Takes { Nothing, Discovery, ReadBack, Records, RawValues };

// Offers the reply of kind (for Nothing and Records a connection test's
// answer) and says whether the session took it: the signal that kind gives.
bool takesReply(Rig &r, Takes kind)
{
    QSignalSpy discovered(&r.session, &DeviceSession::discovered);
    QSignalSpy table(&r.session, &DeviceSession::tableRead);
    QSignalSpy values(&r.session, &DeviceSession::liveValues);
    switch (kind) {
    case Takes::ReadBack:
        r.port.inject(buildReply(0x32, encodeTable(startTable()).value()));
        return table.count() == 1;
    case Takes::RawValues:
        r.port.inject(buildReply(0x40, QByteArray(20, '\x01')));
        return values.count() == 1;
    default:
        r.port.inject(kDiscoveryReply);
        return discovered.count() == 1;
    }
}

}  // namespace

Q_DECLARE_METATYPE(Takes)

class SessionTest : public QObject
{
    Q_OBJECT
private slots:
    void requestFrameAndSettings_data();
    void requestFrameAndSettings();
    void refusedWhenClosedOrFailing_data();
    void refusedWhenClosedOrFailing();
    void badFieldsSendNothing_data();
    void badFieldsSendNothing();
    void readsRequestFields_data();
    void readsRequestFields();
    void repliesAndWhatBecameOfThem_data();
    void repliesAndWhatBecameOfThem();
    void recordsTakenAndDiscarded();
    void captureFromTheNextRawReply();
    void lineOpenedAndLostOncePerOpening();
    void requestFromAReplyListenerEndsWhatCameBefore();
    void openingThatWaits_data();
    void openingThatWaits();
    void searchWaitsForEachPort();
    void adapterAskedOnlyForReconnecting_data();
    void adapterAskedOnlyForReconnecting();
    void resumesOnlyTheSameAdapter_data();
    void resumesOnlyTheSameAdapter();
};

void SessionTest::requestFrameAndSettings_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("ledId");
    QTest::addColumn<bool>("streamingTargets");   // the poller runs before the request
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<Takes>("takes");           // after
    QTest::addColumn<bool>("recordsAfter");   // a record coming after it is taken
    QTest::addColumn<bool>("inputEmptied");
    QTest::addColumn<int>("mode");                // FeedbackMode after
    const int off = int(FeedbackMode::Off), target = int(FeedbackMode::Target), raw = int(FeedbackMode::Raw);
    QTest::newRow("connection test") << "connection test" << 255 << false << hex("020009FFEE21FFC603") << Takes::Discovery
                                     << false << true << off;
    QTest::newRow("connection test while targets stream")
        << "connection test" << 255 << true << hex("020009FFEE21FFC603") << Takes::Discovery << false << true << target;
    QTest::newRow("renumber goes to 255") << "renumber" << 5 << false << hex("02000AFFEE940528A203") << Takes::Nothing << false
                                          << false << off;
    QTest::newRow("download") << "download" << 255 << false
                              << hex("02006CFFEE31" + QByteArray("000003E80100000003E8").repeated(10) + "4C03")
                              << Takes::Nothing << false << false << off;
    QTest::newRow("read back stops the poller") << "read back" << 255 << true << hex("020009FFEE32002A03") << Takes::ReadBack
                                                << false << true << target;
    QTest::newRow("target values") << "target values" << 1 << false << hex("02000901EE4000A603") << Takes::Records << true
                                   << true << target;
    QTest::newRow("raw values") << "raw values" << 1 << true << hex("02000901EE4001A703") << Takes::RawValues << false << true
                                << raw;
    QTest::newRow("feedback off") << "feedback off" << 1 << true << hex("02000901EE4002A403") << Takes::Nothing << false << true
                                  << off;
    QTest::newRow("display mode") << "display mode 1" << 1 << false << hex("02000901EE4101A603") << Takes::Nothing << false
                                  << false << off;
    QTest::newRow("show number") << "show number" << 255 << false << hex("02000EFFEE232E010102030417 03")
                                 << Takes::Nothing << false << false << off;
    QTest::newRow("show code") << "show code" << 255 << false << hex("02000CFFEE242E01010116 03") << Takes::Nothing << false
                               << false << off;
    QTest::newRow("power on") << "power on" << 1 << false << hex("02000901EE1201F503") << Takes::Nothing << false << false
                              << off;
    QTest::newRow("power off") << "power off" << 1 << false << hex("02000901EE1200F403") << Takes::Nothing << false << false
                               << off;
    QTest::newRow("clock") << "clock" << 1 << false << hex("02000E01EE201A0C06080F1BCD03") << Takes::Nothing << false
                           << false << off;
}

void SessionTest::requestFrameAndSettings()
{
    QFETCH(QString, request);
    QFETCH(int, ledId);
    QFETCH(bool, streamingTargets);
    QFETCH(QByteArray, frame);
    QFETCH(Takes, takes);
    QFETCH(bool, recordsAfter);
    QFETCH(bool, inputEmptied);
    QFETCH(int, mode);
    Rig r;
    r.session.setLedId(quint8(ledId));
    if (streamingTargets)
        QVERIFY(r.session.setFeedback(FeedbackMode::Target));
    r.port.written.clear();
    r.sent.clear();
    r.port.inject("waiting");
    QVERIFY(requests()[request](r.session));
    QCOMPARE(r.port.written, QList<QByteArray>{frame});
    QCOMPARE(r.sent, QList<QByteArray>{frame});
    // What came before a request that empties the input is gone; before any
    // other it still waits.
    QCOMPARE(r.session.recordInputPending(), !inputEmptied);
    QCOMPARE(int(r.session.feedbackMode()), mode);
    QVERIFY(r.refusals.isEmpty());
    // A connection test's answer is taken only while one is awaited.
    QCOMPARE(takesReply(r, takes), takes != Takes::Nothing && takes != Takes::Records);
    // A record is taken where the poller runs and has the input; while a
    // reply is awaited the receiver has it (a connection test leaves target
    // values streaming, their records dropped). One that waits where the
    // poller ran before stays untaken.
    r.port.inject("N1,2\r\n");
    if (recordsAfter)
        QVERIFY(pollerTook(r.session));
    else if (streamingTargets && r.session.recordInputPending())
        QVERIFY(pollerStill(r.session));
    else
        QCOMPARE(r.session.recordInputPending(), takes == Takes::Nothing);
}

void SessionTest::refusedWhenClosedOrFailing_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("open");   // false: closed; true: open but writes fail
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("detail");
    for (const QString &name : requests().keys()) {
        const bool own = name == QLatin1String("download") || name == QLatin1String("smart setting");
        const QString ownText = name == QLatin1String("download") ? msg::DownloadError() : msg::SmartError();
        QTest::addRow("%s, closed", qPrintable(name))
            << name << false << (own ? ownText : msg::NotOpen()) << (own ? msg::NotOpen() : QString());
        QTest::addRow("%s, write fails", qPrintable(name))
            << name << true << (own ? ownText : msg::WriteFailed()) << QStringLiteral("write failed");
    }
}

void SessionTest::refusedWhenClosedOrFailing()
{
    QFETCH(QString, request);
    QFETCH(bool, open);
    QFETCH(QString, text);
    QFETCH(QString, detail);
    Rig r;
    // A valid pair of readings, so that smart setting fails on the line only.
    r.session.armCapture(CaptureState::kLow, 0);
    QVERIFY(r.session.setFeedback(FeedbackMode::Raw));
    QByteArray payload;
    for (int v : {1000, 0, 0, 0, 0, 0, 0, 0, 0, 0})
        payload += char(v >> 8), payload += char(v & 0xFF);
    r.port.inject(buildReply(0x40, payload));
    r.session.armCapture(CaptureState::kHigh, 0);
    payload[0] = char(5000 >> 8), payload[1] = char(5000 & 0xFF);
    r.port.inject(buildReply(0x40, payload));
    QVERIFY(r.session.setFeedback(FeedbackMode::Off));
    r.port.written.clear();
    r.sent.clear();
    if (open)
        r.port.setFailWrites(true);
    else
        r.session.close();
    QVERIFY(!requests()[request](r.session));
    QCOMPARE(r.port.written.size(), 0);
    QVERIFY(r.sent.isEmpty());
    QCOMPARE(r.refusals.size(), 1);
    QCOMPARE(r.refusals.first().text, text);
    QCOMPARE(r.refusals.first().detail, detail);
    QCOMPARE(r.session.feedbackMode(), FeedbackMode::Off);
    QVERIFY(!takesReply(r, Takes::Nothing));
    // Nor does the poller start for target values refused.
    if (request == QLatin1String("target values"))
        QVERIFY(pollerStill(r.session));
}

void SessionTest::badFieldsSendNothing_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("inText");
    QTest::newRow("digit above 9") << "number" << QStringLiteral("第 3 位");
    QTest::newRow("field the front end could not read") << "field" << QStringLiteral("显示位数");
    QTest::newRow("table field") << "download" << QStringLiteral("3#");
    QTest::newRow("no readings") << "smart" << QStringLiteral("低点原始值 0，高点原始值 0");
}

void SessionTest::badFieldsSendNothing()
{
    QFETCH(QString, what);
    QFETCH(QString, inText);
    Rig r;
    ChannelTable t = startTable();
    t[3].upper = QStringLiteral("-1");
    if (what == QLatin1String("number"))
        QVERIFY(!r.session.showNumber({{46, 1}, QByteArray("\1\2\12\4")}));
    else if (what == QLatin1String("field"))
        r.session.refuseField(QStringLiteral("“显示位数”无效"));
    else if (what == QLatin1String("download"))
        QVERIFY(!r.session.download(t));
    else
        QVERIFY(!r.session.smartSetting(4, startTexts()));
    QVERIFY(r.port.written.isEmpty());
    QCOMPARE(r.refusals.size(), 1);
    const Refusal why = r.refusals.first();
    QVERIFY2((why.text + why.detail).contains(inText), qPrintable(why.text + " / " + why.detail));
}

// ------------------------------------------------------------ the operator's fields

namespace {

QString rangeMessage(const char *field)
{
    return QStringLiteral("“%1”无效：请输入 0 到 255 之间的数字。").arg(QString::fromUtf8(field));
}

}  // namespace

// The display and numbering requests read from their fields, in the order of
// the form: "显示数字" (start, port, count, number), "显示编码" (start, port,
// code 1, code 2) and the digit count of "修改编号". The payload each becomes,
// or the whole message of the first field that cannot be read.
void SessionTest::readsRequestFields_data()
{
    QTest::addColumn<QString>("what");         // number, code or digits
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("expected");     // payload in hex, or the message
    const auto number = [](const char *name, QStringList f, const QString &expected) {
        QTest::newRow(name) << "number" << f << expected;
    };
    const auto code = [](const char *name, QStringList f, const QString &expected) {
        QTest::newRow(name) << "code" << f << expected;
    };
    const auto digits = [](const char *name, const char *text, const QString &expected) {
        QTest::newRow(name) << "digits" << QStringList{QString::fromUtf8(text)} << expected;
    };
    const QString start = rangeMessage("位置起点"), port = rangeMessage("显示端口"), count = rangeMessage("数据位数");
    const auto tooMany = [](int n) { return QStringLiteral("“数据位数”过大：最多为显示数字的位数加 10（%1）。").arg(n); };
    const auto digit = [](int i) { return QStringLiteral("“显示数字”无效：第 %1 位不是数字 0 到 9。").arg(i); };
    number("filled with zeros", {"46", "1", "4", "7"}, "2e 01 07 00 00 00");
    number("cut to the count", {"46", "1", "4", "12345"}, "2e 01 01 02 03 04");
    number("empty number", {"46", "1", "4", ""}, "2e 01 00 00 00 00");
    number("count 0", {"46", "1", "0", "12345"}, "2e 01");
    number("count empty", {"46", "1", "", "12345"}, "2e 01");
    number("count letters", {"46", "1", "ab", "12345"}, "2e 01");
    number("only the first digits read", {"46", "1", "2x", "12a4"}, "2e 01 01 02");
    number("count 10, empty number", {"0", "255", "10", ""}, "00 ff 00 00 00 00 00 00 00 00 00 00");
    number("count = length + 10", {"46", "1", "12", "98"}, "2e 01 09 08 00 00 00 00 00 00 00 00 00 00");
    number("blanks and halves", {" 0 ", "2.5", "4", "1"}, "00 02 01 00 00 00");
    number("count 11, empty number", {"46", "1", "11", ""}, tooMany(10));
    number("count beyond length + 10", {"46", "1", "13", "98"}, tooMany(12));
    number("count 300", {"46", "1", "300", "1"}, count);
    number("count negative", {"46", "1", "-1", "1"}, count);
    number("letter among the digits", {"46", "1", "4", "12a4"}, digit(3));
    number("full-width digit", {"46", "1", "2", QStringLiteral("1２")}, digit(2));
    number("start 256", {"256", "1", "4", "1"}, start);
    number("start empty", {"", "1", "4", "1"}, start);
    number("start with junk", {"4a", "1", "4", "1"}, start);
    number("port with junk", {"46", "1x", "4", "1"}, port);
    number("port negative", {"46", "-1", "4", "1"}, port);
    // The first field that cannot be read is named, in the order of the form.
    number("start before port", {"x", "x", "x", "x"}, start);
    number("port before count", {"46", "x", "300", "x"}, port);
    number("count before digits", {"46", "1", "300", "x"}, count);
    code("codes", {" 0 ", "2.5", "255", "3.5"}, "00 02 ff 04");
    code("code: start with junk", {"4a", "1", "1", "1"}, start);
    code("code: port past 255", {"46", "256", "1", "1"}, port);
    code("first code past 255", {"46", "1", "256", "1"}, rangeMessage("显示编码 第1个编码"));
    code("first code empty", {"46", "1", "", "1"}, rangeMessage("显示编码 第1个编码"));
    code("second code a letter", {"46", "1", "1", "x"}, rangeMessage("显示编码 第2个编码"));
    code("first code named before the second", {"46", "1", "-1", "x"}, rangeMessage("显示编码 第1个编码"));
    digits("digit count", " 0 ", "ff 00");
    digits("digit count rounded", "4.4", "ff 04");
    digits("digit count past 255", "256", rangeMessage("显示位数"));
    digits("digit count a letter", "abc", rangeMessage("显示位数"));
    digits("digit count empty", "", rangeMessage("显示位数"));
    digits("digit count with junk", "4a", rangeMessage("显示位数"));
}

void SessionTest::readsRequestFields()
{
    QFETCH(QString, what);
    QFETCH(QStringList, fields);
    QFETCH(QString, expected);
    QString why;
    std::optional<QByteArray> payload;
    if (what == QLatin1String("number")) {
        if (const auto r = readNumberDisplay(fields[0], fields[1], fields[2], fields[3], &why))
            payload = showNumberPayload(*r);
    } else if (what == QLatin1String("code")) {
        if (const auto r = readCodeDisplay(fields[0], fields[1], fields[2], fields[3], &why))
            payload = showCodePayload(*r);
    } else if (const auto n = readDigitCount(fields[0], &why)) {
        payload = changeNumberPayload(255, *n);
    }
    if (payload)
        QCOMPARE(QString::fromLatin1(payload->toHex(' ')), expected);
    else
        QCOMPARE(why, expected);
}

// What the splitter cut from the bytes, piece by piece: taken ("") or dropped
// with the reason.
void SessionTest::repliesAndWhatBecameOfThem_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("reasons");
    QTest::addColumn<QList<int>>("rawShown");   // channel 0 of each raw reply taken
    const auto raw = [](int first) {
        QByteArray p(20, '\x01');
        p[0] = 0;
        p[1] = char(first);
        return buildReply(0x40, p);
    };
    QByteArray badCheck = kDiscoveryReply;
    badCheck[8] = 0x21;
    QTest::newRow("discovery") << kDiscoveryReply << QStringList{""} << QList<int>{};
    QTest::newRow("check byte") << badCheck << QStringList{"校验字节应为 0xCD，收到 0x21"} << QList<int>{};
    QTest::newRow("two glued") << raw(1) + raw(2) << QStringList{"", ""} << QList<int>{1, 2};
    QTest::newRow("garbage around")
        << QByteArray("\x11\x22") + raw(3) + QByteArray("\x33") + raw(4) + QByteArray("\x44")
        << QStringList{"起始字节应为 0x02，收到 0x11", "", "起始字节应为 0x02，收到 0x33", "",
                       "起始字节应为 0x02，收到 0x44"}
        << QList<int>{3, 4};
    QTest::newRow("a valid reply after a damaged one") << badCheck + raw(5)
        << QStringList{"校验字节应为 0xCD，收到 0x21", ""} << QList<int>{5};
    QTest::newRow("length field no reply has") << hex("02FFFF") + raw(6)
        << QStringList{"长度字段为 65535，应答不会有这个长度", ""} << QList<int>{6};
    QTest::newRow("unknown code") << buildReply(0x55, QByteArray(1, '\0')) << QStringList{"未知的应答代码 0x55"}
                                  << QList<int>{};
    QTest::newRow("too short for its code") << buildReply(0x40, QByteArray(2, '\0'))
                                            << QStringList{"代码 0x40 的应答需要 28 个字节，这一帧只有 10 个"}
                                            << QList<int>{};
    QTest::newRow("start byte") << QByteArray(1, '\x05') + kDiscoveryReply.mid(1)
                                << QStringList{"起始字节应为 0x02，收到 0x05"} << QList<int>{};
    QTest::newRow("read back") << buildReply(0x32, hex("00 00 03 E8 01 00 00 00 03 E8").repeated(10))
                               << QStringList{""} << QList<int>{};
}

void SessionTest::repliesAndWhatBecameOfThem()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, reasons);
    QFETCH(QList<int>, rawShown);
    Rig r;
    QVERIFY(r.session.connectionTest());
    QSignalSpy seen(&r.session, &DeviceSession::replyReceived);
    QSignalSpy found(&r.session, &DeviceSession::discovered);
    QList<int> shown;
    connect(&r.session, &DeviceSession::liveValues, this, [&](const LiveValues &v) {
        QCOMPARE(v.mode, FeedbackMode::Raw);
        shown.append(v.raw[0]);
    });
    QList<QByteArray> tables;
    connect(&r.session, &DeviceSession::tableRead, this,
            [&](const std::array<DecodedChannel, kChannels> &, const QByteArray &blocks) { tables.append(blocks); });
    r.port.inject(bytes);
    QByteArray pieces;
    QStringList got;
    for (const auto &call : seen) {
        pieces += call.at(0).toByteArray();
        const auto verdict = call.at(1).value<ReplyVerdict>();
        QCOMPARE(verdict.taken(), verdict.reason.isEmpty());
        got << verdict.reason;
    }
    QCOMPARE(got, reasons);
    QCOMPARE(pieces, bytes);   // every byte accounted for, once
    QCOMPARE(shown, rawShown);
    QCOMPARE(found.size(), bytes == kDiscoveryReply ? 1 : 0);
    QCOMPARE(r.session.ledId(), quint8(bytes == kDiscoveryReply ? 12 : 255));
    const bool readBack = bytes.size() == kReadBackReplyLength;
    QCOMPARE(tables, readBack ? QList<QByteArray>{bytes.mid(6, 100)} : QList<QByteArray>{});
}

void SessionTest::recordsTakenAndDiscarded()
{
    Rig r;
    QVERIFY(r.session.setFeedback(FeedbackMode::Target));
    QSignalSpy records(&r.session, &DeviceSession::recordReceived);
    QSignalSpy shown(&r.session, &DeviceSession::liveValues);
    r.port.inject("N12,-3,450\r\n");
    QTRY_COMPARE(records.size(), 1);
    QCOMPARE(records.first().at(1).toBool(), true);
    const auto live = shown.first().first().value<LiveValues>();
    QCOMPARE(live.mode, FeedbackMode::Target);
    QCOMPARE(live.text(), QStringLiteral("12\r\n-3\r\n450"));
    QCOMPARE(live.shownValues(), (QStringList{"12", "-3", "450", "", "", "", "", "", "", ""}));
    r.port.inject("X1,2\r\n");
    QTRY_COMPARE(records.size(), 2);
    QCOMPARE(records.last().at(0).toByteArray(), QByteArray("X1,2\r\n"));
    QCOMPARE(records.last().at(1).toBool(), false);
    QCOMPARE(records.last().at(2).toString(), QStringLiteral("不以 “N” 开头"));
    QCOMPARE(shown.size(), 1);
}

void SessionTest::captureFromTheNextRawReply()
{
    Rig r;
    QVERIFY(r.session.setFeedback(FeedbackMode::Raw));
    const auto reply = [](int ch2) {
        QByteArray p(20, '\0');
        p[4] = char(ch2 >> 8);
        p[5] = char(ch2 & 0xFF);
        return buildReply(0x40, p);
    };
    r.port.inject(reply(111));   // nothing armed at start
    QVERIFY(!r.session.smartSetting(2, startTexts()));
    QCOMPARE(r.refusals.last().detail, QStringLiteral("2# 通道：低点原始值 0，高点原始值 0。"));
    r.session.armCapture(CaptureState::kLow, 2);
    r.port.inject(reply(1000));
    r.port.inject(reply(3000));  // disarmed: not taken
    r.session.armCapture(CaptureState::kHigh, 2);
    r.port.inject(reply(5000));
    // Low 1000, high 5000:
    QVERIFY(r.session.smartSetting(2, startTexts()));
    QCOMPARE(r.port.written.last(), buildFrame(255, 0x30, hex("0280FA27100100000003E8")));
}

void SessionTest::lineOpenedAndLostOncePerOpening()
{
    FakeLine port;
    port.setPortFailure(1, Line::OpenFailure::InUse);
    port.addPort(2);
    DeviceSession session(FakeLine::ports(), &port);
    QSignalSpy opened(&session, &DeviceSession::portOpened);
    QSignalSpy lost(&session, &DeviceSession::portLost);
    QSignalSpy searched(&session, &DeviceSession::portsSearched);
    session.searchPorts();
    QCOMPARE(searched.size(), 1);
    QCOMPARE(searched.first().first().toInt(), 2);
    QVERIFY(session.openPort(2));
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.first().at(1).toString(), QStringLiteral("/dev/fake2"));
    port.unplug(QStringLiteral("cable pulled"));
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.first().first().toString(), QStringLiteral("cable pulled"));
    QVERIFY(session.openPort(2));
    port.unplug();
    QCOMPARE(lost.size(), 2);
    QSignalSpy refused(&session, &DeviceSession::refused);
    QVERIFY(!session.openPort(17));
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused.first().first().value<Refusal>().text, msg::OpenError());
    QCOMPARE(refused.first().first().value<Refusal>().detail, QStringLiteral("“17”不是 1 到 16 之间的端口号。"));
}

void SessionTest::requestFromAReplyListenerEndsWhatCameBefore()
{
    // A listener of the answer asks for the table at once (as the stream
    // keeper does): a raw-value reply that came glued to the answer came
    // before that request, and is not taken as anything.
    Rig r;
    QVERIFY(r.session.connectionTest());
    int values = 0;
    connect(&r.session, &DeviceSession::liveValues, this, [&] { ++values; });
    connect(&r.session, &DeviceSession::discovered, this, [&] { QVERIFY(r.session.readBack()); });
    r.port.inject(kDiscoveryReply + buildReply(0x40, QByteArray(20, '\x01')));
    QCOMPARE(r.sent.size(), 2);
    QCOMPARE(r.sent.last(), buildFrame(12, 0x32, QByteArray(1, '\0')));
    QCOMPARE(values, 0);
}

void SessionTest::openingThatWaits_data()
{
    // A line that tells its opening later (a network line): openPort() is
    // back at once, and the outcome comes with the line's signal.
    QTest::addColumn<Line::OpenFailure>("outcome");
    QTest::newRow("opens") << Line::OpenFailure::None;
    QTest::newRow("no connection") << Line::OpenFailure::NoDevice;
    QTest::newRow("no such host") << Line::OpenFailure::NoSuchPort;
}

void SessionTest::openingThatWaits()
{
    QFETCH(Line::OpenFailure, outcome);
    FakeLine port;
    port.deferOpen = true;
    port.setPortFailure(3, outcome, QStringLiteral("no connection within 3 s"));
    DeviceSession session(FakeLine::ports(), &port);
    QSignalSpy opened(&session, &DeviceSession::portOpened);
    QSignalSpy failed(&session, &DeviceSession::portOpenFailed);
    QSignalSpy refused(&session, &DeviceSession::refused);
    QVERIFY(session.openPort(3));
    QVERIFY(session.isOpening());
    QVERIFY(!session.isOpen());
    QCOMPARE(opened.size() + failed.size() + refused.size(), 0);
    // Nothing goes out meanwhile.
    QVERIFY(!session.connectionTest());
    QCOMPARE(port.written.size(), 0);
    refused.clear();
    port.finishOpening();
    QVERIFY(!session.isOpening());
    const bool opens = outcome == Line::OpenFailure::None;
    QCOMPARE(session.isOpen(), opens);
    QCOMPARE(opened.size(), opens ? 1 : 0);
    QCOMPARE(failed.size(), opens ? 0 : 1);
    QCOMPARE(refused.size(), opens ? 0 : 1);
    if (!opens) {
        QCOMPARE(failed.first().first().toInt(), 3);
        QCOMPARE(refused.first().first().value<Refusal>().text, msg::OpenError());
        QCOMPARE(refused.first().first().value<Refusal>().detail,
                 QStringLiteral("/dev/fake3：no connection within 3 s"));
    }
}

void SessionTest::searchWaitsForEachPort()
{
    // Port 1 answers nothing for a while and then fails, port 2 opens later:
    // the search is back at once every time and goes on from the outcomes.
    FakeLine port;
    port.deferOpen = true;
    port.setPortFailure(1, Line::OpenFailure::NoDevice);
    port.addPort(2);
    DeviceSession session(FakeLine::ports(), &port);
    QSignalSpy searched(&session, &DeviceSession::portsSearched);
    session.searchPorts();
    QVERIFY(session.isSearching());
    QCOMPARE(port.openAttempts, QList<int>{1});
    port.finishOpening();
    QCOMPARE(port.openAttempts, (QList<int>{1, 2}));
    QCOMPARE(searched.size(), 0);
    port.finishOpening();
    QCOMPARE(searched.size(), 1);
    QCOMPARE(searched.first().first().toInt(), 2);
    QVERIFY(!session.isSearching());
    QVERIFY(port.isOpen());
}

void SessionTest::adapterAskedOnlyForReconnecting_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::newRow("reconnecting on: asked once, for the port opened") << true;
    QTest::newRow("reconnecting off (rt8ctl): never asked") << false;
}

void SessionTest::adapterAskedOnlyForReconnecting()
{
    QFETCH(bool, reconnect);
    FakeLine port;
    port.addPort(1);
    port.addPort(2);
    DeviceSession session(FakeLine::ports(), &port);
    session.setAutoReconnect(reconnect);
    QVERIFY(session.openPort(2));
    QCOMPARE(port.serialAsks, reconnect ? 1 : 0);
}

void SessionTest::resumesOnlyTheSameAdapter_data()
{
    // The adapter's serial number, as the system reports it; another answer
    // or none is tested end to end.
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("lateMs");   // the system reports "after" only this late
    QTest::addColumn<bool>("resumed");
    QTest::newRow("none reported") << "" << "" << 0 << true;
    QTest::newRow("the same, reported late") << "A1" << "A1" << 1200 << true;
    QTest::newRow("another") << "A1" << "B7" << 0 << false;
}

void SessionTest::resumesOnlyTheSameAdapter()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(int, lateMs);
    QFETCH(bool, resumed);
    Rig r;
    r.port.serials[1] = before;
    QVERIFY(r.session.openPort(1) && r.session.connectionTest());
    r.port.inject(buildReply(0x21, hex("0C04")));   // device 12, 4 digits
    QVERIFY(r.session.setFeedback(FeedbackMode::Raw));
    r.port.unplug();
    const int opened = r.port.openCount;
    r.port.serials[1].clear();
    QTimer::singleShot(lateMs, [&] { r.port.serials[1] = after; });
    r.port.replug();
    if (resumed) {
        // The stream is told to stop, then the device asked who it is.
        QTRY_COMPARE_WITH_TIMEOUT(r.sent.last(), buildFrame(12, 0x21, hex("0C")), 10000);
        QCOMPARE(r.sent.at(r.sent.size() - 2), buildFrame(12, 0x40, hex("02")));
        r.port.inject(buildReply(0x21, hex("0C04")));
        QCOMPARE(r.session.lineState(), LineState::Open);
        QCOMPARE(r.sent.last(), buildFrame(12, 0x40, hex("01")));
    } else {
        // Another adapter is not even opened.
        QTRY_COMPARE_WITH_TIMEOUT(r.session.lineState(), LineState::NotResumed, 10000);
        QCOMPARE(r.port.openCount, opened);
        QVERIFY(r.session.notResumedWhy().contains(QStringLiteral("B7")));
    }
}

QTEST_GUILESS_MAIN(SessionTest)
#include "tst_session.moc"
