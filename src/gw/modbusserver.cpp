#include "gw/modbusserver.h"

#include <modbus/modbus-tcp.h>
#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorn::gw {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kHeader = 7;             // transaction, protocol, length, unit
constexpr int kMaxLength = 254;        // unit and at most 253 bytes of function and data
constexpr quint8 kReadHolding = 0x03;
constexpr quint8 kReadInput = 0x04;
constexpr int kNice = 10;              // the server thread's, the gateway's own being 0
// A client is answered at most once a millisecond: a client that asks as
// fast as it can (tens of thousands of requests a second) waits for its
// answers instead of taking the processors from the lines and the broker;
// a SCADA or PLC polls every 10 ms to a few seconds.
constexpr auto kAnswerGap = std::chrono::milliseconds(1);

void nonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

struct ModbusServer::Client
{
    int fd = -1;
    QByteArray pending;         // the start of a frame not yet whole
    Clock::time_point active;   // connected, or its last whole frame
    Clock::time_point next;     // not answered again before this
};

struct ModbusServer::Context
{
    modbus_t *ctx = nullptr;
    modbus_mapping_t *mapping = nullptr;
    int listenFd = -1;
    std::list<Client> clients;

    ~Context()
    {
        for (const Client &c : clients)
            ::close(c.fd);
        if (listenFd >= 0)
            ::close(listenFd);
        if (mapping)
            modbus_mapping_free(mapping);
        if (ctx)
            modbus_free(ctx);
    }
};

ModbusServer::ModbusServer(const ModbusConfig &config, const std::vector<int> &units) : m_config(config)
{
    m_index.fill(-1);
    for (size_t i = 0; i < units.size(); ++i)
        if (units[i] >= 1 && units[i] <= 247)
            m_index[size_t(units[i])] = int(i);
    // Every device starting, no values yet.
    for (size_t i = 0; i < units.size(); ++i)
        m_units.push_back({modbusRegisters(Gateway::DeviceState{}, config.wordOrder), 0, std::nullopt});
}

ModbusServer::~ModbusServer()
{
    stop();
}

bool ModbusServer::start(QString *why)
{
    auto context = std::make_unique<Context>();
    const QByteArray host = m_config.host.toUtf8();
    const QByteArray port = QByteArray::number(m_config.port);
    context->ctx = modbus_new_tcp_pi(host.constData(), port.constData());
    context->mapping = modbus_mapping_new(0, 0, kModbusRegisters, kModbusRegisters);
    if (!context->ctx || !context->mapping) {
        *why = QString::fromLocal8Bit(modbus_strerror(errno));
        return false;
    }
    context->listenFd = modbus_tcp_pi_listen(context->ctx, 16);
    if (context->listenFd < 0) {
        const int error = errno;
        *why = tr("无法在 %1 上接受 Modbus TCP 连接：%2").arg(m_config.listen, QString::fromLocal8Bit(modbus_strerror(error)));
        *why += privilegedPortHint(m_config.port, error == EACCES);
        return false;
    }
    ::fcntl(context->listenFd, F_SETFD, FD_CLOEXEC);
    nonBlocking(context->listenFd);
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_context = context.release();
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->start();
    return true;
}

void ModbusServer::stop()
{
    if (m_thread) {
        const char c = 1;
        [[maybe_unused]] const auto n = ::write(m_wake[1], &c, 1);
        m_thread->wait();
        m_thread.reset();
    }
    delete m_context;
    m_context = nullptr;
    for (int &fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void ModbusServer::update(int index, const Gateway::DeviceState &state)
{
    if (index < 0 || size_t(index) >= m_units.size())
        return;
    const ModbusRegisters registers = modbusRegisters(state, m_config.wordOrder);
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    Unit &u = m_units[size_t(index)];
    u.registers = registers;
    if (state.sets != u.sets)
        u.lastSet = now;
    u.sets = state.sets;
}

void ModbusServer::run()
{
    // Below the gateway's own thread when both want a processor: a flood of
    // requests on a busy machine then delays the answers, not the lines and
    // the broker (on Linux a thread's nice value is its own).
    ::setpriority(PRIO_PROCESS, id_t(::gettid()), kNice);
    Context &c = *m_context;
    std::vector<pollfd> fds;
    std::vector<std::list<Client>::iterator> polled;
    for (;;) {
        fds.clear();
        polled.clear();
        fds.push_back({m_wake[0], POLLIN, 0});
        fds.push_back({c.listenFd, POLLIN, 0});
        // Woken at least each second to close idle clients, and when the
        // next client that waits for its turn may be answered.
        auto now = Clock::now();
        auto wake = now + std::chrono::seconds(1);
        for (auto it = c.clients.begin(); it != c.clients.end(); ++it) {
            if (it->next > now) {
                wake = std::min(wake, it->next);
                continue;
            }
            fds.push_back({it->fd, POLLIN, 0});
            polled.push_back(it);
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        // A client with a whole request in hand is answered without waiting.
        const bool ready = std::any_of(polled.begin(), polled.end(), [](auto it) { return wholeFrame(it->pending); });
        if (::poll(fds.data(), nfds_t(fds.size()), ready ? 0 : int(ms)) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (fds[1].revents & POLLIN)
            accept();
        now = Clock::now();
        for (size_t i = 0; i < polled.size(); ++i) {
            Client &client = *polled[i];
            if ((fds[i + 2].revents && !receive(client)) || !answerOne(client, now)) {
                ::close(client.fd);
                c.clients.erase(polled[i]);
            }
        }
        const auto idle = Clock::now() - std::chrono::seconds(m_config.idleSeconds);
        for (auto it = c.clients.begin(); it != c.clients.end();) {
            if (it->active < idle) {
                ::close(it->fd);
                it = c.clients.erase(it);
            } else {
                ++it;
            }
        }
    }
}

void ModbusServer::accept()
{
    Context &c = *m_context;
    for (;;) {
        // Not libmodbus's accept: some of its releases close the listening
        // socket when there is nobody to take.
        const int fd = ::accept4(c.listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;   // none waiting (any more)
        // One more than allowed: the newest goes.
        if (int(c.clients.size()) >= m_config.maxClients) {
            ::close(fd);
            continue;
        }
        c.clients.push_back({fd, {}, Clock::now(), {}});
    }
}

// What a client sent, kept until it is answered. False when the client has
// gone.
bool ModbusServer::receive(Client &client)
{
    char buffer[4096];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    client.pending.append(buffer, qsizetype(n));
    return true;
}

// The length a frame's header gives, once six bytes are there (0 before).
static int frameLength(const QByteArray &pending)
{
    if (pending.size() < kHeader - 1)
        return 0;
    return 6 + (quint8(pending[4]) << 8 | quint8(pending[5]));
}

bool ModbusServer::wholeFrame(const QByteArray &pending)
{
    const int length = frameLength(pending);
    return length > 0 && pending.size() >= length;
}

// Answers the first whole request a client sent, if any; the client's next
// turn comes kAnswerGap later. False when the client is to be closed: a
// frame that is not one (the length is known after six bytes: a wrong one
// closes at once), or an answer that cannot be sent.
bool ModbusServer::answerOne(Client &client, Clock::time_point now)
{
    if (client.pending.size() < kHeader - 1)
        return true;
    const int protocol = quint8(client.pending[2]) << 8 | quint8(client.pending[3]);
    const int length = frameLength(client.pending) - 6;
    if (protocol != 0 || length < 2 || length > kMaxLength)
        return false;
    if (!wholeFrame(client.pending))
        return true;
    const QByteArray frame = client.pending.left(6 + length);
    client.pending.remove(0, 6 + length);
    client.active = now;
    client.next = now + kAnswerGap;
    return answer(client, frame);
}

bool ModbusServer::answer(Client &client, const QByteArray &frame)
{
    Context &c = *m_context;
    const auto *req = reinterpret_cast<const uint8_t *>(frame.constData());
    const int length = int(frame.size());
    const quint8 unit = req[6];
    const quint8 function = req[7];
    modbus_set_socket(c.ctx, client.fd);
    const int index = m_index[unit];
    if (index < 0)
        return modbus_reply_exception(c.ctx, req, MODBUS_EXCEPTION_GATEWAY_PATH) >= 0;
    if (function != kReadHolding && function != kReadInput)
        return modbus_reply_exception(c.ctx, req, MODBUS_EXCEPTION_ILLEGAL_FUNCTION) >= 0;
    // A read is unit, function, address and count: nothing more, nothing less.
    if (length != kHeader + 5)
        return false;
    // Any count that does not name registers of the map (none, or more than
    // one read may carry) is an address outside it: exception 02, as for an
    // address or count that runs past the end.
    const int count = (req[10] << 8) | req[11];
    if (count < 1 || count > 125)
        return modbus_reply_exception(c.ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS) >= 0;
    {
        std::lock_guard lock(m_mutex);
        const Unit &u = m_units[size_t(index)];
        std::copy(u.registers.begin(), u.registers.end(), c.mapping->tab_registers);
        c.mapping->tab_registers[kAgeRegister] = ageRegister(
            u.lastSet ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *u.lastSet).count() : -1);
    }
    std::copy(c.mapping->tab_registers, c.mapping->tab_registers + kModbusRegisters, c.mapping->tab_input_registers);
    // libmodbus answers the read, or refuses an address outside the map (02).
    return modbus_reply(c.ctx, req, length, c.mapping) >= 0;
}

}  // namespace vorn::gw
