#include "quayside/netmanager.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <syslog.h>
#include <unistd.h>

namespace qs {

namespace {

class Syslog final : public SystemLog {
public:
    void log(const std::string& line) override { ::syslog(LOG_ERR, "%s", line.c_str()); }
};

std::string format(const char* pattern, int a) {
    char buf[160];
    std::snprintf(buf, sizeof buf, pattern, a);
    return buf;
}

std::string format(const char* pattern, int a, int b) {
    char buf[160];
    std::snprintf(buf, sizeof buf, pattern, a, b);
    return buf;
}

}  // namespace

std::shared_ptr<SystemLog> syslogLog() { return std::make_shared<Syslog>(); }

NetManager::NetManager(RunLoop& loop, std::uint16_t port, std::string group, DatagramSink* packager,
                       NetOptions options)
    : loop_(loop), port_(port), group_(std::move(group)), packager_(packager), options_(std::move(options)) {
    if (!options_.log) options_.log = syslogLog();
    openBoth();
}

NetManager::~NetManager() { stopSocket(); }

void NetManager::log(const std::string& line) { options_.log->log(line); }

void NetManager::fail(const std::string& why) {
    if (failure_.empty()) failure_ = why;
    if (options_.onSocketFailure) options_.onSocketFailure(why);
}

bool NetManager::openBoth() {
    interfaces_ = options_.enumerate         ? options_.enumerate()
                  : options_.loopbackLab ? loopbackInterfaces()
                                         : systemInterfaces();
    chosenIf_ = 0;
    serverFd_ = createCFSocket(port_, nullptr);
    if (serverFd_ < 0) {
        fail("cannot open the receive socket on port " + std::to_string(port_) + ": " + failure_);
        return false;
    }
    clientFd_ = createCFSocket(port_, &group_);
    if (clientFd_ < 0) {
        stopSocket();
        fail("cannot open the send socket to " + group_ + ": " + failure_);
        return false;
    }
    serverWatch_ = loop_.watchReadable(serverFd_, [this] { readData(); });
    // Nothing is expected on the connected send socket, but a pending error
    // (an ICMP answer) is read off so it does not spin the loop.
    clientWatch_ = loop_.watchReadable(clientFd_, [this] {
        std::uint8_t scratch[1];
        while (::recv(clientFd_, scratch, sizeof scratch, MSG_DONTWAIT) >= 0 || errno == ECONNREFUSED) {
        }
    });
    return true;
}

int NetManager::createCFSocket(std::uint16_t port, const std::string* address) {
    bool v6 = true;
    int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        v6 = false;
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) {
        log(format("Create a socket fail! erron:%d", errno));
        failure_ = std::strerror(errno);
        return -1;
    }
    bool failed = false;
    if (v6) {
        const int zero = 0;  // IPv4-mapped traffic on the IPv6 socket
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    }
    const bool lab = options_.loopbackLab;
    if (address) {
        in_addr v4{};
        if (::inet_pton(AF_INET, address->c_str(), &v4) != 1) {
            errno = EINVAL;
            failed = true;
        }
        if (!failed && lab) {
            const unsigned char one = 1;
            ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &one, sizeof one);
        }
        destination_ = {};
        destinationLength_ = 0;
        if (!failed && v6) {
            sockaddr_in6 to{};
            to.sin6_family = AF_INET6;
            to.sin6_port = htons(port);
            to.sin6_addr.s6_addr[10] = 0xFF;
            to.sin6_addr.s6_addr[11] = 0xFF;
            std::memcpy(&to.sin6_addr.s6_addr[12], &v4, 4);
            std::memcpy(&destination_, &to, sizeof to);
            destinationLength_ = sizeof to;
        } else if (!failed) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr = v4;
            std::memcpy(&destination_, &to, sizeof to);
            destinationLength_ = sizeof to;
        }
        if (failed) log(format("Connect a socket fail! erron:%d", errno));
    } else {
        if (lab) {
            // A simulator on this host holds the group addresses of the port.
            const int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        }
        // Room for the search replies of a crowded LAN, which arrive at once.
        const int buffer = options_.receiveBufferBytes;
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        // Where each datagram was sent: a group, or this host's address.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        int granted = 0;
        socklen_t grantedLen = sizeof granted;
        // The kernel reports twice what it grants, the rest being its own
        // bookkeeping.
        if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &grantedLen) == 0 && granted / 2 < buffer &&
            !bufferReported_) {
            bufferReported_ = true;
            log(format("Receive buffer %d bytes granted of %d asked", granted / 2, buffer));
        }
        int rc;
        if (v6) {
            sockaddr_in6 any{};
            any.sin6_family = AF_INET6;
            any.sin6_port = htons(port);
            any.sin6_addr = in6addr_any;
            rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        } else {
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_port = htons(port);
            any.sin_addr.s_addr = htonl(INADDR_ANY);
            rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        }
        if (rc != 0) {
            log(format("Bind a socket fail! erron:%d %d", errno, static_cast<int>(port)));
            failed = true;
        } else {
            // Linux hands IPv4 group datagrams to an IPv6 wildcard socket only
            // when the socket itself is a member, so it joins the group on
            // every interface it serves.
            for (const auto& li : interfaces_) {
                ip_mreqn mreq{};
                ::inet_pton(AF_INET, group_.c_str(), &mreq.imr_multiaddr);
                ::inet_pton(AF_INET, li.address.c_str(), &mreq.imr_address);
                mreq.imr_ifindex = static_cast<int>(li.index);
                ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
            }
        }
    }
    if (!failed) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            log(format("Set a socket properties fail! erron:%d", errno));
            failed = true;
        }
    }
    if (failed) {
        failure_ = std::strerror(errno);
        if (::close(fd) != 0) log(format("Close a problem socket fail! erron:%d", errno));
        return -1;
    }
    return fd;
}

void NetManager::sendData(ByteView data) {
    if (data.empty() || clientFd_ < 0) {
        log("Data or socket is null!");
        return;
    }
    const auto sendOne = [&]() {
        const ssize_t n = ::sendto(clientFd_, data.data(), data.size(), 0,
                                   reinterpret_cast<const sockaddr*>(&destination_), destinationLength_);
        if (n < 0) {
            const int err = errno;
            log(format("Data send error! errno:%d", err));
            std::fprintf(stderr, "Data send error! errno: %s\n", std::strerror(err));
            return err;
        }
        if (n == 0) log("Data send error! EPIPE");
        return 0;
    };
    // Out of every interface in turn; the routing table chooses only when
    // the host has none that could carry it.
    int unreachable = 0, sent = 0;
    for (const LocalInterface& li : interfaces_) {
        if (li.index != chosenIf_) {
            ip_mreqn choice{};
            ::inet_pton(AF_INET, li.address.c_str(), &choice.imr_address);
            choice.imr_ifindex = static_cast<int>(li.index);
            if (::setsockopt(clientFd_, IPPROTO_IP, IP_MULTICAST_IF, &choice, sizeof choice) != 0) {
                log(format("Data send error! errno:%d", errno));
                continue;
            }
            chosenIf_ = li.index;
        }
        const int err = sendOne();
        if (err == 0) ++sent;
        if (err == EHOSTUNREACH || err == EHOSTDOWN || err == ENETUNREACH) ++unreachable;
    }
    if (interfaces_.empty()) {
        const int err = sendOne();
        if (err == EHOSTUNREACH || err == EHOSTDOWN) ++unreachable;
    }
    if (unreachable != 0 && sent == 0 && packager_) packager_->setBtnApply(true);
}

void NetManager::sendDataTo(std::uint32_t address, ByteView data) {
    if (directFd_ < 0) {
        directFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (directFd_ < 0) {
            log(format("Create a socket fail! erron:%d", errno));
            return;
        }
        // In the loopback lab nothing may leave the host.
        if (options_.loopbackLab) ::setsockopt(directFd_, SOL_SOCKET, SO_BINDTODEVICE, "lo", 2);
        directWatch_ = loop_.watchReadable(directFd_, [this] {
            std::uint8_t buffer[65536];
            sockaddr_storage from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = ::recvfrom(directFd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n <= 0 || !packager_) return;
            const ByteView datagram(buffer, static_cast<std::size_t>(n));
            packager_->olderFormatCheck(datagram);
            if (datagram.size() >= kHeaderSize) packager_->dePacketDirect(from, datagram);
        });
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = htonl(address);
    if (::sendto(directFd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        log(format("Data send error! errno:%d", errno));
}

void NetManager::readData() {
    std::uint8_t buffer[65536];
    sockaddr_storage from{};
    iovec iov{buffer, sizeof buffer};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(in6_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(serverFd_, &msg, MSG_DONTWAIT);
    // Sent to a group; a system that does not say counts as unicast.
    bool toGroup = false;
    for (cmsghdr* c = n >= 0 ? CMSG_FIRSTHDR(&msg) : nullptr; c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            toGroup = IN_MULTICAST(ntohl(info.ipi_addr.s_addr));
        }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) log(format("Data receive error! errno:%d", errno));
        return;
    }
    if (n == 0) {
        log("Data send error! EPIPE");
        return;
    }
    if (!packager_) return;
    const ByteView datagram(buffer, static_cast<std::size_t>(n));
    packager_->olderFormatCheck(datagram);
    if (datagram.size() < kHeaderSize) return;
    if (toGroup)
        packager_->dePacket(from, datagram);
    else
        packager_->dePacketUnicast(from, datagram);
}

bool NetManager::reopenSocket() {
    stopSocket();
    failure_.clear();
    return openBoth();
}

void NetManager::stopSocket() {
    if (serverWatch_) loop_.unwatch(serverWatch_);
    if (clientWatch_) loop_.unwatch(clientWatch_);
    if (directWatch_) loop_.unwatch(directWatch_);
    serverWatch_ = clientWatch_ = directWatch_ = 0;
    if (directFd_ >= 0) ::close(directFd_);
    directFd_ = -1;
    if (serverFd_ >= 0) ::close(serverFd_);
    if (clientFd_ >= 0) ::close(clientFd_);
    serverFd_ = clientFd_ = -1;
}

}  // namespace qs
