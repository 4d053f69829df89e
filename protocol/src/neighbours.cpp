#include "quayside/neighbours.h"

#include "quayside/address.h"
#include "quayside/records.h"
#include "quayside/socket_transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unordered_map>
#include <unistd.h>

namespace qs {

namespace {

// Netlink fields are in the host's own byte order.
template <typename T>
std::optional<T> native(ByteReader& r) {
    T v{};
    std::uint8_t raw[sizeof(T)];
    if (!r.bytes(raw, sizeof raw)) return std::nullopt;
    std::memcpy(&v, raw, sizeof v);
    return v;
}

constexpr std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t(3); }

std::optional<Neighbour> decodeEntry(ByteView body) {
    ByteReader r(body);
    const auto family = r.u8();
    if (!family || *family != AF_INET || !r.skip(3)) return std::nullopt;
    const auto ifindex = native<std::int32_t>(r);
    const auto state = native<std::uint16_t>(r);
    if (!ifindex || !state || !r.skip(2)) return std::nullopt;
    Neighbour n;
    n.interfaceIndex = *ifindex;
    n.state = *state;
    bool haveAddress = false;
    while (r.remaining() >= 4) {
        const std::size_t start = r.position();
        const auto length = native<std::uint16_t>(r);
        const auto type = native<std::uint16_t>(r);
        if (!length || !type || *length < 4 || *length - 4u > r.remaining()) break;
        const ByteView payload = *r.view(*length - 4u);
        if (*type == NDA_DST && payload.size() == 4) {
            std::uint32_t be = 0;
            std::memcpy(&be, payload.data(), 4);
            n.address = ntohl(be);
            haveAddress = true;
        } else if (*type == NDA_LLADDR && payload.size() == 6) {
            HardwareAddress hw;
            std::copy(payload.begin(), payload.end(), hw.bytes.begin());
            n.hardware = hw;
        }
        const std::size_t next = start + align4(*length);
        if (next > body.size()) break;
        r = ByteReader(body, next);
    }
    if (!haveAddress) return std::nullopt;
    return n;
}

}  // namespace

std::string formatHardwareAddress(const HardwareAddress& address) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : address.bytes) {
        if (!text.empty()) text += ':';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool Neighbour::answered() const {
    constexpr std::uint16_t kHeard = NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;
    return (state & kHeard) != 0 && (state & NUD_NOARP) == 0 && hardware.has_value();
}

NeighbourMessages decodeNeighbourMessages(ByteView data) {
    NeighbourMessages out;
    std::size_t at = 0;
    constexpr std::size_t kHeader = 16;
    while (data.size() - at >= kHeader) {
        ByteReader r(data, at);
        const auto length = native<std::uint32_t>(r);
        const auto type = native<std::uint16_t>(r);
        if (!length || !type || *length < kHeader || *length > data.size() - at) break;
        const ByteView body = data.subspan(at + kHeader, *length - kHeader);
        if (*type == NLMSG_DONE) {
            out.done = true;
            break;
        }
        if (*type == NLMSG_ERROR) {
            ByteReader e(body);
            // The kernel sends a negative errno; anything else is no errno.
            if (const auto code = native<std::int32_t>(e); code && *code != 0)
                out.error = *code < 0 && *code > -4096 ? -*code : EPROTO;
            out.done = true;
            break;
        }
        if (*type == RTM_NEWNEIGH)
            if (auto n = decodeEntry(body)) out.entries.push_back(std::move(*n));
        at += align4(*length);
        if (at > data.size()) break;
    }
    return out;
}

std::optional<std::vector<Neighbour>> readNeighbourTable(std::string* why) {
    const auto fail = [why](const std::string& what) -> std::optional<std::vector<Neighbour>> {
        if (why) *why = what + ": " + std::strerror(errno);
        return std::nullopt;
    };
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return fail("netlink socket");
    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ndm_family = AF_INET;
    if (::send(fd, &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) {
        const auto r = fail("netlink request");
        ::close(fd);
        return r;
    }
    std::vector<Neighbour> all;
    std::vector<std::uint8_t> buffer(32768);
    for (int reads = 0; reads < 4096; ++reads) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) != 1) {
            errno = ETIMEDOUT;
            const auto r = fail("netlink answer");
            ::close(fd);
            return r;
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            const auto r = fail("netlink answer");
            ::close(fd);
            return r;
        }
        auto part = decodeNeighbourMessages(ByteView(buffer.data(), static_cast<std::size_t>(n)));
        all.insert(all.end(), part.entries.begin(), part.entries.end());
        if (part.error) {
            errno = *part.error;
            const auto r = fail("netlink neighbour table");
            ::close(fd);
            return r;
        }
        if (part.done) break;
    }
    ::close(fd);
    return all;
}

std::optional<HardwareAddress> hardwareAddressOf(std::uint32_t address) {
    const auto table = readNeighbourTable();
    if (!table) return std::nullopt;
    for (const Neighbour& n : *table)
        if (n.address == address && n.answered()) return n.hardware;
    return std::nullopt;
}

void fillHardwareAddresses(const std::vector<DeviceData_n*>& devices, const std::vector<Neighbour>& table) {
    // By hash: a search may bring thousands of answers.
    std::unordered_map<std::uint32_t, HardwareAddress> heard;
    for (const Neighbour& n : table)
        if (n.answered()) heard.emplace(n.address, *n.hardware);
    for (DeviceData_n* d : devices) {
        const auto it = d->answeredFrom ? heard.find(d->answeredFrom->hostOrder) : heard.end();
        d->hardware = it != heard.end() ? std::optional(it->second) : std::nullopt;
    }
}

bool LocalRoute::onLink(std::uint32_t address) const {
    for (const auto& [net, mask] : subnets)
        if (mask != 0 && (address & mask) == (net & mask)) return true;
    return false;
}

std::optional<LocalRoute> localRouteTo(std::uint32_t address, std::string* why) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (why) *why = std::string("socket: ") + std::strerror(errno);
        return std::nullopt;
    }
    const sockaddr_in to = socketAddressOf(Ipv4{address}, kDevicePort);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool routed = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
                        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
    const int error = errno;
    ::close(fd);
    if (!routed) {
        if (why) *why = std::string("no route: ") + std::strerror(error);
        return std::nullopt;
    }
    LocalRoute route;
    route.localAddress = ipv4Of(local).hostOrder;
    const auto addresses = hostAddresses(why);
    if (!addresses) return std::nullopt;
    for (const HostAddress& h : *addresses)
        if (parseDottedIPv4(h.where.address) == route.localAddress) {
            route.interfaceName = h.where.name;
            route.loopback = h.loopback;
        }
    for (const HostAddress& h : *addresses)
        if (h.where.name == route.interfaceName)
            if (const auto a = parseDottedIPv4(h.where.address)) route.subnets.emplace_back(*a, h.netmask);
    return route;
}

LinkAnswer askLink(std::uint32_t address, const LocalRoute& route, std::chrono::milliseconds wait) {
    LinkAnswer result;
    if (const auto addresses = hostAddresses())
        for (const HostAddress& h : *addresses)
            if (parseDottedIPv4(h.where.address) == address) {
                result.known = result.thisHost = true;
                return result;
            }
    if (!route.onLink(address)) {
        result.why = "the address is not on the link of " + route.interfaceName;
        return result;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        result.why = std::string("socket: ") + std::strerror(errno);
        return result;
    }
    // One datagram to the discard port: the kernel asks the link who has
    // the address before it can send it.
    const sockaddr_in from = socketAddressOf(Ipv4{route.localAddress}, 0);
    const sockaddr_in to = socketAddressOf(Ipv4{address}, 9);
    const std::uint8_t probe = 0;
    const bool sent = ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0 &&
                      ::sendto(fd, &probe, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 1;
    const int error = errno;
    ::close(fd);
    if (!sent) {
        result.why = std::string("cannot send to the address: ") + std::strerror(error);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        std::string why;
        const auto table = readNeighbourTable(&why);
        if (!table) {
            result.why = why;
            return result;
        }
        for (const Neighbour& n : *table) {
            if (n.address != address) continue;
            if (n.answered()) {
                result.known = true;
                result.hardware = n.hardware;
                return result;
            }
            if (n.state & NUD_FAILED) {
                result.known = true;  // nobody answered
                return result;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    result.known = true;  // no answer within the wait
    return result;
}

}  // namespace qs
