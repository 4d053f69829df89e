#include "support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qs::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string>& stateHomes() {
    static std::vector<std::string> dirs;
    return dirs;
}

}  // namespace

std::string freshStateHome() {
    char dir[] = "/tmp/qs-state-XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();  // no test may fall back to the user's home
    if (stateHomes().empty())
        std::atexit([] {
            for (const auto& d : stateHomes()) std::filesystem::remove_all(d);
        });
    stateHomes().push_back(dir);
    ::setenv("XDG_STATE_HOME", dir, 1);
    return dir;
}

std::string stateHome() {
    if (stateHomes().empty()) freshStateHome();
    return stateHomes().back();
}

namespace {
// From the start of every test program, before a test sets up a home of its
// own (the GVfs lab, which then unsets it): nothing a test starts writes
// into the user's real state directory.
const std::string kStateHomeAtStart = stateHome();
}  // namespace

namespace {

int spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    stateHome();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (in >= 0) posix_spawn_file_actions_adddup2(&fa, in, 0);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    posix_spawn_file_actions_adddup2(&fa, err, 2);
    // The program starts with SIGPIPE as the system gives it, whatever this
    // process made of it (run() ignores it to write a child's input).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

void readSome(int fd, std::string& into) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return;
        into.append(buf, static_cast<std::size_t>(n));
    }
}

int statusCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return -1;
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, const std::string& input, std::chrono::milliseconds limit) {
    RunResult r;
    int inPipe[2], outPipe[2], errPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) || ::pipe2(outPipe, O_CLOEXEC) || ::pipe2(errPipe, O_CLOEXEC)) return r;
    const auto start = Clock::now();
    const int pid = spawn(argv, inPipe[0], outPipe[1], errPipe[1]);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (pid > 0 && !input.empty()) {
        ::signal(SIGPIPE, SIG_IGN);
        (void)!::write(inPipe[1], input.data(), input.size());
    }
    ::close(inPipe[1]);
    ::fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    bool killed = false;
    int status = 0;
    for (;;) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        ::poll(fds, 2, 20);
        readSome(outPipe[0], r.out);
        readSome(errPipe[0], r.err);
        if (pid <= 0) break;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            readSome(outPipe[0], r.out);
            readSome(errPipe[0], r.err);
            r.exitCode = killed ? -1 : statusCode(status);
            break;
        }
        if (!killed && Clock::now() - start > limit) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    r.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return r;
}

bool Child::start(const std::vector<std::string>& argv, int stdoutFd) {
    int outPipe[2] = {-1, stdoutFd}, errPipe[2];
    if ((stdoutFd < 0 && ::pipe2(outPipe, O_CLOEXEC)) || ::pipe2(errPipe, O_CLOEXEC)) return false;
    pid_ = spawn(argv, -1, outPipe[1], errPipe[1]);
    if (stdoutFd < 0) ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    if (outFd_ >= 0) ::fcntl(outFd_, F_SETFL, O_NONBLOCK);
    ::fcntl(errFd_, F_SETFL, O_NONBLOCK);
    return pid_ > 0;
}

void Child::closeOutput() {
    if (outFd_ >= 0) readSome(outFd_, out_), ::close(outFd_), outFd_ = -1;
}

std::optional<int> Child::waitExit(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (pid_ > 0) {
        // Drained as it comes, so a child that writes much is not held up.
        if (outFd_ >= 0) readSome(outFd_, out_);
        if (errFd_ >= 0) readSome(errFd_, err_);
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            if (outFd_ >= 0) readSome(outFd_, out_);
            if (errFd_ >= 0) readSome(errFd_, err_);
            return statusCode(status);
        }
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

bool Child::waitForLine(const std::string& line, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline && pid_ > 0) {
        readSome(outFd_, out_);
        if (out_.find(line + "\n") != std::string::npos) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            readSome(outFd_, out_);
            return out_.find(line + "\n") != std::string::npos;
        }
        pollfd p{outFd_, POLLIN, 0};
        ::poll(&p, 1, 20);
    }
    return false;
}

std::string Child::errors() {
    if (errFd_ >= 0) readSome(errFd_, err_);
    return err_;
}

int Child::stop() {
    int code = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        for (;;) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                code = statusCode(status);
                break;
            }
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    if (outFd_ >= 0) readSome(outFd_, out_), ::close(outFd_), outFd_ = -1;
    if (errFd_ >= 0) readSome(errFd_, err_), ::close(errFd_), errFd_ = -1;
    return code;
}

std::string binDir() { return QS_BIN_DIR; }

std::string tempFile(const std::string& content, const std::string& suffix) {
    std::string pattern = "/tmp/quayside-test-XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return {};
    (void)!::write(fd, content.data(), content.size());
    ::close(fd);
    return name.data();
}

}  // namespace qs::test
