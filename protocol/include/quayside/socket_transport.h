// Blocking datagram transport: one send and one receive socket per local
// IPv4 interface, polled from the calling thread.
#pragma once

#include "quayside/udp_socket.h"
#include "quayside/wire.h"

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

namespace qs {

inline constexpr std::size_t kMaxInterfaces = 8;
inline constexpr std::size_t kBlockingBufferSize = 4096;

// Every IPv4 address of this host (or network namespace), as getifaddrs
// lists them, with what the interface is. The one reading of the host's
// interfaces; the rest of the tree chooses from it.
struct HostAddress {
    LocalInterface where;  // address, interface name (alias label cut), index
    bool up = false;
    bool multicast = false;
    bool loopback = false;
    std::uint32_t netmask = 0;  // host order; 0 when the system gave none
    // Up, multicast-capable and not loopback: where devices can be heard.
    bool usable() const { return up && multicast && !loopback; }
};
// Nothing when the host's list cannot be read; `error` then says why.
std::optional<std::vector<HostAddress>> hostAddresses(std::string* error = nullptr);

// The host's usable interfaces: IPv4, up, multicast-capable, not loopback,
// ordered by interface index then address, at most kMaxInterfaces.
std::vector<LocalInterface> systemInterfaces();
// The one-interface loopback lab: 127.0.0.1 on the loopback device.
std::vector<LocalInterface> loopbackInterfaces();

// What the search and the device operations need of a transport. The socket
// implementation below is the real one; tests substitute scripted links.
class BlockingLink {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~BlockingLink() = default;
    virtual int interfaceCount() const = 0;
    virtual std::string interfaceAddress(int i) const = 0;
    // The send step: choose interface i, drain its receive socket, send the
    // request to the group.
    virtual void sendRequest(int i, ByteView request) = 0;
    // Waits up to timeout for one datagram on interface i and reads it into
    // buffer. Returns its length, or nothing when the wait ended empty.
    // Datagrams that arrived on another interface are not returned.
    virtual std::optional<std::size_t> poll(int i, std::chrono::milliseconds timeout,
                                            std::span<std::uint8_t> buffer) = 0;
    virtual Clock::time_point now() const { return Clock::now(); }
    virtual void sleepFor(std::chrono::milliseconds d);

    // The send step on several interfaces together: one drain over all their
    // receive sockets, then the request to the group on each. By default
    // each interface in turn.
    virtual void sendRequests(std::span<const int> interfaces, ByteView request);
    // The request sent again on the same interfaces, without the drain:
    // replies to the first sending may be queued already. By default the
    // send step again.
    virtual void repeatRequests(std::span<const int> interfaces, ByteView request) {
        sendRequests(interfaces, request);
    }
    struct Arrival {
        int iface = -1;
        std::size_t length = 0;
        // Arrived on the socket of direct requests (see sendDirect); iface
        // is then the interface it came in on, -1 when that is none of the
        // table's.
        bool direct = false;
        std::uint32_t from = 0;  // sender, host byte order; 0 when the link does not say
        // Sent to a group address (rather than to this host's own address):
        // an answer to a request sent to the group, where the device answers
        // there.
        bool toGroup = false;
    };
    // Waits up to timeout for one datagram on any of the given interfaces.
    // By default asks each at once and otherwise sleeps the timeout out.
    virtual std::optional<Arrival> pollAny(std::span<const int> interfaces, std::chrono::milliseconds timeout,
                                           std::span<std::uint8_t> buffer);

    // Direct requests: sent by unicast to the device port of one address
    // (host byte order), from a socket of their own that hears the answers
    // sent back to it. A link without one sends nothing and hears nothing.
    virtual void sendDirect(std::uint32_t /*address*/, ByteView /*request*/) {}
    // The send step of a request by unicast: drain the receive socket of
    // interface i (when it is one of the table's) and the direct socket,
    // then send to the address. By default only the direct socket is
    // drained.
    virtual void sendDirectRequest(int i, std::uint32_t address, ByteView request) {
        (void)i;
        drainDirect();
        sendDirect(address, request);
    }
    // Discards what the direct socket holds (answers to an earlier search).
    virtual void drainDirect() {}
    // pollAny over the given interfaces and, when `direct`, the direct
    // socket too. By default the direct socket is never heard.
    virtual std::optional<Arrival> pollWithDirect(std::span<const int> interfaces, bool direct,
                                                  std::chrono::milliseconds timeout, std::span<std::uint8_t> buffer) {
        (void)direct;
        return pollAny(interfaces, timeout, buffer);
    }
    // Reads the host's interface list again and, when it changed, reopens
    // the sockets on the new one. Returns whether it changed.
    virtual bool refreshInterfaces() { return false; }
};

struct TransportOptions {
    // Use 127.0.0.1 as the only interface, with multicast loopback on, so a
    // simulator on the same host is reachable.
    bool loopbackLab = false;
    // Restrict the interface table to these local addresses (empty: all).
    std::vector<std::string> onlyAddresses;
    // Interface enumeration; defaults to systemInterfaces / loopbackInterfaces.
    std::function<std::vector<LocalInterface>()> enumerate;
    // How long the drain before a request waits on a socket that holds
    // nothing: by default not at all, what is queued is read and dropped.
    // (An answer still on its way to an earlier request cannot settle a
    // later one: see LateAnswers.) And the bound on a whole drain while
    // datagrams keep arriving.
    std::chrono::milliseconds drainWait{0};
    std::chrono::milliseconds drainBound{2000};
    // Receive buffer asked of the kernel: room for well over 1000 replies.
    int receiveBufferBytes = 8 * 1024 * 1024;
    // Where the transport says what went wrong while it carries on: a socket
    // option that failed (once per option and interface), a receive buffer
    // granted smaller than asked (once). Nothing is said when unset.
    std::function<void(const std::string&)> log;
    // Told too (once each) of the failures that leave an interface out of
    // the search: a group not joined there (nothing sent to the group is
    // heard on it) or the interface not chosen for sending.
    std::function<void(const std::string&)> onWarning;
};

class SocketTransport final : public BlockingLink {
public:
    SocketTransport() = default;
    ~SocketTransport() override;
    SocketTransport(const SocketTransport&) = delete;
    SocketTransport& operator=(const SocketTransport&) = delete;

    // Fills the interface table and opens the sockets. Individual socket
    // failures are tolerated (that interface simply hears nothing); the
    // result is false only when an address in onlyAddresses is not local, in
    // which case `error` says which.
    bool OpenSockets(const TransportOptions& options, std::string* error = nullptr);
    void CloseSockets();
    bool isOpen() const { return open_; }
    // Whether any socket that hears answers could be opened (an interface's
    // receive socket or the socket of direct requests).
    bool hearsAnything() const;

    const std::vector<LocalInterface>& interfaces() const { return table_; }
    // Receive buffer size granted on interface i, in the terms it is asked
    // (half what the kernel reports); 0 if closed.
    int receiveBufferSize(int i) const;
    // The smallest receive buffer granted when it is below what was asked
    // (and was reported through the log); 0 when every one was granted.
    int receiveBufferShortfall() const { return bufferShortfall_; }

    int interfaceCount() const override { return static_cast<int>(table_.size()); }
    std::string interfaceAddress(int i) const override;
    void sendRequest(int i, ByteView request) override;
    std::optional<std::size_t> poll(int i, std::chrono::milliseconds timeout,
                                    std::span<std::uint8_t> buffer) override;
    void sendRequests(std::span<const int> interfaces, ByteView request) override;
    void repeatRequests(std::span<const int> interfaces, ByteView request) override;
    std::optional<Arrival> pollAny(std::span<const int> interfaces, std::chrono::milliseconds timeout,
                                   std::span<std::uint8_t> buffer) override;
    void sendDirect(std::uint32_t address, ByteView request) override;
    void sendDirectRequest(int i, std::uint32_t address, ByteView request) override;
    void drainDirect() override;
    std::optional<Arrival> pollWithDirect(std::span<const int> interfaces, bool direct,
                                          std::chrono::milliseconds timeout, std::span<std::uint8_t> buffer) override;
    bool refreshInterfaces() override;

    // Reads and discards what is queued on interface i; returns the count.
    int drain(int i);
    // The same over several interfaces at once: ends when none of them has
    // had anything for one drain wait, or at the drain bound.
    int drain(std::span<const int> interfaces);

private:
    struct Sockets {
        UdpSocket send;
        UdpSocket receive;
    };
    // The interface table the options give on this host now.
    std::optional<std::vector<LocalInterface>> chooseInterfaces(const TransportOptions& options,
                                                                std::string* error) const;
    void sendOnly(int i, ByteView request);
    // Reads one datagram from interface i's socket when it arrived on that
    // interface; nothing when none was queued or it belonged elsewhere. One
    // that came in on another interface of the table (where the system
    // would not tie the socket to its device) is kept for that interface.
    std::optional<Arrival> receiveOne(int i, std::span<std::uint8_t> buffer);
    // A datagram kept for interface i, copied into buffer.
    std::optional<Arrival> takeKept(int i, std::span<std::uint8_t> buffer);
    UdpSocket openSocket(const LocalInterface& li);
    UdpSocket openSendSocket(const LocalInterface& li);
    UdpSocket openReceiveSocket(const LocalInterface& li);
    void openDirectSocket();
    // Reads one datagram from the direct socket, with its sender and the
    // table index of the interface it came in on.
    std::optional<Arrival> receiveDirect(std::span<std::uint8_t> buffer);

    TransportOptions options_;
    std::vector<LocalInterface> table_;
    std::vector<Sockets> sockets_;
    // Option failures, said through options_.log.
    SocketReports reports_;
    UdpSocket direct_;  // unbound to any device, so it reaches routed hosts
    // Datagrams read from one interface's socket that came in on another,
    // for that other (a few per interface: a flood of them is dropped).
    struct Kept {
        Bytes datagram;
        Arrival how;
    };
    std::vector<std::vector<Kept>> kept_;
    static constexpr std::size_t kKeptPerInterface = 256;
    int bufferShortfall_ = 0;
    bool open_ = false;
};

}  // namespace qs
