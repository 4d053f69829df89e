// Search time and completeness for 0, 1, 10, 100 and 1000 simulated devices
// on one interface of the loopback lab; with --interfaces (root), the search
// of 1, 2, 4 and 8 client interfaces of a namespace LAN, each link with its
// own devices, searched together and one after another.
//   search-bench [--runs N] [--interfaces]
#include "quayside/library.h"
#include "support/lab.h"
#include "support/netns.h"
#include "support/process.h"

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

Figures measure(int runs) {
    Figures f;
    for (int r = 0; r < runs; ++r) {
        auto transport = std::make_unique<qs::SocketTransport>();
        qs::TransportOptions options;
        options.loopbackLab = true;
        options.log = reportOnce;
        transport->OpenSockets(options);
        qs::DeviceLibrary lib(std::move(transport));
        const auto start = Clock::now();
        lib.SearchDevices();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
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
        const auto start = Clock::now();
        lib.SearchDevices();
        t.meanMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count() / runs;
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

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    bool interfaces = false;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--runs") == 0 && a + 1 < argc)
            runs = std::max(1, std::atoi(argv[++a]));
        else if (std::strcmp(argv[a], "--interfaces") == 0)
            interfaces = true;
    }
    if (interfaces) return interfacesBench(runs);
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
