// Search time and completeness for 0, 1, 10, 100 and 1000 simulated devices
// on one interface of the loopback lab.
//   search-bench [--runs N]
#include "quayside/library.h"
#include "support/process.h"

#include <chrono>
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

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));
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
