#include "weblaunch.h"

#include "quayside/address.h"
#include "quayside/launcher.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qs::win {

namespace {

// The NULL-ended argument vector of `args` (which must outlive it).
std::vector<char*> argumentVector(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

bool isExecutableFile(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Where the program of a command would come from: the file itself when it
// names a path, else the first match on PATH.
unsigned locate(const std::string& program, std::string& found) {
    if (program.empty()) return 2;
    if (program.find('/') != std::string::npos) {
        struct stat st{};
        if (::stat(program.c_str(), &st) != 0) {
            const std::string dir = program.substr(0, program.rfind('/'));
            struct stat ds{};
            return (!dir.empty() && ::stat(dir.c_str(), &ds) != 0) ? 3 : 2;
        }
        if (!S_ISREG(st.st_mode) || ::access(program.c_str(), X_OK) != 0) return 11;
        found = program;
        return 0;
    }
    const char* path = std::getenv("PATH");
    std::string paths = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= paths.size()) {
        const std::size_t colon = std::min(paths.find(':', start), paths.size());
        const std::string candidate = paths.substr(start, colon - start) + "/" + program;
        if (isExecutableFile(candidate)) {
            found = candidate;
            return 0;
        }
        start = colon + 1;
    }
    return 2;
}

}  // namespace

std::string ReadRegistryString(RegistrySource& registry, const std::string& key, const std::string& valueName) {
    const auto value = registry.query(key, valueName);
    if (!value) return {};
    std::string text = value->substr(0, value->find('\0'));
    if (text.size() >= kRegistryBuffer) return {};  // does not fit the buffer
    return text;
}

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    std::string cur;
    bool inQuotes = false, any = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
            cur += '"';
            any = true;
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
            any = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (any) args.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any) args.push_back(cur);
    return args;
}

std::optional<std::string> captureOutput(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args = argumentVector(argv);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    std::string text;
    if (rc == 0) {
        char buf[512];
        for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (rc != 0) return std::nullopt;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

unsigned WinExec(const std::string& commandLine, int show, StartVerdict verdict) {
    (void)show;  // a started program shows its own window
    std::vector<std::string> args = splitCommandLine(commandLine);
    if (args.empty()) return 2;
    // The shell's own opener stands in for "explorer ADDRESS".
    if (args[0] == "explorer") args[0] = "xdg-open";
    std::string program;
    if (const unsigned rc = locate(args[0], program); rc != 0) return rc;
    const int rc = launchWatched(program, args, kOpenerWatch, [verdict = std::move(verdict)](LaunchOutcome outcome) {
        if (verdict) verdict(outcome == LaunchOutcome::Started);
    });
    if (rc == ENOEXEC) return 11;
    if (rc == ENOENT) return 2;
    if (rc != 0) return 0;
    return 33;
}

bool InternetCheckConnection(const std::string& ipv4, int port, int timeoutMs) {
    const auto address = parseDottedIPv4(ipv4);
    if (!address) return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(*address);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        ok = true;
    } else if (errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, timeoutMs) == 1) {
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            ok = err == 0;
        }
    }
    ::close(fd);
    return ok;
}


}  // namespace qs::win
