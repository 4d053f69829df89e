// Time of each device operation against one simulated device in the
// loopback lab, in both forms, against the budget of the blocking form:
// a 1 s drain, a 50 ms pause, then the reply time.
//   operations-bench [--runs N]
#include "quayside/library.h"
#include "quayside/packager.h"
#include "support/process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

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
    if (!sim.start({qs::test::binDir() + "/vsb-sim", "--generate", "1", "--loopback"}) || !sim.waitForLine("ready")) {
        std::fprintf(stderr, "operations-bench: could not start the simulator\n");
        return 1;
    }
    std::printf("one device on the loopback lab, %d runs each\n", runs);
    std::printf("%-34s %10s %10s %10s %9s\n", "operation", "mean ms", "max ms", "budget ms", "");

    auto transport = std::make_unique<qs::SocketTransport>();
    qs::TransportOptions options;
    options.loopbackLab = true;
    transport->OpenSockets(options);
    qs::DeviceLibrary lib(std::move(transport));
    lib.SearchDevices();
    if (lib.devices.count() != 1) {
        std::fprintf(stderr, "operations-bench: expected one device, found %zu\n", lib.devices.count());
        return 1;
    }
    const qs::DeviceData_n& dev = lib.devices.at(0);
    lib.currentServerUUID = dev.serverUUID;
    lib.userName = "admin";
    lib.password = "admin";
    lib.portLabel = "LAN";
    lib.newIP = dev.port[0].IP.view();
    lib.newNetmask = dev.port[0].netmask.view();
    lib.newGateway = dev.port[0].gateway.view();

    // The budget's reply time: one poll wait of the operation plus a little.
    print(time("CheckPassword (blocking)", runs, [&] { return lib.CheckPassword(); }), 1050 + 30 + 5);
    print(time("GetShareList (blocking)", runs, [&] { return lib.GetShareList(); }), 1050 + 10 + 5);
    print(time("SetLanConfig static (blocking)", runs, [&] { return lib.SetLanConfigStatic(); }), 1050 + 10 + 5);
    print(time("SetLanConfig DHCP (blocking)", runs, [&] { return lib.SetLanConfigDhcp(); }), 1050 + 30 + 5);
    lib.setLink(nullptr);

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
    std::printf("budget: blocking = 1000 ms drain + 50 ms pause + one poll wait; run loop = no drain, 50 ms\n");
    return 0;
}
