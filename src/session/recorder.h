#pragma once
// Recording live values to a CSV file: every set of ten values taken (raw
// replies applied, target records shown) becomes one line, local time with
// milliseconds, the mode ("raw" or "target"), then the ten values as shown.
// UTF-8 with a byte-order mark, a header first. Each line goes to the disk as
// it comes (written and synced by a thread of its own, so the window never
// waits for the disk); a failed write stops the recording and keeps what was
// written.

#include "session/csv.h"
#include "session/devicesession.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace vorn {

// The header line and a value line (see session/csv.h).
QString recordingHeader();
QString recordingLine(const QDateTime &localTime, FeedbackMode mode, const QStringList &values);

class ValueRecorder : public QObject
{
    Q_OBJECT
public:
    explicit ValueRecorder(DeviceSession *session, QObject *parent = nullptr);
    ~ValueRecorder() override;

    // Creates (or empties) the file and writes the header; false (and *why)
    // when it cannot.
    bool start(const QString &path, QString *why = nullptr);
    // Writes what is still waiting, then closes the file.
    void stop();
    // The same, ending the file with a line that says why: the time, "stopped"
    // in the mode's column, then why (it counts among the lines).
    void stop(const QString &why);
    bool isRecording() const { return m_writer != nullptr; }
    QString path() const { return m_path; }
    // Value lines on disk so far.
    int lines() const { return m_lines; }

signals:
    void linesChanged(int lines);
    // The recording stopped by itself because a write failed.
    void failed(const QString &path, const QString &why);
    void stopped();

private:
    class Writer;
    void add(FeedbackMode mode, const QStringList &values);
    void written(int lines);
    void writeFailed(const QString &why);

    std::unique_ptr<Writer> m_writer;
    QString m_path;
    int m_lines = 0;
};

}  // namespace vorn
