// Time of each device operation against one simulated device in the
// loopback lab, in both forms. The blocking form is timed twice in one run:
// as it was, with an idle second waited out before each request, and as it
// is, reading only what is queued; then a search, a click on a box in
// quayside-win (its password known: the password check and share list it
// sends) and the tool's `shares` end to end.
//   operations-bench [--runs N]
// Targets: each blocking operation 100 ms, a search 1.1 s, a click 300 ms,
// `quayside shares` 1.3 s.
#include "quayside/device_library.h"
#include "quayside/packager.h"
#include "support/process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Row {
    const char* name;
    double meanMs = 0, maxMs = 0;
    int failures = 0;
};

void print(const Row& r, double budgetMs) {
    std::printf("%-34s %10.1f %10.1f %10.1f %9s\n", r.name, r.meanMs, r.maxMs, budgetMs,
                r.failures ? "FAILED" : (r.maxMs <= budgetMs ? "within" : "OVER"));
}

Row time(const char* name, int runs, const std::function<bool()>& op) {
    Row r{name};
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (!op()) ++r.failures;
        const double ms = msSince(start);
        r.meanMs += ms / runs;
        r.maxMs = std::max(r.maxMs, ms);
    }
    return r;
}

struct Receiver : qs::PackagerReceiver {
    std::shared_ptr<qs::DeviceData_n> device;
    qs::CalledAction action = qs::CalledAction::ListVolumes;
    bool accepted = false, volumes = false, settings = false;
    void reloadTable(qs::RunLoopTable t) override { volumes = volumes || t == qs::RunLoopTable::Volumes; }
    void checkAuthFail() override {}
    void setIPFinish() override { settings = true; }
    void setBtnApply(bool) override {}
    qs::CalledAction calledAction() override { return action; }
    std::shared_ptr<qs::DeviceData_n> tmpDeviceData() override { return device; }
    void passwordAccepted() override { accepted = true; }
};

bool runUntil(qs::PollRunLoop& loop, const bool& flag, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!flag && Clock::now() < deadline) loop.runOnce(5ms);
    return flag;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));
    qs::test::Child sim;
    // One box answering from its own address, as on a LAN.
    const std::string config = qs::test::tempFile(
        R"({"devices": [{"serverUUID": "9e4e000000000001", "hostname": "vsb-0001", "model": "VSB-720K",
            "ports": [{"IP": "127.0.0.2", "netmask": "255.0.0.0"}], "shares": "Volume_1*6:Volume_2@5"}]})");
    const bool started = sim.start({qs::test::binDir() + "/vsb-sim", "--config", config, "--loopback"}) &&
                         sim.waitForLine("ready");
    ::unlink(config.c_str());
    if (!started) {
        std::fprintf(stderr, "operations-bench: could not start the simulator\n");
        return 1;
    }
    std::printf("one device on the loopback lab, %d runs each\n", runs);
    std::printf("%-34s %10s %10s %10s %9s\n", "operation", "mean ms", "max ms", "budget ms", "");

    const auto library = [](std::chrono::milliseconds drainWait) {
        auto transport = std::make_unique<qs::SocketTransport>();
        qs::TransportOptions options;
        options.loopbackLab = true;
        options.drainWait = drainWait;
        transport->OpenSockets(options);
        return std::make_unique<qs::DeviceLibrary>(std::move(transport));
    };
    int status = 0;
    const auto report = [&](const Row& r, double budgetMs) {
        print(r, budgetMs);
        if (r.failures || r.maxMs > budgetMs) status = 1;
    };
    for (const auto drainWait : {1000ms, 0ms}) {
        const bool before = drainWait.count() != 0;
        auto lib = library(drainWait);
        const auto searchRow = time(before ? "search (idle second first)" : "search", runs, [&] {
            lib->SearchDevices();
            return lib->devices.count() == 1;
        });
        before ? print(searchRow, 2100) : report(searchRow, 1100);
        if (lib->devices.count() != 1) {
            std::fprintf(stderr, "operations-bench: expected one device, found %zu\n", lib->devices.count());
            return 1;
        }
        const qs::DeviceData_n& dev = lib->devices.at(0);
        const qs::Uuid8 box = dev.serverUUID;
        const qs::Credentials admin{"admin", "admin"};
        qs::LanSettings keep{.portLabel = "LAN", .address = dev.port[0].IP.address(),
                             .netmask = dev.port[0].netmask.address(),
                             .gateway = dev.port[0].gateway.address()};
        qs::LanSettings dhcp = keep;
        dhcp.dhcp = true;
        const auto accepted = [](qs::Outcome o) { return o == qs::Outcome::Accepted; };
        // As it was: the idle second, the pause and one poll wait; as it is:
        // the target.
        const auto budget = [&](double wait) { return before ? 1050 + wait + 5 : 100.0; };
        const auto row = [&](const char* was, const char* is, double wait, const std::function<bool()>& op) {
            const Row r = time(before ? was : is, runs, op);
            before ? print(r, budget(wait)) : report(r, budget(wait));
        };
        row("CheckPassword (idle second first)", "CheckPassword", 30, [&] { return accepted(lib->checkPassword(box, admin)); });
        row("GetShareList (idle second first)", "GetShareList", 10, [&] { return accepted(lib->getShareList(box, admin)); });
        row("SetLanConfig static (idle second)", "SetLanConfig static", 10, [&] { return accepted(lib->setLanConfig(box, admin, keep)); });
        row("SetLanConfig DHCP (idle second)", "SetLanConfig DHCP", 30, [&] { return accepted(lib->setLanConfig(box, admin, dhcp)); });
        const Row click = time(before ? "first click: password, shares (idle)" : "first click: password and shares", runs,
                               [&] { return accepted(lib->checkPassword(box, admin)) && accepted(lib->getShareList(box, admin)); });
        before ? print(click, 2200) : report(click, 300);
    }
    {
        const std::string name = "vsb-0001";
        const Row r = time("quayside shares (the tool)", runs, [&] {
            const auto run = qs::test::run({qs::test::binDir() + "/quayside", "shares", "--loopback", "--device", name,
                                            "--user", "admin", "--password", "admin"});
            return run.exitCode == 0;
        });
        report(r, 1300);
    }
    auto lib = library(0ms);
    lib->SearchDevices();
    lib->setLink(nullptr);

    qs::PollRunLoop loop;
    Receiver rec;
    qs::Packager::Options po;
    po.net.loopbackLab = true;
    qs::Packager engine(loop, qs::kDevicePort, qs::kRunLoopGroup, &rec, po);
    engine.sendPackage(qs::op_SEARCH, nullptr);
    bool never = false;
    runUntil(loop, never, 500ms);
    if (engine.serverArray().size() != 1) {
        std::fprintf(stderr, "operations-bench: the run-loop search found %zu devices\n", engine.serverArray().size());
        return 1;
    }
    rec.device = engine.serverArray()[0];
    rec.device->password = "admin";
    print(time("password + share list (run loop)", runs, [&] {
              rec.accepted = rec.volumes = false;
              rec.action = qs::CalledAction::ListVolumes;
              engine.sendPackage(qs::op_CHK_PASSWD, rec.device.get());
              return runUntil(loop, rec.volumes, 6000ms);
          }),
          50);
    print(time("password + settings (run loop)", runs, [&] {
              rec.settings = false;
              rec.action = qs::CalledAction::Apply;
              engine.sendPackage(qs::op_CHK_PASSWD, rec.device.get());
              return runUntil(loop, rec.settings, 6000ms);
          }),
          50);
    std::printf("budget: as it was = 1000 ms idle drain + 50 ms pause + one poll wait; as it is = the targets above\n");
    return status;
}
