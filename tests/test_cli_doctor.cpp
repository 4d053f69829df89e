// quayside doctor's judging, on facts made up for each fault: which lines it
// says, in which order, and its summary and exit code.
#include "doctor.h"

#include "quayside/address.h"

#include <gtest/gtest.h>

using namespace qs;
using namespace qs::cli;

namespace {

std::uint32_t ip(const char* text) { return *parseDottedIPv4(text); }

InterfaceFacts iface(const std::string& name, const char* address, InterfaceKind kind = InterfaceKind::Ordinary) {
    InterfaceFacts i;
    i.name = name;
    i.up = i.multicast = true;
    i.kind = kind;
    if (address) i.addresses.emplace_back(ip(address), ip("255.255.255.0"));
    return i;
}

InterfaceFacts loopback() {
    InterfaceFacts lo = iface("lo", "127.0.0.1", InterfaceKind::Loopback);
    lo.loopback = true;
    lo.addresses[0].second = ip("255.0.0.0");
    return lo;
}

FoundBox box(const char* name, const char* from, const char* on, bool byAddress = false) {
    return FoundBox{name, std::string("00000000000000") + name[0] + "1", ip(from), ip("255.255.255.0"), byAddress, on};
}

bool has(const DoctorReport& r, const std::string& text) {
    for (const auto& line : r.findings)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(DoctorJudge, EachFaultIsOneLineWithWhatToDoAndTheExitCodeSaysWhetherABoxAnswered) {
    // A healthy LAN with a box on it: one all-clear line.
    DoctorFacts healthy;
    healthy.interfaces = {loopback(), iface("eth0", "192.168.1.10")};
    healthy.firewall.state = FirewallFacts::State::Read;
    healthy.search.ran = true;
    healthy.search.boxes = {box("nas", "192.168.1.20", "192.168.1.10")};
    DoctorReport r = judge(healthy);
    EXPECT_EQ(r.findings, std::vector<std::string>{"Nothing stands between this computer and the boxes."});
    EXPECT_EQ(r.summary, "1 box answered.");
    EXPECT_EQ(r.exitCode, 0);

    // Nothing but loopback: one line, and no box.
    DoctorFacts bare;
    bare.interfaces = {loopback()};
    bare.upWithoutIPv4 = {"eth0"};
    bare.search.ran = true;
    r = judge(bare);
    ASSERT_EQ(r.findings.size(), 1u);
    EXPECT_NE(r.findings[0].find("No network interface is up with an IPv4 address (loopback aside) (eth0 is up "
                                 "without one)"),
              std::string::npos)
        << r.findings[0];
    EXPECT_EQ(r.summary, "No box answered.");
    EXPECT_EQ(r.exitCode, 1);

    // Every other fault at once, in their order: interfaces first (each in
    // the order listed), then the firewall, reverse-path filtering, dropped
    // answers and boxes on no subnet of this computer.
    DoctorFacts all = healthy;
    InterfaceFacts quiet = iface("eth1", "10.0.0.2");
    quiet.multicast = false;
    InterfaceFacts linkLocal = iface("eth2", "169.254.7.9");
    linkLocal.addresses[0].second = ip("255.255.0.0");
    all.interfaces = {loopback(), iface("eth0", "192.168.1.10"), quiet, linkLocal,
                      iface("tun0", "10.8.0.2", InterfaceKind::Tunnel), iface("docker0", "172.17.0.1", InterfaceKind::Container)};
    all.interfaces[1].rpFilter = 1;
    all.firewall.blocks = {FirewallBlock{"inet", "filter", "input", 7, false, false},
                           FirewallBlock{"ip", "fw", "output", 0, true, false}};
    all.search.reversePathDrops = 3;
    all.search.dropped = {DroppedKind{"not a reply (magic)", 2, {ip("192.168.1.30")}},
                          DroppedKind{"meant for another client", 1, {ip("192.168.1.31"), ip("192.168.1.32")}}};
    all.search.boxes = {box("nas", "192.168.1.20", "192.168.1.10"), box("lost", "10.63.0.20", "192.168.1.10"),
                        box("far", "10.99.0.5", "", true)};
    r = judge(all);
    const std::vector<std::string> starts{
        "eth1 (10.0.0.2) has multicast turned off, so the search does not use it: turn it on with 'sudo ip link set "
        "eth1 multicast on'.",
        "eth2 has only a link-local address (169.254.7.9): ",
        "tun0 (10.8.0.2) is a VPN tunnel: the search uses it, but boxes are rarely there: nothing to do if the boxes "
        "are on another interface; to leave it out, search with --interface 192.168.1.10.",
        "docker0 (172.17.0.1) is a container network: the search uses it, but boxes are rarely there",
        "The firewall drops UDP port 24680, the boxes' datagrams (rule 7 of chain input of table inet filter)",
        "The firewall drops what no rule accepts in chain output of table ip fw",
        "Reverse-path filtering dropped 3 datagrams while the search ran; it is strict on eth0, where answers from a "
        "box on another subnet are dropped unless this computer routes that subnet there: make it loose with 'sudo "
        "sysctl -w net.ipv4.conf.eth0.rp_filter=2'.",
        "3 answers were dropped: 2 not a reply (magic) from 192.168.1.30; 1 meant for another client from "
        "192.168.1.31, 192.168.1.32.",
        "lost (00000000000000l1) answers from 10.63.0.20, outside every subnet of this computer: the box is "
        "misconfigured. Reach it with --host 10.63.0.20 (quayside search --host 10.63.0.20) once this computer has "
        "an address in 10.63.0.0/24 too (sudo ip addr add ADDRESS/24 dev eth0, with an ADDRESS no other host uses), "
        "and give it an address in 192.168.1.0/24 on eth0 with quayside set-lan.",
    };
    ASSERT_EQ(r.findings.size(), starts.size()) << ::testing::PrintToString(r.findings);
    for (std::size_t i = 0; i < starts.size(); ++i)
        EXPECT_EQ(r.findings[i].rfind(starts[i], 0), 0u) << r.findings[i];
    EXPECT_EQ(r.summary, "3 boxes answered.");
    EXPECT_EQ(r.exitCode, 0);
    // With no route beyond its subnets, loose filtering would drop the
    // answers too.
    all.routeBeyond = false;
    EXPECT_TRUE(has(judge(all), "it is strict on eth0 and this computer has no route beyond its own subnets, so "
                                "answers from a box on another subnet are dropped: give this computer an address in "
                                "the box's subnet too, or turn the filtering off with 'sudo sysctl -w "
                                "net.ipv4.conf.all.rp_filter=0', 'sudo sysctl -w net.ipv4.conf.eth0.rp_filter=0'."));

    // Firewall rules that cannot be read, a search that could not run.
    DoctorFacts closed = healthy;
    closed.firewall = FirewallFacts{FirewallFacts::State::Unreadable, true, {}};
    closed.search = SearchFacts{false, "no sockets", {}, {}, std::nullopt};
    r = judge(closed);
    EXPECT_TRUE(has(r, "The firewall rules could not be read (needs root)"));
    EXPECT_TRUE(has(r, "The search could not run: no sockets."));
    EXPECT_EQ(r.exitCode, 1);

    // What an interface is, from what /sys says of it.
    EXPECT_EQ(interfaceKind("tun0", SysfsFacts{65534, true, false, false, ""}, false), InterfaceKind::Tunnel);
    EXPECT_EQ(interfaceKind("tap3", SysfsFacts{1, true, true, false, ""}, false), InterfaceKind::Tap);
    EXPECT_EQ(interfaceKind("vpn", SysfsFacts{65534, false, false, false, "wireguard"}, false), InterfaceKind::Tunnel);
    EXPECT_EQ(interfaceKind("docker0", SysfsFacts{1, false, false, true, "bridge"}, false), InterfaceKind::Container);
    EXPECT_EQ(interfaceKind("virbr0", SysfsFacts{1, false, false, true, "bridge"}, false), InterfaceKind::VirtualMachine);
    EXPECT_EQ(interfaceKind("lan", SysfsFacts{1, false, false, true, "bridge"}, false), InterfaceKind::Bridge);
    EXPECT_EQ(interfaceKind("ppp0", SysfsFacts{512, false, false, false, ""}, false), InterfaceKind::PointToPoint);
    EXPECT_EQ(interfaceKind("eth0", SysfsFacts{1, false, false, false, ""}, false), InterfaceKind::Ordinary);
    EXPECT_EQ(interfaceKind("eth0.7", SysfsFacts{1, false, false, false, "vlan"}, false), InterfaceKind::Ordinary);
}

TEST(DoctorJudge, FirewallRulesAgainstTheBoxesPortAreFoundAndOthersAreNot) {
    const auto rule = [](const char* chain, int handle, nlohmann::json expr) {
        return nlohmann::json{{"rule", {{"family", "inet"}, {"table", "t"}, {"chain", chain}, {"handle", handle},
                                        {"expr", expr}}}};
    };
    const auto chain = [](const char* name, const char* hook, const char* policy) {
        return nlohmann::json{{"chain", {{"family", "inet"}, {"table", "t"}, {"name", name}, {"type", "filter"},
                                         {"hook", hook}, {"policy", policy}}}};
    };
    const auto port = [](const char* field, nlohmann::json right) {
        return nlohmann::json{{"match", {{"op", "=="}, {"left", {{"payload", {{"protocol", "udp"}, {"field", field}}}}},
                                         {"right", right}}}};
    };
    const nlohmann::json udp = {{"match", {{"op", "=="}, {"left", {{"meta", {{"key", "l4proto"}}}}}, {"right", "udp"}}}};
    const nlohmann::json saddr = {{"match", {{"op", "=="}, {"left", {{"payload", {{"protocol", "ip"}, {"field", "saddr"}}}}},
                                             {"right", "10.0.0.9"}}}};
    const nlohmann::json drop = {{"drop", nullptr}}, accept = {{"accept", nullptr}}, counter = {{"counter", {}}};
    const nlohmann::json ruleset = {{"nftables", {
        chain("in", "input", "accept"),
        rule("in", 2, {port("dport", 53), drop}),                                  // another port
        rule("in", 3, {saddr, port("dport", 24680), drop}),                         // one sender only: not judged
        rule("in", 4, {port("sport", {{"set", {80, 24680}}}), counter, drop}),      // found
        chain("out", "output", "drop"),
        rule("out", 5, {udp, {{"reject", nullptr}}}),                               // found: all UDP
        chain("guarded", "input", "drop"),
        rule("guarded", 6, {port("dport", {{"range", {24000, 25000}}}), accept}),
        rule("guarded", 7, {udp, drop}),                                             // after the accept: passes
        chain("jumpy", "input", "drop"),
        rule("jumpy", 8, {{{"jump", {{"target", "elsewhere"}}}}}),
        rule("jumpy", 9, {udp, drop}),                                               // after a jump: not judged
        chain("fwd", "forward", "drop"),                                             // not this host's traffic
    }}};
    const auto blocks = firewallBlocks(ruleset);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].chain, "in");
    EXPECT_EQ(blocks[0].handle, 4);
    EXPECT_FALSE(blocks[0].allUdp);
    EXPECT_EQ(blocks[1].handle, 5);
    EXPECT_TRUE(blocks[1].allUdp && blocks[1].reject);
    EXPECT_EQ(blocks[2].chain, "out");  // the policy: nothing accepts the port
    EXPECT_EQ(blocks[2].handle, 0);
    EXPECT_TRUE(firewallBlocks(nlohmann::json::parse(R"({"nftables": [{"metainfo": {}}]})")).empty());
    // Members of another type than nft gives them (found by the fuzzer)
    // are passed over, never thrown on.
    const auto odd = nlohmann::json::parse(R"({"nftables": [
        {"chain": {"family": ["inet"], "table": "t", "name": "in", "hook": "input", "policy": 7}},
        {"chain": {"family": "inet", "table": "t", "name": "in2", "hook": "input", "type": {}}},
        {"rule": {"family": "inet", "table": 1, "chain": "in", "handle": "x",
                  "expr": [{"match": {"op": [], "left": {"payload": {"protocol": "udp", "field": 3}}, "right": 24680}},
                           {"drop": null}]}}]})");
    std::vector<FirewallBlock> none;
    EXPECT_NO_THROW(none = firewallBlocks(odd));
    EXPECT_TRUE(none.empty());
}
