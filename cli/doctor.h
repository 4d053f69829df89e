// quayside doctor: what stands between this host and the boxes. The facts
// are gathered from the system and one search; judge() turns them into
// plain lines, each saying what is wrong and what to do about it.
#pragma once

#include "quayside/device_library.h"

#include <nlohmann/json.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qs::cli {

// What an interface is, as far as the boxes are concerned.
enum class InterfaceKind { Ordinary, Loopback, Tunnel, PointToPoint, Tap, Bridge, Container, VirtualMachine };

// What /sys/class/net/NAME says of an interface.
struct SysfsFacts {
    int type = 1;           // ARPHRD_* ("type")
    bool tun = false;       // has "tun_flags": a tun or tap device
    bool tap = false;       // ... and its flags say tap
    bool bridge = false;    // has a "bridge" folder
    std::string devtype;    // DEVTYPE of "uevent" ("bridge", "wireguard", "vlan", ...)
};
InterfaceKind interfaceKind(const std::string& name, const SysfsFacts& sysfs, bool loopback);

struct InterfaceFacts {
    std::string name;
    bool up = false;
    bool multicast = false;
    bool loopback = false;
    InterfaceKind kind = InterfaceKind::Ordinary;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> addresses;  // IPv4 address and netmask, host order
    int rpFilter = 0;  // reverse-path filtering in effect: the larger of "all" and the interface's own
};

// A firewall rule (or a chain's policy) that drops the boxes' datagrams.
struct FirewallBlock {
    std::string family, table, chain;
    std::int64_t handle = 0;  // the rule's; 0 for the chain's policy
    bool allUdp = false;      // the rule drops every UDP datagram, not only port 24680
    bool reject = false;      // reject rather than drop
};
// What the nftables rule set (nft -j list ruleset) holds against UDP port
// 24680 in input and output chains: rules that drop or reject it (or all
// UDP) with no other condition, before any rule that accepts it or jumps
// elsewhere, and chains whose policy drops with no rule accepting it.
// Chains with jumps are left out from there on: what they do is not judged.
std::vector<FirewallBlock> firewallBlocks(const nlohmann::json& ruleset);

struct FirewallFacts {
    enum class State { NotChecked, Unreadable, Read };
    State state = State::NotChecked;  // NotChecked: no nft on this host
    bool needsRoot = false;           // Unreadable as a user without privileges
    std::vector<FirewallBlock> blocks;
};

// A box the search found.
struct FoundBox {
    std::string hostname;
    std::string serverUUID;  // 16 hex digits
    std::uint32_t from = 0;  // the address it answered from, host order; 0 when unknown
    std::uint32_t netmask = 0;  // of the port it answered on, as it says; 0 when unknown
    bool byAddress = false;  // found by a request sent to its address (--host)
    std::string interfaceAddress;  // the local address it answered on; empty when none of the table's
};

// Datagrams the search refused, of one kind.
struct DroppedKind {
    std::string why;  // as describe(ReplyCheck) says, or "from an address not asked"
    std::size_t count = 0;
    std::vector<std::uint32_t> senders;  // distinct, the first few
};

struct SearchFacts {
    bool ran = false;
    std::string whyNot;  // when it did not
    std::vector<FoundBox> boxes;
    std::vector<DroppedKind> dropped;
    // Datagrams the kernel dropped by reverse-path filtering while the
    // search ran; nothing when the count could not be read.
    std::optional<std::uint64_t> reversePathDrops;
};

struct DoctorFacts {
    // The search ran in the loopback lab: the host's own interfaces are not
    // where it looked.
    bool loopbackLab = false;
    // Each refused answer was listed as it came (--verbose).
    bool verbose = false;
    std::vector<InterfaceFacts> interfaces;
    // The host has a route beyond its own subnets (a default route).
    bool routeBeyond = true;
    std::vector<std::string> upWithoutIPv4;  // up, not loopback, no IPv4 address
    FirewallFacts firewall;
    SearchFacts search;
};

struct DoctorReport {
    std::vector<std::string> findings;  // one line each, in a stable order
    std::string summary;                // "N boxes answered." / "No box answered."
    int exitCode = 1;                   // 0 when a box answered
};
DoctorReport judge(const DoctorFacts& facts);

// ---- gathering --------------------------------------------------------

// The host's interfaces: their IPv4 addresses, what they are and their
// reverse-path filtering. Nothing, with the reason, when the list cannot be
// read.
std::optional<std::vector<InterfaceFacts>> gatherInterfaces(std::vector<std::string>& upWithoutIPv4,
                                                            std::string* why = nullptr);
// Whether this host routes addresses beyond its own subnets.
bool hasRouteBeyond();
// The nftables rule set, read with nft when it lets this user.
FirewallFacts gatherFirewall();
// The kernel's count of datagrams dropped by reverse-path filtering
// (IPReversePathFilter of /proc/net/netstat).
std::optional<std::uint64_t> reversePathFilterDrops();

// Runs one search of `lib` (its link open) and says what it found and what
// it refused; `detail`, when set, is told of each refused datagram in one
// line. Requests (another client's, or this one's own looped back) are no
// answers and are not counted.
SearchFacts searchOnce(DeviceLibrary& lib, const SearchTargets& targets,
                       const std::function<void(const std::string&)>& detail,
                       const SearchProgress& progress = {});

}  // namespace qs::cli
