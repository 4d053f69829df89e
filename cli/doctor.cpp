#include "doctor.h"

#include "quayside/address.h"
#include "quayside/neighbours.h"
#include "quayside/socket_transport.h"
#include "quayside/wire.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <net/if.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qs::cli {

namespace {

constexpr std::uint32_t kLinkLocalNet = 0xA9FE0000;  // 169.254.0.0/16
constexpr std::uint32_t kLinkLocalMask = 0xFFFF0000;
constexpr std::int64_t kPort = kDevicePort;

bool startsWith(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int prefixLength(std::uint32_t mask) {
    int n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)) != 0) ++n;
    return n;
}

std::string subnetText(std::uint32_t address, std::uint32_t mask) {
    return formatDottedIPv4(address & mask) + "/" + std::to_string(prefixLength(mask));
}

std::string addressList(const InterfaceFacts& i) {
    std::string out;
    for (const auto& [a, m] : i.addresses) out += (out.empty() ? "" : ", ") + formatDottedIPv4(a);
    return out;
}

// The phrase for an interface the boxes rarely sit behind; empty for the
// others.
std::string kindPhrase(InterfaceKind k) {
    switch (k) {
        case InterfaceKind::Tunnel: return "a VPN tunnel";
        case InterfaceKind::PointToPoint: return "a point-to-point link (a VPN or a modem)";
        case InterfaceKind::Tap: return "a virtual network device (tap) of a VPN or a virtual machine";
        case InterfaceKind::Bridge: return "a bridge";
        case InterfaceKind::Container: return "a container network";
        case InterfaceKind::VirtualMachine: return "a virtual machine network";
        case InterfaceKind::Ordinary:
        case InterfaceKind::Loopback: break;
    }
    return {};
}

std::string join(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

bool usable(const InterfaceFacts& i) { return i.up && i.multicast && !i.loopback && !i.addresses.empty(); }

std::string firewallPlace(const FirewallBlock& b) {
    return "chain " + b.chain + " of table " + b.family + " " + b.table;
}

}  // namespace

InterfaceKind interfaceKind(const std::string& name, const SysfsFacts& s, bool loopback) {
    if (loopback || s.type == 772) return InterfaceKind::Loopback;
    if (s.devtype == "wireguard" || startsWith(name, "wg")) return InterfaceKind::Tunnel;
    if (s.tun) return s.tap ? InterfaceKind::Tap : InterfaceKind::Tunnel;
    // ARPHRD_NONE, IPIP, SIT, IPGRE, TUNNEL6, IP6GRE
    for (const int t : {65534, 768, 776, 778, 769, 823})
        if (s.type == t) return InterfaceKind::Tunnel;
    if (s.type == 512) return InterfaceKind::PointToPoint;  // ARPHRD_PPP
    for (const char* p : {"docker", "br-", "veth", "cni", "flannel", "cali", "podman", "lxcbr", "lxdbr", "weave",
                          "kube", "cilium", "vxlan.calico"})
        if (startsWith(name, p)) return InterfaceKind::Container;
    for (const char* p : {"virbr", "vboxnet", "vmnet"})
        if (startsWith(name, p)) return InterfaceKind::VirtualMachine;
    if (s.bridge || s.devtype == "bridge") return InterfaceKind::Bridge;
    return InterfaceKind::Ordinary;
}

// ---- firewall ---------------------------------------------------------

namespace {

// A member's text, or the fallback when it is absent or no text (the rule
// set is read whatever shape it has).
std::string textAt(const nlohmann::json& o, const char* key, const std::string& fallback = {}) {
    const auto it = o.find(key);
    return it != o.end() && it->is_string() ? it->get<std::string>() : fallback;
}

// What one expression of a rule is to the boxes' datagrams.
enum class Term { Ignored, Port, NotPort, Udp, Other, Drop, Reject, Accept, Jump };

bool coversPort(const nlohmann::json& right) {
    if (right.is_number_integer()) return right.get<std::int64_t>() == kPort;
    if (right.is_object() && right.contains("set") && right["set"].is_array()) {
        for (const auto& e : right["set"])
            if (coversPort(e)) return true;
        return false;
    }
    if (right.is_object() && right.contains("range") && right["range"].is_array() && right["range"].size() == 2 &&
        right["range"][0].is_number_integer() && right["range"][1].is_number_integer())
        return right["range"][0].get<std::int64_t>() <= kPort && kPort <= right["range"][1].get<std::int64_t>();
    return false;
}

Term matchTerm(const nlohmann::json& m) {
    if (!m.is_object() || !m.contains("left") || !m.contains("right")) return Term::Other;
    const std::string op = textAt(m, "op", "==");
    if (op != "==" && op != "in") return Term::Other;
    const auto& left = m["left"];
    const auto& right = m["right"];
    if (left.is_object() && left.contains("payload") && left["payload"].is_object()) {
        const auto& p = left["payload"];
        const std::string protocol = textAt(p, "protocol"), field = textAt(p, "field");
        if ((protocol == "udp" || protocol == "th") && (field == "dport" || field == "sport"))
            return coversPort(right) ? Term::Port : Term::NotPort;
        if (protocol == "ip" && field == "protocol" && right == "udp") return Term::Udp;
    }
    if (left.is_object() && left.contains("meta") && left["meta"].is_object() &&
        textAt(left["meta"], "key") == "l4proto" && right == "udp")
        return Term::Udp;
    return Term::Other;
}

Term exprTerm(const nlohmann::json& e) {
    if (!e.is_object() || e.size() != 1) return Term::Other;
    const std::string key = e.begin().key();
    if (key == "match") return matchTerm(e.begin().value());
    if (key == "counter" || key == "log" || key == "comment") return Term::Ignored;
    if (key == "drop") return Term::Drop;
    if (key == "reject") return Term::Reject;
    if (key == "accept") return Term::Accept;
    if (key == "jump" || key == "goto") return Term::Jump;
    return Term::Other;
}

struct RuleView {
    bool port = false, udp = false, notPort = false, other = false;
    Term verdict = Term::Ignored;
};

RuleView readRule(const nlohmann::json& rule) {
    RuleView v;
    if (!rule.contains("expr") || !rule["expr"].is_array()) {
        v.other = true;
        return v;
    }
    for (const auto& e : rule["expr"]) {
        switch (const Term t = exprTerm(e)) {
            case Term::Port: v.port = true; break;
            case Term::NotPort: v.notPort = true; break;
            case Term::Udp: v.udp = true; break;
            case Term::Other: v.other = true; break;
            case Term::Ignored: break;
            default: v.verdict = t; break;
        }
    }
    return v;
}

std::int64_t handleOf(const nlohmann::json& rule) {
    const auto it = rule.find("handle");
    return it != rule.end() && it->is_number_integer() ? it->get<std::int64_t>() : 0;
}

}  // namespace

std::vector<FirewallBlock> firewallBlocks(const nlohmann::json& ruleset) {
    std::vector<FirewallBlock> out;
    if (!ruleset.is_object() || !ruleset.contains("nftables") || !ruleset["nftables"].is_array()) return out;
    struct Chain {
        std::string family, table, name;
        bool dropPolicy = false;
        bool judged = true;     // no jump seen yet
        bool accepted = false;  // a rule accepts the boxes' datagrams
    };
    std::vector<Chain> chains;
    const auto find = [&](const nlohmann::json& o) -> Chain* {
        for (auto& c : chains)
            if (c.family == textAt(o, "family") && c.table == textAt(o, "table") &&
                c.name == textAt(o, "chain", textAt(o, "name")))
                return &c;
        return nullptr;
    };
    for (const auto& item : ruleset["nftables"]) {
        if (!item.is_object()) continue;
        if (item.contains("chain") && item["chain"].is_object()) {
            const auto& c = item["chain"];
            const std::string family = textAt(c, "family"), hook = textAt(c, "hook");
            if ((family != "ip" && family != "inet") || (hook != "input" && hook != "output")) continue;
            if (textAt(c, "type", "filter") != "filter") continue;
            chains.push_back(Chain{family, textAt(c, "table"), textAt(c, "name"), textAt(c, "policy") == "drop"});
        } else if (item.contains("rule") && item["rule"].is_object()) {
            const auto& r = item["rule"];
            Chain* chain = find(r);
            if (!chain || !chain->judged || chain->accepted) continue;
            const RuleView v = readRule(r);
            if (v.verdict == Term::Jump) {
                chain->judged = false;
                continue;
            }
            const bool ours = (v.port || v.udp) && !v.notPort;
            if (v.verdict == Term::Accept && ours) chain->accepted = true;
            if ((v.verdict == Term::Drop || v.verdict == Term::Reject) && ours && !v.other)
                out.push_back(FirewallBlock{chain->family, chain->table, chain->name, handleOf(r),
                                            !v.port, v.verdict == Term::Reject});
        }
    }
    for (const auto& c : chains)
        if (c.dropPolicy && c.judged && !c.accepted) out.push_back(FirewallBlock{c.family, c.table, c.name, 0, true, false});
    return out;
}

// ---- judging ----------------------------------------------------------

DoctorReport judge(const DoctorFacts& facts) {
    DoctorReport report;
    auto& lines = report.findings;
    const auto& ifs = facts.interfaces;

    // Where the search can go at all.
    const bool anyAddress = std::any_of(ifs.begin(), ifs.end(), [](const InterfaceFacts& i) {
        return i.up && !i.loopback && !i.addresses.empty();
    });
    if (!anyAddress && !facts.loopbackLab) {
        std::string without;
        for (const auto& n : facts.upWithoutIPv4) without += (without.empty() ? "" : ", ") + n;
        lines.push_back("No network interface is up with an IPv4 address (loopback aside)" +
                        (without.empty() ? std::string() : " (" + without + (facts.upWithoutIPv4.size() == 1 ? " is" : " are") + " up without one)") +
                        ", so the search has nowhere to go: connect this computer to the boxes' LAN (cable or "
                        "Wi-Fi) and check that it gets an address (ip -4 addr).");
    }
    // The ordinary interfaces the search uses: the ones to name when
    // suggesting --interface.
    std::vector<std::string> lanAddresses;
    for (const auto& i : ifs)
        if (usable(i) && i.kind == InterfaceKind::Ordinary)
            for (const auto& [a, m] : i.addresses)
                if ((a & kLinkLocalMask) != kLinkLocalNet) lanAddresses.push_back(formatDottedIPv4(a));
    for (const auto& i : ifs) {
        if (i.loopback || !i.up || i.addresses.empty()) continue;
        const bool virtualKind = i.kind != InterfaceKind::Ordinary;
        if (!i.multicast && !virtualKind)
            lines.push_back(i.name + " (" + addressList(i) + ") has multicast turned off, so the search does not "
                            "use it: turn it on with 'sudo ip link set " + i.name + " multicast on'.");
        const bool linkLocalOnly = std::all_of(i.addresses.begin(), i.addresses.end(), [](const auto& a) {
            return (a.first & kLinkLocalMask) == kLinkLocalNet;
        });
        if (linkLocalOnly && !virtualKind)
            lines.push_back(i.name + " has only a link-local address (" + addressList(i) + "): no DHCP server gave "
                            "it one, and boxes with an ordinary address cannot be reached from it: check its cable "
                            "and the LAN's DHCP server, or give it a static address in the boxes' subnet (sudo ip "
                            "addr add ADDRESS/PREFIX dev " + i.name + ").");
        if (virtualKind && i.multicast) {
            std::string todo = lanAddresses.empty()
                                   ? "connect this computer to the boxes' LAN"
                                   : "nothing to do if the boxes are on another interface; to leave it out, search "
                                     "with --interface " + lanAddresses.front();
            lines.push_back(i.name + " (" + addressList(i) + ") is " + kindPhrase(i.kind) +
                            ": the search uses it, but boxes are rarely there: " + todo + ".");
        }
    }

    // The firewall.
    const auto& fw = facts.firewall;
    if (fw.state == FirewallFacts::State::Unreadable)
        lines.push_back(std::string("The firewall rules could not be read") +
                        (fw.needsRoot ? " (needs root): run 'sudo quayside doctor' to check them too."
                                      : " (nft -j list ruleset failed)."));
    for (const auto& b : fw.blocks) {
        const std::string allow = "sudo nft insert rule " + b.family + " " + b.table + " " + b.chain +
                                  " udp dport " + std::to_string(kDevicePort) + " accept";
        if (b.handle == 0)
            lines.push_back("The firewall drops what no rule accepts in " + firewallPlace(b) +
                            ", and no rule there accepts UDP port " + std::to_string(kDevicePort) +
                            " (the boxes' port): accept it, e.g. '" + allow + "' (and the same with sport for input).");
        else
            lines.push_back(std::string("The firewall ") + (b.reject ? "rejects " : "drops ") +
                            (b.allUdp ? "all UDP" : "UDP port " + std::to_string(kDevicePort)) +
                            ", the boxes' datagrams (rule " + std::to_string(b.handle) + " of " + firewallPlace(b) +
                            "): remove that rule or accept the port before it, e.g. '" + allow +
                            "' (and the same with sport for input).");
    }

    // Reverse-path filtering.
    const auto& search = facts.search;
    if (search.reversePathDrops && *search.reversePathDrops > 0) {
        std::vector<std::string> strict;
        for (const auto& i : ifs)
            if (usable(i) && i.rpFilter == 1) strict.push_back(i.name);
        std::string line = "Reverse-path filtering dropped " +
                           plural(*search.reversePathDrops, "datagram", "datagrams") + " while the search ran";
        if (!strict.empty() && !facts.routeBeyond) {
            std::string commands = "'sudo sysctl -w net.ipv4.conf.all.rp_filter=0'";
            for (const auto& n : strict) commands += ", 'sudo sysctl -w net.ipv4.conf." + n + ".rp_filter=0'";
            line += "; it is strict on " + join(strict) + " and this computer has no route beyond its own subnets, "
                    "so answers from a box on another subnet are dropped: give this computer an address in the "
                    "box's subnet too, or turn the filtering off with " + commands + ".";
        } else if (!strict.empty()) {
            std::string commands;
            for (const auto& n : strict) {
                commands += (commands.empty() ? "'" : ", '") + std::string("sudo sysctl -w net.ipv4.conf.") + n +
                            ".rp_filter=2'";
            }
            line += "; it is strict on " + join(strict) + ", where answers from a box on another subnet are dropped "
                    "unless this computer routes that subnet there: make it loose with " + commands + ".";
        } else {
            line += ": answers from an address this computer has no route to are dropped (a box on another "
                    "subnet): add a route to the box's subnet, or give the box an address on this one.";
        }
        lines.push_back(line);
    }

    // Answers that failed the checks.
    std::size_t droppedTotal = 0;
    for (const auto& d : search.dropped) droppedTotal += d.count;
    if (droppedTotal > 0) {
        std::string kinds;
        for (const auto& d : search.dropped) {
            std::string senders;
            for (const auto s : d.senders) senders += (senders.empty() ? "" : ", ") + formatDottedIPv4(s);
            kinds += (kinds.empty() ? "" : "; ") + std::to_string(d.count) + " " + d.why +
                     (senders.empty() ? "" : " from " + senders);
        }
        lines.push_back(plural(droppedTotal, "answer was", "answers were") + " dropped: " + kinds +
                        ". They come from a box that is out of order (restart it, or update its firmware) or from "
                        "another host sending to port " + std::to_string(kDevicePort) +
                        (facts.verbose ? "." : "; 'quayside doctor --verbose' lists each one."));
    }

    // Boxes that answer from outside every subnet of this computer.
    std::set<std::string> boxIds;
    for (const auto& box : search.boxes) {
        boxIds.insert(box.serverUUID);
        if (box.byAddress || box.from == 0) continue;
        bool inside = false;
        std::string local, device;  // the subnet and interface it answered on
        for (const auto& i : ifs)
            for (const auto& [a, m] : i.addresses) {
                if (m != 0 && (a & m) == (box.from & m)) inside = true;
                if (formatDottedIPv4(a) == box.interfaceAddress) {
                    local = subnetText(a, m) + " on " + i.name;
                    device = i.name;
                }
            }
        if (inside) continue;
        // Its answers to a request sent to its address come back only when
        // it has a route to this computer: on its own subnet.
        const std::string from = formatDottedIPv4(box.from);
        const std::string its = box.netmask != 0 ? subnetText(box.from, box.netmask) : std::string();
        const std::string join =
            "sudo ip addr add ADDRESS" + (box.netmask != 0 ? "/" + std::to_string(prefixLength(box.netmask)) : "") +
            " dev " + (device.empty() ? std::string("INTERFACE") : device) + ", with an ADDRESS no other host uses";
        lines.push_back(box.hostname + " (" + box.serverUUID + ") answers from " + from +
                        ", outside every subnet of this computer: the box is misconfigured. Reach it with --host " +
                        from + " (quayside search --host " + from + ") once this computer has an address in " +
                        (its.empty() ? "its subnet" : its) + " too (" + join + "), and give it an address" +
                        (local.empty() ? "" : " in " + local) + " with quayside set-lan.");
    }

    if (!search.ran) lines.push_back("The search could not run: " + search.whyNot + ".");

    if (boxIds.empty())
        report.summary = "No box answered.";
    else
        report.summary = plural(boxIds.size(), "box", "boxes") + " answered.";
    if (lines.empty())
        lines.push_back(boxIds.empty() ? "Nothing on this computer stands in the search's way: the boxes may be "
                                         "switched off, on another LAN, or beyond a router (search them there with "
                                         "--host ADDRESS)."
                                       : "Nothing stands between this computer and the boxes.");
    report.exitCode = boxIds.empty() ? 1 : 0;
    return report;
}

// ---- gathering --------------------------------------------------------

namespace {

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::optional<long> readNumber(const std::string& path, int base = 10) {
    const auto text = readFile(path);
    if (!text) return std::nullopt;
    try {
        return std::stol(*text, nullptr, base);
    } catch (...) {
        return std::nullopt;
    }
}

SysfsFacts readSysfs(const std::string& name) {
    SysfsFacts s;
    const std::string dir = "/sys/class/net/" + name + "/";
    s.type = static_cast<int>(readNumber(dir + "type").value_or(1));
    if (const auto flags = readNumber(dir + "tun_flags", 16)) {
        s.tun = true;
        s.tap = (*flags & 0x0002) != 0;  // IFF_TAP
    }
    struct stat st{};
    s.bridge = ::stat((dir + "bridge").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (const auto uevent = readFile(dir + "uevent")) {
        std::istringstream lines(*uevent);
        std::string line;
        while (std::getline(lines, line))
            if (startsWith(line, "DEVTYPE=")) s.devtype = line.substr(8);
    }
    return s;
}

int rpFilterOf(const std::string& name) {
    const long all = readNumber("/proc/sys/net/ipv4/conf/all/rp_filter").value_or(0);
    const long own = readNumber("/proc/sys/net/ipv4/conf/" + name + "/rp_filter").value_or(0);
    return static_cast<int>(std::max(all, own));
}

}  // namespace

std::optional<std::vector<InterfaceFacts>> gatherInterfaces(std::vector<std::string>& upWithoutIPv4,
                                                            std::string* why) {
    const auto addresses = hostAddresses(why);
    if (!addresses) return std::nullopt;
    std::vector<InterfaceFacts> out;
    for (const HostAddress& h : *addresses) {
        auto it = std::find_if(out.begin(), out.end(), [&](const InterfaceFacts& i) { return i.name == h.where.name; });
        if (it == out.end()) {
            InterfaceFacts i;
            i.name = h.where.name;
            i.up = h.up;
            i.multicast = h.multicast;
            i.loopback = h.loopback;
            i.kind = interfaceKind(i.name, readSysfs(i.name), i.loopback);
            i.rpFilter = rpFilterOf(i.name);
            out.push_back(std::move(i));
            it = out.end() - 1;
        }
        const auto address = parseDottedIPv4(h.where.address);
        if (address) it->addresses.emplace_back(*address, h.netmask);
    }
    upWithoutIPv4.clear();
    if (struct if_nameindex* names = ::if_nameindex()) {
        for (struct if_nameindex* n = names; n->if_index != 0 && n->if_name; ++n) {
            const std::string name = n->if_name;
            if (std::any_of(out.begin(), out.end(), [&](const InterfaceFacts& i) { return i.name == name; })) continue;
            const long flags = readNumber("/sys/class/net/" + name + "/flags", 16).value_or(0);
            if ((flags & IFF_UP) != 0 && (flags & IFF_LOOPBACK) == 0) upWithoutIPv4.push_back(name);
        }
        ::if_freenameindex(names);
    }
    return out;
}

bool hasRouteBeyond() {
    // An address of the documentation range (TEST-NET-3, 203.0.113.0/24)
    // stands for any address beyond the host's subnets.
    const auto route = localRouteTo(0xCB007101);
    return route && !route->onLink(0xCB007101);
}

namespace {

// The nft program where the distributions put it (a user's PATH often
// lacks the sbin folders).
std::string findNft() {
    for (const char* path : {"/usr/sbin/nft", "/sbin/nft", "/usr/bin/nft", "/bin/nft"})
        if (::access(path, X_OK) == 0) return path;
    return {};
}

constexpr std::size_t kNftOutputLimit = 32 * 1024 * 1024;
constexpr auto kNftTimeLimit = std::chrono::seconds(5);

// Runs `nft -j list ruleset` without a shell: its output when it ends with
// status 0 within the time limit.
std::optional<std::string> listRuleset(const std::string& nft) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args{nft, "-j", "list", "ruleset"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, nft.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return std::nullopt;
    }
    std::string text;
    bool overrun = false;
    const auto deadline = std::chrono::steady_clock::now() + kNftTimeLimit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            overrun = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[65536];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kNftOutputLimit) {
            overrun = true;
            break;
        }
    }
    ::close(out[0]);
    if (overrun) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (overrun || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
}

}  // namespace

FirewallFacts gatherFirewall() {
    FirewallFacts f;
    const std::string nft = findNft();
    if (nft.empty()) return f;
    const auto text = listRuleset(nft);
    const auto ruleset = text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json();
    if (!text || ruleset.is_discarded()) {
        f.state = FirewallFacts::State::Unreadable;
        f.needsRoot = ::geteuid() != 0;
        return f;
    }
    f.state = FirewallFacts::State::Read;
    f.blocks = firewallBlocks(ruleset);
    return f;
}

std::optional<std::uint64_t> reversePathFilterDrops() {
    const auto text = readFile("/proc/net/netstat");
    if (!text) return std::nullopt;
    // Pairs of lines: "TcpExt: Name ..." then "TcpExt: value ...".
    std::istringstream lines(*text);
    std::string names, values;
    while (std::getline(lines, names) && std::getline(lines, values)) {
        std::istringstream n(names), v(values);
        std::string name, value;
        n >> name;
        v >> value;
        while (n >> name && v >> value)
            if (name == "IPReversePathFilter") {
                try {
                    return std::stoull(value);
                } catch (...) {
                    return std::nullopt;
                }
            }
    }
    return std::nullopt;
}

SearchFacts searchOnce(DeviceLibrary& lib, const SearchTargets& targets, const std::function<void(const std::string&)>& detail,
                       const SearchProgress& progress) {
    SearchFacts facts;
    constexpr std::size_t kSendersShown = 4;
    std::map<std::string, std::size_t> kindIndex;
    const Uuid8 self = lib.clientUUID();
    BlockingLink* link = lib.link();
    lib.onRefused = [&](ReplyCheck check, ByteView datagram, const BlockingLink::Arrival& a) {
        const auto h = readHeader(datagram);
        // A request, not an answer: another client's, or this one's own.
        if (h && h->magic == kRequestMagic && (h->clientUUID != self || datagram.size() == kHeaderSize)) return;
        const std::string why = check == ReplyCheck::Accepted ? "from an address not asked" : describe(check);
        auto [it, fresh] = kindIndex.emplace(why, facts.dropped.size());
        if (fresh) facts.dropped.push_back(DroppedKind{why, 0, {}});
        DroppedKind& kind = facts.dropped[it->second];
        ++kind.count;
        if (a.from != 0 && kind.senders.size() < kSendersShown &&
            std::find(kind.senders.begin(), kind.senders.end(), a.from) == kind.senders.end())
            kind.senders.push_back(a.from);
        if (detail) {
            std::string where = a.iface >= 0 && link ? " on " + link->interfaceAddress(a.iface) : std::string();
            detail("dropped " + std::to_string(datagram.size()) + " bytes" +
                   (a.from != 0 ? " from " + formatDottedIPv4(a.from) : std::string()) + where + ": " + why);
        }
    };
    const auto before = reversePathFilterDrops();
    facts.ran = lib.SearchDevices(targets, progress);
    const auto after = reversePathFilterDrops();
    lib.onRefused = nullptr;
    if (!facts.ran) facts.whyNot = "no sockets are open";
    if (before && after) facts.reversePathDrops = *after >= *before ? *after - *before : 0;
    for (std::size_t i = 0; i < lib.devices.count(); ++i) {
        const DeviceData_n& d = lib.devices.at(i);
        FoundBox box;
        box.hostname = d.hostname.str();
        box.serverUUID = toHex(d.serverUUID);
        box.from = hostOrderOf(d.answeredFrom);
        box.netmask = hostOrderOf(d.port[static_cast<std::size_t>(d.answeringPort())].netmask.address());
        box.byAddress = d.byAddress;
        if (d.localIfIndex >= 0 && link && d.localIfIndex < link->interfaceCount())
            box.interfaceAddress = link->interfaceAddress(d.localIfIndex);
        facts.boxes.push_back(std::move(box));
    }
    return facts;
}

}  // namespace qs::cli
