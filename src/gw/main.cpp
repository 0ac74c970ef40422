// rt8gw: the live values of the configured RT8 devices, published to an MQTT
// broker until it is told to stop (SIGTERM, SIGINT). See rt8gw(1).

#include "cli/language.h"
#include "cli/output.h"
#include "cli/stopsignals.h"
#include "gw/config.h"
#include "gw/gateway.h"
#include "gw/homeassistant.h"
#include "gw/metrics.h"
#include "gw/modbusserver.h"
#include "gw/servicenotifier.h"
#include "link/netaddress.h"
#include "link/line.h"
#include "session/devicesession.h"
#include "session/language.h"
#include "session/linelog.h"
#include "session/portchoice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <memory>
#include <vector>

namespace {

using vorn::cli::printErr;

class Texts
{
    Q_DECLARE_TR_FUNCTIONS(vorn::gw::Gateway)
public:
    static QString about() { return tr("把 RT8 设备的实时数值发布到 MQTT 服务器，也以 Modbus TCP、Prometheus 指标和 Home Assistant 自动发现提供。"); }
    static QString configOption() { return tr("配置文件（JSON）"); }
    static QString checkOption() { return tr("只检查配置文件，然后退出"); }
    static QString langOption() { return tr("语言：en 或 zh"); }
    static QString noConfig() { return tr("缺少 --config FILE"); }
    static QString checked(int devices) { return tr("配置无误：%n 台设备。", nullptr, devices); }
    static QString checkedBroker(const QString &url, const QString &prefix)
    {
        return tr("MQTT 服务器 %1，主题前缀 %2").arg(url, prefix);
    }
    static QString checkedDevice(const QString &name, const QString &port, int address)
    {
        return tr("设备 %1：端口 %2，地址 %3").arg(name, port).arg(address);
    }
    static QString checkedModbus(const QString &listen, const QString &order, int clients)
    {
        return tr("Modbus TCP：%1，字序 %2，最多 %3 个客户端").arg(listen, order).arg(clients);
    }
    static QString checkedUnit(const QString &device, int unit) { return tr("%1，Modbus 单元 %2").arg(device).arg(unit); }
    static QString modbusListening(const QString &listen) { return tr("Modbus TCP 在 %1 上应答（只读，无认证）。").arg(listen); }
    static QString cannotStart(const QString &why) { return tr("无法启动 MQTT 客户端：%1").arg(why); }
    static QString cannotListen(const QString &at, const QString &why) { return tr("无法在 %1 上提供指标：%2").arg(at, why); }
};

// The options read before the language is chosen, and again after it for
// the help in that language.
struct Options
{
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("help-all")},
                                  QString()};
    const QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}, QString()};
    const QCommandLineOption config{QStringLiteral("config"), Texts::configOption(), QStringLiteral("FILE")};
    const QCommandLineOption check{QStringLiteral("check"), Texts::checkOption()};
    const QCommandLineOption lang{QStringLiteral("lang"), Texts::langOption(), QStringLiteral("en|zh")};
};

}  // namespace

int main(int argc, char **argv)
{
    // Qt's own event dispatcher: the gateway wakes for every set of values of
    // every device, and GLib's loop costs more at each wake-up.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rt8gw"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORNRT8_VERSION));
    vorn::quietLineLog();
    {
        const Options o;
        vorn::installTranslations(vorn::cli::languageChoice(app.arguments(), {o.help, o.version, o.config, o.check, o.lang}));
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(Texts::about());
    parser.addHelpOption();
    parser.addVersionOption();
    const Options options;
    const QCommandLineOption &config = options.config, &check = options.check, &lang = options.lang;
    parser.addOptions({config, check, lang});
    if (!parser.parse(app.arguments())) {
        printErr(parser.errorText());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.isSet(config) || !parser.positionalArguments().isEmpty()) {
        printErr(Texts::noConfig());
        return 2;
    }

    const QString file = parser.value(config);
    vorn::gw::Config cfg;
    vorn::gw::ConfigError error;
    if (!vorn::gw::loadConfig(file, &cfg, &error)) {
        printErr(error.key.isEmpty() ? file + QStringLiteral(": ") + error.reason
                                     : file + QStringLiteral(": ") + error.key + QStringLiteral(": ") + error.reason);
        return 2;
    }
    if (parser.isSet(check)) {
        printErr(Texts::checked(int(cfg.devices.size())));
        if (cfg.hasBroker)
            printErr(Texts::checkedBroker(vorn::shownPortName(cfg.url), cfg.prefix));
        if (cfg.modbus) {
            static const char *const orders[] = {"ABCD", "CDAB", "BADC", "DCBA"};
            printErr(Texts::checkedModbus(cfg.modbus->listen, QLatin1String(orders[int(cfg.modbus->wordOrder)]),
                                          cfg.modbus->maxClients));
        }
        for (const vorn::gw::DeviceConfig &device : cfg.devices) {
            // A port number is shown with what it stands for.
            const vorn::PortChoice choice = vorn::choosePort(device.port);
            const QString path = vorn::shownPortName(choice.map.path(choice.number));
            const QString port = vorn::shownPortName(device.port);
            const QString line = Texts::checkedDevice(device.name, path.isEmpty() || path == port ? port : port + QStringLiteral(" = ") + path,
                                                      device.address);
            printErr(device.unit ? Texts::checkedUnit(line, device.unit) : line);
        }
        return 0;
    }

    // SIGTERM and SIGINT end the gateway in order, through the event loop.
    vorn::cli::StopSignals stopSignals({SIGTERM, SIGINT});
    if (!stopSignals.isActive())
        return 1;

    // Each device's line and the one session on it.
    std::vector<std::unique_ptr<vorn::Line>> ports;
    std::vector<std::unique_ptr<vorn::DeviceSession>> sessions;
    std::vector<vorn::gw::DeviceLine> lines;
    for (const vorn::gw::DeviceConfig &device : cfg.devices) {
        const vorn::PortChoice choice = vorn::choosePort(device.port);
        ports.push_back(vorn::makeLine(choice.map.path(choice.number)));
        sessions.push_back(std::make_unique<vorn::DeviceSession>(choice.map, ports.back().get()));
        lines.push_back({ports.back().get(), sessions.back().get(), choice.number});
    }
    vorn::gw::Gateway gateway(cfg, lines);
    // The Modbus server answers from what the gateway knows of each device,
    // on a thread of its own.
    std::unique_ptr<vorn::gw::ModbusServer> modbus;
    if (cfg.modbus) {
        std::vector<int> units;
        for (const vorn::gw::DeviceConfig &device : cfg.devices)
            units.push_back(device.unit);
        modbus = std::make_unique<vorn::gw::ModbusServer>(*cfg.modbus, units);
        QString why;
        if (!modbus->start(&why)) {
            printErr(why);
            return 1;
        }
        printErr(Texts::modbusListening(cfg.modbus->listen));
        vorn::gw::ModbusServer *server = modbus.get();
        QObject::connect(&gateway, &vorn::gw::Gateway::deviceChanged, &gateway, [&gateway, server](int index) {
            server->update(index, gateway.devices()[size_t(index)]);
        });
    }
    // systemd (Type=notify): ready once every device was tried, how many are
    // online, the watchdog, and the stop.
    vorn::gw::ServiceNotifier notifier;
    notifier.setOnline(0, int(cfg.devices.size()));
    QObject::connect(&gateway, &vorn::gw::Gateway::onlineChanged, &notifier, &vorn::gw::ServiceNotifier::setOnline);
    QObject::connect(&gateway, &vorn::gw::Gateway::allTried, &notifier, &vorn::gw::ServiceNotifier::ready);
    QObject::connect(&stopSignals, &vorn::cli::StopSignals::stopRequested, &app, [&] {
        // Stopped once: a second signal finds it stopping.
        QObject::disconnect(&stopSignals, nullptr, &app, nullptr);
        notifier.stopping();
        gateway.stop();
        if (modbus)
            modbus->stop();
        app.quit();
    });
    // The faces besides MQTT, when configured.
    QString why;
    std::unique_ptr<vorn::gw::HomeAssistant> homeAssistant;
    if (!cfg.haPrefix.isEmpty())
        homeAssistant = std::make_unique<vorn::gw::HomeAssistant>(gateway, cfg, QCoreApplication::applicationVersion());
    std::unique_ptr<vorn::gw::MetricsServer> metrics;
    if (cfg.metricsPort != 0) {
        metrics = std::make_unique<vorn::gw::MetricsServer>(gateway, QCoreApplication::applicationVersion());
        if (!metrics->listen(QHostAddress(cfg.metricsHost), cfg.metricsPort, &why)) {
            const QHostAddress host(cfg.metricsHost);
            const QString at = host.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2").arg(cfg.metricsHost).arg(cfg.metricsPort)
                                                                                : QStringLiteral("%1:%2").arg(cfg.metricsHost).arg(cfg.metricsPort);
            printErr(Texts::cannotListen(at, why));
            return 1;
        }
    }
    if (!gateway.start(&why)) {
        printErr(Texts::cannotStart(why));
        return 1;
    }
    return app.exec();
}
