#include "cli_device.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
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

std::optional<std::string> readPassword(const std::optional<std::string>& given) {
    if (given) return given;
    std::string line;
    if (::isatty(STDIN_FILENO)) {
        termios old{};
        ::tcgetattr(STDIN_FILENO, &old);
        termios quiet = old;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        const bool ok = static_cast<bool>(std::getline(std::cin, line));
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
        std::fputs("\n", stderr);
        if (!ok) return std::nullopt;
        return line;
    }
    if (!std::getline(std::cin, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::vector<std::string> portLabels(const DeviceData_n& device) {
    if (device.ifCount <= 1) return {"LAN"};
    if (device.bondingEnable) return {"LAN1+LAN2"};
    return {"LAN1", "LAN2"};
}

}  // namespace qs::cli
