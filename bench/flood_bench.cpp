// A flood of forged search answers: a host on the segment answers the first
// search of each client with 100,000 answers under random serverUUIDs
// within 10 seconds (to the group the search came on). Each program runs
// its first search through it, in a loopback lab of its own namespace:
// the tool's blocking search (quayside-win's library) and run-loop search
// (quayside-mac's engine), and the two windowed programs. Reported: the
// time to the end, processor time, peak memory, the devices listed, and for
// quayside-mac the longest time its window thread was busy at once.
//   flood-bench [--answers N]
// Needs root (a network namespace keeps the flood off every other lab).
#include "quayside/address.h"
#include "quayside/socket_transport.h"
#include "quayside/wire.h"
#include "spawn_stamp.h"
#include "support/netns.h"
#include "support/packets.h"
#include "support/process.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace qs;
using namespace qs::test;
using namespace std::chrono_literals;

namespace {

// Answers the first search of each client it hears with `answers` forged
// answers, paced evenly over ten seconds; stops by itself.
class Flooder {
public:
    explicit Flooder(int answers) : answers_(answers) {}
    bool open(const Netns& lab) {
        std::string error;
        fd_ = openGroupListener(lab, "lo", &error);
        if (fd_ < 0) {
            std::fprintf(stderr, "flood-bench: %s\n", error.c_str());
            return false;
        }
        worker_ = std::thread([this] { work(); });
        return true;
    }
    ~Flooder() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    int sent() const { return sent_; }
    void reset() { sent_ = 0; }

private:
    void work() {
        std::uint8_t buffer[kBlockingBufferSize];
        std::set<Uuid8> served;
        std::mt19937_64 random(24680);
        const auto end = std::chrono::steady_clock::now() + 600s;  // bounded whatever happens
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            while (const auto d = receiveWithPacketInfo(fd_, buffer)) {
                const auto h = readHeader(ByteView(buffer, d->length));
                if (!h || h->magic != kRequestMagic || h->opcode != op_SEARCH || !served.insert(h->clientUUID).second)
                    continue;
                flood(h->clientUUID, d->to, random);
            }
        }
    }
    void flood(const Uuid8& client, in_addr group, std::mt19937_64& random) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kDevicePort);
        to.sin_addr = group;
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < answers_ && !stop_; ++k) {
            const auto due = start + std::chrono::microseconds(10'000'000LL * k / answers_);
            std::this_thread::sleep_until(due);
            Uuid8 id{};
            const std::uint64_t r = random();
            std::memcpy(id.data(), &r, id.size());
            const std::string ip = qs::formatDottedIPv4(0x0A000000u | (static_cast<std::uint32_t>(k) & 0xFFFFFFu));
            const Bytes answer = reply(op_SEARCH, client, id, onePortDevice("flood-" + std::to_string(k), "VSB-720K", ip));
            if (::sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
                ++sent_;
        }
    }

    int answers_;
    int fd_ = -1;
    std::atomic<int> sent_{0};
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

double number(const std::string& text, const char* key) {
    const auto at = text.find(key);
    double v = -1;
    if (at != std::string::npos) std::sscanf(text.c_str() + at + std::strlen(key), " %lf", &v);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    int answers = 100000;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--answers") == 0) answers = std::max(1, std::atoi(argv[i + 1]));
    std::string why;
    if (!Netns::available(&why)) {
        std::fprintf(stderr, "flood-bench: %s\n", why.c_str());
        return 1;
    }
    Netns lab("fl");
    if (!lab.ok() || run({"ip", "-n", lab.name(), "link", "set", "lo", "up"}).exitCode != 0) {
        std::fprintf(stderr, "flood-bench: could not make the lab namespace\n");
        return 1;
    }
    const std::string dir = binDir();
    // The tool remembers what it found: here, in a directory of the bench's own.
    stateHome();
    const std::string shot = "/tmp/flood-bench-" + std::to_string(::getpid()) + ".png";
    struct Program {
        const char* name;
        std::vector<std::string> argv;
    };
    const std::vector<Program> programs = {
        {"quayside search (blocking)", {dir + "/quayside", "search", "--loopback"}},
        {"quayside, run-loop search",
         {dir + "/quayside", "check-password", "--runloop", "--loopback", "--device", "none", "--user", "admin",
          "--password", "x"}},
        {"quayside-win", {dir + "/quayside-win", "--loopback", "--screenshot", shot}},
        {"quayside-mac", {dir + "/quayside-mac", "--loopback", "--screenshot", shot}},
    };
    std::printf("%d forged search answers within 10 s, random serverUUIDs, in a loopback lab\n", answers);
    std::printf("%-28s %9s %8s %9s %9s %12s\n", "program", "wall ms", "cpu s", "peak MB", "listed", "stall ms");
    int status = 0;
    for (const Program& p : programs) {
        Flooder flooder(answers);
        if (!flooder.open(lab)) {
            std::fprintf(stderr, "flood-bench: the flooding host could not join the groups\n");
            return 1;
        }
        // Spawned without a search of PATH; quayside-mac keeps its window up
        // for the whole flood.
        std::vector<std::string> argv = lab.exec(p.argv);
        argv[0] = ::access("/usr/sbin/ip", X_OK) == 0 ? "/usr/sbin/ip" : "/sbin/ip";
        if (std::string(p.name) == "quayside-mac")
            argv.insert(argv.begin() + 4, {"/usr/bin/env", "QS_SCREENSHOT_WAIT_MS=10000"});
        const auto before = bench::monotonicNs();
        const auto r = bench::spawnStamped(argv);
        const double wallMs = (bench::monotonicNs() - before) / 1e6;
        ::unlink(shot.c_str());
        const double listed = number(r.errors, "listed");
        const double stall = number(r.errors, "longest-stall-ms");
        std::printf("%-28s %9.0f %8.2f %9.1f %9s %12s\n", p.name, wallMs, r.cpuSeconds, r.maxRssMb,
                    listed >= 0 ? std::to_string(static_cast<long>(listed)).c_str() : "-",
                    stall >= 0 ? std::to_string(static_cast<long>(stall)).c_str() : "-");
        const auto full = r.errors.find("the search took");
        if (full != std::string::npos) std::printf("  %s", r.errors.substr(full, r.errors.find('\n', full) - full + 1).c_str());
        if (!r.started) status = 1;
    }
    std::printf("targets: peak memory at most 128 MB, the search within its bound, no window stall over 100 ms\n");
    return status;
}
