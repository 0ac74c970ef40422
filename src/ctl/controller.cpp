#include "ctl/controller.h"

#include "ctl/output.h"
#include "link/netaddress.h"
#include "link/portmap.h"
#include "protocol/frame.h"
#include "protocol/splitter.h"
#include "session/portchoice.h"

#include <QDeadlineTimer>
#include <QTimer>

namespace vorn::ctl {

static_assert(kDefaultConnectTimeoutMs == NetworkLine::kConnectTimeoutMs,
              "rt8ctl's default connect timeout is the transport's");

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
    if (cli::standardOutput().failed()) {
        printErr(tr("结果没能写到标准输出：%1").arg(cli::standardOutput().failure()));
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

}  // namespace vorn::ctl
