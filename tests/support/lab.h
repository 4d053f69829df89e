// Simulator configurations and tool output for integration tests.
#pragma once

#include "support/process.h"

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace qs::test {

using nlohmann::json;

// One simulated device with one port; callers adjust fields as needed.
inline json simDevice(const std::string& uuid, const std::string& host, const std::string& model,
                      const std::string& ip) {
    return json{{"serverUUID", uuid},
                {"hostname", host},
                {"model", model},
                {"ports", json::array({json{{"IP", ip}, {"netmask", "255.255.255.0"}, {"gateway", "192.168.77.1"}}})},
                {"user", "admin"},
                {"password", "admin"}};
}

inline std::string simConfig(const std::vector<json>& devices) { return json{{"devices", devices}}.dump(2); }

inline std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) out.push_back(json::parse(line));
    return out;
}

inline const json* byUuid(const std::vector<json>& devices, const std::string& uuid) {
    for (const auto& d : devices)
        if (d.at("serverUUID") == uuid) return &d;
    return nullptr;
}

inline std::string quaysideBin() { return binDir() + "/quayside"; }
inline std::string simBin() { return binDir() + "/vsb-sim"; }

}  // namespace qs::test
