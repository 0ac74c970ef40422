#include "gw/config.h"

#include "link/portmap.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrl>

#include <optional>

namespace vorn::gw {

namespace {

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
        if (!onlyKnown(root, QString(), {QStringLiteral("broker"), QStringLiteral("devices")}))
            return false;
        // The broker.
        const QJsonValue bv = root.value(QLatin1String("broker"));
        if (bv.isUndefined())
            return fail(QStringLiteral("broker"), tr("缺少这个键"));
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

        // The devices.
        const QJsonValue dv = root.value(QLatin1String("devices"));
        if (dv.isUndefined())
            return fail(QStringLiteral("devices"), tr("缺少这个键"));
        if (!dv.isArray())
            return fail(QStringLiteral("devices"), tr("应是数组"));
        const QJsonArray devices = dv.toArray();
        if (devices.isEmpty())
            return fail(QStringLiteral("devices"), tr("至少要有一台设备"));
        QSet<QString> names;
        QHash<QString, QString> portUser;
        for (qsizetype i = 0; i < devices.size(); ++i) {
            const QString dat = QStringLiteral("devices[%1].").arg(i);
            if (!devices.at(i).isObject())
                return fail(dat.chopped(1), tr("应是对象"));
            const QJsonObject d = devices.at(i).toObject();
            if (!onlyKnown(d, dat, {QStringLiteral("name"), QStringLiteral("port"), QStringLiteral("address"),
                                    QStringLiteral("mode")}))
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
            // One session per line: two devices on one line would take each
            // other's replies.
            if (portUser.contains(*port))
                return fail(dat + QStringLiteral("port"), tr("已由设备 %1 使用").arg(portUser.value(*port)));
            portUser.insert(*port, dc.name);
            dc.port = *port;
            const auto address = integer(d, dat, QStringLiteral("address"), 0, 255, 1, true);
            if (!address)
                return false;
            dc.address = quint8(*address);
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
        }
        return true;
    }

    static QString badUrl(const QString &text) { return tr("应是 mqtt://主机[:端口] 或 mqtts://主机[:端口]，而不是 %1").arg(text); }
    static QString badJson(const QString &what, int offset) { return tr("不是有效的 JSON（第 %1 个字符处：%2）").arg(offset).arg(what); }
    static QString notObject() { return tr("应是 JSON 对象"); }
    static QString unreadable(const QString &path, const QString &why) { return tr("无法读取 %1：%2").arg(path, why); }

private:
    ConfigError *m_error;
    QString m_base;
};

}  // namespace

bool parseBrokerUrl(const QString &text, Config *c, QString *why)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) || url.host().isEmpty()
        || !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery()
        || url.hasFragment()) {
        if (why)
            *why = Reader::badUrl(text);
        return false;
    }
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
