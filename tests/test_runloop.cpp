// The run-loop engine without sockets: requests it sends, how it decodes
// what arrives, and the callbacks it makes; plus the poll() run loop.
#include "quayside/address.h"
#include "quayside/device_library.h"
#include "quayside/packager.h"
#include "quayside/runloop.h"
#include "support/packets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <limits>
#include <net/if.h>
#include <unistd.h>

using namespace qs;
using namespace std::chrono_literals;
using qs::test::hexdump;
using qs::test::onePortDevice;
using qs::test::reply;

namespace {

const Uuid8 kClient{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x00, 0x00};
const Uuid8 kDevice{1, 2, 3, 4, 5, 6, 7, 8};
const Uuid8 kOther{9, 9, 9, 9, 9, 9, 9, 9};

struct Receiver : PackagerReceiver {
    std::vector<int> reloads;
    int authFails = 0, ipFinished = 0, accepted = 0;
    std::vector<bool> applyButton;
    CalledAction action = CalledAction::ListVolumes;
    std::shared_ptr<DeviceData_n> device;
    void reloadTable(RunLoopTable t) override { reloads.push_back(static_cast<int>(t)); }
    void checkAuthFail() override { ++authFails; }
    void setIPFinish() override { ++ipFinished; }
    void setBtnApply(bool b) override { applyButton.push_back(b); }
    CalledAction calledAction() override { return action; }
    std::shared_ptr<DeviceData_n> tmpDeviceData() override { return device; }
    void passwordAccepted() override { ++accepted; }
};

sockaddr_storage v4Sender(const char* text) {
    sockaddr_storage ss{};
    const sockaddr_in sin = socketAddressOf(Ipv4::parse(text).value_or(Ipv4{}), 0);
    std::memcpy(&ss, &sin, sizeof sin);
    return ss;
}

sockaddr_storage v6Sender(const char* text) {
    sockaddr_storage ss{};
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, text, &sin6.sin6_addr);
    std::memcpy(&ss, &sin6, sizeof sin6);
    return ss;
}

struct Engine : ::testing::Test {
    PollRunLoop loop;
    Receiver receiver;
    std::vector<Bytes> sent;
    std::unique_ptr<Packager> engine;

    void SetUp() override {
        Packager::Options o;
        o.clientUUID = kClient;
        o.sendOverride = [this](ByteView d) { sent.emplace_back(d.begin(), d.end()); };
        engine = std::make_unique<Packager>(loop, kDevicePort, kRunLoopGroup, &receiver, std::move(o));
        receiver.device = std::make_shared<DeviceData_n>();
        receiver.device->serverUUID = kDevice;
        receiver.device->password = "pw";
        receiver.device->answeredFrom = Ipv4{0xC0A80132};  // 192.168.1.50, where answers come from
    }
    void deliver(const Bytes& d, const char* from = "192.168.1.50") {
        engine->olderFormatCheck(d);
        if (d.size() >= kHeaderSize) engine->dePacket(v4Sender(from), d);
    }
    Bytes answer(std::uint16_t op, std::uint16_t ret, const Uuid8& from = kDevice, const test::ItemList& items = {}) {
        return reply(op, kClient, from, items, ret);
    }
    // A new engine whose unicast sends are recorded by address apart from
    // the group ones.
    std::vector<std::uint32_t> unicastTo;
    void recordUnicastApart() {
        Packager::Options o;
        o.clientUUID = kClient;
        o.sendOverride = [this](ByteView d) { sent.emplace_back(d.begin(), d.end()); };
        o.sendToOverride = [this](std::uint32_t a, ByteView) { unicastTo.push_back(a); };
        engine = std::make_unique<Packager>(loop, kDevicePort, kRunLoopGroup, &receiver, std::move(o));
    }
    std::vector<std::string> volumes() const {
        std::vector<std::string> v;
        for (const auto& x : engine->volumeArray()) v.push_back(x.name + (x.isLocked ? "(locked)" : ""));
        return v;
    }
};

}  // namespace

TEST_F(Engine, SearchRequestCarriesTheRunLoopClientId) {
    engine->sendPackage(op_SEARCH, nullptr);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], buildSearchRequest(kClient));
}

TEST_F(Engine, LegacyQueryGoldenBytes) {
    DeviceData_n d;
    d.serverUUID = kDevice;
    engine->sendPackage(kLegacyItemQuery, kLanInformationItem, d);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(hexdump(sent[0]), "03 11 22 33 44 55 66 00 00 01 02 03 04 05 06 07 08 14 00 00 00 00 00 00");
}

TEST_F(Engine, SearchReplyBecomesASortedRecord) {
    deliver(answer(op_SEARCH, 0, kDevice, onePortDevice("zeta", "VSB-720K", "10.0.0.7")));
    deliver(answer(op_SEARCH, 0, kOther, onePortDevice("alpha", "VSB-760K", "10.0.0.8")));
    ASSERT_EQ(engine->serverArray().size(), 2u);
    EXPECT_EQ(engine->serverArray()[0]->hostname.str(), "alpha");
    EXPECT_EQ(engine->serverArray()[1]->port[0].IP.str(), "10.0.0.7");
    EXPECT_EQ(engine->serverArray()[1]->lanPortNumber, -1);
    EXPECT_EQ(receiver.reloads, (std::vector<int>{1, 1}));
}

TEST_F(Engine, SenderAddressStandsInForAMissingPortAddress) {
    deliver(answer(op_SEARCH, 0, kDevice, {{v_HOSTNAME, "bare"}, {v_MODEL_NAME, "VSB-720K"}}), "10.1.2.3");
    ASSERT_EQ(engine->serverArray().size(), 1u);
    EXPECT_EQ(engine->serverArray()[0]->port[0].IP.str(), "10.1.2.3");
}

TEST_F(Engine, AnswersThatCannotBothBeRightAreListedTogetherAndMarked) {
    // Two boxes given one address.
    deliver(answer(op_SEARCH, 0, kDevice, onePortDevice("a", "VSB-720K", "10.0.0.7")), "10.0.0.7");
    deliver(answer(op_SEARCH, 0, kOther, onePortDevice("b", "VSB-720K", "10.0.0.7")), "10.0.0.8");
    ASSERT_EQ(engine->serverArray().size(), 2u);
    EXPECT_TRUE(engine->serverArray()[0]->conflict && engine->serverArray()[1]->conflict);
    // A host answering for a box from elsewhere; the box's own repeats add
    // nothing.
    const Uuid8 third{7, 7, 7, 7, 7, 7, 7, 7};
    deliver(answer(op_SEARCH, 0, third, onePortDevice("c", "VSB-720K", "10.0.0.9")), "10.0.0.9");
    deliver(answer(op_SEARCH, 0, third, onePortDevice("c", "VSB-720K", "10.0.0.9")), "10.0.0.9");
    EXPECT_EQ(engine->serverArray().size(), 3u);
    deliver(answer(op_SEARCH, 0, third, onePortDevice("c", "VSB-720K", "10.0.0.66")), "10.0.0.66");
    ASSERT_EQ(engine->serverArray().size(), 4u);
    EXPECT_TRUE(engine->serverArray()[2]->conflict && engine->serverArray()[3]->conflict);
}

TEST_F(Engine, SearchRepliesTheEngineDrops) {
    Bytes magic = answer(op_SEARCH, 0, kDevice, onePortDevice("a", "VSB-720K", "10.0.0.1"));
    magic[0] = 0xAA;
    magic[1] = 0x55;
    Bytes foreign = reply(op_SEARCH, kOther, kDevice, onePortDevice("b", "VSB-720K", "10.0.0.2"));
    Bytes filtered = answer(op_SEARCH, 0, kDevice, onePortDevice("c", "VSB-720K", "10.0.0.3"));
    filtered[24] = 1;
    filtered[25] = 8;
    filtered[26] = 5;
    Bytes unsupported = answer(op_SEARCH, 0, kDevice, onePortDevice("d", "VSB-100X", "10.0.0.4"));
    for (const auto& d : {magic, foreign, filtered, unsupported}) deliver(d);
    EXPECT_TRUE(engine->serverArray().empty());
    EXPECT_TRUE(receiver.reloads.empty());
}

TEST_F(Engine, BodyLengthIsNotComparedByThisDecoder) {
    Bytes d = answer(op_SEARCH, 0, kDevice, onePortDevice("a", "VSB-790K", "10.0.0.1"));
    d[42] = static_cast<std::uint8_t>(d[42] - 3);
    deliver(d);
    EXPECT_EQ(engine->serverArray().size(), 1u);
}

TEST_F(Engine, AcceptedPasswordSendsExactlyOneShareRequest) {
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], buildCheckPasswordRequest(kClient, kDevice, "admin", "pw"));
    deliver(answer(op_CHK_PASSWD, 1));
    deliver(answer(op_CHK_PASSWD, 1));  // a repeat must not send again
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], buildShareListRequest(kClient, kDevice, "admin", "pw"));
    EXPECT_EQ(receiver.accepted, 1);
    EXPECT_EQ(receiver.authFails, 0);
}

TEST_F(Engine, AcceptedPasswordWithOtherActionSendsTheSettings) {
    receiver.action = CalledAction::Mount;
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    deliver(answer(op_CHK_PASSWD, 1));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(readHeader(sent[1])->opcode, op_SET_LAN);
}

TEST_F(Engine, RefusedPasswordSendsNothingMore) {
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    deliver(answer(op_CHK_PASSWD, 0));
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(receiver.authFails, 1);
}

TEST_F(Engine, AnswerFromAnotherDeviceIsNotTaken) {
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    deliver(answer(op_CHK_PASSWD, 1, kOther));
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(receiver.accepted, 0);
    engine->sendPackage(op_SET_LAN, receiver.device.get());
    deliver(answer(op_SET_LAN, 1, kOther));
    EXPECT_EQ(receiver.ipFinished, 0);
    // Unasked answers are not taken either.
    deliver(answer(op_GET_SAMBA_SHARE, 1, kDevice, {{0, "Volume_1"}}));
    EXPECT_TRUE(engine->volumeArray().empty());
}

TEST_F(Engine, SettingsRequestUsesTheEditedPortAndCompactItems) {
    DeviceData_n& d = *receiver.device;
    d.ifEdited = 1;
    d.port[1].IP = "10.0.1.20";  // 9 characters
    d.port[1].netmask = "255.255.0.0";
    d.port[1].gateway = "10.0.1.1";  // 8 characters: no terminator
    d.port[1].dns1 = "10.0.1.53";
    d.port[1].dnsMode = 2;
    d.port[1].dhcpEnable = true;
    engine->sendPackage(op_SET_LAN, &d);
    ASSERT_EQ(sent.size(), 1u);
    std::vector<std::pair<std::uint16_t, std::string>> items;
    std::vector<std::uint16_t> lengths;
    walkItems(sent[0], kHeaderSize + kAuthBlockSize, 0, [&](const Item& it) {
        items.emplace_back(it.type, it.text());
        lengths.push_back(it.length);
    });
    const std::vector<std::pair<std::uint16_t, std::string>> expected = {
        {v_IP, "10.0.1.20"}, {v_NETMASK, "255.255.0.0"}, {v_GATEWAY, "10.0.1.1"}, {v_NS1, "10.0.1.53"},
        {v_NS2, ""},         {v_NS_MODE, "0"},           {v_IF_NO, "1"},         {v_DHCP_ENABLE, "1"}};
    EXPECT_EQ(items, expected);
    EXPECT_EQ(lengths[2], 12);  // "10.0.1.1" padded to 8, no NUL
    EXPECT_EQ(lengths[0], 16);
    d.port[1].dnsMode = 1;
    deliver(answer(op_SET_LAN, 1));
    engine->sendPackage(op_SET_LAN, &d);
    ASSERT_EQ(sent.size(), 2u);
    items.clear();
    walkItems(sent[1], kHeaderSize + kAuthBlockSize, 0, [&](const Item& it) { items.emplace_back(it.type, it.text()); });
    EXPECT_EQ(items[5].second, "1");
}

TEST_F(Engine, SettingsAnswerFinishesWhateverItsReturnCode) {
    engine->sendPackage(op_SET_LAN, receiver.device.get());
    deliver(answer(op_SET_LAN, 0));
    EXPECT_EQ(receiver.ipFinished, 1);
    EXPECT_EQ(engine->lastSetLanReturnCode, 0);
}

TEST_F(Engine, ShareListIsSplitIntoVolumes) {
    engine->serverArray().push_back(receiver.device);
    engine->sendPackage(op_GET_SAMBA_SHARE, receiver.device.get());
    const std::string list = "Volume_1*6:Volume_2@5::Recycle Bin - Volume_1:Volume_1@5:";
    deliver(answer(op_GET_SAMBA_SHARE, 1, kDevice, {{0, list}}));
    EXPECT_EQ(volumes(), (std::vector<std::string>{"Volume_1(locked)", "Volume_2"}));
    EXPECT_EQ(receiver.device->volumeShares, list);
    EXPECT_EQ(receiver.reloads, (std::vector<int>{2}));
}

TEST_F(Engine, ShareValueIsCappedAt512Bytes) {
    engine->sendPackage(op_GET_SAMBA_SHARE, receiver.device.get());
    const std::string list = std::string(508, 'a') + ":bcdefgh";
    deliver(answer(op_GET_SAMBA_SHARE, 1, kDevice, {{0, list}}));
    EXPECT_EQ(volumes(), (std::vector<std::string>{std::string(508, 'a'), "bcd"}));
}

TEST_F(Engine, EmptyShareItemListsNothing) {
    engine->sendPackage(op_GET_SAMBA_SHARE, receiver.device.get());
    deliver(answer(op_GET_SAMBA_SHARE, 1, kDevice, {{0, ""}}));
    EXPECT_TRUE(engine->volumeArray().empty());
    EXPECT_EQ(receiver.reloads, (std::vector<int>{2}));
}

TEST_F(Engine, HeaderOnlyShareAnswerIsAnEmptyList) {
    engine->sendPackage(op_GET_SAMBA_SHARE, receiver.device.get());
    deliver(answer(op_GET_SAMBA_SHARE, 1));
    EXPECT_TRUE(engine->volumeArray().empty());
    EXPECT_EQ(receiver.reloads, (std::vector<int>{2}));
}

TEST_F(Engine, LanInformationAnswerReachesOnlyTheObserver) {
    std::vector<LanInformation> seen;
    engine->onLanInformation = [&](const LanInformation& i) { seen.push_back(i); };
    engine->serverArray().push_back(receiver.device);
    const DeviceData_n before = *receiver.device;
    const std::string text = "LAN1:192.168.0.20:255.255.255.0:192.168.0.1:0";
    auto legacy = [&](std::uint8_t kind, const Uuid8& client, const std::string& t) {
        ByteWriter w;
        w.u8(kind);
        w.bytes(client.data(), 8);
        w.bytes(kDevice.data(), 8);
        w.u8(kLanInformationItem);
        w.zeros(2);
        w.u32le(static_cast<std::uint32_t>(t.size() + 1));
        w.bytes(t.data(), t.size());
        w.u8(0);
        return w.take();
    };
    // Too few fields to be an answer: nothing changes, nothing is reported.
    deliver(legacy(4, kClient, text));
    EXPECT_TRUE(seen.empty());
    deliver(legacy(4, kClient, text + ":LAN2:10.0.1.2:255.255.255.0:10.0.1.1:1:IFNUM:2"));
    deliver(legacy(4, kOther, text + ":LAN2:::::IFNUM:1"));
    deliver(legacy(3, kClient, text + ":LAN2:::::IFNUM:1"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].ifNum, 2);
    ASSERT_EQ(seen[0].ports.size(), 2u);
    EXPECT_EQ(seen[0].ports[1].IP, "10.0.1.2");
    EXPECT_TRUE(seen[0].ports[1].dhcp);
    EXPECT_FALSE(seen[0].bondingMode);
    EXPECT_EQ(seen[0].serverUUID, kDevice);
    EXPECT_EQ(receiver.device->port[0].IP.str(), before.port[0].IP.str());
    EXPECT_EQ(engine->serverArray().size(), 1u);
    EXPECT_TRUE(receiver.reloads.empty());
}

TEST_F(Engine, ShortOlderFormatDatagramIsIgnored) {
    int seen = 0;
    engine->onLanInformation = [&](const LanInformation&) { ++seen; };
    // A whole answer from the right client id is taken; every cut of it
    // shorter than the answer's header is dropped by its length alone, and
    // is read no further than it goes (each cut is a buffer of its own).
    ByteWriter w;
    w.u8(kLegacyItemAnswer);
    w.bytes(kClient.data(), 8);
    w.bytes(kDevice.data(), 8);
    w.u8(kLanInformationItem);
    w.zeros(2);
    w.u32le(0);
    const std::string text = "LAN1:192.168.0.20:255.255.255.0:192.168.0.1:0:LAN2:::::IFNUM:1";
    w.bytes(text.data(), text.size());
    const Bytes whole = w.take();
    for (std::size_t n = 1; n < 25; ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        engine->olderFormatCheck(cut);
    }
    EXPECT_EQ(seen, 0);
    engine->olderFormatCheck(whole);
    EXPECT_EQ(seen, 1);
}

TEST(LanInformation, EveryPortFieldIsKeptAndIfNumCountsThePorts) {
    const auto bonded =
        parseLanInformation("LAN1+LAN2:10.0.0.5:255.255.255.0:10.0.0.1:0:4:10.0.1.5:255.255.0.0:10.0.1.1:1:IFNUM:2");
    ASSERT_TRUE(bonded);
    EXPECT_EQ(bonded->bondingMode, 4);
    ASSERT_EQ(bonded->portCount(), 2u);
    EXPECT_EQ(bonded->ports[0].label, "LAN1+LAN2");
    EXPECT_EQ(bonded->ports[1].label, "LAN2");
    EXPECT_EQ(bonded->ports[1].IP, "10.0.1.5");
    EXPECT_EQ(bonded->ports[1].netmask, "255.255.0.0");
    EXPECT_EQ(bonded->ports[1].gateway, "10.0.1.1");
    EXPECT_TRUE(bonded->ports[1].dhcp);
    const auto one = parseLanInformation("LAN1:192.168.0.20:255.255.255.0:192.168.0.1:0:LAN2:::::IFNUM:1");
    ASSERT_TRUE(one);
    EXPECT_EQ(one->portCount(), 1u);
    EXPECT_FALSE(one->bondingMode);
    EXPECT_FALSE(parseLanInformation("LAN1:a:b:c:0:LAN2:::::NOPE:1"));
}

TEST(SenderAddress, MappedAndCompatibleBecomePlainIPv4) {
    EXPECT_EQ(senderAddressText(v4Sender("10.0.0.9")), "10.0.0.9");
    EXPECT_EQ(senderAddressText(v6Sender("::ffff:10.0.0.9")), "10.0.0.9");
    EXPECT_EQ(senderAddressText(v6Sender("::10.0.0.9")), "10.0.0.9");
    EXPECT_EQ(senderAddressText(v6Sender("::1")), "::1");
    EXPECT_EQ(senderAddressText(v6Sender("fe80::1")), "fe80::1");
    EXPECT_FALSE(senderAddressText(sockaddr_storage{}));
}

TEST(PollRunLoop, TimersFireInOrderAndRepeat) {
    PollRunLoop loop;
    std::vector<std::string> fired;
    int ticks = 0;
    loop.startTimer(30ms, false, [&] { fired.push_back("late"); });
    loop.startTimer(10ms, false, [&] { fired.push_back("early"); });
    RunLoop::Handle repeating = loop.startTimer(5ms, true, [&] { ++ticks; });
    const RunLoop::Handle cancelled = loop.startTimer(15ms, false, [&] { fired.push_back("cancelled"); });
    loop.cancelTimer(cancelled);
    loop.startTimer(60ms, false, [&] {
        loop.cancelTimer(repeating);
        loop.stop();
    });
    EXPECT_TRUE(loop.runFor(2000ms));
    EXPECT_EQ(fired, (std::vector<std::string>{"early", "late"}));
    EXPECT_GE(ticks, 3);
}

TEST(PollRunLoop, WatchedDescriptorCallsBackWhenReadable) {
    PollRunLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string got;
    const RunLoop::Handle w = loop.watchReadable(fds[0], [&] {
        char c;
        if (::read(fds[0], &c, 1) == 1) got.push_back(c);
        if (got.size() == 2) loop.stop();
    });
    loop.startTimer(5ms, false, [&] { (void)!::write(fds[1], "ab", 2); });
    EXPECT_TRUE(loop.runFor(2000ms));
    EXPECT_EQ(got, "ab");
    loop.unwatch(w);
    (void)!::write(fds[1], "c", 1);
    EXPECT_FALSE(loop.runFor(30ms));
    EXPECT_EQ(got, "ab");
    ::close(fds[0]);
    ::close(fds[1]);
}

namespace {
struct Lines : SystemLog {
    std::vector<std::string> lines;
    void log(const std::string& l) override { lines.push_back(l); }
};
}  // namespace

TEST(NetManager, UnusableGroupIsReportedToTheOwner) {
    PollRunLoop loop;
    auto log = std::make_shared<Lines>();
    std::string why;
    NetOptions o;
    o.log = log;
    o.enumerate = [] { return std::vector<LocalInterface>{}; };
    o.onSocketFailure = [&](const std::string& w) { why = w; };
    // Port 0: the receive socket binds anywhere; the send socket's address
    // does not parse, so connecting fails.
    NetManager net(loop, 0, "not-an-address", nullptr, o);
    EXPECT_FALSE(net.ok());
    EXPECT_NE(why.find("send socket"), std::string::npos) << why;
    ASSERT_FALSE(log->lines.empty());
    EXPECT_EQ(log->lines.back().rfind("Connect a socket fail! erron:", 0), 0u) << log->lines.back();
    log->lines.clear();
    net.sendData(ByteView());
    EXPECT_EQ(log->lines, (std::vector<std::string>{"Data or socket is null!"}));
}

TEST(NetManager, SmallerReceiveBufferIsLoggedOnceWithTheSizeGranted) {
    PollRunLoop loop;
    auto log = std::make_shared<Lines>();
    NetOptions o;
    o.log = log;
    o.enumerate = [] { return std::vector<LocalInterface>{}; };
    o.receiveBufferBytes = std::numeric_limits<int>::max();  // more than is ever granted
    NetManager net(loop, 0, "127.0.0.1", nullptr, o);
    ASSERT_TRUE(net.ok()) << net.failure();
    ASSERT_TRUE(net.reopenSocket());
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].rfind("Receive buffer ", 0), 0u) << log->lines[0];
    EXPECT_NE(log->lines[0].find(" bytes granted of 2147483647 asked"), std::string::npos) << log->lines[0];
}

TEST(NetManager, GroupNotJoinedOnAnInterfaceIsSaidOnceNamingItAndTheOption) {
    // An interface whose index the system does not know: the receive socket
    // opens, but cannot join the group there.
    PollRunLoop loop;
    auto log = std::make_shared<Lines>();
    std::vector<std::string> warnings;
    NetOptions o;
    o.log = log;
    o.receiveBufferBytes = 4096;  // granted: no line about it
    o.enumerate = [] { return std::vector<LocalInterface>{{"127.0.0.1", "lo", ::if_nametoindex("lo") + 100}}; };
    o.onWarning = [&](const std::string& line) { warnings.push_back(line); };
    NetManager net(loop, 0, kRunLoopGroup, nullptr, o);
    ASSERT_TRUE(net.ok()) << net.failure();
    ASSERT_TRUE(net.reopenSocket());  // as every new search does
    const std::vector<std::string> once{"IP_ADD_MEMBERSHIP failed on lo (127.0.0.1): No such device"};
    EXPECT_EQ(warnings, once);
    EXPECT_EQ(log->lines, once);
}

TEST(EngineLog, UnreadableSenderAddressIsLoggedAndTheReplyStillDecoded) {
    PollRunLoop loop;
    auto log = std::make_shared<Lines>();
    Packager::Options o;
    o.clientUUID = kClient;
    o.sendOverride = [](ByteView) {};
    o.net.log = log;
    Packager engine(loop, kDevicePort, kRunLoopGroup, nullptr, o);
    engine.dePacket(sockaddr_storage{}, reply(op_SEARCH, kClient, kDevice, onePortDevice("a", "VSB-720K", "10.0.0.1")));
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].rfind("Get IP name info fail! errno:", 0), 0u);
    EXPECT_EQ(engine.serverArray().size(), 1u);
}

TEST_F(Engine, UnansweredOperationGoesOutAgainEachSecondUntilAnswered) {
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    loop.runFor(std::chrono::milliseconds(2100));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2], sent[0]);
    deliver(answer(op_CHK_PASSWD, 0));  // an answer to any copy settles it
    EXPECT_EQ(receiver.authFails, 1);
    loop.runFor(std::chrono::milliseconds(1200));
    EXPECT_EQ(sent.size(), 3u);
}

TEST_F(Engine, PasswordGoesByUnicastAndToTheGroupOnlyAsAFallback) {
    recordUnicastApart();
    receiver.device->port[0].IP = "192.168.1.51";

    // Answered by unicast: the group hears nothing, the chained share list
    // goes the same way. A forged acceptance from another host settles
    // nothing.
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    deliver(answer(op_CHK_PASSWD, 1), "192.168.1.99");
    EXPECT_EQ(receiver.accepted, 0);
    deliver(answer(op_CHK_PASSWD, 1));
    EXPECT_EQ(receiver.accepted, 1);
    EXPECT_EQ(unicastTo, (std::vector<std::uint32_t>{0xC0A80132, 0xC0A80132}));
    deliver(answer(op_GET_SAMBA_SHARE, 1, kDevice, {{0, "Volume_1"}}));
    EXPECT_EQ(engine->volumeArray().size(), 1u);
    EXPECT_TRUE(sent.empty());

    // No answer to unicast: one copy to the group after a second, the rest
    // by unicast; an answer then may come from a port address the device
    // reported, and the device is remembered as one that needs the group.
    unicastTo.clear();
    engine->sendPackage(op_GET_SAMBA_SHARE, receiver.device.get());
    loop.runFor(std::chrono::milliseconds(2100));
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(unicastTo.size(), 2u);
    deliver(answer(op_GET_SAMBA_SHARE, 1, kDevice, {{0, "Volume_1:Volume_2"}}), "192.168.1.51");
    EXPECT_EQ(engine->volumeArray().size(), 2u);
    EXPECT_TRUE(engine->credentialRoutes().needsGroup(kDevice));
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    EXPECT_EQ(sent.size(), 2u);  // at once
    EXPECT_EQ(unicastTo.size(), 2u);
}

TEST_F(Engine, TheFirstOfTwoAnswersInConflictIsTheDevice) {
    recordUnicastApart();
    engine->sendPackage(op_SEARCH, nullptr);
    deliver(answer(op_SEARCH, 0, kDevice, onePortDevice("a", "VSB-720K", "10.0.0.9")), "10.0.0.9");
    deliver(answer(op_SEARCH, 0, kDevice, onePortDevice("a", "VSB-720K", "10.0.0.66")), "10.0.0.66");
    ASSERT_EQ(engine->serverArray().size(), 2u);
    for (const auto& d : engine->serverArray()) engine->sendPackage(op_CHK_PASSWD, d.get());
    loop.runFor(std::chrono::milliseconds(1100));  // the second waits out answers owed to the first
    EXPECT_EQ(unicastTo, (std::vector<std::uint32_t>{0x0A000009, 0x0A000009}));
}

TEST_F(Engine, ASettingsChangeGoesOnce) {
    recordUnicastApart();
    engine->sendPackage(op_SET_LAN, receiver.device.get());
    loop.runFor(std::chrono::milliseconds(2100));
    EXPECT_EQ(unicastTo.size(), 1u);
    EXPECT_TRUE(sent.empty());
}

TEST_F(Engine, AnAnswerToAnEarlierRequestSettlesNoLaterOne) {
    // A late box: the wrong password went twice (the first copy unanswered
    // for a second); the refusal of the first copy comes, the user types
    // the right one at once, and the refusal of the second copy comes
    // after. It is dropped; the next request goes once it is in.
    recordUnicastApart();
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    loop.runFor(std::chrono::milliseconds(1050));
    ASSERT_EQ(unicastTo.size() + sent.size(), 2u);
    deliver(answer(op_CHK_PASSWD, 0));
    EXPECT_EQ(receiver.authFails, 1);
    unicastTo.clear();
    sent.clear();
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    EXPECT_TRUE(unicastTo.empty() && sent.empty());  // held back
    deliver(answer(op_CHK_PASSWD, 0), "192.168.1.99");  // forged: counts nothing off
    EXPECT_TRUE(unicastTo.empty() && sent.empty());
    deliver(answer(op_CHK_PASSWD, 0));
    EXPECT_EQ(receiver.authFails, 1);
    ASSERT_EQ(unicastTo.size() + sent.size(), 1u);  // at once
    deliver(answer(op_CHK_PASSWD, 1));
    EXPECT_EQ(receiver.accepted, 1);
}

// Checks of two devices in flight at once: each answer settles its own
// device's check and its follow-up goes to that device, for the action
// pending when that check was sent, whatever the receiver shows by then.
TEST_F(Engine, EachAnswerFollowsUpForTheDeviceAndActionItWasAskedFor) {
    auto other = std::make_shared<DeviceData_n>();
    other->serverUUID = kOther;
    other->password = "other-pw";
    other->answeredFrom = Ipv4{0xC0A80133};  // 192.168.1.51
    receiver.action = CalledAction::Apply;
    engine->sendPackage(op_CHK_PASSWD, receiver.device.get());
    const auto first = receiver.device;
    receiver.action = CalledAction::ListVolumes;
    receiver.device = other;
    engine->sendPackage(op_CHK_PASSWD, other.get());
    ASSERT_EQ(sent.size(), 2u) << "the second device's check does not replace the first's";
    sent.clear();
    deliver(answer(op_CHK_PASSWD, 1, kDevice));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(readHeader(sent[0])->opcode, op_SET_LAN) << "the first check was for a settings change";
    EXPECT_EQ(readHeader(sent[0])->serverUUID, kDevice);
    EXPECT_EQ(sent[0], buildSetLanRequest(kClient, kDevice, "admin", "pw", [&] {
        TmpDeviceData t;
        engine->fillTmpDeviceData(*first, t);
        return t;
    }(), ItemPadding::Compact));
    deliver(answer(op_CHK_PASSWD, 1, kOther), "192.168.1.51");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(readHeader(sent[1])->opcode, op_GET_SAMBA_SHARE);
    EXPECT_EQ(sent[1], buildShareListRequest(kClient, kOther, "admin", "other-pw"));
    EXPECT_EQ(receiver.accepted, 2);
}
