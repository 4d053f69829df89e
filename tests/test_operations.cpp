// Blocking device operations over a scripted link: request bytes, reply
// matching, results and time limits.
#include "quayside/device_library.h"
#include "support/fake_link.h"
#include "support/packets.h"

#include <gtest/gtest.h>

using namespace qs;
using namespace std::chrono_literals;
using qs::test::FakeLink;
using qs::test::hexdump;
using qs::test::reply;

namespace {
const Uuid8 kClient{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const Uuid8 kDevice{1, 2, 3, 4, 5, 6, 7, 8};
const Uuid8 kOther{9, 9, 9, 9, 9, 9, 9, 9};
const std::uint32_t kAddress = 0x0A000114;  // 10.0.1.20, where the device answered the search
const std::uint32_t kElsewhere = 0x0A000163;

struct Ops : ::testing::Test {
    FakeLink* link = new FakeLink(2);
    DeviceLibrary lib{std::unique_ptr<BlockingLink>(link), kClient};
    DeviceData_n* dev = nullptr;

    void SetUp() override {
        dev = &lib.devices.append();
        dev->serverUUID = kDevice;
        dev->localIfIndex = 1;
        dev->answeredFrom = Ipv4{kAddress};
        link->defaultFrom = kAddress;
        dev->ifCount = 2;
        dev->port[1].IP = "10.0.1.21";
        dev->port[0].dns1 = "10.0.0.53";
        dev->port[0].dns2 = "10.0.0.54";
        dev->port[1].dns1 = "10.1.0.53";
        dev->port[1].dns2 = "10.1.0.54";
        dev->port[1].dnsMode = 2;
    }
    // The box and credentials the operations are for.
    Uuid8 box = kDevice;
    Credentials who{"admin", "secret"};
    Outcome check() { return lib.checkPassword(box, who); }
    Outcome shares() { return lib.getShareList(box, who); }
    Outcome setLan(const LanSettings& settings) { return lib.setLanConfig(box, who, settings); }
    // Answers every request with `answer` built for it, sent by unicast or
    // to the group.
    void answerWith(std::function<Bytes(const Bytes& request)> answer) {
        link->onUnicast = [this, answer](std::uint32_t, const Bytes& req) { link->queue(1, answer(req)); };
        link->onSend = [this, answer](int i, const Bytes& req) { link->queue(i, answer(req)); };
    }
    static Bytes replyTo(const Bytes& req, std::uint16_t ret, const Uuid8& from = kDevice,
                         const test::ItemList& items = {}) {
        const auto h = readHeader(req);
        return reply(h->opcode, h->clientUUID, from, items, ret);
    }
    static std::vector<std::pair<std::uint16_t, std::string>> items(const Bytes& req) {
        std::vector<std::pair<std::uint16_t, std::string>> out;
        walkItems(req, kHeaderSize + kAuthBlockSize, 0, [&](const Item& it) { out.emplace_back(it.type, it.text()); });
        return out;
    }
};
}  // namespace

TEST_F(Ops, CheckPasswordRequestGoldenBytes) {
    const Bytes req = buildCheckPasswordRequest(kClient, kDevice, "admin", "admin");
    ASSERT_EQ(req.size(), 172u);
    EXPECT_EQ(hexdump(Bytes(req.begin(), req.begin() + 44)),
              "aa 55 66 00 00 00 00 00 11 22 33 44 55 66 77 88 01 02 03 04 05 06 07 08 "
              "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 00");
    EXPECT_EQ(std::string(req.begin() + 44, req.begin() + 52), "YWRtaW4=");
    EXPECT_EQ(std::string(req.begin() + 108, req.begin() + 116), "YWRtaW4=");
    EXPECT_EQ(req[52], 0);
    EXPECT_EQ(req[116], 0);
}

TEST_F(Ops, ShareListRequestGoldenBytes) {
    const Bytes req = buildShareListRequest(kClient, kDevice, "admin", "");
    ASSERT_EQ(req.size(), 172u);
    EXPECT_EQ(req[2], 164);
    EXPECT_EQ(req[3], 0);
    EXPECT_EQ(req[42], 0x80);
    for (std::size_t i = 108; i < 172; ++i) ASSERT_EQ(req[i], 0);
}

TEST_F(Ops, SetLanRequestGoldenBytes) {
    TmpDeviceData t{"192.168.1.20", "255.255.255.0", "192.168.1.1", "8.8.8.8", "", false, 3, 1};
    const Bytes req = buildSetLanRequest(kClient, kDevice, "admin", "admin", t);
    const Bytes body(req.begin() + 172, req.end());
    EXPECT_EQ(hexdump(body),
              // v_IP "192.168.1.20" (12 bytes, 4 NULs)
              "fa 01 14 00 31 39 32 2e 31 36 38 2e 31 2e 32 30 00 00 00 00 "
              // v_NETMASK "255.255.255.0"
              "fb 01 14 00 32 35 35 2e 32 35 35 2e 32 35 35 2e 30 00 00 00 "
              // v_GATEWAY "192.168.1.1"
              "fc 01 10 00 31 39 32 2e 31 36 38 2e 31 2e 31 00 "
              // v_NS1 "8.8.8.8", v_NS2 ""
              "fd 01 0c 00 38 2e 38 2e 38 2e 38 00 fe 01 04 00 "
              // v_NS_MODE "1", v_IF_NO "1", v_DHCP_ENABLE "0"
              "1a 02 08 00 31 00 00 00 11 02 08 00 31 00 00 00 f9 01 08 00 30 00 00 00");
    EXPECT_EQ(req[42] | req[43] << 8, static_cast<int>(req.size() - 44));
}

TEST_F(Ops, AcceptedPasswordIsTheReturnCodeOne) {
    answerWith([](const Bytes& req) { return replyTo(req, 1); });
    EXPECT_TRUE(check() == Outcome::Accepted);
    ASSERT_EQ(link->unicast.size(), 1u);
    EXPECT_EQ(link->unicast[0].first, kAddress);
    EXPECT_EQ(link->unicast[0].second, buildCheckPasswordRequest(kClient, kDevice, "admin", "secret"));
    EXPECT_TRUE(link->sent.empty() && link->repeated.empty());  // nothing to the group
}

TEST_F(Ops, RefusalEndsTheWaitAtOnce) {
    answerWith([](const Bytes& req) { return replyTo(req, 0); });
    EXPECT_EQ(check(), Outcome::Refused);
    EXPECT_LT(link->elapsed(), 50ms + 40ms);
}

TEST_F(Ops, UnknownDeviceSendsNothing) {
    box = kOther;
    EXPECT_EQ(check(), Outcome::UnknownDevice);
    EXPECT_EQ(setLan({}), Outcome::UnknownDevice);
    EXPECT_EQ(shares(), Outcome::UnknownDevice);
    EXPECT_TRUE(link->sent.empty() && link->unicast.empty());
}

TEST_F(Ops, SilenceCostsOneHundredEmptyWaits) {
    EXPECT_EQ(check(), Outcome::NoAnswer);
    // 50 ms + 101 waits of 30 ms + 100 sleeps of 20 ms
    EXPECT_EQ(link->elapsed(), 50ms + 101 * 30ms + 100 * 20ms);
    link->sent.clear();
    link->repeated.clear();
    link->unicast.clear();
    const auto before = link->elapsed();
    EXPECT_EQ(setLan({}), Outcome::NoAnswer);
    EXPECT_EQ(link->elapsed() - before, 50ms + 101 * 10ms + 100 * 20ms);
    // A settings change goes out once, unanswered or not.
    EXPECT_EQ(link->unicast.size() + link->sent.size() + link->repeated.size(), 1u);
}

TEST_F(Ops, AnAnswerToAnEarlierRequestSettlesNoLaterOne) {
    // A box that answers every copy 1.5 s late: a wrong password's first
    // copy is refused at 1.5 s, its second (sent at 1 s to the group) at
    // 2.5 s. The right password, asked at once, is accepted all the same.
    const auto late = [this](int iface, const Bytes& req) {
        const bool right = req == buildCheckPasswordRequest(kClient, kDevice, "admin", "right");
        link->queueFromAfter(iface, kAddress, 1500ms, replyTo(req, right ? 1 : 0));
    };
    link->onUnicast = [late](std::uint32_t, const Bytes& req) { late(-1, req); };
    link->onRepeat = late;
    who.password = "wrong";
    EXPECT_EQ(check(), Outcome::Refused);
    who.password = "right";
    EXPECT_EQ(check(), Outcome::Accepted);
    // The answer came to the unicast copy, late: the device is not taken
    // for one that needs the group, and the right password went by unicast.
    EXPECT_FALSE(lib.credentialRoutes().needsGroup(kDevice));
    EXPECT_LT(link->elapsed(), 2500ms + 1500ms + 100ms);
}

TEST_F(Ops, ReplyFromAnotherDeviceDoesNotSettleTheRequest) {
    answerWith([](const Bytes& req) { return replyTo(req, 1, kOther); });
    EXPECT_EQ(check(), Outcome::NoAnswer);
    link->onUnicast = [this](std::uint32_t, const Bytes& req) {
        const int i = 1;
        link->queue(i, replyTo(req, 1, kOther));
        link->queue(i, replyTo(req, 0, kDevice));
    };
    EXPECT_EQ(check(), Outcome::Refused);
}

TEST_F(Ops, MalformedRepliesKeepTheWaitGoing) {
    link->onUnicast = [this](std::uint32_t, const Bytes& req) {
        const int i = 1;
        Bytes shortLen = replyTo(req, 1);
        shortLen[42] = 0xFF;
        Bytes otherOp = replyTo(req, 1);
        otherOp[2] = op_SEARCH;
        link->queue(i, shortLen);
        link->queue(i, otherOp);
        link->queue(i, req);  // our own request
        link->queue(i, replyTo(req, 1));
    };
    EXPECT_TRUE(check() == Outcome::Accepted);
}

TEST_F(Ops, FloodOfForeignRepliesIsBounded) {
    link->datagramTime = 1ms;
    link->onEmpty = [this](int i) { link->queue(i, reply(op_CHK_PASSWD, kClient, kOther, {}, 1)); };
    EXPECT_EQ(check(), Outcome::NoAnswer);
    EXPECT_LE(link->elapsed(), 50ms + lib.operationTuning.waitBound + 5ms);
}

TEST_F(Ops, ShareListIsSplitAndDeduplicated) {
    lib.shares.add("stale");
    answerWith([](const Bytes& req) {
        return replyTo(req, 1, kDevice, {{0, "Volume_1:Volume_2::Volume_1:Recycle Bin - Volume_1:"}});
    });
    EXPECT_TRUE(shares() == Outcome::Accepted);
    EXPECT_EQ(lib.shares.names(), (std::vector<std::string>{"Volume_1", "Volume_2", "Recycle Bin - Volume_1"}));
}

TEST_F(Ops, EmptyShareItemStillSucceeds) {
    lib.shares.add("stale");
    answerWith([](const Bytes& req) { return replyTo(req, 1, kDevice, {{0, ""}}); });
    EXPECT_TRUE(shares() == Outcome::Accepted);
    EXPECT_EQ(lib.shares.count(), 0u);
}

TEST_F(Ops, SetLanOnSecondPortSendsItsNameServers) {
    answerWith([](const Bytes& req) { return replyTo(req, 1); });
    EXPECT_EQ(setLan({.portLabel = "LAN2", .address = Ipv4::parse("10.1.0.20"), .netmask = Ipv4::parse("255.255.0.0"),
                      .gateway = Ipv4::parse("10.1.0.1")}),
              Outcome::Accepted);
    auto it = items(link->unicast.back().second);
    ASSERT_EQ(it.size(), 8u);
    EXPECT_EQ(it[0], (std::pair<std::uint16_t, std::string>{v_IP, "10.1.0.20"}));
    EXPECT_EQ(it[3].second, "10.1.0.53");
    EXPECT_EQ(it[4].second, "10.1.0.54");
    EXPECT_EQ(it[5].second, "1");  // name-server mode 2 is non-zero
    EXPECT_EQ(it[6], (std::pair<std::uint16_t, std::string>{v_IF_NO, "1"}));
    EXPECT_EQ(it[7], (std::pair<std::uint16_t, std::string>{v_DHCP_ENABLE, "0"}));

    EXPECT_EQ(setLan({.portLabel = "LAN1", .dhcp = true}), Outcome::Accepted);
    it = items(link->unicast.back().second);
    EXPECT_EQ(it[3].second, "10.0.0.53");
    EXPECT_EQ(it[5].second, "0");
    EXPECT_EQ(it[6].second, "0");
    EXPECT_EQ(it[7].second, "1");
}

TEST_F(Ops, SetLanRefusedByTheDevice) {
    answerWith([](const Bytes& req) { return replyTo(req, 0); });
    EXPECT_EQ(setLan({.dhcp = true}), Outcome::Refused);
}

TEST(SettingsPort, ChoiceFollowsPortCountAndLabel) {
    DeviceData_n d;
    d.ifCount = 1;
    d.nSendIF = 1;
    EXPECT_EQ(chooseSettingsPort(d, "LAN1"), 1);
    d.nSendIF = 9;  // nonsense from the network stays inside the two blocks
    EXPECT_EQ(chooseSettingsPort(d, "LAN1"), 0);
    d.ifCount = 2;
    d.nSendIF = 1;
    EXPECT_EQ(chooseSettingsPort(d, "LAN1+LAN2"), 1);
    EXPECT_EQ(chooseSettingsPort(d, "LAN1"), 0);
    EXPECT_EQ(chooseSettingsPort(d, "LAN2"), 1);
    EXPECT_EQ(chooseSettingsPort(d, "whatever"), 1);
    d.ifCount = 0;
    EXPECT_EQ(chooseSettingsPort(d, "LAN2"), 0);
}

TEST_F(Ops, UnansweredRequestIsSentAgainByUnicastAndOnceToTheGroup) {
    // Silence: the first wait ends with one copy to the group, every other
    // copy goes by unicast, about once a second within the same bound.
    EXPECT_EQ(check(), Outcome::NoAnswer);
    EXPECT_EQ(link->elapsed(), 50ms + 101 * 30ms + 100 * 20ms);
    EXPECT_TRUE(link->sent.empty());
    ASSERT_EQ(link->repeated.size(), 1u);
    EXPECT_EQ(link->repeated[0], std::make_pair(1, link->unicast[0].second));
    EXPECT_EQ(link->unicast.size(), 5u);
    EXPECT_FALSE(lib.credentialRoutes().needsGroup(kDevice));

    // A device that listens on the group only answers the group copy and
    // is remembered: its next request goes to the group at once, once.
    link->repeated.clear();
    link->unicast.clear();
    link->onRepeat = [this](int i, const Bytes& req) { link->queue(i, replyTo(req, 1)); };
    link->onSend = link->onRepeat;
    EXPECT_EQ(check(), Outcome::Accepted);
    EXPECT_EQ(link->repeated.size(), 1u);
    EXPECT_TRUE(lib.credentialRoutes().needsGroup(kDevice));
    link->repeated.clear();
    EXPECT_EQ(shares(), Outcome::Accepted);
    EXPECT_EQ(link->sent.size(), 1u);
    EXPECT_TRUE(link->repeated.empty());
}

TEST_F(Ops, AnswersAreBelievedOnlyFromTheDeviceAddress) {
    // A forged acceptance under the device's serverUUID from another host
    // settles nothing; the device's own refusal does.
    link->onUnicast = [this](std::uint32_t, const Bytes& req) {
        link->queueFrom(1, kElsewhere, replyTo(req, 1));
        link->queueFrom(-1, kElsewhere, replyTo(req, 1));
        link->queueFrom(-1, kAddress, replyTo(req, 0));
    };
    EXPECT_EQ(check(), Outcome::Refused);
    // Once the group was asked, the device may answer from an address it
    // reported for a port.
    link->onUnicast = nullptr;
    link->onRepeat = [this](int i, const Bytes& req) {
        link->queueFrom(i, kElsewhere, replyTo(req, 0));
        link->queueFrom(i, 0x0A000115, replyTo(req, 1));  // 10.0.1.21, its second port
    };
    EXPECT_EQ(check(), Outcome::Accepted);
}
