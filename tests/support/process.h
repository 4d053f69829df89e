// Child processes for integration tests: run a program to completion with a
// time limit, or keep one running (a simulator) and wait for a line from it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qs::test {

struct RunResult {
    int exitCode = -1;  // -1 when killed or not started
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

// Runs argv[0] (searched in PATH when it has no slash) with the given
// standard input; kills it after `limit`.
RunResult run(const std::vector<std::string>& argv, const std::string& input = {},
              std::chrono::milliseconds limit = std::chrono::seconds(60));

class Child {
public:
    Child() = default;
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Standard output goes to `stdoutFd` when one is given (output() then
    // stays empty), else to a pipe this object reads.
    bool start(const std::vector<std::string>& argv, int stdoutFd = -1);
    // Reads stdout until a line equal to `line` arrives; false on timeout or exit.
    bool waitForLine(const std::string& line, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // SIGTERM, then SIGKILL after a grace period; returns the exit status.
    int stop();
    // Closes this end of the standard-output pipe: the child's reader is gone.
    void closeOutput();
    // The exit status (-1 when a signal ended it) once the child has ended
    // within `limit`; nothing while it runs.
    std::optional<int> waitExit(std::chrono::milliseconds limit);
    bool running() const { return pid_ > 0; }
    int pid() const { return pid_; }
    const std::string& output() const { return out_; }
    std::string errors();

private:
    int pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
};

std::string binDir();

// Where the programs started here keep their state (XDG_STATE_HOME: the
// quayside tool's remembered boxes): a directory of this test process's
// own, made empty at the first call and removed at exit, so no test reads
// or writes the user's. freshStateHome() begins another, empty one.
std::string stateHome();
std::string freshStateHome();
std::string tempFile(const std::string& content, const std::string& suffix = ".json");

}  // namespace qs::test
