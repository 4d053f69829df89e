// Starting a program that is meant to go on by itself (a web browser, or
// the desktop's opener that hands an address to one) without a shell, and
// learning soon whether it failed. Standard C++ and POSIX.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qs {

// How long a started opener is watched: one that fails (xdg-open without a
// browser to start exits 3) does so well within this time.
inline constexpr std::chrono::milliseconds kOpenerWatch{3000};

// What became of a started program within its watch time.
enum class LaunchOutcome {
    Started,  // still running then, or ended with status 0
    Failed,   // ended with a non-zero status or by a signal
};

// Starts `program` (a path, or a name looked up on PATH) with the argument
// vector `args` (its own name first), without a shell: standard input is
// /dev/null, output and errors are ours, and it runs in a session of its
// own so that it outlives this process. Returns 0 when it started, else the
// error of the start (an errno value such as ENOENT or ENOEXEC); `done` is
// then never called.
//
// A started program is waited for and reaped on a thread of its own, which
// calls `done` once, within `watch`: Failed as soon as it ends with a
// non-zero status or by a signal, Started when it ends with 0 or is still
// running when the watch is over. The caller's thread never waits.
int launchWatched(const std::string& program, const std::vector<std::string>& args,
                  std::chrono::milliseconds watch, std::function<void(LaunchOutcome)> done);

}  // namespace qs
