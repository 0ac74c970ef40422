#pragma once
// rt8gw's read-only Modbus TCP server: each configured device is a unit whose
// 36 registers (modbusregisters.h) answer functions 03 and 04. Any other
// function is refused (exception 01), addresses beyond the 36 registers too
// (02, or 03 for a count of 0 or more than 125), a unit no device has gets
// 0A; nothing a client sends reaches a device. A frame with a wrong protocol
// id or length closes its client's connection, as does a client silent for
// idle_s; connections beyond max_clients are closed at once.
//
// It runs on a thread of its own, so that clients never hold up the serial
// sessions or the broker: the gateway's thread only puts each device's
// registers into a snapshot under a mutex (update()); the server's thread
// answers from that snapshot. libmodbus builds the replies and exceptions;
// the server cuts the frames itself, so that a slow or broken client never
// makes it wait.

#include "gw/config.h"
#include "gw/gateway.h"
#include "gw/modbusregisters.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>

#include <array>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vorn::gw {

class ModbusServer
{
    Q_DECLARE_TR_FUNCTIONS(vorn::gw::ModbusServer)
public:
    // units: each configured device's unit, in the order of the configuration.
    ModbusServer(const ModbusConfig &config, const std::vector<int> &units);
    ~ModbusServer();
    ModbusServer(const ModbusServer &) = delete;
    ModbusServer &operator=(const ModbusServer &) = delete;

    // Listens and starts answering (every device starting, no values yet).
    // False and why when the port cannot be had.
    bool start(QString *why);
    void stop();

    // Device index's state as it is now; on the gateway's thread.
    void update(int index, const Gateway::DeviceState &state);

private:
    struct Unit
    {
        ModbusRegisters registers{};
        quint64 sets = 0;
        std::optional<std::chrono::steady_clock::time_point> lastSet;
    };
    struct Client;

    void run();
    void accept();
    bool receive(Client &client);
    static bool wholeFrame(const QByteArray &pending);
    bool answerOne(Client &client, std::chrono::steady_clock::time_point now);
    bool answer(Client &client, const QByteArray &frame);

    ModbusConfig m_config;
    std::array<int, 256> m_index;   // unit -> device index, -1: none
    std::mutex m_mutex;
    std::vector<Unit> m_units;      // under m_mutex
    struct Context;
    Context *m_context = nullptr;   // the server thread's own
    int m_wake[2] = {-1, -1};
    std::unique_ptr<QThread> m_thread;
};

}  // namespace vorn::gw
