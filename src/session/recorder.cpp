#include "session/recorder.h"

#include "session/livevalues.h"

#include <QFile>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <QMetaObject>
#include <QPointer>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vorn {

QString recordingHeader()
{
    return valuesHeader(true);
}

QString recordingLine(const QDateTime &localTime, FeedbackMode mode, const QStringList &values)
{
    return valuesLine(localTime.toString(Qt::ISODateWithMs), modeName(mode), values);
}

// Writes and syncs lines on a thread of its own. The window's thread only
// queues them.
class ValueRecorder::Writer
{
public:
    Writer(ValueRecorder *owner, std::unique_ptr<QFile> file)
        : m_owner(owner), m_file(std::move(file)), m_end(m_file->pos())
    {
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->start();
    }
    ~Writer() { finish(); }
    // Writes what waits, ends the thread and closes the file; the lines
    // written in all.
    int finish()
    {
        if (m_thread) {
            {
                std::lock_guard lock(m_mutex);
                m_stop = true;
            }
            m_wake.notify_one();
            m_thread->wait();
            m_thread.reset();
            m_file->close();
        }
        return m_written;
    }
    void add(QByteArray line)
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(line));
        }
        m_wake.notify_one();
    }

private:
    void run()
    {
        for (;;) {
            std::deque<QByteArray> batch;
            bool stop = false;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
                batch.swap(m_queue);
                stop = m_stop;
            }
            if (!batch.empty()) {
                QByteArray bytes;
                for (const QByteArray &l : batch)
                    bytes += l;
                QString why;
                if (!writeAll(bytes, &why) || !sync(&why)) {
                    cutBack(batch);
                    report(false, m_written, why);
                    return;
                }
                m_end += bytes.size();
                m_written += int(batch.size());
                report(true, m_written, {});
            }
            if (stop)
                return;
        }
    }
    // The file is unbuffered: a write that the disk takes only in part
    // returns short without a reason; the rest is tried again, and the
    // refusal of that gives the system's reason.
    bool writeAll(const QByteArray &bytes, QString *why)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const qint64 n = m_file->write(bytes.constData() + done, bytes.size() - done);
            if (n <= 0) {
                *why = m_file->errorString();
                return false;
            }
            done += n;
        }
        return true;
    }
    bool sync(QString *why)
    {
#ifdef Q_OS_WIN
        if (FlushFileBuffers(HANDLE(_get_osfhandle(m_file->handle()))) != 0)
            return true;
        *why = qt_error_string(int(GetLastError()));
#else
        if (::fdatasync(m_file->handle()) == 0)
            return true;
        *why = qt_error_string(errno);
#endif
        return false;
    }
    // After a failed write: the lines of the batch that reached the file
    // whole stay, a part of a line is cut off.
    void cutBack(const std::deque<QByteArray> &batch)
    {
        const qint64 size = m_file->size();
        qint64 keep = m_end;
        for (const QByteArray &l : batch) {
            if (keep + l.size() > size)
                break;
            keep += l.size();
            ++m_written;
        }
        m_file->resize(keep);
        m_end = keep;
    }
    void report(bool ok, int written, const QString &why)
    {
        QPointer<ValueRecorder> owner(m_owner);
        QMetaObject::invokeMethod(m_owner, [owner, ok, written, why] {
            if (!owner)
                return;
            if (ok)
                owner->written(written);
            else
                owner->writeFailed(why);
        }, Qt::QueuedConnection);
    }

    ValueRecorder *m_owner;
    std::unique_ptr<QFile> m_file;
    qint64 m_end;   // the end of the last whole line written
    std::unique_ptr<QThread> m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_queue;
    bool m_stop = false;
    std::atomic<int> m_written{0};
};

ValueRecorder::ValueRecorder(DeviceSession *session, QObject *parent) : QObject(parent)
{
    connect(session, &DeviceSession::liveValues, this, [this](const LiveValues &v) {
        // The text is made only while recording.
        if (m_writer)
            add(v.mode, v.shownValues());
    });
}

ValueRecorder::~ValueRecorder()
{
    m_writer.reset();
}

bool ValueRecorder::start(const QString &path, QString *why)
{
    stop();
    auto file = std::make_unique<QFile>(path);
    // A spreadsheet on a Chinese Windows reads UTF-8 only after its mark.
    const QByteArray head = QByteArray("\xEF\xBB\xBF") + recordingHeader().toUtf8() + "\r\n";
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)
        || file->write(head) != head.size()
        || !file->flush()) {
        if (why)
            *why = file->errorString();
        return false;
    }
    m_path = path;
    m_lines = 0;
    m_writer = std::make_unique<Writer>(this, std::move(file));
    emit linesChanged(0);
    return true;
}

void ValueRecorder::stop()
{
    if (!m_writer)
        return;
    const int lines = m_writer->finish();   // writes what waits, then closes
    m_writer.reset();
    if (lines != m_lines) {
        m_lines = lines;
        emit linesChanged(lines);
    }
    emit stopped();
}

void ValueRecorder::stop(const QString &why)
{
    if (m_writer)
        m_writer->add(csvLine({QDateTime::currentDateTime().toString(Qt::ISODateWithMs), QStringLiteral("stopped"), why})
                          .toUtf8()
                      + "\r\n");
    stop();
}

void ValueRecorder::add(FeedbackMode mode, const QStringList &values)
{
    if (m_writer)
        m_writer->add(recordingLine(QDateTime::currentDateTime(), mode, values).toUtf8() + "\r\n");
}

void ValueRecorder::written(int lines)
{
    if (!m_writer || lines <= m_lines)
        return;
    m_lines = lines;
    emit linesChanged(lines);
}

void ValueRecorder::writeFailed(const QString &why)
{
    if (!m_writer)
        return;
    m_lines = m_writer->finish();
    m_writer.reset();
    emit linesChanged(m_lines);
    emit failed(m_path, why);
    emit stopped();
}

}  // namespace vorn
