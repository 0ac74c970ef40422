#pragma once
// Signals that ask a program to stop (SIGINT, SIGTERM, ...) brought into the
// event loop: the handler only writes a byte into a pipe, and a socket
// notifier on its other end emits stopRequested(), so the program ends in
// order (a device told to stop streaming, the broker told goodbye) instead
// of being ended. While it lives SIGPIPE is ignored too: a reader of
// standard output that goes away shows as a failed write (cli/output.h).
// One at a time; the handlers that were there before come back when it goes.

#include <QObject>
#include <QList>

#include <csignal>
#include <memory>

namespace vorn::cli {

class StopSignals : public QObject
{
    Q_OBJECT
public:
    // The signals to catch; where the system has no pipes, SIGINT and
    // SIGTERM only, looked at every 50 ms.
    explicit StopSignals(const QList<int> &signalNumbers = {SIGINT, SIGTERM}, QObject *parent = nullptr);
    ~StopSignals() override;

    // Whether the signals are caught (false when the pipe could not be made).
    bool isActive() const;

signals:
    // One of the signals came (once for several that came together).
    void stopRequested();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace vorn::cli
