// quayside: the command-line face of the device protocol library.
#include "cli_args.h"
#include "cli_format.h"
#include "quayside/library.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

const char* kUsage =
    "usage: quayside <command> [options]\n"
    "\n"
    "commands:\n"
    "  search [--json] [--loopback] [--interface ADDR]...\n"
    "      search the LAN for storage devices and list them\n"
    "\n"
    "options:\n"
    "  --json             one JSON object per device per line\n"
    "  --loopback         use the loopback lab (127.0.0.1, multicast loopback on)\n"
    "  --interface ADDR   search only on the local interface with this address (repeatable)\n";

int usageError(const std::string& message) {
    std::cerr << "quayside: " << message << "\n" << "Try 'quayside --help'.\n";
    return kExitUsage;
}

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

struct CommonOptions {
    bool json = false;
    qs::TransportOptions transport;
};

int openTransport(const qs::cli::Args& args, CommonOptions& common) {
    common.json = args.has("--json");
    common.transport.loopbackLab = args.has("--loopback");
    for (const auto& addr : args.values("--interface")) {
        if (!qs::cli::isDottedIPv4(addr)) return usageError("--interface needs a dotted IPv4 address, not '" + addr + "'");
        common.transport.onlyAddresses.push_back(addr);
    }
    std::string error;
    if (!qs::OpenSockets(common.transport, &error)) return usageError(error);
    return kExitOk;
}

bool runSearch() {
    ProgressLine progress;
    const int count = qs::processLibrary().link()->interfaceCount();
    const bool ok = qs::SearchDevices([&](int i, const std::string& address, std::size_t found) {
        progress.show(i, count, address, found);
    });
    progress.finish();
    return ok;
}

void printDevices(bool json) {
    const auto& devices = qs::processLibrary().devices;
    if (json) {
        for (std::size_t i = 0; i < devices.count(); ++i)
            std::cout << qs::cli::deviceJson(devices.at(i)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                      << "\n";
    } else {
        std::cout << qs::cli::deviceTable(devices);
    }
    std::cout.flush();
}

int cmdSearch(int argc, char** argv) {
    qs::cli::Args args;
    if (!args.parse(argc, argv, 2, {"--json", "--loopback"}, {"--interface"})) return usageError(args.error());
    CommonOptions common;
    if (int rc = openTransport(args, common); rc != kExitOk) return rc;
    runSearch();
    printDevices(common.json);
    qs::CloseSockets();
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (command == "search") return cmdSearch(argc, argv);
    return usageError("unknown command '" + command + "'");
}
