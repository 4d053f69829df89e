// Discovery across a real LAN of network namespaces: the client on one
// host, simulated devices on another, linked by veth pairs.
#include "quayside/device_library.h"
#include "support/lab.h"
#include "support/netns.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <cstdio>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace qs::test;
using namespace std::chrono_literals;

namespace {

class TwoHostLan : public ::testing::Test {
protected:
    std::unique_ptr<Netns> client, device;
    Child sim;
    std::string config;

    void SetUp() override {
        std::string why;
        if (!Netns::available(&why)) GTEST_SKIP() << why;
        client = std::make_unique<Netns>("c");
        device = std::make_unique<Netns>("d");
        ASSERT_TRUE(client->ok() && device->ok()) << "could not create network namespaces";
        std::string error;
        ASSERT_TRUE(veth(*client, "10.231.1.1/24", *device, "10.231.1.2/24", &error)) << error;
        // As on a real LAN, the client has a default route; the run-loop
        // form's send socket picks its interface from it.
        ASSERT_EQ(run({"ip", "-n", client->name(), "route", "add", "default", "via", "10.231.1.2"}).exitCode, 0);
    }
    void TearDown() override {
        sim.stop();
        if (!config.empty()) ::unlink(config.c_str());
    }
    void addSecondLink() {
        std::string error;
        ASSERT_TRUE(veth(*client, "10.231.2.1/24", *device, "10.231.2.2/24", &error)) << error;
    }
    void startSim(const std::vector<json>& devices) {
        config = tempFile(simConfig(devices));
        ASSERT_TRUE(sim.start(device->exec({simBin(), "--config", config})));
        ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    }
    std::vector<json> search(const std::vector<std::string>& extra = {}, RunResult* raw = nullptr) {
        std::vector<std::string> argv{quaysideBin(), "search", "--json"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        RunResult r = run(client->exec(argv));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        if (raw) *raw = r;
        return jsonLines(r.out);
    }
};

}  // namespace

namespace {

// Every way a box may answer, as the simulator plays them; whether its
// answers to requests sent to its address cross a router.
struct Answering {
    const char* name;
    json keys;
    bool crossesRouter;
};
const Answering kAnswering[] = {
    {"ToTheGroup", json::object(), true},
    {"ByUnicast", {{"reply", "unicast"}}, true},
    {"AtTheDevicePort", {{"reply", "unicast"}, {"unicastReply", "devicePort"}}, true},
    {"UnicastRequestsToTheGroup", {{"unicastReply", "group"}}, false},
    {"GroupOnly", {{"groupOnly", true}}, false},
    {"Late", {{"delayMs", 300}}, true},
};
std::string answeringName(const ::testing::TestParamInfo<Answering>& info) { return info.param.name; }
void PrintTo(const Answering& a, std::ostream* os) { *os << a.name; }
const std::vector<std::string> kBothForms = {"", "--runloop"};

class EveryAnsweringLan : public TwoHostLan, public ::testing::WithParamInterface<Answering> {};

}  // namespace

TEST_P(EveryAnsweringLan, FoundAndManagedInBothForms) {
    json d = simDevice("00000000000000d1", "nas", "VSB-760K", "10.231.1.2");
    d.update(GetParam().keys);
    d["shares"] = "Public@5:Media*6";
    startSim({d});
    const auto found = search();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].at("hostname"), "nas");
    // The run-loop form searches with its own engine first.
    for (const std::string& form : kBothForms) {
        for (const std::string command : {"check-password", "shares"}) {
            std::vector<std::string> args{quaysideBin(), command, "--device", "nas", "--user", "admin", "--password", "admin"};
            if (!form.empty()) args.push_back(form);
            const RunResult r = run(client->exec(args));
            EXPECT_EQ(r.exitCode, 0) << command << " " << form << ": " << r.err;
            EXPECT_NE(r.out.find(command == "shares" ? "Media (locked)" : "accepted"), std::string::npos)
                << command << " " << form << ": " << r.out;
        }
    }
    // A settings change goes once and is taken once.
    RunResult r = run(client->exec({quaysideBin(), "set-lan", "--device", "nas", "--user", "admin", "--password",
                                    "admin", "--port", "LAN", "--ip", "10.231.1.2", "--netmask", "255.255.255.0",
                                    "--gateway", "10.231.1.254"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Boxes, EveryAnsweringLan, ::testing::ValuesIn(kAnswering), answeringName);

TEST_F(TwoHostLan, TheRunLoopFormNeedsNoDefaultRoute) {
    // A laptop cabled to a box: addresses, no default route.
    ASSERT_EQ(run({"ip", "-n", client->name(), "route", "del", "default"}).exitCode, 0);
    json d = simDevice("00000000000000d2", "nas", "VSB-720K", "10.231.1.2");
    d["shares"] = "Public@5:Media*6";
    startSim({d});
    RunResult r = run(client->exec({quaysideBin(), "shares", "--device", "nas", "--user", "admin", "--password", "admin",
                          "--runloop"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Media (locked)"), std::string::npos) << r.out;
    // quayside-mac's engine lists it too (where the windowed programs are built).
    const std::string mac = binDir() + "/quayside-mac";
    if (::access(mac.c_str(), X_OK) != 0) return;
    const std::string shot = tempFile("", ".png");
    r = run(client->exec({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "QS_SPAWN_NS=1", "QS_SCREENSHOT_WAIT_MS=2500",
                          mac, "--screenshot", shot}));
    ::unlink(shot.c_str());
    EXPECT_NE(r.err.find("listed 1\n"), std::string::npos) << r.err;
}

TEST_F(TwoHostLan, UnicastAndGroupRepliesAreHeard) {
    json uni = simDevice("00000000000000e1", "uni", "VSB-720K", "10.231.1.2");
    uni["reply"] = "unicast";
    json grp = simDevice("00000000000000e2", "grp", "VSB-760K", "10.231.1.3");
    grp["reply"] = "group";
    startSim({uni, grp});
    const auto found = search();
    ASSERT_EQ(found.size(), 2u);
    const json* u = byUuid(found, "00000000000000e1");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->at("ports")[0].at("IP"), "10.231.1.2");
    EXPECT_EQ(u->at("localIfIndex"), 0);
    EXPECT_TRUE(byUuid(found, "00000000000000e2"));
    // Asked by address too, each is recorded once: the one that answers
    // the group there is no device found by address; the one whose answers
    // all come by unicast from the address asked is.
    const auto both = search({"--host", "10.231.1.2", "--host", "10.231.1.3"});
    ASSERT_EQ(both.size(), 2u);
    EXPECT_TRUE(byUuid(both, "00000000000000e1")->contains("byAddress"));
    EXPECT_FALSE(byUuid(both, "00000000000000e2")->contains("byAddress"));
}

TEST_F(TwoHostLan, DeviceOnTwoClientInterfacesIsRecordedOnceOnTheFirst) {
    addSecondLink();
    // A box with a port on each link, answering from each.
    json d = simDevice("00000000000000e3", "both", "VSB-790K", "10.231.1.2");
    d["ports"].push_back(json{{"IP", "10.231.2.2"}, {"netmask", "255.255.255.0"}});
    d["reply"] = "unicast";
    startSim({d});
    const auto found = search();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].at("localIfIndex"), 0);
    // Limited to the second interface, the device is heard there alone.
    const auto second = search({"--interface", "10.231.2.1"});
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].at("localIfIndex"), 0);
}

TEST_F(TwoHostLan, ReplyIsHeardOnTheInterfaceItArrivesOn) {
    // A third host on a second client link hears nothing; the device answers
    // on link 1 only. Searched second-link-first, the device's reply must
    // reach the socket of link 1 (index 1), by unicast and by group alike.
    Netns other("e");
    ASSERT_TRUE(other.ok());
    std::string error;
    ASSERT_TRUE(veth(*client, "10.231.2.1/24", other, "10.231.2.2/24", &error)) << error;
    json uni = simDevice("00000000000000e6", "uni", "VSB-720K", "10.231.1.2");
    uni["reply"] = "unicast";
    json grp = simDevice("00000000000000e7", "grp", "VSB-760K", "10.231.1.3");
    grp["reply"] = "group";
    startSim({uni, grp});
    const auto found = search({"--interface", "10.231.2.1", "--interface", "10.231.1.1"});
    ASSERT_EQ(found.size(), 2u);
    for (const auto& d : found) EXPECT_EQ(d.at("localIfIndex"), 1) << d.at("hostname");
}

TEST_F(TwoHostLan, UnsupportedAndMalformedRepliesAreIgnored) {
    json bad = simDevice("00000000000000e4", "bad", "VSB-720K", "10.231.1.2");
    bad["faults"] = json::array({"wrongBodyLen"});
    json foreign = simDevice("00000000000000e5", "old", "VSB-100X", "10.231.1.3");
    startSim({bad, foreign});
    EXPECT_TRUE(search().empty());
}

TEST_F(TwoHostLan, NoDeviceCostsOneWindowWhateverTheInterfaces) {
    // The interfaces are searched together: one window of empty waits, not
    // one per interface, and no idle wait before the request.
    addSecondLink();
    RunResult r;
    EXPECT_TRUE(search({}, &r).empty());
    EXPECT_GE(r.elapsed, 1000ms);
    EXPECT_LT(r.elapsed, 1900ms);
}

namespace {
// The name of the device that holds `address` in namespace ns.
std::string deviceWithAddress(const Netns& ns, const std::string& address) {
    const RunResult r = run({"ip", "-n", ns.name(), "-o", "-4", "addr", "show"});
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" " + address + "/") == std::string::npos) continue;
        std::istringstream words(line);
        std::string index, name;
        words >> index >> name;
        return name;
    }
    return {};
}
}  // namespace

TEST_F(TwoHostLan, EachSearchCoversTheInterfacesTheHostHasNow) {
    // One long-lived library user in the client host (a thread of this
    // process moved into its namespace). Between two searches the host
    // gains a link to a third host and its first link is re-addressed; the
    // second search covers both, with the same client id.
    Netns other("e");
    ASSERT_TRUE(other.ok());
    startSim({simDevice("00000000000000f1", "first", "VSB-720K", "10.231.1.2")});
    Child sim2;
    std::string sim2Config;
    struct Round {
        std::vector<std::string> interfaces;
        std::vector<std::pair<std::string, int>> found;  // host name, interface
        qs::Uuid8 client{};
    };
    Round before, after;
    std::thread user([&] {
        const int fd = ::open(("/var/run/netns/" + client->name()).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::setns(fd, CLONE_NEWNET), 0);
        ::close(fd);
        auto transport = std::make_unique<qs::SocketTransport>();
        ASSERT_TRUE(transport->OpenSockets({}));
        qs::DeviceLibrary lib(std::move(transport));
        const auto searchInto = [&](Round& round) {
            ASSERT_TRUE(lib.SearchDevices());
            for (int i = 0; i < lib.link()->interfaceCount(); ++i)
                round.interfaces.push_back(lib.link()->interfaceAddress(i));
            for (std::size_t k = 0; k < lib.devices.count(); ++k)
                round.found.emplace_back(lib.devices.at(k).hostname.str(), lib.devices.at(k).localIfIndex);
            round.client = lib.clientUUID();
        };
        searchInto(before);
        std::string error;
        ASSERT_TRUE(veth(*client, "10.231.2.1/24", other, "10.231.2.2/24", &error)) << error;
        const std::string first = deviceWithAddress(*client, "10.231.1.1");
        ASSERT_FALSE(first.empty());
        ASSERT_EQ(run({"ip", "-n", client->name(), "addr", "del", "10.231.1.1/24", "dev", first}).exitCode, 0);
        ASSERT_EQ(run({"ip", "-n", client->name(), "addr", "add", "10.231.1.5/24", "dev", first}).exitCode, 0);
        sim2Config = tempFile(simConfig({simDevice("00000000000000f2", "second", "VSB-760K", "10.231.2.2")}));
        ASSERT_TRUE(sim2.start(other.exec({simBin(), "--config", sim2Config})));
        ASSERT_TRUE(sim2.waitForLine("ready")) << sim2.errors();
        searchInto(after);
    });
    user.join();
    sim2.stop();
    if (!sim2Config.empty()) ::unlink(sim2Config.c_str());
    EXPECT_EQ(before.interfaces, (std::vector<std::string>{"10.231.1.1"}));
    EXPECT_EQ(before.found, (std::vector<std::pair<std::string, int>>{{"first", 0}}));
    EXPECT_EQ(after.interfaces, (std::vector<std::string>{"10.231.1.5", "10.231.2.1"}));
    EXPECT_EQ(after.found, (std::vector<std::pair<std::string, int>>{{"first", 0}, {"second", 1}}));
    EXPECT_EQ(after.client, before.client);
}

TEST_F(TwoHostLan, DeviceOperationsInBothForms) {
    json d = simDevice("00000000000000e8", "nas", "VSB-760K", "10.231.1.2");
    d["shares"] = "Public@5:Media*6:Recycle Bin - Public";
    d["reply"] = "unicast";
    json g = simDevice("00000000000000e9", "nas-group", "VSB-720K", "10.231.1.3");
    g["reply"] = "group";
    startSim({d, g});
    for (const std::string form : {"", "--runloop"}) {
        for (const std::string dev : {"nas", "nas-group"}) {
            std::vector<std::string> args{quaysideBin(), "check-password", "--device", dev, "--user", "admin", "--password", "admin"};
            if (!form.empty()) args.push_back(form);
            RunResult r = run(client->exec(args));
            EXPECT_EQ(r.exitCode, 0) << form << " " << dev << ": " << r.err;
            EXPECT_EQ(r.out, "accepted\n");
            args[7] = "wrong";
            EXPECT_EQ(run(client->exec(args)).exitCode, 1) << form << " " << dev;
        }
        std::vector<std::string> shares{quaysideBin(), "shares", "--device", "nas", "--user", "admin", "--password", "admin"};
        if (!form.empty()) shares.push_back(form);
        const RunResult r = run(client->exec(shares));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, form.empty() ? "Public\nMedia (locked)\nRecycle Bin - Public\n" : "Public\nMedia (locked)\n");
    }
}

TEST_F(TwoHostLan, SettingsChangeAndLanInformation) {
    json d = simDevice("00000000000000ea", "nas", "VSB-720K", "10.231.1.2");
    startSim({d});
    RunResult r = run(client->exec({quaysideBin(), "set-lan", "--device", "nas", "--user", "admin", "--password",
                                    "admin", "--port", "LAN", "--ip", "10.231.1.9", "--netmask", "255.255.255.0",
                                    "--gateway", "10.231.1.1"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto found = search();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["ports"][0]["IP"], "10.231.1.9");
    r = run(client->exec({quaysideBin(), "lan-info", "--device", "10.231.1.9", "--json"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["ports"][0]["IP"], "10.231.1.9");
}

TEST_F(TwoHostLan, DeviceThatDoesNotAnswerOperations) {
    json d = simDevice("00000000000000eb", "mute", "VSB-720K", "10.231.1.2");
    d["faults"] = json::array({"noReply"});
    startSim({d});
    const RunResult r = run(client->exec({quaysideBin(), "check-password", "--device", "mute", "--user", "admin",
                                          "--password", "admin", "--runloop"}));
    EXPECT_EQ(r.exitCode, 3) << r.err;
}

namespace {

// The client on 10.231.1.0/24, the devices' host on 10.232.1.0/24, and a
// router between them that forwards unicast and not multicast.
class RoutedLan : public ::testing::Test {
protected:
    std::unique_ptr<Netns> client, router, devices;
    std::string devicesLink;
    Child sim;
    std::string config;

    void SetUp() override {
        std::string why;
        if (!Netns::available(&why)) GTEST_SKIP() << why;
        client = std::make_unique<Netns>("c");
        router = std::make_unique<Netns>("r");
        devices = std::make_unique<Netns>("d");
        ASSERT_TRUE(client->ok() && router->ok() && devices->ok()) << "could not create network namespaces";
        std::string error, routerLink;
        ASSERT_TRUE(veth(*client, "10.231.1.1/24", *router, "10.231.1.254/24", &error)) << error;
        ASSERT_TRUE(veth(*devices, "10.232.1.2/24", *router, "10.232.1.254/24", &error, &devicesLink, &routerLink))
            << error;
        ASSERT_TRUE(enableForwarding(*router, &error)) << error;
        ASSERT_TRUE(route(*client, {"default", "via", "10.231.1.254"}, &error)) << error;
        ASSERT_TRUE(route(*devices, {"default", "via", "10.232.1.254"}, &error)) << error;
    }
    void TearDown() override {
        sim.stop();
        if (!config.empty()) ::unlink(config.c_str());
    }
    // Devices at 10.232.1.2 onwards, each address held by the devices' host.
    void startSim(int count, const json& keys = json::object()) {
        std::vector<json> list;
        std::string error;
        for (int i = 0; i < count; ++i) {
            const std::string ip = "10.232.1." + std::to_string(2 + i);
            if (i > 0) {
                ASSERT_TRUE(addAddress(*devices, ip + "/24", devicesLink, &error)) << error;
            }
            char uuid[17];
            std::snprintf(uuid, sizeof uuid, "00000000000000%02x", 0xc0 + i);
            json d = simDevice(uuid, "far-" + std::to_string(i), "VSB-720K", ip);
            d["shares"] = "Public@5:Media*6";
            d.update(keys);
            list.push_back(d);
        }
        config = tempFile(simConfig(list));
        ASSERT_TRUE(sim.start(devices->exec({simBin(), "--config", config})));
        ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    }
    RunResult quayside(std::vector<std::string> args) {
        args.insert(args.begin(), quaysideBin());
        return run(client->exec(args));
    }
    std::vector<json> search(const std::vector<std::string>& extra) {
        std::vector<std::string> args{"search", "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = quayside(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return jsonLines(r.out);
    }
};

}  // namespace

TEST_F(RoutedLan, DeviceBeyondTheRouterIsFoundAndManagedByAddress) {
    startSim(1);
    EXPECT_TRUE(search({}).empty()) << "the group must not reach across the router";
    const auto found = search({"--host", "10.232.1.2"});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].value("byAddress", false), true);
    EXPECT_EQ(found[0].at("localIfIndex"), 0);  // the interface its answer came in on

    const std::vector<std::string> reach{"--host", "10.232.1.2", "--device", "far-0", "--user", "admin",
                                         "--password", "admin"};
    for (const std::string form : {"", "--runloop"}) {
        std::vector<std::string> args{"check-password"};
        args.insert(args.end(), reach.begin(), reach.end());
        if (!form.empty()) args.push_back(form);
        RunResult r = quayside(args);
        EXPECT_EQ(r.out, "accepted\n") << form << ": " << r.err;
        args[0] = "shares";
        r = quayside(args);
        EXPECT_EQ(r.exitCode, 0) << form << ": " << r.err;
        EXPECT_NE(r.out.find("Media (locked)"), std::string::npos) << form << ": " << r.out;
    }
    RunResult r = quayside({"lan-info", "--host", "10.232.1.2", "--no-multicast", "--device", "far-0", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["ports"][0]["IP"], "10.232.1.2");

    // Moved to an address its host also holds, it is searched for there.
    std::string error;
    ASSERT_TRUE(addAddress(*devices, "10.232.1.9/24", devicesLink, &error)) << error;
    std::vector<std::string> move{"set-lan", "--port", "LAN", "--ip", "10.232.1.9", "--netmask", "255.255.255.0",
                                  "--gateway", "10.232.1.254"};
    move.insert(move.end(), reach.begin(), reach.end());
    r = quayside(move);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("far-0 answers at 10.232.1.9."), std::string::npos) << r.err;
    const auto moved = search({"--host", "10.232.1.9", "--no-multicast"});
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0]["ports"][0]["IP"], "10.232.1.9");
    // Off the subnet the router reaches it on, it would be lost: refused.
    move[4] = "10.99.0.5";
    move[move.size() - 7] = "10.232.1.9";  // --host: where it answers now
    r = quayside(move);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("10.99.0.5 is outside the subnet 10.232.1.0"), std::string::npos) << r.err;
}

namespace {
class EveryAnsweringRoutedLan : public RoutedLan, public ::testing::WithParamInterface<Answering> {};
}  // namespace

TEST_P(EveryAnsweringRoutedLan, FoundByAddressSweptWatchedAndManaged) {
    startSim(1, GetParam().keys);
    const auto found = search({"--host", "10.232.1.2"});
    if (!GetParam().crossesRouter) {
        EXPECT_TRUE(found.empty()) << "its answers go to a group, which does not cross the router";
        return;
    }
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].value("byAddress", false), true);
    const auto swept = search({"--host", "10.232.1.0/28", "--no-multicast"});
    ASSERT_EQ(swept.size(), 1u);
    EXPECT_EQ(swept[0].value("byAddress", false), true);
    for (const std::string& form : kBothForms) {
        std::vector<std::string> args{"shares", "--host", "10.232.1.2", "--device", "far-0", "--user", "admin",
                                      "--password", "admin"};
        if (!form.empty()) args.push_back(form);
        const RunResult r = quayside(args);
        EXPECT_EQ(r.exitCode, 0) << form << ": " << r.err;
        EXPECT_NE(r.out.find("Media (locked)"), std::string::npos) << form << ": " << r.out;
    }
    Child watch;
    ASSERT_TRUE(watch.start(
        client->exec({quaysideBin(), "watch", "--json", "--every", "3", "--no-multicast", "--host", "10.232.1.2"})));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (watch.output().find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
        watch.waitForLine("\x01", 100ms);
    watch.stop();
    const auto events = jsonLines(watch.output());
    ASSERT_FALSE(events.empty()) << watch.errors();
    EXPECT_EQ(events[0].at("event"), "new");
}

INSTANTIATE_TEST_SUITE_P(Boxes, EveryAnsweringRoutedLan, ::testing::ValuesIn(kAnswering), answeringName);

TEST_F(RoutedLan, SweepOfABlockFindsEachDeviceOnce) {
    startSim(10);
    const auto found = search({"--host", "10.232.1.0/24", "--host", "10.232.1.5", "--no-multicast"});
    ASSERT_EQ(found.size(), 10u);
    std::set<std::string> names;
    for (const auto& d : found) {
        names.insert(d.at("hostname").get<std::string>());
        EXPECT_EQ(d.value("byAddress", false), true);
    }
    EXPECT_EQ(names.size(), 10u);
}

TEST_F(TwoHostLan, SearchesAndPasswordChecksOutlastTenPercentLossEachWay) {
    std::string error;
    ASSERT_TRUE(dropAtRandom(*client, 10, &error)) << error;
    ASSERT_TRUE(sim.start(device->exec({simBin(), "--generate", "50"})));
    ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    std::size_t total = 0, fewest = 50;
    for (int round = 0; round < 8; ++round) {
        const std::size_t n = search().size();
        total += n;
        fewest = std::min(fewest, n);
    }
    EXPECT_GE(total, 396u) << "at least 99% of 50 devices over 8 searches";
    EXPECT_GE(fewest, 45u);
    for (int round = 0; round < 8; ++round) {
        const RunResult r = run(client->exec(
            {quaysideBin(), "check-password", "--device", "vsb-0001", "--user", "admin", "--password", "admin"}));
        EXPECT_EQ(r.out, "accepted\n") << "check " << round << ": " << r.err;
    }
}

TEST_F(RoutedLan, WatchFollowsADeviceByAddress) {
    startSim(1);
    Child watch;
    ASSERT_TRUE(watch.start(
        client->exec({quaysideBin(), "watch", "--json", "--every", "3", "--no-multicast", "--host", "10.232.1.2"})));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (watch.output().find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
        watch.waitForLine("\x01", 100ms);  // no line is ever this; the call only reads what came
    EXPECT_EQ(watch.stop(), 0);
    const auto events = jsonLines(watch.output());
    ASSERT_EQ(events.size(), 1u) << watch.output() << watch.errors();
    EXPECT_EQ(events[0].at("event"), "new");
    EXPECT_EQ(events[0].at("hostname"), "far-0");
    EXPECT_EQ(events[0].value("byAddress", false), true);
}
