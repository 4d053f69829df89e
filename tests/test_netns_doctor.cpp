// quayside doctor on hosts built to have one fault each: every host is a
// network namespace of the test's own (root only; skipped otherwise), and
// the doctor runs inside it as a user would run it on that host.
#include "support/lab.h"
#include "support/netns.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

using namespace qs::test;
using namespace std::chrono_literals;

namespace {

class DoctorNetns : public ::testing::Test {
protected:
    std::unique_ptr<Netns> host, box, router;
    std::string hostDevice, boxDevice;
    Child sim;
    std::string config;

    void SetUp() override {
        std::string why;
        if (!Netns::available(&why)) GTEST_SKIP() << why;
        host = std::make_unique<Netns>("doch");
        ASSERT_TRUE(host->ok()) << "could not create a namespace";
    }
    void TearDown() override {
        sim.stop();
        if (!config.empty()) ::unlink(config.c_str());
    }
    // The box host on a link of its own to the host, and vsb-sim there
    // playing `devices`.
    void wireBox(const std::string& hostCidr, const std::string& boxCidr) {
        box = std::make_unique<Netns>("docb");
        ASSERT_TRUE(box->ok());
        std::string error;
        ASSERT_TRUE(veth(*host, hostCidr, *box, boxCidr, &error, &hostDevice, &boxDevice)) << error;
    }
    void startSim(const std::vector<json>& devices) {
        config = tempFile(simConfig(devices));
        ASSERT_TRUE(sim.start(box->exec({simBin(), "--config", config})));
        ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    }
    void inHost(const std::vector<std::string>& argv) {
        const RunResult r = run(host->exec(argv), {}, 10s);
        ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
    }
    RunResult doctor(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv{quaysideBin(), "doctor"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return run(host->exec(argv), {}, 60s);
    }
};

bool says(const RunResult& r, const std::string& text) { return r.out.find(text) != std::string::npos; }

}  // namespace

TEST_F(DoctorNetns, ABoxOnTheLanIsFoundAndNothingIsWrong) {
    wireBox("10.71.0.1/24", "10.71.0.20/24");
    startSim({simDevice("00000000000000d1", "nas", "VSB-720K", "10.71.0.20")});
    const RunResult r = doctor();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Nothing stands between this computer and the boxes.\n1 box answered.\n");
}

TEST_F(DoctorNetns, NoInterfaceWithAnIPv4Address) {
    inHost({"ip", "link", "add", "d0", "type", "veth", "peer", "name", "d1"});
    inHost({"ip", "link", "set", "d0", "up"});
    const RunResult r = doctor();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(says(r, "No network interface is up with an IPv4 address (loopback aside) (d0 is up without one)"))
        << r.out;
    EXPECT_TRUE(says(r, "No box answered.\n")) << r.out;
}

TEST_F(DoctorNetns, OnlyALinkLocalAddress) {
    wireBox("169.254.10.1/16", "169.254.10.2/16");
    const RunResult r = doctor();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(says(r, hostDevice + " has only a link-local address (169.254.10.1): no DHCP server")) << r.out;
}

TEST_F(DoctorNetns, MulticastTurnedOff) {
    wireBox("10.72.0.1/24", "10.72.0.20/24");
    inHost({"ip", "link", "set", hostDevice, "multicast", "off"});
    const RunResult r = doctor();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(says(r, hostDevice + " (10.72.0.1) has multicast turned off, so the search does not use it: turn it "
                         "on with 'sudo ip link set " + hostDevice + " multicast on'.")) << r.out;
}

TEST_F(DoctorNetns, ContainerNetworksAndTunnelsAreNamed) {
    wireBox("10.73.0.1/24", "10.73.0.20/24");
    inHost({"ip", "link", "add", "docker0", "type", "bridge"});
    inHost({"ip", "addr", "add", "172.17.0.1/16", "dev", "docker0"});
    inHost({"ip", "link", "set", "docker0", "up"});
    inHost({"ip", "tuntap", "add", "dev", "tun0", "mode", "tun"});
    inHost({"ip", "addr", "add", "10.8.0.2/24", "dev", "tun0"});
    inHost({"ip", "link", "set", "tun0", "up"});
    const RunResult r = doctor();
    EXPECT_TRUE(says(r, "docker0 (172.17.0.1) is a container network: the search uses it, but boxes are rarely "
                        "there: nothing to do if the boxes are on another interface; to leave it out, search with "
                        "--interface 10.73.0.1.")) << r.out;
    EXPECT_TRUE(says(r, "tun0 (10.8.0.2) is a VPN tunnel: the search uses it")) << r.out;
    EXPECT_FALSE(says(r, hostDevice + " (")) << r.out;  // the LAN itself is no finding
}

TEST_F(DoctorNetns, AFirewallRuleDroppingTheBoxesPort) {
    std::string nft;
    for (const char* path : {"/usr/sbin/nft", "/sbin/nft", "/usr/bin/nft"})
        if (::access(path, X_OK) == 0) nft = path;
    if (nft.empty()) GTEST_SKIP() << "nft not found: install the nftables package to test the firewall finding";
    wireBox("10.74.0.1/24", "10.74.0.20/24");
    startSim({simDevice("00000000000000d4", "nas", "VSB-720K", "10.74.0.20")});
    const RunResult rules = run(host->exec({nft, "-f", "-"}),
                                "table inet qsdoc {\n"
                                "  chain input {\n    type filter hook input priority 0; policy accept;\n"
                                "    udp dport 24680 counter drop\n  }\n}\n",
                                10s);
    ASSERT_EQ(rules.exitCode, 0) << rules.err;
    const RunResult r = doctor();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(says(r, "The firewall drops UDP port 24680, the boxes' datagrams (rule ")) << r.out;
    EXPECT_TRUE(says(r, " of chain input of table inet qsdoc): remove that rule")) << r.out;
}

// A box whose address is on no subnet of the host, on the host's own link,
// while the host's default route goes out through a router on another
// link: strict reverse-path filtering drops its answers; loose filtering
// lets them in, and the box is named as misconfigured with the way to
// reach it, which works.
TEST_F(DoctorNetns, ABoxOnAnotherSubnet) {
    wireBox("10.75.0.1/24", "10.76.0.20/24");
    router = std::make_unique<Netns>("docr");
    ASSERT_TRUE(router->ok());
    std::string error;
    ASSERT_TRUE(veth(*host, "10.77.0.2/24", *router, "10.77.0.1/24", &error)) << error;
    ASSERT_TRUE(route(*host, {"default", "via", "10.77.0.1"}, &error)) << error;
    startSim({simDevice("00000000000000d5", "nas", "VSB-720K", "10.76.0.20")});

    inHost({"sysctl", "-q", "-w", "net.ipv4.conf.all.rp_filter=1"});
    RunResult r = doctor();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(says(r, "Reverse-path filtering dropped ")) << r.out;
    EXPECT_TRUE(says(r, "it is strict on " + hostDevice)) << r.out;
    EXPECT_TRUE(says(r, "'sudo sysctl -w net.ipv4.conf." + hostDevice + ".rp_filter=2'")) << r.out;

    inHost({"sysctl", "-q", "-w", "net.ipv4.conf." + hostDevice + ".rp_filter=2"});
    r = doctor();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(says(r, "Reverse-path")) << r.out;
    const std::string advice = "nas (00000000000000d5) answers from 10.76.0.20, outside every subnet of this "
                               "computer: the box is misconfigured. Reach it with --host 10.76.0.20 (quayside search "
                               "--host 10.76.0.20) once this computer has an address in 10.76.0.0/24 too (sudo ip "
                               "addr add ADDRESS/24 dev " + hostDevice + ", with an ADDRESS no other host uses)";
    EXPECT_TRUE(says(r, advice)) << r.out;
    EXPECT_TRUE(says(r, "and give it an address in 10.75.0.0/24 on " + hostDevice + " with quayside set-lan.")) << r.out;

    // The advice, followed: the box answers a request sent to its address.
    ASSERT_TRUE(addAddress(*host, "10.76.0.99/24", hostDevice, &error)) << error;
    const auto found = jsonLines(run(host->exec({quaysideBin(), "search", "--json", "--no-multicast", "--host",
                                                 "10.76.0.20"})).out);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].at("hostname"), "nas");
}

TEST_F(DoctorNetns, AnswersThatFailTheChecksAreCountedByKind) {
    wireBox("10.78.0.1/24", "10.78.0.20/24");
    json good = simDevice("00000000000000d6", "nas", "VSB-720K", "10.78.0.20");
    good["faults"] = {"badThenGood"};
    json bad = simDevice("00000000000000d7", "broken", "VSB-720K", "10.78.0.20");
    bad["faults"] = {"wrongBodyLen"};
    startSim({good, bad});
    const RunResult r = doctor({"--verbose"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(says(r, " answers were dropped: ")) << r.out;
    EXPECT_TRUE(says(r, " not a reply (magic) from 10.78.0.20")) << r.out;
    EXPECT_TRUE(says(r, " body length does not match the datagram from 10.78.0.20")) << r.out;
    EXPECT_TRUE(says(r, "1 box answered.\n")) << r.out;
    EXPECT_NE(r.err.find("quayside: dropped "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" bytes from 10.78.0.20 on 10.78.0.1: not a reply (magic)\n"), std::string::npos) << r.err;
}
