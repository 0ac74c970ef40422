#include "ctl/controller.h"
#include "session/streamkeeper.h"

#include "protocol/rtxfile.h"
#include "ctl/verify.h"
#include "protocol/tablecompare.h"
#include "protocol/frame.h"
#include "protocol/splitter.h"
#include "link/netaddress.h"
#include "link/portmap.h"
#include "session/csv.h"
#include "session/portchoice.h"
#include "session/requestfields.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vorn::ctl {

static_assert(kDefaultConnectTimeoutMs == NetworkLine::kConnectTimeoutMs,
              "rt8ctl's default connect timeout is the transport's");

namespace {

// ---------------------------------------------------------------- output

// Why standard output could not be written, once it could not (a full disk,
// a reader that went away); empty while all went out.
QString s_outFailure;

// Standard output carries results only; false once it can no longer be
// written.
bool printOut(const QString &text)
{
    const QByteArray b = text.toUtf8();
    errno = 0;
    const size_t n = std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    const bool flushed = std::fflush(stdout) == 0;
    const bool ok = n == size_t(b.size()) && flushed && !std::ferror(stdout);
    if (!ok && s_outFailure.isEmpty())
        s_outFailure = errno != 0 ? qt_error_string(errno) : QStringLiteral("EIO");
    return ok;
}

void printErr(const QString &text)
{
    const QByteArray b = (QStringLiteral("rt8ctl: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

QString jsonLine(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}


// Rows in columns two blanks apart, the last column not filled.
QString aligned(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &r : rows)
        for (int i = 0; i < r.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], displayWidth(r[i]));
        }
    QString out;
    for (const QStringList &r : rows) {
        QString line;
        for (int i = 0; i < r.size(); ++i) {
            line += r[i];
            if (i + 1 < r.size())
                line += QString(widths[i] - displayWidth(r[i]) + 2, QLatin1Char(' '));
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line + QLatin1Char('\n');
    }
    return out;
}

QString timestamp()
{
    return QString::fromLatin1(isoTimeNow());
}

QString usbIds(const PortInfo &p)
{
    if (p.vendorId < 0 || p.productId < 0)
        return {};
    return QStringLiteral("%1:%2").arg(p.vendorId, 4, 16, QLatin1Char('0')).arg(p.productId, 4, 16, QLatin1Char('0'));
}

// ---------------------------------------------------------------- stopping a stream

// SIGINT, SIGTERM and SIGHUP end a stream in order (the device told to stop)
// instead of ending the program; a reader of standard output that goes away
// shows as a failed write, not as SIGPIPE.
class StopSignals
{
public:
    explicit StopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop))
    {
#ifdef Q_OS_UNIX
        if (::pipe(s_pipe) != 0)
            return;
        for (int fd : s_pipe) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
        m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            char c;
            while (::read(s_pipe[0], &c, 1) > 0) {
            }
            m_onStop();
        });
        struct sigaction sa{};
        sa.sa_handler = &StopSignals::handler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int i = 0; i < 3; ++i)
            ::sigaction(kSignals[i], &sa, &m_old[i]);
        struct sigaction ignore{};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &m_oldPipe);
        m_installed = true;
#else
        s_flag = false;
        m_old[0] = std::signal(SIGINT, &StopSignals::handler);
        m_old[1] = std::signal(SIGTERM, &StopSignals::handler);
        m_timer.setInterval(50);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (s_flag.exchange(false))
                m_onStop();
        });
        m_timer.start();
#endif
    }
    ~StopSignals()
    {
#ifdef Q_OS_UNIX
        if (!m_installed)
            return;
        for (int i = 0; i < 3; ++i)
            ::sigaction(kSignals[i], &m_old[i], nullptr);
        ::sigaction(SIGPIPE, &m_oldPipe, nullptr);
        m_notifier.reset();
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
#else
        std::signal(SIGINT, m_old[0]);
        std::signal(SIGTERM, m_old[1]);
#endif
    }

private:
    std::function<void()> m_onStop;
#ifdef Q_OS_UNIX
    static void handler(int sig)
    {
        const int saved = errno;
        const char c = char(sig);
        [[maybe_unused]] const auto n = ::write(s_pipe[1], &c, 1);
        errno = saved;
    }
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    static inline int s_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_old[3] {};
    struct sigaction m_oldPipe {};
    bool m_installed = false;
#else
    static void handler(int) { s_flag = true; }
    static inline std::atomic<bool> s_flag{false};
    void (*m_old[2])(int) = {};
    QTimer m_timer;
#endif
};

}  // namespace

// ---------------------------------------------------------------- the line

bool looksLikeCollidingReplies(const QList<QByteArray> &dropped)
{
    // Devices that answer at once on one line garble each other's replies,
    // which begin alike: the start byte, the length, the marker. A dropped
    // piece that begins as a reply does but is no whole reply is such a
    // reply; bytes that never begin one (a server sending 0xFF, noise) are
    // not.
    for (const QByteArray &b : dropped)
        if (b.size() >= 4 && quint8(b[0]) == kStartByte && quint8(b[3]) == kMarker
            && !checkFrame(b, FrameLayout::Reply).isFrame())
            return true;
    return false;
}

PortChoice linePorts(const Invocation &invocation)
{
    if (invocation.command == Command::Ports)
        return {PortMap::fromSystem(), 0, false};
    return choosePort(invocation.port);
}

Controller::Controller(Invocation invocation, const PortChoice &choice, NetworkLine *network,
                       DeviceSession *session, QObject *parent)
    : QObject(parent), m_inv(std::move(invocation)), m_choice(choice), m_network(network), m_session(session)
{
    m_network->setConnectTimeout(m_inv.connectTimeoutMs);
    DeviceSession *s = m_session;
    // rt8ctl never reconnects: a lost line ends the command.
    s->setAutoReconnect(false);
    connect(s, &DeviceSession::portOpened, this, &Controller::wake);
    connect(s, &DeviceSession::portOpenFailed, this, &Controller::wake);
    connect(s, &DeviceSession::portsSearched, this, &Controller::wake);
    connect(s, &DeviceSession::refused, this, [this](const Refusal &r) { m_refusal = r; });
    connect(s, &DeviceSession::portLost, this, [this](const QString &reason) {
        m_lost = reason;
        wake();
    });
    connect(s, &DeviceSession::replyReceived, this, [this](const QByteArray &bytes, const ReplyVerdict &v) {
        if (!v.taken()) {
            m_dropped.append(v.reason.isEmpty() ? tr("不是要等的应答") : v.reason);
            m_droppedBytes.append(bytes);
        }
    });
    connect(s, &DeviceSession::discovered, this, [this](quint8 number, quint8 digits) {
        if (m_asked != kBroadcast && number != m_asked) {
            printErr(tr("问的是 %1 号，却收到 %2 号（显示位数 %3）的应答，不予采信。")
                         .arg(m_asked).arg(number).arg(digits));
            return;
        }
        m_found.append({number, digits});
        wake();
    });
    connect(s, &DeviceSession::tableRead, this,
            [this](const std::array<DecodedChannel, kChannels> &rows, const QByteArray &blocks) {
                m_rows = rows;
                m_blocks = blocks;
                wake();
            });
}

Controller::~Controller()
{
    // The port closes while the trace still listens: it sees the closing.
    m_session->close();
    disconnect(m_session, nullptr, this, nullptr);
    m_trace.reset();
    m_lineLog.reset();
}

int Controller::openLine()
{
    const PortChoice &choice = m_choice;
    const bool search = choice.search;
    if (!m_inv.trace.isEmpty()) {
        // The trace is opened before anything goes out, so it holds all.
        m_lineLog = std::make_unique<LineLog>(m_session);
        m_trace = std::make_unique<LineTrace>(m_lineLog.get());
        QString why;
        if (!m_trace->open(m_inv.trace, &why)) {
            printErr(tr("无法写入跟踪文件 %1：%2").arg(m_inv.trace, why));
            return ExitFile;
        }
        // A trace that stops being written is told once; the run ends with 4.
        connect(m_trace.get(), &LineTrace::failed, this, [this](const QString &file, const QString &reason) {
            printErr(tr("跟踪文件 %1 写入失败，不再记录：%2").arg(file, reason));
            m_traceFailed = true;
            wake();
        });
    }
    bool opened;
    if (search) {
        const int found = searchAndWait();
        // The search leaves the port open as it found it; opening it again
        // sets the line up.
        opened = found > 0 && openAndWait(found);
        if (opened)
            printErr(tr("使用端口 %1（%2）。").arg(found).arg(m_session->devicePath(found)));
    } else {
        // A network port from VORNRT8_PORTS that is no URL is a mistake of
        // the command line's environment, like one given to --port.
        const QString name = choice.map.path(choice.number);
        QString why;
        if (isNetworkName(name) && !parseNetAddress(name, nullptr, &why)) {
            printErr(tr("端口 %1 的网络端口“%2”无效：%3").arg(choice.number).arg(shownPortName(name), why));
            return ExitUsage;
        }
        opened = openAndWait(choice.number);
    }
    if (!opened)
        return refusal(false);
    // The opening is the trace's first line: a trace that cannot take it
    // stops the run before anything is sent.
    if (m_traceFailed)
        return ExitFile;
    return ExitOk;
}

bool Controller::waitUntil(const std::function<bool()> &done, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (m_lost || deadline.hasExpired())
            return false;
        QEventLoop loop;
        m_loop = &loop;
        QTimer::singleShot(std::max<qint64>(deadline.remainingTime(), 0), &loop, &QEventLoop::quit);
        loop.exec();
        m_loop = nullptr;
    }
    return true;
}

bool Controller::openAndWait(int number)
{
    // The line's own deadline bounds the wait; this bound is only a guard.
    const int bound = m_network->connectTimeout() + NetworkLine::kSettingsWaitMs + 5000;
    if (!m_session->openPort(number))
        return false;
    waitUntil([this] { return !m_session->isOpening(); }, bound);
    return m_session->isOpen();
}

int Controller::searchAndWait()
{
    int found = 0;
    const auto c = connect(m_session, &DeviceSession::portsSearched, this, [&found](int number) { found = number; });
    m_session->searchPorts();
    const int bound = (kLastPort - kFirstPort + 1) * (m_network->connectTimeout() + NetworkLine::kSettingsWaitMs + 1000);
    waitUntil([this] { return !m_session->isSearching(); }, bound);
    disconnect(c);
    return found;
}

void Controller::wake()
{
    if (m_loop)
        m_loop->quit();
}

int Controller::sent()
{
    if (!m_session->waitUntilWritten(std::max(m_inv.timeout(), kDefaultTimeoutMs))) {
        if (m_lost)
            return lost();
        printErr(tr("命令没能全部发出，通讯端口可能已断开。"));
        return ExitPort;
    }
    return ExitOk;
}

int Controller::refusal(bool field)
{
    if (m_refusal) {
        QString text = m_refusal->text;
        if (!m_refusal->detail.isEmpty())
            text += QLatin1Char('\n') + m_refusal->detail;
        printErr(text);
    }
    return field ? ExitUsage : ExitPort;
}

int Controller::lost()
{
    printErr(tr("通讯端口已断开：%1").arg(m_lost.value_or(QString())));
    return ExitPort;
}

int Controller::noReply(const QString &what)
{
    if (m_lost)
        return lost();
    QString text = tr("%1：%2 ms 内没有收到有效应答。").arg(what).arg(m_inv.timeout());
    if (!m_dropped.isEmpty())
        text += QLatin1Char('\n')
                + tr("收到 %n 个无效应答，最后一个：%1", nullptr, int(m_dropped.size())).arg(m_dropped.last());
    printErr(text);
    return ExitNoReply;
}

void Controller::printFound(const Found &f)
{
    if (m_inv.json)
        printOut(jsonLine({{QStringLiteral("number"), f.number}, {QStringLiteral("digits"), f.digits}}));
    else
        printOut(QStringLiteral("number %1 digits %2\n").arg(f.number).arg(f.digits));
}

// ---------------------------------------------------------------- commands

int Controller::run()
{
    const int rc = runCommand();
    // A result that did not reach its reader is no success.
    if (!s_outFailure.isEmpty()) {
        printErr(tr("结果没能写到标准输出：%1").arg(s_outFailure));
        return rc == ExitOk ? ExitFile : rc;
    }
    return rc;
}

int Controller::runCommand()
{
    if (m_inv.command == Command::Ports)
        return ports();
    if (const int rc = openLine(); rc != ExitOk)
        return rc;
    m_session->setLedId(m_inv.address);
    int rc = ExitOk;
    switch (m_inv.command) {
    case Command::Find: rc = find(); break;
    case Command::Scan: rc = scan(); break;
    case Command::Renumber: rc = renumber(); break;
    case Command::Read: rc = read(); break;
    case Command::Write: rc = write(); break;
    case Command::Audit: rc = audit(); break;
    case Command::Stream: rc = stream(); break;
    default: rc = noReplyCommand(); break;
    }
    // A command that went well but lost its trace on the way ends with 4;
    // any other failure says more.
    return rc == ExitOk && m_traceFailed ? ExitFile : rc;
}

int Controller::ports()
{
    const PortMap &map = m_choice.map;
    QList<QStringList> rows{{tr("端口"), tr("设备"), tr("现在"), QStringLiteral("USB"), tr("说明")}};
    QStringList advice;
    int listed = 0;
    for (int p = kFirstPort; p <= kLastPort; ++p) {
        const PortInfo info = map.info(p);
        if (info.path.isEmpty())
            continue;
        ++listed;
        m_refusal.reset();
        const bool opens = openAndWait(p);
        const QString reason = opens ? QString() : m_session->lastOpenFailureText();
        if (!opens && m_session->lastOpenFailure() == Line::OpenFailure::PermissionDenied && m_refusal)
            advice.append(m_refusal->detail);
        m_session->close();
        QStringList about;
        for (const QString &s : {info.description, info.manufacturer})
            if (!s.isEmpty() && !about.contains(s))
                about.append(s);
        if (!info.serialNumber.isEmpty())
            about.append(tr("序列号 %1").arg(info.serialNumber));
        if (m_inv.json) {
            QJsonObject o{{QStringLiteral("port"), p},
                          {QStringLiteral("path"), shownPortName(info.path)},
                          {QStringLiteral("opens"), opens},
                          {QStringLiteral("reason"), reason},
                          {QStringLiteral("description"), info.description},
                          {QStringLiteral("manufacturer"), info.manufacturer},
                          {QStringLiteral("serialNumber"), info.serialNumber}};
            o.insert(QStringLiteral("vendorId"), info.vendorId >= 0 ? QJsonValue(info.vendorId) : QJsonValue());
            o.insert(QStringLiteral("productId"), info.productId >= 0 ? QJsonValue(info.productId) : QJsonValue());
            printOut(jsonLine(o));
        } else {
            rows.append({QString::number(p), shownPortName(info.path),
                         opens ? tr("可以打开") : tr("打不开：%1").arg(reason), usbIds(info),
                         about.join(tr("，"))});
        }
    }
    if (!m_inv.json && listed > 0)
        printOut(aligned(rows));
    if (listed == 0)
        printErr(tr("端口 1 到 16 都没有对应的串口设备。"));
    if (!advice.isEmpty())
        printErr(advice.join(QLatin1String("\n\n")));
    return ExitOk;
}

int Controller::connectionTest(quint8 number, int timeoutMs, Found *found)
{
    m_found.clear();
    m_dropped.clear();
    m_droppedBytes.clear();
    m_asked = number;
    m_session->setLedId(number);
    if (!m_session->connectionTest())
        return refusal(false);
    if (!waitUntil([this] { return !m_found.isEmpty(); }, timeoutMs))
        return m_lost ? lost() : ExitNoReply;
    *found = m_found.first();
    return ExitOk;
}

int Controller::find()
{
    Found f{};
    const int rc = connectionTest(m_inv.address, m_inv.timeout(), &f);
    if (rc == ExitNoReply) {
        const bool several = m_inv.address == kBroadcast && looksLikeCollidingReplies(m_droppedBytes);
        noReply(tr("测试连接"));
        if (several)
            printErr(tr("线上如果有几台设备，它们会同时应答 255 号；"
                        "请用 --address 指定编号，或用 scan 逐个查找。"));
        return ExitNoReply;
    }
    if (rc != ExitOk)
        return rc;
    printFound(f);
    return ExitOk;
}

int Controller::scan()
{
    // One number at a time: devices sharing a line answer one by one.
    int listed = 0;
    for (int n = m_inv.from; n <= m_inv.to; ++n) {
        Found f{};
        const int rc = connectionTest(quint8(n), m_inv.timeout(), &f);
        if (rc == ExitNoReply)
            continue;
        if (rc != ExitOk)
            return rc;
        printFound(f);
        ++listed;
        if (!s_outFailure.isEmpty())
            return ExitFile;
    }
    if (listed == 0) {
        printErr(tr("%1 到 %2 号都没有应答（每个号等 %3 ms）。").arg(m_inv.from).arg(m_inv.to)
                     .arg(m_inv.timeout()));
        return ExitNoReply;
    }
    return ExitOk;
}

int Controller::renumber()
{
    // The numbering request carries the display-digit count too: without
    // --digits, keep the one the device has instead of making one up.
    quint8 digits = 0;
    if (m_inv.digits) {
        QString why;
        const auto d = readDigitCount(*m_inv.digits, &why);
        if (!d) {
            m_session->refuseField(why);
            return refusal(true);
        }
        digits = *d;
    } else {
        Found f{};
        const int rc = connectionTest(m_inv.address, m_inv.timeout(), &f);
        if (rc == ExitNoReply) {
            noReply(tr("测试连接"));
            printErr(tr("不知道设备的显示位数，没有改号；请用 --digits 给出显示位数。"));
            return ExitNoReply;
        }
        if (rc != ExitOk)
            return rc;
        digits = f.digits;
    }
    m_session->setLedId(m_inv.newNumber);
    if (!m_session->renumber(digits))
        return refusal(m_refusal && m_refusal->badField);

    Found f{};
    const int rc = connectionTest(m_inv.newNumber, m_inv.timeout(), &f);
    if (rc == ExitNoReply)
        return noReply(tr("改号后测试连接 %1 号").arg(m_inv.newNumber));
    if (rc != ExitOk)
        return rc;
    printFound(f);
    return ExitOk;
}

int Controller::readBack(int number)
{
    m_rows.reset();
    m_dropped.clear();
    m_session->setLedId(number < 0 ? m_inv.address : quint8(number));
    if (!m_session->readBack())
        return refusal(false);
    if (!waitUntil([this] { return m_rows.has_value(); }, m_inv.timeout()))
        return noReply(tr("回读配置"));
    return ExitOk;
}

int Controller::read()
{
    if (const int rc = readBack(); rc != ExitOk)
        return rc;
    const auto &rows = *m_rows;
    const QString path = m_inv.words.first();
    QStringList unshown;
    for (int ch = 0; ch < kChannels; ++ch)
        if (!rows[ch].upperValid)
            unshown.append(QStringLiteral("%1#").arg(ch));

    if (path == QLatin1String("-")) {
        if (m_inv.json) {
            for (int ch = 0; ch < kChannels; ++ch) {
                const ChannelTexts &t = rows[ch].texts;
                QJsonObject o{{QStringLiteral("channel"), ch},
                              {QStringLiteral("lower"), t.lower.toInt()},
                              {QStringLiteral("decimals"), t.dot.toInt()},
                              {QStringLiteral("formula"), t.formula},
                              {QStringLiteral("start1"), t.start1.toInt()},
                              {QStringLiteral("start2"), t.start2.toInt()}};
                o.insert(QStringLiteral("upper"), rows[ch].upperValid ? QJsonValue(t.upper.toInt()) : QJsonValue());
                printOut(jsonLine(o));
            }
        } else {
            QList<QStringList> table{{tr("通道"), tr("下限"), tr("上限"), tr("小数位"), tr("报警启动"),
                                      tr("启动值1"), tr("启动值2")}};
            for (int ch = 0; ch < kChannels; ++ch) {
                const ChannelTexts &t = rows[ch].texts;
                table.append({QStringLiteral("%1#").arg(ch), t.lower, rows[ch].upperValid ? t.upper : QStringLiteral("?"),
                              t.dot, t.formula, t.start1, t.start2});
            }
            printOut(aligned(table));
        }
        if (!unshown.isEmpty())
            printErr(tr("%1 通道的上限（下限加量程）超出 -32768 到 32767，无法显示。")
                         .arg(unshown.join(tr("、"))));
        return ExitOk;
    }

    // The file: what the window's "保存配置" writes for the same table.
    if (!unshown.isEmpty()) {
        printErr(tr("%1 通道的上限（下限加量程）超出 -32768 到 32767，无法写成文本；没有写文件。")
                     .arg(unshown.join(tr("、"))));
        return ExitFile;
    }
    ChannelTable table;
    for (int ch = 0; ch < kChannels; ++ch)
        table[ch] = rows[ch].texts;
    QString why;
    const auto cutAllowed = [this](const QStringList &cut) {
        if (!m_inv.allowCut) {
            printErr(tr("部分参数超过文件中的字段宽度，保存时将被截断；没有写文件"
                        "（--allow-cut 照样保存）。")
                     + QLatin1Char('\n') + cut.join(QLatin1Char('\n')));
            return false;
        }
        printErr(tr("部分参数超过文件中的字段宽度，已截断保存：") + QLatin1Char('\n') + cut.join(QLatin1Char('\n')));
        return true;
    };
    switch (saveTableToRtx(table, cutAllowed, [&] { return path; }, &why)) {
    case RtxSave::Saved:
        return ExitOk;
    case RtxSave::NotStorable:
        printErr(tr("配置文件保存失败，没有写文件。") + QLatin1Char('\n') + why);
        return ExitFile;
    case RtxSave::CutRefused:
    case RtxSave::NoPath:
        return ExitFile;
    case RtxSave::NotWritten:
        break;
    }
    printErr(tr("配置文件保存失败，原文件未改动。\n%1\n%2").arg(path, why));
    return ExitFile;
}

bool Controller::loadTable(const QString &path, ChannelTable *table)
{
    QString why;
    if (loadRtxFile(path, table, &why) == RtxLoad::Ok)
        return true;
    printErr(tr("无法读取配置文件，没有发送。\n%1\n%2").arg(path, why));
    return false;
}

int Controller::write()
{
    const QString path = m_inv.words.first();
    ChannelTable table;
    if (!loadTable(path, &table))
        return ExitFile;
    // A field that does not convert refuses the download: nothing is sent.
    const bool convertible = encodeTable(table).has_value();
    m_session->setLedId(m_inv.address);
    if (!m_session->download(table))
        return refusal(!convertible);
    if (!m_inv.verify)
        return sent();

    if (const int rc = readBack(); rc != ExitOk)
        return rc;
    const QList<FieldDifference> diffs = compareWithDevice(table, m_blocks);
    for (const FieldDifference &d : diffs)
        printOut(describe(d) + QLatin1Char('\n'));
    if (!diffs.isEmpty()) {
        printErr(tr("核对不一致：设备中有 %n 处与文件不同。", nullptr, int(diffs.size())));
        return ExitDiffers;
    }
    printErr(tr("已下载，核对一致。"));
    return ExitOk;
}

int Controller::audit()
{
    const QString path = m_inv.words.first();
    ChannelTable table;
    if (!loadTable(path, &table))
        return ExitFile;
    // What a download of the file would leave in the device.
    int failed = -1;
    const auto expected = encodeTable(table, &failed);
    if (!expected) {
        printErr(tr("配置文件 %1 中 %2# 的参数无法转换，没有发送。").arg(path).arg(failed));
        return ExitFile;
    }
    if (!m_inv.saveFound.isEmpty() && !QDir().mkpath(m_inv.saveFound)) {
        printErr(tr("无法建立文件夹 %1，没有发送。").arg(m_inv.saveFound));
        return ExitFile;
    }

    // The devices: the one asked for, or every one that answers.
    QList<Found> devices;
    if (m_inv.scan) {
        const int testMs = m_inv.timeoutMs > 0 ? m_inv.timeoutMs : kDefaultScanTimeoutMs;
        for (int n = m_inv.from; n <= m_inv.to; ++n) {
            Found f{};
            const int rc = connectionTest(quint8(n), testMs, &f);
            if (rc == ExitNoReply)
                continue;
            if (rc != ExitOk)
                return rc;
            devices.append(f);
        }
        if (devices.isEmpty()) {
            printErr(tr("%1 到 %2 号都没有应答（每个号等 %3 ms）。").arg(m_inv.from).arg(m_inv.to).arg(testMs));
            return ExitNoReply;
        }
    } else {
        Found f{};
        const int rc = connectionTest(m_inv.address, m_inv.timeout(), &f);
        if (rc == ExitNoReply)
            return noReply(tr("测试连接"));
        if (rc != ExitOk)
            return rc;
        devices.append(f);
    }

    // The worst outcome decides the exit code: a device that differs, then
    // one that could not be read back or saved.
    const auto rank = [](int code) {
        switch (code) {
        case ExitOk: return 0;
        case ExitDiffers: return 1;
        case ExitNoReply: return 2;
        case ExitFile: return 3;
        default: return 4;
        }
    };
    int worst = ExitOk;
    int same = 0, differ = 0, unread = 0;
    for (const Found &f : devices) {
        // With 255 the device that answered is read back by its own number.
        const int number = m_inv.address == kBroadcast || m_inv.scan ? f.number : m_inv.address;
        int rc = readBack(number);
        if (rc == ExitPort)
            return rc;
        QJsonObject o{{QStringLiteral("address"), f.number}, {QStringLiteral("digits"), f.digits}};
        const auto compared = rc == ExitOk ? compareBlocks(*expected, m_blocks) : std::nullopt;
        if (rc == ExitOk && !compared)
            rc = ExitNoReply;   // a read-back that is no whole table
        if (rc != ExitOk) {
            ++unread;
            o.insert(QStringLiteral("equal"), QJsonValue::Null);
            o.insert(QStringLiteral("error"), tr("回读没有应答"));
            if (m_inv.json)
                printOut(jsonLine(o));
            else
                printOut(tr("%1 号（显示位数 %2）：回读没有应答\n").arg(f.number).arg(f.digits));
            worst = rank(rc) > rank(worst) ? rc : worst;
            continue;
        }
        const QList<TableDifference> &diffs = *compared;
        rc = diffs.isEmpty() ? ExitOk : ExitDiffers;
        diffs.isEmpty() ? ++same : ++differ;
        if (m_inv.json) {
            o.insert(QStringLiteral("equal"), diffs.isEmpty());
            o.insert(QStringLiteral("differences"), differencesJson(diffs));
            printOut(jsonLine(o));
        } else {
            QString text = diffs.isEmpty()
                               ? tr("%1 号（显示位数 %2）：与文件相同\n").arg(f.number).arg(f.digits)
                               : tr("%1 号（显示位数 %2）：与文件有 %n 处不同\n", nullptr, int(diffs.size()))
                                     .arg(f.number).arg(f.digits);
            QList<QStringList> rows;
            for (const TableDifference &d : diffs)
                rows.append({QStringLiteral("  %1#").arg(d.channel), tableFieldName(d.field),
                             shownDifferenceValue(d, true, table[d.channel].upper.trimmed()) + QStringLiteral(" → ")
                                 + shownDifferenceValue(d, false)});
            printOut(text + (rows.isEmpty() ? QString() : aligned(rows)));
        }
        if (!m_inv.saveFound.isEmpty()) {
            const int saved = saveFound(f.number);
            rc = rank(saved) > rank(rc) ? saved : rc;
        }
        worst = rank(rc) > rank(worst) ? rc : worst;
        if (!s_outFailure.isEmpty())
            return ExitFile;
    }
    if (m_inv.scan && !m_inv.json)
        printOut(tr("%n 台设备应答：", nullptr, int(devices.size()))
                 + tr("%1 台与文件相同，%2 台不同，%3 台没能回读。\n").arg(same).arg(differ).arg(unread));
    return worst;
}

int Controller::saveFound(int number)
{
    const QString path = QDir(m_inv.saveFound).filePath(QStringLiteral("%1.RTX").arg(number));
    ChannelTable found;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (!(*m_rows)[ch].upperValid) {
            printErr(tr("%1 号 %2# 的上限（下限加量程）超出 -32768 到 32767，无法写成文本；没有写 %3。")
                         .arg(number).arg(ch).arg(path));
            return ExitFile;
        }
        found[ch] = (*m_rows)[ch].texts;
    }
    QString why;
    const auto noCut = [&](const QStringList &cut) {
        printErr(tr("%1 号的部分参数超过文件中的字段宽度，没有写 %2。").arg(number).arg(path) + QLatin1Char('\n')
                 + cut.join(QLatin1Char('\n')));
        return false;
    };
    switch (saveTableToRtx(found, noCut, [&] { return path; }, &why)) {
    case RtxSave::Saved:
        return ExitOk;
    case RtxSave::CutRefused:
    case RtxSave::NoPath:
        return ExitFile;
    case RtxSave::NotStorable:
    case RtxSave::NotWritten:
        break;
    }
    printErr(tr("配置文件保存失败。\n%1\n%2").arg(path, why));
    return ExitFile;
}

int Controller::stream()
{
    const bool raw = m_inv.words.first() == QLatin1String("raw");
    int lines = 0;
    bool stop = false;
    bool outputGone = false;
    QDeadlineTimer silence(m_inv.timeout());
    const auto line = [&](const QJsonArray &values, const QStringList &fields) {
        if (stop || (m_inv.count > 0 && lines >= m_inv.count))
            return;
        silence.setRemainingTime(m_inv.timeout());
        const QString time = timestamp();
        QString text;
        // The header comes with the first value: no value, no output.
        if (lines == 0 && !m_inv.json)
            text = valuesHeader(false) + QLatin1Char('\n');
        if (m_inv.json)
            text += jsonLine({{QStringLiteral("time"), time}, {QStringLiteral("values"), values}});
        else
            text += valuesLine(time, QString(), fields) + QLatin1Char('\n');
        if (!printOut(text))
            outputGone = true;
        ++lines;
        wake();
    };
    // Raw values as numbers; target values as the device wrote them.
    const auto show = [&](const LiveValues &v) {
        QJsonArray values;
        const QStringList shown = v.shownValues();
        for (int i = 0; i < kChannels; ++i) {
            if (v.mode == FeedbackMode::Raw)
                values.append(v.raw[size_t(i)]);
            else
                values.append(shown[i]);
        }
        line(values, shown);
    };
    StopSignals signals_([&] {
        stop = true;
        wake();
    });
    // A stream whose trace stopped being written ends as on a signal.
    QMetaObject::Connection c3;
    if (m_trace)
        c3 = connect(m_trace.get(), &LineTrace::failed, this, [&] {
            stop = true;
            wake();
        });

    if (m_inv.reconnect) {
        const int rc = streamKept(raw ? FeedbackMode::Raw : FeedbackMode::Target, show,
                                  [&] { return stop || outputGone || (m_inv.count > 0 && lines >= m_inv.count); });
        disconnect(c3);
        return rc;
    }
    const auto c1 = connect(m_session, &DeviceSession::liveValues, this, show);
    m_session->setLedId(m_inv.address);
    if (!m_session->setFeedback(raw ? FeedbackMode::Raw : FeedbackMode::Target)) {
        disconnect(c1);
        disconnect(c3);
        return refusal(false);
    }
    const QDeadlineTimer end = m_inv.seconds > 0 ? QDeadlineTimer(qint64(m_inv.seconds * 1000))
                                                 : QDeadlineTimer(QDeadlineTimer::Forever);
    int rc = ExitOk;
    bool unsettled = false;
    bool fellSilent = false;
    if (!waitUntil([&] { return lines > 0 || stop || outputGone; }, m_inv.timeout())) {
        rc = m_lost ? ExitPort : ExitNoReply;
        // Bytes kept coming up to the last tick of the poller: records that
        // never leave it the quiet tick it takes one in.
        unsettled = !raw && m_session->recordInputPending();
    } else {
        // A device that falls silent (frozen, powered off behind a device
        // server that stays up) ends the stream as one that never answered.
        const auto over = [&] {
            return stop || outputGone || (m_inv.count > 0 && lines >= m_inv.count) || end.hasExpired()
                || silence.hasExpired();
        };
        // In slices: a stream without an end waits longer than one wait can.
        while (!over() && !m_lost)
            waitUntil(over, int(std::min<qint64>(
                                std::min<qint64>(silence.remainingTime(),
                                                 end.isForever() ? 60000 : end.remainingTime()),
                                60000)));
        fellSilent = !m_lost && !stop && !outputGone && !(m_inv.count > 0 && lines >= m_inv.count)
                  && !end.hasExpired() && silence.hasExpired();
    }
    disconnect(c1);
    disconnect(c3);
    if (m_lost)
        return lost();
    // However it ended, the device stops streaming before the program ends.
    if (!m_session->setFeedback(FeedbackMode::Off))
        return refusal(false);
    if (const int sentRc = sent(); sentRc != ExitOk)
        return sentRc;
    if (rc == ExitNoReply && unsettled) {
        printErr(tr("反馈目标值：记录不断到来，却从未停顿 %1 ms；设备要在记录之间停顿这么久，才能读取记录。")
                     .arg(kPollIntervalMs));
        return ExitNoReply;
    }
    if (rc == ExitNoReply)
        return noReply(raw ? tr("反馈原始值") : tr("反馈目标值"));
    if (fellSilent) {
        printErr(tr("%1：%2 ms 内没有收到新的值，已停止（已收到 %n 组）。", nullptr, lines)
                     .arg(raw ? tr("反馈原始值") : tr("反馈目标值"))
                     .arg(m_inv.timeout()));
        return ExitNoReply;
    }
    return rc;
}

int Controller::streamKept(FeedbackMode mode, const std::function<void(const LiveValues &)> &show,
                           const std::function<bool()> &done)
{
    // The same rules as the gateway's: every opening makes sure the device
    // is the one that answered first; a lost line or a silent device is
    // tried again, for ever, until the stream's own end.
    StreamKeeper::Settings ks;
    ks.port = m_session->portNumber();
    ks.address = m_inv.address;
    ks.mode = mode;
    ks.silenceMs = m_inv.timeout();
    StreamKeeper keeper(m_session, ks);
    connect(&keeper, &StreamKeeper::values, this, show);
    connect(&keeper, &StreamKeeper::statusChanged, this, [&](StreamKeeper::Status status, const QString &why) {
        if (status == StreamKeeper::Status::Online) {
            const DeviceIdentity d = keeper.device().value_or(DeviceIdentity{});
            printErr(tr("实时值：%1（%2 号设备，显示位数 %3）").arg(StreamKeeper::word(status)).arg(d.number).arg(d.digits));
        } else {
            printErr(tr("实时值：%1（%2），%n 秒后再试", nullptr, (keeper.nextTryMs() + 999) / 1000)
                         .arg(StreamKeeper::word(status), why));
        }
    });
    const QDeadlineTimer end = m_inv.seconds > 0 ? QDeadlineTimer(qint64(m_inv.seconds * 1000))
                                                 : QDeadlineTimer(QDeadlineTimer::Forever);
    const auto over = [&] { return done() || end.hasExpired(); };
    keeper.start();
    while (!over()) {
        // A lost line is the keeper's to try again, not the end.
        m_lost.reset();
        waitUntil(over, int(std::min<qint64>(end.isForever() ? 60000 : end.remainingTime(), 60000)));
    }
    keeper.stop();
    m_lost.reset();
    if (!m_session->isOpen())
        return ExitOk;
    return sent();
}

int Controller::noReplyCommand()
{
    const QString w = m_inv.words.value(0);
    bool ok = false;
    bool field = false;
    switch (m_inv.command) {
    case Command::Power:
        ok = m_session->setPower(w == QLatin1String("on"));
        break;
    case Command::Clock:
        ok = m_session->setClock(m_inv.at.isValid() ? m_inv.at : QDateTime::currentDateTime());
        break;
    case Command::DisplayMode:
        // The mode is the payload byte: 0 target values, 1 raw values, 2 off.
        ok = m_session->setDisplayMode(w == QLatin1String("target") ? 0 : w == QLatin1String("raw") ? 1 : 2);
        break;
    case Command::DisplayNumber: {
        QString why;
        const auto request = readNumberDisplay(m_inv.start, m_inv.displayPort, m_inv.displayDigits, w, &why);
        if (request)
            ok = m_session->showNumber(*request);
        else
            m_session->refuseField(why);
        field = true;
        break;
    }
    case Command::DisplayCode: {
        QString why;
        const auto request = readCodeDisplay(m_inv.start, m_inv.displayPort, w, m_inv.words.value(1), &why);
        if (request)
            ok = m_session->showCode(*request);
        else
            m_session->refuseField(why);
        field = true;
        break;
    }
    default:
        break;
    }
    if (!ok)
        return refusal(field && m_refusal && m_refusal->badField);
    return sent();
}

}  // namespace vorn::ctl
