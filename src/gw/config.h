#pragma once
// The gateway's configuration: the broker, what it is published under, and
// the devices, read from a JSON file. Every mistake is named by its key.

#include "protocol/feedbackmode.h"

#include <QList>
#include <QString>

#include <optional>

namespace vorn::gw {

struct DeviceConfig
{
    QString name;           // the topic level under the prefix
    QString port;           // a port number, a device path or a network URL, as rt8ctl --port
    quint8 address = 1;
    FeedbackMode mode = FeedbackMode::Raw;
    int silenceSeconds = 5; // no set of values for this long: the device is silent
    std::optional<quint8> digits;   // the display-digit count the device must report
    QString expect;         // "expect": the .RTX file the device should hold, as found; empty: none
    QByteArray expectBlocks;        // its table as the ten channel blocks a download would leave
    int unit = 0;           // its Modbus unit (1-247); 0 without a Modbus server
};

// The order of a float's two registers and of the bytes in them; A is the
// float's highest byte.
enum class WordOrder { ABCD, CDAB, BADC, DCBA };

// The read-only Modbus TCP server beside the broker.
struct ModbusConfig
{
    QString listen;         // HOST:PORT as written
    QString host;           // an IPv4 or IPv6 address (without brackets) or a name
    int port = 502;
    WordOrder wordOrder = WordOrder::ABCD;
    int maxClients = 16;
    int idleSeconds = 60;   // a client that sends nothing this long is closed
};

struct Config
{
    QString url;            // the broker as written (shown through shownPortName)
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;
    QString prefix;
    QString clientId;
    QString userName;
    QString password;       // read from the password file
    int queueSize = 10000;
    int keepAliveSeconds = 30;
    bool hasBroker = false;               // without one nothing is published
    std::optional<ModbusConfig> modbus;   // without it no port is opened
    QList<DeviceConfig> devices;
    // Faces besides MQTT, each optional. metrics: GET /metrics at
    // metricsHost:metricsPort (no port when metricsPort is 0).
    // homeassistant: discovery configs under haPrefix (none when empty).
    QString metricsHost;
    quint16 metricsPort = 0;
    QString haPrefix;
};

struct ConfigError
{
    QString key;            // "devices[1].mode"; empty for the file as a whole
    QString reason;
};

// The configuration in json; files it names (password, CA) are read or
// checked, found from baseDir when their paths are relative (loadConfig: the
// file's folder). False and the first mistake when it is not a sound
// configuration.
bool parseConfig(const QByteArray &json, Config *config, ConfigError *error, const QString &baseDir = QString());
bool loadConfig(const QString &path, Config *config, ConfigError *error);

// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]". No why names a user name or
// password that the URL holds.
bool parseBrokerUrl(const QString &url, Config *config, QString *why);

// "HOST:PORT": an IPv4 address, [an IPv6 address] or a name, and a port.
bool parseListen(const QString &text, ModbusConfig *modbus);

// The first port an ordinary user may listen on: 1024, unless the system's
// net.ipv4.ip_unprivileged_port_start says otherwise.
int firstUnprivilegedPort();

// What to add to why a port could not be listened on: for a port below
// firstUnprivileged refused for want of permission, that it needs
// CAP_NET_BIND_SERVICE and where to give it (with its separator in front);
// otherwise nothing.
QString privilegedPortHint(int port, bool permissionDenied, int firstUnprivileged = firstUnprivilegedPort());

}  // namespace vorn::gw
