// quayside-win start-up: time from process start to the first painted main
// window, not counting the first search, and the program's peak memory.
//   win-bench [--runs N]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

double monotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

struct Run {
    double startupMs = -1;
    double maxRssMb = 0;
};

Run once(const std::string& program) {
    int err[2];
    if (::pipe(err) != 0) return {};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QS_SPAWN_NS=", 12) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.push_back(*e);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    char stamp[64] = "QS_SPAWN_NS=0";  // set just before the spawn
    env.push_back(stamp);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    const std::string shot = "/tmp/win-bench-" + std::to_string(::getpid()) + ".png";
    std::vector<std::string> args{program, "--loopback", "--screenshot", shot};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", 0x1 /* O_WRONLY */, 0);
    pid_t pid = -1;
    std::snprintf(stamp, sizeof stamp, "QS_SPAWN_NS=%.0f", monotonicNs());
    envp[envp.size() - 2] = stamp;
    posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(err[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    ::close(err[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    ::unlink(shot.c_str());
    Run r;
    r.maxRssMb = usage.ru_maxrss / 1024.0;
    double paint = 0, search = 0;
    const auto at = out.find("first-paint-ms ");
    if (at != std::string::npos && std::sscanf(out.c_str() + at, "first-paint-ms %lf search-ms %lf", &paint, &search) == 2)
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
