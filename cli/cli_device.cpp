#include "cli_device.h"

#include "quayside/credentials.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace qs::cli {

std::vector<std::size_t> matchDevices(const std::vector<const DeviceData_n*>& devices, const std::string& key) {
    const auto id = uuidFromHex(key);
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const DeviceData_n& d = *devices[i];
        if ((id && d.serverUUID == *id) || d.hostname.view() == key || d.port[0].IP.view() == key) out.push_back(i);
    }
    return out;
}

namespace {

// Longer lines are cut here; a device takes 48 bytes of a password.
constexpr std::size_t kLineRoom = 1024;

// The first line read from `fd`, without its line end; nothing, with
// `error` set (0 for no input at all), when there is none. It is read
// straight into room kept for it, so no stream buffer or growth leaves a
// copy of it behind.
std::optional<std::string> firstLine(int fd, int& error) {
    std::string line;
    line.reserve(kLineRoom);
    bool any = false;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (n == 0 && !any)) {
            error = n < 0 ? errno : 0;
            secureClear(line);
            return std::nullopt;
        }
        any = true;
        if (n == 0 || c == '\n') break;
        if (line.size() < kLineRoom) line.push_back(c);
    }
    c = 0;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> fromFile(const std::string& file, std::string& why) {
    const bool standardInput = file == "-";
    const std::string name = standardInput ? "standard input" : "the password file '" + file + "'";
    const int fd = standardInput ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    std::optional<std::string> line;
    if (fd >= 0) line = firstLine(fd, error);
    if (fd >= 0 && !standardInput) ::close(fd);
    if (!line) why = error != 0 ? "cannot read " + name + ": " + std::strerror(error) : "no password in " + name;
    return line;
}

}  // namespace

std::optional<std::string> readPassword(const std::optional<std::string>& given,
                                        const std::optional<std::string>& file, std::string& why) {
    if (given) return given;
    if (file) return fromFile(*file, why);
    int error = 0;
    if (!::isatty(STDIN_FILENO)) return firstLine(STDIN_FILENO, error);
    termios old{};
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    auto line = firstLine(STDIN_FILENO, error);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    std::fputs("\n", stderr);
    return line;
}

std::vector<std::string> portLabels(const DeviceData_n& device) {
    if (device.ifCount <= 1) return {"LAN"};
    if (device.bondingEnable) return {"LAN1+LAN2"};
    return {"LAN1", "LAN2"};
}

}  // namespace qs::cli
