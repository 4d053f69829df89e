#include "quayside/launcher.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qs {

namespace {

// Waits for the program and reaps it; the verdict goes out at its end or
// at the end of the watch, whichever comes first.
void watch(pid_t pid, std::chrono::milliseconds watchTime, const std::function<void(LaunchOutcome)>& done) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + watchTime;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            if (done) done(ok ? LaunchOutcome::Started : LaunchOutcome::Failed);
            return;
        }
        if (r < 0 && errno != EINTR) {
            // Reaped elsewhere: nothing more can be learnt of it.
            if (done) done(LaunchOutcome::Started);
            return;
        }
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Still running: it counts as started, and is reaped whenever it ends.
    if (done) done(LaunchOutcome::Started);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

int launchWatched(const std::string& program, const std::vector<std::string>& args, std::chrono::milliseconds watchTime,
                  std::function<void(LaunchOutcome)> done) {
    if (program.empty()) return ENOENT;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    if (argv.empty()) argv.push_back(const_cast<char*>(program.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return rc;
    std::thread([pid, watchTime, done = std::move(done)] { watch(pid, watchTime, done); }).detach();
    return 0;
}

}  // namespace qs
