#include "session/linelog.h"

#include <QLoggingCategory>

#include "protocol/describe.h"

#include <QFileInfo>

namespace vorn {

void quietLineLog()
{
    // Rules set here are read before QT_LOGGING_RULES, which so has the
    // last word.
    QLoggingCategory::setFilterRules(QStringLiteral("vornrt8.line=false"));
}

QString LineEntry::direction() const
{
    switch (kind) {
    case Kind::Sent: return QStringLiteral("→");
    case Kind::Received: return QStringLiteral("←");
    case Kind::Event: break;
    }
    return QStringLiteral("•");
}

QString LineEntry::timeText() const
{
    return QDateTime::fromMSecsSinceEpoch(epochMs).toString(Qt::ISODateWithMs);
}

QString LineEntry::toLine() const
{
    QString line = timeText() + QLatin1Char(' ') + direction();
    if (!bytes.isEmpty())
        line += QLatin1Char(' ') + QString::fromLatin1(bytes.toHex(' ').toUpper());
    return line + QStringLiteral("  ") + meaning;
}

LineLog::LineLog(DeviceSession *session, QObject *parent) : QObject(parent)
{
    m_clock.start();
    connect(session, &DeviceSession::frameSent, this, [this](const QByteArray &f) {
        ++m_sent;
        add(LineEntry::Kind::Sent, f, describeCommand(f), false);
    });
    connect(session, &DeviceSession::replyReceived, this, [this](const QByteArray &b, const ReplyVerdict &v) {
        ++(v.taken() ? m_taken : m_dropped);
        add(LineEntry::Kind::Received, b, describeReply(v), !v.taken());
    });
    connect(session, &DeviceSession::recordReceived, this,
            [this](const QByteArray &b, bool taken, const QString &why) {
                ++(taken ? m_taken : m_dropped);
                add(LineEntry::Kind::Received, b, describeRecord(b, taken, why), !taken);
            });
    connect(session, &DeviceSession::portOpened, this, [this](int number, const QString &path) {
        add(LineEntry::Kind::Event, {}, tr("端口 %1 已打开（%2）").arg(number).arg(path), false);
    });
    connect(session, &DeviceSession::portClosed, this,
            [this] { add(LineEntry::Kind::Event, {}, tr("端口已关闭"), false); });
    connect(session, &DeviceSession::portLost, this, [this](const QString &reason) {
        add(LineEntry::Kind::Event, {}, tr("端口已断开：%1").arg(reason), true);
    });
    connect(session, &DeviceSession::lineStateChanged, this, [this](LineState s) {
        if (s == LineState::Reconnecting)
            add(LineEntry::Kind::Event, {}, tr("等待设备重新接入……"), false);
    });
    connect(session, &DeviceSession::checkingDevice, this, [this](int number, const QString &path) {
        add(LineEntry::Kind::Event, {}, tr("端口 %1 重新接入（%2），确认是否为原设备").arg(number).arg(path), false);
    });
    // Which device answered is said, so that a swap shows also where no
    // device was known before the loss.
    connect(session, &DeviceSession::reconnected, this,
            [this](int number, const QString &, const DeviceIdentity &device) {
                add(LineEntry::Kind::Event, {},
                    tr("端口 %1 已自动重新连接：%2 号设备，显示位数 %3").arg(number).arg(device.number).arg(device.digits),
                    false);
            });
    connect(session, &DeviceSession::notResumed, this, [this](const QString &why) {
        add(LineEntry::Kind::Event, {}, tr("未恢复连接，端口已关闭：%1").arg(why), true);
    });
    connect(session, &DeviceSession::refused, this, [this](const Refusal &r) {
        const QString detail = QString(r.detail).replace(QLatin1Char('\n'), QLatin1Char(' '));
        add(LineEntry::Kind::Event, {},
            detail.isEmpty() ? tr("未发送：%1").arg(r.text) : tr("未发送：%1（%2）").arg(r.text, detail), true);
    });
}

void LineLog::note(const QString &meaning, bool problem)
{
    add(LineEntry::Kind::Event, {}, meaning, problem);
}

void LineLog::add(LineEntry::Kind kind, const QByteArray &bytes, const QString &meaning, bool problem)
{
    LineEntry e;
    e.epochMs = QDateTime::currentMSecsSinceEpoch();
    e.ms = m_clock.elapsed();
    e.kind = kind;
    e.problem = problem;
    e.bytes = bytes;
    // One entry, one line: a record's LF or other control characters show
    // as escapes; the bytes keep them exactly.
    e.meaning = escapeControls(meaning);
    emit entry(e);
    if (kind != LineEntry::Kind::Event)
        emit countsChanged();
}

LineTrace::LineTrace(LineLog *log, QObject *parent) : QObject(parent)
{
    connect(log, &LineLog::entry, this, &LineTrace::write);
}

bool LineTrace::open(const QString &path, QString *why)
{
    m_file.setFileName(path);
    // A file is appended to; a device or a pipe (/dev/stderr) cannot seek
    // to its end and is simply written.
    const QFileInfo info(path);
    const QIODevice::OpenMode mode = info.exists() && !info.isFile() ? QIODevice::WriteOnly
                                                                     : QIODevice::WriteOnly | QIODevice::Append;
    if (!m_file.open(mode | QIODevice::Text)) {
        if (why)
            *why = m_file.errorString();
        return false;
    }
    return true;
}

void LineTrace::write(const LineEntry &entry)
{
    if (!m_file.isOpen())
        return;
    const QByteArray line = entry.toLine().toUtf8() + '\n';
    if (m_file.write(line) == line.size() && m_file.flush())
        return;
    const QString why = m_file.errorString();
    m_file.close();
    emit failed(m_file.fileName(), why);
}

}  // namespace vorn
