// Network namespaces as test hosts: each Netns is a host with its own
// network stack; veth() wires two of them with one point-to-point link, and
// the helpers below add addresses and routes, make a router, or make a host
// lose datagrams. Needs root; available() says why not otherwise.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qs::test {

class Netns {
public:
    // Whether namespaces can be made here; `why` explains when not.
    static bool available(std::string* why);

    explicit Netns(const std::string& role);
    ~Netns();
    Netns(const Netns&) = delete;
    Netns& operator=(const Netns&) = delete;

    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }
    // argv prefixed so that it runs inside this namespace.
    std::vector<std::string> exec(const std::vector<std::string>& argv) const;

private:
    std::string name_;
    bool ok_ = false;
};

// Links a and b with a veth pair and gives each end its address (CIDR).
// The names of the two ends (in a and in b) go to aDevice and bDevice when
// given. Returns false (with the command's error in `error`) when it fails.
bool veth(const Netns& a, const std::string& aCidr, const Netns& b, const std::string& bCidr, std::string* error,
          std::string* aDevice = nullptr, std::string* bDevice = nullptr);

// One LAN segment: a bridge in `hub` (a switch) with a link to each host,
// whose end in the host gets the address (CIDR) paired with it; the names
// of those ends go to `devices` when given. As on a switch, group traffic
// reaches every host.
bool segment(const Netns& hub, const std::vector<std::pair<const Netns*, std::string>>& hosts, std::string* error,
             std::vector<std::string>* devices = nullptr);

// One more address (CIDR) on a device of ns.
bool addAddress(const Netns& ns, const std::string& cidr, const std::string& device, std::string* error);

// `ip -n NS route add ARGS...`, e.g. {"10.231.9.0/24", "via", "10.231.8.1"}
// or {"default", "via", "10.231.8.1"}.
bool route(const Netns& ns, const std::vector<std::string>& routeArgs, std::string* error);

// Makes ns a router: it forwards unicast between its links. Multicast is
// not forwarded (that needs a multicast routing daemon, which nothing here
// runs), so a router stands between a client and devices on another subnet
// as on a real network.
bool enableForwarding(const Netns& router, std::string* error);

// Which datagrams dropAtRandom loses: those to the device port 24680 only,
// or also those from it (a device's answers to a client's own port).
enum class LossOf { ToDevicePort, DevicePortEitherEnd };

// Makes ns lose UDP datagrams to the device port 24680 at random, group ones
// included (and, with DevicePortEitherEnd, those from that port): `percent`
// of those it sends and, independently, `percent` of those it receives
// (nftables, output and input hooks); a datagram from and to the port is
// drawn once. A datagram between two sockets of ns itself passes both.
// Traffic that ns forwards as a router passes neither. A datagram dropped
// on its way out makes the sender's send fail with EPERM (the client
// library and vsb-sim take that as a loss, as on the wire). 0 ends the
// loss; a second call replaces the first. False, with the reason, when nft
// (Debian package nftables) is missing or refuses.
bool dropAtRandom(const Netns& ns, int percent, std::string* error, LossOf which = LossOf::ToDevicePort);

// A UDP socket in host ns, bound to the device port on every address and a
// member of both device groups on `device`, which also sends to the groups
// there; non-blocking, with IP_PKTINFO on (see receiveWithPacketInfo). A
// host that hears and answers what goes to the groups. -1, with the reason
// in `error`, when it cannot be had.
int openGroupListener(const Netns& ns, const std::string& device, std::string* error);

// Runs body on a thread that has entered ns and waits for it: sockets
// opened there belong to ns and may be used from any thread afterwards.
// False, with the reason, when ns cannot be entered (body does not run).
bool runIn(const Netns& ns, const std::function<void()>& body, std::string* error);

}  // namespace qs::test
