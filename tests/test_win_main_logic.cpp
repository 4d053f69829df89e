// quayside-win's main window as the controller runs it, with the window kept
// in memory and the simulated boxes answering over a scripted link: the
// first search, device clicks with the login answered, the LAN panel with
// its port switch and Apply.
#include "device.h"
#include "main_controller.h"
#include "quayside/address.h"
#include "quayside/library.h"
#include "support/fake_link.h"
#include "support/fake_main_view.h"

#include <gtest/gtest.h>

#include <map>

using namespace qs;
using namespace qs::win;
using qs::test::FakeLink;
using qs::win::test::FakeMainView;

namespace {

const Uuid8 kOffice{0, 0, 0, 0, 0, 0, 0, 0xa1};   // one port
const Uuid8 kArchive{0, 0, 0, 0, 0, 0, 0, 0xa2};  // two ports, answers on port 1
const Uuid8 kRender{0, 0, 0, 0, 0, 0, 0, 0xa3};   // two ports, bonded

sim::DeviceConfig box(const Uuid8& id, const char* host, const char* model, std::vector<sim::PortConfig> ports) {
    sim::DeviceConfig d;
    d.serverUUID = id;
    d.hostname = host;
    d.model = d.devModel = model;
    d.ports = std::move(ports);
    return d;
}

std::vector<sim::DeviceConfig> labDevices() {
    sim::DeviceConfig archive = box(kArchive, "archive", "VSB-760K",
                                    {{"192.168.77.30", "255.255.255.0", "192.168.77.1"},
                                     {"192.168.78.30", "255.255.0.0", "192.168.78.1", "0.0.0.0", "0.0.0.0", true}});
    archive.answerPort = archive.defaultGatewayPort = 1;
    sim::DeviceConfig render = box(kRender, "render", "VSB-790K",
                                   {{"192.168.77.40", "255.255.255.0", "192.168.77.1"}, {"192.168.77.41", "255.255.255.0"}});
    render.bondEnable = true;
    render.bondMode = 4;
    return {box(kOffice, "office", "VSB-720K", {{"192.168.77.20", "255.255.255.0"}}), archive, render};
}

class MainWindow : public ::testing::Test {
protected:
    FakeMainView view;
    MainController controller{view};
    FakeLink* link = nullptr;
    std::vector<sim::Device> boxes;
    bool silent = false;  // the boxes are gone
    std::map<std::uint16_t, int> heard;  // requests by opcode

    void SetUp() override {
        for (sim::DeviceConfig& d : labDevices()) boxes.emplace_back(std::move(d));
        auto fake = std::make_unique<FakeLink>(1);
        link = fake.get();
        link->onSend = link->onRepeat = [this](int, const Bytes& request) { hear(request, std::nullopt); };
        link->onUnicast = [this](std::uint32_t to, const Bytes& request) { hear(request, to); };
        controller.library().setLink(std::move(fake));
        // Nothing else on the link holds an address.
        controller.checkAddress = [](const DeviceData_n&, int, std::uint32_t) { return AddressChangeCheck{}; };
        view.addItem(Combo::Dhcp, "Disable");
        view.addItem(Combo::Dhcp, "Enable");
        view.loginAnswer = LoginCredentials{"admin", "admin"};
        controller.start();
    }
    void TearDown() override { controller.shutdown(); }

    // Each box hears what goes to the group and what is sent to one of its
    // addresses, and answers from its answering port's address.
    void hear(const Bytes& request, std::optional<std::uint32_t> to) {
        const auto h = readHeader(request);
        if (silent || !h || sim::checkRequest(request) != sim::RequestCheck::Request) return;
        ++heard[h->opcode];
        for (sim::Device& b : boxes) {
            if (to && !b.state().hasAddress(formatDottedIPv4(*to))) continue;
            const std::uint32_t from = *parseDottedIPv4(b.state().serverAddress());
            for (Bytes& d : b.answer(*h, request).datagrams) link->queueFrom(0, from, std::move(d));
        }
    }
    int rowOf(const Uuid8& id) {
        for (int r = 0; r < view.rowCount(List::Device); ++r)
            if (view.deviceId(r) == id) return r;
        return -1;
    }
    // A click on the row.
    void click(int row) {
        view.list(List::Device).selected = {row};
        controller.OnDeviceClick();
    }
    void choosePort(int index) {
        view.setCurrentIndex(Combo::Port, index);
        controller.OnInterfaceChange();
    }
    void chooseDhcp(int index) {
        view.setCurrentIndex(Combo::Dhcp, index);
        controller.OnDhcpChange();
    }
    void expectOnlyMessage(const std::string& text, Caption caption) {
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, text);
        EXPECT_EQ(view.messages[0].caption, caption);
    }
    const std::vector<std::string>& portItems() { return view.combo(Combo::Port).items; }
    std::string ip() { return view.addressText(AddressField::IP); }
};

}  // namespace

TEST_F(MainWindow, FirstSearchListsTheDevicesInRegistryOrder) {
    const DeviceRegistry& devices = controller.library().devices;
    ASSERT_EQ(view.rowCount(List::Device), 3);
    ASSERT_EQ(devices.count(), 3u);
    for (int r = 0; r < 3; ++r) {
        const DeviceData_n& d = devices.at(static_cast<std::size_t>(r));
        EXPECT_EQ(view.cellText(List::Device, r, 0), d.hostname.str());
        EXPECT_EQ(view.deviceId(r), d.serverUUID);
    }
    const int archive = rowOf(kArchive);
    EXPECT_EQ(view.cellText(List::Device, archive, 1), "192.168.78.30");  // the answering port's addresses
    EXPECT_EQ(view.cellText(List::Device, archive, 2), "255.255.0.0");
    EXPECT_EQ(controller.deviceSelected, 0);
    EXPECT_EQ(controller.loginCache.size(), 3u);
    EXPECT_FALSE(view.combo(Combo::Port).enabled);
}

TEST_F(MainWindow, OnePortDeviceFillsTheLanSection) {
    click(rowOf(kOffice));
    EXPECT_EQ(view.logins.size(), 1u);
    EXPECT_EQ(controller.deviceSelected, 1);
    EXPECT_EQ(controller.currentDeviceIP, "192.168.77.20");
    EXPECT_EQ(portItems(), std::vector<std::string>{"LAN"});
    EXPECT_FALSE(view.combo(Combo::Port).enabled);
    EXPECT_EQ(view.currentText(Combo::Dhcp), "Disable");
    EXPECT_TRUE(view.enabled(AddressField::IP));
    EXPECT_EQ(ip(), "192.168.77.20");
    EXPECT_EQ(view.addressText(AddressField::Netmask), "255.255.255.0");
    EXPECT_TRUE(view.address(AddressField::Gateway).blank);  // 0.0.0.0 stays blank
    EXPECT_EQ(controller.currentBox(), kOffice);
    EXPECT_EQ(controller.library().shares.count(), 0u);
}

TEST_F(MainWindow, TwoPortDeviceAnsweringOnPortOneSelectsItsPort) {
    click(rowOf(kArchive));
    EXPECT_EQ(portItems(), (std::vector<std::string>{"LAN1", "LAN2"}));
    EXPECT_TRUE(view.combo(Combo::Port).enabled);
    EXPECT_EQ(view.currentIndex(Combo::Port), 1);
    EXPECT_EQ(controller.selectedPortIndex, 1);
    EXPECT_EQ(ip(), "192.168.78.30");
    EXPECT_EQ(view.currentText(Combo::Dhcp), "Enable");  // port 1 takes DHCP
    EXPECT_FALSE(view.enabled(AddressField::IP));
    EXPECT_EQ(view.addressText(AddressField::Gateway), "192.168.78.1");
}

TEST_F(MainWindow, BondedDeviceShowsOneLabelAndAnEmptyItem) {
    click(rowOf(kRender));
    EXPECT_EQ(portItems(), (std::vector<std::string>{"LAN1+LAN2", ""}));
    EXPECT_EQ(view.currentIndex(Combo::Port), 0);
}

TEST_F(MainWindow, SecondClickAsksNothingUntilRefresh) {
    click(rowOf(kOffice));
    click(rowOf(kArchive));
    click(rowOf(kOffice));
    EXPECT_EQ(view.logins.size(), 2u);
    EXPECT_EQ(ip(), "192.168.77.20");
    controller.OnRefresh();
    EXPECT_EQ(controller.deviceSelected, 0);
    click(rowOf(kOffice));
    EXPECT_EQ(view.logins.size(), 3u);
}

TEST_F(MainWindow, WrongPasswordShowsOneMessageAfterTwoChecks) {
    view.loginAnswer = LoginCredentials{"admin", "wrong"};
    click(rowOf(kOffice));
    expectOnlyMessage("Wrong administrator password input!", Caption::Error);
    EXPECT_EQ(heard[op_CHK_PASSWD], 2);
    EXPECT_TRUE(portItems().empty());
    EXPECT_TRUE(view.address(AddressField::IP).blank);
    EXPECT_FALSE(controller.loginCache.isAccepted(MakeDeviceKey(kOffice)));
}

TEST_F(MainWindow, CancelLeavesTheLanSectionEmpty) {
    view.loginAnswer.reset();
    click(rowOf(kArchive));
    EXPECT_EQ(view.logins.size(), 1u);
    EXPECT_TRUE(portItems().empty());
    EXPECT_TRUE(view.address(AddressField::IP).blank);
    EXPECT_EQ(controller.deviceSelected, 1);
    EXPECT_TRUE(view.messages.empty());
}

// ---- LAN panel --------------------------------------------------------

TEST_F(MainWindow, ApplyBeforeAnyClickAsksForADevice) {
    controller.OnApply();
    expectOnlyMessage("Please select a device in the above section.", Caption::Error);
    EXPECT_EQ(controller.loginPurpose, LoginPurpose::Configuration);
}

TEST_F(MainWindow, SwitchingPortsKeepsTheEdits) {
    click(rowOf(kArchive));
    ASSERT_EQ(view.currentIndex(Combo::Port), 1);  // LAN2 shown first
    chooseDhcp(0);
    view.setAddress(AddressField::IP, "192.168.78.99");
    choosePort(0);
    EXPECT_EQ(ip(), "192.168.77.30");  // LAN1 as the device has it
    view.setAddress(AddressField::IP, "192.168.77.88");
    choosePort(1);
    EXPECT_EQ(ip(), "192.168.78.99");
    EXPECT_EQ(view.currentText(Combo::Dhcp), "Disable");
    choosePort(0);
    EXPECT_EQ(ip(), "192.168.77.88");
}

TEST_F(MainWindow, DhcpEnableGreysTheFieldsAtOnce) {
    click(rowOf(kOffice));
    ASSERT_TRUE(view.enabled(AddressField::IP));
    chooseDhcp(1);
    EXPECT_FALSE(view.enabled(AddressField::IP));
    EXPECT_FALSE(view.enabled(AddressField::Netmask));
    EXPECT_FALSE(view.enabled(AddressField::Gateway));
}

TEST_F(MainWindow, StaticApplyOnTheSecondPortThenSearchesAgain) {
    click(rowOf(kArchive));
    chooseDhcp(0);
    view.setAddress(AddressField::IP, "192.168.78.77");
    view.setAddress(AddressField::Netmask, "255.255.255.0");
    view.setAddress(AddressField::Gateway, "192.168.78.1");
    // Another host holds the address: asked first, and Cancel sends nothing.
    const std::string inUse = "192.168.78.77 is already in use on the network (by 02:00:00:00:00:09).";
    controller.checkAddress = [&](const DeviceData_n&, int port, std::uint32_t address) {
        EXPECT_EQ(port, 1);
        EXPECT_EQ(address, *parseDottedIPv4("192.168.78.77"));
        return AddressChangeCheck{AddressChangeCheck::Verdict::InUse, inUse};
    };
    controller.OnApply();
    expectOnlyMessage(inUse + "\nChange it anyway?", Caption::Warning);
    EXPECT_EQ(controller.deviceSelected, 1);  // no search followed
    controller.OnRefresh();
    EXPECT_EQ(view.cellText(List::Device, rowOf(kArchive), 1), "192.168.78.30") << "the box kept its address";
    click(rowOf(kArchive));
    chooseDhcp(0);
    view.setAddress(AddressField::IP, "192.168.78.77");
    // OK: it goes.
    view.messages.clear();
    view.confirmAnswer = true;
    controller.OnApply();
    EXPECT_EQ(view.messages.size(), 1u) << "the question only: the box answers where it was sent";
    EXPECT_EQ(controller.loginPurpose, LoginPurpose::Configuration);
    // The search after Apply shows the device as it now answers.
    EXPECT_EQ(controller.deviceSelected, 0);
    const int row = rowOf(kArchive);
    ASSERT_GE(row, 0);
    EXPECT_EQ(view.cellText(List::Device, row, 1), "192.168.78.77");
    // The second port took it (it had DHCP on).
    EXPECT_FALSE(controller.library().devices.FindDevice(kArchive)->port[1].dhcpEnable);
}

// A DHCP Apply sends the address texts the panel shows for its own box,
// whatever an earlier static Apply to another box sent.
TEST_F(MainWindow, DhcpApplySendsThePanelsAddressesNotAnEarlierApplys) {
    click(rowOf(kRender));
    view.setAddress(AddressField::IP, "192.168.77.88");
    controller.OnApply();
    ASSERT_TRUE(view.messages.empty()) << view.messages[0].text;
    ASSERT_EQ(view.cellText(List::Device, rowOf(kRender), 1), "192.168.77.88");

    click(rowOf(kArchive));
    choosePort(0);  // LAN1: 192.168.77.30, static
    ASSERT_EQ(ip(), "192.168.77.30");
    view.setCurrentIndex(Combo::Dhcp, 1);
    controller.OnApply();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "DHCP client enabled.");
    const DeviceData_n* archive = controller.library().devices.FindDevice(kArchive);
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->port[0].dhcpEnable);
    EXPECT_EQ(archive->port[0].IP.str(), "192.168.77.30");
}

TEST_F(MainWindow, InvalidStaticSettingsAreNotSent) {
    click(rowOf(kOffice));
    view.setAddress(AddressField::IP, "127.0.0.9");
    controller.OnApply();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "IP address input error. Please try again.");
    EXPECT_EQ(controller.deviceSelected, 1);  // no search followed
}

TEST_F(MainWindow, DhcpApplyConfirmsOrReportsFailure) {
    click(rowOf(kOffice));
    view.setCurrentIndex(Combo::Dhcp, 1);
    controller.OnApply();
    expectOnlyMessage("DHCP client enabled.", Caption::Confirm);
    EXPECT_TRUE(controller.library().devices.FindDevice(kOffice)->port[0].dhcpEnable);

    // The device goes away: the request is not acknowledged.
    click(rowOf(kOffice));  // asks again: Apply searched, which empties the cache
    silent = true;
    view.messages.clear();
    view.setCurrentIndex(Combo::Dhcp, 1);
    controller.OnApply();
    expectOnlyMessage("Set to dhcp client fail.", Caption::Error);
    EXPECT_EQ(controller.deviceSelected, 1);  // no search followed
}
