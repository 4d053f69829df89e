// quayside-mac start-up: time from process start to the first device shown
// in the device table (the first search included: the run-loop engine
// answers asynchronously), with the simulator on the loopback interface,
// and the program's peak memory.
//   mac-bench [--runs N] [--devices N]
#include "spawn_stamp.h"
#include "support/process.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    int runs = 5, devices = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--devices") == 0) devices = std::clamp(std::atoi(argv[i + 1]), 1, 1000);
    }
    const std::string dir = qs::test::binDir();
    qs::test::Child sim;
    if (!sim.start({dir + "/vsb-sim", "--generate", std::to_string(devices), "--loopback"}) ||
        !sim.waitForLine("ready")) {
        std::fprintf(stderr, "mac-bench: the simulator did not start: %s\n", sim.errors().c_str());
        return 1;
    }
    std::vector<double> firstDevice;
    double rss = 0;
    for (int i = 0; i < runs; ++i) {
        const std::string shot = "/tmp/mac-bench-" + std::to_string(::getpid()) + ".png";
        const auto r = qs::bench::spawnStamped({dir + "/quayside-mac", "--loopback", "--screenshot", shot});
        ::unlink(shot.c_str());
        double ms = -1;
        const auto at = r.errors.find("first-device-ms ");
        if (at == std::string::npos || std::sscanf(r.errors.c_str() + at, "first-device-ms %lf", &ms) != 1) {
            std::fprintf(stderr, "mac-bench: no device was shown:\n%s\n", r.errors.c_str());
            return 1;
        }
        firstDevice.push_back(ms);
        rss = std::max(rss, r.maxRssMb);
    }
    std::sort(firstDevice.begin(), firstDevice.end());
    std::printf("quayside-mac start to first device shown, search included (%d runs, %d simulated devices, "
                "off-screen): median %.1f ms, min %.1f ms, max %.1f ms\n",
                runs, devices, firstDevice[firstDevice.size() / 2], firstDevice.front(), firstDevice.back());
    std::printf("quayside-mac peak memory (maximum resident set, window shown for 1.5 s): %.1f MB\n", rss);
    return 0;
}
