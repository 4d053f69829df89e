#include "cli_format.h"

#include <cstdio>
#include <sstream>

namespace qs::cli {

nlohmann::json deviceJson(const DeviceData_n& d) {
    nlohmann::json ports = nlohmann::json::array();
    for (const PortBlock& p : d.port) {
        ports.push_back({
            {"IP", p.IP.str()},
            {"netmask", p.netmask.str()},
            {"gateway", p.gateway.str()},
            {"dns1", p.dns1.str()},
            {"dns2", p.dns2.str()},
            {"dhcpEnable", p.dhcpEnable},
            {"dnsMode", p.dnsMode},
        });
    }
    // Names come from the network and need not be valid UTF-8; replace
    // what is not rather than fail the whole line.
    nlohmann::json j = {
        {"serverUUID", toHex(d.serverUUID)},
        {"hostname", d.hostname.str()},
        {"modelName", d.modelName.str()},
        {"ifCount", d.ifCount},
        {"nSendIF", d.nSendIF},
        {"nDefaultGW", d.nDefaultGW},
        {"bondingEnable", d.bondingEnable != 0},
        {"bondingMode", d.bondingMode},
        {"localIfIndex", d.localIfIndex},
        {"ports", ports},
    };
    return j;
}

std::string shareText(std::string_view name, bool isLocked) {
    return std::string(name) + (isLocked ? " (locked)" : "");
}

namespace {
std::string column(std::string_view s, std::size_t width) {
    std::string out(s.substr(0, width));
    out.resize(width + 2, ' ');
    return out;
}
}  // namespace

std::string deviceTable(const DeviceRegistry& devices) {
    std::ostringstream out;
    out << column("SERVER UUID", 16) << column("HOST NAME", 20) << column("MODEL", 10) << column("PORT", 9)
        << column("IP ADDRESS", 15) << column("NETMASK", 15) << column("GATEWAY", 15) << "DHCP\n";
    for (std::size_t i = 0; i < devices.count(); ++i) {
        const DeviceData_n& d = devices.at(i);
        const int shown = d.ifCount >= 2 ? 2 : 1;
        for (int p = 0; p < shown; ++p) {
            const PortBlock& port = d.port[static_cast<std::size_t>(p)];
            std::string label = shown == 1 ? "LAN" : "LAN" + std::to_string(p + 1);
            if (shown == 2 && d.bondingEnable) label = p == 0 ? "LAN1+LAN2" : "";
            if (p == 0)
                out << column(toHex(d.serverUUID), 16) << column(d.hostname.view(), 20)
                    << column(d.modelName.view(), 10);
            else
                out << column("", 16) << column("", 20) << column("", 10);
            out << column(label, 9) << column(port.IP.view(), 15) << column(port.netmask.view(), 15)
                << column(port.gateway.view(), 15) << (port.dhcpEnable ? "yes" : "no") << "\n";
        }
    }
    out << devices.count() << (devices.count() == 1 ? " device found\n" : " devices found\n");
    return out.str();
}

}  // namespace qs::cli

namespace qs::cli {

nlohmann::json lanInformationJson(const LanInformation& info) {
    nlohmann::json ports = nlohmann::json::array();
    for (const auto& p : info.ports)
        ports.push_back({{"label", p.label}, {"IP", p.IP}, {"netmask", p.netmask}, {"gateway", p.gateway}, {"dhcp", p.dhcp}});
    nlohmann::json j = {{"ports", ports}, {"bondingMode", nullptr}, {"ifNum", info.ifNum}};
    if (info.bondingMode) j["bondingMode"] = *info.bondingMode;
    return j;
}

std::string lanInformationText(const LanInformation& info) {
    std::ostringstream out;
    for (const auto& p : info.ports)
        out << p.label << ": address " << p.IP << ", netmask " << p.netmask << ", gateway " << p.gateway << ", DHCP "
            << (p.dhcp ? "on" : "off") << "\n";
    if (info.bondingMode) out << "bonding mode: " << *info.bondingMode << "\n";
    out << "ports: " << info.ifNum << "\n";
    return out.str();
}

}  // namespace qs::cli
