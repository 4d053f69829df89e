// Device operations against the simulator in the loopback lab, through the
// quayside tool in both forms and through the library directly.
#include "quayside/device_library.h"
#include "quayside/packager.h"
#include "support/lab.h"

#include <gtest/gtest.h>

using namespace qs;
using namespace qs::test;
using namespace std::chrono_literals;

namespace {

const std::string kOffice = "00000000000000f1";
const std::string kRack = "00000000000000f2";

class LabOperations : public ::testing::Test {
protected:
    Child sim;
    std::string config;

    void start(const std::vector<json>& devices, bool verbose = false) {
        config = tempFile(simConfig(devices));
        std::vector<std::string> argv{simBin(), "--config", config, "--loopback"};
        if (verbose) argv.push_back("--verbose");
        ASSERT_TRUE(sim.start(argv));
        ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    }
    void startStandard() {
        json office = simDevice(kOffice, "office", "VSB-720K", "192.168.77.20");
        office["shares"] = "Volume_1*6:Volume_2@5:Recycle Bin - Volume_1:Recycle Bin - Volume_2";
        json rack = simDevice(kRack, "rack", "VSB-790K", "192.168.77.30");
        rack["ports"].push_back(json{{"IP", "192.168.78.30"}, {"netmask", "255.255.255.0"}, {"dns1", "192.168.78.53"}});
        rack["answerPort"] = 1;
        rack["password"] = "s3cret";
        start({office, rack});
    }
    void TearDown() override {
        sim.stop();
        if (!config.empty()) ::unlink(config.c_str());
    }
    RunResult tool(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.begin(), quaysideBin());
        args.push_back("--loopback");
        return run(args, input, 30s);
    }
    // The blocking library on the lab, after one search.
    static std::unique_ptr<DeviceLibrary> searchedLibrary() {
        auto transport = std::make_unique<SocketTransport>();
        TransportOptions options;
        options.loopbackLab = true;
        if (!transport->OpenSockets(options)) return nullptr;
        auto lib = std::make_unique<DeviceLibrary>(std::move(transport));
        lib->SearchDevices();
        return lib;
    }
    json searchOne(const std::string& uuid) {
        const auto found = jsonLines(tool({"search", "--json"}).out);
        const json* d = byUuid(found, uuid);
        return d ? *d : json();
    }
};

const std::vector<std::vector<std::string>> kForms = {{}, {"--runloop"}};

}  // namespace

TEST_F(LabOperations, PasswordCheckInBothForms) {
    startStandard();
    for (const auto& form : kForms) {
        auto args = std::vector<std::string>{"check-password", "--device", "office", "--user", "admin", "--password", "admin"};
        args.insert(args.end(), form.begin(), form.end());
        RunResult r = tool(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "accepted\n");
        args[6] = "wrong";
        r = tool(args);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(r.out, "refused\n");
    }
}

TEST_F(LabOperations, PasswordFromStandardInputOrAFileIsNeverPrinted) {
    startStandard();
    const std::vector<std::string> check = {"check-password", "--device", kRack, "--user", "admin"};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), check.begin(), check.end());
        return more;
    };
    RunResult r = tool(check, "s3cret\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
    EXPECT_EQ(r.err.find("s3cret"), std::string::npos);

    // The first line of the file, or of standard input for "-".
    const std::string file = tempFile("s3cret\r\nsecond line\n", ".pw");
    r = tool(with({"--password-file", file}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "accepted\n");
    r = tool(with({"--password-file", "-"}), "s3cret");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = tool(with({"--password-file", "-", "--runloop"}), "wrong\ns3cret\n");
    EXPECT_EQ(r.out, "refused\n") << r.err;

    // Both ways at once, a file that cannot be read, an empty one: usage
    // errors, and the device is never asked.
    const std::string empty = tempFile("", ".pw");
    for (const auto& args : {with({"--password", "s3cret", "--password-file", file}),
                             with({"--password-file", file + ".missing"}), with({"--password-file", empty})}) {
        r = tool(args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_NE(r.err.find("'" + empty + "'"), std::string::npos) << r.err;
    r = tool(with({"--password-file", file + ".missing"}));
    EXPECT_NE(r.err.find("cannot read the password file '" + file + ".missing': No such file or directory"),
              std::string::npos) << r.err;
    ::unlink(file.c_str());
    ::unlink(empty.c_str());
}

TEST_F(LabOperations, SharesBlockingFormListsNamesWithTheirTokens) {
    startStandard();
    const RunResult r = tool({"shares", "--device", "192.168.77.20", "--user", "admin", "--password", "admin", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], (json{{"name", "Volume_1"}, {"isLocked", true}, {"token", "Volume_1*6"}}));
    EXPECT_EQ(lines[1], (json{{"name", "Volume_2"}, {"isLocked", false}, {"token", "Volume_2@5"}}));
    EXPECT_EQ(lines[2], (json{{"name", "Recycle Bin - Volume_1"}, {"isLocked", false}, {"token", "Recycle Bin - Volume_1"}}));
    const RunResult text = tool({"shares", "--device", "office", "--user", "admin", "--password", "admin"});
    EXPECT_EQ(text.out, "Volume_1 (locked)\nVolume_2\nRecycle Bin - Volume_1\nRecycle Bin - Volume_2\n");
}

TEST_F(LabOperations, SharesRunLoopFormListsVolumes) {
    startStandard();
    const RunResult r = tool({"shares", "--device", "office", "--user", "admin", "--password", "admin", "--json", "--runloop"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (json{{"name", "Volume_1"}, {"isLocked", true}}));
    EXPECT_EQ(lines[1], (json{{"name", "Volume_2"}, {"isLocked", false}}));
    const RunResult wrong = tool({"shares", "--device", "office", "--user", "admin", "--password", "x", "--runloop"});
    EXPECT_EQ(wrong.exitCode, 1);
}

TEST_F(LabOperations, StaticSettingsChangeShowsInTheNextSearch) {
    startStandard();
    for (const auto& form : kForms) {
        const std::string ip = form.empty() ? "192.168.78.40" : "192.168.78.41";
        auto args = std::vector<std::string>{"set-lan", "--device", kRack, "--user", "admin", "--password", "s3cret",
                                             "--port", "LAN2", "--ip", ip, "--netmask", "255.255.0.0",
                                             "--gateway", "192.168.78.1"};
        args.insert(args.end(), form.begin(), form.end());
        const RunResult r = tool(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "accepted\n");
        const json d = searchOne(kRack);
        ASSERT_FALSE(d.is_null());
        EXPECT_EQ(d["ports"][1]["IP"], ip);
        EXPECT_EQ(d["ports"][1]["netmask"], "255.255.0.0");
        EXPECT_EQ(d["ports"][1]["dns1"], "192.168.78.53");  // kept from the record
        EXPECT_EQ(d["ports"][0]["IP"], "192.168.77.30");
    }
}

TEST_F(LabOperations, DhcpSettingsChangeInBothForms) {
    startStandard();
    for (const auto& form : kForms) {
        auto args = std::vector<std::string>{"set-lan", "--device", "office", "--user", "admin", "--password", "admin",
                                             "--port", "LAN", "--dhcp"};
        args.insert(args.end(), form.begin(), form.end());
        const RunResult r = tool(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(searchOne(kOffice)["ports"][0]["dhcpEnable"].get<bool>());
    }
}

TEST_F(LabOperations, SettingsChangeWithWrongPasswordIsRefused) {
    startStandard();
    for (const auto& form : kForms) {
        auto args = std::vector<std::string>{"set-lan", "--device", "office", "--user", "admin", "--password", "nope",
                                             "--port", "LAN", "--ip", "192.168.77.99", "--netmask", "255.255.255.0",
                                             "--gateway", "192.168.77.1"};
        args.insert(args.end(), form.begin(), form.end());
        EXPECT_EQ(tool(args).exitCode, 1);
    }
    EXPECT_EQ(searchOne(kOffice)["ports"][0]["IP"], "192.168.77.20");
}

TEST_F(LabOperations, LanInformationOfOneAndTwoPortDevices) {
    startStandard();
    RunResult r = tool({"lan-info", "--device", "office", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json info = json::parse(r.out);
    EXPECT_EQ(info["ifNum"], 1);
    EXPECT_TRUE(info["bondingMode"].is_null());
    EXPECT_EQ(info["ports"][0]["label"], "LAN1");
    EXPECT_EQ(info["ports"][0]["IP"], "192.168.77.20");
    r = tool({"lan-info", "--device", "rack", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    info = json::parse(r.out);
    EXPECT_EQ(info["ifNum"], 2);
    EXPECT_EQ(info["ports"][1]["IP"], "192.168.78.30");
}

TEST_F(LabOperations, DeviceTextReachesTheTerminalEscaped) {
    json box = simDevice(kOffice, "\x1b]0;owned\x07" "box", "VSB-720K", "192.168.77.20");
    box["shares"] = "Vol\x1b[2J*6";
    start({box});
    const std::string shown = "\\x1b]0;owned\\x07box";
    RunResult r = tool({"search", "--verbose"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
    r = tool({"shares", "--device", kOffice, "--user", "admin", "--password", "admin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Vol\\x1b[2J (locked)\n");
    // An error message that names the device.
    r = tool({"set-lan", "--device", kOffice, "--user", "admin", "--password", "admin", "--port", "LAN2", "--dhcp"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(shown), std::string::npos) << r.err;
    EXPECT_EQ((r.out + r.err).find('\x1b'), std::string::npos);
}

TEST_F(LabOperations, DeviceNotFoundAndAmbiguousNames) {
    json a = simDevice("00000000000000f3", "twin", "VSB-720K", "192.168.77.50");
    json b = simDevice("00000000000000f4", "twin", "VSB-760K", "192.168.77.51");
    start({a, b});
    EXPECT_EQ(tool({"check-password", "--device", "nobody", "--user", "admin", "--password", "admin"}).exitCode, 4);
    EXPECT_EQ(tool({"check-password", "--device", "twin", "--user", "admin", "--password", "admin"}).exitCode, 2);
    EXPECT_EQ(tool({"check-password", "--device", "00000000000000F4", "--user", "admin", "--password", "admin"}).exitCode, 0);
}

TEST_F(LabOperations, SilentDeviceIsNoAnswer) {
    json d = simDevice(kOffice, "office", "VSB-720K", "192.168.77.20");
    d["faults"] = json::array({"noReply"});
    start({d});
    for (const auto& form : kForms) {
        auto args = std::vector<std::string>{"check-password", "--device", "office", "--user", "admin", "--password", "admin"};
        args.insert(args.end(), form.begin(), form.end());
        const RunResult r = tool(args);
        EXPECT_EQ(r.exitCode, 3) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(LabOperations, ReturnCodeZeroIsARefusal) {
    json d = simDevice(kOffice, "office", "VSB-720K", "192.168.77.20");
    d["faults"] = json::array({"retCodeZero"});
    start({d});
    const RunResult r = tool({"check-password", "--device", "office", "--user", "admin", "--password", "admin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(r.elapsed, 5000ms);  // the first answer ends the wait
}

TEST_F(LabOperations, LateReplyFromAnotherDeviceIsNotTaken) {
    json late = simDevice(kRack, "late", "VSB-790K", "192.168.77.30");
    late["faults"] = json::array({"lateReply"});
    late["lateMs"] = 2500;
    json quiet = simDevice(kOffice, "quiet", "VSB-720K", "192.168.77.20");
    quiet["faults"] = json::array({"noReply"});
    start({late, quiet});

    // Blocking form: ask the late device and give up early, then ask the
    // quiet one while the late answer is on its way.
    const auto library = searchedLibrary();
    ASSERT_TRUE(library);
    DeviceLibrary& lib = *library;
    ASSERT_EQ(lib.devices.count(), 2u);
    const Credentials admin{"admin", "admin"};
    lib.operationTuning.emptyWaitLimit = 10;
    EXPECT_EQ(lib.checkPassword(*uuidFromHex(kRack), admin), Outcome::NoAnswer);
    lib.operationTuning.emptyWaitLimit = 100;
    EXPECT_EQ(lib.checkPassword(*uuidFromHex(kOffice), admin), Outcome::NoAnswer);
}

namespace {
struct Recorder : PackagerReceiver {
    int accepted = 0, refused = 0;
    std::shared_ptr<DeviceData_n> device;
    void reloadTable(RunLoopTable) override {}
    void checkAuthFail() override { ++refused; }
    void setIPFinish() override {}
    void setBtnApply(bool) override {}
    CalledAction calledAction() override { return CalledAction::ListVolumes; }
    std::shared_ptr<DeviceData_n> tmpDeviceData() override { return device; }
    void passwordAccepted() override { ++accepted; }
};

// The run-loop engine on the lab, after a second of searching.
struct LabEngine {
    PollRunLoop loop;
    Recorder rec;
    std::unique_ptr<Packager> engine;
    LabEngine() {
        Packager::Options o;
        o.net.loopbackLab = true;
        engine = std::make_unique<Packager>(loop, kDevicePort, kRunLoopGroup, &rec, o);
        if (!engine->ok()) return;
        engine->sendPackage(op_SEARCH, nullptr);
        loop.runFor(1000ms);
    }
};
}  // namespace

TEST_F(LabOperations, RunLoopEngineIgnoresALateReplyFromAnotherDevice) {
    json late = simDevice(kRack, "late", "VSB-790K", "192.168.77.30");
    late["faults"] = json::array({"lateReply"});
    late["lateMs"] = 800;
    json quiet = simDevice(kOffice, "quiet", "VSB-720K", "192.168.77.20");
    quiet["faults"] = json::array({"noReply"});
    start({late, quiet});

    LabEngine lab;
    ASSERT_TRUE(lab.engine->ok());
    PollRunLoop& loop = lab.loop;
    Recorder& rec = lab.rec;
    Packager& engine = *lab.engine;
    ASSERT_EQ(engine.serverArray().size(), 2u);
    auto find = [&](const std::string& uuid) {
        for (auto& d : engine.serverArray())
            if (d->serverUUID == *uuidFromHex(uuid)) return d;
        return std::shared_ptr<DeviceData_n>();
    };
    auto lateDevice = find(kRack), quietDevice = find(kOffice);
    ASSERT_TRUE(lateDevice && quietDevice);
    lateDevice->password = quietDevice->password = "admin";
    rec.device = lateDevice;
    engine.sendPackage(op_CHK_PASSWD, lateDevice.get());
    loop.runFor(200ms);
    rec.device = quietDevice;
    engine.sendPackage(op_CHK_PASSWD, quietDevice.get());
    loop.runFor(1500ms);  // the late answer arrives meanwhile
    EXPECT_EQ(rec.accepted, 0);
    EXPECT_EQ(rec.refused, 0);
}

TEST_F(LabOperations, ALateBoxRefusesTheWrongPasswordAndAcceptsTheRightOneInBothForms) {
    // Every copy of a request is answered 1.5 s late, so the wrong password
    // goes twice and the second refusal is still on its way when the right
    // password is asked. It answers from its own address, as on a LAN.
    json late = simDevice(kRack, "late", "VSB-790K", "127.0.0.9");
    late["faults"] = json::array({"lateReply"});
    late["lateMs"] = 1500;
    start({late});

    const auto library = searchedLibrary();
    ASSERT_TRUE(library);
    DeviceLibrary& lib = *library;
    ASSERT_EQ(lib.devices.count(), 1u);
    EXPECT_EQ(lib.checkPassword(*uuidFromHex(kRack), {"admin", "wrong"}), Outcome::Refused);
    EXPECT_EQ(lib.checkPassword(*uuidFromHex(kRack), {"admin", "admin"}), Outcome::Accepted);

    LabEngine lab;
    ASSERT_TRUE(lab.engine->ok());
    PollRunLoop& loop = lab.loop;
    Recorder& rec = lab.rec;
    Packager& engine = *lab.engine;
    ASSERT_EQ(engine.serverArray().size(), 1u);
    rec.device = engine.serverArray().front();
    rec.device->password = "wrong";
    engine.sendPackage(op_CHK_PASSWD, rec.device.get());
    for (int i = 0; i < 40 && rec.refused == 0; ++i) loop.runFor(100ms);
    ASSERT_EQ(rec.refused, 1);
    rec.device->password = "admin";
    engine.sendPackage(op_CHK_PASSWD, rec.device.get());
    for (int i = 0; i < 60 && rec.accepted == 0; ++i) loop.runFor(100ms);
    EXPECT_EQ(rec.accepted, 1);
    EXPECT_EQ(rec.refused, 1);
}

TEST_F(LabOperations, ASettingsChangeToABoxThatAnswersLateAndRestartsIsTakenOnce) {
    // Answers its operations 1.5 s late, and restarts its network for 2 s
    // after taking a change: a copy sent again after a second would be
    // taken twice.
    json box = simDevice(kRack, "slow", "VSB-790K", "127.0.0.9");
    box["faults"] = json::array({"lateReply"});
    box["lateMs"] = 1500;
    box["restartMs"] = 2000;
    start({box}, true);
    const RunResult r = tool({"set-lan", "--device", "slow", "--user", "admin", "--password", "admin", "--port", "LAN",
                              "--ip", "127.0.0.9", "--netmask", "255.0.0.0", "--gateway", "127.0.0.1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string log = sim.errors();
    const auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (auto at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("op " + std::to_string(op_SET_LAN) + " from"), 1u) << log;
    EXPECT_EQ(count("took a settings change"), 1u) << log;
}
