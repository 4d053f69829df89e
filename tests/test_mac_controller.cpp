// quayside-mac's controller on an in-memory toolkit: the device click and
// its delayed login sheet, showing a record, the address mode and port
// choices, Apply, the sheet's buttons and the alerts. Datagrams go to a
// recorder here; the flows against the simulator are in the lab tests.
#include "main_controller.h"
#include "quayside/address.h"
#include "support/fake_toolkit.h"
#include "support/packets.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>

using namespace qs;
using namespace qs::mac;
using namespace qs::test;
using namespace std::chrono_literals;

namespace {

std::shared_ptr<DeviceData_n> device(std::uint8_t id, const std::string& host, const std::string& ip) {
    auto d = std::make_shared<DeviceData_n>();
    d->serverUUID = Uuid8{0, 0, 0, 0, 0, 0, 0, id};
    d->hostname = host;
    d->modelName = "VSB-720K";
    d->ifCount = 1;
    d->port[0].IP = ip;
    d->port[0].netmask = "255.255.255.0";
    d->port[0].gateway = "192.168.77.1";
    d->answeredFrom = Ipv4::parse(ip);
    return d;
}

class Controller : public ::testing::Test {
protected:
    PollRunLoop loop;
    FakeToolkit toolkit;
    std::vector<Bytes> sent;
    std::vector<std::pair<std::uint32_t, Bytes>> sentTo;  // those of `sent` that went by unicast
    AddressChangeCheck addressCheck;                      // what the link says of a new address
    std::unique_ptr<MainController> ctl;

    void SetUp() override {
        MainController::Options options;
        options.packager.sendOverride = [this](ByteView d) { sent.emplace_back(d.begin(), d.end()); };
        options.packager.sendToOverride = [this](std::uint32_t to, ByteView d) {
            sent.emplace_back(d.begin(), d.end());
            sentTo.emplace_back(to, Bytes(d.begin(), d.end()));
        };
        options.checkAddress = [this](const DeviceData_n&, int, std::uint32_t) { return addressCheck; };
        options.packager.clientUUID = Uuid8{1, 2, 3, 4, 5, 6, 7, 8};
        options.packager.giveUpAfter = 400ms;
        ctl = std::make_unique<MainController>(loop, toolkit, std::move(options));
        ctl->awakeFromNib();
    }

    // Devices as a search would have listed them (sorted by host name).
    void addDevices() {
        auto two = device(2, "beta", "192.168.77.30");
        two->ifCount = 2;
        two->nSendIF = 1;
        two->port[1].IP = "10.1.0.30";
        two->port[1].netmask = "255.255.0.0";
        two->port[1].gateway = "10.1.0.1";
        two->port[1].dhcpEnable = true;
        auto bonded = device(3, "gamma", "192.168.77.40");
        bonded->ifCount = 1;
        bonded->bondingEnable = 1;
        bonded->bondingMode = 4;
        for (auto d : {device(1, "alpha", "192.168.77.20"), two, bonded})
            ASSERT_TRUE(ctl->packager().registry.addDataInfo(d));
    }

    std::uint16_t opcodeOf(const Bytes& d) const { return d.size() >= kHeaderSize ? readHeader(d)->opcode : 0; }
    // A device's answer (header only) to a request of this controller, from
    // the address the device is listed with.
    void answer(std::uint16_t opcode, std::uint8_t device, std::uint16_t ret, const ItemList& items = {}) {
        const Uuid8 server{0, 0, 0, 0, 0, 0, 0, device};
        const Bytes datagram = reply(opcode, Uuid8{1, 2, 3, 4, 5, 6, 7, 8}, server, items, ret);
        sockaddr_storage from{};
        sockaddr_in sin = socketAddressOf(Ipv4{}, 0);
        for (const auto& d : ctl->packager().serverArray())
            if (d->serverUUID == server) sin = socketAddressOf(d->answeredFrom.value_or(Ipv4{}), 0);
        std::memcpy(&from, &sin, sizeof sin);
        ctl->packager().dePacket(from, datagram);
    }

    void click(int row) {
        toolkit.selected[0] = row;
        toolkit.clicked[0] = -1;
        ctl->tblDeviceChanged();
    }
    // A click on a row, its sheet cancelled, a static address typed and
    // Apply pressed: the sheet is open for the change.
    void applyStatic(int row, const std::string& ip) {
        click(row);
        run(300ms);
        ctl->btnCancelPressed();
        toolkit.selectItem(Combo::DHCP, 1);
        setFields(ip, "255.255.255.0", "192.168.77.1");
        ctl->btnApplyPressed();
    }
    void run(std::chrono::milliseconds d) { loop.runFor(d); }
    void setFields(const std::string& ip, const std::string& mask, const std::string& gw) {
        toolkit.setStringValue(Field::IP, ip);
        toolkit.setStringValue(Field::Netmask, mask);
        toolkit.setStringValue(Field::Gateway, gw);
    }
};

TEST_F(Controller, StartUpSearchesSleepsAndBuildsTheLabelLists) {
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(opcodeOf(sent[0]), op_SEARCH);
    // The same request goes out again seven times within the first 0.7 s.
    run(800ms);
    ASSERT_EQ(sent.size(), 8u);
    EXPECT_EQ(sent[7], sent[0]);
    EXPECT_EQ(toolkit.sleeps, std::vector<std::chrono::milliseconds>{30ms});
    EXPECT_TRUE(ctl->noPassword());
    EXPECT_EQ(ctl->pendingAction(), Action::Apply);
    EXPECT_EQ(ctl->interfaceLabels(0), std::vector<std::string>{"LAN"});
    EXPECT_EQ(ctl->interfaceLabels(1).size(), 7u);
    EXPECT_EQ(ctl->interfaceLabels(1)[2], "LAN1+LAN2 Balace-XOR");
    EXPECT_EQ(ctl->interfaceLabels(3), (std::vector<std::string>{"LAN1", "LAN2"}));
}

TEST_F(Controller, AlertsAreLocalisedAndCode38NamesTheShare) {
    toolkit.translations["Wrong administrator password input!"] = "Falsches Passwort!";
    toolkit.translations["is Locked."] = "ist gesperrt.";
    ctl->packager().volumeArray() = {{"Public", "", false}, {"Private", "", true}};
    toolkit.selected[1] = 1;
    for (int code : {0, 40, -1, 9, 38, 3, 32, 29})
        ctl->displayAlertMessage(static_cast<Alert>(code));
    const std::string cannot =
        "Unable to disconnect this drive.\nPlease select a drive to disconnect and verify that the drive is not "
        "being accessed.";
    EXPECT_EQ(toolkit.alerts, (std::vector<std::string>{"", "", "", "Falsches Passwort!", "Private ist gesperrt.",
                                                        cannot, cannot, "No route to host.\n"}));
}

TEST_F(Controller, DeviceClickSendsTheQueryAtOnceAndOpensTheSheetAfterTheDelay) {
    addDevices();
    sent.clear();
    click(0);
    ASSERT_EQ(sent.size(), 1u);
    const Bytes& q = sent[0];
    ASSERT_EQ(q.size(), 24u);
    EXPECT_EQ(q[0], 3);
    EXPECT_EQ(q[17], 20) << "LAN-information item";
    EXPECT_EQ(q[16], 1) << "last byte of the clicked device's id";
    EXPECT_TRUE(ctl->lanInfoTimerRunning());
    EXPECT_TRUE(toolkit.combos[Combo::Interface].items.empty());

    run(120ms);
    EXPECT_FALSE(toolkit.sheetOpen) << "the sheet waits 0.2 s";
    run(200ms);
    EXPECT_TRUE(toolkit.sheetOpen);
    EXPECT_EQ(toolkit.sheetsBegun, 1);
    EXPECT_EQ(ctl->pendingAction(), Action::ListVolumes);
    EXPECT_EQ(toolkit.fields[Field::UserName].text, "admin");
    EXPECT_EQ(toolkit.fields[Field::IP].text, "192.168.77.20");
    EXPECT_FALSE(ctl->lanInfoTimerRunning()) << "the timer fires once";
    EXPECT_EQ(ctl->queryLanInfoCounter(), 1);
    EXPECT_EQ(ctl->tmpDeviceData(), ctl->packager().serverArray()[0]);
}

TEST_F(Controller, TwoQuickClicksOpenOneSheetForTheSecond) {
    addDevices();
    sent.clear();
    click(0);
    run(100ms);
    click(1);
    run(500ms);
    // Besides the start-up search's repeats, two queries.
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [this](const Bytes& d) { return opcodeOf(d) != op_SEARCH; }), 2);
    EXPECT_EQ(toolkit.sheetsBegun, 1);
    EXPECT_EQ(ctl->tmpDeviceData()->hostname.str(), "beta");
}

TEST_F(Controller, ATickAfterTheListWasClearedOnlyStopsTheTimer) {
    addDevices();
    click(2);
    ctl->cleanTable(1);
    run(350ms);
    EXPECT_FALSE(toolkit.sheetOpen);
    EXPECT_FALSE(ctl->lanInfoTimerRunning());
    EXPECT_EQ(ctl->pendingAction(), Action::Apply);
}

TEST_F(Controller, ShowingARecordChoosesLabelsPortAndAddressMode) {
    addDevices();
    const auto& devices = ctl->packager().serverArray();

    ctl->fillDeviceInfo(devices[0], true);  // one port, static
    EXPECT_EQ(toolkit.combos[Combo::Interface].items, std::vector<std::string>{"LAN"});
    EXPECT_EQ(toolkit.selectedText(Combo::Interface), "LAN");
    EXPECT_FALSE(toolkit.combos[Combo::Interface].enabled);
    EXPECT_EQ(toolkit.combos[Combo::DHCP].selected, 1);
    EXPECT_TRUE(toolkit.fields[Field::IP].editable);
    EXPECT_EQ(toolkit.fields[Field::Gateway].colour, kBlackText);

    ctl->fillDeviceInfo(devices[1], true);  // two ports, answering on the second, DHCP there
    EXPECT_EQ(toolkit.combos[Combo::Interface].items, (std::vector<std::string>{"LAN1", "LAN2"}));
    EXPECT_TRUE(toolkit.combos[Combo::Interface].enabled);
    EXPECT_EQ(toolkit.selectedText(Combo::Interface), "LAN2");
    EXPECT_EQ(toolkit.fields[Field::IP].text, "10.1.0.30");
    EXPECT_EQ(toolkit.fields[Field::Netmask].text, "255.255.0.0");
    EXPECT_EQ(toolkit.combos[Combo::DHCP].selected, 0);
    EXPECT_FALSE(toolkit.fields[Field::IP].editable);
    EXPECT_EQ(toolkit.fields[Field::IP].colour, kGreyText);
    EXPECT_EQ(toolkit.combos[Combo::Interface].colour, kGreyText);

    ctl->fillDeviceInfo(devices[2], true);  // bonded, mode 4
    EXPECT_EQ(toolkit.combos[Combo::Interface].items.size(), 7u);
    EXPECT_EQ(toolkit.selectedText(Combo::Interface), "LAN1+LAN2 802.3ad");
    EXPECT_FALSE(toolkit.combos[Combo::Interface].enabled);
    EXPECT_EQ(toolkit.fields[Field::IP].text, "192.168.77.40");

    // Without the address mode: the choice and editability stay as they were.
    toolkit.selectItem(Combo::DHCP, 0);
    ctl->fillDeviceInfo(devices[0], false);
    EXPECT_EQ(toolkit.combos[Combo::DHCP].selected, 0);
}

TEST_F(Controller, PortAndAddressModeChoices) {
    addDevices();
    toolkit.selected[0] = 1;
    ctl->fillDeviceInfo(ctl->packager().serverArray()[1], true);
    toolkit.selectItem(Combo::Interface, 0);
    ctl->cmbInterfaceChanged();
    EXPECT_EQ(toolkit.fields[Field::IP].text, "192.168.77.30");
    EXPECT_EQ(toolkit.combos[Combo::DHCP].selected, 1);
    EXPECT_TRUE(toolkit.fields[Field::IP].editable);

    toolkit.selectItem(Combo::DHCP, 0);
    ctl->cmbDHCPChanged();
    EXPECT_FALSE(toolkit.fields[Field::Netmask].editable);
    toolkit.selectItem(Combo::DHCP, 1);
    ctl->cmbDHCPChanged();
    EXPECT_TRUE(toolkit.fields[Field::Netmask].editable);
}

TEST_F(Controller, ADeviceRowsTooltipShowsItsHardwareAddressWhenKnown) {
    auto known = device(1, "a", "10.0.0.9"), unknown = device(2, "b", "10.0.0.10");
    unknown->answeredFrom = std::nullopt;  // the neighbour table is not asked
    known->hardware = HardwareAddress{{0x02, 0, 0, 0, 0, 0x09}};
    for (auto d : {known, unknown}) ctl->packager().registry.addDataInfo(d);
    EXPECT_EQ(ctl->deviceCtl().toolTip(0), "Hardware address: 02:00:00:00:00:09");
    EXPECT_EQ(ctl->deviceCtl().toolTip(1), "");
    EXPECT_EQ(ctl->deviceCtl().toolTip(7), "");
}

TEST_F(Controller, HeaderClicksSortAndReverseOnlyWithoutASelectedRow) {
    auto a = device(1, "a", "10.0.0.9"), b = device(2, "b", "10.0.0.10"), c = device(3, "c", "10.0.0.2");
    for (auto d : {a, b, c}) ctl->packager().registry.addDataInfo(d);
    auto ips = [&] {
        std::string out;
        for (int r = 0; r < ctl->deviceCtl().numberOfRowsInTableView(); ++r)
            out += ctl->deviceCtl().objectValue("ColumnIP", r) + " ";
        return out;
    };
    sent.clear();
    toolkit.clicked[0] = 1;
    ctl->tblDeviceChanged();
    const std::string first = ips();
    ctl->tblDeviceChanged();
    const std::string second = ips();
    EXPECT_EQ(first, "10.0.0.9 10.0.0.2 10.0.0.10 ");
    EXPECT_EQ(second, "10.0.0.10 10.0.0.2 10.0.0.9 ") << "text order, reversed by the second click";
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnName", 0), "b");
    EXPECT_EQ(ctl->deviceCtl().objectValue("Unknown", 0), "");
    EXPECT_EQ(ctl->deviceCtl().objectValue("ColumnName", 7), "");

    toolkit.selected[0] = 0;  // with a row selected a header click is a row click
    ctl->tblDeviceChanged();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(ips(), second);
}

TEST_F(Controller, ApplyWithoutADeviceOrWithBadAddressesChangesNothing) {
    ctl->btnApplyPressed();
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Please select a device in the above section."});

    addDevices();
    click(0);
    run(300ms);
    ctl->btnCancelPressed();
    toolkit.alerts.clear();
    setFields("192.168.255.1", "255.255.255.0", "192.168.0.254");
    toolkit.selectItem(Combo::DHCP, 1);
    ctl->btnApplyPressed();
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Invalid IP address in 3rd digit. It should be 0-254."});
    EXPECT_EQ(ctl->tmpDeviceData()->port[0].IP.str(), "192.168.77.20");
    EXPECT_TRUE(toolkit.fields[Field::IP].editable) << "restored from the address mode";
    EXPECT_EQ(toolkit.fields[Field::IP].text, "192.168.255.1") << "typed text kept";
    EXPECT_FALSE(toolkit.sheetOpen);
}

TEST_F(Controller, StaticApplyStoresThePortAndOpensTheSheet) {
    addDevices();
    click(1);
    run(300ms);
    ctl->btnCancelPressed();
    ctl->setCalledAction(Action::None);
    toolkit.selectItem(Combo::Interface, 1);
    toolkit.selectItem(Combo::DHCP, 1);
    setFields("10.1.0.31", "255.255.0.0", "10.1.0.1");
    ctl->btnApplyPressed();
    EXPECT_TRUE(toolkit.alerts.empty());
    const auto rec = ctl->tmpDeviceData();
    EXPECT_EQ(rec->ifEdited, 1);
    EXPECT_FALSE(rec->port[1].dhcpEnable);
    EXPECT_EQ(rec->port[1].IP.str(), "10.1.0.31");
    EXPECT_EQ(rec->port[0].IP.str(), "192.168.77.30") << "the other port untouched";
    EXPECT_EQ(ctl->pendingAction(), Action::Apply);
    EXPECT_EQ(ctl->calledActionSub(), SubAction::Static);
    EXPECT_TRUE(toolkit.sheetOpen);
    EXPECT_FALSE(toolkit.fields[Field::IP].editable) << "until the sheet is answered";
}

TEST_F(Controller, ApplyOnABondWritesTheShownPort) {
    addDevices();
    click(2);  // bonded, mode 4: the choice shows the mode, the fields port 0
    run(300ms);
    ctl->btnCancelPressed();
    toolkit.selectItem(Combo::DHCP, 1);
    setFields("192.168.77.41", "255.255.255.0", "192.168.77.1");
    ctl->btnApplyPressed();
    ASSERT_TRUE(toolkit.alerts.empty()) << toolkit.alerts.front();
    const auto rec = ctl->tmpDeviceData();
    EXPECT_EQ(rec->ifEdited, 0);
    EXPECT_EQ(rec->port[0].IP.str(), "192.168.77.41");
    EXPECT_EQ(rec->port[1].IP.str(), "");

    ctl->btnCancelPressed();
    toolkit.selectItem(Combo::DHCP, 0);
    ctl->btnApplyPressed();
    const auto dhcp = ctl->tmpDeviceData();
    EXPECT_EQ(dhcp->ifEdited, 0);
    EXPECT_TRUE(dhcp->port[0].dhcpEnable);
    EXPECT_FALSE(dhcp->port[1].dhcpEnable);
}

TEST_F(Controller, DhcpApplySkipsTheChecks) {
    addDevices();
    click(0);
    run(300ms);
    ctl->btnCancelPressed();
    toolkit.selectItem(Combo::DHCP, 0);
    setFields("not", "an", "address");
    ctl->btnApplyPressed();
    EXPECT_TRUE(toolkit.alerts.empty());
    EXPECT_TRUE(ctl->tmpDeviceData()->port[0].dhcpEnable);
    EXPECT_EQ(ctl->tmpDeviceData()->ifEdited, 0);
    EXPECT_EQ(ctl->calledActionSub(), SubAction::Dhcp);
    EXPECT_TRUE(toolkit.sheetOpen);
}

TEST_F(Controller, SheetOkNeedsAUserNameAndSendsTheTypedPassword) {
    addDevices();
    click(0);
    run(300ms);
    sent.clear();
    toolkit.setStringValue(Field::UserName, "");
    toolkit.setStringValue(Field::Password, "");
    ctl->btnOKPressed();
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Username should not be null."});
    EXPECT_TRUE(toolkit.sheetOpen);
    EXPECT_TRUE(sent.empty());

    toolkit.setStringValue(Field::UserName, "x");
    ctl->btnOKPressed();  // an empty password is fine
    EXPECT_FALSE(toolkit.sheetOpen);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(opcodeOf(sent[0]), op_CHK_PASSWD);
    EXPECT_FALSE(ctl->noPassword());
    EXPECT_FALSE(toolkit.buttons[Button::Apply]) << "until the answer";
}

TEST_F(Controller, SheetOpensWithAnEmptyPassword) {
    addDevices();
    click(0);
    run(300ms);
    toolkit.setStringValue(Field::Password, "s3cret");
    ctl->btnOKPressed();
    EXPECT_EQ(ctl->tmpDeviceData()->password, "s3cret");
    click(1);
    run(300ms);
    ASSERT_TRUE(toolkit.sheetOpen);
    EXPECT_EQ(toolkit.fields[Field::Password].text, "");
}

TEST_F(Controller, SheetCancelKeepsThePendingAction) {
    addDevices();
    click(0);
    run(300ms);
    toolkit.setEnabled(Button::Apply, false);
    toolkit.selectItem(Combo::DHCP, 1);
    toolkit.setEditable(Field::IP, false);
    ctl->btnCancelPressed();
    EXPECT_FALSE(toolkit.sheetOpen);
    EXPECT_TRUE(toolkit.buttons[Button::Apply]);
    EXPECT_TRUE(toolkit.fields[Field::IP].editable);
    EXPECT_EQ(ctl->pendingAction(), Action::ListVolumes);
}

TEST_F(Controller, PasswordCheckWithoutASelectedRow) {
    toolkit.selected[0] = -1;
    ctl->sendAuthPacket();
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Please select a device in the above section."});
    EXPECT_TRUE(toolkit.buttons[Button::Apply]);
    EXPECT_TRUE(ctl->noPassword());
}

TEST_F(Controller, RefusedPasswordReEnablesEvenInDhcpMode) {
    toolkit.selectItem(Combo::DHCP, 0);
    ctl->setIPEditEnable(false);
    toolkit.setEnabled(Button::Apply, false);
    ctl->setCalledAction(Action::ListVolumes);
    ctl->checkAuthFail();
    EXPECT_TRUE(toolkit.buttons[Button::Apply]);
    EXPECT_TRUE(toolkit.fields[Field::Gateway].editable);
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Wrong administrator password input!"});
    EXPECT_EQ(ctl->pendingAction(), Action::ListVolumes);
}

TEST_F(Controller, SettingsAppliedWaitThenSearchAgain) {
    struct Case {
        Action action;
        SubAction sub;
        std::vector<std::chrono::milliseconds> sleeps;
        bool searches;
    };
    for (const Case& c : {Case{Action::Apply, SubAction::Static, {2000ms}, true},
                          Case{Action::Apply, SubAction::Dhcp, {3000ms}, true},
                          Case{Action::ListVolumes, SubAction::Static, {}, false},
                          Case{Action::None, SubAction::Static, {}, false}}) {
        addDevices();
        ctl->packager().volumeArray() = {{"Public", "", false}};
        toolkit.selected[0] = 0;
        if (c.sub == SubAction::Dhcp) {  // a DHCP apply, answered
            toolkit.selectItem(Combo::DHCP, 0);
            ctl->btnApplyPressed();
            ctl->btnCancelPressed();
        }
        ctl->setCalledAction(c.action);
        toolkit.sleeps.clear();
        sent.clear();
        ctl->setIPFinish();
        EXPECT_EQ(toolkit.sleeps, c.sleeps);
        EXPECT_EQ(ctl->pendingAction(), Action::None);
        EXPECT_EQ(ctl->calledActionSub(), SubAction::Static);
        EXPECT_EQ(sent.size(), c.searches ? 1u : 0u);
        EXPECT_EQ(ctl->packager().serverArray().empty(), c.searches);
        EXPECT_EQ(ctl->packager().volumeArray().empty(), c.searches);
        if (c.searches) {
            EXPECT_EQ(opcodeOf(sent[0]), op_SEARCH);
        }
        ctl->packager().serverArray().clear();
        toolkit.selected[0] = -1;
    }
}

// An address another host holds is asked about before anything is sent;
// after the change, a box that answers elsewhere is looked for and said to.
TEST_F(Controller, AnAddressInUseIsAskedAboutAndAMovedBoxIsFollowed) {
    addDevices();
    const std::string inUse = "192.168.77.50 is already in use on the network (by 02:00:00:00:00:09).";
    addressCheck = {AddressChangeCheck::Verdict::InUse, inUse};
    applyStatic(0, "192.168.77.50");
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{inUse + "\nChange it anyway?"});
    EXPECT_FALSE(toolkit.sheetOpen) << "Cancel: no login, nothing sent";
    EXPECT_TRUE(toolkit.fields[Field::IP].editable);

    toolkit.confirmAnswer = true;
    sent.clear();
    ctl->btnApplyPressed();
    ASSERT_TRUE(toolkit.sheetOpen);
    toolkit.setStringValue(Field::Password, "admin");
    ctl->btnOKPressed();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(opcodeOf(sent[0]), op_CHK_PASSWD);
    answer(op_CHK_PASSWD, 1, 1);
    ASSERT_EQ(opcodeOf(sent.back()), op_SET_LAN);
    answer(op_SET_LAN, 1, 1);
    // The search after the change finds nothing yet: asked again, at the
    // new address too.
    sent.clear();
    run(1600ms);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(opcodeOf(sent[0]), op_SEARCH);
    EXPECT_TRUE(std::any_of(sentTo.begin(), sentTo.end(), [](const auto& s) {
        return s.first == *parseDottedIPv4("192.168.77.50") && readHeader(s.second)->opcode == op_SEARCH;
    }));
    // It comes back where it was.
    ASSERT_TRUE(ctl->packager().registry.addDataInfo(device(1, "alpha", "192.168.77.20")));
    toolkit.alerts.clear();
    run(1600ms);
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"alpha answers at 192.168.77.20, not at 192.168.77.50."});
    sent.clear();
    run(1600ms);
    EXPECT_TRUE(sent.empty()) << "looked for once it answered";
}

TEST_F(Controller, RefusedSettingsAreReportedAndTheRecordKept) {
    addDevices();
    applyStatic(0, "192.168.77.21");
    ctl->btnOKPressed();
    answer(op_CHK_PASSWD, 1, 1);
    ASSERT_EQ(opcodeOf(sent.back()), op_SET_LAN);
    sent.clear();
    answer(op_SET_LAN, 1, 0);
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"The device refused the new settings."});
    EXPECT_TRUE(sent.empty()) << "no new search";
    EXPECT_EQ(toolkit.sleeps, std::vector<std::chrono::milliseconds>{30ms}) << "only the start-up pause";
    const auto rec = ctl->packager().serverArray()[0];
    EXPECT_EQ(rec->port[0].IP.str(), "192.168.77.20") << "the record as before Apply";
    EXPECT_EQ(toolkit.fields[Field::IP].text, "192.168.77.21") << "the typed text stays to be corrected";
    EXPECT_TRUE(toolkit.buttons[Button::Apply]);
    EXPECT_TRUE(toolkit.fields[Field::IP].editable);

    // Accepted: the pause and the new search.
    ctl->btnApplyPressed();
    ctl->btnOKPressed();
    answer(op_CHK_PASSWD, 1, 1);
    sent.clear();
    answer(op_SET_LAN, 1, 1);
    EXPECT_EQ(toolkit.alerts.size(), 1u);
    EXPECT_EQ(toolkit.sleeps.back(), 2000ms);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(opcodeOf(sent[0]), op_SEARCH);
}

TEST_F(Controller, VolumeClicksEnableOrRefuseMounting) {
    ctl->packager().volumeArray() = {{"Public", "", false}, {"Vault", "", true}};
    toolkit.selected[1] = 1;
    ctl->tblVolumeChanged();
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Vault is Locked."});
    EXPECT_FALSE(toolkit.buttons[Button::Connect]);
    EXPECT_FALSE(toolkit.buttons[Button::Disconnect]);
    toolkit.selected[1] = 0;
    ctl->tblVolumeChanged();
    EXPECT_TRUE(toolkit.buttons[Button::Connect]);
    EXPECT_TRUE(toolkit.buttons[Button::Disconnect]);
    toolkit.selected[1] = 5;
    ctl->tblVolumeChanged();
    EXPECT_EQ(toolkit.alerts.size(), 1u);
}

TEST_F(Controller, WebAboutExitAndRefresh) {
    ctl->btnConfigurationPressed();
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"Please select a device to configure."});
    addDevices();
    toolkit.selected[0] = 1;
    ctl->btnConfigurationPressed();
    EXPECT_EQ(toolkit.openedURLs, std::vector<std::string>{"http://192.168.77.30"});
    EXPECT_EQ(toolkit.alerts.size(), 1u);
    toolkit.browserStarts = false;  // no opener on this desktop: say where the pages are
    ctl->btnConfigurationPressed();
    EXPECT_EQ(toolkit.alerts.back(), "No web browser could be started.\nOpen http://192.168.77.30 in a web browser.");

    ctl->btnAboutPressed();
    ctl->btnExitPressed();
    ctl->windowWillClose();
    EXPECT_EQ(toolkit.aboutPanels, 1);
    EXPECT_EQ(toolkit.terminations, 2);

    ctl->packager().volumeArray() = {{"Public", "", false}};
    toolkit.addItems(Combo::Interface, {"LAN"});
    toolkit.setStringValue(Field::IP, "1.2.3.4");
    sent.clear();
    ctl->btnRefreashPressed();
    EXPECT_TRUE(ctl->packager().serverArray().empty());
    EXPECT_TRUE(ctl->packager().volumeArray().empty());
    EXPECT_TRUE(toolkit.combos[Combo::Interface].items.empty());
    EXPECT_EQ(toolkit.fields[Field::IP].text, "");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(opcodeOf(sent[0]), op_SEARCH);
}


// The user clicks box 0, confirms a password, and moves on to box 1 before
// box 0 answers. Box 0's answers never act on box 1; what it refuses of a
// change is still said, naming it.
TEST_F(Controller, AnswersOfABoxTheUserHasLeftNeverActOnTheShownOne) {
    addDevices();
    const auto alpha = ctl->packager().serverArray()[0];
    const auto beta = ctl->packager().serverArray()[1];
    beta->password = "beta-stored";
    const auto countSent = [&](std::uint16_t opcode) {
        return std::count_if(sent.begin(), sent.end(), [&](const Bytes& d) { return opcodeOf(d) == opcode; });
    };

    // A share list asked of alpha, accepted late: no request goes to beta,
    // and alpha's late share list fills nothing.
    click(0);
    run(300ms);
    toolkit.setStringValue(Field::Password, "alpha");
    ctl->btnOKPressed();
    click(1);
    run(300ms);
    ASSERT_TRUE(toolkit.sheetOpen);
    sent.clear();
    answer(op_CHK_PASSWD, 1, 1);
    EXPECT_EQ(countSent(op_GET_SAMBA_SHARE), 0) << "nothing goes to beta with its stored password";
    answer(op_GET_SAMBA_SHARE, 1, 1, {{v_HOSTNAME, "Alpha-Share"}});
    EXPECT_TRUE(ctl->packager().volumeArray().empty());
    EXPECT_EQ(ctl->pendingAction(), Action::ListVolumes);
    ctl->btnCancelPressed();

    // A change of alpha's address, confirmed, then the user goes to beta
    // and opens its sheet: alpha's refusal is said with its name and leaves
    // beta's pending action alone; beta's OK still checks beta's password.
    applyStatic(0, "192.168.77.21");
    ctl->btnOKPressed();
    click(1);
    run(300ms);
    answer(op_CHK_PASSWD, 1, 1);
    ASSERT_EQ(opcodeOf(sent.back()), op_SET_LAN) << "the change the user confirmed still goes to alpha";
    EXPECT_EQ(readHeader(sent.back())->serverUUID, alpha->serverUUID);
    toolkit.alerts.clear();
    answer(op_SET_LAN, 1, 0);
    EXPECT_EQ(toolkit.alerts,
              std::vector<std::string>{"alpha (192.168.77.20): The device refused the new settings."});
    EXPECT_EQ(ctl->pendingAction(), Action::ListVolumes);
    EXPECT_EQ(alpha->port[0].IP.str(), "192.168.77.20");
    sent.clear();
    ctl->btnOKPressed();
    ASSERT_EQ(countSent(op_CHK_PASSWD), 1);
    EXPECT_EQ(readHeader(sent.back())->serverUUID, beta->serverUUID);

    // Accepted by alpha while the user is on beta: alpha's record takes the
    // address, beta's fields and lists stay as they are.
    answer(op_CHK_PASSWD, 2, 1);  // beta's list
    applyStatic(0, "192.168.77.22");
    ctl->btnOKPressed();
    click(1);
    run(300ms);
    answer(op_CHK_PASSWD, 1, 1);
    answer(op_SET_LAN, 1, 1);
    EXPECT_EQ(alpha->port[0].IP.str(), "192.168.77.22");
    EXPECT_EQ(toolkit.fields[Field::IP].text, "10.1.0.30") << "beta still shown";
    EXPECT_EQ(ctl->packager().serverArray().size(), 3u) << "no search wiped the list";
}

// Cancel, a wrong password and an unanswered change leave the record as
// the box has it; an unanswered request is said and Apply comes back.
TEST_F(Controller, ARecordTakesAChangeOnlyWhenTheBoxAcceptsIt) {
    addDevices();
    const auto alpha = ctl->packager().serverArray()[0];
    const auto applyAlpha = [&] { applyStatic(0, "192.168.77.21"); };
    applyAlpha();
    ctl->btnCancelPressed();
    EXPECT_EQ(alpha->port[0].IP.str(), "192.168.77.20") << "after Cancel";

    applyAlpha();
    ctl->btnOKPressed();
    answer(op_CHK_PASSWD, 1, 0);
    EXPECT_EQ(alpha->port[0].IP.str(), "192.168.77.20") << "after a wrong password";

    toolkit.alerts.clear();
    applyAlpha();
    ctl->btnOKPressed();
    answer(op_CHK_PASSWD, 1, 1);
    EXPECT_FALSE(toolkit.buttons[Button::Apply]);
    run(600ms);  // the settings change is never answered
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"The device did not answer."});
    EXPECT_TRUE(toolkit.buttons[Button::Apply]);
    EXPECT_TRUE(toolkit.fields[Field::IP].editable);
    EXPECT_EQ(alpha->port[0].IP.str(), "192.168.77.20") << "after no answer";
    EXPECT_EQ(toolkit.fields[Field::IP].text, "192.168.77.21") << "the typed text stays";

    // Unanswered on a box the user has left: said with its name.
    toolkit.alerts.clear();
    applyAlpha();
    ctl->btnOKPressed();
    click(1);
    run(600ms);
    EXPECT_EQ(toolkit.alerts, std::vector<std::string>{"alpha (192.168.77.20): The device did not answer."});
}

// The selection is the box: a late search answer that sorts in above it
// moves its row, and the sheet, the check and Apply still go to it.
TEST_F(Controller, TheSelectionFollowsTheBoxWhenTheListIsResorted) {
    addDevices();
    click(1);  // beta
    ASSERT_TRUE(ctl->packager().registry.addDataInfo(device(9, "aardvark", "192.168.77.50")));
    run(300ms);
    EXPECT_EQ(toolkit.selected[0], 2) << "beta's row, after aardvark";
    ASSERT_TRUE(toolkit.sheetOpen);
    EXPECT_EQ(toolkit.fields[Field::IP].text, "10.1.0.30") << "beta's second port";
    sent.clear();
    ctl->btnOKPressed();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(readHeader(sent[0])->serverUUID, (Uuid8{0, 0, 0, 0, 0, 0, 0, 2}));
}

}  // namespace

TEST_F(Controller, ABurstOfAnswersShowsTheDeviceTableAFewTimesNotOncePerAnswer) {
    const int before = toolkit.reloads[0];
    for (std::uint8_t i = 1; i <= 200; ++i) {
        auto d = device(i, "box-" + std::to_string(i), "10.0.0." + std::to_string(i));
        ASSERT_TRUE(ctl->packager().registry.addDataInfo(d));
    }
    EXPECT_LE(toolkit.reloads[0] - before, 1);
    run(300ms);  // the last one is shown within a quarter of a second
    EXPECT_EQ(toolkit.reloads[0] - before, 2);
    EXPECT_EQ(ctl->deviceCtl().numberOfRowsInTableView(), 200);
}
