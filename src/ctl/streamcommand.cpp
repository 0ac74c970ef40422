// rt8ctl stream: live values, one set a line, until a count, a time, a
// signal or a silent device ends them; with --reconnect kept going through
// losses by the gateway's StreamKeeper.

#include "cli/stopsignals.h"
#include "ctl/controller.h"
#include "ctl/output.h"
#include "session/csv.h"
#include "session/streamkeeper.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonObject>

namespace vorn::ctl {

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
        const QString time = cli::timestamp();
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
    // SIGINT, SIGTERM and SIGHUP end a stream in order (the device told to
    // stop) instead of ending the program; a reader of standard output that
    // goes away shows as a failed write, not as SIGPIPE.
#ifdef Q_OS_UNIX
    cli::StopSignals signals_({SIGINT, SIGTERM, SIGHUP});
#else
    cli::StopSignals signals_({SIGINT, SIGTERM});
#endif
    connect(&signals_, &cli::StopSignals::stopRequested, this, [&] {
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

}  // namespace vorn::ctl
