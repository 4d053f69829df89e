#include "config.h"

#include "quayside/records.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>

namespace qs::sim {

using nlohmann::json;

namespace {

struct FaultEntry {
    Fault fault;
    const char* name;
};

// The one table of fault names; a new fault needs an enum value and a row.
constexpr FaultEntry kFaultTable[] = {
    {Fault::WrongMagic, "wrongMagic"},       {Fault::ForeignClient, "foreignClient"},
    {Fault::WrongBodyLen, "wrongBodyLen"},   {Fault::Short, "short"},
    {Fault::ItemLenBelow4, "itemLenBelow4"}, {Fault::ItemPastEnd, "itemPastEnd"},
    {Fault::Duplicate, "duplicate"},         {Fault::Silent, "silent"},
    {Fault::BadThenGood, "badThenGood"},     {Fault::NoReply, "noReply"},
    {Fault::LateReply, "lateReply"},         {Fault::RetCodeZero, "retCodeZero"},
    {Fault::EmptyShareItem, "emptyShareItem"},
};

// Longest text accepted for names and credentials, and for the share list;
// both keep every reply well inside one datagram.
constexpr std::size_t kMaxText = 4096;
constexpr std::size_t kMaxSharesText = 60000;

[[noreturn]] void fail(const std::string& path, const std::string& what) { throw ConfigError(path + ": " + what); }

// A value as it appears in the file, cut short for messages.
std::string shown(const json& v) {
    std::string s = v.dump();
    if (s.size() > 60) s = s.substr(0, 57) + "...";
    return s;
}

std::string member(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string element(const std::string& path, std::size_t i) { return path + "[" + std::to_string(i) + "]"; }

void requireObject(const json& j, const std::string& path) {
    if (!j.is_object()) fail(path.empty() ? "config" : path, "expected an object, got " + shown(j));
}

void rejectUnknownKeys(const json& obj, const std::string& path, std::initializer_list<std::string_view> known) {
    for (const auto& [key, value] : obj.items()) {
        (void)value;
        if (std::find(known.begin(), known.end(), key) == known.end()) fail(member(path, key), "unknown key");
    }
}

const json* find(const json& obj, std::string_view key) {
    auto it = obj.find(std::string(key));
    return it == obj.end() ? nullptr : &*it;
}

const json& required(const json& obj, const std::string& path, std::string_view key) {
    const json* v = find(obj, key);
    if (!v) fail(member(path, key), "missing (required)");
    return *v;
}

std::string textValue(const json& v, const std::string& path, std::size_t maxLen = kMaxText) {
    if (!v.is_string()) fail(path, "expected a string, got " + shown(v));
    std::string s = v.get<std::string>();
    if (s.size() > maxLen) fail(path, "longer than " + std::to_string(maxLen) + " bytes");
    return s;
}

void optionalText(const json& obj, const std::string& path, std::string_view key, std::string& out,
                  std::size_t maxLen = kMaxText) {
    if (const json* v = find(obj, key)) out = textValue(*v, member(path, key), maxLen);
}

void optionalInt(const json& obj, const std::string& path, std::string_view key, int& out, int lo, int hi) {
    const json* v = find(obj, key);
    if (!v) return;
    const std::string where = member(path, key);
    const std::string range = "an integer from " + std::to_string(lo) + " to " + std::to_string(hi);
    if (!v->is_number_integer()) fail(where, "expected " + range + ", got " + shown(*v));
    const auto n = v->get<long long>();
    if (n < lo || n > hi) fail(where, "expected " + range + ", got " + shown(*v));
    out = static_cast<int>(n);
}

void optionalBool(const json& obj, const std::string& path, std::string_view key, bool& out) {
    const json* v = find(obj, key);
    if (!v) return;
    if (!v->is_boolean()) fail(member(path, key), "expected true or false, got " + shown(*v));
    out = v->get<bool>();
}

std::string addressValue(const json& v, const std::string& path) {
    if (!v.is_string()) fail(path, "expected a dotted IPv4 address string, got " + shown(v));
    std::string s = v.get<std::string>();
    if (!isDottedIPv4(s)) fail(path, shown(v) + " is not a dotted IPv4 address");
    return s;
}

void optionalAddress(const json& obj, const std::string& path, std::string_view key, std::string& out) {
    if (const json* v = find(obj, key)) out = addressValue(*v, member(path, key));
}

PortConfig parsePort(const json& j, const std::string& path) {
    requireObject(j, path);
    rejectUnknownKeys(j, path, {"IP", "netmask", "gateway", "dns1", "dns2", "dhcp", "dnsMode"});
    PortConfig p;
    p.IP = addressValue(required(j, path, "IP"), member(path, "IP"));
    p.netmask = addressValue(required(j, path, "netmask"), member(path, "netmask"));
    optionalAddress(j, path, "gateway", p.gateway);
    optionalAddress(j, path, "dns1", p.dns1);
    optionalAddress(j, path, "dns2", p.dns2);
    optionalBool(j, path, "dhcp", p.dhcp);
    optionalInt(j, path, "dnsMode", p.dnsMode, 0, 65535);
    return p;
}

std::vector<PortConfig> parsePorts(const json& j, const std::string& path) {
    if (!j.is_array()) fail(path, "expected an array of one or two ports, got " + shown(j));
    if (j.empty() || j.size() > 2) fail(path, "a device has one or two ports, not " + std::to_string(j.size()));
    std::vector<PortConfig> ports;
    for (std::size_t i = 0; i < j.size(); ++i) ports.push_back(parsePort(j[i], element(path, i)));
    return ports;
}

void parseBonding(const json& obj, const std::string& path, DeviceConfig& d) {
    const json* b = find(obj, "bonding");
    if (!b) return;
    const std::string where = member(path, "bonding");
    requireObject(*b, where);
    rejectUnknownKeys(*b, where, {"enable", "mode"});
    optionalBool(*b, where, "enable", d.bondEnable);
    optionalInt(*b, where, "mode", d.bondMode, 0, 65535);
}

void parseGatewayPort(const json& obj, const std::string& path, DeviceConfig& d) {
    const json* v = find(obj, "defaultGatewayPort");
    if (!v) return;
    const std::string where = member(path, "defaultGatewayPort");
    if (*v == "lan0") d.defaultGatewayPort = 0;
    else if (*v == "lan1") d.defaultGatewayPort = 1;
    else fail(where, "expected \"lan0\" or \"lan1\", got " + shown(*v));
}

void parseReplyMode(const json& obj, const std::string& path, DeviceConfig& d) {
    const json* v = find(obj, "reply");
    if (!v) return;
    if (*v == "group") d.reply = ReplyMode::Group;
    else if (*v == "unicast") d.reply = ReplyMode::Unicast;
    else fail(member(path, "reply"), "expected \"group\" or \"unicast\", got " + shown(*v));
}

void parseUnicastReply(const json& obj, const std::string& path, DeviceConfig& d) {
    const json* v = find(obj, "unicastReply");
    if (!v) return;
    const auto mode = v->is_string() ? unicastReplyFromName(v->get<std::string>()) : std::nullopt;
    if (!mode) fail(member(path, "unicastReply"), "expected \"sender\", \"devicePort\" or \"group\", got " + shown(*v));
    d.unicastReply = *mode;
}

void parseFaults(const json& obj, const std::string& path, DeviceConfig& d) {
    const json* v = find(obj, "faults");
    if (!v) return;
    const std::string where = member(path, "faults");
    if (!v->is_array()) fail(where, "expected an array of fault names, got " + shown(*v));
    for (std::size_t i = 0; i < v->size(); ++i) {
        const json& f = (*v)[i];
        const auto fault = f.is_string() ? faultFromName(f.get<std::string>()) : std::nullopt;
        if (!fault) {
            std::string names;
            for (const auto& e : kFaultTable) names += std::string(names.empty() ? "" : ", ") + e.name;
            fail(element(where, i), shown(f) + " is not a fault (known: " + names + ")");
        }
        if (!d.hasFault(*fault)) d.faults.push_back(*fault);
    }
}

Uuid8 parseServerUUID(const json& obj, const std::string& path) {
    const std::string where = member(path, "serverUUID");
    const json& v = required(obj, path, "serverUUID");
    const auto id = v.is_string() ? uuidFromHex(v.get<std::string>()) : std::nullopt;
    if (!id) fail(where, "expected 16 hex digits, got " + shown(v));
    return *id;
}

// The field that holds a device's server address.
std::string serverAddressPath(const std::string& path, const DeviceConfig& d) {
    return member(element(member(path, "ports"), static_cast<std::size_t>(d.answerPort)), "IP");
}

DeviceConfig parseDevice(const json& j, const std::string& path) {
    requireObject(j, path);
    rejectUnknownKeys(j, path,
                      {"serverUUID", "hostname", "model", "devModel", "ports", "answerPort", "defaultGatewayPort",
                       "bonding", "user", "password", "shares", "reply", "unicastReply", "groupOnly", "delayMs",
                       "restartMs", "lateMs", "faults", "http", "smb", "smbGuest"});
    DeviceConfig d;
    d.serverUUID = parseServerUUID(j, path);
    d.hostname = textValue(required(j, path, "hostname"), member(path, "hostname"));
    d.model = textValue(required(j, path, "model"), member(path, "model"));
    d.devModel = d.model;
    optionalText(j, path, "devModel", d.devModel);
    d.ports = parsePorts(required(j, path, "ports"), member(path, "ports"));
    optionalInt(j, path, "answerPort", d.answerPort, 0, 1);
    if (d.answerPort >= static_cast<int>(d.ports.size()))
        fail(member(path, "answerPort"), "is " + std::to_string(d.answerPort) + " but the device has only " +
                                             std::to_string(d.ports.size()) + " port");
    parseGatewayPort(j, path, d);
    parseBonding(j, path, d);
    optionalText(j, path, "user", d.user);
    optionalText(j, path, "password", d.password);
    optionalText(j, path, "shares", d.shares, kMaxSharesText);
    parseReplyMode(j, path, d);
    parseUnicastReply(j, path, d);
    optionalInt(j, path, "delayMs", d.delayMs, 0, kMaxDelayMs);
    optionalInt(j, path, "restartMs", d.restartMs, 0, kMaxDelayMs);
    optionalInt(j, path, "lateMs", d.lateMs, 0, kMaxDelayMs);
    parseFaults(j, path, d);
    optionalBool(j, path, "http", d.http);
    optionalBool(j, path, "smb", d.smb);
    optionalBool(j, path, "smbGuest", d.smbGuest);
    optionalBool(j, path, "groupOnly", d.groupOnly);
    if (d.hasServers() && !isLoopbackIPv4(d.serverAddress()))
        fail(serverAddressPath(path, d), shown(json(d.serverAddress())) +
                                            " is not a loopback address (127.x.x.x), which \"http\" and \"smb\" need");
    return d;
}

// Two devices cannot serve on one address.
void checkServerAddresses(const std::vector<DeviceConfig>& devices) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (!devices[i].hasServers()) continue;
        for (std::size_t j = 0; j < i; ++j) {
            if (!devices[j].hasServers() || devices[j].serverAddress() != devices[i].serverAddress()) continue;
            fail(serverAddressPath(element("devices", i), devices[i]),
                 shown(json(devices[i].serverAddress())) + " is already the server address of " +
                     element("devices", j));
        }
    }
}

}  // namespace

const std::vector<Fault>& allFaults() {
    static const std::vector<Fault> all = [] {
        std::vector<Fault> v;
        for (const auto& e : kFaultTable) v.push_back(e.fault);
        return v;
    }();
    return all;
}

const char* faultName(Fault f) {
    for (const auto& e : kFaultTable)
        if (e.fault == f) return e.name;
    return "?";
}

std::optional<Fault> faultFromName(std::string_view name) {
    for (const auto& e : kFaultTable)
        if (name == e.name) return e.fault;
    return std::nullopt;
}

const char* replyModeName(ReplyMode m) { return m == ReplyMode::Unicast ? "unicast" : "group"; }

const char* unicastReplyName(UnicastReply m) {
    switch (m) {
    case UnicastReply::Sender: return "sender";
    case UnicastReply::DevicePort: return "devicePort";
    case UnicastReply::Group: return "group";
    }
    return "?";
}

std::optional<UnicastReply> unicastReplyFromName(std::string_view name) {
    for (const UnicastReply m : {UnicastReply::Sender, UnicastReply::DevicePort, UnicastReply::Group})
        if (name == unicastReplyName(m)) return m;
    return std::nullopt;
}

bool DeviceConfig::hasFault(Fault f) const { return std::find(faults.begin(), faults.end(), f) != faults.end(); }

bool DeviceConfig::hasAddress(std::string_view ip) const {
    return std::any_of(ports.begin(), ports.end(), [&](const PortConfig& p) { return p.IP == ip; });
}

bool isLoopbackIPv4(std::string_view text) { return isDottedIPv4(text) && text.substr(0, 4) == "127."; }

bool shareLocked(std::string_view shares, std::string_view name) {
    for (const std::string& token : splitFields(shares, ':', false)) {
        const ShareToken share = readShareToken(token);
        if (share.name == name) return share.isLocked;
    }
    return false;
}

std::vector<std::string> shareNames(std::string_view shares) {
    std::vector<std::string> names;
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    for (const std::string& token : splitFields(shares, ':', false)) {
        std::string name(readShareToken(token).name);
        if (name.empty()) continue;
        // Share names are not case-sensitive to SMB clients.
        const bool seen =
            std::any_of(names.begin(), names.end(), [&](const std::string& n) { return lower(n) == lower(name); });
        if (!seen) names.push_back(std::move(name));
    }
    return names;
}

SimConfig parseConfig(std::string_view jsonText, std::string_view source) {
    json root;
    try {
        root = json::parse(jsonText);
    } catch (const json::exception& e) {  // a syntax error, or a number out of range (1e999)
        throw ConfigError(std::string(source) + ": not valid JSON: " + e.what());
    }
    requireObject(root, "");
    rejectUnknownKeys(root, "", {"devices"});
    const json& list = required(root, "", "devices");
    if (!list.is_array()) fail("devices", "expected an array of devices, got " + shown(list));
    SimConfig config;
    for (std::size_t i = 0; i < list.size(); ++i) config.devices.push_back(parseDevice(list[i], element("devices", i)));
    checkServerAddresses(config.devices);
    return config;
}

SimConfig loadConfigFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ConfigError("cannot read config file " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw ConfigError("cannot read config file " + path);
    return parseConfig(text.str(), path);
}

std::vector<DeviceConfig> labDevices() {
    const std::string volumes = "Volume_1*6:Volume_2@5:Recycle Bin - Volume_1:Recycle Bin - Volume_2";
    auto port = [](std::string ip, std::string gateway) {
        PortConfig p;
        p.IP = std::move(ip);
        p.netmask = "255.255.255.0";
        p.gateway = gateway;
        p.dns1 = std::move(gateway);
        return p;
    };
    // The address a lab device answers from and serves on; the host-local
    // 127/8 net has neither gateway nor name server.
    auto home = [](int n) {
        PortConfig p;
        p.IP = "127.0.0." + std::to_string(n + 2);
        p.netmask = "255.0.0.0";
        return p;
    };
    auto device = [&](const char* uuid, const char* host, const char* model, std::string shares) {
        DeviceConfig d;
        d.serverUUID = *uuidFromHex(uuid);
        d.hostname = host;
        d.model = d.devModel = model;
        d.shares = std::move(shares);
        d.http = d.smb = true;
        return d;
    };

    DeviceConfig single = device("51a0000000000001", "vsb-reception", "VSB-720K", volumes);
    single.ports = {home(0)};
    single.smbGuest = true;  // Volume_2 and its bin admit guests; Volume_1 is locked
    single.reply = ReplyMode::Group;
    single.restartMs = 1000;  // restarts after a settings change, as a box does

    // Answers from its second port, which therefore has the lab address.
    DeviceConfig dual = device("51a0000000000002", "vsb-archive", "VSB-760K", "Public@5:Media*6:Recycle Bin - Public:Recycle Bin - Media");
    dual.ports = {port("192.168.1.30", "192.168.1.1"), home(1)};
    dual.ports[1].dhcp = true;
    dual.answerPort = 1;
    dual.defaultGatewayPort = 1;
    dual.reply = ReplyMode::Unicast;  // every answer to 127.0.0.1:24680
    dual.unicastReply = UnicastReply::DevicePort;

    DeviceConfig bonded = device("51a0000000000003", "vsb-render", "VSB-790K", "Archive@5:Backup@5:Recycle Bin - Archive:Recycle Bin - Backup");
    bonded.ports = {home(2), port("192.168.1.41", "192.168.1.1")};
    bonded.bondEnable = true;
    bonded.bondMode = 4;
    bonded.groupOnly = true;  // so the lab walks the group fallback of the clients

    // Not a model the clients support; it answers like the others.
    DeviceConfig legacy = device("51a0000000000004", "vsb-legacy", "VSB-100X", volumes);
    legacy.ports = {home(3)};

    return {single, dual, bonded, legacy};
}

std::vector<DeviceConfig> generatedDevices(int count) {
    if (count < 1 || count > kMaxGenerated)
        throw ConfigError("generated device count must be from 1 to " + std::to_string(kMaxGenerated));
    std::vector<DeviceConfig> devices;
    devices.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
        DeviceConfig d;
        d.serverUUID = {0x9e, 0x4e, 0, 0, 0, static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8),
                        static_cast<std::uint8_t>(i)};
        char host[16];
        std::snprintf(host, sizeof host, "vsb-%04d", i);
        d.hostname = host;
        // Cycles VSB-720K, VSB-760K, VSB-790K, VSB-720KW.
        const std::size_t kind = static_cast<std::size_t>(i - 1) % kSupportedModels.size();
        d.model = d.devModel = std::string(kSupportedModels[kind]);
        PortConfig p0;
        const auto n = static_cast<std::uint32_t>(i);
        p0.IP = formatDottedIPv4(0x0A000000u + n);  // 10.0.0.1 on
        p0.netmask = "255.0.0.0";
        p0.gateway = p0.dns1 = "10.255.255.254";
        d.ports = {p0};
        if (kind == 1 || kind == 2) {  // the two-port models
            PortConfig p1 = p0;
            p1.IP = formatDottedIPv4(0xAC100000u + n);  // 172.16.0.1 on
            p1.netmask = "255.240.0.0";
            p1.gateway = p1.dns1 = "172.31.255.254";
            d.ports.push_back(p1);
        }
        if (kind == 1) d.answerPort = d.defaultGatewayPort = 1;
        if (kind == 2) {
            d.bondEnable = true;
            d.bondMode = 4;
        }
        devices.push_back(std::move(d));
    }
    return devices;
}

}  // namespace qs::sim
