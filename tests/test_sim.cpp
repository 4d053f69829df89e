// The simulated device without sockets: device operations, the older-format
// LAN-information query, operation faults and config errors. Requests are
// built by the client library, so these also show the two sides agree.
#include "config.h"
#include "device.h"

#include "quayside/device_library.h"
#include "quayside/packager.h"
#include "quayside/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace qs;
using namespace qs::sim;

namespace {

const Uuid8 kClient{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const Uuid8 kOneUUID{0x51, 0xa0, 0, 0, 0, 0, 0, 0x01};
const Uuid8 kBondUUID{0x51, 0xa0, 0, 0, 0, 0, 0, 0x03};
const Uuid8 kOther{9, 9, 9, 9, 9, 9, 9, 9};
const std::string kShares = "Volume_1*6:Volume_2@5:Recycle Bin - Volume_1:Recycle Bin - Volume_2";

PortConfig port(std::string ip, std::string gateway) {
    PortConfig p;
    p.IP = std::move(ip);
    p.netmask = "255.255.255.0";
    p.gateway = std::move(gateway);
    p.dns1 = "192.168.0.53";
    return p;
}

DeviceConfig onePort() {
    DeviceConfig d;
    d.serverUUID = kOneUUID;
    d.hostname = "vsb-one";
    d.model = d.devModel = "VSB-720K";
    d.ports = {port("192.168.0.20", "192.168.0.1")};
    d.password = "s3cret";
    d.shares = kShares;
    return d;
}

DeviceConfig bondedTwoPort() {
    DeviceConfig d;
    d.serverUUID = kBondUUID;
    d.hostname = "vsb-bond";
    d.model = d.devModel = "VSB-790K";
    d.ports = {port("10.0.0.5", "10.0.0.1"), port("10.0.1.5", "10.0.1.1")};
    d.bondEnable = true;
    d.bondMode = 4;
    return d;
}

Answer ask(Device& device, const Bytes& request) {
    EXPECT_EQ(checkRequest(request), RequestCheck::Request);
    return device.answer(*readHeader(request), request);
}

// The single reply datagram of an answer, after checking it is one the
// blocking client accepts for this opcode.
Bytes onlyReply(const Answer& a, std::uint16_t opcode) {
    EXPECT_EQ(a.datagrams.size(), 1u);
    if (a.datagrams.size() != 1) return {};
    EXPECT_EQ(checkReply(a.datagrams[0], opcode, kClient), ReplyCheck::Accepted);
    return a.datagrams[0];
}

std::uint16_t retCode(const Bytes& reply) { return readHeader(reply)->ret_code; }

// What the next search shows of the device.
DeviceData_n searched(Device& device) {
    const Answer a = ask(device, buildSearchRequest(kClient));
    DeviceData_n rec;
    const Bytes reply = onlyReply(a, op_SEARCH);
    EXPECT_EQ(fillDeviceFromReply(rec, reply), WalkEnd::EndOfData);
    return rec;
}

TmpDeviceData staticSettings() {
    TmpDeviceData t;
    t.IP = "192.168.5.77";
    t.netmask = "255.255.0.0";
    t.gateway = "192.168.5.1";
    t.dns1 = "192.168.5.53";
    t.dns2 = "";
    t.dnsMode = 1;
    t.nIfNo = 0;
    t.dhcpEnable = false;
    return t;
}

std::string configError(const std::string& deviceJson) {
    try {
        parseConfig(R"({"devices": [)" + deviceJson + "]}");
    } catch (const ConfigError& e) {
        return e.what();
    }
    return "(accepted)";
}

const char* kGoodDevice =
    R"({"serverUUID": "0102030405060708", "hostname": "h", "model": "VSB-720K",
        "ports": [{"IP": "10.0.0.2", "netmask": "255.0.0.0"}])";

}  // namespace

// ---- op_CHK_PASSWD --------------------------------------------------------

TEST(SimPassword, RightCredentialsGetOneWrongGetZero) {
    Device d(onePort());
    const Bytes ok = onlyReply(ask(d, buildCheckPasswordRequest(kClient, kOneUUID, "admin", "s3cret")), op_CHK_PASSWD);
    EXPECT_EQ(retCode(ok), 1);
    EXPECT_EQ(readHeader(ok)->serverUUID, kOneUUID);
    EXPECT_EQ(ok.size(), kHeaderSize);

    EXPECT_EQ(retCode(onlyReply(ask(d, buildCheckPasswordRequest(kClient, kOneUUID, "admin", "s3cre")),
                                op_CHK_PASSWD)),
              0);
    EXPECT_EQ(retCode(onlyReply(ask(d, buildCheckPasswordRequest(kClient, kOneUUID, "root", "s3cret")),
                                op_CHK_PASSWD)),
              0);
}

TEST(SimPassword, PasswordsAreComparedAsCutTo48Bytes) {
    DeviceConfig c = onePort();
    c.password = std::string(48, 'p') + "configured-tail";
    Device d(c);
    const Bytes req = buildCheckPasswordRequest(kClient, kOneUUID, "admin", std::string(48, 'p') + "other-tail");
    EXPECT_EQ(retCode(onlyReply(ask(d, req), op_CHK_PASSWD)), 1);
}

TEST(SimPassword, RequestWithoutAuthBlockIsRefused) {
    Device d(onePort());
    const AuthBlock block = makeAuthBlock("admin", "s3cret");
    ByteWriter w = startRequest(op_CHK_PASSWD, kClient, kOneUUID);
    w.bytes(block.data(), 100);
    EXPECT_EQ(retCode(onlyReply(ask(d, finishRequest(w)), op_CHK_PASSWD)), 0);
}

// ---- op_GET_SAMBA_SHARE ---------------------------------------------------

TEST(SimShares, RightCredentialsGetTheShareListAsOneItem) {
    Device d(onePort());
    const Bytes reply =
        onlyReply(ask(d, buildShareListRequest(kClient, kOneUUID, "admin", "s3cret")), op_GET_SAMBA_SHARE);
    EXPECT_EQ(retCode(reply), 1);
    std::vector<std::string> texts;
    EXPECT_EQ(walkItems(reply, kHeaderSize, 0, [&](const Item& i) { texts.push_back(i.text()); }), WalkEnd::EndOfData);
    EXPECT_EQ(texts, std::vector<std::string>{kShares});
    EXPECT_EQ(decodeShareList(reply), (std::vector<std::string>{"Volume_1*6", "Volume_2@5", "Recycle Bin - Volume_1",
                                                                "Recycle Bin - Volume_2"}));
}

TEST(SimShares, WrongCredentialsGetNoReply) {
    Device d(onePort());
    EXPECT_TRUE(ask(d, buildShareListRequest(kClient, kOneUUID, "admin", "admin")).empty());
}

TEST(SimShares, EmptyShareItemFaultSendsAnItemOfLengthFour) {
    DeviceConfig c = onePort();
    c.faults = {Fault::EmptyShareItem};
    Device d(c);
    const Bytes reply =
        onlyReply(ask(d, buildShareListRequest(kClient, kOneUUID, "admin", "s3cret")), op_GET_SAMBA_SHARE);
    ASSERT_EQ(reply.size(), kHeaderSize + 4);
    std::vector<std::uint16_t> lengths;
    walkItems(reply, kHeaderSize, 0, [&](const Item& i) { lengths.push_back(i.length); });
    EXPECT_EQ(lengths, std::vector<std::uint16_t>{4});
    EXPECT_TRUE(decodeShareList(reply).empty());
}

// ---- op_SET_LAN -----------------------------------------------------------

TEST(SimSetLan, StaticSettingsAreAppliedAndShownByTheNextSearch) {
    Device d(bondedTwoPort());
    TmpDeviceData t = staticSettings();
    t.nIfNo = 1;
    const Bytes reply =
        onlyReply(ask(d, buildSetLanRequest(kClient, kBondUUID, "admin", "admin", t)), op_SET_LAN);
    EXPECT_EQ(retCode(reply), 1);
    EXPECT_EQ(reply.size(), kHeaderSize);

    const DeviceData_n rec = searched(d);
    EXPECT_EQ(rec.port[1].IP, "192.168.5.77");
    EXPECT_EQ(rec.port[1].netmask, "255.255.0.0");
    EXPECT_EQ(rec.port[1].gateway, "192.168.5.1");
    EXPECT_EQ(rec.port[1].dns1, "192.168.5.53");
    EXPECT_EQ(rec.port[1].dns2, "");
    EXPECT_EQ(rec.port[1].dnsMode, 1);
    EXPECT_FALSE(rec.port[1].dhcpEnable);
    EXPECT_EQ(rec.port[0].IP, "10.0.0.5");  // the other port is left alone
}

TEST(SimSetLan, OnlyAChangeTakenRestartsTheDeviceWhateverItsAnswerSays) {
    DeviceConfig config = onePort();
    config.restartMs = 700;
    config.delayMs = 20;
    const Bytes change = buildSetLanRequest(kClient, kOneUUID, "admin", "s3cret", staticSettings());
    for (const std::vector<Fault>& faults : {std::vector<Fault>{}, {Fault::RetCodeZero}, {Fault::NoReply}}) {
        config.faults = faults;
        Device d(config);
        const Answer taken = ask(d, change);
        EXPECT_EQ(taken.restartMs, 700) << faults.size();
        EXPECT_EQ(taken.delayMs, 20);
        EXPECT_EQ(taken.empty(), !faults.empty() && faults[0] == Fault::NoReply);
    }
    config.faults.clear();
    Device d(config);
    EXPECT_EQ(ask(d, buildSetLanRequest(kClient, kOneUUID, "admin", "wrong", staticSettings())).restartMs, 0);
    EXPECT_EQ(ask(d, buildSearchRequest(kClient)).restartMs, 0);
    EXPECT_EQ(ask(d, buildCheckPasswordRequest(kClient, kOneUUID, "admin", "s3cret")).restartMs, 0);
}

TEST(SimSetLan, CompactPaddedValuesWithoutTerminatorAreAccepted) {
    Device d(onePort());
    TmpDeviceData t = staticSettings();
    t.IP = "10.1.2.3";  // 8 bytes: no NUL in the compact form
    t.gateway = "10.1.2.1";
    t.netmask = "255.255.255.0";
    t.dns1 = "10.1.2.53";
    const Bytes req = buildSetLanRequest(kClient, kOneUUID, "admin", "s3cret", t, ItemPadding::Compact);
    std::uint16_t ipLength = 0;
    walkItems(req, kHeaderSize + kAuthBlockSize, 0, [&](const Item& i) {
        if (i.type == v_IP) ipLength = i.length;
    });
    ASSERT_EQ(ipLength, 12);

    EXPECT_EQ(retCode(onlyReply(ask(d, req), op_SET_LAN)), 1);
    const DeviceData_n rec = searched(d);
    EXPECT_EQ(rec.port[0].IP, "10.1.2.3");
    EXPECT_EQ(rec.port[0].gateway, "10.1.2.1");
    EXPECT_EQ(rec.port[0].dns1, "10.1.2.53");
}

TEST(SimSetLan, DhcpKeepsOldAddressesUnlessProperOnesAreGiven) {
    Device d(onePort());
    TmpDeviceData t = staticSettings();
    t.dhcpEnable = true;
    t.IP = "";
    t.netmask = "";
    t.gateway = "192.168.7.1";
    EXPECT_EQ(retCode(onlyReply(ask(d, buildSetLanRequest(kClient, kOneUUID, "admin", "s3cret", t)), op_SET_LAN)),
              1);
    const DeviceData_n rec = searched(d);
    EXPECT_TRUE(rec.port[0].dhcpEnable);
    EXPECT_EQ(rec.port[0].IP, "192.168.0.20");
    EXPECT_EQ(rec.port[0].netmask, "255.255.255.0");
    EXPECT_EQ(rec.port[0].gateway, "192.168.7.1");
}

TEST(SimSetLan, WrongCredentialsAreRefusedAndChangeNothing) {
    Device d(onePort());
    const Bytes req = buildSetLanRequest(kClient, kOneUUID, "admin", "admin", staticSettings());
    EXPECT_EQ(retCode(onlyReply(ask(d, req), op_SET_LAN)), 0);
    EXPECT_EQ(d.state().ports[0].IP, "192.168.0.20");
}

TEST(SimSetLan, MalformedSettingsAreRefusedAndChangeNothing) {
    Device d(onePort());
    const PortConfig before = d.state().ports[0];
    auto refused = [&](const TmpDeviceData& t) {
        const Bytes reply =
            onlyReply(ask(d, buildSetLanRequest(kClient, kOneUUID, "admin", "s3cret", t)), op_SET_LAN);
        return retCode(reply) == 0;
    };
    TmpDeviceData badIP = staticSettings();
    badIP.IP = "192.168.5.300";
    EXPECT_TRUE(refused(badIP));
    TmpDeviceData noGateway = staticSettings();
    noGateway.gateway = "";
    EXPECT_TRUE(refused(noGateway));
    TmpDeviceData badDns = staticSettings();
    badDns.dns2 = "ns.example";
    EXPECT_TRUE(refused(badDns));
    TmpDeviceData secondPort = staticSettings();
    secondPort.nIfNo = 1;  // the device has one port
    EXPECT_TRUE(refused(secondPort));

    const PortConfig& after = d.state().ports[0];
    EXPECT_EQ(after.IP, before.IP);
    EXPECT_EQ(after.gateway, before.gateway);
    EXPECT_EQ(after.dns2, before.dns2);
}

TEST(SimSetLan, MissingItemIsRefused) {
    Device d(onePort());
    ByteWriter w = startRequest(op_SET_LAN, kClient, kOneUUID);
    appendAuthData(w, "admin", "s3cret");
    appendItem(w, v_IP, "192.168.5.77");
    appendItem(w, v_NETMASK, "255.255.255.0");
    appendItem(w, v_GATEWAY, "192.168.5.1");
    appendItem(w, v_IF_NO, "0");
    appendItem(w, v_DHCP_ENABLE, "0");
    EXPECT_EQ(retCode(onlyReply(ask(d, finishRequest(w)), op_SET_LAN)), 0);
    EXPECT_EQ(d.state().ports[0].IP, "192.168.0.20");
}

// ---- addressing -----------------------------------------------------------

TEST(SimAddressing, OperationsForAnotherDeviceAreIgnored) {
    Device d(onePort());
    EXPECT_TRUE(ask(d, buildCheckPasswordRequest(kClient, kOther, "admin", "s3cret")).empty());
    EXPECT_TRUE(ask(d, buildShareListRequest(kClient, kOther, "admin", "s3cret")).empty());
    EXPECT_TRUE(ask(d, buildSetLanRequest(kClient, kOther, "admin", "s3cret", staticSettings())).empty());
    EXPECT_EQ(d.state().ports[0].IP, "192.168.0.20");
    EXPECT_TRUE(d.answer(*readLegacyQuery(buildLegacyQuery(kClient, kOther, kLanInformationItem))).empty());
}

// ---- the older-format LAN-information query -------------------------------

Bytes expectedLegacyAnswer(const Uuid8& server, const std::string& text) {
    ByteWriter w;
    w.u8(4);
    w.bytes(kClient.data(), kClient.size());
    w.bytes(server.data(), server.size());
    w.u8(20);
    w.zeros(2);
    w.u32le(static_cast<std::uint32_t>(text.size() + 1));
    w.bytes(text.data(), text.size());
    w.u8(0);
    return w.take();
}

// An older-format datagram of the query's shape with one thing changed.
Bytes legacyDatagram(std::uint8_t kind, std::uint32_t payloadLength, std::size_t extra) {
    ByteWriter w;
    w.u8(kind);
    w.bytes(kClient.data(), kClient.size());
    w.bytes(kOneUUID.data(), kOneUUID.size());
    w.u8(kLanInformationItem);
    w.zeros(2);
    w.u32le(payloadLength);
    w.zeros(extra);
    return w.take();
}

TEST(SimLegacy, QueryIsRecognisedOnlyInItsExactForm) {
    const Bytes q = buildLegacyQuery(kClient, kOneUUID, kLanInformationItem);
    ASSERT_EQ(checkRequest(q), RequestCheck::LegacyQuery);
    EXPECT_EQ(legacyDatagram(3, 0, 0), q);
    EXPECT_EQ(checkRequest(legacyDatagram(3, 0, 1)), RequestCheck::TooShort);
    EXPECT_EQ(checkRequest(legacyDatagram(4, 0, 0)), RequestCheck::TooShort);
    EXPECT_EQ(checkRequest(legacyDatagram(3, 1, 0)), RequestCheck::TooShort);
    // A header-sized datagram of kind 3 is still judged by its magic.
    EXPECT_EQ(checkRequest(legacyDatagram(3, 0, 20)), RequestCheck::NotRequest);
}

TEST(SimLegacy, OnePortAnswerBytes) {
    const Device d(onePort());
    const Answer a = d.answer(*readLegacyQuery(buildLegacyQuery(kClient, kOneUUID, kLanInformationItem)));
    ASSERT_EQ(a.datagrams.size(), 1u);
    EXPECT_EQ(a.datagrams[0],
              expectedLegacyAnswer(kOneUUID, "LAN1:192.168.0.20:255.255.255.0:192.168.0.1:0:LAN2:::::IFNUM:1"));
}

TEST(SimLegacy, BondedAnswerBytesAndTheClientReadsThem) {
    const Device d(bondedTwoPort());
    const Answer a = d.answer(*readLegacyQuery(buildLegacyQuery(kClient, kBondUUID, kLanInformationItem)));
    ASSERT_EQ(a.datagrams.size(), 1u);
    const std::string text = "LAN1+LAN2:10.0.0.5:255.255.255.0:10.0.0.1:0:4:10.0.1.5:255.255.255.0:10.0.1.1:0:IFNUM:2";
    EXPECT_EQ(a.datagrams[0], expectedLegacyAnswer(kBondUUID, text));
    const auto info = parseLanInformation(text);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bondingMode, 4);
    EXPECT_EQ(info->ifNum, 2);
}

TEST(SimLegacy, OtherItemCodesGetNoAnswer) {
    const Device d(onePort());
    EXPECT_TRUE(d.answer(*readLegacyQuery(buildLegacyQuery(kClient, kOneUUID, 21))).empty());
}

// ---- operation faults -----------------------------------------------------

TEST(SimFaults, NoReplySilencesOperationsButNotSearches) {
    DeviceConfig c = onePort();
    c.faults = {Fault::NoReply};
    Device d(c);
    EXPECT_TRUE(ask(d, buildCheckPasswordRequest(kClient, kOneUUID, "admin", "s3cret")).empty());
    EXPECT_TRUE(ask(d, buildShareListRequest(kClient, kOneUUID, "admin", "s3cret")).empty());
    EXPECT_TRUE(d.answer(*readLegacyQuery(buildLegacyQuery(kClient, kOneUUID, kLanInformationItem))).empty());
    EXPECT_EQ(searched(d).hostname, "vsb-one");
}

TEST(SimFaults, RetCodeZeroKeepsTheCredentialCheckOfTheShareList) {
    DeviceConfig c = onePort();
    c.faults = {Fault::RetCodeZero};
    Device d(c);
    EXPECT_EQ(retCode(onlyReply(ask(d, buildCheckPasswordRequest(kClient, kOneUUID, "admin", "s3cret")),
                                op_CHK_PASSWD)),
              0);
    EXPECT_EQ(retCode(onlyReply(ask(d, buildSetLanRequest(kClient, kOneUUID, "admin", "s3cret", staticSettings())),
                                op_SET_LAN)),
              0);
    EXPECT_TRUE(ask(d, buildShareListRequest(kClient, kOneUUID, "admin", "wrong")).empty());
    const Bytes shares =
        onlyReply(ask(d, buildShareListRequest(kClient, kOneUUID, "admin", "s3cret")), op_GET_SAMBA_SHARE);
    EXPECT_EQ(retCode(shares), 0);
    EXPECT_EQ(decodeShareList(shares).size(), 4u);
}

TEST(SimFaults, LateReplyDelaysOperationsOnly) {
    DeviceConfig c = onePort();
    c.faults = {Fault::LateReply};
    c.delayMs = 5;
    c.lateMs = 300;
    Device d(c);
    EXPECT_EQ(ask(d, buildCheckPasswordRequest(kClient, kOneUUID, "admin", "s3cret")).delayMs, 305);
    EXPECT_EQ(ask(d, buildSearchRequest(kClient)).delayMs, 5);
}

TEST(SimFaults, SearchReplyFaultsLeaveOperationRepliesIntact) {
    DeviceConfig c = onePort();
    c.faults = {Fault::WrongMagic, Fault::Duplicate, Fault::Short, Fault::ItemPastEnd};
    Device d(c);
    EXPECT_EQ(retCode(onlyReply(ask(d, buildCheckPasswordRequest(kClient, kOneUUID, "admin", "s3cret")),
                                op_CHK_PASSWD)),
              1);
    EXPECT_EQ(decodeShareList(onlyReply(ask(d, buildShareListRequest(kClient, kOneUUID, "admin", "s3cret")),
                                        op_GET_SAMBA_SHARE))
                  .size(),
              4u);
}

// ---- config ---------------------------------------------------------------

TEST(SimConfig, NewKeysAndFaultNamesParse) {
    const SimConfig c = parseConfig(
        R"({"devices": [{"serverUUID": "0102030405060708", "hostname": "h", "model": "VSB-720K",
            "ports": [{"IP": "10.0.0.2", "netmask": "255.0.0.0"}], "lateMs": 1500, "restartMs": 600000,
            "faults": ["noReply", "lateReply", "retCodeZero", "emptyShareItem"]}]})");
    ASSERT_EQ(c.devices.size(), 1u);
    EXPECT_EQ(c.devices[0].lateMs, 1500);
    EXPECT_EQ(c.devices[0].restartMs, 600000);
    EXPECT_EQ(c.devices[0].faults,
              (std::vector<Fault>{Fault::NoReply, Fault::LateReply, Fault::RetCodeZero, Fault::EmptyShareItem}));
    const DeviceConfig plain = parseConfig(std::string(R"({"devices": [)") + kGoodDevice + "}]}").devices[0];
    EXPECT_EQ(plain.lateMs, 4000);
    EXPECT_EQ(plain.restartMs, 0);
    EXPECT_EQ(plain.unicastReply, UnicastReply::Sender);
    for (const UnicastReply m : {UnicastReply::Sender, UnicastReply::DevicePort, UnicastReply::Group}) {
        const std::string text = std::string(R"({"devices": [)") + kGoodDevice + R"(, "unicastReply": ")" +
                                 unicastReplyName(m) + "\"}]}";
        EXPECT_EQ(parseConfig(text).devices[0].unicastReply, m) << text;
    }
}

TEST(SimConfig, ErrorsNameTheField) {
    const std::string good = kGoodDevice;
    EXPECT_EQ(configError(R"({"serverUUID": "0102030405060708", "hostname": "h", "model": "m",
                            "ports": [{"IP": "10.0.0.300", "netmask": "255.0.0.0"}]})"),
              R"(devices[0].ports[0].IP: "10.0.0.300" is not a dotted IPv4 address)");
    EXPECT_EQ(configError(good + R"(, "lateMS": 10})"), "devices[0].lateMS: unknown key");
    EXPECT_EQ(configError(good + R"(, "answerPort": 1})"),
              "devices[0].answerPort: is 1 but the device has only 1 port");
    EXPECT_EQ(configError(good + R"(, "lateMs": 600001})"),
              "devices[0].lateMs: expected an integer from 0 to 600000, got 600001");
    EXPECT_EQ(configError(good + R"(, "restartMs": -1})"),
              "devices[0].restartMs: expected an integer from 0 to 600000, got -1");
    EXPECT_EQ(configError(good + R"(, "unicastReply": "unicast"})"),
              R"(devices[0].unicastReply: expected "sender", "devicePort" or "group", got "unicast")");
    const std::string fault = configError(good + R"(, "faults": ["noreply"]})");
    EXPECT_EQ(fault.rfind(R"(devices[0].faults[0]: "noreply" is not a fault)", 0), 0u) << fault;
}

TEST(SimConfig, TextThatIsNotJsonNamesTheFile) {
    for (const char* text : {R"({"devices": [)", R"({"devices": [{"delayMs": 1e999}]})"}) {
        try {
            parseConfig(text, "lab.json");
            ADD_FAILURE() << text << " accepted";
        } catch (const ConfigError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("lab.json: not valid JSON: ", 0), 0u) << e.what();
        }
    }
}

TEST(SimConfig, LabDevicesHaveTheirOwnShareLists) {
    const std::vector<DeviceConfig> lab = labDevices();
    ASSERT_GE(lab.size(), 3u);
    for (const DeviceConfig& d : lab) {
        EXPECT_EQ(d.user, "admin");
        EXPECT_EQ(d.password, "admin");
    }
    EXPECT_EQ(lab[0].shares, kShares);
    EXPECT_EQ(lab[1].shares, "Public@5:Media*6:Recycle Bin - Public:Recycle Bin - Media");
    EXPECT_EQ(lab[2].shares, "Archive@5:Backup@5:Recycle Bin - Archive:Recycle Bin - Backup");
    EXPECT_TRUE(lab[0].smbGuest);
    EXPECT_FALSE(lab[1].smbGuest);
}

TEST(SimConfig, LabHoldsOneBoxOfEachWayOfAnswering) {
    const std::vector<DeviceConfig> lab = labDevices();
    ASSERT_EQ(lab.size(), 4u);
    EXPECT_EQ(lab[0].hostname, "vsb-reception");
    EXPECT_EQ(effectiveReplyMode(lab[0], true, std::nullopt), ReplyMode::Group);
    EXPECT_EQ(lab[0].restartMs, 1000);
    EXPECT_EQ(lab[1].hostname, "vsb-archive");
    EXPECT_EQ(effectiveReplyMode(lab[1], true, std::nullopt), ReplyMode::Unicast);
    EXPECT_EQ(lab[1].unicastReply, UnicastReply::DevicePort);
    EXPECT_EQ(lab[2].hostname, "vsb-render");
    EXPECT_TRUE(lab[2].groupOnly);
    EXPECT_EQ(lab[3].hostname, "vsb-legacy");
    for (std::size_t i = 0; i < lab.size(); ++i) {
        const bool supported = std::find(kSupportedModels.begin(), kSupportedModels.end(), lab[i].model) !=
                               kSupportedModels.end();
        EXPECT_EQ(supported, i != 3) << lab[i].hostname;
        EXPECT_EQ(lab[i].restartMs > 0, i == 0) << lab[i].hostname;
        EXPECT_EQ(lab[i].unicastReply == UnicastReply::Sender, i != 1) << lab[i].hostname;
        EXPECT_EQ(lab[i].groupOnly, i == 2) << lab[i].hostname;
    }
}

TEST(SimConfig, LockedSharesFromTheShareList) {
    const std::string shares = "Volume_1*6:Volume_2@5:Vol*6x:Plain:Recycle Bin - Volume_1";
    EXPECT_TRUE(shareLocked(shares, "Volume_1"));
    EXPECT_FALSE(shareLocked(shares, "Volume_2"));
    EXPECT_FALSE(shareLocked(shares, "Vol")) << "the entry must end in 6";
    EXPECT_FALSE(shareLocked(shares, "Plain"));
    EXPECT_FALSE(shareLocked(shares, "Volume"));
    EXPECT_FALSE(shareLocked(shares, "Recycle Bin - Volume_1"));
    EXPECT_TRUE(parseConfig(std::string(R"({"devices": [)") + kGoodDevice + R"(, "smbGuest": true}]})")
                    .devices[0]
                    .smbGuest);
}
