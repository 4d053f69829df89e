#include "cli_format.h"

#include "box_store.h"

#include "quayside/address.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <sstream>
#include <utility>

namespace qs::cli {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

// The code point of the well-formed UTF-8 sequence of two to four bytes at
// `i` (no overlong form, no surrogate, nothing past U+10FFFF) and its
// length; length 0 when there is none.
std::size_t decodeSequence(std::string_view text, std::size_t i, char32_t& cp) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    char32_t least = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2, cp = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, cp = b & 0x0F, least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4, cp = b & 0x07, least = 0x10000;
    }
    bool ok = n != 0 && i + n <= text.size();
    for (std::size_t k = 1; ok && k < n; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        ok = (c & 0xC0) == 0x80;
        cp = (cp << 6) | (c & 0x3F);
    }
    ok = ok && cp >= least && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    return ok ? n : 0;
}

// Characters that show nothing themselves but change how the text around
// them shows, or hide text: direction embeddings, overrides, isolates and
// marks, zero-width characters, line and paragraph separators, the soft
// hyphen, the byte order mark, annotation marks and tags.
bool isFormatCharacter(char32_t cp) {
    return cp == 0xAD || cp == 0x61C || cp == 0x180E || (cp >= 0x200B && cp <= 0x200F) ||
           (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF ||
           (cp >= 0xFFF9 && cp <= 0xFFFB) || (cp >= 0xE0000 && cp <= 0xE007F);
}

// Hex digits of `cp`, at least four.
void appendHex(std::string& out, char32_t cp) {
    int shift = 28;
    while (shift > 12 && (cp >> shift) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) out += kDigits[(cp >> shift) & 15];
}

}  // namespace

std::string escapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char b) {
        out += "\\x";
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (b < 0x20 || b == 0x7F)
                escape(b);
            else
                out += static_cast<char>(b);
            ++i;
            continue;
        }
        // A multi-byte sequence is kept only when it is well formed and
        // encodes neither a C1 control nor a format character.
        char32_t cp = 0;
        const std::size_t n = decodeSequence(text, i, cp);
        if (n == 0 || cp <= 0x9F) {
            escape(b);
            ++i;
            continue;
        }
        if (isFormatCharacter(cp)) {
            out += "\\u{";
            appendHex(out, cp);
            out += '}';
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

std::string jsonLine(const nlohmann::json& j) {
    // Text from the network need not be valid UTF-8: what is not is
    // replaced rather than failing the whole line. The library escapes only
    // the C0 controls; DEL, the C1 controls and the format characters are
    // escaped here, so a terminal showing the line does nothing with them.
    // Only strings hold such characters, and the dump is valid UTF-8.
    const std::string dumped = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string out;
    out.reserve(dumped.size());
    std::size_t i = 0;
    while (i < dumped.size()) {
        char32_t cp = static_cast<unsigned char>(dumped[i]);
        std::size_t n = cp < 0x80 ? 1 : decodeSequence(dumped, i, cp);
        if (n == 0) n = 1;  // not reached: the dump is valid UTF-8
        if (cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || isFormatCharacter(cp)) {
            // Past U+FFFF as a surrogate pair, as JSON writes it.
            const bool pair = cp > 0xFFFF;
            out += "\\u";
            appendHex(out, pair ? 0xD800 + ((cp - 0x10000) >> 10) : cp);
            if (pair) {
                out += "\\u";
                appendHex(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
        } else {
            out.append(dumped, i, n);
        }
        i += n;
    }
    return out;
}

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
        // What the neighbour table said; null when it said nothing.
        {"mac", d.hardware ? nlohmann::json(formatHardwareAddress(*d.hardware)) : nlohmann::json(nullptr)},
        {"jsonVersion", kJsonVersion},
    };
    // Only devices found by a search of their own address say so.
    if (d.byAddress) {
        j["byAddress"] = true;
        j["answeredFrom"] = d.answeredFrom.value_or(Ipv4{}).text();
    }
    // Another answer of the search claims its address, or its serverUUID
    // from elsewhere: the two are listed, and neither is to be trusted.
    if (d.conflict) {
        j["conflict"] = true;
        j["answeredFrom"] = d.answeredFrom.value_or(Ipv4{}).text();
    }
    return j;
}

void sayWhenFull(std::size_t refused) {
    if (refused == 0) return;
    std::cerr << "quayside: the search took " << kMaxDevices << " devices, the most it takes; " << refused
              << " more answers of new devices were not taken\n";
}

std::string shareText(std::string_view name, bool isLocked) {
    return escapeText(name) + (isLocked ? " (locked)" : "");
}

namespace {

// The columns of the device list, with their widths in the table (the last
// one is not padded).
struct Column {
    const char* title;
    std::size_t width;
};
constexpr Column kDeviceColumns[] = {{"SERVER UUID", 16}, {"HOST NAME", 20}, {"MODEL", 10},
                                     {"PORT", 9},         {"IP ADDRESS", 15}, {"NETMASK", 15},
                                     {"GATEWAY", 15},     {"DHCP", 4},        {"MAC ADDRESS", 0}};
constexpr std::size_t kDeviceNameColumns = 3;  // serverUUID, host name, model
constexpr std::size_t kDeviceHardwareColumn = 8;

// One line of the device list: the device's own text, unescaped. A device
// shows one line per reported port; `first` marks the first of them.
struct DeviceRow {
    bool first;
    std::vector<std::string> cells;
};

}  // namespace

std::vector<std::pair<std::string, const PortBlock*>> shownPorts(const DeviceData_n& d) {
    if (d.ifCount < 2) return {{"LAN", &d.port[0]}};
    if (d.bondingEnable) return {{"LAN1+LAN2", &d.port[0]}, {"", &d.port[1]}};
    return {{"LAN1", &d.port[0]}, {"LAN2", &d.port[1]}};
}

namespace {

std::vector<DeviceRow> deviceRows(const DeviceRegistry& devices) {
    std::vector<DeviceRow> rows;
    for (std::size_t i = 0; i < devices.count(); ++i) {
        const DeviceData_n& d = devices.at(i);
        bool first = true;
        for (const auto& [label, p] : shownPorts(d)) {
            const PortBlock& port = *p;
            rows.push_back({std::exchange(first, false),
                            {toHex(d.serverUUID), d.hostname.str(), d.modelName.str(), label, port.IP.str(),
                             port.netmask.str(), port.gateway.str(), port.dhcpEnable ? "yes" : "no",
                             d.hardware ? formatHardwareAddress(*d.hardware) : ""}});
        }
    }
    return rows;
}

// Device text is escaped before it is cut to the column.
std::string column(std::string_view s, std::size_t width) {
    std::string out = escapeText(s);
    if (width == 0) return out;
    out.resize(std::min(out.size(), width));
    out.resize(width + 2, ' ');
    return out;
}

}  // namespace

std::string conflictNote(std::size_t conflicts) {
    if (conflicts == 0) return {};
    return "conflict: " + std::to_string(conflicts) +
           " answers claim an address or a serverUUID that another answer claims too: two boxes may have been "
           "given one address, or a host is answering for a box; check on the boxes themselves";
}

std::string deviceTable(const DeviceRegistry& devices) {
    std::ostringstream out;
    for (const Column& c : kDeviceColumns) out << column(c.title, c.width);
    out << "\n";
    for (const DeviceRow& row : deviceRows(devices)) {
        // A device's later ports leave its name columns and its hardware
        // address blank; a line ends with its last cell that is not.
        std::string line;
        for (std::size_t c = 0; c < row.cells.size(); ++c) {
            const bool own = c >= kDeviceNameColumns && c != kDeviceHardwareColumn;
            line += column(row.first || own ? row.cells[c] : "", kDeviceColumns[c].width);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << "\n";
    }
    std::size_t byAddress = 0, conflicts = 0;
    for (std::size_t i = 0; i < devices.count(); ++i) {
        byAddress += devices.at(i).byAddress ? 1 : 0;
        conflicts += devices.at(i).conflict ? 1 : 0;
    }
    out << devices.count() << (devices.count() == 1 ? " device found" : " devices found");
    if (byAddress != 0) out << ", " << byAddress << " of them only by address";
    out << "\n";
    if (conflicts != 0) out << conflictNote(conflicts) << "\n";
    return out.str();
}

std::optional<OutputFormat> parseOutputFormat(std::string_view name) {
    if (name == "table") return OutputFormat::Table;
    if (name == "json") return OutputFormat::Json;
    if (name == "csv") return OutputFormat::Csv;
    if (name == "tsv") return OutputFormat::Tsv;
    return std::nullopt;
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string separatedRow(OutputFormat format, const std::vector<std::string>& fields) {
    const bool csv = format == OutputFormat::Csv;
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i != 0) out += csv ? ',' : '\t';
        const std::string text = escapeText(fields[i]);
        out += csv ? csvField(text) : text;
    }
    return out + (csv ? "\r\n" : "\n");
}

std::string deviceRecords(const DeviceRegistry& devices, OutputFormat format) {
    std::vector<std::string> header;
    for (const Column& c : kDeviceColumns) header.push_back(c.title);
    std::string out = separatedRow(format, header);
    for (const DeviceRow& row : deviceRows(devices)) out += separatedRow(format, row.cells);
    return out;
}

}  // namespace qs::cli

namespace qs::cli {

nlohmann::json lanInformationJson(const LanInformation& info) {
    nlohmann::json ports = nlohmann::json::array();
    for (std::size_t i = 0; i < info.portCount(); ++i) {
        const auto& p = info.ports[i];
        ports.push_back({{"label", p.label}, {"IP", p.IP}, {"netmask", p.netmask}, {"gateway", p.gateway}, {"dhcp", p.dhcp}});
    }
    nlohmann::json j = {{"ports", ports}, {"bondingMode", nullptr}, {"ifNum", info.ifNum}};
    if (info.bondingMode) j["bondingMode"] = *info.bondingMode;
    return j;
}

std::string lanInformationText(const LanInformation& info) {
    std::ostringstream out;
    for (std::size_t i = 0; i < info.portCount(); ++i) {
        const auto& p = info.ports[i];
        out << escapeText(p.label) << ": address " << escapeText(p.IP) << ", netmask " << escapeText(p.netmask)
            << ", gateway " << escapeText(p.gateway) << ", DHCP " << (p.dhcp ? "on" : "off") << "\n";
    }
    if (info.bondingMode) out << "bonding mode: " << *info.bondingMode << "\n";
    out << "ports: " << info.ifNum << "\n";
    return out.str();
}

}  // namespace qs::cli

namespace qs::cli {

std::string rememberedStatus(const RememberedBox& box, bool live) {
    if (live) return "live";
    std::tm tm{};
    char text[32];
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    if (std::sscanf(box.lastSeen.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second,
                    &zone) == 7 &&
        zone == 'Z') {
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        const std::time_t t = ::timegm(&tm);
        std::tm local{};
        if (t != static_cast<std::time_t>(-1) && ::localtime_r(&t, &local) &&
            std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) != 0)
            return std::string("last seen ") + text;
    }
    // Not as the tool writes it (changed by hand): shown as it is.
    return "last seen " + (box.lastSeen.empty() ? std::string("(unknown)") : box.lastSeen);
}

nlohmann::json rememberedBoxJson(const RememberedBox& box, bool live) {
    nlohmann::json ports = nlohmann::json::array();
    for (const RememberedPort& p : box.ports)
        ports.push_back({{"label", p.label}, {"IP", p.IP}, {"netmask", p.netmask}, {"gateway", p.gateway}});
    return {{"serverUUID", box.serverUUID},
            {"hostname", box.hostname},
            {"modelName", box.modelName},
            {"ports", ports},
            {"mac", box.mac.empty() ? nlohmann::json(nullptr) : nlohmann::json(box.mac)},
            {"answeredFrom", box.answeredFrom},
            {"byAddress", box.byAddress},
            {"firstSeen", box.firstSeen},
            {"lastSeen", box.lastSeen},
            {"live", live},
            {"status", rememberedStatus(box, live)},
            {"jsonVersion", kJsonVersion}};
}

std::string rememberedBoxTable(const std::vector<RememberedBox>& boxes, const std::set<std::string>& live,
                               bool searched) {
    constexpr Column kColumns[] = {{"SERVER UUID", 16}, {"HOST NAME", 20},   {"MODEL", 10}, {"ADDRESS", 15},
                                   {"MAC ADDRESS", 17}, {"FOUND BY", 8}, {"STATUS", 0}};
    std::ostringstream out;
    for (const Column& c : kColumns) out << column(c.title, c.width);
    out << "\n";
    std::size_t liveCount = 0;
    for (const RememberedBox& b : boxes) {
        const bool isLive = live.count(b.serverUUID) != 0;
        liveCount += isLive ? 1 : 0;
        const std::string cells[] = {b.serverUUID, b.hostname, b.modelName, b.answeredFrom, b.mac,
                                     b.byAddress ? "address" : "group", rememberedStatus(b, isLive)};
        for (std::size_t c = 0; c < std::size(cells); ++c) out << column(cells[c], kColumns[c].width);
        out << "\n";
    }
    out << boxes.size() << (boxes.size() == 1 ? " box remembered" : " boxes remembered");
    if (searched) out << ", " << liveCount << " of them live";
    out << "\n";
    return out.str();
}

}  // namespace qs::cli
