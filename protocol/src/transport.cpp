#include "quayside/transport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qs {

void BlockingLink::sleepFor(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

std::vector<LocalInterface> systemInterfaces() {
    std::vector<LocalInterface> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        const unsigned flags = a->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_MULTICAST) || (flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = {};
        sockaddr_in sin{};
        std::memcpy(&sin, a->ifa_addr, sizeof sin);
        if (!::inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text)) continue;
        LocalInterface li;
        li.address = text;
        li.name = a->ifa_name;
        if (auto colon = li.name.find(':'); colon != std::string::npos) li.name.resize(colon);  // alias label
        li.index = ::if_nametoindex(li.name.c_str());
        if (std::none_of(found.begin(), found.end(), [&](const auto& f) { return f.address == li.address; }))
            found.push_back(std::move(li));
    }
    ::freeifaddrs(list);
    auto numeric = [](const std::string& a) {
        in_addr v{};
        ::inet_pton(AF_INET, a.c_str(), &v);
        return ntohl(v.s_addr);
    };
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

namespace {

in_addr parseAddress(const std::string& text) {
    in_addr a{};
    ::inet_pton(AF_INET, text.c_str(), &a);
    return a;
}

int openSendSocket(const LocalInterface& li, bool loop) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const unsigned char loopValue = loop ? 1 : 0;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loopValue, sizeof loopValue);
    (void)li;
    return fd;
}

int openReceiveSocket(const LocalInterface& li, bool loop, int bufferBytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // A socket bound to a unicast address hears no multicast on Linux, so the
    // socket is bound to the wildcard address and tied to its interface's
    // device instead: unicast and group datagrams arriving on that device
    // reach it, and those arriving on other devices do not.
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, li.name.c_str(), static_cast<socklen_t>(li.name.size()));
    // Room for the replies of a large LAN; the forced form needs privilege
    // and lifts the system cap, the plain form is capped by rmem_max.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(kDevicePort);
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    ip_mreqn mreq{};
    mreq.imr_multiaddr = parseAddress(kBlockingGroup);
    mreq.imr_address = parseAddress(li.address);
    mreq.imr_ifindex = static_cast<int>(li.index);
    ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
    // Only the groups joined on this socket, not those of every socket on
    // the port.
    const int zero = 0;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &zero, sizeof zero);
    const unsigned char loopValue = loop ? 1 : 0;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loopValue, sizeof loopValue);
    return fd;
}

}  // namespace

bool SocketTransport::OpenSockets(const TransportOptions& options, std::string* error) {
    CloseSockets();
    options_ = options;
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
                return false;
            }
            if (std::none_of(chosen.begin(), chosen.end(), [&](const auto& c) { return c.address == want; }))
                chosen.push_back(*it);
        }
        all = std::move(chosen);
    }
    if (all.size() > kMaxInterfaces) all.resize(kMaxInterfaces);
    table_ = std::move(all);
    sockets_.assign(table_.size(), Sockets{});
    for (std::size_t i = 0; i < table_.size(); ++i) sockets_[i].send = openSendSocket(table_[i], options.loopbackLab);
    for (std::size_t i = 0; i < table_.size(); ++i)
        sockets_[i].receive = openReceiveSocket(table_[i], options.loopbackLab, options.receiveBufferBytes);
    open_ = true;
    return true;
}

void SocketTransport::CloseSockets() {
    for (auto& s : sockets_) {
        if (s.send >= 0) ::close(s.send);
        if (s.receive >= 0) ::close(s.receive);
    }
    sockets_.clear();
    table_.clear();
    open_ = false;
}

int SocketTransport::receiveBufferSize(int i) const {
    if (i < 0 || i >= interfaceCount() || sockets_[static_cast<std::size_t>(i)].receive < 0) return 0;
    int size = 0;
    socklen_t len = sizeof size;
    ::getsockopt(sockets_[static_cast<std::size_t>(i)].receive, SOL_SOCKET, SO_RCVBUF, &size, &len);
    return size;
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
    const int fd = sockets_[static_cast<std::size_t>(i)].receive;
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

void SocketTransport::sendRequest(int i, ByteView request) {
    if (i < 0 || i >= interfaceCount()) return;
    const auto& li = table_[static_cast<std::size_t>(i)];
    const int fd = sockets_[static_cast<std::size_t>(i)].send;
    if (fd >= 0) {
        in_addr local = parseAddress(li.address);
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local);
    }
    drain(i);
    if (fd < 0) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDevicePort);
    to.sin_addr = parseAddress(kBlockingGroup);
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::optional<std::size_t> SocketTransport::poll(int i, std::chrono::milliseconds timeout,
                                                 std::span<std::uint8_t> buffer) {
    if (i < 0 || i >= interfaceCount()) return std::nullopt;
    const int fd = sockets_[static_cast<std::size_t>(i)].receive;
    if (!waitReadable(fd, timeout)) return std::nullopt;
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    return static_cast<std::size_t>(n);
}

}  // namespace qs
