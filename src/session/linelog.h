#pragma once
// Everything that passes the line, as entries a monitor shows and a trace
// file keeps: each frame sent, each receive event's bytes with what became of
// them, each record the poller looked at, and what happened to the line.

#include "session/devicesession.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>

namespace vorn {

// For the command-line programs (rt8ctl, rt8gw): the line's log category
// (vornrt8.line: dropped replies, discarded records, a lost line) prints
// nothing, unless QT_LOGGING_RULES turns it on. They tell the user what went
// wrong in their own messages, in the language chosen; the window logs the
// category as the README says. Call it once, before anything is logged.
void quietLineLog();

struct LineEntry
{
    enum class Kind { Sent, Received, Event };
    qint64 epochMs = 0;    // when, in ms since the epoch (local time made from it when shown)
    qint64 ms = 0;         // since the log began
    Kind kind = Kind::Event;
    bool problem = false;  // a dropped reply, a discarded record, a lost line, a refusal
    QByteArray bytes;
    QString meaning;

    // "→" sent, "←" received, "•" an event of the line.
    QString direction() const;
    // Local time, ISO 8601 with milliseconds.
    QString timeText() const;
    // One line: ISO local time with milliseconds, direction, hex, meaning.
    QString toLine() const;
};

class LineLog : public QObject
{
    Q_OBJECT
public:
    explicit LineLog(DeviceSession *session, QObject *parent = nullptr);

    // Counts since the start: frames sent, replies and records taken, and
    // those dropped.
    int sent() const { return m_sent; }
    int taken() const { return m_taken; }
    int dropped() const { return m_dropped; }

    // An event of the program's own about the line (a trace that stopped).
    void note(const QString &meaning, bool problem);

signals:
    void entry(const vorn::LineEntry &entry);
    void countsChanged();

private:
    void add(LineEntry::Kind kind, const QByteArray &bytes, const QString &meaning, bool problem);

    QElapsedTimer m_clock;
    int m_sent = 0, m_taken = 0, m_dropped = 0;
};

// Appends every entry of a log to a text file, one line each, flushed as it
// is written, so that a trace survives a crash or a pulled plug.
class LineTrace : public QObject
{
    Q_OBJECT
public:
    LineTrace(LineLog *log, QObject *parent = nullptr);
    // False (and *why) when the file cannot be opened for appending.
    bool open(const QString &path, QString *why = nullptr);
    QString path() const { return m_file.fileName(); }

signals:
    // A line could not be written (a full disk, say): the file is closed
    // and nothing more is written to it. Raised once.
    void failed(const QString &path, const QString &why);

private:
    void write(const LineEntry &entry);
    QFile m_file;
};

}  // namespace vorn

Q_DECLARE_METATYPE(vorn::LineEntry)
