// The administrator password on a shared segment: a client, a host with
// simulated devices and a third host, all on one switch (a bridge), as on
// an office LAN where every host receives what goes to a group. Every host
// is a network namespace of the test's own (root only; skipped otherwise).
#include "quayside/address.h"
#include "quayside/socket_transport.h"
#include "quayside/wire.h"
#include "support/lab.h"
#include "support/packets.h"
#include "support/netns.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sstream>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace qs;
using namespace qs::test;
using namespace std::chrono_literals;

namespace {

// A host that joins both groups on its link and counts the device requests
// it receives there, by opcode.
class GroupRecorder {
public:
    bool open(const Netns& host, const std::string& device, std::string* error) {
        fd_ = openGroupListener(host, device, error);
        if (fd_ < 0) return false;
        reader_ = std::thread([this] { read(); });
        return true;
    }
    ~GroupRecorder() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    // Requests that carry the password (password check, share list,
    // settings change) heard on a group so far.
    int credentialCopies() {
        std::lock_guard<std::mutex> lock(mutex_);
        return byOpcode_[op_CHK_PASSWD] + byOpcode_[op_GET_SAMBA_SHARE] + byOpcode_[op_SET_LAN];
    }

private:
    void read() {
        std::uint8_t buffer[kBlockingBufferSize];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            while (const auto d = receiveWithPacketInfo(fd_, buffer)) {
                const auto h = readHeader(ByteView(buffer, d->length));
                if (!IN_MULTICAST(ntohl(d->to.s_addr)) || !h || h->magic != kRequestMagic) continue;
                std::lock_guard<std::mutex> lock(mutex_);
                ++byOpcode_[h->opcode];
            }
        }
    }

    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread reader_;
    std::mutex mutex_;
    std::map<std::uint16_t, int> byOpcode_;
};

// A hostile host on the segment: it answers every search it hears on a
// group with a forged answer under `victim`'s serverUUID and its own
// address, and sprays forged acceptances of a password check under that
// serverUUID at the device port of `client`, to the group and by unicast.
class Impostor {
public:
    Impostor(const Uuid8& victim, std::string client) : victim_(victim), client_(std::move(client)) {}
    bool open(const Netns& host, const std::string& device, std::string* error) {
        fd_ = openGroupListener(host, device, error);
        if (fd_ < 0) return false;
        worker_ = std::thread([this] { work(); });
        return true;
    }
    ~Impostor() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    int forgedSearchAnswers() const { return searches_; }

private:
    void sendTo(const Bytes& d, const char* address) {
        const sockaddr_in to = socketAddressOf(Ipv4::parse(address).value_or(Ipv4{}), kDevicePort);
        ::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    void work() {
        std::uint8_t buffer[kBlockingBufferSize];
        std::set<Uuid8> clients;
        const auto end = std::chrono::steady_clock::now() + 120s;  // bounded whatever the test does
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 20);
            while (const auto d = receiveWithPacketInfo(fd_, buffer)) {
                const auto h = readHeader(ByteView(buffer, d->length));
                if (!h || h->magic != kRequestMagic || h->opcode != op_SEARCH) continue;
                clients.insert(h->clientUUID);
                sendTo(reply(op_SEARCH, h->clientUUID, victim_, onePortDevice("nas", "VSB-720K", "10.231.7.3")),
                       ipv4Of(d->to).text().c_str());
                ++searches_;
            }
            for (const Uuid8& c : clients) {
                const Bytes accepted = reply(op_CHK_PASSWD, c, victim_, {}, 1);
                for (const char* to : {client_.c_str(), kBlockingGroup, kRunLoopGroup}) sendTo(accepted, to);
            }
        }
    }

    Uuid8 victim_;
    std::string client_;
    int fd_ = -1;
    std::atomic<int> searches_{0};
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

class SharedSegment : public ::testing::Test {
protected:
    std::unique_ptr<Netns> hub, client, devices, third;
    std::vector<std::string> links;
    Child sim;
    std::string config;

    void SetUp() override {
        std::string why;
        if (!Netns::available(&why)) GTEST_SKIP() << why;
        hub = std::make_unique<Netns>("s");
        client = std::make_unique<Netns>("c");
        devices = std::make_unique<Netns>("d");
        third = std::make_unique<Netns>("t");
        ASSERT_TRUE(hub->ok() && client->ok() && devices->ok() && third->ok()) << "could not create namespaces";
        std::string error;
        ASSERT_TRUE(segment(*hub,
                            {{client.get(), "10.231.7.1/24"}, {devices.get(), "10.231.7.2/24"},
                             {third.get(), "10.231.7.3/24"}},
                            &error, &links))
            << error;
        ASSERT_TRUE(route(*client, {"default", "via", "10.231.7.2"}, &error)) << error;
    }
    void TearDown() override {
        sim.stop();
        if (!config.empty()) ::unlink(config.c_str());
    }
    void startSim(const std::vector<json>& list) {
        config = tempFile(simConfig(list));
        ASSERT_TRUE(sim.start(devices->exec({simBin(), "--config", config})));
        ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    }
};

}  // namespace

TEST_F(SharedSegment, PasswordReachesTheGroupOnlyForABoxThatListensNowhereElse) {
    GroupRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.open(*third, links[2], &error)) << error;
    json uni = simDevice("00000000000000f1", "nas", "VSB-720K", "10.231.7.2");
    json grp = simDevice("00000000000000f2", "nas-group", "VSB-760K", "10.231.7.4");
    grp["groupOnly"] = true;
    startSim({uni, grp});

    // The requests with the password that a command sends in each form: the
    // run-loop engine follows every accepted password check with the share
    // list or the settings change, and the blocking set-lan checks the
    // password before the change too.
    struct Command {
        std::vector<std::string> args;
        int blocking, runLoop;
    };
    const auto settings = [](const char* ip) {
        return std::vector<std::string>{"set-lan", "--port", "LAN", "--ip", ip, "--netmask", "255.255.255.0",
                                        "--gateway", "192.168.77.1"};
    };
    std::printf("copies of the password on the groups (the requests that carry it)\n");
    for (const auto& [box, ip] : {std::pair{"nas", "10.231.7.2"}, std::pair{"nas-group", "10.231.7.4"}}) {
        for (const std::string form : {"", "--runloop"}) {
            for (const Command& c :
                 {Command{{"check-password"}, 1, 2}, Command{{"shares"}, 2, 2}, Command{settings(ip), 2, 2}}) {
                const int requests = form.empty() ? c.blocking : c.runLoop;
                std::vector<std::string> argv{quaysideBin()};
                argv.insert(argv.end(), c.args.begin(), c.args.end());
                argv.insert(argv.end(), {"--device", box, "--user", "admin", "--password", "admin"});
                if (!form.empty()) argv.push_back(form);
                const int before = recorder.credentialCopies();
                const RunResult r = run(client->exec(argv));
                EXPECT_EQ(r.exitCode, 0) << box << " " << c.args[0] << " " << form << ": " << r.err;
                std::this_thread::sleep_for(200ms);  // what is still on its way
                const int copies = recorder.credentialCopies() - before;
                std::printf("  %-9s %-14s %-9s %d (%d)\n", box, c.args[0].c_str(), form.empty() ? "blocking" : "run-loop",
                            copies, requests);
                if (std::string(box) == "nas")
                    EXPECT_EQ(copies, 0) << c.args[0] << " " << form;
                else
                    EXPECT_EQ(copies, requests) << c.args[0] << " " << form;
            }
        }
    }
}

TEST_F(SharedSegment, ForgedAnswersFromAThirdHostChangeNothing) {
    startSim({simDevice("00000000000000f3", "nas", "VSB-720K", "10.231.7.2")});
    Impostor impostor(*uuidFromHex("00000000000000f3"), "10.231.7.1");
    std::string error;
    ASSERT_TRUE(impostor.open(*third, links[2], &error)) << error;
    for (const std::string form : {"", "--runloop"}) {
        // Found by address while a forged group answer claims it from
        // elsewhere: it stays the box at the address asked, and a wrong
        // password is refused whatever acceptances are sprayed meanwhile.
        std::vector<std::string> argv{quaysideBin(), "check-password", "--device", "nas", "--host", "10.231.7.2",
                                      "--user", "admin", "--password", "wrong"};
        if (!form.empty()) argv.push_back(form);
        RunResult r = run(client->exec(argv));
        EXPECT_EQ(r.exitCode, 1) << form << ": " << r.out << r.err;
        EXPECT_EQ(r.out, "refused\n") << form;
        argv[9] = "admin";
        r = run(client->exec(argv));
        EXPECT_EQ(r.exitCode, 0) << form << ": " << r.err;
    }
    const auto found = jsonLines(run(client->exec({quaysideBin(), "search", "--json", "--host", "10.231.7.2"})).out);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].at("ports")[0].at("IP"), "10.231.7.2");
    EXPECT_GT(impostor.forgedSearchAnswers(), 0);

    // Searched through the group alone, the box and its impostor are both
    // listed and marked, and nothing is sent to either.
    const auto both = jsonLines(run(client->exec({quaysideBin(), "search", "--json"})).out);
    ASSERT_EQ(both.size(), 2u);
    for (const auto& d : both) EXPECT_EQ(d.value("conflict", false), true) << d.dump();
    for (const std::string form : {"", "--runloop"}) {
        std::vector<std::string> argv{quaysideBin(), "check-password", "--device", "nas", "--user", "admin",
                                      "--password", "admin"};
        if (!form.empty()) argv.push_back(form);
        const RunResult r = run(client->exec(argv));
        EXPECT_EQ(r.exitCode, 4) << form << ": " << r.err;
        EXPECT_NE(r.err.find("given one address"), std::string::npos) << r.err;
    }
}

// Before a static address goes to a box, the link is asked who holds it:
// another host's address stops the change (both forms) unless --force; an
// address on no subnet of the way to the box stops it too. After a change
// the box is looked for, and where it answers is said.
TEST_F(SharedSegment, AnAddressInUseOrOutOfReachStopsTheChange) {
    json box = simDevice("00000000000000f5", "nas", "VSB-720K", "10.231.7.2");
    box["restartMs"] = 1500;
    startSim({box});
    // The third host's hardware address: "NAME STATE aa:bb:cc:dd:ee:ff ...".
    std::string thirdMac;
    {
        std::istringstream words(run({"ip", "-n", third->name(), "-br", "link", "show", "dev", links[2]}).out);
        words >> thirdMac >> thirdMac >> thirdMac;
    }
    ASSERT_EQ(thirdMac.size(), 17u) << thirdMac;
    const auto setLan = [&](const std::string& ip, std::vector<std::string> extra) {
        std::vector<std::string> argv{quaysideBin(), "set-lan", "--device", "nas", "--user", "admin", "--password",
                                      "admin", "--port", "LAN", "--ip", ip, "--netmask", "255.255.255.0",
                                      "--gateway", "10.231.7.254"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return run(client->exec(argv));
    };
    for (const std::vector<std::string>& form : {std::vector<std::string>{}, {"--runloop"}}) {
        const RunResult held = setLan("10.231.7.3", form);
        EXPECT_EQ(held.exitCode, 2) << held.err;
        EXPECT_NE(held.err.find("10.231.7.3 is already in use on the network (by " + thirdMac + ")."),
                  std::string::npos)
            << held.err;
        const RunResult away = setLan("10.99.1.2", form);
        EXPECT_EQ(away.exitCode, 2) << away.err;
        EXPECT_NE(away.err.find("10.99.1.2 is outside every subnet of"), std::string::npos) << away.err;
    }
    // Nothing reached the box: it still has its address.
    RunResult r = run(client->exec({quaysideBin(), "search", "--json"}));
    ASSERT_EQ(jsonLines(r.out).size(), 1u) << r.err;
    EXPECT_EQ(jsonLines(r.out)[0]["ports"][0]["IP"], "10.231.7.2");

    // Forced onto the third host's address, it goes.
    r = setLan("10.231.7.3", {"--force"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("going ahead: --force"), std::string::npos) << r.err;
}

// A box that restarts its network after a change, at an address its host
// takes: it is looked for there and said to answer there.
TEST_F(SharedSegment, ABoxThatRestartsIsFoundAtItsNewAddress) {
    json box = simDevice("00000000000000f6", "nas", "VSB-720K", "10.231.7.2");
    box["restartMs"] = 1500;
    startSim({box});
    std::string error;
    ASSERT_TRUE(addAddress(*devices, "10.231.7.60/24", links[1], &error)) << error;
    const RunResult r = run(client->exec({quaysideBin(), "set-lan", "--device", "nas", "--user", "admin",
                                          "--password", "admin", "--port", "LAN", "--ip", "10.231.7.60", "--netmask",
                                          "255.255.255.0", "--gateway", "10.231.7.254"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("nas answers at 10.231.7.60."), std::string::npos) << r.err;
}
