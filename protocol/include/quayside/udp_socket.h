// The datagram sockets of the device protocol: opening, options, binding,
// group membership and reading with the arrival interface. Every option is
// checked; a failure is said once per interface and option to whoever owns
// the socket, naming both, and the owner carries on or gives up as suits it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <netinet/in.h>
#include <sys/socket.h>

namespace qs {

struct LocalInterface {
    std::string address;  // dotted IPv4, at most 15 characters
    std::string name;     // kernel interface name ("eth0", "lo")
    unsigned index = 0;   // kernel interface index
    bool operator==(const LocalInterface&) const = default;
};

// Where a socket's owner hears what went wrong while it carries on. Each
// failure is said as "<what> failed on <name> (<address>): <system error>",
// once for each interface and what failed until forget(). The sink is given
// what failed (the option's name) and that line.
class SocketReports {
public:
    using Sink = std::function<void(const std::string& what, const std::string& line)>;
    SocketReports() = default;
    explicit SocketReports(Sink sink) : sink_(std::move(sink)) {}
    void setSink(Sink sink) { sink_ = std::move(sink); }
    // The line for this failure; passed to the sink the first time only.
    std::string report(const LocalInterface& where, const std::string& what, int error);
    void forget() { said_.clear(); }

private:
    Sink sink_;
    std::set<std::string> said_;
};

// One datagram read without waiting from a socket that has IP_PKTINFO on:
// its length, its sender, the interface it came in on and the address it
// was sent to (0 when the system did not say). Nothing when none was queued
// or the read failed (errno says which).
struct PacketInfoDatagram {
    std::size_t length = 0;
    // The sender as an IPv4 address: a sender an IPv6 socket names by its
    // IPv4-mapped address is given plainly; sin_family is 0 for any other.
    sockaddr_in from{};
    sockaddr_storage sender{};  // the sender as the system gave it
    unsigned ifindex = 0;
    in_addr to{};
};
std::optional<PacketInfoDatagram> receiveWithPacketInfo(int fd, std::span<std::uint8_t> buffer);

// An owned UDP socket serving one interface, or several (`where` then names
// the set, e.g. the wildcard address). Option setters return whether the
// system took the option; a refusal goes to the reports, when given.
// open(), bind() and makeNonBlocking() report nothing: their failure is the
// owner's to say, from error() or failure().
class UdpSocket {
public:
    enum class Family {
        IPv4,
        // IPv6 taking IPv4-mapped traffic too, or IPv4 where the system has
        // no IPv6.
        DualStack,
    };

    UdpSocket() = default;
    UdpSocket(LocalInterface where, SocketReports* reports) : where_(std::move(where)), reports_(reports) {}
    ~UdpSocket() { close(); }
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool open(Family family = Family::IPv4, bool nonBlocking = false);
    void close();
    // Gives up the descriptor to the caller.
    int release();
    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    bool isIPv6() const { return ipv6_; }
    const LocalInterface& where() const { return where_; }
    // errno of the last step that failed, and its line.
    int error() const { return error_; }
    const std::string& failure() const { return failure_; }

    bool setOption(int level, int name, const char* what, const void* value, socklen_t size);
    bool setInt(int level, int name, const char* what, int value) {
        return setOption(level, name, what, &value, sizeof value);
    }
    bool reuseAddress() { return setInt(SOL_SOCKET, SO_REUSEADDR, "SO_REUSEADDR", 1); }
    bool packetInfo() { return setInt(IPPROTO_IP, IP_PKTINFO, "IP_PKTINFO", 1); }
    bool bindToDevice(const std::string& device);
    // Off: only the groups joined on this socket, not those of every socket
    // on its port.
    bool multicastAll(bool on) { return setInt(IPPROTO_IP, IP_MULTICAST_ALL, "IP_MULTICAST_ALL", on ? 1 : 0); }
    bool multicastLoop(bool on);
    // The interface group datagrams go out on; reported against `via`.
    bool multicastInterface(const LocalInterface& via);
    // Joins group (dotted IPv4) on an interface; reported against `on`.
    bool join(const std::string& group, const LocalInterface& on);
    // Asks for a receive buffer: the forced form first (it needs privilege
    // and lifts the system cap) unless `force` is false, then the plain one
    // (capped by rmem_max); what is granted is read back with
    // receiveBufferGranted().
    bool receiveBuffer(int bytes, bool force = true);
    // The same for the send buffer.
    bool sendBuffer(int bytes);
    // The receive buffer granted, in the terms it is asked (the kernel
    // reports twice that, the rest being its own bookkeeping); 0 if unread.
    int receiveBufferGranted() const;

    // Binds to an IPv4 address and port; on an IPv6 socket the wildcard is
    // the IPv6 wildcard and any other address its IPv4-mapped form.
    bool bind(in_addr address, std::uint16_t port);
    bool makeNonBlocking();

    std::optional<PacketInfoDatagram> receive(std::span<std::uint8_t> buffer) const {
        return receiveWithPacketInfo(fd_, buffer);
    }

private:
    void failed(const LocalInterface& where, const std::string& what, int error, bool report);

    LocalInterface where_;
    SocketReports* reports_ = nullptr;
    int fd_ = -1;
    bool ipv6_ = false;
    int error_ = 0;
    std::string failure_;
};

}  // namespace qs
