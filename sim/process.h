// Child processes of the simulator (the lab's file servers and their
// set-up tools): finding programs, starting them without a shell, and
// finding what they left running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qs::sim {

// The full path of the program `name`: the first executable of that name in
// PATH, then in the system directories PATH often lacks (/usr/sbin, /sbin,
// /usr/local/sbin).
std::optional<std::string> findProgram(std::string_view name);

// The first of `paths` that exists (glob patterns allowed), for libraries.
std::optional<std::string> findFile(const std::vector<std::string>& patterns);

struct SpawnRequest {
    std::vector<std::string> argv{};  // argv[0] is a full path
    std::vector<std::string> env{};   // NAME=value; empty: this process's
    int stdinFd = -1;                 // -1: /dev/null
    std::string outputPath{};         // stdout and stderr appended here; empty: /dev/null
    bool ownProcessGroup = false;     // the child leads a new process group
    // Directories mounted over others ({source, target}) for the child and
    // its descendants alone, in a mount namespace of their own. Where no
    // such namespace can be had, the child runs without them.
    std::vector<std::pair<std::string, std::string>> privateMounts{};
};

// Starts a program with the default signal handling and nothing blocked.
// The process id, or -1 with `error` set.
pid_t spawnProgram(const SpawnRequest& request, std::string& error);

// Runs a program to its end with `input` on its standard input; it is killed
// after `limit`. Its exit status, or -1 (not started, killed, or ended by a
// signal) with `error` set.
int runProgram(const SpawnRequest& request, const std::string& input, std::chrono::milliseconds limit,
               std::string& error);

// This process's environment with the given variables set (replacing any of
// the same name).
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& set);

// Every process below `root` in the process tree, as /proc shows it now.
std::vector<pid_t> descendantsOf(pid_t root);

// Reads what is waiting on a signalfd; true when SIGINT or SIGTERM is among
// it. Other signals (SIGCHLD) are consumed: their callers look at their
// children anyway.
bool takeStopSignal(int signalFd);

// Gives up root for good: becomes the user who ran sudo (SUDO_UID and
// SUDO_GID) or, without one, nobody, with no supplementary groups, and asks
// for SIGTERM when the parent ends. `who` says which user it became; false,
// with the reason in `why`, when it could not.
bool dropRoot(std::string& who, std::string& why);

// The last `lines` lines of a text file (empty when it cannot be read),
// each indented by two spaces, for error reports.
std::string fileTail(const std::string& path, int lines);

}  // namespace qs::sim
