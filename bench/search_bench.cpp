// Search time and completeness for 0, 1, 10, 100 and 1000 simulated devices
// on one interface of the loopback lab. Over namespace LANs (root):
//   --interfaces  the search of 1, 2, 4 and 8 client interfaces, each link
//                 with its own devices, together and one after another;
//   --loss        the share of 50 devices found over 8 searches, and 8
//                 password checks, with 0, 10 and 30% of the datagrams to
//                 port 24680 dropped at random each way;
//   --sweep       a search of a /24 behind a router holding 10 devices;
//   --watch       the CPU time of `quayside watch` over a minute;
//   --network     all four;
//   --behaviours  for each way a box may answer (group answers, unicast
//                 answers to port 24680, unicast requests answered to the
//                 sender's port, to port 24680 or to the groups, group-only
//                 boxes, answers 300 ms late), 50 boxes answering so, found
//                 by searches (by address where only that matters) at 0 and
//                 10% of the datagrams from or to port 24680 dropped each
//                 way: the boxes found and the mean search time (3 searches
//                 each unless --runs says; about a minute and a half).
//   search-bench [--runs N] [--interfaces] [--loss] [--sweep] [--watch] [--network] [--behaviours]
#include "quayside/address.h"
#include "quayside/device_library.h"
#include "support/lab.h"
#include "support/netns.h"
#include "support/process.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double meanMs = 0, maxMs = 0;
    std::size_t minFound = SIZE_MAX;
};

// What the transport reports (a smaller receive buffer, a refused socket
// option) is printed once, since it bears on the figures.
void reportOnce(const std::string& line) {
    static std::set<std::string> seen;
    if (seen.insert(line).second) std::printf("note: %s\n", line.c_str());
}

// One search of the library, in milliseconds.
double timedSearch(qs::DeviceLibrary& lib, const qs::SearchTargets& targets = {}) {
    const auto start = Clock::now();
    lib.SearchDevices(targets);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Figures measure(int runs) {
    Figures f;
    for (int r = 0; r < runs; ++r) {
        auto transport = std::make_unique<qs::SocketTransport>();
        qs::TransportOptions options;
        options.loopbackLab = true;
        options.log = reportOnce;
        transport->OpenSockets(options);
        qs::DeviceLibrary lib(std::move(transport));
        const double ms = timedSearch(lib);
        f.meanMs += ms / runs;
        f.maxMs = std::max(f.maxMs, ms);
        f.minFound = std::min(f.minFound, lib.devices.count());
    }
    return f;
}

using Registry = std::vector<std::pair<std::string, int>>;  // host name, interface

struct Timed {
    double meanMs = 0;
    Registry registry;
    bool stable = true;  // the same registry every run
};

Timed searchInterfaces(const std::vector<std::string>& addresses, bool oneAtATime, int runs) {
    Timed t;
    for (int r = 0; r < runs; ++r) {
        auto transport = std::make_unique<qs::SocketTransport>();
        qs::TransportOptions options;
        options.onlyAddresses = addresses;
        options.log = reportOnce;
        if (!transport->OpenSockets(options)) return t;
        qs::DeviceLibrary lib(std::move(transport));
        lib.searchTuning.oneAtATime = oneAtATime;
        t.meanMs += timedSearch(lib) / runs;
        Registry got;
        for (std::size_t k = 0; k < lib.devices.count(); ++k)
            got.emplace_back(lib.devices.at(k).hostname.str(), lib.devices.at(k).localIfIndex);
        if (r == 0) t.registry = got;
        t.stable = t.stable && got == t.registry;
    }
    return t;
}

// Eight links from a client host, each to its own device host running the
// simulator with three devices; this process moves into the client host.
int interfacesBench(int runs) {
    using namespace qs::test;
    std::string why;
    if (!Netns::available(&why)) {
        std::fprintf(stderr, "search-bench --interfaces: %s\n", why.c_str());
        return 1;
    }
    constexpr int kLinks = 8, kPerLink = 3;
    Netns client("bc");
    std::vector<std::unique_ptr<Netns>> hosts;
    std::vector<std::unique_ptr<Child>> sims;
    std::vector<std::string> configs, addresses;
    bool ok = client.ok();
    for (int k = 0; ok && k < kLinks; ++k) {
        hosts.push_back(std::make_unique<Netns>("b" + std::to_string(k)));
        const std::string net = "10.232." + std::to_string(k + 1) + ".";
        std::string error;
        ok = hosts.back()->ok() && veth(client, net + "1/24", *hosts.back(), net + "2/24", &error);
        if (!ok) {
            std::fprintf(stderr, "search-bench: %s\n", error.c_str());
            break;
        }
        addresses.push_back(net + "1");
        std::vector<json> devices;
        for (int d = 0; d < kPerLink; ++d) {
            char uuid[17];
            std::snprintf(uuid, sizeof uuid, "00000000000%02x%03x", k, d);
            devices.push_back(simDevice(uuid, "box-" + std::to_string(k) + "-" + std::to_string(d), "VSB-720K",
                                        net + std::to_string(10 + d)));
        }
        configs.push_back(tempFile(simConfig(devices)));
        sims.push_back(std::make_unique<Child>());
        ok = sims.back()->start(hosts.back()->exec({simBin(), "--config", configs.back()})) &&
             sims.back()->waitForLine("ready");
    }
    const int fd = ok ? ::open(("/var/run/netns/" + client.name()).c_str(), O_RDONLY | O_CLOEXEC) : -1;
    ok = ok && fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) ::close(fd);
    int status = 0;
    if (!ok) {
        std::fprintf(stderr, "search-bench: could not set up the namespace LAN\n");
        status = 1;
    } else {
        std::printf("search of N client interfaces (%d devices each), %d runs together, 1 one after another\n",
                    kPerLink, runs);
        std::printf("%4s %10s %8s %12s %9s %10s\n", "N", "found", "ms", "ratio to 1", "in turn", "identical");
        double one = 0;
        bool ratioMet = true, identical = true;
        for (const int n : {1, 2, 4, 8}) {
            const std::vector<std::string> chosen(addresses.begin(), addresses.begin() + n);
            const Timed together = searchInterfaces(chosen, false, runs);
            const Timed inTurn = searchInterfaces(chosen, true, 1);
            if (n == 1) one = together.meanMs;
            const double ratio = together.meanMs / one;
            const bool same = together.stable && together.registry == inTurn.registry &&
                              together.registry.size() == static_cast<std::size_t>(n * kPerLink);
            std::printf("%4d %10zu %8.1f %12.2f %9.1f %10s\n", n, together.registry.size(), together.meanMs, ratio,
                        inTurn.meanMs, same ? "yes" : "NO");
            ratioMet = ratioMet && ratio <= 1.2;
            identical = identical && same;
        }
        std::printf("target: ratio to one interface at most 1.2 at every N: %s; registries identical to the search "
                    "one after another: %s\n",
                    ratioMet ? "met" : "MISSED", identical ? "met" : "MISSED");
    }
    for (auto& c : sims) c->stop();
    for (const auto& c : configs) ::unlink(c.c_str());
    return status;
}

std::string net(int k, int host) { return "10.23" + std::to_string(k) + ".1." + std::to_string(host); }

// Devices on a link from the client, 50 generated ones; the share found
// and the password checks at each loss level.
int lossBench() {
    using namespace qs::test;
    std::string why;
    if (!Netns::available(&why)) {
        std::fprintf(stderr, "search-bench --loss: %s\n", why.c_str());
        return 1;
    }
    Netns client("lc"), host("ld");
    std::string error;
    Child sim;
    if (!client.ok() || !host.ok() || !veth(client, net(1, 1) + "/24", host, net(1, 2) + "/24", &error) ||
        !sim.start(host.exec({binDir() + "/vsb-sim", "--generate", "50"})) || !sim.waitForLine("ready")) {
        std::fprintf(stderr, "search-bench: could not set up the namespace LAN: %s\n", error.c_str());
        return 1;
    }
    constexpr int kSearches = 8, kDevices = 50;
    std::printf("50 devices, %d searches and %d password checks at each loss level (each way)\n", kSearches,
                kSearches);
    std::printf("%6s %8s %8s %10s %10s %10s\n", "loss", "found", "share", "fewest", "mean ms", "passwords");
    bool met = true;
    for (const int percent : {0, 10, 30}) {
        if (!dropAtRandom(client, percent, &error)) {
            std::fprintf(stderr, "search-bench: %s\n", error.c_str());
            return 1;
        }
        std::size_t total = 0, fewest = kDevices;
        int passwords = 0;
        double ms = 0;
        runIn(client, [&] {
            auto transport = std::make_unique<qs::SocketTransport>();
            if (!transport->OpenSockets({})) return;
            qs::DeviceLibrary lib(std::move(transport));
            for (int r = 0; r < kSearches; ++r) {
                ms += timedSearch(lib) / kSearches;
                total += lib.devices.count();
                fewest = std::min(fewest, lib.devices.count());
            }
            // A password check as a user makes it: a search, then the exchange.
            for (int r = 0; r < kSearches; ++r) {
                lib.SearchDevices();
                if (lib.devices.count() == 0) continue;
                const qs::Credentials admin{"admin", "admin"};
                passwords += lib.checkPassword(lib.devices.at(0).serverUUID, admin) == qs::Outcome::Accepted ? 1 : 0;
            }
        }, &error);
        const double share = 100.0 * static_cast<double>(total) / (kSearches * kDevices);
        std::printf("%5d%% %8zu %7.1f%% %10zu %10.1f %8d/%d\n", percent, total, share, fewest, ms, passwords,
                    kSearches);
        if (percent == 10) met = met && share >= 99 && fewest >= 45 && passwords == kSearches;
        if (percent == 30) met = met && share >= 95;
    }
    dropAtRandom(client, 0, &error);
    std::printf("target: at 10%% at least 99%% found, no search under 45, 8 of 8 password checks; at 30%% at "
                "least 95%% found: %s\n", met ? "met" : "MISSED");
    sim.stop();
    return 0;
}

// A /24 behind a router holding 10 devices, searched by address only.
int sweepBench(int runs) {
    using namespace qs::test;
    std::string why;
    if (!Netns::available(&why)) {
        std::fprintf(stderr, "search-bench --sweep: %s\n", why.c_str());
        return 1;
    }
    Netns client("sc"), router("sr"), host("sd");
    std::string error, hostLink, routerLink;
    bool ok = client.ok() && router.ok() && host.ok() &&
              veth(client, net(1, 1) + "/24", router, net(1, 254) + "/24", &error) &&
              veth(host, net(2, 2) + "/24", router, net(2, 254) + "/24", &error, &hostLink, &routerLink) &&
              enableForwarding(router, &error) && route(client, {"default", "via", net(1, 254)}, &error) &&
              route(host, {"default", "via", net(2, 254)}, &error);
    std::vector<json> devices;
    for (int i = 0; ok && i < 10; ++i) {
        const std::string ip = net(2, 2 + i * 20);
        if (i > 0) ok = addAddress(host, ip + "/24", hostLink, &error);
        char uuid[17];
        std::snprintf(uuid, sizeof uuid, "00000000000005%02x", i);
        devices.push_back(simDevice(uuid, "far-" + std::to_string(i), "VSB-720K", ip));
    }
    const std::string config = tempFile(simConfig(devices));
    Child sim;
    ok = ok && sim.start(host.exec({binDir() + "/vsb-sim", "--config", config})) && sim.waitForLine("ready");
    if (!ok) {
        std::fprintf(stderr, "search-bench: could not set up the routed LAN: %s\n", error.c_str());
        ::unlink(config.c_str());
        return 1;
    }
    double ms = 0;
    std::size_t fewest = SIZE_MAX, most = 0;
    bool once = true;
    runIn(client, [&] {
        for (int r = 0; r < runs; ++r) {
            auto transport = std::make_unique<qs::SocketTransport>();
            if (!transport->OpenSockets({})) return;
            qs::DeviceLibrary lib(std::move(transport));
            const qs::SearchTargets sweep{
                .hosts = *qs::parseHostTargets(net(2, 0) + "/24", {.maxBlock = qs::kMaxTargetBlock}), .multicast = false};
            ms += timedSearch(lib, sweep) / runs;
            std::set<std::string> names;
            for (std::size_t k = 0; k < lib.devices.count(); ++k) {
                names.insert(lib.devices.at(k).hostname.str());
                once = once && lib.devices.at(k).byAddress;
            }
            once = once && names.size() == lib.devices.count();
            fewest = std::min(fewest, lib.devices.count());
            most = std::max(most, lib.devices.count());
        }
    }, &error);
    std::printf("sweep of %s/24 (254 addresses) behind a router, 10 devices, %d runs: %.1f ms mean, %zu to %zu "
                "found, each once and by address: %s\n",
                net(2, 0).c_str(), runs, ms, fewest, most, once ? "yes" : "NO");
    std::printf("target: all boxes found by address: %s\n", fewest == 10 && once ? "met" : "MISSED");
    sim.stop();
    ::unlink(config.c_str());
    return 0;
}

// One way a box may answer, for --behaviours: the config keys every box of
// the set gets, and how the search asks them (by address, by the group, or
// both).
struct Behaviour {
    const char* name;
    qs::test::json keys;
    bool byAddress;
    bool byGroup;
};

std::vector<Behaviour> behaviours() {
    return {
        {"group answers", {{"reply", "group"}}, false, true},
        {"unicast answers to port 24680", {{"reply", "unicast"}}, false, true},
        {"unicast requests answered to the sender port", {{"unicastReply", "sender"}}, true, false},
        {"unicast requests answered to port 24680", {{"unicastReply", "devicePort"}}, true, false},
        {"unicast requests answered to the group", {{"unicastReply", "group"}}, true, false},
        {"group-only", {{"groupOnly", true}}, true, true},
        {"late answers 300 ms", {{"delayMs", 300}}, false, true},
    };
}

// A link from the client to a host holding 50 addresses, one box on each;
// for each behaviour a simulator of 50 boxes answering so, searched `runs`
// times at each loss level.
int behavioursBench(int runs) {
    using namespace qs::test;
    std::string why;
    if (!Netns::available(&why)) {
        std::fprintf(stderr, "search-bench --behaviours: %s\n", why.c_str());
        return 1;
    }
    constexpr int kBoxes = 50;
    Netns client("hc"), host("hd");
    std::string error, hostLink;
    bool ok = client.ok() && host.ok() &&
              veth(client, net(4, 1) + "/24", host, net(4, 10) + "/24", &error, nullptr, &hostLink);
    std::vector<std::uint32_t> addresses;
    for (int i = 0; ok && i < kBoxes; ++i) {
        const std::string ip = net(4, 10 + i);
        if (i > 0) ok = addAddress(host, ip + "/24", hostLink, &error);
        addresses.push_back(qs::parseDottedIPv4(ip).value_or(0));
    }
    if (!ok) {
        std::fprintf(stderr, "search-bench: could not set up the namespace LAN: %s\n", error.c_str());
        return 1;
    }
    std::printf("%d boxes of each behaviour, %d search%s at each loss level (datagrams from or to port 24680, "
                "each way)\n", kBoxes, runs, runs == 1 ? "" : "es");
    std::printf("%-46s %-14s %5s %8s %7s %8s %9s\n", "behaviour", "searched by", "loss", "found", "fewest", "share",
                "mean ms");
    bool met = true;
    int status = 0;
    for (const Behaviour& b : behaviours()) {
        std::vector<json> devices;
        for (int i = 0; i < kBoxes; ++i) {
            char uuid[17];
            std::snprintf(uuid, sizeof uuid, "00000000000006%02x", i);
            json d = simDevice(uuid, "box-" + std::to_string(i), "VSB-720K", net(4, 10 + i));
            d.update(b.keys);
            devices.push_back(std::move(d));
        }
        const std::string config = tempFile(simConfig(devices));
        Child sim;
        if (!sim.start(host.exec({binDir() + "/vsb-sim", "--config", config})) || !sim.waitForLine("ready")) {
            std::fprintf(stderr, "search-bench: vsb-sim did not start: %s\n", sim.errors().c_str());
            ::unlink(config.c_str());
            status = 1;
            break;
        }
        const std::string how = b.byAddress && b.byGroup ? "address+group" : b.byAddress ? "address" : "group";
        for (const int percent : {0, 10}) {
            if (!dropAtRandom(client, percent, &error, LossOf::DevicePortEitherEnd)) {
                std::fprintf(stderr, "search-bench: %s\n", error.c_str());
                status = 1;
                break;
            }
            double ms = 0;
            std::size_t total = 0, fewest = kBoxes;
            runIn(client, [&] {
                for (int r = 0; r < runs; ++r) {
                    auto transport = std::make_unique<qs::SocketTransport>();
                    if (!transport->OpenSockets({})) return;
                    qs::DeviceLibrary lib(std::move(transport));
                    qs::SearchTargets targets{.multicast = b.byGroup};
                    if (b.byAddress) targets.hosts = addresses;
                    ms += timedSearch(lib, targets) / runs;
                    total += lib.devices.count();
                    fewest = std::min(fewest, lib.devices.count());
                }
            }, &error);
            const double found = static_cast<double>(total) / runs;
            const double share = 100.0 * static_cast<double>(total) / (runs * kBoxes);
            std::printf("%-46s %-14s %4d%% %8.1f %7zu %7.1f%% %9.1f\n", b.name, how.c_str(), percent, found, fewest,
                        share, ms);
            met = met && (percent == 0 ? fewest == kBoxes : share >= 99);
        }
        sim.stop();
        ::unlink(config.c_str());
        if (status != 0) break;
    }
    dropAtRandom(client, 0, &error);
    std::printf("target: every box found in every search at 0%% loss, at least 99%% found at 10%%: %s\n",
                met ? "met" : "MISSED");
    return status;
}

// CPU time of `quayside watch` (every 10 s) over a minute, on the loopback
// lab of a private namespace.
int watchBench() {
    using namespace qs::test;
    std::string why;
    if (!Netns::available(&why)) {
        std::fprintf(stderr, "search-bench --watch: %s\n", why.c_str());
        return 1;
    }
    Netns lab("wl");
    Child sim, watch;
    if (!lab.ok() || !sim.start(lab.exec({binDir() + "/vsb-sim", "--generate", "10", "--loopback"})) ||
        !sim.waitForLine("ready") || !watch.start(lab.exec({binDir() + "/quayside", "watch", "--loopback"}))) {
        std::fprintf(stderr, "search-bench: could not start the lab and quayside watch\n");
        return 1;
    }
    // `ip netns exec` runs the program in its place (exec), so the pid is
    // the watch's own.
    const auto cpuSeconds = [&] {
        std::FILE* f = std::fopen(("/proc/" + std::to_string(watch.pid()) + "/stat").c_str(), "r");
        if (!f) return -1.0;
        char buf[1024] = {};
        const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        const char* close = std::strrchr(buf, ')');
        if (n == 0 || !close) return -1.0;
        unsigned long utime = 0, stime = 0;
        // Fields after the command: state, then 10 numbers, then utime and stime.
        if (std::sscanf(close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
            return -1.0;
        return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    };
    const double before = cpuSeconds();
    const auto start = Clock::now();
    ::sleep(60);
    const double used = cpuSeconds() - before;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const int status = watch.stop();
    sim.stop();
    if (before < 0 || used < 0) {
        std::fprintf(stderr, "search-bench: could not read the watch's CPU time\n");
        return 1;
    }
    std::printf("quayside watch (every 10 s, 10 devices) over %.0f s: %.2f s of CPU, %.2f%% of one core; ended "
                "with status %d on SIGTERM\n", wall, used, 100.0 * used / wall, status);
    std::printf("target: under 1%% of one core: %s\n", 100.0 * used / wall < 1.0 ? "met" : "MISSED");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    bool runsGiven = false;
    bool interfaces = false, loss = false, sweep = false, watch = false, behaviour = false;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--runs" && a + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++a]));
            runsGiven = true;
        } else if (arg == "--interfaces") {
            interfaces = true;
        } else if (arg == "--loss") {
            loss = true;
        } else if (arg == "--sweep") {
            sweep = true;
        } else if (arg == "--watch") {
            watch = true;
        } else if (arg == "--network") {
            interfaces = loss = sweep = watch = true;
        } else if (arg == "--behaviours") {
            behaviour = true;
        }
    }
    if (interfaces || loss || sweep || watch || behaviour) {
        int status = 0;
        if (interfaces) status |= interfacesBench(runs);
        if (sweep) status |= sweepBench(runs);
        if (loss) status |= lossBench();
        if (watch) status |= watchBench();
        if (behaviour) status |= behavioursBench(runsGiven ? runs : 3);
        return status;
    }
    const std::string sim = qs::test::binDir() + "/vsb-sim";

    std::printf("search on the loopback lab, %d runs each\n", runs);
    std::printf("%8s %10s %12s %12s %10s\n", "devices", "min found", "mean ms", "max ms", "vs none");
    const Figures none = measure(runs);
    std::printf("%8d %10zu %12.1f %12.1f %10s\n", 0, none.minFound, none.meanMs, none.maxMs, "-");
    bool allFound = true, inBudget = true;
    for (int n : {1, 10, 100, 1000}) {
        qs::test::Child child;
        if (!child.start({sim, "--generate", std::to_string(n), "--loopback"}) || !child.waitForLine("ready")) {
            std::fprintf(stderr, "search-bench: could not start %s\n", sim.c_str());
            return 1;
        }
        const Figures f = measure(runs);
        child.stop();
        const double ratio = f.meanMs / none.meanMs;
        std::printf("%8d %10zu %12.1f %12.1f %9.1f%%\n", n, f.minFound, f.meanMs, f.maxMs, (ratio - 1) * 100);
        allFound = allFound && f.minFound == static_cast<std::size_t>(n);
        inBudget = inBudget && f.maxMs <= none.meanMs * 1.10;
    }
    std::printf("target: every device found every time: %s; every search within 10%% of the no-device time: %s\n",
                allFound ? "met" : "MISSED", inBudget ? "met" : "MISSED");
    return 0;
}
