// Run-loop datagram transport: one send socket connected to the group and
// one receive socket for the whole host, read from a run-loop callback.
#pragma once

#include "quayside/runloop.h"
#include "quayside/socket_transport.h"
#include "quayside/udp_socket.h"
#include "quayside/wire.h"

#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace qs {

inline constexpr int kRunLoopReceiveBuffer = 8 * 1024 * 1024;

// Where the transport's log lines go; the default writes to syslog.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void log(const std::string& line) = 0;
};
std::shared_ptr<SystemLog> syslogLog();

// What the transport hands its datagrams to (the protocol engine).
class DatagramSink {
public:
    virtual ~DatagramSink() = default;
    virtual void olderFormatCheck(ByteView datagram) = 0;
    virtual void dePacket(const sockaddr_storage& sender, ByteView datagram) = 0;
    // A datagram that answered a request sent straight to one address.
    virtual void dePacketDirect(const sockaddr_storage& sender, ByteView datagram) { dePacket(sender, datagram); }
    // A datagram on the receive socket that was sent to an address of this
    // host rather than to a group (a device that answers by unicast at the
    // device port).
    virtual void dePacketUnicast(const sockaddr_storage& sender, ByteView datagram) { dePacket(sender, datagram); }
    virtual void setBtnApply(bool enabled) = 0;
};

struct NetOptions {
    // The loopback lab: multicast goes out on 127.0.0.1 and loops back, and
    // the receive socket shares port 24680 with a simulator on this host.
    bool loopbackLab = false;
    // Interfaces whose group membership the receive socket takes; defaults
    // to systemInterfaces() (or 127.0.0.1 in the loopback lab).
    std::function<std::vector<LocalInterface>()> enumerate;
    std::shared_ptr<SystemLog> log;  // defaults to syslog
    // Receive buffer asked of the kernel; a smaller grant is logged once.
    int receiveBufferBytes = kRunLoopReceiveBuffer;
    // Called once when a socket cannot be made; the owner decides how to end.
    std::function<void(const std::string& why)> onSocketFailure;
    // Every socket option the system refuses is logged, once for each
    // interface and option. Those that leave an interface out of the search
    // are also passed here, for the user: the group not joined there (it
    // hears nothing sent to the group) or the interface not chosen for
    // sending (it gets no request). The line is the one logged, e.g.
    // "IP_ADD_MEMBERSHIP failed on eth0 (10.0.0.1): No such device".
    std::function<void(const std::string& line)> onWarning;
};

class NetManager {
public:
    NetManager(RunLoop& loop, std::uint16_t port, std::string group, DatagramSink* packager, NetOptions options = {});
    ~NetManager();
    NetManager(const NetManager&) = delete;
    NetManager& operator=(const NetManager&) = delete;

    // True while both sockets are open.
    bool ok() const { return server_.isOpen() && client_.isOpen(); }
    const std::string& failure() const { return failure_; }

    void sendData(ByteView data);
    // Sends to the device port of one address (host byte order) from a
    // socket of its own, opened on first use, whose answers go to
    // dePacketDirect. It reaches devices the group does not.
    void sendDataTo(std::uint32_t address, ByteView data);
    void readData();
    bool reopenSocket();
    void stopSocket();

    // Opens one socket: with an address, the send socket, which keeps the
    // address as its destination; without, the receive socket, bound to the
    // wildcard address. Returns the socket, closed after logging why when it
    // could not be made.
    //
    // The send socket is not connected: a group is reached through each
    // interface in turn, chosen for each datagram, so a host without a
    // default route (a laptop cabled to a box, an isolated management
    // network) reaches its boxes too.
    UdpSocket createCFSocket(std::uint16_t port, const std::string* address);
    // The interfaces a group datagram goes out on.
    const std::vector<LocalInterface>& interfaces() const { return interfaces_; }

private:
    bool openBoth();
    void fail(const std::string& why);
    void log(const std::string& line);

    RunLoop& loop_;
    std::uint16_t port_;
    std::string group_;
    DatagramSink* packager_;
    NetOptions options_;
    // Option failures: logged and passed to onWarning, once for the life of
    // the manager (the sockets are opened again for every new search).
    SocketReports reports_;
    UdpSocket server_;  // cfServerSocket
    UdpSocket client_;  // cfClientSocket
    RunLoop::Handle serverWatch_ = 0;
    RunLoop::Handle clientWatch_ = 0;
    UdpSocket direct_;
    RunLoop::Handle directWatch_ = 0;
    std::string failure_;
    bool bufferReported_ = false;  // a smaller receive buffer is said once
    std::vector<LocalInterface> interfaces_;
    sockaddr_storage destination_{};  // of the send socket
    socklen_t destinationLength_ = 0;
    unsigned chosenIf_ = 0;  // the send socket's outgoing interface now
};

}  // namespace qs
