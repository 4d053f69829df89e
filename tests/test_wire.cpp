// Wire format: header, item encoding and walking, reply acceptance,
// identities and the credential block.
#include "quayside/address.h"
#include "quayside/credentials.h"
#include "quayside/device_library.h"
#include "quayside/neighbours.h"
#include "quayside/wire.h"
#include "support/packets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

using namespace qs;
using qs::test::hexdump;
using qs::test::reply;

namespace {
const Uuid8 kClient{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const Uuid8 kServer{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

Bytes itemBytes(std::uint16_t type, std::string_view value, ItemPadding padding = ItemPadding::Terminated) {
    ByteWriter w;
    appendItem(w, type, value, padding);
    return w.take();
}
}  // namespace

TEST(Wire, SearchRequestGoldenBytes) {
    const Bytes req = buildSearchRequest(kClient);
    ASSERT_EQ(req.size(), 44u);
    Bytes expected(44, 0);
    expected[0] = 0xAA;
    expected[1] = 0x55;
    expected[2] = 0x65;
    for (int i = 0; i < 8; ++i) expected[8 + i] = kClient[i];
    EXPECT_EQ(hexdump(req), hexdump(expected));
}

TEST(Wire, HeaderRoundTripIsLittleEndian) {
    PacketHeader h;
    h.magic = kReplyMagic;
    h.opcode = op_GET_SAMBA_SHARE;
    h.ret_code = 0x0102;
    h.clientUUID = kClient;
    h.serverUUID = kServer;
    h.reserved[0] = 9;
    h.body_len = 0x0304;
    ByteWriter w;
    writeHeader(w, h);
    const Bytes b = w.take();
    ASSERT_EQ(b.size(), kHeaderSize);
    EXPECT_EQ(b[0], 0x55);
    EXPECT_EQ(b[1], 0xAA);
    EXPECT_EQ(b[2], 164);
    EXPECT_EQ(b[3], 0);
    EXPECT_EQ(b[4], 0x02);
    EXPECT_EQ(b[5], 0x01);
    EXPECT_EQ(b[16], 0x01);
    EXPECT_EQ(b[24], 9);
    EXPECT_EQ(b[42], 0x04);
    EXPECT_EQ(b[43], 0x03);
    const auto back = readHeader(b);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->opcode, op_GET_SAMBA_SHARE);
    EXPECT_EQ(back->ret_code, 0x0102);
    EXPECT_EQ(back->serverUUID, kServer);
    EXPECT_EQ(back->body_len, 0x0304);
    EXPECT_FALSE(readHeader(ByteView(b.data(), 43)));
}

TEST(Wire, ItemPaddingAlwaysEndsInOneToFourNuls) {
    struct Case {
        std::string value;
        std::uint16_t varLen;
    } cases[] = {{"255.255.255.0", 20}, {"1234567", 12}, {"123456789012", 20}, {"", 4}, {"lan1", 12}, {"1", 8}};
    for (const auto& c : cases) {
        const Bytes b = itemBytes(v_NETMASK, c.value);
        ASSERT_EQ(b.size(), c.varLen) << c.value;
        EXPECT_EQ(b[2] | (b[3] << 8), c.varLen) << c.value;
        EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 4 + static_cast<long>(c.value.size())), c.value);
        for (std::size_t i = 4 + c.value.size(); i < b.size(); ++i) EXPECT_EQ(b[i], 0) << c.value;
        if (!c.value.empty()) {
            EXPECT_GE(b.size() - 4 - c.value.size(), 1u) << c.value;
        }
    }
    EXPECT_EQ(hexdump(itemBytes(v_IF_NO, "1")), "11 02 08 00 31 00 00 00");
}

TEST(Wire, CompactPaddingLeavesFourByteValuesUnterminated) {
    EXPECT_EQ(hexdump(itemBytes(v_IF_NO, "lan1", ItemPadding::Compact)), "11 02 08 00 6c 61 6e 31");
    EXPECT_EQ(itemBytes(v_IP, "10.0.0.1", ItemPadding::Compact).size(), 12u);
    EXPECT_EQ(itemBytes(v_IP, "", ItemPadding::Compact).size(), 4u);
    EXPECT_EQ(itemBytes(v_IP, "1", ItemPadding::Compact).size(), 8u);
}

TEST(Wire, PasswordItemIsBase64OfFirst48Bytes) {
    const Bytes b = itemBytes(v_PASSWD, "admin");
    // "YWRtaW4=" is 8 characters: p = 12, var_len 16.
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 12), "YWRtaW4=");
    const std::string longPw(60, 'x');
    EXPECT_EQ(itemBytes(v_PASSWD, longPw), itemBytes(v_PASSWD, longPw.substr(0, 48)));
}

TEST(Wire, ItemValueEndsAtFirstNulInsideTheItem) {
    // A compact value of exactly 4 bytes has no terminator; the text must not
    // run into the next item.
    ByteWriter w;
    writeHeader(w, PacketHeader{});
    appendItem(w, v_IF_NO, "lan1", ItemPadding::Compact);
    appendItem(w, v_IP, "10.1.2.3");
    const Bytes b = w.take();
    std::vector<std::string> texts;
    const auto end = walkItems(b, kHeaderSize, 0, [&](const Item& it) { texts.push_back(it.text()); });
    EXPECT_EQ(end, WalkEnd::EndOfData);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "lan1");
    EXPECT_EQ(texts[1], "10.1.2.3");
}

// One named test per malformed case of the item walk.
TEST(ItemWalk, LengthBelowFourEndsTheWalk) {
    ByteWriter w;
    writeHeader(w, PacketHeader{});
    appendItem(w, v_HOSTNAME, "a");
    w.u16le(v_IP);
    w.u16le(3);
    appendItem(w, v_IP, "10.0.0.1");
    int seen = 0;
    EXPECT_EQ(walkItems(w.data(), kHeaderSize, 0, [&](const Item&) { ++seen; }), WalkEnd::LengthBelowFour);
    EXPECT_EQ(seen, 1);
}

TEST(ItemWalk, ZeroLengthDoesNotLoopForever) {
    ByteWriter w;
    writeHeader(w, PacketHeader{});
    w.u16le(v_IP);
    w.u16le(0);
    int seen = 0;
    EXPECT_EQ(walkItems(w.data(), kHeaderSize, 0, [&](const Item&) { ++seen; }), WalkEnd::LengthBelowFour);
    EXPECT_EQ(seen, 0);
}

TEST(ItemWalk, ItemRunningPastTheEndIsNotRead) {
    ByteWriter w;
    writeHeader(w, PacketHeader{});
    w.u16le(v_HOSTNAME);
    w.u16le(100);
    w.bytes("abcd", 4);
    int seen = 0;
    EXPECT_EQ(walkItems(w.data(), kHeaderSize, 0, [&](const Item&) { ++seen; }), WalkEnd::PastEnd);
    EXPECT_EQ(seen, 0);
}

TEST(ItemWalk, TruncatedItemHeaderIsNotRead) {
    ByteWriter w;
    writeHeader(w, PacketHeader{});
    w.u16le(v_HOSTNAME);
    w.u8(8);
    int seen = 0;
    EXPECT_EQ(walkItems(w.data(), kHeaderSize, 0, [&](const Item&) { ++seen; }), WalkEnd::PastEnd);
    EXPECT_EQ(seen, 0);
}

TEST(ItemWalk, StopsAfterTheItemLimit) {
    ByteWriter w;
    writeHeader(w, PacketHeader{});
    for (int i = 0; i < 60; ++i) appendItem(w, v_HOSTNAME, "x");
    int seen = 0;
    EXPECT_EQ(walkItems(w.data(), kHeaderSize, 52, [&](const Item&) { ++seen; }), WalkEnd::ItemLimit);
    EXPECT_EQ(seen, 52);
}

// One named test per reply rejection.
class ReplyChecks : public ::testing::Test {
protected:
    Bytes good = reply(op_SEARCH, kClient, kServer, {{v_HOSTNAME, "box"}});
};

TEST_F(ReplyChecks, WellFormedReplyIsAccepted) {
    EXPECT_EQ(checkReply(good, op_SEARCH, kClient), ReplyCheck::Accepted);
}

TEST_F(ReplyChecks, ShorterThanHeaderIsRejected) {
    EXPECT_EQ(checkReply(ByteView(good.data(), 43), op_SEARCH, kClient), ReplyCheck::TooShort);
    EXPECT_EQ(checkReply(ByteView(), op_SEARCH, kClient), ReplyCheck::TooShort);
}

TEST_F(ReplyChecks, RequestMagicIsNeverAReply) {
    good[0] = 0xAA;
    good[1] = 0x55;
    EXPECT_EQ(checkReply(good, op_SEARCH, kClient), ReplyCheck::BadMagic);
}

TEST_F(ReplyChecks, OtherOpcodeIsRejected) {
    EXPECT_EQ(checkReply(good, op_CHK_PASSWD, kClient), ReplyCheck::WrongOpcode);
}

TEST_F(ReplyChecks, ForeignClientIdIsRejected) {
    good[15] ^= 1;
    EXPECT_EQ(checkReply(good, op_SEARCH, kClient), ReplyCheck::ForeignClient);
}

TEST_F(ReplyChecks, BodyLengthOneShortIsRejected) {
    good[42] = static_cast<std::uint8_t>(good[42] - 1);
    EXPECT_EQ(checkReply(good, op_SEARCH, kClient), ReplyCheck::LengthMismatch);
}

TEST_F(ReplyChecks, BodyLengthOneLongIsRejected) {
    good[42] = static_cast<std::uint8_t>(good[42] + 1);
    EXPECT_EQ(checkReply(good, op_SEARCH, kClient), ReplyCheck::LengthMismatch);
}

TEST(Credentials, Base64MatchesTheStandardAlphabet) {
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("a"), "YQ==");
    EXPECT_EQ(encode("ab"), "YWI=");
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("admin"), "YWRtaW4=");
    const std::string high = "\x80\xff\xfe";
    EXPECT_EQ(encode(high), "gP/+");
    const std::string one = "\xfb";
    EXPECT_EQ(encode(one), "+w==");
}

TEST(Credentials, AuthBlockLayout) {
    const AuthBlock b = makeAuthBlock("admin", "");
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "YWRtaW4=");
    for (std::size_t i = 8; i < 128; ++i) ASSERT_EQ(b[i], 0) << i;
}

TEST(Credentials, FortyEightBytePasswordFillsItsHalfExactly) {
    const std::string pw48(48, 'p');
    const AuthBlock b = makeAuthBlock("", pw48);
    for (std::size_t i = 0; i < 64; ++i) ASSERT_EQ(b[i], 0);
    for (std::size_t i = 64; i < 128; ++i) ASSERT_NE(b[i], 0) << i;
    EXPECT_EQ(std::string(b.begin() + 64, b.end()), encode(pw48));
    EXPECT_EQ(makeAuthBlock("", pw48 + "q"), b);
}

TEST(Credentials, AppendAuthDataCountsInBodyLength) {
    ByteWriter w = startRequest(op_CHK_PASSWD, kClient, kServer);
    appendAuthData(w, "admin", "secret");
    const Bytes req = finishRequest(w);
    ASSERT_EQ(req.size(), 172u);
    EXPECT_EQ(req[42], 0x80);
    EXPECT_EQ(req[43], 0x00);
    EXPECT_EQ(std::string(req.begin() + 44 + 64, req.begin() + 44 + 72), "c2VjcmV0");
}

// A cleared secret leaves zeros in all its room, what a longer value left
// there included; a request being built never moves its credentials to a
// new buffer, which would leave a copy behind.
TEST(Credentials, ClearedSecretsLeaveNoCopy) {
    std::string pw(40, 'p');
    pw.resize(3);
    const char* room = pw.data();
    const std::size_t capacity = pw.capacity();
    secureClear(pw);
    EXPECT_TRUE(pw.empty());
    ASSERT_EQ(pw.data(), room);
    for (std::size_t i = 0; i < capacity; ++i) ASSERT_EQ(room[i], 0) << i;

    ByteWriter w = startRequest(op_SET_LAN, kClient, kServer);
    const std::uint8_t* start = w.data().data();
    appendAuthData(w, std::string(48, 'u'), std::string(48, 'p'));
    for (std::uint16_t type : {v_IP, v_NETMASK, v_GATEWAY, v_NS1, v_NS2, v_NS_MODE, v_IF_NO, v_DHCP_ENABLE})
        appendItem(w, type, "255.255.255.255");
    EXPECT_EQ(w.data().data(), start);
    Bytes request = finishRequest(w);
    secureClear(request);
    EXPECT_TRUE(request.empty());
    EXPECT_TRUE(
        std::all_of(request.data(), request.data() + request.capacity(), [](std::uint8_t b) { return b == 0; }));
}

TEST(ClientId, BlockingIdTakesTheLowByteOfEachWord) {
    std::uint32_t next = 0x1234'5600;
    const Uuid8 id = makeClientId([&] { return next++; });
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(id[i], i);
}

TEST(ClientId, RunLoopIdHasSixBytesInRangeAndTwoZeros) {
    std::uint32_t next = 120;
    const Uuid8 id = makeRunLoopClientId([&] { return next++; });
    EXPECT_EQ(id[0], 121);  // 120 % 125 + 1
    EXPECT_EQ(id[5], 1);    // 125 % 125 + 1
    EXPECT_EQ(id[6], 0);
    EXPECT_EQ(id[7], 0);
    for (int k = 0; k < 200; ++k) {
        const Uuid8 r = makeRunLoopClientId();
        for (std::size_t i = 0; i < 6; ++i) ASSERT_TRUE(r[i] >= 1 && r[i] <= 125);
    }
}

TEST(ClientId, IdsMadeInTheSameSecondDiffer) {
    // Seeding from the clock made same-second clients collide.
    EXPECT_NE(makeClientId(), makeClientId());
}

TEST(Hex, RoundTripAndRejects) {
    EXPECT_EQ(toHex(kServer), "0102030405060708");
    EXPECT_EQ(uuidFromHex("0102030405060708"), kServer);
    EXPECT_EQ(uuidFromHex("01020304050607AB")->at(7), 0xAB);
    EXPECT_FALSE(uuidFromHex("010203040506070"));
    EXPECT_FALSE(uuidFromHex("01020304050607zz"));
}

TEST(Address, HostTargetsAreOneAddressOrABlockOfHosts) {
    using V = std::vector<std::uint32_t>;
    const qs::TargetRules rules{.maxBlock = 1024};
    EXPECT_EQ(qs::parseHostTargets("10.0.0.7", rules), V{0x0A000007});
    const auto block = qs::parseHostTargets("10.0.1.0/24", rules);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->size(), 254u);  // no network or broadcast address
    EXPECT_EQ(block->front(), 0x0A000101u);
    EXPECT_EQ(block->back(), 0x0A0001FEu);
    EXPECT_EQ(qs::parseHostTargets("10.0.0.6/31", rules), (V{0x0A000006, 0x0A000007}));
    EXPECT_EQ(qs::parseHostTargets("10.0.0.0/22", rules)->size(), 1022u);
    std::string why;
    for (const char* bad : {"10.0.0.0/21", "10.0.0.7/24", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/08", "host", "10.0.0.1/2x"}) {
        EXPECT_FALSE(qs::parseHostTargets(bad, rules, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
        why.clear();
    }
}

TEST(Address, HostTargetsNameBoxesOnly) {
    const qs::TargetRules rules{.maxBlock = 1024};
    std::string why;
    // Each refused with the address named; the addresses just outside
    // each range pass.
    for (const char* bad : {"0.0.0.0", "0.255.255.255", "255.255.255.255", "224.0.0.1", "239.255.255.255",
                            "240.0.0.1", "255.255.255.254", "127.0.0.1", "127.255.255.254"}) {
        EXPECT_FALSE(qs::parseHostTargets(bad, rules, &why)) << bad;
        EXPECT_NE(why.find(std::string("'") + bad + "' is "), std::string::npos) << why;
    }
    for (const char* good : {"1.0.0.0", "126.255.255.255", "128.0.0.0", "223.255.255.255"})
        EXPECT_TRUE(qs::parseHostTargets(good, rules, &why)) << good << ": " << why;
    EXPECT_FALSE(qs::parseHostTargets("224.0.0.9", rules, &why));
    EXPECT_NE(why.find("multicast"), std::string::npos) << why;
    EXPECT_FALSE(qs::parseHostTargets("255.255.255.255", rules, &why));
    EXPECT_NE(why.find("broadcast"), std::string::npos) << why;

    // A block is refused at the first address it may not hold; one whose
    // network and broadcast addresses are left out holds neither.
    EXPECT_FALSE(qs::parseHostTargets("224.0.0.0/24", rules, &why));
    EXPECT_NE(why.find("holds 224.0.0.1, a multicast"), std::string::npos) << why;
    EXPECT_FALSE(qs::parseHostTargets("0.0.0.0/30", rules, &why));
    EXPECT_NE(why.find("holds 0.0.0.1"), std::string::npos) << why;
    EXPECT_FALSE(qs::parseHostTargets("255.255.255.252/30", rules, &why));
    EXPECT_NE(why.find("holds 255.255.255.253, a reserved"), std::string::npos) << why;
    EXPECT_FALSE(qs::parseHostTargets("127.0.0.0/24", rules, &why));
    EXPECT_NE(why.find("loopback lab"), std::string::npos) << why;
    EXPECT_EQ(qs::parseHostTargets("223.255.255.0/24", rules)->back(), 0xDFFFFFFEu);

    // Loopback addresses in the loopback lab only; the others never.
    const qs::TargetRules lab{.maxBlock = 1024, .loopback = true};
    EXPECT_EQ(qs::parseHostTargets("127.0.0.5", lab), (std::vector<std::uint32_t>{0x7F000005}));
    EXPECT_EQ(qs::parseHostTargets("127.0.0.0/24", lab)->size(), 254u);
    for (const char* bad : {"0.0.0.0", "224.0.0.1", "255.255.255.255"})
        EXPECT_FALSE(qs::parseHostTargets(bad, lab)) << bad;
}

TEST(Address, HostTargetListCountsEachAddressOnceUpToItsCap) {
    const qs::TargetRules rules{.maxBlock = 1024};
    std::string why;
    // Four /22 blocks and their repeats: 4088 addresses, each once, in order.
    const std::vector<std::string> four{"10.0.0.0/22", "10.0.4.0/22", "10.0.8.0/22", "10.0.0.9", "10.0.12.0/22",
                                        "10.0.4.0/22"};
    const auto all = qs::parseHostTargetList(four, rules, &why);
    ASSERT_TRUE(all) << why;
    EXPECT_EQ(all->size(), 4088u);
    EXPECT_EQ(all->front(), 0x0A000001u);
    EXPECT_EQ(all->back(), 0x0A000FFEu);
    EXPECT_EQ(std::set<std::uint32_t>(all->begin(), all->end()).size(), all->size());

    // Eight more are 4096 in all; nine are one too many.
    auto more = four;
    more.push_back("10.0.16.0/29");
    more.push_back("10.0.16.8/31");
    EXPECT_EQ(qs::parseHostTargetList(more, rules, &why)->size(), 4096u);
    more.push_back("10.0.16.10");
    EXPECT_FALSE(qs::parseHostTargetList(more, rules, &why));
    EXPECT_NE(why.find("4096"), std::string::npos) << why;
    EXPECT_NE(why.find("'10.0.16.10'"), std::string::npos) << why;

    // One refused argument refuses the list, with its own reason.
    EXPECT_FALSE(qs::parseHostTargetList({"10.0.0.1", "224.0.0.1"}, rules, &why));
    EXPECT_NE(why.find("'224.0.0.1' is a multicast"), std::string::npos) << why;
    EXPECT_EQ(qs::parseHostTargetList({}, rules), std::vector<std::uint32_t>{});
}

// The kernel's neighbour messages: an IPv4 entry with its hardware address,
// one of another family, one cut short, then the end of the dump.
TEST(NeighbourMessages, EntriesAreReadAndCutOnesDropped) {
    const auto message = [](std::uint16_t type, std::uint8_t family, std::uint16_t state,
                            const std::vector<std::pair<std::uint16_t, Bytes>>& attributes) {
        Bytes body{family, 0, 0, 0};
        const std::int32_t ifindex = 2;
        body.insert(body.end(), reinterpret_cast<const std::uint8_t*>(&ifindex),
                    reinterpret_cast<const std::uint8_t*>(&ifindex) + 4);
        body.insert(body.end(), reinterpret_cast<const std::uint8_t*>(&state),
                    reinterpret_cast<const std::uint8_t*>(&state) + 2);
        body.insert(body.end(), {0, 0});
        for (const auto& [kind, payload] : attributes) {
            const std::uint16_t length = static_cast<std::uint16_t>(4 + payload.size());
            body.insert(body.end(), reinterpret_cast<const std::uint8_t*>(&length),
                        reinterpret_cast<const std::uint8_t*>(&length) + 2);
            body.insert(body.end(), reinterpret_cast<const std::uint8_t*>(&kind),
                        reinterpret_cast<const std::uint8_t*>(&kind) + 2);
            body.insert(body.end(), payload.begin(), payload.end());
            while (body.size() % 4) body.push_back(0);
        }
        Bytes out(16, 0);
        const std::uint32_t length = static_cast<std::uint32_t>(16 + body.size());
        std::memcpy(out.data(), &length, 4);
        std::memcpy(out.data() + 4, &type, 2);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    constexpr std::uint16_t kNewNeigh = 28, kDone = 3, kDst = 1, kLladdr = 2, kReachable = 2;
    Bytes all = message(kNewNeigh, 2, kReachable, {{kDst, {10, 0, 0, 7}}, {kLladdr, {2, 0, 0, 0, 0, 0x2a}}});
    // Another family is skipped, whatever its attributes look like.
    const Bytes v6 = message(kNewNeigh, 10, kReachable, {{kDst, {10, 0, 0, 9}}, {kLladdr, {2, 0, 0, 0, 0, 0x2c}}});
    all.insert(all.end(), v6.begin(), v6.end());
    Bytes cut = message(kNewNeigh, 2, kReachable, {{kDst, {10, 0, 0, 8}}, {kLladdr, {2, 0, 0, 0, 0, 0x2b}}});
    cut[20 + 8] = 200;  // the address attribute claims more than there is
    all.insert(all.end(), cut.begin(), cut.end());
    const Bytes done = message(kDone, 0, 0, {});
    all.insert(all.end(), done.begin(), done.end());

    const NeighbourMessages read = decodeNeighbourMessages(all);
    EXPECT_TRUE(read.done);
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries[0].address, 0x0A000007u);
    EXPECT_TRUE(read.entries[0].answered());
    EXPECT_EQ(formatHardwareAddress(*read.entries[0].hardware), "02:00:00:00:00:2a");
    // An error message whose code is no errno (the lowest int) is still an
    // error, read without overflow.
    Bytes error = message(2, 0, 0, {});
    const std::int32_t lowest = INT32_MIN;
    std::memcpy(error.data() + 16, &lowest, 4);
    EXPECT_TRUE(decodeNeighbourMessages(error).error.has_value());
    // A length past the end stops the reading without a fault.
    EXPECT_TRUE(decodeNeighbourMessages(ByteView(all.data(), 30)).entries.empty());
}
