#include "quayside/udp_socket.h"

#include "quayside/address.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>

namespace qs {

std::string SocketReports::report(const LocalInterface& where, const std::string& what, int error) {
    const std::string line =
        what + " failed on " + where.name + " (" + where.address + "): " + std::strerror(error);
    if (said_.insert(where.name + "/" + where.address + "/" + what).second && sink_) sink_(what, line);
    return line;
}

std::optional<PacketInfoDatagram> receiveWithPacketInfo(int fd, std::span<std::uint8_t> buffer) {
    PacketInfoDatagram d;
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(in6_pktinfo)) + 64];
    msghdr msg{};
    msg.msg_name = &d.sender;
    msg.msg_namelen = sizeof d.sender;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            d.ifindex = static_cast<unsigned>(info.ipi_ifindex);
            d.to = info.ipi_addr;
        }
    if (d.sender.ss_family == AF_INET) {
        std::memcpy(&d.from, &d.sender, sizeof d.from);
    } else if (d.sender.ss_family == AF_INET6) {
        sockaddr_in6 six{};
        std::memcpy(&six, &d.sender, sizeof six);
        if (IN6_IS_ADDR_V4MAPPED(&six.sin6_addr)) {
            d.from.sin_family = AF_INET;
            d.from.sin_port = six.sin6_port;
            std::memcpy(&d.from.sin_addr, &six.sin6_addr.s6_addr[12], 4);
        }
    }
    d.length = static_cast<std::size_t>(n);
    return d;
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : where_(std::move(other.where_)),
      reports_(other.reports_),
      fd_(std::exchange(other.fd_, -1)),
      ipv6_(other.ipv6_),
      error_(other.error_),
      failure_(std::move(other.failure_)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        where_ = std::move(other.where_);
        reports_ = other.reports_;
        fd_ = std::exchange(other.fd_, -1);
        ipv6_ = other.ipv6_;
        error_ = other.error_;
        failure_ = std::move(other.failure_);
    }
    return *this;
}

void UdpSocket::failed(const LocalInterface& where, const std::string& what, int error, bool report) {
    error_ = error;
    if (report && reports_)
        failure_ = reports_->report(where, what, error);
    else
        failure_ = what + " failed on " + where.name + " (" + where.address + "): " + std::strerror(error);
    errno = error;
}

bool UdpSocket::open(Family family, bool nonBlocking) {
    close();
    const int flags = SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    if (family == Family::DualStack) {
        fd_ = ::socket(AF_INET6, flags, 0);
        if (fd_ >= 0) {
            ipv6_ = true;
            // IPv4-mapped traffic on the IPv6 socket; one that will not take
            // it is no use, and an IPv4 socket serves instead.
            if (setInt(IPPROTO_IPV6, IPV6_V6ONLY, "IPV6_V6ONLY", 0)) return true;
            close();
        }
    }
    ipv6_ = false;
    fd_ = ::socket(AF_INET, flags, 0);
    if (fd_ < 0) {
        failed(where_, "opening a socket", errno, false);
        return false;
    }
    return true;
}

void UdpSocket::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int UdpSocket::release() { return std::exchange(fd_, -1); }

bool UdpSocket::setOption(int level, int name, const char* what, const void* value, socklen_t size) {
    if (::setsockopt(fd_, level, name, value, size) == 0) return true;
    failed(where_, what, errno, true);
    return false;
}

bool UdpSocket::bindToDevice(const std::string& device) {
    return setOption(SOL_SOCKET, SO_BINDTODEVICE, "SO_BINDTODEVICE", device.c_str(),
                     static_cast<socklen_t>(device.size()));
}

bool UdpSocket::multicastLoop(bool on) {
    const unsigned char value = on ? 1 : 0;
    return setOption(IPPROTO_IP, IP_MULTICAST_LOOP, "IP_MULTICAST_LOOP", &value, sizeof value);
}

namespace {
// An interface's address, INADDR_ANY when it has none that parses.
in_addr addressOf(const LocalInterface& li) {
    return inAddrOf(Ipv4::parse(li.address).value_or(Ipv4{INADDR_ANY}));
}
}  // namespace

bool UdpSocket::multicastInterface(const LocalInterface& via) {
    ip_mreqn choice{};
    choice.imr_address = addressOf(via);
    choice.imr_ifindex = static_cast<int>(via.index);
    if (::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &choice, sizeof choice) == 0) return true;
    const int err = errno;
    failed(via, "IP_MULTICAST_IF", err, true);
    return false;
}

bool UdpSocket::join(const std::string& group, const LocalInterface& on) {
    ip_mreqn mreq{};
    // A group that does not parse is left 0.0.0.0, which the kernel refuses.
    mreq.imr_multiaddr = inAddrOf(Ipv4::parse(group).value_or(Ipv4{}));
    mreq.imr_address = addressOf(on);
    mreq.imr_ifindex = static_cast<int>(on.index);
    if (::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) == 0) return true;
    const int err = errno;
    failed(on, "IP_ADD_MEMBERSHIP", err, true);
    return false;
}

bool UdpSocket::receiveBuffer(int bytes, bool force) {
    if (force && ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return true;
    return setInt(SOL_SOCKET, SO_RCVBUF, "SO_RCVBUF", bytes);
}

bool UdpSocket::sendBuffer(int bytes) {
    if (::setsockopt(fd_, SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof bytes) == 0) return true;
    return setInt(SOL_SOCKET, SO_SNDBUF, "SO_SNDBUF", bytes);
}

int UdpSocket::receiveBufferGranted() const {
    int size = 0;
    socklen_t len = sizeof size;
    if (fd_ < 0 || ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, &len) != 0) return 0;
    return size / 2;
}

bool UdpSocket::bind(in_addr address, std::uint16_t port) {
    int rc;
    if (ipv6_) {
        sockaddr_in6 at{};
        at.sin6_family = AF_INET6;
        at.sin6_port = htons(port);
        if (address.s_addr == htonl(INADDR_ANY)) {
            at.sin6_addr = in6addr_any;
        } else {
            at.sin6_addr.s6_addr[10] = 0xFF;
            at.sin6_addr.s6_addr[11] = 0xFF;
            std::memcpy(&at.sin6_addr.s6_addr[12], &address, 4);
        }
        rc = ::bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    } else {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        at.sin_addr = address;
        rc = ::bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    }
    if (rc == 0) return true;
    failed(where_, "binding port " + std::to_string(port), errno, false);
    return false;
}

bool UdpSocket::makeNonBlocking() {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0 && ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0) return true;
    failed(where_, "making the socket non-blocking", errno, false);
    return false;
}

}  // namespace qs
