#include "support/netns.h"

#include "support/process.h"

#include "quayside/address.h"
#include "quayside/wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qs::test {

namespace {
RunResult ip(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, {}, std::chrono::seconds(10));
}
int counter = 0;

// Runs `ip ARGS`; false with its error text in `error` when it fails.
bool ipStep(const std::vector<std::string>& args, std::string* error) {
    const RunResult r = ip(args);
    if (r.exitCode == 0) return true;
    if (error) {
        *error = "ip";
        for (const auto& a : args) *error += " " + a;
        *error += " failed: " + r.err;
    }
    return false;
}

// The nft program, looked for where Debian puts it even when PATH lacks
// the sbin folders.
std::string findNft() {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string dir = path.substr(start, end - start);
        if (!dir.empty() && ::access((dir + "/nft").c_str(), X_OK) == 0) return dir + "/nft";
        start = end + 1;
    }
    return {};
}

constexpr const char* kLossTable = "quayside_loss";
}  // namespace

bool Netns::available(std::string* why) {
    if (::geteuid() != 0) {
        *why = "network namespace tests need root (CI runs them); skipped";
        return false;
    }
    const RunResult probe = run({"ip", "netns", "list"}, {}, std::chrono::seconds(5));
    if (probe.exitCode != 0) {
        *why = "'ip netns' is not usable here: " + probe.err;
        return false;
    }
    return true;
}

Netns::Netns(const std::string& role) {
    name_ = "qs" + std::to_string(::getpid()) + role;
    ip({"netns", "del", name_});  // left over from a crashed run
    ok_ = ip({"netns", "add", name_}).exitCode == 0 && ip({"-n", name_, "link", "set", "lo", "up"}).exitCode == 0;
}

Netns::~Netns() {
    if (ok_) ip({"netns", "del", name_});
}

std::vector<std::string> Netns::exec(const std::vector<std::string>& argv) const {
    std::vector<std::string> out{"ip", "netns", "exec", name_};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

bool veth(const Netns& a, const std::string& aCidr, const Netns& b, const std::string& bCidr, std::string* error,
          std::string* aDevice, std::string* bDevice) {
    const std::string tag = std::to_string(::getpid() % 100000) + "x" + std::to_string(counter++);
    const std::string ea = "qa" + tag, eb = "qb" + tag;  // at most 15 characters
    const std::vector<std::vector<std::string>> steps = {
        {"link", "add", ea, "netns", a.name(), "type", "veth", "peer", "name", eb, "netns", b.name()},
        {"-n", a.name(), "addr", "add", aCidr, "dev", ea},
        {"-n", b.name(), "addr", "add", bCidr, "dev", eb},
        {"-n", a.name(), "link", "set", ea, "up"},
        {"-n", b.name(), "link", "set", eb, "up"},
    };
    for (const auto& s : steps)
        if (!ipStep(s, error)) return false;
    if (aDevice) *aDevice = ea;
    if (bDevice) *bDevice = eb;
    return true;
}

bool segment(const Netns& hub, const std::vector<std::pair<const Netns*, std::string>>& hosts, std::string* error,
             std::vector<std::string>* devices) {
    if (!ipStep({"-n", hub.name(), "link", "add", "br0", "type", "bridge"}, error) ||
        !ipStep({"-n", hub.name(), "link", "set", "br0", "up"}, error))
        return false;
    for (const auto& [host, cidr] : hosts) {
        const std::string tag = std::to_string(::getpid() % 100000) + "x" + std::to_string(counter++);
        const std::string eh = "qh" + tag, es = "qs" + tag;  // at most 15 characters
        const std::vector<std::vector<std::string>> steps = {
            {"link", "add", eh, "netns", host->name(), "type", "veth", "peer", "name", es, "netns", hub.name()},
            {"-n", hub.name(), "link", "set", es, "master", "br0"},
            {"-n", hub.name(), "link", "set", es, "up"},
            {"-n", host->name(), "addr", "add", cidr, "dev", eh},
            {"-n", host->name(), "link", "set", eh, "up"},
        };
        for (const auto& step : steps)
            if (!ipStep(step, error)) return false;
        if (devices) devices->push_back(eh);
    }
    return true;
}

bool addAddress(const Netns& ns, const std::string& cidr, const std::string& device, std::string* error) {
    return ipStep({"-n", ns.name(), "addr", "add", cidr, "dev", device}, error);
}

bool route(const Netns& ns, const std::vector<std::string>& routeArgs, std::string* error) {
    std::vector<std::string> args{"-n", ns.name(), "route", "add"};
    args.insert(args.end(), routeArgs.begin(), routeArgs.end());
    return ipStep(args, error);
}

bool enableForwarding(const Netns& router, std::string* error) {
    const RunResult r = run(router.exec({"sysctl", "-q", "-w", "net.ipv4.ip_forward=1"}), {}, std::chrono::seconds(10));
    if (r.exitCode == 0) return true;
    if (error) *error = "sysctl net.ipv4.ip_forward=1 in " + router.name() + " failed: " + r.err;
    return false;
}

bool dropAtRandom(const Netns& ns, int percent, std::string* error, LossOf which) {
    if (percent < 0 || percent > 100) {
        if (error) *error = "dropAtRandom: percent must be from 0 to 100, not " + std::to_string(percent);
        return false;
    }
    const std::string nft = findNft();
    if (nft.empty()) {
        if (error) *error = "nft not found: install the nftables package to make a namespace lose datagrams";
        return false;
    }
    // The table is made (if missing) and deleted first, so a second call
    // replaces the first; the whole text is one transaction.
    const std::string table = std::string("inet ") + kLossTable;
    std::string rules = "table " + table + "\ndelete table " + table + "\n";
    if (percent > 0) {
        const std::string draw = " numgen random mod 100 < " + std::to_string(percent) + " counter drop\n";
        std::string rule = "    udp dport 24680" + draw;
        if (which == LossOf::DevicePortEitherEnd) rule += "    udp sport 24680 udp dport != 24680" + draw;
        rules += "table " + table + " {\n"
                 "  chain output {\n    type filter hook output priority 0; policy accept;\n" + rule + "  }\n"
                 "  chain input {\n    type filter hook input priority 0; policy accept;\n" + rule + "  }\n"
                 "}\n";
    }
    const RunResult r = run(ns.exec({nft, "-f", "-"}), rules, std::chrono::seconds(10));
    if (r.exitCode == 0) return true;
    if (error) *error = "nft in " + ns.name() + " failed: " + r.err;
    return false;
}

int openGroupListener(const Netns& ns, const std::string& device, std::string* error) {
    int fd = -1;
    std::string why;
    const bool entered = runIn(
        ns,
        [&] {
            fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                why = std::string("socket: ") + std::strerror(errno);
                return;
            }
            const int one = 1, room = 8 * 1024 * 1024;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room);
            ip_mreqn on{};
            on.imr_ifindex = static_cast<int>(::if_nametoindex(device.c_str()));
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_port = htons(kDevicePort);
            bool ok = ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &on, sizeof on) == 0 &&
                      ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
            for (const char* group : {kBlockingGroup, kRunLoopGroup}) {
                ip_mreqn m = on;
                m.imr_multiaddr = inAddrOf(Ipv4::parse(group).value_or(Ipv4{}));
                ok = ok && ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0;
            }
            if (!ok) {
                why = "the device groups on " + device + ": " + std::strerror(errno);
                ::close(fd);
                fd = -1;
            }
        },
        &why);
    if ((!entered || fd < 0) && error) *error = why;
    return entered ? fd : -1;
}

bool runIn(const Netns& ns, const std::function<void()>& body, std::string* error) {
    std::string failure;
    std::thread worker([&] {
        const std::string path = "/var/run/netns/" + ns.name();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            failure = "open " + path + ": " + std::strerror(errno);
            return;
        }
        const int rc = ::setns(fd, CLONE_NEWNET);
        const int err = errno;
        ::close(fd);
        if (rc != 0) {
            failure = "setns " + ns.name() + ": " + std::strerror(err);
            return;
        }
        body();
    });
    worker.join();
    if (failure.empty()) return true;
    if (error) *error = failure;
    return false;
}

}  // namespace qs::test
