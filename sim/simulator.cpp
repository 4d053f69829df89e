#include "simulator.h"

#include "file_servers.h"
#include "process.h"
#include "web_servers.h"

#include "quayside/address.h"
#include "quayside/socket_transport.h"
#include "quayside/wire.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <queue>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qs::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSendBufferBytes = 4 * 1024 * 1024;
constexpr int kReceiveBufferBytes = 1024 * 1024;
constexpr auto kSendRetryBound = std::chrono::seconds(2);
constexpr int kReadsPerWakeup = 512;

// ---- interfaces -----------------------------------------------------------

struct Served {
    unsigned index = 0;
    std::string name;
    in_addr address{};
};

std::string interfaceName(unsigned ifindex) {
    char name[IF_NAMESIZE] = "?";
    if (ifindex != 0 && !::if_indextoname(ifindex, name)) return "?";
    return name;
}

// 0.0.0.0 for text that is not a dotted address.
in_addr parseDotted(std::string_view text) { return qs::inAddrOf(qs::Ipv4::parse(text).value_or(qs::Ipv4{})); }

in_addr addressOf(const qs::HostAddress& h) { return parseDotted(h.where.address); }

// Every IPv4 address of this host or namespace, with the interface flags.
std::vector<qs::HostAddress> hostAddresses() {
    std::string error;
    auto all = qs::hostAddresses(&error);
    if (!all) throw std::runtime_error(error);
    return std::move(*all);
}

// The interfaces the simulator answers on: loopback alone in the lab,
// otherwise each up, multicast-capable, non-loopback interface once.
std::vector<Served> servedInterfaces(bool loopback) {
    std::vector<Served> served;
    if (loopback) {
        const unsigned lo = ::if_nametoindex("lo");
        if (lo == 0) throw std::runtime_error("no loopback interface \"lo\"");
        served.push_back({lo, "lo", in_addr{htonl(INADDR_LOOPBACK)}});
        return served;
    }
    for (const qs::HostAddress& h : hostAddresses()) {
        const unsigned index = h.where.index;
        if (!h.usable() || index == 0) continue;
        if (std::any_of(served.begin(), served.end(), [&](const Served& s) { return s.index == index; })) continue;
        served.push_back({index, h.where.name, addressOf(h)});
    }
    if (served.empty()) throw std::runtime_error("no usable IPv4 multicast interface (use --loopback on this host)");
    return served;
}

std::vector<in_addr> localAddresses() {
    std::vector<in_addr> all;
    for (const qs::HostAddress& h : hostAddresses()) all.push_back(addressOf(h));
    return all;
}

sockaddr_in endpoint(in_addr address, std::uint16_t port) { return qs::socketAddressOf(qs::ipv4Of(address), port); }

// ---- sockets --------------------------------------------------------------

[[noreturn]] void socketFailure(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A step the simulator cannot do without: its failure ends it, saying what
// failed where.
void must(bool done, const qs::UdpSocket& socket) {
    if (!done) throw std::runtime_error(socket.failure());
}

// A step it can do without (a buffer size, a tie to a device): said, and the
// simulator carries on.
void should(bool done, const qs::UdpSocket& socket) {
    if (!done) std::fprintf(stderr, "vsb-sim: %s\n", socket.failure().c_str());
}

const qs::LocalInterface kAllServed{"0.0.0.0", "all interfaces", 0};

qs::UdpSocket openSocket(const qs::LocalInterface& where) {
    qs::UdpSocket socket(where, nullptr);
    if (!socket.open(qs::UdpSocket::Family::IPv4, true)) socketFailure("socket");
    return socket;
}

void bindTo(qs::UdpSocket& socket, const sockaddr_in& at, const std::string& what) {
    if (!socket.bind(at.sin_addr, ntohs(at.sin_port))) socketFailure("bind " + what);
}

// A receive socket bound to the group address at the device port, member of
// the group on every served interface, reporting each arrival interface.
int openGroupSocket(const char* group, const std::vector<Served>& served) {
    qs::UdpSocket socket = openSocket(kAllServed);
    must(socket.reuseAddress(), socket);
    must(socket.packetInfo(), socket);
    must(socket.multicastAll(false), socket);
    should(socket.receiveBuffer(kReceiveBufferBytes, false), socket);
    bindTo(socket, endpoint(parseDotted(group), kDevicePort), std::string(group) + ":" + std::to_string(kDevicePort));
    for (const Served& s : served)
        must(socket.join(group, qs::LocalInterface{qs::ipv4Of(s.address).text(), s.name, s.index}), socket);
    return socket.release();
}

// A receive socket for requests sent by unicast to `address` at the device
// port (the wildcard: every address of the host), reporting each datagram's
// destination and arrival interface. It takes no group traffic. Answers
// leave by it too, so they come from the address and port that were asked.
// A socket bound to one address takes the datagrams sent there before any
// socket bound to the wildcard address (the lab client's) is considered.
// Only the loopback lab asks for one address, always on "lo".
int openUnicastSocket(in_addr address) {
    qs::UdpSocket socket =
        openSocket(address.s_addr == htonl(INADDR_ANY) ? kAllServed : qs::LocalInterface{qs::ipv4Of(address).text(), "lo", 0});
    must(socket.reuseAddress(), socket);
    must(socket.packetInfo(), socket);
    must(socket.multicastAll(false), socket);
    should(socket.receiveBuffer(kReceiveBufferBytes, false), socket);
    should(socket.sendBuffer(kSendBufferBytes), socket);
    bindTo(socket, endpoint(address, kDevicePort), qs::ipv4Of(address).text() + ":" + std::to_string(kDevicePort));
    return socket.release();
}

// The one send socket. In the loopback lab it is tied to "lo" where the
// system allows it, so nothing it sends can leave the host.
qs::UdpSocket openSendSocket(bool loopback) {
    qs::UdpSocket socket = openSocket(loopback ? qs::LocalInterface{"127.0.0.1", "lo", 0} : kAllServed);
    must(socket.multicastLoop(true), socket);
    should(socket.sendBuffer(kSendBufferBytes), socket);
    if (loopback) should(socket.bindToDevice("lo"), socket);
    // In the lab, replies come from 127.0.0.1 like everything else there.
    const in_addr source{htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY)};
    bindTo(socket, endpoint(source, 0), "send socket");
    return socket;
}

std::uint16_t localPort(int fd) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) socketFailure("getsockname");
    return ntohs(sin.sin_port);
}

// SIGINT and SIGTERM become readable events, so the loop ends cleanly;
// SIGCHLD too, so a file server that ends is noticed. SIGPIPE is ignored: a
// web client that goes away must not end the simulator.
int openSignalFd() {
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGCHLD);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) socketFailure("sigprocmask");
    const int fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0) socketFailure("signalfd");
    return fd;
}

// ---- the simulator --------------------------------------------------------

struct Arrival {
    ByteView datagram;
    sockaddr_in from{};
    unsigned ifindex = 0;
    const char* group = "";  // empty when sent by unicast
    int fd = -1;             // the socket it came by
    in_addr to{};            // the destination address

    bool unicast() const { return *group == '\0'; }
    // "to 224.0.0.10", or "by unicast to 10.0.0.5".
    std::string target() const {
        return unicast() ? "by unicast to " + qs::ipv4Of(to).text() : std::string("to ") + group;
    }
};

// Where an answer goes, and how: by the send socket (fd -1; for a group,
// on interface `ifindex`), or by the socket a unicast request came by, from
// the address it was sent to.
struct Destination {
    sockaddr_in to{};
    unsigned ifindex = 0;
    int fd = -1;
    in_addr source{};
};

// Every place one answer goes: one, or both groups. Each datagram of the
// answer goes to each in turn.
struct Destinations {
    std::array<Destination, 2> at{};
    std::size_t count = 1;

    std::span<const Destination> all() const { return {at.data(), count}; }
};

class Simulator {
public:
    Simulator(std::vector<Device> devices, const SimulatorOptions& options, int signalFd);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    void open();
    // Starts the web and file servers of the devices that have them; false
    // when a stop signal came meanwhile.
    bool startServers();
    void run();
    // For the part that gives up root: the file servers stay with the part
    // that keeps it.
    void leaveFileServers() { files_.forget(); }
    // For the part that keeps root: waits for `child` (the part that answers),
    // passing SIGINT and SIGTERM on to it and collecting the file servers
    // that end meanwhile. Returns the child's exit status.
    int supervise(pid_t child);

private:
    struct Pending {
        Clock::time_point due;
        std::uint64_t seq = 0;
        Bytes datagram;
        Destination to;
    };
    struct Later {
        bool operator()(const Pending& a, const Pending& b) const {
            return a.due != b.due ? a.due > b.due : a.seq > b.seq;
        }
    };

    void openLabUnicastSockets();
    void receiveAll(int fd, const char* group);
    void handle(const Arrival& a);
    void handleLegacy(const Arrival& a, const LegacyQuery& q);
    bool isOwn(const sockaddr_in& from) const;
    bool serves(unsigned ifindex) const;
    Destinations replyDestinations(std::size_t device, const Arrival& a) const;
    int answerAll(const PacketHeader& request, const Arrival& a, int& silentCount);
    void deliver(Answer answer, const Destinations& to);
    // Whether device i is restarting (answers nothing) at `now`.
    bool silent(std::size_t i, Clock::time_point now) const { return now < silentUntil_[i]; }
    // Device i took a settings change: silent until restartMs after its
    // answer goes out.
    void restart(std::size_t i, int delayMs, int restartMs);
    // Reports the devices whose silence is over (under --verbose).
    void endSilences(Clock::time_point now);
    bool send(const Bytes& datagram, const Destination& to);
    void setMulticastInterface(unsigned ifindex);
    void fireDue();
    int pollTimeoutMs() const;
    void log(const Arrival& a, const PacketHeader& h, const std::string& outcome) const;
    // "2 of 5 devices answer", and how many were silent, restarting.
    std::string outcomeText(int answering, int silentCount) const;

    std::vector<Device> devices_;
    std::vector<ReplyMode> modes_;
    std::vector<UnicastReply> unicastModes_;
    // When each device's restart ends; devices not restarting hold a time
    // long past. `restarting_` lists those still to be reported back.
    std::vector<Clock::time_point> silentUntil_;
    std::vector<std::size_t> restarting_;
    SimulatorOptions options_;
    std::vector<Served> served_;
    std::vector<in_addr> local_;
    int signalFd_;
    int blockingGroupFd_ = -1;
    int runLoopGroupFd_ = -1;
    qs::UdpSocket send_;
    std::uint16_t sendPort_ = 0;
    // The unicast receive sockets and the address each is bound to. In the
    // lab one is added whenever a device takes a new 127/8 address; none is
    // closed before the end, so a pending answer's socket stays valid.
    std::vector<std::pair<int, in_addr>> unicast_;
    bool filterReported_ = false;
    unsigned multicastIf_ = 0;
    std::priority_queue<Pending, std::vector<Pending>, Later> timers_;
    std::uint64_t nextSeq_ = 0;
    Bytes buffer_ = Bytes(65536);
    WebServers web_;
    FileServers files_;
};

Simulator::Simulator(std::vector<Device> devices, const SimulatorOptions& options, int signalFd)
    : devices_(std::move(devices)), options_(options), signalFd_(signalFd) {
    for (const Device& d : devices_) {
        modes_.push_back(effectiveReplyMode(d.state(), options_.loopback, options_.reply));
        unicastModes_.push_back(options_.unicastReply.value_or(d.state().unicastReply));
    }
    silentUntil_.assign(devices_.size(), Clock::time_point::min());
}

Simulator::~Simulator() {
    for (int fd : {blockingGroupFd_, runLoopGroupFd_})
        if (fd >= 0) ::close(fd);
    for (const auto& u : unicast_) ::close(u.first);
}

void Simulator::open() {
    served_ = servedInterfaces(options_.loopback);
    local_ = localAddresses();
    blockingGroupFd_ = openGroupSocket(kBlockingGroup, served_);
    runLoopGroupFd_ = openGroupSocket(kRunLoopGroup, served_);
    send_ = openSendSocket(options_.loopback);
    sendPort_ = localPort(send_.fd());
    if (options_.loopback) {
        openLabUnicastSockets();
    } else {
        unicast_.emplace_back(openUnicastSocket(in_addr{htonl(INADDR_ANY)}), in_addr{htonl(INADDR_ANY)});
        if (options_.verbose)
            std::fprintf(stderr, "vsb-sim: listening by unicast on 0.0.0.0:%u\n", static_cast<unsigned>(kDevicePort));
    }
}

// One socket for each device address in 127/8 that has none yet. Never
// 127.0.0.1 nor the wildcard: the lab client listens there. A socket that
// cannot be had is reported and the lab goes on without it.
void Simulator::openLabUnicastSockets() {
    for (const Device& d : devices_) {
        for (const PortConfig& p : d.state().ports) {
            if (!isLoopbackIPv4(p.IP) || p.IP == "127.0.0.1") continue;
            const in_addr address = parseDotted(p.IP);
            const bool open = std::any_of(unicast_.begin(), unicast_.end(),
                                          [&](const auto& u) { return u.second.s_addr == address.s_addr; });
            if (open) continue;
            try {
                unicast_.emplace_back(openUnicastSocket(address), address);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "vsb-sim: no unicast requests to %s: %s\n", p.IP.c_str(), e.what());
                continue;
            }
            if (options_.verbose)
                std::fprintf(stderr, "vsb-sim: listening by unicast on %s:%u\n", p.IP.c_str(),
                             static_cast<unsigned>(kDevicePort));
        }
    }
}

bool Simulator::startServers() {
    web_.open(devices_, options_.verbose);
    std::vector<const DeviceConfig*> states;
    for (const Device& d : devices_) states.push_back(&d.state());
    return files_.start(states, options_.verbose, signalFd_);
}

void Simulator::run() {
    std::vector<pollfd> fds;
    for (;;) {
        fds = {{signalFd_, POLLIN, 0}, {blockingGroupFd_, POLLIN, 0}, {runLoopGroupFd_, POLLIN, 0}};
        // Handling a request may add unicast sockets; those wait for the
        // next round.
        const std::size_t unicastCount = unicast_.size();
        for (std::size_t i = 0; i < unicastCount; ++i) fds.push_back({unicast_[i].first, POLLIN, 0});
        const std::size_t webFirst = fds.size();
        web_.addPollFds(fds);
        const int n = ::poll(fds.data(), fds.size(), pollTimeoutMs());
        if (n < 0 && errno != EINTR) socketFailure("poll");
        if (n > 0 && (fds[0].revents & POLLIN)) {
            if (takeStopSignal(signalFd_)) return;
            files_.reap();
        }
        if (n > 0 && (fds[1].revents & POLLIN)) receiveAll(blockingGroupFd_, kBlockingGroup);
        if (n > 0 && (fds[2].revents & POLLIN)) receiveAll(runLoopGroupFd_, kRunLoopGroup);
        for (std::size_t i = 0; n > 0 && i < unicastCount; ++i)
            if (fds[3 + i].revents & POLLIN) receiveAll(fds[3 + i].fd, "");
        if (n > 0) web_.handle(std::span<const pollfd>(fds).subspan(webFirst), devices_);
        web_.expire(Clock::now());
        fireDue();
        endSilences(Clock::now());
    }
}

int Simulator::supervise(pid_t child) {
    for (;;) {
        pollfd p{signalFd_, POLLIN, 0};
        if (::poll(&p, 1, 1000) < 0 && errno != EINTR) socketFailure("poll");
        if (takeStopSignal(signalFd_)) ::kill(child, SIGTERM);
        if (const auto status = files_.reap(child))
            return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
    }
}

void Simulator::receiveAll(int fd, const char* group) {
    for (int i = 0; i < kReadsPerWakeup; ++i) {
        Arrival a;
        a.group = group;
        a.fd = fd;
        const auto got = qs::receiveWithPacketInfo(fd, buffer_);
        if (!got) {
            if (errno == EINTR) continue;
            return;  // EAGAIN: drained
        }
        a.from = got->from;
        a.ifindex = got->ifindex;
        a.to = got->to;
        a.datagram = ByteView(buffer_.data(), got->length);
        handle(a);
    }
}

void Simulator::handle(const Arrival& a) {
    const RequestCheck kind = checkRequest(a.datagram);
    if (kind != RequestCheck::Request && kind != RequestCheck::LegacyQuery) return;  // replies and runts
    if (isOwn(a.from)) return;  // a faulty reply of ours carrying request magic
    if (kind == RequestCheck::LegacyQuery) {
        handleLegacy(a, *readLegacyQuery(a.datagram));
        return;
    }
    const PacketHeader h = *readHeader(a.datagram);
    // A request sent to an address of the host is taken on any interface.
    if (!a.unicast() && !serves(a.ifindex)) {
        log(a, h, "ignored: arrived on an interface not served");
        return;
    }
    if (!Device::handles(h.opcode)) {
        log(a, h, "ignored: opcode not handled");
        return;
    }
    int silentCount = 0;
    const int answering = answerAll(h, a, silentCount);
    log(a, h, outcomeText(answering, silentCount));
    // A settings change may have moved a device to an address of its own.
    if (h.opcode == op_SET_LAN && options_.loopback) openLabUnicastSockets();
}

void Simulator::handleLegacy(const Arrival& a, const LegacyQuery& q) {
    std::string outcome;
    if (!a.unicast() && !serves(a.ifindex)) {
        outcome = "ignored: arrived on an interface not served";
    } else {
        int answering = 0, silentCount = 0;
        const auto now = Clock::now();
        for (std::size_t i = 0; i < devices_.size(); ++i) {
            if (a.unicast() && devices_[i].state().groupOnly) continue;
            if (silent(i, now)) {
                ++silentCount;
                continue;
            }
            Answer answer = devices_[i].answer(q);
            if (answer.empty()) continue;
            ++answering;
            deliver(std::move(answer), replyDestinations(i, a));
        }
        outcome = outcomeText(answering, silentCount);
    }
    if (!options_.verbose) return;
    std::fprintf(stderr, "vsb-sim: older-format query item %u from %s:%u on %s %s, client %s, server %s: %s\n",
                 static_cast<unsigned>(q.itemCode), qs::ipv4Of(a.from.sin_addr).text().c_str(),
                 static_cast<unsigned>(ntohs(a.from.sin_port)), interfaceName(a.ifindex).c_str(), a.target().c_str(),
                 toHex(q.clientId).c_str(), toHex(q.serverUUID).c_str(), outcome.c_str());
}

bool Simulator::isOwn(const sockaddr_in& from) const {
    if (ntohs(from.sin_port) != sendPort_) return false;
    // In the lab a device's answers come from its own 127/8 address.
    if (options_.loopback && (ntohl(from.sin_addr.s_addr) >> 24) == 127) return true;
    return std::any_of(local_.begin(), local_.end(), [&](in_addr a) { return a.s_addr == from.sin_addr.s_addr; });
}

bool Simulator::serves(unsigned ifindex) const {
    return std::any_of(served_.begin(), served_.end(), [&](const Served& s) { return s.index == ifindex; });
}

// A request sent by unicast is answered as the device's unicast reply mode
// says: to its sender's address, at the sender's port or the device port,
// from the address it was sent to; or to both groups. Otherwise, in group
// mode a reply goes to the group the request was sent to (each client form
// listens on its own group only), in unicast mode to the requester's address
// at the device port. In the lab a device's answers by the send socket come
// from its own address, as a box's do on a LAN.
Destinations Simulator::replyDestinations(std::size_t device, const Arrival& a) const {
    in_addr source{};
    const std::string& own = devices_[device].state().serverAddress();
    if (options_.loopback && isLoopbackIPv4(own) && own != "127.0.0.1") source = parseDotted(own);
    const auto group = [&](const char* g) {
        return Destination{endpoint(parseDotted(g), kDevicePort), a.ifindex, -1, source};
    };
    if (a.unicast()) {
        switch (unicastModes_[device]) {
        case UnicastReply::Sender: return {{Destination{a.from, a.ifindex, a.fd, a.to}}};
        case UnicastReply::DevicePort:
            return {{Destination{endpoint(a.from.sin_addr, kDevicePort), a.ifindex, a.fd, a.to}}};
        case UnicastReply::Group: return {{group(kBlockingGroup), group(kRunLoopGroup)}, 2};
        }
    }
    if (modes_[device] == ReplyMode::Unicast)
        return {{Destination{endpoint(a.from.sin_addr, kDevicePort), a.ifindex, -1, source}}};
    return {{group(a.group)}};
}

// A search sent by unicast is for the devices at the address it was sent
// to, as they are now; everything else goes to every device, and each
// decides. Devices restarting are counted in `silentCount` and not asked.
int Simulator::answerAll(const PacketHeader& request, const Arrival& a, int& silentCount) {
    const std::string to = a.unicast() && request.opcode == op_SEARCH ? qs::ipv4Of(a.to).text() : std::string();
    const auto now = Clock::now();
    int answering = 0;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (a.unicast() && devices_[i].state().groupOnly) continue;
        if (!to.empty() && !devices_[i].state().hasAddress(to)) continue;
        if (silent(i, now)) {
            ++silentCount;
            continue;
        }
        Answer answer = devices_[i].answer(request, a.datagram);
        const int delayMs = answer.delayMs, restartMs = answer.restartMs;
        if (!answer.empty()) {
            ++answering;
            deliver(std::move(answer), replyDestinations(i, a));
        }
        if (restartMs > 0) restart(i, delayMs, restartMs);
    }
    return answering;
}

void Simulator::deliver(Answer answer, const Destinations& to) {
    if (answer.delayMs == 0) {
        for (const Bytes& d : answer.datagrams)
            for (const Destination& dest : to.all()) send(d, dest);
        return;
    }
    const auto due = Clock::now() + std::chrono::milliseconds(answer.delayMs);
    for (Bytes& d : answer.datagrams)
        for (const Destination& dest : to.all()) timers_.push(Pending{due, nextSeq_++, d, dest});
}

void Simulator::restart(std::size_t i, int delayMs, int restartMs) {
    silentUntil_[i] = Clock::now() + std::chrono::milliseconds(delayMs + restartMs);
    if (std::find(restarting_.begin(), restarting_.end(), i) == restarting_.end()) restarting_.push_back(i);
    if (options_.verbose)
        std::fprintf(stderr, "vsb-sim: %s took a settings change and restarts: silent until %d ms after its answer\n",
                     devices_[i].state().hostname.c_str(), restartMs);
}

void Simulator::endSilences(Clock::time_point now) {
    std::erase_if(restarting_, [&](std::size_t i) {
        if (silent(i, now)) return false;
        if (options_.verbose)
            std::fprintf(stderr, "vsb-sim: %s answers again, at %s\n", devices_[i].state().hostname.c_str(),
                         devices_[i].state().serverAddress().c_str());
        return true;
    });
}

void Simulator::setMulticastInterface(unsigned ifindex) {
    if (ifindex == multicastIf_) return;
    // By index alone: the system chooses the source address on it.
    if (!send_.multicastInterface(qs::LocalInterface{"0.0.0.0", interfaceName(ifindex), ifindex})) {
        std::fprintf(stderr, "vsb-sim: %s\n", send_.failure().c_str());
        return;
    }
    multicastIf_ = ifindex;
}

// Sends one datagram; a full buffer is waited out briefly, never dropped
// without a word.
bool Simulator::send(const Bytes& datagram, const Destination& dest) {
    const sockaddr_in& to = dest.to;
    const int fd = dest.fd >= 0 ? dest.fd : send_.fd();
    if (dest.fd < 0 && IN_MULTICAST(ntohl(to.sin_addr.s_addr))) setMulticastInterface(dest.ifindex);
    // By a unicast socket the source address is the one that was asked; a
    // lab device's answers come from its own address.
    iovec iov{const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr_in*>(&to);
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (dest.source.s_addr != 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = dest.source;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    const auto deadline = Clock::now() + kSendRetryBound;
    for (;;) {
        const ssize_t n = ::sendmsg(fd, &msg, 0);
        if (n >= 0) return true;
        const int err = errno;
        const bool busy = err == EAGAIN || err == EWOULDBLOCK || err == ENOBUFS;
        if (err == EPERM) {
            // A packet filter of the host dropped it (a lossy link made with
            // nftables does): lost as on the wire. Said once.
            if (!filterReported_)
                std::fprintf(stderr,
                             "vsb-sim: reply to %s:%u dropped by a packet filter (%s); further drops not reported\n",
                             qs::ipv4Of(to.sin_addr).text().c_str(), static_cast<unsigned>(ntohs(to.sin_port)),
                             std::strerror(err));
            filterReported_ = true;
            return false;
        }
        if (err != EINTR && (!busy || Clock::now() >= deadline)) {
            std::fprintf(stderr, "vsb-sim: reply to %s:%u not sent: %s\n", qs::ipv4Of(to.sin_addr).text().c_str(),
                         static_cast<unsigned>(ntohs(to.sin_port)), std::strerror(err));
            return false;
        }
        if (busy) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, err == ENOBUFS ? 0 : 5);
            if (err == ENOBUFS) ::poll(nullptr, 0, 1);  // no space anywhere: let the receivers catch up
        }
    }
}

void Simulator::fireDue() {
    const auto now = Clock::now();
    while (!timers_.empty() && timers_.top().due <= now) {
        const Pending& p = timers_.top();
        send(p.datagram, p.to);
        timers_.pop();
    }
}

int Simulator::pollTimeoutMs() const {
    std::optional<Clock::time_point> next = web_.nextDeadline();
    if (!timers_.empty() && (!next || timers_.top().due < *next)) next = timers_.top().due;
    for (const std::size_t i : restarting_)
        if (!next || silentUntil_[i] < *next) next = silentUntil_[i];
    if (!next) return -1;
    const auto wait = *next - Clock::now();
    if (wait <= Clock::duration::zero()) return 0;
    // Round up so the loop does not wake just before the deadline.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

std::string Simulator::outcomeText(int answering, int silentCount) const {
    std::string text = std::to_string(answering) + " of " + std::to_string(devices_.size()) + " devices answer";
    if (silentCount > 0) text += " (" + std::to_string(silentCount) + " silent, restarting)";
    return text;
}

void Simulator::log(const Arrival& a, const PacketHeader& h, const std::string& outcome) const {
    if (!options_.verbose) return;
    std::fprintf(stderr, "vsb-sim: op %u from %s:%u on %s %s, client %s, server %s, body %u: %s\n",
                 static_cast<unsigned>(h.opcode), qs::ipv4Of(a.from.sin_addr).text().c_str(),
                 static_cast<unsigned>(ntohs(a.from.sin_port)), interfaceName(a.ifindex).c_str(), a.target().c_str(),
                 toHex(h.clientUUID).c_str(), toHex(h.serverUUID).c_str(), static_cast<unsigned>(h.body_len),
                 outcome.c_str());
}

}  // namespace

int runSimulator(std::vector<Device> devices, const SimulatorOptions& options) {
    if (devices.empty()) std::fprintf(stderr, "vsb-sim: note: no devices configured; nothing will answer\n");
    const int signalFd = openSignalFd();
    {
        Simulator sim(std::move(devices), options, signalFd);
        sim.open();
        // "ready" means every server listens too.
        if (!sim.startServers()) {
            ::close(signalFd);
            return 0;
        }
        // Root is needed only for what is done by now: port 80 is bound and
        // the private smbd instances run. The part that answers gives it up;
        // a part that keeps it stays behind to stop those servers at the end.
        if (::geteuid() == 0) {
            std::cout.flush();
            const pid_t child = ::fork();
            if (child < 0) socketFailure("fork");
            if (child > 0) {
                const int status = sim.supervise(child);
                ::close(signalFd);
                return status;
            }
            sim.leaveFileServers();
            std::string who, why;
            if (!dropRoot(who, why))
                std::fprintf(stderr, "vsb-sim: keeps answering as root: %s\n", why.c_str());
            else if (options.verbose)
                std::fprintf(stderr, "vsb-sim: answering as %s; the file servers run as root\n", who.c_str());
        }
        std::cout << "ready" << std::endl;
        sim.run();
    }
    ::close(signalFd);
    return 0;
}


}  // namespace qs::sim
