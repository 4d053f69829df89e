// Device records from search replies, the registries and the port summary.
#include "quayside/address.h"
#include "quayside/records.h"
#include "support/packets.h"

#include <gtest/gtest.h>

using namespace qs;
using qs::test::onePortDevice;
using qs::test::reply;

namespace {
const Uuid8 kClient{1, 1, 1, 1, 1, 1, 1, 1};
Uuid8 server(std::uint8_t n) { return Uuid8{0, 0, 0, 0, 0, 0, 0, n}; }

DeviceData_n decode(const test::ItemList& items, std::size_t maxItems = 0) {
    DeviceData_n d;
    fillDeviceFromReply(d, reply(op_SEARCH, kClient, server(7), items), maxItems);
    return d;
}
}  // namespace

TEST(DeviceDecode, OnePortDeviceFillsPortZero) {
    const DeviceData_n d = decode(onePortDevice("office", "VSB-720K", "192.168.1.20"));
    EXPECT_EQ(d.serverUUID, server(7));
    EXPECT_EQ(d.hostname.str(), "office");
    EXPECT_EQ(d.modelName.str(), "VSB-720K");
    EXPECT_EQ(d.ifCount, 1);
    EXPECT_EQ(d.port[0].IP.str(), "192.168.1.20");
    EXPECT_EQ(d.port[0].IP.address(), Ipv4{0xC0A80114u});
    EXPECT_EQ(d.port[0].netmask.str(), "255.255.255.0");
    EXPECT_EQ(d.port[0].netmask.address(), Ipv4{0xFFFFFF00u});
    EXPECT_FALSE(d.port[0].dhcpEnable);
    EXPECT_TRUE(d.port[1].IP.empty());
    EXPECT_FALSE(d.port[1].IP.address());
}

TEST(DeviceDecode, PortItemsFollowTheLatestInterfaceNumber) {
    const DeviceData_n d = decode({{v_IP, "10.0.0.1"},
                                   {v_IF_NO, "1"},
                                   {v_IP, "10.0.1.1"},
                                   {v_DHCP_ENABLE, "1"},
                                   {v_NS_MODE, "2"},
                                   {v_IF_NO, "0"},
                                   {v_GATEWAY, "10.0.0.254"}});
    EXPECT_EQ(d.port[0].IP.str(), "10.0.0.1");
    EXPECT_EQ(d.port[0].gateway.str(), "10.0.0.254");
    EXPECT_EQ(d.port[1].IP.str(), "10.0.1.1");
    EXPECT_TRUE(d.port[1].dhcpEnable);
    EXPECT_EQ(d.port[1].dnsMode, 2);
    EXPECT_EQ(d.ifCount, 2);
}

TEST(DeviceDecode, PortOutsideZeroAndOneLeavesBlocksUntouched) {
    const DeviceData_n d = decode({{v_IF_NO, "0"}, {v_IP, "10.0.0.1"}, {v_IF_NO, "5"}, {v_IP, "6.6.6.6"},
                                   {v_IF_NO, "-1"}, {v_NETMASK, "255.0.0.0"}});
    EXPECT_EQ(d.port[0].IP.str(), "10.0.0.1");
    EXPECT_TRUE(d.port[0].netmask.empty());
    EXPECT_TRUE(d.port[1].IP.empty());
    EXPECT_EQ(d.ifCount, 3);
}

TEST(DeviceDecode, DefaultGatewayPortAndBonding) {
    EXPECT_EQ(decode({{v_DEFAULT_GW_IF, "LAN1"}}).nDefaultGW, 1);
    EXPECT_EQ(decode({{v_DEFAULT_GW_IF, "lan0"}}).nDefaultGW, 0);
    // Bonding decoded after the gateway port resets it; before it, not.
    EXPECT_EQ(decode({{v_DEFAULT_GW_IF, "lan1"}, {v_BOND_ENABLE, "1"}}).nDefaultGW, 0);
    const DeviceData_n d = decode({{v_BOND_ENABLE, "1"}, {v_BOND_MODE, "4"}, {v_DEFAULT_GW_IF, "lan1"}});
    EXPECT_EQ(d.nDefaultGW, 1);
    EXPECT_EQ(d.bondingEnable, 1);
    EXPECT_EQ(d.bondingMode, 4);
    EXPECT_EQ(d.defaultGWText.str(), "lan1");
}

TEST(DeviceDecode, OverlongTextIsCutToTheField) {
    const std::string longName(400, 'h');
    const std::string longIp(40, '1');
    const DeviceData_n d = decode({{v_HOSTNAME, longName}, {v_IP, longIp}, {v_DEFAULT_GW_IF, std::string(30, 'l')}});
    EXPECT_EQ(d.hostname.str(), std::string(255, 'h'));
    EXPECT_EQ(d.port[0].IP.str(), std::string(15, '1'));
    EXPECT_FALSE(d.port[0].IP.address());
    EXPECT_EQ(d.defaultGWText.str().size(), 11u);
}

TEST(DeviceDecode, ItemLimitStopsTheRunLoopDecoder) {
    test::ItemList items(52, {v_DEV_MODEL, "x"});
    items.push_back({v_HOSTNAME, "late"});
    EXPECT_TRUE(decode(items, 52).hostname.empty());
    EXPECT_EQ(decode(items).hostname.str(), "late");
}

TEST(ModelCheck, LastModelItemDecides) {
    auto dg = [](const test::ItemList& items) { return reply(op_SEARCH, kClient, server(1), items); };
    EXPECT_TRUE(replyIsSupportedModel(dg({{v_MODEL_NAME, "VSB-720KW"}})));
    EXPECT_FALSE(replyIsSupportedModel(dg({{v_MODEL_NAME, "VSB-720K"}, {v_MODEL_NAME, "VSB-100X"}})));
    EXPECT_TRUE(replyIsSupportedModel(dg({{v_MODEL_NAME, "VSB-100X"}, {v_MODEL_NAME, "VSB-760K"}})));
    EXPECT_FALSE(replyIsSupportedModel(dg({{v_MODEL_NAME, "vsb-720k"}})));
    EXPECT_FALSE(replyIsSupportedModel(dg({{v_MODEL_NAME, "VSB-720K "}})));
    EXPECT_FALSE(replyIsSupportedModel(dg({{v_HOSTNAME, "no model"}})));
    // The value is measured whole (var_len - 4): a supported name padded
    // with NULs to 20 bytes is refused, to 19 accepted.
    auto padded = [&](std::size_t valueBytes) {
        Bytes d = dg({});
        const std::string name = "VSB-720K";
        const auto varLen = static_cast<std::uint16_t>(valueBytes + 4);
        for (std::uint8_t b : {std::uint8_t(v_MODEL_NAME & 0xFF), std::uint8_t(v_MODEL_NAME >> 8),
                               std::uint8_t(varLen & 0xFF), std::uint8_t(varLen >> 8)})
            d.push_back(b);
        d.insert(d.end(), name.begin(), name.end());
        d.resize(d.size() + valueBytes - name.size(), 0);
        return d;
    };
    EXPECT_FALSE(replyIsSupportedModel(padded(20)));
    EXPECT_TRUE(replyIsSupportedModel(padded(19)));
    // A model item that ends the walk early is never reached.
    Bytes bad = dg({{v_MODEL_NAME, "VSB-720K"}});
    bad[44 + 2] = 2;
    EXPECT_FALSE(replyIsSupportedModel(bad));
}

TEST(DeviceRegistry, LookupsByServerId) {
    DeviceRegistry reg;
    EXPECT_EQ(reg.FindDeviceInterface(server(1)), -1);
    DeviceData_n& a = reg.append();
    a.serverUUID = server(1);
    a.localIfIndex = 2;
    DeviceData_n& b = reg.append();
    b.serverUUID = server(2);
    b.localIfIndex = 0;
    EXPECT_EQ(reg.FindDeviceInterface(server(1)), 2);
    EXPECT_EQ(reg.FindDeviceInterface(server(2)), 0);
    EXPECT_EQ(reg.FindDeviceInterface(server(3)), -1);
    EXPECT_EQ(reg.FindDevice(server(2)), &b);
    // Records keep their address while more are appended.
    for (int i = 0; i < 100; ++i) reg.append();
    EXPECT_EQ(reg.FindDevice(server(1)), &a);
    reg.ClearDeviceList();
    EXPECT_EQ(reg.count(), 0u);
    EXPECT_EQ(reg.FindDevice(server(1)), nullptr);
}

TEST(ShareRegistry, RepeatedNamesGiveOneEntry) {
    ShareRegistry shares;
    EXPECT_TRUE(shares.add("Volume_1"));
    EXPECT_TRUE(shares.add("Volume_2"));
    EXPECT_FALSE(shares.add("Volume_1"));
    ASSERT_EQ(shares.count(), 2u);
    EXPECT_EQ(shares.at(1), "Volume_2");
    EXPECT_EQ(shares.add(std::string(300, 'v')), true);
    EXPECT_EQ(shares.at(2).size(), 255u);
}

class Summary : public ::testing::Test {
protected:
    DeviceRegistry reg;
    LanSummary s;
    DeviceData_n& add(int ifCount, int sendIf, bool bonded) {
        DeviceData_n& d = reg.append();
        d.serverUUID = server(9);
        d.ifCount = ifCount;
        d.nSendIF = sendIf;
        d.bondingEnable = bonded;
        d.port[0].IP = "10.0.0.1";
        d.port[0].dhcpText = "0";
        d.port[1].IP = "10.0.1.1";
        d.port[1].dhcpText = "1";
        return d;
    }
};

TEST_F(Summary, UnknownDeviceClearsTheLabel) {
    s.firstLabel = "LAN1";
    EXPECT_EQ(SummarizeLanPorts(reg, server(9), s), 0);
    EXPECT_TRUE(s.firstLabel.empty());
}

TEST_F(Summary, OnePortShowsTheAnsweringPort) {
    add(1, 1, false);
    s.selector = "0";
    EXPECT_EQ(SummarizeLanPorts(reg, server(9), s), 1);
    EXPECT_EQ(s.firstLabel.str(), "LAN");
    EXPECT_EQ(s.portCount.str(), "1");
    EXPECT_EQ(s.entry[0].IP.str(), "10.0.1.1");
    EXPECT_EQ(s.entry[0].dhcp.str(), "1");
    EXPECT_TRUE(s.selector.empty());
}

TEST_F(Summary, AnsweringPortOutOfRangeFallsBackToPortZero) {
    add(1, 7, false);
    EXPECT_EQ(SummarizeLanPorts(reg, server(9), s), 1);
    EXPECT_EQ(s.entry[0].IP.str(), "10.0.0.1");
}

TEST_F(Summary, TwoPortsUnbondedAndBonded) {
    DeviceData_n& d = add(2, 0, false);
    EXPECT_EQ(SummarizeLanPorts(reg, server(9), s), 1);
    EXPECT_EQ(s.firstLabel.str(), "LAN1");
    EXPECT_EQ(s.secondLabel.str(), "LAN2");
    EXPECT_EQ(s.selector.str(), "0");
    EXPECT_EQ(s.entry[1].IP.str(), "10.0.1.1");
    d.bondingEnable = 1;
    s.selector = "1";
    EXPECT_EQ(SummarizeLanPorts(reg, server(9), s), 1);
    EXPECT_EQ(s.firstLabel.str(), "LAN1+LAN2");
    EXPECT_TRUE(s.secondLabel.empty());
    EXPECT_EQ(s.selector.str(), "1");
    EXPECT_EQ(s.portCount.str(), "2");
    EXPECT_EQ(s.entry[0].IP.str(), "10.0.0.1");
    EXPECT_EQ(s.entry[1].IP.str(), "10.0.1.1");
}

namespace {
std::shared_ptr<DeviceData_n> rec(const char* host, const char* ip, const char* mask = "255.0.0.0") {
    auto d = std::make_shared<DeviceData_n>();
    d->hostname = host;
    d->port[0].IP = ip;
    d->port[0].netmask = mask;
    return d;
}
std::vector<std::string> hosts(const RunLoopRegistry& r) {
    std::vector<std::string> out;
    for (const auto& d : r.serverArray) out.push_back(d->hostname.str());
    return out;
}
}  // namespace

TEST(RunLoopRegistry, AddsSortedAndRefusesARepeatedAddress) {
    std::vector<int> reloads;
    RunLoopRegistry r([&](RunLoopTable t) { reloads.push_back(static_cast<int>(t)); });
    EXPECT_TRUE(r.addDataInfo(rec("zeta", "10.0.0.1")));
    EXPECT_TRUE(r.addDataInfo(rec("alpha", "10.0.0.2")));
    EXPECT_FALSE(r.addDataInfo(rec("other", "10.0.0.1")));
    EXPECT_EQ(hosts(r), (std::vector<std::string>{"alpha", "zeta"}));
    EXPECT_EQ(reloads, (std::vector<int>{1, 1}));
}

TEST(RunLoopRegistry, SortsAddressesAsTextAndReverses) {
    RunLoopRegistry r;
    r.addDataInfo(rec("a", "10.0.0.9"));
    r.addDataInfo(rec("b", "10.0.0.10"));
    r.sortDeviceData(1, false);
    EXPECT_EQ(hosts(r), (std::vector<std::string>{"b", "a"}));
    r.sortDeviceData(1, true);
    EXPECT_EQ(hosts(r), (std::vector<std::string>{"a", "b"}));
    // Each sort below starts from the other order. The flag stays inverted
    // until reversed again; other keys keep theirs.
    r.sortDeviceData(0, true);
    EXPECT_EQ(hosts(r), (std::vector<std::string>{"b", "a"}));
    r.sortDeviceData(1, false);
    EXPECT_EQ(hosts(r), (std::vector<std::string>{"a", "b"}));
    r.sortDeviceData(0, true);  // host names ascending again
    r.sortDeviceData(1, true);  // addresses ascending again
    EXPECT_EQ(hosts(r), (std::vector<std::string>{"b", "a"}));
    r.sortDeviceData(42, false);  // unknown key sorts by host name
    EXPECT_EQ(hosts(r), (std::vector<std::string>{"a", "b"}));
}

TEST(RunLoopRegistry, ShareTokensSplitIntoNameAndLock) {
    RunLoopRegistry r;
    for (const char* t : {"Volume_1*6", "Volume_2@5", "Plain", "Volume_1@5", "Recycle Bin - Volume_1", "Odd*"})
        r.stripVolumeName(t);
    ASSERT_EQ(r.volumeArray.size(), 4u);
    EXPECT_EQ(r.volumeArray[0].name, "Volume_1");
    EXPECT_TRUE(r.volumeArray[0].isLocked);
    EXPECT_EQ(r.volumeArray[1].name, "Volume_2");
    EXPECT_FALSE(r.volumeArray[1].isLocked);
    EXPECT_EQ(r.volumeArray[2].name, "Plain");
    EXPECT_FALSE(r.volumeArray[2].isLocked);
    EXPECT_EQ(r.volumeArray[3].name, "Odd");
}

// The mark is read at the token's end, so a name holding "@" comes back
// whole; an "@" that is not followed by the flag alone is part of the name.
TEST(ShareToken, NameWithAnAtSignKeepsIt) {
    EXPECT_EQ(readShareToken("team@hq@5").name, "team@hq");
    EXPECT_FALSE(readShareToken("team@hq@5").isLocked);
    EXPECT_EQ(readShareToken("team@hq*6").name, "team@hq");
    EXPECT_TRUE(readShareToken("team@hq*6").isLocked);
    EXPECT_EQ(readShareToken("Recycle Bin - team@hq").name, "Recycle Bin - team@hq");
}

TEST(FixedText, CutsAndTerminates) {
    FixedText<4> t("abcdef");
    EXPECT_EQ(t.str(), "abc");
    t = std::string_view("a\0b", 3);
    EXPECT_EQ(t.str(), "a");
    t.clear();
    EXPECT_TRUE(t.empty());
}

TEST(SplitFields, KeepsOrDropsEmptyPieces) {
    EXPECT_EQ(splitFields("a::b:", ':', false), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(splitFields("a::b:", ':', true), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(splitFields("", ':', true), (std::vector<std::string>{""}));
    EXPECT_TRUE(splitFields("", ':', false).empty());
}

TEST(DottedIPv4, ExactlyFourDecimalNumbersWithoutLeadingZeros) {
    EXPECT_EQ(parseDottedIPv4("192.168.0.20"), 0xC0A80014u);
    EXPECT_EQ(parseDottedIPv4("0.0.0.0"), 0u);
    EXPECT_EQ(parseDottedIPv4("255.255.255.255"), 0xFFFFFFFFu);
    for (const char* bad : {"010.0.0.1", "10.0.0.01", "10..0.5", "1.2.3.4.5", "1.2.3", "256.1.1.1", "1.2.3.4 ",
                            " 1.2.3.4", "1.2.3.4.", "1234.1.1.1", "0x1.2.3.4", "1.2.3.-4", "", "1.2.3.4\n"})
        EXPECT_FALSE(parseDottedIPv4(bad)) << bad;
    EXPECT_EQ(formatDottedIPv4(0xC0A80014u), "192.168.0.20");
}

TEST(DottedIPv4, SocketFormsHoldTheOctetsInWireOrder) {
    const Ipv4 a = *Ipv4::parse("192.168.0.20");
    const sockaddr_in sin = socketAddressOf(a, 24680);
    const auto* octets = reinterpret_cast<const std::uint8_t*>(&sin.sin_addr);
    const auto* port = reinterpret_cast<const std::uint8_t*>(&sin.sin_port);
    EXPECT_EQ(sin.sin_family, AF_INET);
    EXPECT_EQ(std::vector<int>(octets, octets + 4), (std::vector<int>{192, 168, 0, 20}));
    EXPECT_EQ(std::vector<int>(port, port + 2), (std::vector<int>{0x60, 0x68}));
    EXPECT_EQ(ipv4Of(sin), a);
    EXPECT_EQ(ipv4Of(inAddrOf(a)), a);
}
