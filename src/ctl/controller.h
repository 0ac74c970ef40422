#pragma once
// rt8ctl's commands on the device session: opens the line, sends each request
// through the session, waits for the reply it expects (never longer than the
// timeout) and prints what came back. Results go to standard output, messages
// to standard error.

#include "ctl/options.h"
#include "link/networkline.h"
#include "session/devicesession.h"
#include "session/linelog.h"
#include "session/portchoice.h"

#include <QEventLoop>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

namespace vorn::ctl {

// Whether replies dropped after a connection test to 255 look like the
// answers of several devices garbling each other (each begins as a reply:
// start byte, length, marker), so that the hint about several devices is
// given for them and not for any noise.
bool looksLikeCollidingReplies(const QList<QByteArray> &dropped);

// The ports a command works on: every port the system has for `ports`,
// otherwise those --port names (the search when it names none).
PortChoice linePorts(const Invocation &invocation);

class Controller : public QObject
{
    Q_OBJECT
public:
    // The session the command works on and its network line (which takes
    // the connect timeout), made by main() from linePorts(); the controller
    // owns neither.
    Controller(Invocation invocation, const PortChoice &choice, NetworkLine *network, DeviceSession *session,
               QObject *parent = nullptr);
    ~Controller() override;

    // Runs the command; the exit code.
    int run();

private:
    struct Found { quint8 number; quint8 digits; };

    int runCommand();
    int openLine();
    int ports();
    int find();
    int scan();
    int renumber();
    int read();
    int write();
    int audit();
    // audit --save-found: the table just read back as DIR/number.RTX.
    int saveFound(int number);
    int stream();
    // The .RTX file's table; false after saying why (nothing is sent then).
    bool loadTable(const QString &path, ChannelTable *table);
    // stream --reconnect: kept going through losses and silences until the
    // stream's own end (done(), --seconds, a signal).
    int streamKept(FeedbackMode mode, const std::function<void(const LiveValues &)> &show,
                   const std::function<bool()> &done);
    int noReplyCommand();

    // Sends a connection test to number and waits for the answer of that
    // number (of any, for 255). ExitOk with *found set, ExitNoReply, or the
    // exit code of a refusal or a lost line, told already.
    int connectionTest(quint8 number, int timeoutMs, Found *found);
    // Reads the table back from number (-1: --address): ExitOk with m_rows
    // and m_blocks set, or told and the code.
    int readBack(int number = -1);
    // Runs the event loop until done() holds (true), the line is lost or ms
    // pass (false).
    bool waitUntil(const std::function<bool()> &done, int ms);
    void wake();
    // After a request that expects no answer: the frame is out of the program
    // before the port closes.
    int sent();
    // Opens a port, or searches one, and waits for the outcome: a network
    // port opens without waiting. The port number, or 0 (refused).
    bool openAndWait(int number);
    int searchAndWait();

    // Tells the last refusal; ExitUsage for a field, ExitPort for the line.
    int refusal(bool field);
    int noReply(const QString &what);
    int lost();
    void printFound(const Found &f);

    Invocation m_inv;
    PortChoice m_choice;
    NetworkLine *m_network;
    DeviceSession *m_session;
    std::unique_ptr<LineLog> m_lineLog;
    std::unique_ptr<LineTrace> m_trace;
    QEventLoop *m_loop = nullptr;

    std::optional<Refusal> m_refusal;
    std::optional<QString> m_lost;
    bool m_traceFailed = false;       // the trace stopped being written (told)
    QStringList m_dropped;            // why replies were dropped, since the last request
    QList<QByteArray> m_droppedBytes; // and their bytes
    int m_asked = 255;                // the number the last connection test went to
    QList<Found> m_found;             // its answers
    std::optional<std::array<DecodedChannel, kChannels>> m_rows;
    QByteArray m_blocks;
};

}  // namespace vorn::ctl
