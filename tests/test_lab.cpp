// Discovery against the device simulator in the loopback lab: real sockets,
// real multicast, one unprivileged host.
#include "quayside/device_library.h"
#include "support/lab.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <limits>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

using namespace qs;
using namespace qs::test;
using namespace std::chrono_literals;

namespace {

class LoopbackLab : public ::testing::Test {
protected:
    Child sim;

    void startSim(const std::vector<std::string>& args) {
        std::vector<std::string> argv{simBin()};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(sim.start(argv));
        ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    }
    void startSimWith(const std::vector<json>& devices) {
        config_ = tempFile(simConfig(devices));
        startSim({"--config", config_, "--loopback"});
    }
    std::vector<json> search(RunResult* raw = nullptr) {
        RunResult r = run({quaysideBin(), "search", "--json", "--loopback"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        if (raw) *raw = r;
        return jsonLines(r.out);
    }
    void TearDown() override {
        sim.stop();
        if (!config_.empty()) ::unlink(config_.c_str());
    }

private:
    std::string config_;
};

}  // namespace

TEST_F(LoopbackLab, LabSetListsTheSupportedDevices) {
    startSim({"--lab"});
    const auto devices = search();
    ASSERT_EQ(devices.size(), 3u);
    int twoPort = 0, bonded = 0;
    for (const auto& d : devices) {
        EXPECT_NE(d.at("modelName"), "VSB-100X");
        EXPECT_EQ(d.at("serverUUID").get<std::string>().size(), 16u);
        EXPECT_EQ(d.at("ports").size(), 2u);
        EXPECT_EQ(d.at("localIfIndex"), 0);
        for (const char* key : {"hostname", "ifCount", "nSendIF", "nDefaultGW", "bondingMode"}) EXPECT_TRUE(d.contains(key)) << key;
        EXPECT_EQ(d.value("jsonVersion", 0), 1);
        for (const auto& p : d.at("ports"))
            for (const char* key : {"IP", "netmask", "gateway", "dns1", "dns2", "dhcpEnable", "dnsMode"})
                EXPECT_TRUE(p.contains(key)) << key;
        if (d.at("ifCount") == 2 && !d.at("bondingEnable").get<bool>()) {
            ++twoPort;
            EXPECT_EQ(d.at("nSendIF"), 1);
        }
        if (d.at("bondingEnable").get<bool>()) ++bonded;
    }
    EXPECT_EQ(twoPort, 1);
    EXPECT_EQ(bonded, 1);
}

TEST_F(LoopbackLab, TableOutputCountsTheDevices) {
    startSim({"--lab"});
    const RunResult r = run({quaysideBin(), "search", "--loopback"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("3 devices found"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LAN1+LAN2"), std::string::npos) << r.out;
}

TEST_F(LoopbackLab, ExpectExitsSixWhenFewerBoxesAnswerAndListsThemAnyway) {
    startSim({"--lab"});
    RunResult r = run({quaysideBin(), "search", "--loopback", "--expect", "3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("3 devices found"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");

    r = run({quaysideBin(), "search", "--loopback", "--format", "csv", "--expect", "4"});
    EXPECT_EQ(r.exitCode, 6) << r.err;
    EXPECT_EQ(r.err, "quayside: 3 boxes answered, fewer than the 4 expected\n");
    // A header and a record per port the table shows, each line ending in CRLF.
    EXPECT_EQ(r.out.rfind("SERVER UUID,HOST NAME,MODEL,PORT,IP ADDRESS,NETMASK,GATEWAY,DHCP,MAC ADDRESS\r\n", 0), 0u) << r.out;
    const auto lines = std::count(r.out.begin(), r.out.end(), '\n');
    EXPECT_EQ(lines, 1 + 5) << r.out;  // one port, two, two bonded
    std::size_t crlf = 0;
    for (std::size_t at = r.out.find("\r\n"); at != std::string::npos; at = r.out.find("\r\n", at + 2)) ++crlf;
    EXPECT_EQ(crlf, static_cast<std::size_t>(lines));
}

TEST_F(LoopbackLab, GroupAndUnicastRepliesAreBothHeard) {
    json uni = simDevice("00000000000000a1", "uni", "VSB-720K", "192.168.77.11");
    uni["reply"] = "unicast";
    json grp = simDevice("00000000000000a2", "grp", "VSB-760K", "192.168.77.12");
    grp["reply"] = "group";
    startSimWith({uni, grp});
    const auto devices = search();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(byUuid(devices, "00000000000000a1"));
    EXPECT_TRUE(byUuid(devices, "00000000000000a2"));
}

TEST_F(LoopbackLab, MalformedAndUnsupportedRepliesAreIgnored) {
    std::vector<json> devices;
    const char* faults[] = {"wrongMagic", "foreignClient", "wrongBodyLen", "short", "itemLenBelow4", "itemPastEnd"};
    int n = 0;
    for (const char* f : faults) {
        json d = simDevice("00000000000000b" + std::to_string(n), std::string("bad-") + f, "VSB-720K",
                           "192.168.77." + std::to_string(20 + n));
        d["faults"] = json::array({f});
        devices.push_back(d);
        ++n;
    }
    devices.push_back(simDevice("00000000000000c1", "foreign-model", "VSB-100X", "192.168.77.40"));
    json dup = simDevice("00000000000000c2", "dup", "VSB-790K", "192.168.77.41");
    dup["faults"] = json::array({"duplicate"});
    devices.push_back(dup);
    json late = simDevice("00000000000000c3", "late-good", "VSB-720KW", "192.168.77.42");
    late["faults"] = json::array({"badThenGood"});
    late["delayMs"] = 300;
    devices.push_back(late);
    startSimWith(devices);
    const auto found = search();
    ASSERT_EQ(found.size(), 2u) << found.size();
    EXPECT_TRUE(byUuid(found, "00000000000000c2"));
    EXPECT_TRUE(byUuid(found, "00000000000000c3"));
}

TEST_F(LoopbackLab, NoDeviceTakesOneListeningWindowAndNoIdleSecond) {
    RunResult r;
    const auto devices = search(&r);
    EXPECT_TRUE(devices.empty());
    EXPECT_GE(r.elapsed, 1000ms);
    EXPECT_LT(r.elapsed, 1900ms);
}

TEST_F(LoopbackLab, LibraryRecordsTheAnsweringPortsAddresses) {
    startSim({"--lab"});
    auto transport = std::make_unique<SocketTransport>();
    TransportOptions options;
    options.loopbackLab = true;
    std::vector<std::string> log;
    options.log = [&](const std::string& line) { log.push_back(line); };
    ASSERT_TRUE(transport->OpenSockets(options));
    // The buffer asked for is granted, or the size granted is reported.
    const int granted = transport->receiveBufferSize(0);
    if (granted < options.receiveBufferBytes) {
        EXPECT_EQ(transport->receiveBufferShortfall(), granted);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find(std::to_string(granted) + " bytes granted"), std::string::npos) << log[0];
    } else {
        EXPECT_TRUE(log.empty()) << log[0];
    }
    DeviceLibrary lib(std::move(transport));
    ASSERT_TRUE(lib.SearchDevices());
    ASSERT_EQ(lib.devices.count(), 3u);
    for (std::size_t i = 0; i < lib.devices.count(); ++i) {
        const DeviceData_n& d = lib.devices.at(i);
        ASSERT_EQ(lib.SummarizeLanPorts(d.serverUUID), 1);
        if (d.ifCount == 2 && !d.bondingEnable) {
            EXPECT_EQ(lib.lanSummary.firstLabel.str(), "LAN1");
            EXPECT_EQ(d.answeringPort(), 1);
        }
        EXPECT_FALSE(lib.lanSummary.entry[0].IP.empty());
    }
}

TEST(BlockingTransport, SmallerReceiveBufferIsReportedOnceWithTheSizeGranted) {
    // More than the kernel grants even with privilege.
    SocketTransport transport;
    TransportOptions options;
    options.loopbackLab = true;
    options.receiveBufferBytes = std::numeric_limits<int>::max();
    std::vector<std::string> log;
    options.log = [&](const std::string& line) { log.push_back(line); };
    ASSERT_TRUE(transport.OpenSockets(options));
    const int granted = transport.receiveBufferSize(0);
    ASSERT_LT(granted, options.receiveBufferBytes);
    EXPECT_EQ(transport.receiveBufferShortfall(), granted);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find(std::to_string(granted) + " bytes granted"), std::string::npos) << log[0];
}

TEST(BlockingTransport, GroupNotJoinedOnAnInterfaceIsSaidOnceNamingItAndTheOption) {
    // The second entry's index is one the system does not know: its receive
    // socket opens and binds, but cannot join the group there.
    const unsigned lo = ::if_nametoindex("lo");
    SocketTransport transport;
    TransportOptions options;
    options.loopbackLab = true;
    options.receiveBufferBytes = 4096;  // granted: no line about it
    options.enumerate = [lo] {
        return std::vector<LocalInterface>{{"127.0.0.1", "lo", lo}, {"127.0.0.2", "lo", lo + 100}};
    };
    std::vector<std::string> log, warnings;
    options.log = [&](const std::string& line) { log.push_back(line); };
    options.onWarning = [&](const std::string& line) { warnings.push_back(line); };
    ASSERT_TRUE(transport.OpenSockets(options));
    const std::vector<std::string> said{"IP_ADD_MEMBERSHIP failed on lo (127.0.0.2): No such device"};
    EXPECT_EQ(log, said);
    EXPECT_EQ(warnings, said) << "a deaf interface is said to the user too";
}

TEST(BlockingTransport, DatagramFromAnotherInterfaceIsDropped) {
    // The table gives the loopback address a device name the kernel does not
    // know, so the socket cannot be tied to a device and hears every
    // interface: only the arrival interface keeps it to its own.
    const unsigned lo = ::if_nametoindex("lo");
    for (const unsigned index : {lo, lo + 100}) {
        SocketTransport transport;
        TransportOptions options;
        options.loopbackLab = true;
        options.enumerate = [index] { return std::vector<LocalInterface>{{"127.0.0.1", "qs-nosuch0", index}}; };
        std::vector<std::string> log;
        options.log = [&](const std::string& line) { log.push_back(line); };
        ASSERT_TRUE(transport.OpenSockets(options));
        const auto bindLines = std::count_if(log.begin(), log.end(), [](const std::string& l) {
            return l.find("SO_BINDTODEVICE") != std::string::npos && l.find("qs-nosuch0") != std::string::npos;
        });
        EXPECT_EQ(bindLines, 1);

        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kDevicePort);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const char datagram[] = "arrives on lo";
        ASSERT_EQ(::sendto(fd, datagram, sizeof datagram, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(sizeof datagram));
        ::close(fd);
        std::uint8_t buffer[kBlockingBufferSize];
        const auto n = transport.poll(0, 300ms, buffer);
        if (index == lo)
            EXPECT_EQ(n, sizeof datagram);
        else
            EXPECT_FALSE(n) << "a datagram that arrived on lo was taken for interface " << index;
    }
}

TEST(BlockingTransport, DatagramReadOnAnotherInterfacesSocketIsKeptForIt) {
    // Two table entries on lo whose sockets cannot be tied to a device; the
    // one opened last (the second) is the one the system hands a datagram
    // sent to the port. It arrived on lo, so it belongs to the first.
    const unsigned lo = ::if_nametoindex("lo");
    SocketTransport transport;
    TransportOptions options;
    options.loopbackLab = true;
    options.enumerate = [lo] {
        return std::vector<LocalInterface>{{"127.0.0.1", "qs-nosuch0", lo}, {"127.0.0.1", "qs-nosuch1", lo + 100}};
    };
    ASSERT_TRUE(transport.OpenSockets(options));
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDevicePort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::uint8_t buffer[kBlockingBufferSize];
    const int both[] = {0, 1};
    for (int k = 0; k < 3; ++k) {
        const char datagram[] = "arrives on lo";
        ASSERT_EQ(::sendto(fd, datagram, sizeof datagram, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(sizeof datagram));
        const auto a = transport.pollAny(both, 300ms, buffer);
        ASSERT_TRUE(a) << "datagram " << k << " was lost";
        EXPECT_EQ(a->iface, 0);
    }
    ::close(fd);
}

#if defined(__SANITIZE_ADDRESS__)
#define QS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QS_SANITIZED 1
#endif
#endif

TEST(QuaysideTool, NoSocketThatHearsIsExitFive) {
#ifdef QS_SANITIZED
    GTEST_SKIP() << "the sanitizers' own checks need descriptors the limit leaves none of";
#endif
    // Room for the descriptors the program starts with and one more (the
    // fewest it can be loaded with): the send socket opens, nothing that
    // hears does.
    RunResult r;
    for (int limit = 4; limit < 64; ++limit) {
        const std::string nofile = "--nofile=" + std::to_string(limit) + ":" + std::to_string(limit);
        r = run({"prlimit", nofile, quaysideBin(), "search", "--loopback"});
        if (r.exitCode != 127) break;  // not loaded at all
    }
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_NE(r.err.find("cannot open any socket on port 24680"), std::string::npos) << r.err;
}

TEST(QuaysideTool, BadArgumentsExitTwoWithAMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"search", "--bogus"},
        {"search", "--interface"},
        {"search", "--interface", "10.0.0"},
        {"search", "--interface", "1.2.3.4; rm -rf /"},
        {"search", "--loopback", "--interface", "10.200.200.200"},
        {"search", "stray"},
        {"search", "--format", "xml"},
        {"search", "--json", "--format", "tsv"},
        {"watch", "--format", "csv", "--json"},
        {"search", "--expect", "0"},
        {"search", "--expect", "-2"},
        {"search", "--expect", "2.5"},
        {"search", "--expect", "99999999999999999999"},
        {"watch", "--expect", "1"},
    };
    for (auto args : bad) {
        args.insert(args.begin(), quaysideBin());
        const RunResult r = run(args);
        EXPECT_EQ(r.exitCode, 2) << args.back();
        EXPECT_NE(r.err.find("quayside:"), std::string::npos) << args.back();
        EXPECT_TRUE(r.out.empty());
    }
    const RunResult conflict = run({quaysideBin(), "search", "--json", "--format", "csv"});
    EXPECT_EQ(conflict.err, "quayside: --json is --format json; it cannot be given with --format csv\n"
                            "Try 'quayside --help'.\n");
    EXPECT_EQ(run({quaysideBin(), "search", "--json", "--format", "json", "--loopback", "--no-multicast", "--host",
                   "127.0.0.5"}).exitCode, 0);
}

TEST(QuaysideTool, HostTargetsAreBoxAddressesAtMost4096InAll) {
    const auto quayside = [](std::vector<std::string> args) {
        args.insert(args.begin(), quaysideBin());
        return run(args, {}, 10s);
    };
    // Five /22 blocks are 5110 addresses: refused before anything is sent.
    RunResult r = quayside({"search", "--no-multicast", "--host", "10.0.0.0/22", "--host", "10.0.4.0/22", "--host",
                            "10.0.8.0/22", "--host", "10.0.12.0/22", "--host", "10.0.16.0/22"});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("at most 4096"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    for (const char* bad : {"0.0.0.0", "255.255.255.255", "224.0.0.251", "240.0.0.1"}) {
        r = quayside({"search", "--host", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find(std::string("quayside: --host: '") + bad + "' is "), std::string::npos) << r.err;
    }
    // Loopback addresses only in the loopback lab (no box answers there
    // now: an empty search).
    r = quayside({"check-password", "--device", "x", "--user", "admin", "--host", "127.0.0.5"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("'127.0.0.5' is a loopback address"), std::string::npos) << r.err;
    r = quayside({"search", "--json", "--loopback", "--no-multicast", "--host", "127.0.0.5"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(VsbSim, BadConfigNamesTheField) {
    json d = simDevice("00000000000000d1", "x", "VSB-720K", "10.0.0.300");
    const std::string path = tempFile(simConfig({d}));
    const RunResult r = run({simBin(), "--config", path, "--loopback"}, {}, 5s);
    ::unlink(path.c_str());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("IP"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("10.0.0.300"), std::string::npos) << r.err;
}
