#include "quayside/socket_transport.h"

#include "quayside/address.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>

namespace qs {

namespace {
bool isGroupAddress(in_addr a) { return IN_MULTICAST(ntohl(a.s_addr)); }
}  // namespace

void BlockingLink::sleepFor(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

void BlockingLink::sendRequests(std::span<const int> interfaces, ByteView request) {
    for (const int i : interfaces) sendRequest(i, request);
}

std::optional<BlockingLink::Arrival> BlockingLink::pollAny(std::span<const int> interfaces,
                                                           std::chrono::milliseconds timeout,
                                                           std::span<std::uint8_t> buffer) {
    for (const int i : interfaces)
        if (const auto n = poll(i, std::chrono::milliseconds(0), buffer)) return Arrival{i, *n};
    sleepFor(timeout);
    return std::nullopt;
}

std::optional<std::vector<HostAddress>> hostAddresses(std::string* error) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        if (error) *error = std::string("getifaddrs: ") + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<HostAddress> all;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        sockaddr_in sin{};
        std::memcpy(&sin, a->ifa_addr, sizeof sin);
        HostAddress h;
        h.where.address = ipv4Of(sin).text();
        h.where.name = a->ifa_name;
        if (auto colon = h.where.name.find(':'); colon != std::string::npos) h.where.name.resize(colon);  // alias label
        h.where.index = ::if_nametoindex(h.where.name.c_str());
        h.up = (a->ifa_flags & IFF_UP) != 0;
        h.multicast = (a->ifa_flags & IFF_MULTICAST) != 0;
        h.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        if (a->ifa_netmask && a->ifa_netmask->sa_family == AF_INET) {
            sockaddr_in mask{};
            std::memcpy(&mask, a->ifa_netmask, sizeof mask);
            h.netmask = ntohl(mask.sin_addr.s_addr);
        }
        all.push_back(std::move(h));
    }
    ::freeifaddrs(list);
    return all;
}

std::vector<LocalInterface> systemInterfaces() {
    std::vector<LocalInterface> found;
    for (const HostAddress& h : hostAddresses().value_or(std::vector<HostAddress>{})) {
        if (!h.usable()) continue;
        if (std::none_of(found.begin(), found.end(), [&](const auto& f) { return f.address == h.where.address; }))
            found.push_back(h.where);
    }
    auto numeric = [](const std::string& a) { return Ipv4::parse(a).value_or(Ipv4{}); };
    std::stable_sort(found.begin(), found.end(), [&](const auto& x, const auto& y) {
        if (x.index != y.index) return x.index < y.index;
        return numeric(x.address) < numeric(y.address);
    });
    if (found.size() > kMaxInterfaces) found.resize(kMaxInterfaces);
    return found;
}

std::vector<LocalInterface> loopbackInterfaces() {
    return {LocalInterface{"127.0.0.1", "lo", ::if_nametoindex("lo")}};
}

SocketTransport::~SocketTransport() { CloseSockets(); }

UdpSocket SocketTransport::openSocket(const LocalInterface& li) {
    UdpSocket s(li, &reports_);
    if (!s.open() && options_.log)
        options_.log("no socket for " + li.name + " (" + li.address + "): " + std::strerror(s.error()));
    return s;
}

UdpSocket SocketTransport::openSendSocket(const LocalInterface& li) {
    UdpSocket s = openSocket(li);
    if (s.isOpen()) s.multicastLoop(options_.loopbackLab);
    return s;
}

UdpSocket SocketTransport::openReceiveSocket(const LocalInterface& li) {
    UdpSocket s = openSocket(li);
    if (!s.isOpen()) return s;
    s.reuseAddress();
    // A socket bound to a unicast address hears no multicast on Linux, so the
    // socket is bound to the wildcard address and tied to its interface's
    // device instead: unicast and group datagrams arriving on that device
    // reach it, and those arriving on other devices do not. The arrival
    // interface is also checked on every receive (IP_PKTINFO), so a socket
    // the kernel would not tie still keeps to its interface.
    s.bindToDevice(li.name);
    s.packetInfo();
    // Room for the replies of a large LAN.
    s.receiveBuffer(options_.receiveBufferBytes);
    if (!s.bind(in_addr{htonl(INADDR_ANY)}, kDevicePort))
        reports_.report(li, "binding port " + std::to_string(kDevicePort), s.error());
    s.join(kBlockingGroup, li);
    s.multicastAll(false);
    s.multicastLoop(options_.loopbackLab);
    return s;
}

std::optional<std::vector<LocalInterface>> SocketTransport::chooseInterfaces(const TransportOptions& options,
                                                                             std::string* error) const {
    std::vector<LocalInterface> all;
    if (options.enumerate)
        all = options.enumerate();
    else
        all = options.loopbackLab ? loopbackInterfaces() : systemInterfaces();
    if (!options.onlyAddresses.empty()) {
        std::vector<LocalInterface> chosen;
        for (const auto& want : options.onlyAddresses) {
            auto it = std::find_if(all.begin(), all.end(), [&](const auto& li) { return li.address == want; });
            if (it == all.end()) {
                if (error) *error = "no usable local interface has the address " + want;
                return std::nullopt;
            }
            if (std::none_of(chosen.begin(), chosen.end(), [&](const auto& c) { return c.address == want; }))
                chosen.push_back(*it);
        }
        all = std::move(chosen);
    }
    if (all.size() > kMaxInterfaces) all.resize(kMaxInterfaces);
    return all;
}

bool SocketTransport::refreshInterfaces() {
    if (!open_) return false;
    auto now = chooseInterfaces(options_, nullptr);
    // An address asked for by name that has gone leaves the old table in
    // place; that interface then simply hears nothing.
    if (!now || *now == table_) return false;
    const TransportOptions options = options_;
    OpenSockets(options);
    return true;
}

bool SocketTransport::OpenSockets(const TransportOptions& options, std::string* error) {
    CloseSockets();
    options_ = options;
    auto all = chooseInterfaces(options, error);
    if (!all) return false;
    table_ = std::move(*all);
    sockets_.clear();
    sockets_.resize(table_.size());
    kept_.assign(table_.size(), {});
    reports_.setSink([log = options.log, warn = options.onWarning](const std::string& what, const std::string& line) {
        if (log) log(line);
        if (warn && (what == "IP_ADD_MEMBERSHIP" || what == "IP_MULTICAST_IF")) warn(line);
    });
    for (std::size_t i = 0; i < table_.size(); ++i) sockets_[i].send = openSendSocket(table_[i]);
    for (std::size_t i = 0; i < table_.size(); ++i) sockets_[i].receive = openReceiveSocket(table_[i]);
    openDirectSocket();
    open_ = true;
    int smallest = 0;
    std::string where;
    for (int i = 0; i < interfaceCount(); ++i) {
        const int granted = receiveBufferSize(i);
        if (granted > 0 && granted < options.receiveBufferBytes && (smallest == 0 || granted < smallest)) {
            smallest = granted;
            where = table_[static_cast<std::size_t>(i)].name;
        }
    }
    bufferShortfall_ = smallest;
    if (smallest != 0 && options.log)
        options.log("receive buffer on " + where + ": " + std::to_string(smallest) + " bytes granted of " +
                    std::to_string(options.receiveBufferBytes) + " asked (replies of a large LAN may be lost)");
    return true;
}

void SocketTransport::openDirectSocket() {
    const LocalInterface any{"0.0.0.0", options_.loopbackLab ? "lo" : "direct", 0};
    direct_ = openSocket(any);
    if (!direct_.isOpen()) return;
    direct_.packetInfo();
    // In the loopback lab nothing may leave the host, whatever address is
    // asked for.
    if (options_.loopbackLab) direct_.bindToDevice("lo");
    direct_.receiveBuffer(options_.receiveBufferBytes);
}

void SocketTransport::CloseSockets() {
    direct_.close();
    sockets_.clear();
    kept_.clear();
    table_.clear();
    reports_.forget();
    bufferShortfall_ = 0;
    open_ = false;
}

int SocketTransport::receiveBufferSize(int i) const {
    if (i < 0 || i >= interfaceCount()) return 0;
    return sockets_[static_cast<std::size_t>(i)].receive.receiveBufferGranted();
}

std::string SocketTransport::interfaceAddress(int i) const {
    if (i < 0 || i >= interfaceCount()) return {};
    return table_[static_cast<std::size_t>(i)].address;
}

namespace {
bool waitReadable(int fd, std::chrono::milliseconds timeout) {
    if (fd < 0) {
        std::this_thread::sleep_for(timeout);
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const int r = ::poll(&p, 1, static_cast<int>(timeout.count()));
        if (r < 0 && errno == EINTR) continue;
        return r > 0 && (p.revents & POLLIN);
    }
}
}  // namespace

int SocketTransport::drain(int i) {
    if (i < 0 || i >= interfaceCount()) return 0;
    kept_[static_cast<std::size_t>(i)].clear();
    const int fd = sockets_[static_cast<std::size_t>(i)].receive.fd();
    std::uint8_t scratch[kBlockingBufferSize];
    int count = 0;
    const auto deadline = now() + options_.drainBound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now());
        if (left.count() <= 0) break;  // a steady stream must not hold the send back forever
        if (!waitReadable(fd, std::min(left, options_.drainWait))) break;
        if (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) ++count;
    }
    return count;
}

int SocketTransport::drain(std::span<const int> interfaces) {
    std::vector<pollfd> fds;
    for (const int i : interfaces) {
        if (i < 0 || i >= interfaceCount()) continue;
        kept_[static_cast<std::size_t>(i)].clear();
        if (sockets_[static_cast<std::size_t>(i)].receive.isOpen())
            fds.push_back(pollfd{sockets_[static_cast<std::size_t>(i)].receive.fd(), POLLIN, 0});
    }
    if (fds.empty()) return 0;
    std::uint8_t scratch[kBlockingBufferSize];
    int count = 0;
    const auto deadline = now() + options_.drainBound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now());
        if (left.count() <= 0) break;
        for (auto& p : fds) p.revents = 0;
        const int r = ::poll(fds.data(), fds.size(), static_cast<int>(std::min(left, options_.drainWait).count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        for (const auto& p : fds)
            if ((p.revents & POLLIN) && ::recv(p.fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) ++count;
    }
    return count;
}

void SocketTransport::sendRequest(int i, ByteView request) {
    if (i < 0 || i >= interfaceCount()) return;
    drain(i);
    sendOnly(i, request);
}

void SocketTransport::sendRequests(std::span<const int> interfaces, ByteView request) {
    drain(interfaces);
    for (const int i : interfaces)
        if (i >= 0 && i < interfaceCount()) sendOnly(i, request);
}

void SocketTransport::repeatRequests(std::span<const int> interfaces, ByteView request) {
    for (const int i : interfaces)
        if (i >= 0 && i < interfaceCount()) sendOnly(i, request);
}

void SocketTransport::sendDirect(std::uint32_t address, ByteView request) {
    if (!direct_.isOpen()) return;
    const sockaddr_in to = socketAddressOf(Ipv4{address}, kDevicePort);
    // A full send buffer is waited out briefly: the caller paces its
    // sending, so this is rare and short.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (::sendto(direct_.fd(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
            return;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS && errno != EINTR) return;
        pollfd p{direct_.fd(), POLLOUT, 0};
        ::poll(&p, 1, 1);
    }
}

void SocketTransport::sendDirectRequest(int i, std::uint32_t address, ByteView request) {
    if (i >= 0 && i < interfaceCount()) drain(i);
    drainDirect();
    sendDirect(address, request);
}

void SocketTransport::drainDirect() {
    if (!direct_.isOpen()) return;
    std::uint8_t scratch[kBlockingBufferSize];
    while (::recv(direct_.fd(), scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {
    }
}

std::optional<BlockingLink::Arrival> SocketTransport::receiveDirect(std::span<std::uint8_t> buffer) {
    const auto got = direct_.receive(buffer);
    if (!got || got->from.sin_family != AF_INET) return std::nullopt;
    Arrival a;
    a.length = got->length;
    a.direct = true;
    a.from = ntohl(got->from.sin_addr.s_addr);
    a.toGroup = isGroupAddress(got->to);
    for (std::size_t i = 0; i < table_.size(); ++i)
        if (got->ifindex != 0 && table_[i].index == got->ifindex) {
            a.iface = static_cast<int>(i);
            break;
        }
    return a;
}

void SocketTransport::sendOnly(int i, ByteView request) {
    const auto& li = table_[static_cast<std::size_t>(i)];
    UdpSocket& socket = sockets_[static_cast<std::size_t>(i)].send;
    if (!socket.isOpen()) return;
    // Chosen by the table's address alone (index 0): the kernel finds the
    // device that holds it.
    socket.multicastInterface(LocalInterface{li.address, li.name, 0});
    const int fd = socket.fd();
    const sockaddr_in to = socketAddressOf(Ipv4::parse(kBlockingGroup).value_or(Ipv4{}), kDevicePort);
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::optional<BlockingLink::Arrival> SocketTransport::receiveOne(int i, std::span<std::uint8_t> buffer) {
    const unsigned wanted = table_[static_cast<std::size_t>(i)].index;
    const auto got = sockets_[static_cast<std::size_t>(i)].receive.receive(buffer);
    if (!got) return std::nullopt;
    Arrival a{i, got->length};
    if (got->from.sin_family == AF_INET) a.from = ipv4Of(got->from).hostOrder;
    a.toGroup = isGroupAddress(got->to);
    // A datagram that came in on another interface belongs to that
    // interface: it is kept for it when it is one of the table's.
    if (wanted != 0 && got->ifindex != 0 && got->ifindex != wanted) {
        for (std::size_t j = 0; j < table_.size(); ++j) {
            if (table_[j].index != got->ifindex || static_cast<int>(j) == i) continue;
            if (kept_[j].size() < kKeptPerInterface) {
                a.iface = static_cast<int>(j);
                kept_[j].push_back(Kept{Bytes(buffer.begin(), buffer.begin() + static_cast<long>(got->length)), a});
            }
            break;
        }
        return std::nullopt;
    }
    return a;
}

std::optional<BlockingLink::Arrival> SocketTransport::takeKept(int i, std::span<std::uint8_t> buffer) {
    if (i < 0 || static_cast<std::size_t>(i) >= kept_.size() || kept_[static_cast<std::size_t>(i)].empty())
        return std::nullopt;
    auto& list = kept_[static_cast<std::size_t>(i)];
    Kept k = std::move(list.front());
    list.erase(list.begin());
    const std::size_t n = std::min(k.datagram.size(), buffer.size());
    std::copy_n(k.datagram.begin(), n, buffer.begin());
    k.how.length = n;
    return k.how;
}

bool SocketTransport::hearsAnything() const {
    if (direct_.isOpen()) return true;
    return std::any_of(sockets_.begin(), sockets_.end(), [](const Sockets& s) { return s.receive.isOpen(); });
}

std::optional<std::size_t> SocketTransport::poll(int i, std::chrono::milliseconds timeout,
                                                 std::span<std::uint8_t> buffer) {
    if (i < 0 || i >= interfaceCount()) return std::nullopt;
    if (const auto k = takeKept(i, buffer)) return k->length;
    const int fd = sockets_[static_cast<std::size_t>(i)].receive.fd();
    const auto deadline = now() + timeout;
    for (;;) {
        // Rounded up, so a whole wait is as long as asked.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now());
        if (!waitReadable(fd, std::max(left, std::chrono::milliseconds(0)))) return std::nullopt;
        if (const auto a = receiveOne(i, buffer)) return a->length;
    }
}

std::optional<BlockingLink::Arrival> SocketTransport::pollAny(std::span<const int> interfaces,
                                                              std::chrono::milliseconds timeout,
                                                              std::span<std::uint8_t> buffer) {
    return pollWithDirect(interfaces, false, timeout, buffer);
}

std::optional<BlockingLink::Arrival> SocketTransport::pollWithDirect(std::span<const int> interfaces, bool direct,
                                                                     std::chrono::milliseconds timeout,
                                                                     std::span<std::uint8_t> buffer) {
    constexpr int kDirectOwner = -1;
    for (const int i : interfaces)
        if (auto k = takeKept(i, buffer)) return k;
    std::vector<pollfd> fds;
    std::vector<int> owner;
    for (const int i : interfaces)
        if (i >= 0 && i < interfaceCount() && sockets_[static_cast<std::size_t>(i)].receive.isOpen()) {
            fds.push_back(pollfd{sockets_[static_cast<std::size_t>(i)].receive.fd(), POLLIN, 0});
            owner.push_back(i);
        }
    if (direct && direct_.isOpen()) {
        fds.push_back(pollfd{direct_.fd(), POLLIN, 0});
        owner.push_back(kDirectOwner);
    }
    if (fds.empty()) {
        std::this_thread::sleep_for(timeout);
        return std::nullopt;
    }
    const auto deadline = now() + timeout;
    for (;;) {
        const auto left =
            std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - now()), std::chrono::milliseconds(0));
        for (auto& p : fds) p.revents = 0;
        const int r = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return std::nullopt;
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (!(fds[k].revents & POLLIN)) continue;
            if (owner[k] == kDirectOwner) {
                if (auto a = receiveDirect(buffer)) return a;
            } else if (auto a = receiveOne(owner[k], buffer)) {
                return a;
            }
        }
        // What was read for another of these interfaces.
        for (const int i : interfaces)
            if (auto k = takeKept(i, buffer)) return k;
    }
}

}  // namespace qs
