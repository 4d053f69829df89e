// quayside-win's main controller on its own, without Qt: the window kept in
// memory (support/fake_main_view.h) and the connections too
// (support/fake_net_connections.h). The drive-letter combo as the user
// left it when the remembered letters come back late, names longer than
// the buffer, and letters taken since the combo was filled.
#include "main_controller.h"
#include "quayside/address.h"
#include "quayside/library.h"
#include "support/fake_main_view.h"
#include "support/fake_link.h"
#include "support/fake_net_connections.h"
#include "support/packets.h"

#include <gtest/gtest.h>

#include <thread>

using namespace qs;
using namespace qs::win;
using qs::win::test::FakeMainView;

namespace {

const Uuid8 kDevice{0x00, 0x1B, 0x7E, 0x01, 0x02, 0x03, 0x04, 0x05};
const char* kDeviceIP = "192.168.0.20";

class Controller : public ::testing::Test {
protected:
    FakeMainView view;
    MainController controller{view};
    FakeNetConnections* net = nullptr;

    void SetUp() override {
        // No sockets: a search finds nothing at once.
        auto fake = std::make_unique<FakeNetConnections>();
        net = fake.get();
        controller.net = std::move(fake);
        controller.versionQuery = systemVersionQuery();  // names no Windows version
        net->setDriveType('C', DRIVE_FIXED);
        net->setDriveType('D', DRIVE_CDROM);
        net->connect('Y', "\\\\10.0.0.5\\Volume_1");
    }
    void TearDown() override {
        controller.shutdown();
    }

    // Start-up, then one device with one volume, both selected.
    void start() {
        controller.start();
        view.insertRow(List::Device, 0, "nas1");
        view.setCellText(List::Device, 0, 1, kDeviceIP);
        view.setDeviceId(0, kDevice);
        view.list(List::Device).selected = {0};
        controller.library().shares.add("Volume_1");
        controller.FillVolumeList("nas1", kDeviceIP, false);
        view.list(List::Volume).selected = {0};
    }
    std::vector<std::string> lettersOf(const std::string& function) const {
        std::vector<std::string> out;
        for (const auto& c : net->callsOf(function)) out.push_back(c.localName);
        return out;
    }
};

}  // namespace

// A device's row says its hardware address in its tooltip, when the
// neighbour table knows the address it answered from.
TEST_F(Controller, DeviceRowsTooltipShowsTheHardwareAddressWhenKnown) {
    auto link = std::make_unique<qs::test::FakeLink>(1);
    auto* fake = link.get();
    const Uuid8 client = controller.library().clientUUID();
    fake->onSend = [&](int, const Bytes&) {
        fake->queueFrom(0, 0x0A000014, qs::test::reply(op_SEARCH, client, kDevice,
                                                       qs::test::onePortDevice("nas1", "VSB-720K", "10.0.0.20")));
        fake->queueFrom(0, 0x0A000015, qs::test::reply(op_SEARCH, client, Uuid8{1, 2, 3, 4, 5, 6, 7, 8},
                                                       qs::test::onePortDevice("nas2", "VSB-720K", "10.0.0.21")));
    };
    controller.library().setLink(std::move(link));
    controller.library().neighbourTable = [] {
        Neighbour n;
        n.address = 0x0A000014;
        n.state = 0x02;  // reachable
        n.hardware = HardwareAddress{{0x02, 0, 0, 0, 0, 0x14}};
        return std::optional(std::vector<Neighbour>{n});
    };
    controller.start();
    controller.library().neighbourTable = nullptr;
    ASSERT_EQ(view.rowCount(List::Device), 2);
    EXPECT_EQ(view.deviceToolTips, (std::map<int, std::string>{{0, "Hardware address: 02:00:00:00:00:14"}}));
}

// The user picks a letter in use while the remembered letters are still
// coming back; when they are back the combo is filled again, and the
// letter stays chosen: Connect asks before it replaces its connection.
TEST_F(Controller, LetterInUseChosenBeforeTheRestoreEndsStaysChosenAndIsAskedAbout) {
    start();
    ASSERT_TRUE(net->restored);
    ASSERT_TRUE(view.selectItem(Combo::DriveLetter, "Y:"));
    net->connect('W', "\\\\192.168.0.20\\Volume_2");
    std::thread([this] { net->restored(); }).join();
    ASSERT_EQ(view.posted.size(), 1u);  // nothing from the worker's thread itself
    view.runPosted();
    EXPECT_EQ(view.currentText(Combo::DriveLetter), "Y: \\\\10.0.0.5\\Volume_1");
    EXPECT_EQ(controller.SelectedDriveLetter(), "Y:");
    EXPECT_EQ(controller.DriveTable[3].share, "Volume_2");

    view.letterAnswers = {MountAnswer::UseLetter};
    controller.OnConnect();
    EXPECT_EQ(view.letterQuestions, 1);
    EXPECT_EQ(lettersOf("cancel"), std::vector<std::string>{"Y:"});
    ASSERT_FALSE(net->callsOf("add").empty());
    EXPECT_EQ(net->callsOf("add")[0].localName, "Y:");
    EXPECT_EQ(net->connections['Y' - 'A'], "\\\\192.168.0.20\\Volume_1");
}

// A remote name longer than the 256-character buffer still holds its
// letter: it shows in use, the recycle bin does not take it, and Connect
// on it asks first (Cancel leaves it alone).
TEST_F(Controller, RemoteNameLongerThanTheBufferKeepsItsLetterInUse) {
    const std::string longName = "\\\\10.0.0.5\\" + std::string(250, 'v');
    net->connect('X', longName);
    start();
    EXPECT_EQ(view.combo(Combo::DriveLetter).items.at(2), "X: " + longName);
    EXPECT_EQ(controller.DriveTable[2].share, std::string(250, 'v'));
    EXPECT_EQ(view.currentText(Combo::DriveLetter), "Z:");
    EXPECT_EQ(controller.FindSpareDriveLetter("Z:"), "W:");

    ASSERT_TRUE(view.selectItem(Combo::DriveLetter, "X:"));
    controller.OnConnect();
    EXPECT_EQ(view.letterQuestions, 1);
    EXPECT_TRUE(net->callsOf("cancel").empty());
    EXPECT_TRUE(net->callsOf("add").empty());
    EXPECT_EQ(net->connections['X' - 'A'], longName);
}

// Another program maps the letter the combo still offers as free: Connect
// reads the letter again and asks before it replaces that connection.
TEST_F(Controller, LetterTakenSinceTheComboWasFilledIsAskedAbout) {
    start();
    ASSERT_EQ(controller.SelectedDriveLetter(), "Z:");
    net->connect('Z', "\\\\10.0.0.7\\Media");
    controller.OnConnect();
    EXPECT_EQ(view.letterQuestions, 1);
    EXPECT_TRUE(net->callsOf("cancel").empty());
    EXPECT_EQ(net->connections['Z' - 'A'], "\\\\10.0.0.7\\Media");
}

// After a change the box accepted, a box that is not heard again (searched
// for until the time is up) is said to be restarting; one that answers
// where it was sent is not mentioned.
TEST_F(Controller, ABoxNotHeardAfterItsChangeIsSaidToBeRestarting) {
    start();
    controller.followUpLimit = std::chrono::milliseconds(50);
    const SearchTargets before = controller.searchTargets;
    controller.FollowMovedDevice(kDevice, "nas1", parseDottedIPv4("192.168.0.30"));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "nas1 did not answer within 10 s; it may still be restarting.");
    EXPECT_EQ(view.messages[0].caption, Caption::Warning);
    EXPECT_EQ(controller.searchTargets.hosts, before.hosts) << "the new address is asked only meanwhile";
}

namespace {

// The static-address rules of the LAN panel in their order: each input
// against the message it gives, or the texts a static Apply sends.
struct Case {
    const char* ip;
    const char* mask;
    const char* gateway;  // "" = blank field
    const char* message;  // nullptr = passes
    const char* caption;
    MessageIcon icon;
    const char* sentGateway;
};

const char* kNotFirst = "Invalid IP address in 1st digit. It should be 1-223.";
const char* kGatewayFirst = "Invalid gateway IP address in 1st digit. It should be 1-223.";
const char* kMask = "Netmask address input invalid. Please try again.";
const char* kConfig = "You enter incorrect TCP/IP configuration. Please try again.";

const Case kCases[] = {
    {"", "255.255.255.0", "", "Please input IP address!", "Warning", MessageIcon::Warning, nullptr},
    {"192.168.0.20", "", "", "Please input net mask address!", "Warning", MessageIcon::Warning, nullptr},
    {"127.0.0.1", "255.0.0.0", "", "IP address input error. Please try again.", "Warning", MessageIcon::Warning, nullptr},
    {"0.1.2.3", "255.0.0.0", "", kNotFirst, "Error", MessageIcon::Information, nullptr},
    {"224.0.0.1", "255.0.0.0", "", kNotFirst, "Error", MessageIcon::Information, nullptr},
    {"169.254.10.20", "255.255.0.0", "", nullptr, nullptr, MessageIcon::Error, ""},
    {"169.254.10.20", "255.255.0.0", "0.1.1.1", nullptr, nullptr, MessageIcon::Error, "0.1.1.1"},
    {"192.168.0.20", "255.255.255.0", "", kConfig, "Error", MessageIcon::Error, nullptr},
    {"192.168.0.20", "255.255.255.0", "192.168.0.0", kConfig, "Error", MessageIcon::Error, nullptr},
    {"192.168.0.20", "255.255.255.0", "192.168.0.255", kConfig, "Error", MessageIcon::Error, nullptr},
    {"192.168.0.20", "255.255.255.0", "192.168.1.1", kConfig, "Error", MessageIcon::Error, nullptr},
    {"192.168.0.20", "255.255.255.0", "192.168.0.1", nullptr, nullptr, MessageIcon::Error, "192.168.0.1"},
    {"192.168.0.20", "255.0.255.0", "192.168.0.1", kMask, "Error", MessageIcon::Error, nullptr},
    {"192.168.0.20", "0.0.0.0", "192.168.0.1", kMask, "Error", MessageIcon::Error, nullptr},
    {"192.168.0.130", "255.255.255.128", "192.168.0.129", nullptr, nullptr, MessageIcon::Error, "192.168.0.129"},
    {"192.168.0.20", "255.255.255.255", "192.168.0.20", kConfig, "Error", MessageIcon::Error, nullptr},
    {"192.168.0.20", "255.255.255.0", "0.0.0.1", kGatewayFirst, "Error", MessageIcon::Information, nullptr},
    {"192.168.0.20", "255.255.255.0", "224.1.1.1", kGatewayFirst, "Error", MessageIcon::Information, nullptr},
    {"10.1.2.3", "255.0.0.0", "10.0.0.1", nullptr, nullptr, MessageIcon::Error, "10.0.0.1"},
};

}  // namespace

TEST(ValidateTcpIp, EachRuleGivesItsMessageInOrder) {
    FakeMainView view;
    MainController controller{view};
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.ip) + " / " + c.mask + " / " + c.gateway);
        view.messages.clear();
        view.setAddress(AddressField::IP, c.ip);
        view.setAddress(AddressField::Netmask, c.mask);
        view.setAddress(AddressField::Gateway, c.gateway);
        const std::optional<LanSettings> sent = controller.ValidateTcpIp();
        if (!c.message) {
            ASSERT_TRUE(sent);
            EXPECT_TRUE(view.messages.empty());
            EXPECT_EQ(textOf(sent->address), c.ip);
            EXPECT_EQ(textOf(sent->netmask), c.mask);
            EXPECT_EQ(textOf(sent->gateway), c.sentGateway);
        } else {
            EXPECT_FALSE(sent);
            ASSERT_EQ(view.messages.size(), 1u);
            EXPECT_EQ(view.messages[0].text, c.message);
            EXPECT_STREQ(captionText(view.messages[0].caption), c.caption);
            EXPECT_EQ(view.messages[0].icon, c.icon);
        }
    }
}
