// Starts a program with QS_SPAWN_NS set to the CLOCK_MONOTONIC time of the
// spawn (in ns; the program reports its own milestones against it on
// standard error) and QT_QPA_PLATFORM=offscreen, waits for it and returns
// what it wrote to standard error and its peak resident memory.
#pragma once

#include <cstdio>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qs::bench {

inline double monotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

struct SpawnResult {
    bool started = false;
    int status = 0;
    std::string errors;  // standard error
    double maxRssMb = 0;
    double cpuSeconds = 0;  // user and system
};

inline SpawnResult spawnStamped(std::vector<std::string> args) {
    SpawnResult r;
    int err[2];
    if (::pipe(err) != 0) return r;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QS_SPAWN_NS=", 12) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
            env.push_back(*e);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("QS_SPAWN_NS=0");  // set just before the spawn
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", 0x1 /* O_WRONLY */, 0);
    pid_t pid = -1;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "QS_SPAWN_NS=%.0f", monotonicNs());
    envp[envp.size() - 2] = stamp;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(err[1]);
    if (rc != 0) {
        ::close(err[0]);
        return r;
    }
    r.started = true;
    char buf[4096];
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) r.errors.append(buf, static_cast<std::size_t>(n));
    ::close(err[0]);
    rusage usage{};
    ::wait4(pid, &r.status, 0, &usage);
    r.maxRssMb = usage.ru_maxrss / 1024.0;
    r.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return r;
}

}  // namespace qs::bench
