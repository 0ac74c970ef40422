#pragma once
// A command-line program's output: results on standard output, messages on
// standard error ("rt8ctl: ..."). Every write is flushed at once and checked:
// a full disk or a reader that went away (a closed pipe, with SIGPIPE
// ignored) shows as a failed write with the system's reason, never as a
// result that silently went nowhere.

#include <QString>

#include <cstdio>

namespace vorn::cli {

// One stream written as text (UTF-8). The first failure is kept: a program
// tells it once, at the end.
class TextStream
{
public:
    explicit TextStream(std::FILE *file) : m_file(file) {}

    // Writes and flushes text; false when not all of it went out.
    bool write(const QString &text);
    // Why the first failed write failed (the system's words); empty while
    // everything went out.
    QString failure() const { return m_failure; }
    bool failed() const { return !m_failure.isEmpty(); }

private:
    std::FILE *m_file;
    QString m_failure;
};

// The program's standard output and standard error.
TextStream &standardOutput();
TextStream &standardError();

// Results on standard output; false once it can no longer be written (why:
// standardOutput().failure()).
bool printOut(const QString &text);
// A message on standard error, as a line of its own after the program's
// name (the application's name: "rt8gw: ...").
bool printErr(const QString &text);

// Now as local time with its UTC offset, to the millisecond, as every line
// of values carries it: "2026-12-07T10:15:30.125+08:00".
QString timestamp();

}  // namespace vorn::cli
