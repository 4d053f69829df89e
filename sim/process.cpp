#include "process.h"

#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <thread>

extern char** environ;

namespace qs::sim {

namespace {

using Clock = std::chrono::steady_clock;

// The simulator ignores SIGPIPE and takes the others through a signalfd;
// its children get the defaults back.
constexpr int kResetSignals[] = {SIGPIPE, SIGINT, SIGTERM, SIGCHLD, SIGHUP, SIGQUIT};

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

class SpawnAttributes {
public:
    explicit SpawnAttributes(bool ownProcessGroup) {
        posix_spawnattr_init(&attr_);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr_, &none);
        sigset_t reset;
        sigemptyset(&reset);
        for (int s : kResetSignals) sigaddset(&reset, s);
        posix_spawnattr_setsigdefault(&attr_, &reset);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (ownProcessGroup) {
            flags |= POSIX_SPAWN_SETPGROUP;
            posix_spawnattr_setpgroup(&attr_, 0);
        }
        posix_spawnattr_setflags(&attr_, flags);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &attr_; }

private:
    posix_spawnattr_t attr_;
};

class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&fa_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&fa_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &fa_; }

private:
    posix_spawn_file_actions_t fa_;
};

std::vector<char*> pointers(const std::vector<std::string>& texts) {
    std::vector<char*> out;
    out.reserve(texts.size() + 1);
    for (const std::string& t : texts) out.push_back(const_cast<char*>(t.c_str()));
    out.push_back(nullptr);
    return out;
}

// The parent of every process /proc lists now.
std::map<pid_t, pid_t> parents() {
    std::map<pid_t, pid_t> out;
    DIR* proc = ::opendir("/proc");
    if (!proc) return out;
    while (const dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
        std::string stat;
        if (!std::getline(in, stat)) continue;
        // "pid (comm) state ppid ...": comm may hold anything, so read after
        // the last ')'.
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 4 >= stat.size()) continue;
        const long ppid = std::strtol(stat.c_str() + close + 4, nullptr, 10);
        out[static_cast<pid_t>(pid)] = static_cast<pid_t>(ppid);
    }
    ::closedir(proc);
    return out;
}

// spawnProgram() for a child with private mounts: posix_spawn cannot make
// the namespace, so fork, set up, exec. Everything the child uses is ready
// before fork(); after it the child makes system calls only. An exec that
// fails sends its errno back through a close-on-exec pipe.
pid_t forkWithMounts(const SpawnRequest& request, std::string& error) {
    std::vector<char*> args = pointers(request.argv);
    std::vector<char*> env = pointers(request.env);
    char** envp = request.env.empty() ? environ : env.data();
    std::vector<std::pair<const char*, const char*>> mounts;
    for (const auto& [source, target] : request.privateMounts) mounts.emplace_back(source.c_str(), target.c_str());
    const char* outPath = request.outputPath.empty() ? "/dev/null" : request.outputPath.c_str();
    const int in = request.stdinFd >= 0 ? request.stdinFd : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(outPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    int report[2] = {-1, -1};
    auto closeAll = [&] {
        if (request.stdinFd < 0 && in >= 0) ::close(in);
        if (out >= 0) ::close(out);
        for (int fd : report)
            if (fd >= 0) ::close(fd);
    };
    if (in < 0 || out < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
        error = "cannot start " + request.argv[0] + ": " + std::strerror(errno);
        closeAll();
        return -1;
    }
    sigset_t none;
    sigemptyset(&none);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (request.ownProcessGroup) ::setpgid(0, 0);
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int sig : kResetSignals) ::sigaction(sig, &byDefault, nullptr);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        // The mounts must not reach the rest of the system: everything
        // becomes private to the new namespace first.
        if (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
            for (const auto& [source, target] : mounts) ::mount(source, target, nullptr, MS_BIND, nullptr);
        ::execve(args[0], args.data(), envp);
        const int err = errno;
        (void)!::write(report[1], &err, sizeof err);
        ::_exit(127);
    }
    if (pid < 0) {
        error = "cannot start " + request.argv[0] + ": fork: " + std::strerror(errno);
        closeAll();
        return -1;
    }
    if (request.ownProcessGroup) ::setpgid(pid, pid);  // either side may come first
    ::close(report[1]);
    report[1] = -1;
    int err = 0;
    ssize_t n;
    do n = ::read(report[0], &err, sizeof err);
    while (n < 0 && errno == EINTR);
    closeAll();
    if (n == static_cast<ssize_t>(sizeof err)) {
        ::waitpid(pid, nullptr, 0);
        error = "cannot start " + request.argv[0] + ": " + std::strerror(err);
        return -1;
    }
    return pid;
}

}  // namespace

std::optional<std::string> findProgram(std::string_view name) {
    std::vector<std::string> dirs;
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            const std::string_view dir = rest.substr(0, colon);
            if (!dir.empty() && dir[0] == '/') dirs.emplace_back(dir);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const char* dir : {"/usr/sbin", "/sbin", "/usr/local/sbin", "/usr/bin"}) dirs.emplace_back(dir);
    for (const std::string& dir : dirs) {
        const std::string candidate = dir + "/" + std::string(name);
        if (isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> findFile(const std::vector<std::string>& patterns) {
    for (const std::string& pattern : patterns) {
        glob_t found{};
        std::string first;
        if (::glob(pattern.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0) first = found.gl_pathv[0];
        ::globfree(&found);
        if (!first.empty()) return first;
    }
    return std::nullopt;
}

pid_t spawnProgram(const SpawnRequest& request, std::string& error) {
    if (request.argv.empty()) {
        error = "nothing to run";
        return -1;
    }
    if (!request.privateMounts.empty()) return forkWithMounts(request, error);
    FileActions fa;
    if (request.stdinFd >= 0) posix_spawn_file_actions_adddup2(fa.get(), request.stdinFd, 0);
    else posix_spawn_file_actions_addopen(fa.get(), 0, "/dev/null", O_RDONLY, 0);
    const char* out = request.outputPath.empty() ? "/dev/null" : request.outputPath.c_str();
    posix_spawn_file_actions_addopen(fa.get(), 1, out, O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(fa.get(), 1, 2);
    const SpawnAttributes attr(request.ownProcessGroup);
    std::vector<char*> args = pointers(request.argv);
    std::vector<char*> env = request.env.empty() ? std::vector<char*>() : pointers(request.env);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, args[0], fa.get(), attr.get(), args.data(), env.empty() ? environ : env.data());
    if (rc != 0) {
        error = "cannot start " + request.argv[0] + ": " + std::strerror(rc);
        return -1;
    }
    return pid;
}

int runProgram(const SpawnRequest& request, const std::string& input, std::chrono::milliseconds limit,
               std::string& error) {
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return -1;
    }
    SpawnRequest r = request;
    r.stdinFd = in[0];
    const pid_t pid = spawnProgram(r, error);
    ::close(in[0]);
    if (pid < 0) {
        ::close(in[1]);
        return -1;
    }
    // The input is a few lines, well inside the pipe's buffer; a program
    // that ends without reading it gives EPIPE (SIGPIPE is ignored).
    if (!input.empty()) (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);

    const auto deadline = Clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            error = std::string("waitpid: ") + std::strerror(errno);
            return -1;
        }
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            error = request.argv[0] + " did not finish within " + std::to_string(limit.count()) + " ms";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    error = request.argv[0] + " ended by signal " + std::to_string(WTERMSIG(status));
    return -1;
}

std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& set) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string_view entry = *e;
        const std::string_view name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [n, v] : set) replaced = replaced || name == n;
        if (!replaced) env.emplace_back(entry);
    }
    for (const auto& [n, v] : set) env.push_back(n + "=" + v);
    return env;
}

std::vector<pid_t> descendantsOf(pid_t root) {
    const std::map<pid_t, pid_t> parent = parents();
    std::vector<pid_t> out;
    std::deque<pid_t> queue{root};
    while (!queue.empty()) {
        const pid_t p = queue.front();
        queue.pop_front();
        for (const auto& [pid, ppid] : parent) {
            if (ppid != p || pid == root) continue;
            out.push_back(pid);
            queue.push_back(pid);
        }
    }
    return out;
}

bool takeStopSignal(int signalFd) {
    bool stop = false;
    signalfd_siginfo info{};
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        stop = stop || info.ssi_signo == SIGINT || info.ssi_signo == SIGTERM;
    return stop;
}

bool dropRoot(std::string& who, std::string& why) {
    const auto id = [](const char* name, unsigned fallback) {
        const char* v = std::getenv(name);
        char* end = nullptr;
        const unsigned long n = v && *v ? std::strtoul(v, &end, 10) : 0;
        return v && *v && end && *end == '\0' && n != 0 && n < 0xFFFFFFFFul ? static_cast<unsigned>(n) : fallback;
    };
    const uid_t uid = id("SUDO_UID", 65534);
    const gid_t gid = id("SUDO_GID", 65534);
    const pid_t parent = ::getppid();
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
        why = std::string("cannot become uid ") + std::to_string(uid) + ": " + std::strerror(errno);
        return false;
    }
    if (::setuid(0) == 0 || ::getuid() == 0) {
        why = "root could be taken back";
        return false;
    }
    // Asked after the change: a change of user clears the request.
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) {
        why = "the parent has already gone";
        return false;
    }
    who = "uid " + std::to_string(uid) + " gid " + std::to_string(gid);
    return true;
}

std::string fileTail(const std::string& path, int lines) {
    std::ifstream in(path);
    std::deque<std::string> last;
    std::string line;
    while (std::getline(in, line)) {
        last.push_back(std::move(line));
        if (static_cast<int>(last.size()) > lines) last.pop_front();
    }
    std::string out;
    for (const std::string& l : last) out += "  " + l + "\n";
    return out;
}

}  // namespace qs::sim
