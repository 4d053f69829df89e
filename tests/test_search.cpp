// Discovery over a scripted link: tally, ordering, de-duplication and the
// bounds that keep a search finite.
#include "quayside/device_library.h"
#include "support/fake_link.h"
#include "support/packets.h"

#include <gtest/gtest.h>
#include <linux/neighbour.h>
#include <set>

using namespace qs;
using namespace std::chrono_literals;
using qs::test::FakeLink;
using qs::test::onePortDevice;
using qs::test::reply;

namespace {
const Uuid8 kClient{9, 8, 7, 6, 5, 4, 3, 2};
Uuid8 server(unsigned n) {
    return Uuid8{0xA0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}
Bytes deviceReply(unsigned n, const std::string& model = "VSB-720K") {
    return reply(op_SEARCH, kClient, server(n), onePortDevice("box-" + std::to_string(n), model, "10.9.0." + std::to_string(n % 250)));
}

struct Lab {
    FakeLink* link;
    DeviceLibrary lib;
    explicit Lab(int interfaces) : link(new FakeLink(interfaces)), lib(std::unique_ptr<BlockingLink>(link), kClient) {}
};
}  // namespace

TEST(Search, NoDeviceCostsOneDrainPlus101EmptyWaitsWhateverTheInterfaces) {
    for (const int n : {1, 3, 8}) {
        Lab lab(n);
        EXPECT_TRUE(lab.lib.SearchDevices());
        EXPECT_EQ(lab.lib.devices.count(), 0u);
        EXPECT_EQ(lab.link->sent.size(), static_cast<std::size_t>(n));
        EXPECT_EQ(lab.lib.lastSearch().emptyWaits, static_cast<std::size_t>(n) * 101u);
        EXPECT_EQ(lab.link->elapsed(), 101 * 10ms) << n << " interfaces";
        for (const auto& [iface, req] : lab.link->sent) EXPECT_EQ(req, buildSearchRequest(kClient));
    }
    // One after another, as the comparison path does, each interface costs
    // its own drain and waits.
    Lab lab(3);
    lab.lib.searchTuning.oneAtATime = true;
    lab.lib.SearchDevices();
    EXPECT_EQ(lab.link->elapsed(), 3 * (101 * 10ms));
}

TEST(Search, EachInterfaceKeepsItsOwnTally) {
    // Interface 1 hears a new device every 8 ms for two seconds, so none of
    // its waits ends empty until then; interface 0 hears nothing and ends
    // after its own 101 empty waits.
    Lab lab(2);
    lab.link->onSend = [&](int i, const Bytes&) {
        if (i == 1)
            for (unsigned n = 0; n < 250; ++n) lab.link->queueAfter(1, n * 8ms, deviceReply(n));
    };
    // The last report of each interface is the one made as it ends.
    std::chrono::milliseconds ended[2]{};
    lab.lib.SearchDevices({}, [&](int i, const std::string&, std::size_t) { ended[i] = lab.link->elapsed(); });
    EXPECT_EQ(lab.lib.devices.count(), 250u);
    EXPECT_EQ(ended[0], 101 * 10ms);
    EXPECT_GE(ended[1], 1992ms + 101 * 10ms);
    EXPECT_LE(ended[1], 2000ms + 101 * 10ms);
}

TEST(Search, DevicesAreRecordedInOrderOfArrivalWithTheirInterface) {
    Lab lab(2);
    lab.link->onSend = [&](int i, const Bytes&) {
        if (i == 0) {
            lab.link->queue(0, deviceReply(2));
            lab.link->queue(0, deviceReply(1));
        } else {
            lab.link->queue(1, deviceReply(3, "VSB-790K"));
        }
    };
    lab.lib.SearchDevices();
    ASSERT_EQ(lab.lib.devices.count(), 3u);
    EXPECT_EQ(lab.lib.devices.at(0).serverUUID, server(2));
    EXPECT_EQ(lab.lib.devices.at(1).serverUUID, server(1));
    EXPECT_EQ(lab.lib.devices.at(2).serverUUID, server(3));
    EXPECT_EQ(lab.lib.devices.at(0).localIfIndex, 0);
    EXPECT_EQ(lab.lib.devices.at(2).localIfIndex, 1);
    EXPECT_EQ(lab.lib.devices.at(2).modelName.str(), "VSB-790K");
}

TEST(Search, DeviceHeardOnTwoInterfacesIsRecordedOnceWithTheFirst) {
    Lab lab(2);
    lab.link->onSend = [&](int i, const Bytes&) { lab.link->queue(i, deviceReply(5)); };
    lab.lib.SearchDevices();
    ASSERT_EQ(lab.lib.devices.count(), 1u);
    EXPECT_EQ(lab.lib.devices.at(0).localIfIndex, 0);
    EXPECT_EQ(lab.lib.lastSearch().duplicates, 1u);
}

TEST(Search, AnswersThatCannotBothBeRightAreRecordedTogetherAndMarked) {
    Lab lab(2);
    const auto answer = [](unsigned n, const char* ip) {
        return reply(op_SEARCH, kClient, server(n), onePortDevice("box", "VSB-720K", ip));
    };
    lab.link->onSend = [&](int i, const Bytes&) {
        lab.link->queueFrom(i, 0x0A090001, answer(1, "10.9.0.1"));
        if (i == 0) lab.link->queueFrom(0, 0x0A090063, answer(1, "10.9.0.99"));  // a host answering for box 1
        lab.link->queueFrom(i, 0x0A090002, answer(2, "10.9.0.2"));
        lab.link->queueFrom(i, 0x0A090003, answer(3, "10.9.0.2"));  // given box 2's address
        lab.link->queueFrom(i, 0x0A090004, answer(4, "10.9.0.4"));
    };
    lab.lib.SearchDevices();
    ASSERT_EQ(lab.lib.devices.count(), 5u);
    std::vector<bool> marked;
    for (std::size_t k = 0; k < 5; ++k) marked.push_back(lab.lib.devices.at(k).conflict);
    EXPECT_EQ(marked, (std::vector<bool>{true, true, true, false, true}));  // the second of box 1 last
    // The first answer stays the device's record for its operations.
    EXPECT_EQ(lab.lib.devices.FindDevice(server(1))->answeredFrom, Ipv4{0x0A090001u});
}

TEST(Search, AnAnswerToASearchByAddressCountsOnlyFromAnAddressAsked) {
    Lab lab(1);
    lab.link->onUnicast = [&](std::uint32_t to, const Bytes&) {
        lab.link->queueFrom(-1, to, deviceReply(1));
        lab.link->queueFrom(-1, 0x0A090063, deviceReply(2));  // sprayed from a host not asked
    };
    lab.lib.SearchDevices(SearchTargets{{0x0A090001}, false});
    ASSERT_EQ(lab.lib.devices.count(), 1u);
    EXPECT_EQ(lab.lib.devices.at(0).serverUUID, server(1));
    EXPECT_TRUE(lab.lib.devices.at(0).byAddress);
}

TEST(Search, RememberedAddressesAreAskedWithinTheGroupsListening) {
    // One remembered box answers at its address, the other is gone: the
    // search ends when the group's listening does, as it would without them.
    Lab lab(1);
    SearchTargets targets;
    targets.remembered = {0x0A090001, 0x0A090002};
    std::set<std::uint32_t> asked;
    lab.link->onUnicast = [&](std::uint32_t to, const Bytes&) {
        asked.insert(to);
        if (to == 0x0A090001) lab.link->queueFrom(-1, to, deviceReply(1));
    };
    // Its hardware address comes from the neighbour table, read once.
    int readings = 0;
    lab.lib.neighbourTable = [&] {
        ++readings;
        Neighbour n;
        n.address = 0x0A090001;
        n.state = NUD_REACHABLE;
        n.hardware = HardwareAddress{{0x02, 0, 0, 0, 0, 0x01}};
        return std::optional(std::vector<Neighbour>{n});
    };
    lab.lib.SearchDevices(targets);
    EXPECT_EQ(asked, (std::set<std::uint32_t>{0x0A090001, 0x0A090002}));
    ASSERT_EQ(lab.lib.devices.count(), 1u);
    EXPECT_TRUE(lab.lib.devices.at(0).byAddress);
    EXPECT_EQ(lab.lib.devices.at(0).hardware, (HardwareAddress{{0x02, 0, 0, 0, 0, 0x01}}));
    EXPECT_EQ(readings, 1);
    EXPECT_EQ(lab.link->elapsed(), 101 * 10ms);
}

TEST(Search, RegistryFollowsInterfaceOrderNotTimeOfArrival) {
    // Interface 1 hears everything first; the registry is still the one a
    // search of interface 0, then interface 1, gives.
    for (const bool oneAtATime : {false, true}) {
        Lab lab(2);
        lab.lib.searchTuning.oneAtATime = oneAtATime;
        lab.link->onSend = [&](int i, const Bytes&) {
            if (i == 0) {
                lab.link->queueAfter(0, 300ms, deviceReply(2));
                lab.link->queueAfter(0, 310ms, deviceReply(1));
            } else {
                lab.link->queueAfter(1, 5ms, deviceReply(1));
                lab.link->queueAfter(1, 6ms, deviceReply(3));
                lab.link->queueAfter(1, 7ms, deviceReply(2));
            }
        };
        lab.lib.SearchDevices();
        ASSERT_EQ(lab.lib.devices.count(), 3u);
        EXPECT_EQ(lab.lib.devices.at(0).serverUUID, server(2));
        EXPECT_EQ(lab.lib.devices.at(1).serverUUID, server(1));
        EXPECT_EQ(lab.lib.devices.at(2).serverUUID, server(3));
        EXPECT_EQ(lab.lib.devices.at(0).localIfIndex, 0);
        EXPECT_EQ(lab.lib.devices.at(1).localIfIndex, 0);
        EXPECT_EQ(lab.lib.devices.at(2).localIfIndex, 1);
        EXPECT_EQ(lab.lib.lastSearch().accepted, 3u);
        EXPECT_EQ(lab.lib.lastSearch().duplicates, 2u);
    }
}

TEST(Search, UnsupportedAndMalformedRepliesAreIgnored) {
    Lab lab(1);
    lab.link->onSend = [&](int, const Bytes& req) {
        Bytes wrongMagic = deviceReply(1);
        wrongMagic[0] = 0xAA;
        wrongMagic[1] = 0x55;
        Bytes foreign = reply(op_SEARCH, server(99), server(2), onePortDevice("x", "VSB-720K", "1.1.1.1"));
        Bytes badLen = deviceReply(3);
        badLen[42] = static_cast<std::uint8_t>(badLen[42] - 1);
        lab.link->queue(0, req);  // our own request, looped back
        lab.link->queue(0, wrongMagic);
        lab.link->queue(0, foreign);
        lab.link->queue(0, badLen);
        lab.link->queue(0, Bytes(20, 0x55));
        lab.link->queue(0, deviceReply(4, "VSB-100X"));
        lab.link->queue(0, deviceReply(5));
    };
    lab.lib.SearchDevices();
    ASSERT_EQ(lab.lib.devices.count(), 1u);
    EXPECT_EQ(lab.lib.devices.at(0).serverUUID, server(5));
    EXPECT_EQ(lab.lib.lastSearch().rejected, 5u);
    EXPECT_EQ(lab.lib.lastSearch().unsupported, 1u);
    // Only empty waits count toward the tally.
    EXPECT_EQ(lab.lib.lastSearch().emptyWaits, 101u);
}

TEST(Search, MoreThanAHundredDevicesAreAllRecorded) {
    // Counting new devices toward the tally would stop listening after about
    // a hundred of them and silently drop the rest.
    Lab lab(1);
    lab.link->onSend = [&](int, const Bytes&) {
        for (unsigned n = 0; n < 1000; ++n) lab.link->queue(0, deviceReply(n));
    };
    lab.lib.SearchDevices();
    EXPECT_EQ(lab.lib.devices.count(), 1000u);
    EXPECT_EQ(lab.lib.lastSearch().emptyWaits, 101u);
}

TEST(Search, AFloodOfDuplicatesCannotHoldTheSearchOpen) {
    Lab lab(2);
    lab.link->datagramTime = 1ms;
    lab.link->onEmpty = [&](int i) { lab.link->queue(i, deviceReply(1)); };
    lab.lib.SearchDevices();
    EXPECT_EQ(lab.lib.devices.count(), 1u);
    // A device heard again (as the repeats make every device be) leaves
    // the wait running: the search ends on its tally, as a quiet one does.
    EXPECT_EQ(lab.lib.lastSearch().boundHits, 0);
    EXPECT_LE(lab.link->elapsed(), 101 * 10ms + 10ms);
}

TEST(Search, AFloodOfJunkCannotHoldTheSearchOpen) {
    Lab lab(1);
    lab.link->datagramTime = 1ms;
    lab.link->onEmpty = [&](int i) { lab.link->queue(i, Bytes(44, 0)); };
    lab.lib.SearchDevices();
    EXPECT_EQ(lab.lib.lastSearch().boundHits, 1);
    EXPECT_GE(lab.link->elapsed(), lab.lib.searchTuning.listenBound);
}

TEST(Search, UnsupportedBoxesDoNotShortenTheWindow) {
    // Twenty unsupported boxes answer every sending; a supported one only
    // the last (700 ms in). It is found, and the search is as long as an
    // empty one.
    Lab lab(1);
    const auto unsupported = [&](int i) {
        for (unsigned n = 100; n < 120; ++n) lab.link->queue(i, deviceReply(n, "VSB-100X"));
    };
    lab.link->onSend = [&](int i, const Bytes&) { unsupported(i); };
    std::size_t sendings = 1;
    lab.link->onRepeat = [&](int i, const Bytes&) {
        unsupported(i);
        if (++sendings == 1 + lab.lib.searchTuning.repeatAfter.size()) lab.link->queue(i, deviceReply(1));
    };
    lab.lib.SearchDevices();
    ASSERT_EQ(lab.lib.devices.count(), 1u);
    EXPECT_EQ(lab.lib.lastSearch().unsupported, 160u);
    EXPECT_GE(lab.link->elapsed(), 101 * 10ms);
    EXPECT_LE(lab.link->elapsed(), 101 * 10ms + 20ms);
}

TEST(Search, AFloodOfUnsupportedAnswersEndsOnTheTally) {
    Lab lab(1);
    lab.link->onEmpty = [&](int i) { lab.link->queue(i, deviceReply(1, "VSB-100X")); };
    lab.lib.SearchDevices();
    EXPECT_EQ(lab.lib.devices.count(), 0u);
    EXPECT_EQ(lab.lib.lastSearch().boundHits, 0);
    EXPECT_LE(lab.link->elapsed(), 101 * 10ms + 10ms);
}

TEST(Search, EachSearchStartsFromAnEmptyRegistry) {
    Lab lab(1);
    lab.link->onSend = [&](int, const Bytes&) { lab.link->queue(0, deviceReply(1)); };
    lab.lib.SearchDevices();
    lab.link->onSend = nullptr;
    lab.lib.SearchDevices();
    EXPECT_EQ(lab.lib.devices.count(), 0u);
}

TEST(Search, ProgressReportsEveryInterface) {
    Lab lab(2);
    lab.link->onSend = [&](int i, const Bytes&) {
        if (i == 1) lab.link->queue(1, deviceReply(7));
    };
    std::vector<std::pair<int, std::size_t>> seen;
    lab.lib.SearchDevices({}, [&](int i, const std::string& addr, std::size_t found) {
        seen.emplace_back(i, found);
        EXPECT_EQ(addr, "10.0." + std::to_string(i) + ".1");
    });
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::size_t>>{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
}

TEST(Search, LostRequestIsMadeGoodByARepeatWithinTheWindow) {
    // Interface 0's first request is lost; each repeat is answered by the
    // same device, recorded once. The window is what it was.
    Lab lab(2);
    lab.link->onSend = [&](int i, const Bytes&) {
        if (i == 1) lab.link->queue(1, deviceReply(7));
    };
    lab.link->onRepeat = [&](int i, const Bytes&) {
        if (i == 0) lab.link->queue(0, deviceReply(6));
        if (i == 1) lab.link->queue(1, deviceReply(7));
    };
    lab.lib.SearchDevices();
    ASSERT_EQ(lab.lib.devices.count(), 2u);
    EXPECT_EQ(lab.lib.devices.at(0).serverUUID, server(6));
    EXPECT_EQ(lab.link->repeated.size(), 2 * lab.lib.searchTuning.repeatAfter.size());
    EXPECT_LE(lab.link->elapsed(), 101 * 10ms + 10ms);
}
