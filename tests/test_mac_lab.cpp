// quayside-mac's controller against the simulator in the loopback lab, on
// an in-memory toolkit: the first search, a click with its login sheet and
// volume list, refused passwords, and static and DHCP settings applied and
// searched again.
#include "main_controller.h"
#include "support/fake_toolkit.h"
#include "support/lab.h"

#include <gtest/gtest.h>

using namespace qs;
using namespace qs::mac;
using namespace qs::test;
using namespace std::chrono_literals;

namespace {

std::vector<json> labDevices() {
    json office = simDevice("00000000000000b1", "office", "VSB-720K", "192.168.77.20");
    office["shares"] = "Public:Media*5:Vault*6";
    json archive = simDevice("00000000000000b2", "archive", "VSB-760K", "192.168.77.30");
    archive["ports"].push_back(
        json{{"IP", "192.168.78.30"}, {"netmask", "255.255.0.0"}, {"gateway", "192.168.78.1"}, {"dhcp", true}});
    // A bonded device that reports its bond as one port.
    json render = simDevice("00000000000000b3", "render", "VSB-790K", "192.168.77.40");
    render["bonding"] = json{{"enable", true}, {"mode", 1}};
    json legacy = simDevice("00000000000000b4", "legacy", "VSB-100X", "192.168.77.50");
    return {office, archive, render, legacy};
}

class MacLab : public ::testing::Test {
protected:
    Child sim;
    PollRunLoop loop;
    FakeToolkit toolkit;
    std::unique_ptr<MainController> ctl;

    void SetUp() override {
        ASSERT_TRUE(sim.start({simBin(), "--config", tempFile(simConfig(labDevices())), "--loopback", "--verbose"}));
        ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
        MainController::Options options;
        options.packager.net.loopbackLab = true;
        ctl = std::make_unique<MainController>(loop, toolkit, std::move(options));
        ctl->awakeFromNib();
        ASSERT_TRUE(ctl->packager().ok());
        ASSERT_TRUE(until([&] { return rows() == 3; })) << "devices listed: " << rows();
    }

    bool until(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        const auto end = PollRunLoop::Clock::now() + limit;
        while (!done()) {
            if (PollRunLoop::Clock::now() >= end) return false;
            loop.runOnce(10ms);
        }
        return true;
    }
    int rows() { return ctl->deviceCtl().numberOfRowsInTableView(); }
    int row(const std::string& host) {
        for (int r = 0; r < rows(); ++r)
            if (ctl->deviceCtl().objectValue("ColumnName", r) == host) return r;
        return -1;
    }
    // Clicks a device and answers the login sheet that follows.
    void login(const std::string& host, const std::string& password) {
        toolkit.selected[0] = row(host);
        ctl->tblDeviceChanged();
        ASSERT_TRUE(until([&] { return toolkit.sheetOpen; }, 2s));
        toolkit.setStringValue(Field::Password, password);
        ctl->btnOKPressed();
    }
    std::vector<std::string> volumes() {
        std::vector<std::string> out;
        for (int r = 0; r < ctl->volumeCtl().numberOfRowsInTableView(); ++r)
            out.push_back(ctl->volumeCtl().objectValue("ColumnVolumeName", r));
        return out;
    }
};

TEST_F(MacLab, FirstSearchListsTheSupportedDevicesByName) {
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnName", 0), "archive");
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnName", 1), "office");
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnName", 2), "render");
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnIP", 1), "192.168.77.20");
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnNetmask", 1), "255.255.255.0");
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnGateway", 1), "192.168.77.1");
    EXPECT_GE(toolkit.reloads[0], 1);
}

TEST_F(MacLab, RightPasswordListsTheVolumesAndLockedOnesRefuse) {
    login("office", "admin");
    ASSERT_TRUE(until([&] { return volumes().size() == 3; })) << sim.errors();
    EXPECT_EQ(volumes(), (std::vector<std::string>{"Public", "Media", "Vault"}));
    EXPECT_TRUE(toolkit.alerts.empty());
    EXPECT_NE(sim.errors().find("older-format query item 20"), std::string::npos);
    toolkit.selected[1] = 2;
    ctl->tblVolumeChanged();
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Vault is Locked."});
    EXPECT_FALSE(toolkit.buttons[Button::Connect]);
}

TEST_F(MacLab, WrongPasswordAlertsAndLeavesTheFieldsEditable) {
    login("archive", "nope");
    ASSERT_TRUE(until([&] { return !toolkit.alerts.empty(); }));
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Wrong administrator password input!"});
    EXPECT_TRUE(toolkit.fields[Field::IP].editable);
    EXPECT_TRUE(toolkit.buttons[Button::Apply]);
    EXPECT_TRUE(volumes().empty());
    EXPECT_EQ(ctl->pendingAction(), Action::ListVolumes);
}

TEST_F(MacLab, BondedDeviceShowsTheBondingNames) {
    login("render", "admin");
    ctl->btnCancelPressed();
    EXPECT_EQ(toolkit.combos[Combo::Interface].items.size(), 7u);
    EXPECT_EQ(toolkit.selectedText(Combo::Interface), "LAN1+LAN2 Active Backup");
    EXPECT_FALSE(toolkit.combos[Combo::Interface].enabled);
}

TEST_F(MacLab, StaticApplyChangesTheSecondPortAndSearchesAgain) {
    login("archive", "admin");
    ASSERT_TRUE(until([&] { return toolkit.buttons[Button::Apply]; })) << "Apply again once logged in";
    toolkit.selectItem(Combo::Interface, 1);
    ctl->cmbInterfaceChanged();
    EXPECT_EQ(toolkit.combos[Combo::DHCP].selected, 0) << "the second port uses DHCP";
    toolkit.selectItem(Combo::DHCP, 1);
    ctl->cmbDHCPChanged();
    toolkit.setStringValue(Field::IP, "10.9.0.30");
    toolkit.setStringValue(Field::Netmask, "255.255.0.0");
    toolkit.setStringValue(Field::Gateway, "10.9.0.1");
    ctl->btnApplyPressed();
    ASSERT_TRUE(toolkit.alerts.empty()) << toolkit.alerts.front();
    ASSERT_TRUE(toolkit.sheetOpen);
    toolkit.setStringValue(Field::Password, "admin");
    ctl->btnOKPressed();
    ASSERT_TRUE(until([&] { return ctl->pendingAction() == Action::None; })) << sim.errors();
    EXPECT_EQ(toolkit.sleeps.back(), 2000ms);
    ASSERT_TRUE(until([&] { return rows() == 3; }));
    toolkit.selected[0] = row("archive");
    ctl->tblDeviceChanged();
    ASSERT_TRUE(until([&] { return toolkit.sheetOpen; }));
    const auto rec = ctl->tmpDeviceData();
    EXPECT_EQ(rec->port[1].IP.str(), "10.9.0.30");
    EXPECT_EQ(rec->port[1].gateway.str(), "10.9.0.1");
    EXPECT_FALSE(rec->port[1].dhcpEnable);
    EXPECT_EQ(rec->port[0].IP.str(), "192.168.77.30");
}

TEST_F(MacLab, StaticApplyOnABondChangesTheBond) {
    login("render", "admin");
    ASSERT_TRUE(until([&] { return toolkit.buttons[Button::Apply]; }));
    toolkit.selectItem(Combo::DHCP, 1);
    toolkit.setStringValue(Field::IP, "192.168.77.41");
    toolkit.setStringValue(Field::Netmask, "255.255.255.0");
    toolkit.setStringValue(Field::Gateway, "192.168.77.1");
    ctl->btnApplyPressed();
    ASSERT_TRUE(toolkit.sheetOpen);
    toolkit.setStringValue(Field::Password, "admin");
    ctl->btnOKPressed();
    ASSERT_TRUE(until([&] { return ctl->pendingAction() == Action::None; })) << sim.errors();
    EXPECT_TRUE(toolkit.alerts.empty()) << toolkit.alerts.front();
    ASSERT_TRUE(until([&] { return rows() == 3; }));
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnIP", row("render")), "192.168.77.41");
}

TEST_F(MacLab, DhcpApplyWaitsThreeSecondsAndTheDeviceReportsDhcp) {
    login("office", "admin");
    ASSERT_TRUE(until([&] { return volumes().size() == 3; }));
    toolkit.selectItem(Combo::DHCP, 0);
    ctl->cmbDHCPChanged();
    ctl->btnApplyPressed();
    ASSERT_TRUE(toolkit.sheetOpen);
    toolkit.setStringValue(Field::Password, "admin");
    ctl->btnOKPressed();
    ASSERT_TRUE(until([&] { return ctl->pendingAction() == Action::None; })) << sim.errors();
    EXPECT_EQ(toolkit.sleeps.back(), 3000ms);
    EXPECT_TRUE(volumes().empty());
    ASSERT_TRUE(until([&] { return rows() == 3; }));
    const auto& devices = ctl->packager().serverArray();
    const auto office = std::find_if(devices.begin(), devices.end(), [](auto& d) { return d->hostname == "office"; });
    ASSERT_NE(office, devices.end());
    EXPECT_TRUE((*office)->port[0].dhcpEnable);
}

}  // namespace
