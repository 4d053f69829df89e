#include "quayside/net_manager.h"

#include "quayside/address.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

namespace {
// What the run-loop sockets serve: every interface at once.
const LocalInterface kAllInterfaces{"0.0.0.0", "all interfaces", 0};
}  // namespace

NetManager::NetManager(RunLoop& loop, std::uint16_t port, std::string group, DatagramSink* packager,
                       NetOptions options)
    : loop_(loop), port_(port), group_(std::move(group)), packager_(packager), options_(std::move(options)) {
    if (!options_.log) options_.log = syslogLog();
    reports_.setSink([this](const std::string& what, const std::string& line) {
        log(line);
        // An interface where the group is not joined hears nothing sent to
        // it; one that cannot be chosen for sending gets no request.
        if (options_.onWarning && (what == "IP_ADD_MEMBERSHIP" || what == "IP_MULTICAST_IF"))
            options_.onWarning(line);
    });
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
    server_ = createCFSocket(port_, nullptr);
    if (!server_.isOpen()) {
        fail("cannot open the receive socket on port " + std::to_string(port_) + ": " + failure_);
        return false;
    }
    client_ = createCFSocket(port_, &group_);
    if (!client_.isOpen()) {
        stopSocket();
        fail("cannot open the send socket to " + group_ + ": " + failure_);
        return false;
    }
    serverWatch_ = loop_.watchReadable(server_.fd(), [this] { readData(); });
    // Nothing is expected on the connected send socket, but a pending error
    // (an ICMP answer) is read off so it does not spin the loop.
    clientWatch_ = loop_.watchReadable(client_.fd(), [this] {
        std::uint8_t scratch[1];
        while (::recv(client_.fd(), scratch, sizeof scratch, MSG_DONTWAIT) >= 0 || errno == ECONNREFUSED) {
        }
    });
    return true;
}

UdpSocket NetManager::createCFSocket(std::uint16_t port, const std::string* address) {
    UdpSocket socket(kAllInterfaces, &reports_);
    if (!socket.open(UdpSocket::Family::DualStack)) {
        log(format("Create a socket fail! erron:%d", socket.error()));
        failure_ = std::strerror(socket.error());
        return socket;
    }
    bool failed = false;
    int error = 0;
    const bool lab = options_.loopbackLab;
    if (address) {
        const auto parsed = Ipv4::parse(*address);
        if (!parsed) {
            error = EINVAL;
            failed = true;
        }
        if (!failed && lab) socket.multicastLoop(true);
        destination_ = {};
        destinationLength_ = 0;
        if (!failed && socket.isIPv6()) {
            sockaddr_in6 to{};
            to.sin6_family = AF_INET6;
            to.sin6_port = htons(port);
            to.sin6_addr.s6_addr[10] = 0xFF;
            to.sin6_addr.s6_addr[11] = 0xFF;
            const in_addr v4 = inAddrOf(*parsed);
            std::memcpy(&to.sin6_addr.s6_addr[12], &v4, 4);
            std::memcpy(&destination_, &to, sizeof to);
            destinationLength_ = sizeof to;
        } else if (!failed) {
            const sockaddr_in to = socketAddressOf(*parsed, port);
            std::memcpy(&destination_, &to, sizeof to);
            destinationLength_ = sizeof to;
        }
        if (failed) log(format("Connect a socket fail! erron:%d", error));
    } else {
        // A simulator on this host holds the group addresses of the port.
        if (lab) socket.reuseAddress();
        // Room for the search replies of a crowded LAN, which arrive at once.
        const int buffer = options_.receiveBufferBytes;
        socket.receiveBuffer(buffer);
        // Where each datagram was sent: a group, or this host's address.
        socket.packetInfo();
        const int granted = socket.receiveBufferGranted();
        if (granted < buffer && !bufferReported_) {
            bufferReported_ = true;
            log(format("Receive buffer %d bytes granted of %d asked", granted, buffer));
        }
        if (!socket.bind(in_addr{htonl(INADDR_ANY)}, port)) {
            error = socket.error();
            log(format("Bind a socket fail! erron:%d %d", error, static_cast<int>(port)));
            failed = true;
        } else {
            // Linux hands IPv4 group datagrams to an IPv6 wildcard socket only
            // when the socket itself is a member, so it joins the group on
            // every interface it serves. One it cannot join there stays deaf
            // to the group, which is said once.
            for (const auto& li : interfaces_) socket.join(group_, li);
        }
    }
    if (!failed && !socket.makeNonBlocking()) {
        error = socket.error();
        log(format("Set a socket properties fail! erron:%d", error));
        failed = true;
    }
    if (failed) {
        failure_ = std::strerror(error);
        if (::close(socket.release()) != 0) log(format("Close a problem socket fail! erron:%d", errno));
    }
    return socket;
}

void NetManager::sendData(ByteView data) {
    if (data.empty() || !client_.isOpen()) {
        log("Data or socket is null!");
        return;
    }
    const auto sendOne = [&]() {
        const ssize_t n = ::sendto(client_.fd(), data.data(), data.size(), 0,
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
            if (!client_.multicastInterface(li)) {
                log(format("Data send error! errno:%d", client_.error()));
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
    if (!direct_.isOpen()) {
        direct_ = UdpSocket(LocalInterface{"0.0.0.0", options_.loopbackLab ? "lo" : "direct", 0}, &reports_);
        if (!direct_.open(UdpSocket::Family::IPv4, true)) {
            log(format("Create a socket fail! erron:%d", direct_.error()));
            return;
        }
        // In the loopback lab nothing may leave the host.
        if (options_.loopbackLab) direct_.bindToDevice("lo");
        directWatch_ = loop_.watchReadable(direct_.fd(), [this] {
            std::uint8_t buffer[65536];
            sockaddr_storage from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = ::recvfrom(direct_.fd(), buffer, sizeof buffer, MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n <= 0 || !packager_) return;
            const ByteView datagram(buffer, static_cast<std::size_t>(n));
            packager_->olderFormatCheck(datagram);
            if (datagram.size() >= kHeaderSize) packager_->dePacketDirect(from, datagram);
        });
    }
    const sockaddr_in to = socketAddressOf(Ipv4{address}, port_);
    if (::sendto(direct_.fd(), data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        log(format("Data send error! errno:%d", errno));
}

void NetManager::readData() {
    std::uint8_t buffer[65536];
    const auto got = server_.receive(buffer);
    if (!got) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) log(format("Data receive error! errno:%d", errno));
        return;
    }
    if (got->length == 0) {
        log("Data send error! EPIPE");
        return;
    }
    if (!packager_) return;
    const ByteView datagram(buffer, got->length);
    packager_->olderFormatCheck(datagram);
    if (datagram.size() < kHeaderSize) return;
    // Sent to a group; a system that does not say counts as unicast.
    if (IN_MULTICAST(ntohl(got->to.s_addr)))
        packager_->dePacket(got->sender, datagram);
    else
        packager_->dePacketUnicast(got->sender, datagram);
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
    direct_.close();
    server_.close();
    client_.close();
}

}  // namespace qs
