// What the line monitor and the trace say of each frame: every command the
// program writes, every reply taken or dropped (with the reason), every
// feedback record taken or discarded.
#include "protocol/describe.h"
#include "protocol/frame.h"
#include "protocol/record.h"
#include "protocol/reply.h"

#include <QTest>

using namespace vorn;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

}  // namespace

class DescribeTest : public QObject
{
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void replies_data();
    void replies();
    void records_data();
    void records();
};

void DescribeTest::commands_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("meaning");
    QTest::newRow("connection test") << buildFrame(255, cmd::Discover, bytes({255})) << "连接测试 → 255";
    QTest::newRow("renumber") << buildFrame(255, cmd::SetNumber, bytes({12, 4})) << "修改编号为 12，显示位数 4 → 255";
    QTest::newRow("download") << buildFrame(12, cmd::Download, QByteArray(100, '\0')) << "下载配置（10 个通道） → 12";
    QTest::newRow("read back") << buildFrame(12, cmd::ReadBack, bytes({0})) << "回读配置 → 12";
    QTest::newRow("feedback target") << buildFrame(12, cmd::Feedback, bytes({0})) << "反馈目标值 → 12";
    QTest::newRow("feedback raw") << buildFrame(12, cmd::Feedback, bytes({1})) << "反馈原始值 → 12";
    QTest::newRow("feedback off") << buildFrame(12, cmd::Feedback, bytes({2})) << "关闭反馈 → 12";
    QTest::newRow("feedback, unknown mode") << buildFrame(12, cmd::Feedback, bytes({7})) << "方式 7 → 12";
    QTest::newRow("display target") << buildFrame(3, cmd::DisplayMode, bytes({0})) << "显示目标值 → 3";
    QTest::newRow("display raw") << buildFrame(3, cmd::DisplayMode, bytes({1})) << "显示原始值 → 3";
    QTest::newRow("display off") << buildFrame(3, cmd::DisplayMode, bytes({2})) << "关闭显示 → 3";
    QTest::newRow("show number") << buildFrame(12, cmd::ShowNumber, bytes({46, 1, 1, 2, 3, 4, 5}))
                                 << "显示数字 12345（位置 46，端口 1） → 12";
    QTest::newRow("show code") << buildFrame(12, cmd::ShowCode, bytes({46, 1, 7, 9})) << "显示编码 7 9（位置 46，端口 1） → 12";
    QTest::newRow("smart setting, offset below zero")
        << buildFrame(12, cmd::SmartSet, bytes({2, 0x80, 0xFA, 0x27, 0x10})) << "智能设置 2#：增益 10000，偏移 -250 → 12";
    QTest::newRow("smart setting, offset above zero")
        << buildFrame(12, cmd::SmartSet, bytes({9, 0x01, 0x2C, 0x00, 0x64})) << "智能设置 9#：增益 100，偏移 300 → 12";
    QTest::newRow("power on") << buildFrame(12, cmd::Power, bytes({1})) << "开机 → 12";
    QTest::newRow("power off") << buildFrame(12, cmd::Power, bytes({0})) << "关机 → 12";
    QTest::newRow("clock") << buildFrame(12, cmd::Clock, bytes({26, 12, 7, 13, 5, 9})) << "同步时间 26-12-07 13:05:09 → 12";
    QTest::newRow("unknown code") << buildFrame(12, 0x55, bytes({0})) << "命令代码 0x55 → 12";
    QTest::newRow("not a whole frame") << buildFrame(12, cmd::ReadBack, bytes({0})).left(5) << "不完整的命令帧";
    QTest::newRow("no payload") << buildFrame(12, cmd::ReadBack) << "不完整的命令帧";
}

void DescribeTest::commands()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, meaning);
    QCOMPARE(describeCommand(frame), meaning);
}

void DescribeTest::replies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("meaning");
    const QByteArray discovery = QByteArray::fromHex("02000AEE00210C04CD03");
    const QByteArray raw = buildReply(0x40, bytes({0x00, 0x64, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x07,
                                                   0x00, 0x08, 0x00, 0x09, 0x00, 0x0A, 0x00, 0x0B, 0x00, 0x0C}));
    auto spoil = [](QByteArray b, int at, char to) {
        b[at] = to;
        return b;
    };
    QTest::newRow("discovery") << discovery << "找到设备 12，显示位数 4";
    QTest::newRow("read-back") << buildReply(0x32, QByteArray(100, '\0')) << "回读配置（10 个通道）";
    QTest::newRow("raw values") << raw << "原始值 100 256 65535 0 7 8 9 10 11 12";
    QTest::newRow("too short") << discovery.left(5) << "丢弃：太短：只有 5 个字节";
    QTest::newRow("start byte") << spoil(discovery, 0, 0x05) << "丢弃：起始字节应为 0x02，收到 0x05";
    QTest::newRow("end byte") << spoil(discovery, 9, 0x04) << "丢弃：结束字节应为 0x03，收到 0x04";
    QTest::newRow("marker") << spoil(discovery, 3, 0x11) << "丢弃：帧标志应为 0xEE，收到 0x11";
    QTest::newRow("check byte") << spoil(discovery, 8, 0x21) << "丢弃：校验字节应为 0xCD，收到 0x21";
    QTest::newRow("two glued") << raw + raw << "丢弃：长度字段为 28，等待的字节却有 56 个";
    QTest::newRow("unknown code") << buildReply(0x55, QByteArray(1, '\0')) << "丢弃：未知的应答代码 0x55";
    QTest::newRow("too short for its code") << buildReply(0x40, QByteArray(2, '\0'))
                                            << "丢弃：代码 0x40 的应答需要 28 个字节，这一帧只有 10 个";
}

void DescribeTest::replies()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, meaning);
    QCOMPARE(describeReply(judgeReply(checkFrame(reply, FrameLayout::Reply))), meaning);
}

void DescribeTest::records_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("meaning");
    QTest::newRow("three fields") << QByteArray("N12,-3,450\r\n") << true << "目标值 12 -3 450";
    QTest::newRow("a field not a number") << QByteArray("N12,--,4.5\r\n") << true << "目标值 12 -- 4.5";
    QTest::newRow("no N") << QByteArray("12,-3\r\n") << false << "丢弃记录：";
    QTest::newRow("no line end") << QByteArray("N1,2\r") << false << "丢弃记录：";
}

void DescribeTest::records()
{
    QFETCH(QByteArray, record);
    QFETCH(bool, taken);
    QFETCH(QString, meaning);
    const QString why = taken ? QString() : recordFlaw(record, int(record.size()));
    if (!taken)
        QVERIFY(!why.isEmpty());
    QCOMPARE(describeRecord(record, taken, why), meaning + why);
}

QTEST_MAIN(DescribeTest)
#include "tst_describe.moc"
