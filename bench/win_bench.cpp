// quayside-win start-up: time from process start to the first painted main
// window, not counting the first search, and the program's peak memory.
//   win-bench [--runs N]
#include "spawn_stamp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Run {
    double startupMs = -1;
    double maxRssMb = 0;
};

Run once(const std::string& program) {
    const std::string shot = "/tmp/win-bench-" + std::to_string(::getpid()) + ".png";
    const auto result = qs::bench::spawnStamped({program, "--loopback", "--screenshot", shot});
    ::unlink(shot.c_str());
    Run r;
    r.maxRssMb = result.maxRssMb;
    double paint = 0, search = 0;
    const auto at = result.errors.find("first-paint-ms ");
    if (at != std::string::npos &&
        std::sscanf(result.errors.c_str() + at, "first-paint-ms %lf search-ms %lf", &paint, &search) == 2)
        r.startupMs = paint - search;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));
    std::string self(argv[0]);
    const std::string program = self.substr(0, self.rfind('/') + 1) + "quayside-win";
    std::vector<double> startup;
    double rss = 0;
    for (int i = 0; i < runs; ++i) {
        const Run r = once(program);
        if (r.startupMs < 0) {
            std::fprintf(stderr, "win-bench: %s reported no first paint\n", program.c_str());
            return 1;
        }
        startup.push_back(r.startupMs);
        rss = std::max(rss, r.maxRssMb);
    }
    std::sort(startup.begin(), startup.end());
    std::printf("quayside-win start to first painted window, search excluded (%d runs, off-screen): median %.1f ms, "
                "max %.1f ms (target: at most 300 ms) -> %s\n",
                runs, startup[startup.size() / 2], startup.back(), startup.back() <= 300 ? "met" : "MISSED");
    std::printf("quayside-win peak memory (maximum resident set): %.1f MB (target: at most 60 MB) -> %s\n", rss,
                rss <= 60 ? "met" : "MISSED");
    return 0;
}
