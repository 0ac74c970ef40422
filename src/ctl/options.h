#pragma once
// rt8ctl's command line: global options up to the command word, then the
// command's own words and options. Reading it sends nothing; texts of device
// fields (digit counts, display fields) are kept as typed, for the session to
// read by the same rules as the window.

#include <QCommandLineOption>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace vorn::ctl {

// Exit codes.
enum Exit : int {
    ExitOk = 0,
    ExitNoReply = 1,    // no valid reply within the timeout
    ExitUsage = 2,      // bad command line, or a field refused; nothing sent
    ExitPort = 3,       // the port could not be opened (or failed underneath)
    ExitFile = 4,       // a file could not be read or written
    ExitDiffers = 5,    // write --verify, audit: the device holds something else
};

inline constexpr int kDefaultTimeoutMs = 2000;
inline constexpr int kDefaultScanTimeoutMs = 100;
// How long a network port may take to connect and, for rfc2217://, to
// negotiate.
inline constexpr int kDefaultConnectTimeoutMs = 3000;

enum class Command {
    Ports, Find, Scan, Renumber, Read, Write, Audit, Stream, Power, Clock,
    DisplayMode, DisplayNumber, DisplayCode,
};

struct Invocation
{
    // Global options.
    QString port;            // empty: the first port that opens
    quint8 address = 255;
    int timeoutMs = -1;      // -1: the command's default
    int connectTimeoutMs = kDefaultConnectTimeoutMs;
    bool json = false;
    QString trace;           // empty: no trace file
    QString language;        // --lang: "en", "zh", or empty (the system's)

    Command command = Command::Find;
    // The command's words after its name (after "display mode" etc. for the
    // display commands): NEW, FILE, raw|target, on|off, TEXT, A B.
    QStringList words;

    // Command options.
    int from = 0, to = 254;                   // scan, audit --scan
    bool scan = false;                        // audit: every device that answers
    QString saveFound;                        // audit: folder for each device's table, empty: none
    quint8 newNumber = 0;                     // renumber NEW
    std::optional<QString> digits;            // renumber --digits (none: learn it)
    bool verify = false;                      // write
    bool allowCut = false;                    // read FILE
    int count = 0;                            // stream, 0: no limit
    double seconds = 0;                       // stream, 0: no limit
    bool reconnect = false;                   // stream: wait for the same device and go on
    QDateTime at;                             // clock, invalid: now
    QString start = QStringLiteral("46");     // display number/code
    QString displayPort = QStringLiteral("1");
    QString displayDigits = QStringLiteral("4");

    int timeout() const
    {
        if (timeoutMs > 0)
            return timeoutMs;
        return command == Command::Scan ? kDefaultScanTimeoutMs : kDefaultTimeoutMs;
    }
};

// The outcome of reading the command line: run the invocation, or end at once
// with exitCode, printing out (help, version) and err (what is wrong).
struct ParsedCommandLine
{
    Invocation invocation;
    bool run = false;
    int exitCode = ExitOk;
    QString out;
    QString err;
};

// arguments as QCoreApplication::arguments() gives them (program name first).
ParsedCommandLine parseCommandLine(const QStringList &arguments, const QString &version);

// The global options, up to the command word: where cli::languageChoice
// finds --lang before the command line is read for anything else.
QList<QCommandLineOption> globalOptions();

// Columns a terminal gives a text: two for CJK and full-width characters.
int displayWidth(const QString &s);

}  // namespace vorn::ctl
