// quayside: the command-line face of the device protocol library.
#include "box_store.h"
#include "args.h"
#include "cli_device.h"
#include "cli_format.h"
#include "run_loop_session.h"
#include "device_watch.h"
#include "doctor.h"
#include "quayside/address.h"
#include "quayside/address_change.h"
#include "quayside/credentials.h"
#include "quayside/device_library.h"
#include "quayside_version.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <utility>
#include <unistd.h>

using namespace qs::cli;
using namespace std::chrono_literals;

namespace {

const char* kUsage =
    "usage: quayside <command> [options]\n"
    "       quayside --help | --version\n"
    "\n"
    "commands:\n"
    "  search [--format FORMAT | --json] [--expect N] [--loopback] [--interface ADDR]...\n"
    "         [--host ADDR]... [--no-multicast] [--verbose]\n"
    "      search the LAN for storage devices and list them\n"
    "  watch [--format FORMAT | --json] [--every SECONDS] [--loopback] [--interface ADDR]...\n"
    "        [--host ADDR]... [--no-multicast] [--verbose]\n"
    "      search again and again and print a line when a device appears (new),\n"
    "      changes (changed) or misses two searches in a row (gone); runs until\n"
    "      interrupted (SIGINT or SIGTERM end it with exit code 0)\n"
    "  check-password --device D --user U [--password-file FILE | --password P] [--runloop]\n"
    "                 [--loopback]\n"
    "      check the administrator password; prints accepted or refused\n"
    "  shares --device D --user U [--password-file FILE | --password P] [--json] [--runloop]\n"
    "         [--loopback]\n"
    "      check the password, then list the device's shares\n"
    "  set-lan --device D --user U [--password-file FILE | --password P]\n"
    "          --port LAN|LAN1|LAN2|LAN1+LAN2 (--dhcp | --ip A --netmask M --gateway G)\n"
    "          [--force] [--runloop] [--loopback]\n"
    "      change one LAN port's TCP/IP settings; a static address another host holds\n"
    "      on the link, or one this host would not reach the box at, is refused\n"
    "      (exit 2) unless --force; afterwards says where the box answers\n"
    "  lan-info --device D [--json] [--loopback]\n"
    "      ask the device for its LAN information (older datagram format)\n"
    "  doctor [--host ADDR]... [--loopback] [--verbose]\n"
    "      say what stands between this computer and the boxes, one line each with\n"
    "      what to do (interfaces, firewall, reverse-path filtering, answers that\n"
    "      fail the checks, a box on no subnet of this computer), then how many\n"
    "      boxes answered; exit code 0 when a box answered, 1 when none did;\n"
    "      --verbose lists each answer it dropped\n"
    "  The four device commands take --host ADDR... and --no-multicast as search does,\n"
    "  to reach a device beyond a router.\n"
    "  boxes [--json] [--loopback] [--interface ADDR]... [--host ADDR]... [--verbose]\n"
    "      search once, then list the remembered boxes, each \"live\" when it answered\n"
    "      that search, else \"last seen\" with the date and local time it last did\n"
    "      (with --no-remember: the list as it is, without a search)\n"
    "  forget DEVICE\n"
    "      remove one box from the remembered boxes (DEVICE: its serverUUID, host name,\n"
    "      port-0 address or the address it answered from)\n"
    "  Every search remembers the boxes it found, in $XDG_STATE_HOME/quayside/boxes.json\n"
    "  (~/.local/state/quayside/boxes.json without XDG_STATE_HOME), and asks the boxes\n"
    "  it found by address (--host) at that address again, so a box beyond a router\n"
    "  is found again without --host (not with --no-multicast).\n"
    "\n"
    "options:\n"
    "  --device D         serverUUID (16 hex digits), host name, or port-0 address\n"
    "  --password-file FILE\n"
    "                     read the password from the first line of FILE (- for standard\n"
    "                     input); the line end is not part of it\n"
    "  --password P       the password itself; other local users can see it in the\n"
    "                     process list. Without either option the password is read from\n"
    "                     the terminal (no echo) or from the first line of standard input\n"
    "  --format FORMAT    table (the default; watch: readable lines), json, csv or tsv.\n"
    "                     csv and tsv print a header line, then one record per line\n"
    "                     (search: the table's columns, one record per port it shows;\n"
    "                     watch: the keys of its JSON lines, one record per event);\n"
    "                     csv is quoted as RFC 4180 says, with CRLF line ends, tsv\n"
    "                     has LF line ends; device text is escaped as below, so no\n"
    "                     tab or line end of a device's ever splits a record\n"
    "  --json             the same as --format json: JSON output, one object per line\n"
    "                     (watch: the device's search record with \"localInterface\",\n"
    "                     \"event\" and, for changed, \"fields\"); every line carries\n"
    "                     \"jsonVersion\" (the manual page lists the keys)\n"
    "  --expect N         search: exit with code 6 when fewer than N boxes (N at least\n"
    "                     1, counted by serverUUID) answered; the list is printed anyway\n"
    "  --every SECONDS    time from one watch search to the next (default 10, at least 3)\n"
    "  --runloop          use the run-loop engine instead of the blocking calls\n"
    "  --loopback         use the loopback lab (127.0.0.1, multicast loopback on)\n"
    "  --interface ADDR   search only on the local interface with this address (repeatable)\n"
    "  --host ADDR        also search this address, or block a.b.c.d/N of at most 1024\n"
    "                     addresses, by unicast (repeatable, at most 4096 addresses in\n"
    "                     all; not 0.0.0.0/8, multicast, 240.0.0.0/4 or 255.255.255.255,\n"
    "                     nor 127.0.0.0/8 without --loopback; at most 1000 requests a\n"
    "                     second): finds devices beyond a router, where the multicast\n"
    "                     search does not reach. Operations on a device found only this\n"
    "                     way go by unicast to its address (JSON: \"byAddress\": true)\n"
    "  --no-multicast     search only the --host addresses\n"
    "  --no-remember      every command but forget: neither read nor change the\n"
    "                     remembered boxes\n"
    "  --verbose          say on standard error what the sockets could not be given\n"
    "                     (a socket option refused, a smaller receive buffer);\n"
    "                     watch also says how many devices each search found\n"
    "\n"
    "Text from a device is shown with control characters and bytes that are not\n"
    "UTF-8 written as \\xNN, and invisible format characters (direction controls,\n"
    "zero-width characters, soft hyphen, tags) as \\u{XXXX} (hex code point); --json\n"
    "output carries it as JSON strings, with DEL, the C1 controls and those format\n"
    "characters written as \\uXXXX like the other controls.\n"
    "\n"
    "exit codes: 0 done, 1 refused by the device, doctor: no box answered (or the output\n"
    "            could not be written),\n"
    "            2 usage error (an unreadable password file too; set-lan: an address\n"
    "            refused before anything was sent), 3 no answer in time,\n"
    "            4 device not found (or --device names answers in conflict; forget: no\n"
    "            such remembered box), 5 sockets could not be opened (boxes, forget: the\n"
    "            remembered boxes could not be read or changed), 6 fewer boxes answered\n"
    "            than --expect asked for\n";

constexpr auto kRunLoopAnswerWait = 6s;
constexpr auto kRunLoopSearchTime = 2s;

// Messages may carry device text (a host name); they are escaped like the
// rest of the text output.
int usageError(const std::string& message) {
    std::cerr << "quayside: " << escapeText(message) << "\n" << "Try 'quayside --help'.\n";
    return kExitUsage;
}

int failure(int code, const std::string& message) {
    std::cerr << "quayside: " << escapeText(message) << "\n";
    return code;
}

// Everything a command printed has reached standard output, or the command
// ends with exit code 1 (unless it failed already) and says why.
int checkOutput(int rc) {
    errno = 0;
    std::cout.flush();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout) return rc;
    return failure(rc == kExitOk ? kExitOutputFailed : rc,
                   std::string("cannot write the output: ") + (errno != 0 ? std::strerror(errno) : "the write failed"));
}

void verboseLine(const std::string& line) { std::cerr << "quayside: " << escapeText(line) << "\n"; }

// Progress on stderr, only for a person watching a terminal.
class ProgressLine {
public:
    ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() { finish(); }
    void show(int iface, int ifaceCount, const std::string& address, std::size_t found) {
        if (!enabled_) return;
        std::fprintf(stderr, "\r\033[Ksearching %s (interface %d of %d): %zu found", address.c_str(), iface + 1,
                     ifaceCount, found);
        std::fflush(stderr);
        shown_ = true;
    }
    void finish() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
};

// Everything a command was asked to do, checked.
struct Request {
    std::string command;
    qs::cli::OutputFormat format = qs::cli::OutputFormat::Table;
    std::optional<std::uint64_t> expect;
    bool runloop = false;
    bool verbose = false;
    qs::TransportOptions transport;
    qs::SearchTargets targets;
    std::string device;
    std::string user;
    std::optional<std::string> password, passwordFile;
    std::string port;
    bool dhcp = false;
    bool json = false;  // the device commands' --json
    std::string ip, netmask, gateway;
    bool force = false;
    std::chrono::seconds every{10};
    bool remember = true;  // off with --no-remember
};

std::optional<int> parseRequest(int argc, char** argv, Request& req) {
    req.command = argv[1];
    std::set<std::string> flags{"--loopback", "--verbose", "--no-multicast", "--no-remember"},
        options{"--device", "--host"};
    if (req.command == "forget") {
        if (argc < 3 || argv[2][0] == '-') return usageError("forget needs the DEVICE to forget");
        req.device = argv[2];
        Args args;
        if (!args.parse(argc, argv, 3, {"--no-remember"}, {})) return usageError(args.error());
        if (args.has("--no-remember"))
            return usageError("forget changes the remembered boxes; it takes no --no-remember");
        return std::nullopt;
    }
    if (req.command == "doctor") {
        flags = {"--verbose", "--loopback", "--no-remember"};
        options = {"--host"};
    } else if (req.command == "boxes") {
        flags = {"--json", "--loopback", "--verbose", "--no-remember"};
        options = {"--interface", "--host"};
    } else if (req.command == "search" || req.command == "watch") {
        flags = {"--json", "--loopback", "--verbose", "--no-multicast", "--no-remember"};
        options = {"--interface", "--host", "--format"};
        options.insert(req.command == "watch" ? "--every" : "--expect");
    } else if (req.command == "check-password") {
        flags.insert("--runloop");
        options.insert({"--user", "--password", "--password-file"});
    } else if (req.command == "shares") {
        flags.insert({"--runloop", "--json"});
        options.insert({"--user", "--password", "--password-file"});
    } else if (req.command == "set-lan") {
        flags.insert({"--runloop", "--dhcp", "--force"});
        options.insert({"--user", "--password", "--password-file", "--port", "--ip", "--netmask", "--gateway"});
    } else if (req.command == "lan-info") {
        flags.insert("--json");
    } else {
        return usageError("unknown command '" + req.command + "'");
    }
    Args args;
    if (!args.parse(argc, argv, 2, flags, options)) return usageError(args.error());
    for (const auto& name : options)
        if (args.count(name) > 1 && name != "--interface" && name != "--host")
            return usageError(name + " given more than once");
    // The parser's copy of a password goes at once.
    req.password = args.value("--password");
    args.forget("--password");
    if (const auto name = args.value("--format")) {
        const auto format = parseOutputFormat(*name);
        if (!format) return usageError("--format needs table, json, csv or tsv, not '" + *name + "'");
        if (args.has("--json") && *format != OutputFormat::Json)
            return usageError("--json is --format json; it cannot be given with --format " + *name);
        req.format = *format;
    } else if (args.has("--json")) {
        req.format = OutputFormat::Json;
    }
    req.json = args.has("--json");
    req.remember = !args.has("--no-remember");
    req.runloop = args.has("--runloop") || req.command == "lan-info";
    req.transport.loopbackLab = args.has("--loopback");
    req.verbose = args.has("--verbose");
    if (req.verbose) req.transport.log = verboseLine;
    // An interface left deaf is said with or without --verbose (once: the
    // verbose line already says it).
    else req.transport.onWarning = verboseLine;
    for (const auto& addr : args.values("--interface")) {
        if (!qs::isDottedIPv4(addr)) return usageError("--interface needs a dotted IPv4 address, not '" + addr + "'");
        req.transport.onlyAddresses.push_back(addr);
    }
    {
        std::string why;
        const qs::TargetRules rules{.maxBlock = qs::kMaxTargetBlock, .loopback = req.transport.loopbackLab};
        auto hosts = qs::parseHostTargetList(args.values("--host"), rules, &why);
        if (!hosts) return usageError("--host: " + why);
        req.targets.hosts = std::move(*hosts);
    }
    req.targets.multicast = !args.has("--no-multicast");
    if (!req.targets.multicast && req.targets.hosts.empty()) return usageError("--no-multicast needs --host");
    if (req.command == "doctor" || req.command == "boxes") return std::nullopt;
    if (req.command == "search") {
        if (const auto expect = args.value("--expect")) {
            std::uint64_t n = 0;
            const char* end = expect->data() + expect->size();
            const auto [stop, error] = std::from_chars(expect->data(), end, n);
            if (error == std::errc::result_out_of_range && stop == end)
                return usageError("--expect: '" + *expect + "' is too large");
            if (error != std::errc() || stop != end || n < 1)
                return usageError("--expect needs a whole number of boxes, at least 1, not '" + *expect + "'");
            req.expect = n;
        }
        return std::nullopt;
    }
    if (req.command == "watch") {
        if (const auto every = args.value("--every")) {
            const bool digits = !every->empty() && every->size() <= 6 &&
                                every->find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoi(*every) < 3)
                return usageError("--every needs a whole number of seconds, at least 3, not '" + *every + "'");
            req.every = std::chrono::seconds(std::stoi(*every));
        }
        return std::nullopt;
    }

    req.device = args.value("--device").value_or("");
    if (req.device.empty()) return usageError(req.command + " needs --device");
    if (req.command == "lan-info") return std::nullopt;

    req.user = args.value("--user").value_or("");
    if (req.user.empty()) return usageError(req.command + " needs --user");
    if (req.runloop && req.user != "admin")
        return usageError("the run-loop engine always signs in as admin; --user must be admin with --runloop");
    req.passwordFile = args.value("--password-file");
    if (req.password && req.passwordFile) return usageError("give --password or --password-file, not both");

    if (req.command == "set-lan") {
        req.port = args.value("--port").value_or("");
        if (req.port != "LAN" && req.port != "LAN1" && req.port != "LAN2" && req.port != "LAN1+LAN2")
            return usageError("--port needs LAN, LAN1, LAN2 or LAN1+LAN2");
        req.dhcp = args.has("--dhcp");
        req.force = args.has("--force");
        const bool anyStatic = args.has("--ip") || args.has("--netmask") || args.has("--gateway");
        if (req.dhcp && anyStatic) return usageError("--dhcp takes no --ip, --netmask or --gateway");
        if (!req.dhcp) {
            for (const char* name : {"--ip", "--netmask", "--gateway"}) {
                const auto v = args.value(name);
                if (!v) return usageError(std::string("set-lan needs --dhcp, or --ip, --netmask and --gateway"));
                if (!qs::isDottedIPv4(*v)) return usageError(std::string(name) + " needs a dotted IPv4 address, not '" + *v + "'");
            }
            req.ip = *args.value("--ip");
            req.netmask = *args.value("--netmask");
            req.gateway = *args.value("--gateway");
        }
    }
    return std::nullopt;
}

// Finds the one device the request names; an exit code when there is not
// exactly one.
std::optional<int> pickDevice(const Request& req, const std::vector<const qs::DeviceData_n*>& devices,
                              std::size_t& index) {
    const auto matches = matchDevices(devices, req.device);
    if (matches.empty()) return failure(kExitNotFound, "no device '" + req.device + "' answered the search");
    if (matches.size() > 1 &&
        std::any_of(matches.begin(), matches.end(), [&](std::size_t i) { return devices[i]->conflict; }))
        return failure(kExitNotFound, "'" + req.device + "' names " + std::to_string(matches.size()) +
                                          " answers that claim one address or serverUUID: two boxes may have been "
                                          "given one address, or a host is answering for a box; nothing was sent");
    if (matches.size() > 1) return usageError("'" + req.device + "' names " + std::to_string(matches.size()) +
                                              " devices; give its serverUUID instead");
    index = matches.front();
    return std::nullopt;
}

std::optional<int> checkPort(const Request& req, const qs::DeviceData_n& d) {
    const auto labels = portLabels(d);
    if (std::find(labels.begin(), labels.end(), req.port) != labels.end()) return std::nullopt;
    std::string list;
    for (const auto& l : labels) list += (list.empty() ? "" : ", ") + l;
    return usageError("device '" + d.hostname.str() + "' has no port " + req.port + " (its ports: " + list + ")");
}

// Before a static address goes to a box: no other host on the link holds
// it, and this host will still reach the box there. Either stops the
// change (exit 2) unless --force.
std::optional<int> checkNewAddress(const Request& req, const qs::DeviceData_n& d) {
    if (req.dhcp) return std::nullopt;
    const auto target = qs::parseDottedIPv4(req.ip);
    if (!target) return std::nullopt;
    const qs::AddressChangeCheck check = qs::checkAddressChange(d, qs::chooseSettingsPort(d, req.port), *target);
    if (check.verdict == qs::AddressChangeCheck::Verdict::Unchecked)
        std::cerr << "quayside: " << escapeText(check.text) << "\n";
    if (!check.stops()) return std::nullopt;
    if (req.force) {
        std::cerr << "quayside: " << escapeText(check.text) << " (going ahead: --force)\n";
        return std::nullopt;
    }
    return failure(kExitUsage, check.text + " Nothing was sent; give --force to change it anyway.");
}

// After an accepted change: where the box answers now. `searchOnce` runs
// one search (asking `asked` by unicast besides the group) and gives the
// address the box answered from, if it did.
void sayWhereTheBoxIs(const std::string& name, std::optional<std::uint32_t> asked,
                      const std::function<std::optional<std::uint32_t>()>& searchOnce) {
    const auto deadline = std::chrono::steady_clock::now() + qs::kFollowUpLimit;
    std::optional<std::uint32_t> at;
    while (!at && std::chrono::steady_clock::now() < deadline) at = searchOnce();
    std::cerr << "quayside: " << escapeText(qs::whereTheBoxAnswers(name, asked, at)) << "\n";
}

// Overwrites a password when the scope that used it ends.
struct ClearAtEnd {
    std::string& secret;
    ~ClearAtEnd() { qs::secureClear(secret); }
};

int outcomeExit(qs::Outcome o) {
    switch (o) {
        case qs::Outcome::Accepted: std::cout << "accepted\n"; return kExitOk;
        case qs::Outcome::Refused: std::cout << "refused\n"; return kExitRefused;
        case qs::Outcome::NoAnswer: return failure(kExitNoAnswer, "the device did not answer in time");
        case qs::Outcome::UnknownDevice: return failure(kExitNotFound, "the device is not in the registry");
    }
    return kExitNoAnswer;
}

// ---- remembered boxes ---------------------------------------------------

// The remembered boxes; none with --no-remember (but for boxes, which then
// reads them), or without a home directory (said once).
std::optional<BoxStore> gBoxes;

void openBoxStore(const Request& req) {
    if (!req.remember && req.command != "boxes") return;
    std::string why;
    const auto path = defaultBoxStorePath(&why);
    if (!path) {
        std::cerr << "quayside: cannot keep the list of boxes (" << escapeText(why) << ")\n";
        return;
    }
    gBoxes.emplace(*path, [](const std::string& line) { std::cerr << "quayside: " << escapeText(line) << "\n"; });
}

// The addresses of the boxes found by address before, which every search
// asks again: the loopback lab's with --loopback, the others without it.
std::vector<std::uint32_t> rememberedAddresses(const Request& req) {
    std::vector<RememberedBox> boxes;
    if (!req.remember || !gBoxes || !req.targets.multicast || !gBoxes->load(boxes)) return {};
    std::vector<std::uint32_t> out;
    for (const RememberedBox& b : boxes) {
        const auto a = qs::parseDottedIPv4(b.answeredFrom);
        if (!b.byAddress || !a || qs::whyNoTarget(*a, req.transport.loopbackLab)) continue;
        if (((*a >> 24) == 127) != req.transport.loopbackLab) continue;
        if (out.size() + req.targets.hosts.size() < qs::kMaxTargetsInAll) out.push_back(*a);
    }
    return out;
}

// Takes what a search found into the remembered boxes.
void remember(const Request& req, const std::vector<const qs::DeviceData_n*>& found) {
    if (!req.remember || !gBoxes || found.empty()) return;
    const std::string now = isoTimeUtc(static_cast<long long>(std::time(nullptr)));
    gBoxes->update([&](std::vector<RememberedBox>& boxes) {
        rememberFound(boxes, found, now);
        return true;
    });
}

std::vector<const qs::DeviceData_n*> registryList(const qs::DeviceRegistry& devices) {
    std::vector<const qs::DeviceData_n*> list;
    for (std::size_t i = 0; i < devices.count(); ++i) list.push_back(&devices.at(i));
    return list;
}

// ---- blocking form ----------------------------------------------------

// Where a search of this command goes: the command's targets and the
// boxes remembered as found by address (the list read again each time:
// another run may have found one meanwhile).
qs::SearchTargets searchTargets(const Request& req) {
    qs::SearchTargets targets = req.targets;
    targets.remembered = rememberedAddresses(req);
    return targets;
}

bool runSearch(const Request& req, qs::DeviceLibrary& lib, const qs::SearchTargets& targets) {
    ProgressLine progress;
    const int count = lib.link()->interfaceCount();
    const bool ran = lib.SearchDevices(targets, [&](int i, const std::string& address, std::size_t found) {
        progress.show(i, count, address, found);
    });
    progress.finish();
    sayWhenFull(lib.lastSearch().refusedAsFull);
    remember(req, registryList(lib.devices));
    return ran;
}
bool runSearch(const Request& req, qs::DeviceLibrary& lib) { return runSearch(req, lib, searchTargets(req)); }

int openBlocking(const Request& req, qs::DeviceLibrary& lib) {
    std::string error;
    if (!lib.openSockets(req.transport, &error)) return usageError(error);
    if (const auto* t = dynamic_cast<const qs::SocketTransport*>(lib.link()); t && !t->hearsAnything()) {
        std::cerr << "quayside: cannot open any socket on port " << qs::kDevicePort
                  << " to hear the boxes (see the messages above)\n";
        lib.closeSockets();
        return kExitLocalFailure;
    }
    return kExitOk;
}

int cmdSearch(const Request& req) {
    qs::DeviceLibrary lib;
    if (int rc = openBlocking(req, lib); rc != kExitOk) return rc;
    runSearch(req, lib);
    const auto& devices = lib.devices;
    std::size_t conflicts = 0;
    std::set<qs::Uuid8> boxes;
    for (std::size_t i = 0; i < devices.count(); ++i) {
        conflicts += devices.at(i).conflict ? 1 : 0;
        boxes.insert(devices.at(i).serverUUID);
    }
    switch (req.format) {
        case OutputFormat::Table: std::cout << deviceTable(devices); break;
        case OutputFormat::Json:
            for (std::size_t i = 0; i < devices.count(); ++i) std::cout << jsonLine(deviceJson(devices.at(i))) << "\n";
            break;
        case OutputFormat::Csv:
        case OutputFormat::Tsv:
            std::cout << deviceRecords(devices, req.format);
            // The table says this under the list; these formats have no room for it.
            if (conflicts != 0) std::cerr << "quayside: " << conflictNote(conflicts) << "\n";
            break;
    }
    lib.closeSockets();
    // Answers in conflict under one serverUUID count once.
    if (req.expect && boxes.size() < *req.expect)
        return failure(kExitTooFew, std::to_string(boxes.size()) + (boxes.size() == 1 ? " box" : " boxes") +
                                        " answered, fewer than the " + std::to_string(*req.expect) + " expected");
    return kExitOk;
}

int blockingCommand(const Request& req, const std::string& password) {
    qs::DeviceLibrary lib;
    if (int rc = openBlocking(req, lib); rc != kExitOk) return rc;
    const qs::SearchTargets targets = searchTargets(req);
    runSearch(req, lib, targets);
    const std::vector<const qs::DeviceData_n*> list = registryList(lib.devices);
    std::size_t index = 0;
    if (auto rc = pickDevice(req, list, index)) return *rc;
    const qs::DeviceData_n& device = lib.devices.at(index);
    const qs::Uuid8 box = device.serverUUID;
    const qs::Credentials who{req.user, password};

    if (req.command == "check-password") return outcomeExit(lib.checkPassword(box, who));
    if (req.command == "shares") {
        const qs::Outcome auth = lib.checkPassword(box, who);
        if (auth != qs::Outcome::Accepted) return outcomeExit(auth);
        const qs::Outcome o = lib.getShareList(box, who);
        if (o != qs::Outcome::Accepted) return outcomeExit(o);
        // The device's tokens in its order, recycle bins included.
        for (const auto& token : lib.shares.names()) {
            const qs::ShareToken share = qs::readShareToken(token);
            std::cout << (req.json ? jsonLine({{"name", share.name}, {"isLocked", share.isLocked}, {"token", token}})
                                   : shareText(share.name, share.isLocked))
                      << "\n";
        }
        return kExitOk;
    }
    // set-lan
    if (auto rc = checkPort(req, device)) return *rc;
    if (auto rc = checkNewAddress(req, device)) return *rc;
    qs::LanSettings settings{.portLabel = req.port, .dhcp = req.dhcp};
    if (req.dhcp) {
        // The address fields keep what the port has; the device takes its
        // addresses from DHCP.
        const auto& p = device.port[static_cast<std::size_t>(qs::chooseSettingsPort(device, req.port))];
        settings.address = p.IP.address();
        settings.netmask = p.netmask.address();
        settings.gateway = p.gateway.address();
    } else {
        settings.address = qs::Ipv4::parse(req.ip);
        settings.netmask = qs::Ipv4::parse(req.netmask);
        settings.gateway = qs::Ipv4::parse(req.gateway);
    }
    // The password first, as both programs ask it before a change: a wrong
    // one is said as such, and the way the box answers is known before the
    // change, which goes out once.
    if (const qs::Outcome auth = lib.checkPassword(box, who); auth != qs::Outcome::Accepted) return outcomeExit(auth);
    const std::string name = device.hostname.str();
    const int rc = outcomeExit(lib.setLanConfig(box, who, settings));
    if (rc != kExitOk) return rc;
    const auto asked = req.dhcp ? std::nullopt : qs::parseDottedIPv4(req.ip);
    // Asked at its new address by unicast first, then through the group too.
    bool atAsked = true;
    sayWhereTheBoxIs(name, asked, [&]() -> std::optional<std::uint32_t> {
        qs::SearchTargets again = targets;
        if (asked && std::exchange(atAsked, !atAsked))
            again = qs::SearchTargets{.hosts = {*asked}, .multicast = false};
        else if (asked)
            again.hosts.push_back(*asked);
        runSearch(req, lib, again);
        const qs::DeviceData_n* moved = lib.devices.FindDevice(box);
        return moved ? std::optional(qs::hostOrderOf(moved->answeredFrom)) : std::nullopt;
    });
    return rc;
}

int cmdWatch(const Request& req) {
    qs::DeviceLibrary lib;
    if (int rc = openBlocking(req, lib); rc != kExitOk) return rc;
    std::string why;
    // The list is read again before each search: another run may have
    // found a box by address meanwhile.
    const auto targets = [&] { return searchTargets(req); };
    const auto after = [&](const qs::DeviceRegistry& devices) { remember(req, registryList(devices)); };
    const WatchEnd end = runWatch(lib, req.every, req.format, std::cout, STDOUT_FILENO,
                                  req.verbose ? verboseLine : nullptr, &why, targets, after);
    lib.closeSockets();
    switch (end) {
        case WatchEnd::Stopped: return kExitOk;
        case WatchEnd::SetupFailed: return failure(kExitLocalFailure, why);
        case WatchEnd::OutputFailed: return failure(kExitOutputFailed, "cannot write the output: " + why);
    }
    return kExitLocalFailure;
}

// One search and a look at this computer: what stands between it and the
// boxes, one line each, then how many boxes answered.
int cmdDoctor(const Request& req) {
    DoctorFacts facts;
    std::string why;
    if (auto interfaces = gatherInterfaces(facts.upWithoutIPv4, &why))
        facts.interfaces = std::move(*interfaces);
    else
        std::cerr << "quayside: cannot list the network interfaces: " << escapeText(why) << "\n";
    facts.routeBeyond = hasRouteBeyond();
    // The lab answers on loopback only: the other interfaces are not looked at.
    facts.loopbackLab = req.transport.loopbackLab;
    facts.verbose = req.verbose;
    if (facts.loopbackLab) {
        std::erase_if(facts.interfaces, [](const InterfaceFacts& i) { return !i.loopback; });
        facts.upWithoutIPv4.clear();
    }
    facts.firewall = gatherFirewall();
    std::string error;
    qs::DeviceLibrary lib;
    if (!lib.openSockets(req.transport, &error)) {
        facts.search.whyNot = error;
    } else {
        ProgressLine progress;
        const int count = lib.link()->interfaceCount();
        facts.search = searchOnce(lib, searchTargets(req), req.verbose ? verboseLine : nullptr,
                                  [&](int i, const std::string& address, std::size_t found) {
                                      progress.show(i, count, address, found);
                                  });
        progress.finish();
        remember(req, registryList(lib.devices));
        lib.closeSockets();
    }
    const DoctorReport report = judge(facts);
    for (const auto& line : report.findings) std::cout << escapeText(line) << "\n";
    std::cout << report.summary << "\n";
    return report.exitCode;
}

// ---- run-loop form ----------------------------------------------------

int runLoopCommand(const Request& req, const std::string& password) {
    RunLoopSession session(req.transport.loopbackLab, req.verbose);
    std::string why;
    if (!session.ok(&why)) return failure(kExitLocalFailure, why);
    session.search(kRunLoopSearchTime, req.targets.hosts, req.targets.multicast, rememberedAddresses(req));
    auto& engine = session.engine();
    std::vector<const qs::DeviceData_n*> list;
    for (const auto& d : engine.serverArray()) list.push_back(d.get());
    remember(req, list);
    std::size_t index = 0;
    if (auto rc = pickDevice(req, list, index)) return *rc;
    std::shared_ptr<qs::DeviceData_n> device = engine.serverArray()[index];

    if (req.command == "lan-info") {
        std::optional<qs::LanInformation> answer;
        engine.onLanInformation = [&](const qs::LanInformation& info) {
            if (info.serverUUID == device->serverUUID) answer = info;
        };
        engine.sendPackage(qs::kLegacyItemQuery, qs::kLanInformationItem, *device);
        if (!session.waitFor([&] { return answer.has_value(); }, kRunLoopAnswerWait))
            return failure(kExitNoAnswer, "the device did not answer in time");
        std::cout << (req.json ? jsonLine(lanInformationJson(*answer)) + "\n" : lanInformationText(*answer));
        return kExitOk;
    }

    device->password = password;
    const ClearAtEnd clearDevicePassword{device->password};
    session.target = device;
    if (req.command == "set-lan") {
        if (auto rc = checkPort(req, *device)) return *rc;
        if (auto rc = checkNewAddress(req, *device)) return *rc;
        const int p = qs::chooseSettingsPort(*device, req.port);
        device->ifEdited = p;
        qs::PortBlock& port = device->port[static_cast<std::size_t>(p)];
        port.dhcpEnable = req.dhcp;
        if (!req.dhcp) {
            port.IP = req.ip;
            port.netmask = req.netmask;
            port.gateway = req.gateway;
        }
        session.action = qs::CalledAction::Apply;
    } else {
        session.action = qs::CalledAction::ListVolumes;
        engine.volumeArray().clear();
    }
    engine.sendPackage(qs::op_CHK_PASSWD, device.get());
    using Auth = RunLoopSession::Auth;
    if (!session.waitFor([&] { return session.auth != Auth::Pending; }, kRunLoopAnswerWait))
        return failure(kExitNoAnswer, "the device did not answer in time");
    if (session.auth == Auth::Refused) return outcomeExit(qs::Outcome::Refused);
    if (req.command == "check-password") return outcomeExit(qs::Outcome::Accepted);

    if (req.command == "shares") {
        if (!session.waitFor([&] { return session.volumesLoaded; }, kRunLoopAnswerWait))
            return failure(kExitNoAnswer, "the device did not send its share list in time");
        for (const auto& v : engine.volumeArray())
            std::cout << (req.json ? jsonLine({{"name", v.name}, {"isLocked", v.isLocked}})
                                   : shareText(v.name, v.isLocked)) << "\n";
        return kExitOk;
    }
    if (!session.waitFor([&] { return session.settingsAnswered; }, kRunLoopAnswerWait))
        return failure(kExitNoAnswer, "the device did not answer the settings change in time");
    const bool accepted = engine.lastSetLanReturnCode.value_or(0) == 1;
    const int rc = outcomeExit(accepted ? qs::Outcome::Accepted : qs::Outcome::Refused);
    if (rc != kExitOk) return rc;
    const qs::Uuid8 id = device->serverUUID;
    const auto asked = req.dhcp ? std::nullopt : qs::parseDottedIPv4(req.ip);
    std::vector<std::uint32_t> hosts = req.targets.hosts;
    if (asked) hosts.push_back(*asked);
    bool atAsked = true;
    sayWhereTheBoxIs(device->hostname.str(), asked, [&]() -> std::optional<std::uint32_t> {
        // Asked at its new address by unicast first, then through the group too.
        if (asked && std::exchange(atAsked, !atAsked))
            session.search(kRunLoopSearchTime, {*asked}, false);
        else
            session.search(kRunLoopSearchTime, hosts, req.targets.multicast);
        std::vector<const qs::DeviceData_n*> found;
        for (const auto& d : engine.serverArray()) found.push_back(d.get());
        remember(req, found);
        for (const auto& d : engine.serverArray())
            if (d->serverUUID == id) return qs::hostOrderOf(d->answeredFrom);
        return std::nullopt;
    });
    return rc;
}

// ---- the remembered boxes ----------------------------------------------

int cmdBoxes(const Request& req) {
    // Which boxes answer now: one search, unless the list is only read.
    std::set<std::string> live;
    const bool searching = req.remember && gBoxes;
    if (searching) {
        qs::DeviceLibrary lib;
        if (int rc = openBlocking(req, lib); rc != kExitOk) return rc;
        runSearch(req, lib);
        for (const qs::DeviceData_n* d : registryList(lib.devices))
            if (!d->conflict) live.insert(qs::toHex(d->serverUUID));
        lib.closeSockets();
    }
    std::vector<RememberedBox> boxes;
    if (!gBoxes || !gBoxes->load(boxes)) return failure(kExitLocalFailure, "cannot read the remembered boxes");
    if (req.json) {
        for (const RememberedBox& b : boxes)
            std::cout << jsonLine(rememberedBoxJson(b, live.count(b.serverUUID) != 0)) << "\n";
        return kExitOk;
    }
    std::cout << rememberedBoxTable(boxes, live, searching);
    return kExitOk;
}

int cmdForget(const Request& req) {
    if (!gBoxes) return failure(kExitLocalFailure, "cannot change the remembered boxes");
    std::vector<std::size_t> matches;
    RememberedBox gone;
    const bool ok = gBoxes->update([&](std::vector<RememberedBox>& boxes) {
        matches = matchRemembered(boxes, req.device);
        if (matches.size() != 1) return false;
        gone = boxes[matches.front()];
        boxes.erase(boxes.begin() + static_cast<long>(matches.front()));
        return true;
    });
    if (!ok) return failure(kExitLocalFailure, "cannot change the remembered boxes");
    if (matches.empty())
        return failure(kExitNotFound, "no remembered box '" + req.device + "' ('quayside boxes' lists them)");
    if (matches.size() > 1)
        return usageError("'" + req.device + "' names " + std::to_string(matches.size()) +
                          " remembered boxes; give its serverUUID instead");
    std::cout << "forgot " << escapeText(gone.hostname) << " (" << gone.serverUUID << ")\n";
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away is a write that fails, told like any other,
    // not a signal that ends the tool without a word.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return checkOutput(kExitOk);
    }
    if (command == "--version") {
        quaysidePrintVersion("quayside");
        return checkOutput(kExitOk);
    }
    Request req;
    if (auto rc = parseRequest(argc, argv, req)) return *rc;
    openBoxStore(req);
    if (req.command == "forget") return checkOutput(cmdForget(req));
    if (req.command == "boxes") return checkOutput(cmdBoxes(req));
    if (req.command == "search") return checkOutput(cmdSearch(req));
    if (req.command == "doctor") {
        // Output that could not be written fails as it does elsewhere;
        // otherwise the exit code says whether a box answered.
        const int rc = cmdDoctor(req);
        const int written = checkOutput(kExitOk);
        return written == kExitOk ? rc : written;
    }
    // The watch checks its output after every search.
    if (req.command == "watch") return cmdWatch(req);

    if (req.runloop && !req.transport.onlyAddresses.empty())
        return usageError("--interface applies to the blocking form only");
    if (req.command == "lan-info") return checkOutput(runLoopCommand(req, {}));

    // The other commands hold a password from here on.
    qs::keepMemoryPrivate();
    std::string why;
    std::optional<std::string> password = readPassword(req.password, req.passwordFile, why);
    if (req.password) qs::secureClear(*req.password);
    if (!password) {
        if (!why.empty()) return failure(kExitUsage, why);
        return usageError("no password given (use --password-file, or type it when asked)");
    }
    const ClearAtEnd clearPassword{*password};
    const int rc = req.runloop ? runLoopCommand(req, *password) : blockingCommand(req, *password);
    return checkOutput(rc);
}
