// Child processes for integration tests: run a program to completion with a
// time limit, or keep one running (a simulator) and wait for a line from it.
#pragma once

#include <chrono>
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

    bool start(const std::vector<std::string>& argv);
    // Reads stdout until a line equal to `line` arrives; false on timeout or exit.
    bool waitForLine(const std::string& line, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // SIGTERM, then SIGKILL after a grace period; returns the exit status.
    int stop();
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
std::string tempFile(const std::string& content, const std::string& suffix = ".json");

}  // namespace qs::test
