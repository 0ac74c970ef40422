// rt8ctl's commands about ports and device numbers (ports, find, scan,
// renumber) and those that expect no answer (power, clock, display).

#include "ctl/controller.h"
#include "ctl/output.h"
#include "link/netaddress.h"
#include "link/portmap.h"
#include "protocol/frame.h"
#include "session/requestfields.h"

#include <QJsonObject>

namespace vorn::ctl {

int Controller::ports()
{
    const PortMap &map = m_choice.map;
    QList<QStringList> rows{{tr("端口"), tr("设备"), tr("现在"), QStringLiteral("USB"), tr("说明")}};
    QStringList advice;
    int listed = 0;
    for (int p = kFirstPort; p <= kLastPort; ++p) {
        const PortInfo info = map.info(p);
        if (info.path.isEmpty())
            continue;
        ++listed;
        m_refusal.reset();
        const bool opens = openAndWait(p);
        const QString reason = opens ? QString() : m_session->lastOpenFailureText();
        if (!opens && m_session->lastOpenFailure() == Line::OpenFailure::PermissionDenied && m_refusal)
            advice.append(m_refusal->detail);
        m_session->close();
        QStringList about;
        for (const QString &s : {info.description, info.manufacturer})
            if (!s.isEmpty() && !about.contains(s))
                about.append(s);
        if (!info.serialNumber.isEmpty())
            about.append(tr("序列号 %1").arg(info.serialNumber));
        if (m_inv.json) {
            QJsonObject o{{QStringLiteral("port"), p},
                          {QStringLiteral("path"), shownPortName(info.path)},
                          {QStringLiteral("opens"), opens},
                          {QStringLiteral("reason"), reason},
                          {QStringLiteral("description"), info.description},
                          {QStringLiteral("manufacturer"), info.manufacturer},
                          {QStringLiteral("serialNumber"), info.serialNumber}};
            o.insert(QStringLiteral("vendorId"), info.vendorId >= 0 ? QJsonValue(info.vendorId) : QJsonValue());
            o.insert(QStringLiteral("productId"), info.productId >= 0 ? QJsonValue(info.productId) : QJsonValue());
            printOut(jsonLine(o));
        } else {
            rows.append({QString::number(p), shownPortName(info.path),
                         opens ? tr("可以打开") : tr("打不开：%1").arg(reason), usbIds(info),
                         about.join(tr("，"))});
        }
    }
    if (!m_inv.json && listed > 0)
        printOut(aligned(rows));
    if (listed == 0)
        printErr(tr("端口 1 到 16 都没有对应的串口设备。"));
    if (!advice.isEmpty())
        printErr(advice.join(QLatin1String("\n\n")));
    return ExitOk;
}

int Controller::find()
{
    Found f{};
    const int rc = connectionTest(m_inv.address, m_inv.timeout(), &f);
    if (rc == ExitNoReply) {
        const bool several = m_inv.address == kBroadcast && looksLikeCollidingReplies(m_droppedBytes);
        noReply(tr("测试连接"));
        if (several)
            printErr(tr("线上如果有几台设备，它们会同时应答 255 号；"
                        "请用 --address 指定编号，或用 scan 逐个查找。"));
        return ExitNoReply;
    }
    if (rc != ExitOk)
        return rc;
    printFound(f);
    return ExitOk;
}

int Controller::scan()
{
    // One number at a time: devices sharing a line answer one by one.
    int listed = 0;
    for (int n = m_inv.from; n <= m_inv.to; ++n) {
        Found f{};
        const int rc = connectionTest(quint8(n), m_inv.timeout(), &f);
        if (rc == ExitNoReply)
            continue;
        if (rc != ExitOk)
            return rc;
        printFound(f);
        ++listed;
        if (cli::standardOutput().failed())
            return ExitFile;
    }
    if (listed == 0) {
        printErr(tr("%1 到 %2 号都没有应答（每个号等 %3 ms）。").arg(m_inv.from).arg(m_inv.to)
                     .arg(m_inv.timeout()));
        return ExitNoReply;
    }
    return ExitOk;
}

int Controller::renumber()
{
    // The numbering request carries the display-digit count too: without
    // --digits, keep the one the device has instead of making one up.
    quint8 digits = 0;
    if (m_inv.digits) {
        QString why;
        const auto d = readDigitCount(*m_inv.digits, &why);
        if (!d) {
            m_session->refuseField(why);
            return refusal(true);
        }
        digits = *d;
    } else {
        Found f{};
        const int rc = connectionTest(m_inv.address, m_inv.timeout(), &f);
        if (rc == ExitNoReply) {
            noReply(tr("测试连接"));
            printErr(tr("不知道设备的显示位数，没有改号；请用 --digits 给出显示位数。"));
            return ExitNoReply;
        }
        if (rc != ExitOk)
            return rc;
        digits = f.digits;
    }
    m_session->setLedId(m_inv.newNumber);
    if (!m_session->renumber(digits))
        return refusal(m_refusal && m_refusal->badField);

    Found f{};
    const int rc = connectionTest(m_inv.newNumber, m_inv.timeout(), &f);
    if (rc == ExitNoReply)
        return noReply(tr("改号后测试连接 %1 号").arg(m_inv.newNumber));
    if (rc != ExitOk)
        return rc;
    printFound(f);
    return ExitOk;
}

int Controller::noReplyCommand()
{
    const QString w = m_inv.words.value(0);
    bool ok = false;
    bool field = false;
    switch (m_inv.command) {
    case Command::Power:
        ok = m_session->setPower(w == QLatin1String("on"));
        break;
    case Command::Clock:
        ok = m_session->setClock(m_inv.at.isValid() ? m_inv.at : QDateTime::currentDateTime());
        break;
    case Command::DisplayMode:
        // The mode is the payload byte: 0 target values, 1 raw values, 2 off.
        ok = m_session->setDisplayMode(w == QLatin1String("target") ? 0 : w == QLatin1String("raw") ? 1 : 2);
        break;
    case Command::DisplayNumber: {
        QString why;
        const auto request = readNumberDisplay(m_inv.start, m_inv.displayPort, m_inv.displayDigits, w, &why);
        if (request)
            ok = m_session->showNumber(*request);
        else
            m_session->refuseField(why);
        field = true;
        break;
    }
    case Command::DisplayCode: {
        QString why;
        const auto request = readCodeDisplay(m_inv.start, m_inv.displayPort, w, m_inv.words.value(1), &why);
        if (request)
            ok = m_session->showCode(*request);
        else
            m_session->refuseField(why);
        field = true;
        break;
    }
    default:
        break;
    }
    if (!ok)
        return refusal(field && m_refusal && m_refusal->badField);
    return sent();
}

}  // namespace vorn::ctl
