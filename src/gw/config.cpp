#include "gw/config.h"

#include "link/netport.h"
#include "link/portmap.h"
#include "protocol/rtxfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <optional>

namespace vorn::gw {

namespace {

// The line a device's port reaches, to find two devices on one line: a
// serial device by its path with links resolved, a network port by the
// addresses its host resolves to (every loopback address counting as one:
// localhost, 127.0.0.1 and ::1 reach the same server) and its port number,
// whatever the scheme (tcp:// and rfc2217:// to one server are one line).
struct Line
{
    bool network = false;
    QString path;
    QSet<QString> addresses;
    quint16 port = 0;

    bool same(const Line &o) const
    {
        if (network != o.network)
            return false;
        return network ? port == o.port && addresses.intersects(o.addresses) : path == o.path;
    }

    static Line serial(const QString &path)
    {
        Line l;
        const QFileInfo info(path);
        l.path = info.canonicalFilePath();
        if (l.path.isEmpty())   // not there (yet): as written
            l.path = QDir::cleanPath(info.absoluteFilePath());
        return l;
    }

    static Line at(const NetAddress &a)
    {
        Line l;
        l.network = true;
        l.port = a.port;
        QHostAddress literal;
        const QList<QHostAddress> found =
            literal.setAddress(a.host) ? QList<QHostAddress>{literal} : QHostInfo::fromName(a.host).addresses();
        for (const QHostAddress &h : found)
            l.addresses.insert(h.isLoopback() ? QStringLiteral("loopback") : h.toString());
        if (l.addresses.isEmpty()) {   // not resolved: the name as written
            QString name = a.host.toLower();
            if (name.endsWith(QLatin1Char('.')))
                name.chop(1);
            l.addresses.insert(name);
        }
        return l;
    }
};

class Reader
{
    Q_DECLARE_TR_FUNCTIONS(vorn::gw::Config)
public:
    Reader(ConfigError *error, const QString &baseDir) : m_error(error), m_base(baseDir) {}

    // Files named in the configuration are found from its folder.
    QString file(const QString &path) const { return QDir(m_base).filePath(path); }

    bool fail(const QString &key, const QString &reason)
    {
        if (m_error)
            *m_error = {key, reason};
        return false;
    }

    // Keys this level does not know are mistakes (a misspelt key would
    // otherwise be a default taken silently).
    bool onlyKnown(const QJsonObject &o, const QString &at, const QStringList &known)
    {
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (known.contains(it.key()))
                continue;
            if (it.key() == QLatin1String("password"))
                return fail(at + it.key(), tr("密码不写在配置里；请把它写进一个只有本用户能读的文件，用 password_file 指向它"));
            return fail(at + it.key(), tr("不认识这个键"));
        }
        return true;
    }

    std::optional<QString> string(const QJsonObject &o, const QString &at, const QString &key, bool required)
    {
        const QJsonValue v = o.value(key);
        if (v.isUndefined()) {
            if (required)
                fail(at + key, tr("缺少这个键"));
            else
                return QString();
            return std::nullopt;
        }
        if (!v.isString()) {
            fail(at + key, tr("应是文本"));
            return std::nullopt;
        }
        if (v.toString().trimmed().isEmpty()) {
            fail(at + key, tr("不能为空"));
            return std::nullopt;
        }
        return v.toString();
    }

    std::optional<int> integer(const QJsonObject &o, const QString &at, const QString &key, int low, int high,
                               int fallback, bool required)
    {
        const QJsonValue v = o.value(key);
        if (v.isUndefined()) {
            if (required) {
                fail(at + key, tr("缺少这个键"));
                return std::nullopt;
            }
            return fallback;
        }
        const double d = v.toDouble(-1e300);
        if (!v.isDouble() || d != double(qint64(d)) || d < low || d > high) {
            fail(at + key, tr("应是 %1 到 %2 的整数").arg(low).arg(high));
            return std::nullopt;
        }
        return int(d);
    }

    bool readable(const QString &key, const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return fail(key, tr("无法读取 %1：%2").arg(path, f.errorString()));
        return true;
    }

    // A topic level or a prefix: no wildcards, no empty levels.
    bool topicText(const QString &key, const QString &text, bool oneLevel)
    {
        if (text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('#')) || text.contains(QChar(0)))
            return fail(key, tr("不能含有 +、# 或空字符"));
        if (oneLevel && text.contains(QLatin1Char('/')))
            return fail(key, tr("不能含有 /"));
        if (text.startsWith(QLatin1Char('/')) || text.endsWith(QLatin1Char('/')) || text.contains(QLatin1String("//")))
            return fail(key, tr("不能以 / 开头或结尾，也不能含有 //"));
        return true;
    }

    bool read(const QJsonObject &root, Config *c)
    {
        if (!onlyKnown(root, QString(), {QStringLiteral("broker"), QStringLiteral("modbus"), QStringLiteral("devices"),
                                         QStringLiteral("metrics"), QStringLiteral("homeassistant")}))
            return false;
        // The broker, the Modbus server, or both.
        const QJsonValue bv = root.value(QLatin1String("broker"));
        const QJsonValue mv = root.value(QLatin1String("modbus"));
        if (bv.isUndefined() && mv.isUndefined())
            return fail(QStringLiteral("broker"), tr("缺少这个键（没有 modbus 时必须有它）"));
        if (!bv.isUndefined() && !readBroker(bv, c))
            return false;
        if (!mv.isUndefined() && !readModbus(mv, c))
            return false;
        return readDevices(root, c);
    }

    bool readBroker(const QJsonValue &bv, Config *c)
    {
        c->hasBroker = true;
        if (!bv.isObject())
            return fail(QStringLiteral("broker"), tr("应是对象"));
        const QJsonObject b = bv.toObject();
        const QString at = QStringLiteral("broker.");
        if (!onlyKnown(b, at, {QStringLiteral("url"), QStringLiteral("prefix"), QStringLiteral("client_id"),
                               QStringLiteral("username"), QStringLiteral("password_file"),
                               QStringLiteral("ca_file"), QStringLiteral("queue_size"),
                               QStringLiteral("keepalive")}))
            return false;
        const auto url = string(b, at, QStringLiteral("url"), true);
        if (!url)
            return false;
        QString why;
        if (!parseBrokerUrl(*url, c, &why))
            return fail(at + QStringLiteral("url"), why);
        const auto prefix = string(b, at, QStringLiteral("prefix"), true);
        if (!prefix || !topicText(at + QStringLiteral("prefix"), *prefix, false))
            return false;
        c->prefix = *prefix;
        const auto clientId = string(b, at, QStringLiteral("client_id"), false);
        if (!clientId)
            return false;
        c->clientId = *clientId;
        const auto user = string(b, at, QStringLiteral("username"), false);
        const auto passwordFile = user ? string(b, at, QStringLiteral("password_file"), false) : std::nullopt;
        if (!user || !passwordFile)
            return false;
        c->userName = *user;
        if (!passwordFile->isEmpty()) {
            if (c->userName.isEmpty())
                return fail(at + QStringLiteral("password_file"), tr("有密码文件却没有 username"));
            QFile f(file(*passwordFile));
            if (!f.open(QIODevice::ReadOnly))
                return fail(at + QStringLiteral("password_file"),
                            tr("无法读取 %1：%2").arg(*passwordFile, f.errorString()));
            // The first line, without its line end.
            c->password = QString::fromUtf8(f.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        }
        const auto caFile = string(b, at, QStringLiteral("ca_file"), false);
        if (!caFile)
            return false;
        c->caFile = caFile->isEmpty() ? QString() : file(*caFile);
        if (c->tls && c->caFile.isEmpty())
            return fail(at + QStringLiteral("ca_file"), tr("mqtts:// 需要 CA 证书文件"));
        if (!c->tls && !c->caFile.isEmpty())
            return fail(at + QStringLiteral("ca_file"), tr("只用于 mqtts://"));
        if (!c->caFile.isEmpty() && !readable(at + QStringLiteral("ca_file"), c->caFile))
            return false;
        const auto queue = integer(b, at, QStringLiteral("queue_size"), 1, 1000000, c->queueSize, false);
        const auto keepAlive = queue ? integer(b, at, QStringLiteral("keepalive"), 5, 3600, c->keepAliveSeconds, false)
                                     : std::nullopt;
        if (!queue || !keepAlive)
            return false;
        c->queueSize = *queue;
        c->keepAliveSeconds = *keepAlive;
        return true;
    }

    bool readModbus(const QJsonValue &mv, Config *c)
    {
        if (!mv.isObject())
            return fail(QStringLiteral("modbus"), tr("应是对象"));
        const QJsonObject m = mv.toObject();
        const QString at = QStringLiteral("modbus.");
        if (!onlyKnown(m, at, {QStringLiteral("listen"), QStringLiteral("word_order"), QStringLiteral("max_clients"),
                               QStringLiteral("idle_s")}))
            return false;
        ModbusConfig mc;
        const auto listen = string(m, at, QStringLiteral("listen"), false);
        if (!listen)
            return false;
        if (!parseListen(listen->isEmpty() ? QStringLiteral("127.0.0.1:502") : *listen, &mc))
            return fail(at + QStringLiteral("listen"), tr("应是 主机:端口（IPv4 地址、[IPv6 地址] 或主机名，端口 1 到 65535），而不是 %1").arg(*listen));
        const auto order = string(m, at, QStringLiteral("word_order"), false);
        if (!order)
            return false;
        static const QStringList orders{QStringLiteral("ABCD"), QStringLiteral("CDAB"), QStringLiteral("BADC"),
                                        QStringLiteral("DCBA")};
        if (!order->isEmpty() && !orders.contains(*order))
            return fail(at + QStringLiteral("word_order"), tr("应是 ABCD、CDAB、BADC 或 DCBA"));
        mc.wordOrder = order->isEmpty() ? WordOrder::ABCD : WordOrder(orders.indexOf(*order));
        const auto clients = integer(m, at, QStringLiteral("max_clients"), 1, 1000, mc.maxClients, false);
        const auto idle = clients ? integer(m, at, QStringLiteral("idle_s"), 1, 3600, mc.idleSeconds, false) : std::nullopt;
        if (!clients || !idle)
            return false;
        mc.maxClients = *clients;
        mc.idleSeconds = *idle;
        c->modbus = mc;
        return true;
    }

    // Each device's Modbus unit: as given, or its address where that is one.
    bool readUnit(const QJsonObject &d, const QString &dat, DeviceConfig *dc, QHash<int, QString> *units)
    {
        const auto unit = integer(d, dat, QStringLiteral("unit"), 1, 247, 0, false);
        if (!unit)
            return false;
        if (!m_modbus)
            return true;
        dc->unit = *unit ? *unit : dc->address;
        if (dc->unit < 1 || dc->unit > 247)
            return fail(dat + QStringLiteral("unit"), tr("缺少这个键：地址 %1 不能作 Modbus 单元号（1 到 247）").arg(dc->address));
        if (units->contains(dc->unit))
            return fail(dat + QStringLiteral("unit"), tr("单元 %1 已是设备 %2 的").arg(dc->unit).arg(units->value(dc->unit)));
        units->insert(dc->unit, dc->name);
        return true;
    }

    bool readDevices(const QJsonObject &root, Config *c)
    {
        m_modbus = c->modbus.has_value();
        QHash<int, QString> units;
        const QJsonValue dv = root.value(QLatin1String("devices"));
        if (dv.isUndefined())
            return fail(QStringLiteral("devices"), tr("缺少这个键"));
        if (!dv.isArray())
            return fail(QStringLiteral("devices"), tr("应是数组"));
        const QJsonArray devices = dv.toArray();
        if (devices.isEmpty())
            return fail(QStringLiteral("devices"), tr("至少要有一台设备"));
        QSet<QString> names;
        QList<std::pair<DeviceConfig, Line>> lines;
        for (qsizetype i = 0; i < devices.size(); ++i) {
            const QString dat = QStringLiteral("devices[%1].").arg(i);
            if (!devices.at(i).isObject())
                return fail(dat.chopped(1), tr("应是对象"));
            const QJsonObject d = devices.at(i).toObject();
            if (!onlyKnown(d, dat, {QStringLiteral("name"), QStringLiteral("port"), QStringLiteral("address"),
                                    QStringLiteral("mode"), QStringLiteral("silence_s"), QStringLiteral("digits"),
                                    QStringLiteral("expect"), QStringLiteral("unit")}))
                return false;
            DeviceConfig dc;
            const auto name = string(d, dat, QStringLiteral("name"), true);
            if (!name || !topicText(dat + QStringLiteral("name"), *name, true))
                return false;
            // The gateway's own topics live under PREFIX/gateway.
            if (*name == QLatin1String("gateway"))
                return fail(dat + QStringLiteral("name"), tr("“gateway”留给网关自己的状态"));
            if (names.contains(*name))
                return fail(dat + QStringLiteral("name"), tr("与前面的设备重名"));
            names.insert(*name);
            dc.name = *name;
            const auto port = string(d, dat, QStringLiteral("port"), true);
            if (!port)
                return false;
            bool isNumber = false;
            const int number = port->toInt(&isNumber);
            if (isNumber && (number < kFirstPort || number > kLastPort))
                return fail(dat + QStringLiteral("port"), tr("端口号应是 %1 到 %2").arg(kFirstPort).arg(kLastPort));
            const std::optional<Line> line = lineOf(dat + QStringLiteral("port"), *port, isNumber ? number : 0);
            if (!line)
                return false;
            // One session per line: two devices on one line would take each
            // other's replies.
            for (const auto &[other, otherLine] : lines)
                if (otherLine.same(*line))
                    return fail(dat + QStringLiteral("port"),
                                tr("设备 %1（%2）与设备 %3（%4）在同一条线路上")
                                    .arg(dc.name, shownPortName(*port), other.name, shownPortName(other.port)));
            dc.port = *port;
            const auto address = integer(d, dat, QStringLiteral("address"), 0, 255, 1, true);
            if (!address)
                return false;
            dc.address = quint8(*address);
            if (!readUnit(d, dat, &dc, &units))
                return false;
            const auto silence = integer(d, dat, QStringLiteral("silence_s"), 1, 3600, dc.silenceSeconds, false);
            if (!silence)
                return false;
            dc.silenceSeconds = *silence;
            if (d.contains(QLatin1String("digits"))) {
                const auto digits = integer(d, dat, QStringLiteral("digits"), 0, 255, 0, true);
                if (!digits)
                    return false;
                dc.digits = quint8(*digits);
            }
            const auto expect = string(d, dat, QStringLiteral("expect"), false);
            if (!expect)
                return false;
            if (!expect->isEmpty()) {
                // The table the device should hold, as a download of the
                // file would leave it.
                dc.expect = file(*expect);
                ChannelTable table;
                QString why;
                if (loadRtxFile(dc.expect, &table, &why) != RtxLoad::Ok)
                    return fail(dat + QStringLiteral("expect"), tr("无法读取 %1：%2").arg(*expect, why));
                int failed = -1;
                const auto blocks = encodeTable(table, &failed);
                if (!blocks)
                    return fail(dat + QStringLiteral("expect"),
                                tr("%1 中 %2# 的参数无法转换").arg(*expect).arg(failed));
                dc.expectBlocks = *blocks;
            }
            const auto mode = string(d, dat, QStringLiteral("mode"), true);
            if (!mode)
                return false;
            if (*mode == QLatin1String("raw"))
                dc.mode = FeedbackMode::Raw;
            else if (*mode == QLatin1String("target"))
                dc.mode = FeedbackMode::Target;
            else
                return fail(dat + QStringLiteral("mode"), tr("应是 raw 或 target"));
            c->devices.append(dc);
            lines.append({dc, *line});
        }
        return faces(root, c);
    }

    // "metrics": {"listen": "HOST:PORT"} and "homeassistant": {"prefix": P}.
    bool faces(const QJsonObject &root, Config *c)
    {
        const QJsonValue mv = root.value(QLatin1String("metrics"));
        if (!mv.isUndefined()) {
            if (!mv.isObject())
                return fail(QStringLiteral("metrics"), tr("应是对象"));
            const QString at = QStringLiteral("metrics.");
            if (!onlyKnown(mv.toObject(), at, {QStringLiteral("listen")}))
                return false;
            const auto listen = string(mv.toObject(), at, QStringLiteral("listen"), true);
            if (!listen)
                return false;
            // An address as written (127.0.0.1:9108, [::1]:9108), not a name.
            const QUrl url(QStringLiteral("http://") + *listen);
            QHostAddress host;
            if (!url.isValid() || url.port() < 1 || !url.path().isEmpty() || !url.userInfo().isEmpty()
                || !host.setAddress(url.host()))
                return fail(at + QStringLiteral("listen"), tr("应是 地址:端口，如 127.0.0.1:9108"));
            c->metricsHost = host.toString();
            c->metricsPort = quint16(url.port());
        }
        const QJsonValue hv = root.value(QLatin1String("homeassistant"));
        if (!hv.isUndefined()) {
            if (!hv.isObject())
                return fail(QStringLiteral("homeassistant"), tr("应是对象"));
            const QString at = QStringLiteral("homeassistant.");
            if (!onlyKnown(hv.toObject(), at, {QStringLiteral("prefix")}))
                return false;
            const auto prefix = string(hv.toObject(), at, QStringLiteral("prefix"), false);
            if (!prefix || !topicText(at + QStringLiteral("prefix"), *prefix, false))
                return false;
            c->haPrefix = prefix->isEmpty() ? QStringLiteral("homeassistant") : *prefix;
            // Home Assistant takes only these characters in its topics' ids.
            static const QRegularExpression id(QStringLiteral("^[A-Za-z0-9_-]+$"));
            for (qsizetype i = 0; i < c->devices.size(); ++i)
                if (!id.match(c->devices[i].name).hasMatch())
                    return fail(QStringLiteral("devices[%1].name").arg(i),
                                tr("与 homeassistant 一起用时只能含有字母、数字、_ 和 -"));
        }
        return true;
    }

    // The line a port names; nothing when it is not one (the mistake told).
    std::optional<Line> lineOf(const QString &key, const QString &text, int number)
    {
        if (number > 0) {
            // The device or URL the number stands for, when the system
            // knows one now.
            if (!m_ports)
                m_ports = PortMap::fromSystem();
            const QString mapped = m_ports->path(number);
            NetAddress a;
            if (!mapped.isEmpty() && isNetworkName(mapped) && parseNetAddress(mapped, &a, nullptr))
                return Line::at(a);
            if (!mapped.isEmpty() && !isNetworkName(mapped))
                return Line::serial(mapped);
            Line l;
            l.path = QStringLiteral("#%1").arg(number);
            return l;
        }
        // "tcp:/host:1" is a URL mistyped, not a device path.
        static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:/"));
        if (!isNetworkName(text) && !scheme.match(text).hasMatch())
            return Line::serial(text);
        const QString shown = shownPortName(text);
        if (shown != text) {
            fail(key, tr("网络端口不写用户名或密码：%1").arg(shown));
            return std::nullopt;
        }
        NetAddress a;
        QString why;
        if (!isNetworkName(text) || !parseNetAddress(text, &a, &why)) {
            fail(key, why.isEmpty() ? tr("应是 tcp://主机:端口 或 rfc2217://主机:端口，而不是 %1").arg(shown)
                                    : tr("网络端口 %1 不可用：%2").arg(shown, why));
            return std::nullopt;
        }
        return Line::at(a);
    }

    static QString badUrl(const QString &text) { return tr("应是 mqtt://主机[:端口] 或 mqtts://主机[:端口]，而不是 %1").arg(shownPortName(text)); }
    static QString userInUrl(const QString &text) { return tr("用户名写在 username，密码写在 password_file，不写在网址里：%1").arg(shownPortName(text)); }
    static QString badJson(const QString &what, int offset) { return tr("不是有效的 JSON（第 %1 个字符处：%2）").arg(offset).arg(what); }
    static QString notObject() { return tr("应是 JSON 对象"); }
    static QString unreadable(const QString &path, const QString &why) { return tr("无法读取 %1：%2").arg(path, why); }

private:
    ConfigError *m_error;
    QString m_base;
    std::optional<PortMap> m_ports;
    bool m_modbus = false;
};

}  // namespace

bool parseBrokerUrl(const QString &text, Config *c, QString *why)
{
    // A user name or password in the URL is refused, and never repeated.
    if (shownPortName(text) != text) {
        if (why)
            *why = Reader::userInUrl(text);
        return false;
    }
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) || url.host().isEmpty()
        || !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery()
        || url.hasFragment()) {
        if (why)
            *why = Reader::badUrl(text);
        return false;
    }
    c->url = text;
    c->tls = scheme == QLatin1String("mqtts");
    c->host = url.host();
    c->port = url.port(c->tls ? 8883 : 1883);
    if (c->port < 1) {
        if (why)
            *why = Reader::badUrl(text);
        return false;
    }
    return true;
}

int firstUnprivilegedPort()
{
    QFile f(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
    bool ok = false;
    const int first = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt(&ok) : 0;
    return ok ? first : 1024;
}

QString privilegedPortHint(int port, bool permissionDenied, int firstUnprivileged)
{
    if (!permissionDenied || port >= firstUnprivileged)
        return {};
    return QCoreApplication::translate("vorn::gw::Config", "；端口 %1 低于 %2，需要 CAP_NET_BIND_SERVICE 权限（systemd 单元里写 AmbientCapabilities=CAP_NET_BIND_SERVICE）")
        .arg(port)
        .arg(firstUnprivileged);
}

bool parseListen(const QString &text, ModbusConfig *m)
{
    // [IPv6]:PORT, or HOST:PORT with one colon.
    static const QRegularExpression form(QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9.-]+)):([0-9]{1,5})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const QString host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    const int port = match.captured(3).toInt();
    QHostAddress address;
    if (port < 1 || port > 65535 || host.startsWith(QLatin1Char('-')) || host.startsWith(QLatin1Char('.')))
        return false;
    if (!match.captured(1).isEmpty() && (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv6Protocol))
        return false;
    m->listen = text;
    m->host = host;
    m->port = port;
    return true;
}

bool parseConfig(const QByteArray &json, Config *config, ConfigError *error, const QString &baseDir)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError) {
        if (error)
            *error = {QString(), Reader::badJson(pe.errorString(), pe.offset)};
        return false;
    }
    if (!doc.isObject()) {
        if (error)
            *error = {QString(), Reader::notObject()};
        return false;
    }
    Config c;
    Reader reader(error, baseDir);
    if (!reader.read(doc.object(), &c))
        return false;
    *config = c;
    return true;
}

bool loadConfig(const QString &path, Config *config, ConfigError *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = {QString(), Reader::unreadable(path, f.errorString())};
        return false;
    }
    return parseConfig(f.readAll(), config, error, QFileInfo(path).absolutePath());
}

}  // namespace vorn::gw
