// vsb-sim: answers device requests on the local host (loopback lab) or on
// every interface of the network namespace it runs in. Devices that ask for
// them also get web pages and file shares on their own loopback address.
#include "config.h"
#include "device.h"
#include "simulator.h"

#include "quayside_version.h"

#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace qs;
using namespace qs::sim;

constexpr const char* kUsage =
    "usage: vsb-sim [--config FILE] [--lab] [--generate N] [--loopback] [--verbose] [--reply unicast|group]\n"
    "               [--unicast-reply sender|devicePort|group]\n"
    "       vsb-sim --help | --version\n";
constexpr const char* kHelp =
    "Answers like the devices of the config, the lab set or a generated fleet: requests to the groups\n"
    "224.0.0.10 and 224.0.0.1 at port 24680 get their answers to the group (or, with reply mode unicast,\n"
    "to the requester's address at port 24680). A request sent by unicast to an address of the host at\n"
    "port 24680 is answered, whatever the reply mode, as the unicast reply mode says: by unicast to the\n"
    "sender's address and port (sender, the default), to the sender's address at port 24680\n"
    "(devicePort), or with one copy to each group on the interface it came in on (group); a search\n"
    "sent so by the devices with a port at that address, any other request by the device it names.\n"
    "A device with restartMs in its config answers nothing for that long after its answer to a\n"
    "settings change it takes.\n"
    "\n"
    "  --config FILE       devices of a JSON config file\n"
    "  --lab               the four devices of the loopback lab; implies --loopback\n"
    "  --generate N        N generated devices\n"
    "  --loopback          answer on \"lo\" only, each device also by unicast at its 127.0.0.N address\n"
    "  --verbose           print each request and its outcome on stderr\n"
    "  --reply MODE        reply mode of every device (unicast or group), overriding the config\n"
    "  --unicast-reply MODE\n"
    "                      unicast reply mode of every device (sender, devicePort or group),\n"
    "                      overriding the config\n";

// Bad command line or config: reported on stderr, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Options = SimulatorOptions;

// ---- command line ---------------------------------------------------------

int parseCount(const std::string& text) {
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > kMaxGenerated)
        throw UsageError("--generate needs a number from 1 to " + std::to_string(kMaxGenerated) + ", got '" + text +
                         "'");
    return n;
}

ReplyMode parseReplyMode(const std::string& text) {
    if (text == "group") return ReplyMode::Group;
    if (text == "unicast") return ReplyMode::Unicast;
    throw UsageError("--reply needs 'unicast' or 'group', got '" + text + "'");
}

UnicastReply parseUnicastReply(const std::string& text) {
    if (const auto mode = unicastReplyFromName(text)) return *mode;
    throw UsageError("--unicast-reply needs 'sender', 'devicePort' or 'group', got '" + text + "'");
}

Options parseArgs(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= argc) throw UsageError(arg + " needs a value");
            return argv[++i];
        };
        auto flag = [&](bool& target) {
            if (inlineValue) throw UsageError(arg + " takes no value");
            target = true;
        };
        if (arg == "--config") {
            if (o.configPath) throw UsageError("--config given twice");
            o.configPath = value();
        } else if (arg == "--generate") {
            o.generate = parseCount(value());
        } else if (arg == "--reply") {
            o.reply = parseReplyMode(value());
        } else if (arg == "--unicast-reply") {
            o.unicastReply = parseUnicastReply(value());
        } else if (arg == "--lab") {
            flag(o.lab);
        } else if (arg == "--loopback") {
            flag(o.loopback);
        } else if (arg == "--verbose") {
            flag(o.verbose);
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
            return o;
        } else if (arg == "--version") {
            o.version = true;
            return o;
        } else {
            throw UsageError("unknown argument '" + std::string(argv[i]) + "'");
        }
    }
    if (!o.configPath && !o.lab && o.generate == 0) throw UsageError("give at least one of --config, --lab, --generate");
    if (o.lab) o.loopback = true;
    return o;
}

std::vector<Device> loadDevices(const Options& o) {
    std::vector<DeviceConfig> configs;
    if (o.lab) configs = labDevices();
    if (o.configPath) {
        auto fromFile = loadConfigFile(*o.configPath).devices;
        configs.insert(configs.end(), fromFile.begin(), fromFile.end());
    }
    if (o.generate > 0) {
        auto generated = generatedDevices(o.generate);
        configs.insert(configs.end(), generated.begin(), generated.end());
    }
    // The file's own devices are checked when it is read; here the lab's
    // join them.
    for (std::size_t i = 0; i < configs.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (configs[i].hasServers() && configs[j].hasServers() &&
                configs[i].serverAddress() == configs[j].serverAddress())
                throw ConfigError("devices " + configs[j].hostname + " and " + configs[i].hostname +
                                  " both serve on " + configs[i].serverAddress());
    std::vector<Device> devices;
    devices.reserve(configs.size());
    for (auto& c : configs) devices.emplace_back(std::move(c));
    return devices;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options options = parseArgs(argc, argv);
        if (options.help) {
            std::cout << kUsage << "\n" << kHelp;
            return 0;
        }
        if (options.version) {
            quaysidePrintVersion("vsb-sim");
            return 0;
        }
        return runSimulator(loadDevices(options), options);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vsb-sim: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const ConfigError& e) {
        std::fprintf(stderr, "vsb-sim: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vsb-sim: %s\n", e.what());
        return 1;
    }
}
