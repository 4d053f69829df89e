// quayside-win's main controller without Qt: the window kept in memory
// (support/fake_main_view.h), the connections too
// (support/fake_net_connections.h) and simulated boxes answering over a
// scripted link. The drive letters and the volume list with Connect and
// Disconnect; the first search, device clicks with the login answered and
// the LAN panel with its port switch and Apply; remembered letters coming
// back late, names longer than the buffer, letters taken meanwhile.
#include "main_controller.h"
#include "quayside/address.h"
#include "quayside/device_library.h"
#include "support/fake_main_view.h"
#include "support/fake_link.h"
#include "support/fake_net_connections.h"
#include "support/sim_boxes.h"
#include "support/packets.h"

#include <gtest/gtest.h>

#include <thread>

using namespace qs;
using namespace qs::win;
using qs::win::test::FakeMainView;

namespace {

const Uuid8 kDevice{0x00, 0x1B, 0x7E, 0x01, 0x02, 0x03, 0x04, 0x05};
const char* kDeviceIP = "192.168.0.20";

const char* kMapped = "Successfully mapped drive.";
const char* kMapFailed = "Failed to map drive.";
const char* kUnmapped = "Successfully unmapped drive.";
const char* kUnable =
    "Unable to disconnect this drive.\nPlease select a drive to disconnect and verify that the drive is not being "
    "accessed.";

// A version query that answers as the given system.
VersionQuery systemOf(unsigned platform, unsigned major, unsigned minor) {
    return [=](OsVersionInfo& v) {
        v.platform = platform;
        v.major = major;
        v.minor = minor;
        v.build = 2600;
        return true;
    };
}

class Drives : public ::testing::Test {
protected:
    FakeMainView view;
    MainController controller{view};
    FakeNetConnections* net = nullptr;

    void SetUp() override {
        // No sockets: a search finds nothing at once.
        auto fake = std::make_unique<FakeNetConnections>();
        net = fake.get();
        controller.net = std::move(fake);
        // A system that names no Windows version, as on Linux.
        controller.versionQuery = systemVersionQuery();
        net->setDriveType('C', DRIVE_FIXED);
        net->setDriveType('D', DRIVE_CDROM);
        net->connect('Y', "\\\\10.0.0.5\\Volume_1");
    }
    void TearDown() override { controller.shutdown(); }

    // Start-up, then one device row selected with shares listed, as after a
    // device click.
    void start(const std::string& ip = kDeviceIP,
               const std::vector<std::string>& shares = {"Volume_1", "Recycle Bin - Volume_1", "Volume_2"}) {
        controller.start();
        const int row = view.insertRow(List::Device, 0, "nas1");
        view.setCellText(List::Device, row, 1, ip);
        view.setCellText(List::Device, row, 2, "255.255.255.0");
        view.setDeviceId(row, kDevice);
        const std::string key = MakeDeviceKey(kDevice);
        controller.loginCache.seed(key);
        controller.loginCache.accept(key, "admin", "secret");
        view.list(List::Device).selected = {row};
        for (const std::string& s : shares) controller.library().shares.add(s);
        controller.FillVolumeList("nas1", ip, false);
    }
    const std::vector<std::string>& comboItems() { return view.combo(Combo::DriveLetter).items; }
    int rowOf(const std::string& volume) {
        for (int r = 0; r < view.rowCount(List::Volume); ++r)
            if (view.cellText(List::Volume, r, 0) == volume) return r;
        return -1;
    }
    std::string location(const std::string& volume) {
        const int r = rowOf(volume);
        return r < 0 ? "<no row>" : view.cellText(List::Volume, r, 1);
    }
    void selectVolume(const std::string& volume) { view.list(List::Volume).selected = {rowOf(volume)}; }
    void selectLetter(const std::string& prefix) { view.selectItem(Combo::DriveLetter, prefix); }
    void connect(const std::string& volume) {
        selectVolume(volume);
        controller.OnConnect();
    }
    // Each connection made, as "letter remote name".
    std::vector<std::string> added() const {
        std::vector<std::string> out;
        for (const auto& c : net->callsOf("add")) out.push_back(c.localName + " " + c.remoteName);
        return out;
    }
    std::vector<std::string> lettersOf(const std::string& function) const {
        std::vector<std::string> out;
        for (const auto& c : net->callsOf(function)) out.push_back(c.localName);
        return out;
    }
    std::vector<FakeNetConnections::Call> attemptsOn(const std::string& letter) const {
        std::vector<FakeNetConnections::Call> out;
        for (const auto& c : net->callsOf("add"))
            if (c.localName == letter) out.push_back(c);
        return out;
    }
    void expectOnlyMessage(const char* text, const char* caption, MessageIcon icon) {
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, text);
        EXPECT_STREQ(captionText(view.messages[0].caption), caption);
        EXPECT_EQ(view.messages[0].icon, icon);
    }
};

// The same, with the first volume selected as well.
class Controller : public Drives {
protected:
    void start() {
        Drives::start();
        selectVolume("Volume_1");
    }
};

using PassedCredentials = std::pair<std::optional<std::string>, std::optional<std::string>>;  // password, user
PassedCredentials credentialsOf(const FakeNetConnections::Call& c) { return {c.password, c.userName}; }
const PassedCredentials kEmpty{std::string(), std::string()};
const PassedCredentials kCached{std::string("secret"), std::string("admin")};

}  // namespace

// ---- table and combo ----------------------------------------------------------

TEST_F(Drives, ComboListsEligibleLettersFromZWithTheMappedOne) {
    start();
    std::vector<std::string> expected{"Z:", "Y: \\\\10.0.0.5\\Volume_1"};
    for (char c = 'X'; c >= 'E'; --c) expected.push_back(std::string(1, c) + ":");
    EXPECT_EQ(comboItems(), expected);
    EXPECT_EQ(view.currentIndex(Combo::DriveLetter), 0);
    EXPECT_EQ(view.currentText(Combo::DriveLetter), "Z:");

    const DriveTableEntry& y = controller.DriveTable[1];
    EXPECT_EQ(y.localName, "Y:");
    EXPECT_EQ(y.server, "10.0.0.5");
    EXPECT_EQ(y.share, "Volume_1");
    EXPECT_EQ(controller.DriveTable[0].localName, "Z:");
    EXPECT_TRUE(controller.DriveTable[0].server.empty());
    EXPECT_EQ(controller.DriveTable[25].localName, "A:");
    // The table asked for every letter from Z: to A:.
    const auto gets = net->callsOf("get");
    ASSERT_GE(gets.size(), 26u);
    EXPECT_EQ(gets[0].localName, "Z:");
    EXPECT_EQ(gets[25].localName, "A:");
}

TEST_F(Drives, FirstFreeLetterIsSelectedAfterConnectedOnes) {
    net->connect('Z', "\\\\10.0.0.5\\Volume_2");
    start();
    EXPECT_EQ(view.currentText(Combo::DriveLetter), "X:");
    EXPECT_EQ(controller.FindSpareDriveLetter("X:"), "W:");
    EXPECT_EQ(controller.FindSpareDriveLetter("W:"), "X:");
    EXPECT_EQ(controller.FindSpareDriveLetter(""), "X:");
    EXPECT_EQ(controller.FindLetterOfShare("Volume_2"), "Z:");
    EXPECT_EQ(controller.FindLetterOfShare("volume_2"), "");  // exact
    EXPECT_EQ(controller.FindLetterOfShare("Volume_1"), "Y:");
}

TEST_F(Drives, EveryLetterConnectedLeavesNoSelectionAndConnectSilent) {
    for (char c = 'E'; c <= 'Z'; ++c) net->connect(c, "\\\\10.0.0.5\\Share_" + std::string(1, c));
    start();
    EXPECT_EQ(comboItems().size(), 22u);
    EXPECT_EQ(view.currentIndex(Combo::DriveLetter), -1);
    EXPECT_EQ(controller.FindSpareDriveLetter("Z:"), "");
    selectVolume("Volume_1");
    const std::size_t before = net->calls.size();
    controller.OnConnect();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(net->calls.size(), before);
}

// A remembered letter whose share is not there now keeps its place: the
// combo shows it in use, the recycle bin does not take it, the volume list
// names it.
TEST_F(Drives, RememberedButUnavailableLetterIsNotFree) {
    net->remember('Z', "\\\\192.168.0.20\\Volume_1");
    start();
    EXPECT_EQ(comboItems().at(0), "Z: \\\\192.168.0.20\\Volume_1");
    EXPECT_EQ(view.currentText(Combo::DriveLetter), "X:");
    EXPECT_EQ(controller.FindSpareDriveLetter("X:"), "W:");
    EXPECT_EQ(location("Volume_1"), "Z:");
}

// ---- volume list ------------------------------------------------------------------

TEST_F(Drives, VolumeListLeavesOutRecycleBinsAndShowsTheLetterNearestA) {
    net->connect('K', "\\\\192.168.0.20\\VOLUME_1");
    net->connect('R', "\\\\192.168.0.20\\Volume_1");
    net->connect('S', "\\\\NAS1\\volume_2");  // by name, any case
    net->connect('T', "\\\\192.168.0.21\\Volume_2");  // another device
    start(kDeviceIP, {"Volume_1", "Recycle Bin - Volume_1", "Volume_2", "Recycle Bin", "recycle bin x"});
    ASSERT_EQ(view.rowCount(List::Volume), 3);
    EXPECT_EQ(view.cellText(List::Volume, 0, 0), "Volume_1");
    EXPECT_EQ(view.cellText(List::Volume, 1, 0), "Volume_2");
    EXPECT_EQ(view.cellText(List::Volume, 2, 0), "recycle bin x");  // only the exact prefix is left out
    EXPECT_EQ(location("Volume_1"), "K:");
    EXPECT_EQ(location("Volume_2"), "S:");
    // The exact-server switch: "NAS1" is not "nas1".
    controller.FillVolumeList("nas1", kDeviceIP, true);
    EXPECT_EQ(location("Volume_2"), "");
    EXPECT_EQ(location("Volume_1"), "K:");
}

// A volume finds its letter whatever the case of its name, in any script.
TEST_F(Drives, ShareNamesMatchInAnyCase) {
    net->connect('P', "\\\\192.168.0.20\\ÄRCHIV");
    start(kDeviceIP, {"ärchiv"});
    EXPECT_EQ(location("ärchiv"), "P:");
}

TEST_F(Drives, PortSwitchRebuildsWithTheRealTable) {
    net->connect('Q', "\\\\192.168.0.20\\Volume_2");
    start();
    controller.RebuildVolumeList(kDeviceIP);
    EXPECT_EQ(view.rowCount(List::Volume), 3);  // recycle bins included there
    EXPECT_EQ(location("Volume_2"), "Q:");
    EXPECT_EQ(location("Volume_1"), "");
}

// ---- Connect ----------------------------------------------------------------------

// Devices send tokens with a lock mark: the list shows the volume's name, the
// mapping uses it, and a locked volume is not mapped at all.
TEST_F(Drives, ShareTokensListAsNamesAndALockedVolumeIsNotMapped) {
    net->connections.erase('Y' - 'A');
    start(kDeviceIP, {"Public@5", "Media*6", "Recycle Bin - Public", "Recycle Bin - Media"});
    ASSERT_EQ(view.rowCount(List::Volume), 2);
    EXPECT_EQ(view.cellText(List::Volume, 0, 0), "Public");
    EXPECT_EQ(view.cellText(List::Volume, 1, 0), "Media");

    connect("Media");
    expectOnlyMessage("Media is Locked.", "Warning", MessageIcon::Warning);
    EXPECT_TRUE(net->callsOf("add").empty());
    EXPECT_TRUE(net->callsOf("cancel").empty());

    view.messages.clear();
    connect("Public");
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    EXPECT_EQ(added(), (std::vector<std::string>{"Z: \\\\192.168.0.20\\Public",
                                                 "Y: \\\\192.168.0.20\\Recycle Bin - Public"}));
    EXPECT_EQ(location("Public"), "Z:");
}

TEST_F(Drives, ConnectMapsTheVolumeAndItsRecycleBin) {
    controller.setCredentials({"admin", "secret"});
    controller.loginPurpose = LoginPurpose::Configuration;
    net->connections.erase('Y' - 'A');
    start();
    connect("Volume_1");
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    EXPECT_TRUE(controller.credentials().user.empty());
    EXPECT_TRUE(controller.credentials().password.empty());
    EXPECT_EQ(controller.loginPurpose, LoginPurpose::ShareAccess);
    EXPECT_EQ(controller.currentDeviceIP, kDeviceIP);

    const auto cancels = net->callsOf("cancel");
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].localName, "Z:");
    EXPECT_EQ(cancels[0].flags, CONNECT_UPDATE_PROFILE);
    EXPECT_TRUE(cancels[0].force);

    const auto adds = net->callsOf("add");
    ASSERT_EQ(adds.size(), 2u);
    EXPECT_EQ(adds[0].localName, "Z:");
    EXPECT_EQ(adds[0].remoteName, "\\\\192.168.0.20\\Volume_1");
    EXPECT_EQ(credentialsOf(adds[0]), kEmpty);
    EXPECT_EQ(adds[0].flags, CONNECT_UPDATE_PROFILE);
    EXPECT_EQ(adds[1].localName, "Y:");
    EXPECT_EQ(adds[1].remoteName, "\\\\192.168.0.20\\Recycle Bin - Volume_1");
    EXPECT_EQ(credentialsOf(adds[1]), PassedCredentials{});  // none passed
    EXPECT_EQ(adds[1].flags, CONNECT_UPDATE_PROFILE);

    // Table, combo and list rebuilt.
    EXPECT_EQ(comboItems().at(0), "Z: \\\\192.168.0.20\\Volume_1");
    EXPECT_EQ(comboItems().at(1), "Y: \\\\192.168.0.20\\Recycle Bin - Volume_1");
    EXPECT_EQ(view.currentText(Combo::DriveLetter), "X:");
    EXPECT_EQ(location("Volume_1"), "Z:");
    EXPECT_EQ(view.rowCount(List::Volume), 2);
}

TEST_F(Drives, RecycleBinTakesTheFirstOtherFreeLetter) {
    start();  // Y: is taken by \\10.0.0.5\Volume_1
    connect("Volume_2");
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    EXPECT_EQ(added(), (std::vector<std::string>{"Z: \\\\192.168.0.20\\Volume_2",
                                                 "X: \\\\192.168.0.20\\Recycle Bin - Volume_2"}));
}

TEST_F(Drives, NoSpareLetterMapsTheVolumeWithoutItsRecycleBin) {
    for (char c = 'E'; c <= 'X'; ++c) net->connect(c, "\\\\10.0.0.5\\Share_" + std::string(1, c));
    start();
    ASSERT_EQ(view.currentText(Combo::DriveLetter), "Z:");
    connect("Volume_1");
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    ASSERT_EQ(net->callsOf("add").size(), 1u);
}

TEST_F(Drives, ConnectWithoutADeviceOrVolumeRowAsksForOne) {
    start();
    controller.OnConnect();  // no volume row
    expectOnlyMessage("Please select a device in the above section.", "Warning", MessageIcon::Warning);
    view.messages.clear();
    view.list(List::Device).selected.clear();
    connect("Volume_1");
    expectOnlyMessage("Please select a device in the above section.", "Warning", MessageIcon::Warning);
    EXPECT_TRUE(net->callsOf("add").empty());
    EXPECT_TRUE(net->callsOf("cancel").empty());
}

TEST_F(Drives, LetterInUseAsksAndOkDisconnectsItEvenWhenMappingFails) {
    start();
    selectVolume("Volume_1");
    selectLetter("Y:");
    ASSERT_EQ(view.currentText(Combo::DriveLetter), "Y: \\\\10.0.0.5\\Volume_1");
    net->addResults = {ERROR_ACCESS_DENIED, ERROR_INVALID_PASSWORD};
    view.letterAnswers = {MountAnswer::UseLetter};
    controller.OnConnect();
    EXPECT_EQ(view.letterQuestions, 1);
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    const auto cancels = net->callsOf("cancel");
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].localName, "Y:");
    EXPECT_EQ(cancels[0].result, NO_ERROR);
    EXPECT_FALSE(net->connections.count('Y' - 'A'));  // stays removed
    // Nothing refreshed.
    EXPECT_EQ(view.currentText(Combo::DriveLetter), "Y: \\\\10.0.0.5\\Volume_1");
    EXPECT_EQ(controller.DriveTable[1].server, "10.0.0.5");
}

TEST_F(Drives, OtherSystemTriesGuestThenTheCachedCredentials) {
    start();
    net->addResults = {ERROR_ACCESS_DENIED};
    connect("Volume_1");
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    const auto z = attemptsOn("Z:");
    ASSERT_EQ(z.size(), 2u);
    EXPECT_EQ(credentialsOf(z[0]), kEmpty);
    EXPECT_EQ(credentialsOf(z[1]), kCached);
    EXPECT_EQ(z[1].flags, CONNECT_UPDATE_PROFILE);
    const auto x = attemptsOn("X:");  // the recycle bin, with the same credentials
    ASSERT_EQ(x.size(), 1u);
    EXPECT_EQ(credentialsOf(x[0]), kCached);
    EXPECT_EQ(x[0].flags, CONNECT_UPDATE_PROFILE);
}

TEST_F(Drives, OtherSystemFailingTwiceReportsFailure) {
    start();
    net->addResults = {ERROR_ACCESS_DENIED, ERROR_INVALID_PASSWORD};
    connect("Volume_1");
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    EXPECT_EQ(net->callsOf("add").size(), 2u);
    EXPECT_EQ(view.currentText(Combo::DriveLetter), "Z:");
}

TEST_F(Drives, WindowsXpTriesEmptyCredentialsThenTheCachedOnes) {
    controller.versionQuery = systemOf(OsVersionInfo::NT, 5, 1);
    start();
    connect("Volume_1");  // the guest attempt works
    ASSERT_EQ(attemptsOn("Z:").size(), 1u);
    EXPECT_EQ(credentialsOf(attemptsOn("Z:")[0]), kEmpty);
    EXPECT_EQ(credentialsOf(attemptsOn("X:")[0]), PassedCredentials{});

    net->calls.clear();
    view.messages.clear();
    net->connections.clear();
    net->connect('Y', "\\\\10.0.0.5\\Volume_1");
    controller.RefreshDriveTable();
    controller.FillDriveLetterCombo();
    net->addResults = {ERROR_ACCESS_DENIED};
    connect("Volume_1");
    const auto z = attemptsOn("Z:");
    ASSERT_EQ(z.size(), 2u);
    EXPECT_EQ(credentialsOf(z[1]), kCached);
}

TEST_F(Drives, VistaClassRetriesWithTheSystemPrompt) {
    controller.versionQuery = systemOf(OsVersionInfo::NT, 6, 1);
    start();
    net->addResults = {ERROR_ACCESS_DENIED};
    connect("Volume_1");
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    const auto z = attemptsOn("Z:");
    ASSERT_EQ(z.size(), 2u);
    EXPECT_EQ(credentialsOf(z[0]), kEmpty);
    EXPECT_EQ(z[0].flags, CONNECT_UPDATE_PROFILE);
    EXPECT_EQ(credentialsOf(z[1]), kEmpty);
    EXPECT_EQ(z[1].flags, CONNECT_UPDATE_PROFILE | CONNECT_INTERACTIVE);
    const auto x = attemptsOn("X:");
    ASSERT_EQ(x.size(), 1u);
    EXPECT_EQ(credentialsOf(x[0]), PassedCredentials{});
    EXPECT_EQ(x[0].flags, CONNECT_UPDATE_PROFILE | CONNECT_INTERACTIVE);
}

TEST_F(Drives, VistaClassFailingTwiceReportsFailure) {
    controller.versionQuery = systemOf(OsVersionInfo::NT, 6, 0);
    start();
    net->addResults = {ERROR_ACCESS_DENIED, ERROR_CANCELLED};
    connect("Volume_1");
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    EXPECT_EQ(attemptsOn("Z:").size(), 2u);
}

TEST_F(Drives, WindowsNtMakesSixAttemptsWithTheCachedCredentials) {
    controller.versionQuery = systemOf(OsVersionInfo::NT, 4, 0);
    start();
    net->addResults = std::deque<DWORD>(6, ERROR_INVALID_PASSWORD);
    connect("Volume_1");
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    const auto z = attemptsOn("Z:");
    ASSERT_EQ(z.size(), 6u);
    for (const auto& c : z) {
        EXPECT_EQ(credentialsOf(c), kCached);
        EXPECT_EQ(c.flags, CONNECT_UPDATE_PROFILE);
    }
    EXPECT_TRUE(attemptsOn("X:").empty());
}

TEST_F(Drives, WindowsNtStopsAtTheFirstSuccess) {
    controller.versionQuery = systemOf(OsVersionInfo::NT, 4, 0);
    start();
    net->addResults = {ERROR_INVALID_PASSWORD, ERROR_INVALID_PASSWORD};
    connect("Volume_1");
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    EXPECT_EQ(attemptsOn("Z:").size(), 3u);
    ASSERT_EQ(attemptsOn("X:").size(), 1u);
    EXPECT_EQ(credentialsOf(attemptsOn("X:")[0]), kCached);
}

// ---- Disconnect -------------------------------------------------------------------

TEST_F(Drives, DisconnectOfARowWithoutLocationCannotDisconnect) {
    start();
    selectVolume("Volume_2");
    ASSERT_EQ(location("Volume_2"), "");
    controller.OnDisconnect();
    expectOnlyMessage(kUnable, "Error", MessageIcon::Error);
    EXPECT_TRUE(net->connections.count('Y' - 'A'));
}

TEST_F(Drives, DisconnectThroughTheComboItem) {
    start();
    selectLetter("Y:");
    controller.OnDisconnect();
    expectOnlyMessage(kUnmapped, "Confirm", MessageIcon::Information);
    const auto cancels = net->callsOf("cancel");
    ASSERT_EQ(cancels.size(), 1u);  // no recycle-bin letter
    EXPECT_EQ(cancels[0].localName, "Y:");
    EXPECT_EQ(cancels[0].flags, CONNECT_UPDATE_PROFILE);
    EXPECT_TRUE(cancels[0].force);
    EXPECT_EQ(comboItems().at(1), "Y:");
}

TEST_F(Drives, DisconnectWithNothingSelectedDoesNothing) {
    for (char c = 'E'; c <= 'Z'; ++c) net->connect(c, "\\\\10.0.0.5\\Share_" + std::string(1, c));
    start();
    ASSERT_EQ(view.currentIndex(Combo::DriveLetter), -1);
    controller.OnDisconnect();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(net->callsOf("cancel").empty());
}

TEST_F(Drives, DisconnectOfAMappedVolumeTakesItsRecycleBinToo) {
    net->connections.erase('Y' - 'A');
    start();
    connect("Volume_1");
    ASSERT_EQ(location("Volume_1"), "Z:");
    view.messages.clear();
    net->calls.clear();
    selectVolume("Volume_1");
    controller.OnDisconnect();
    expectOnlyMessage(kUnmapped, "Confirm", MessageIcon::Information);
    EXPECT_EQ(lettersOf("cancel"), (std::vector<std::string>{"Z:", "Y:"}));
    EXPECT_TRUE(net->connections.empty());
    EXPECT_EQ(location("Volume_1"), "");  // the list for the selected device again
    EXPECT_EQ(comboItems().at(0), "Z:");
}

// ---- hostile names ------------------------------------------------------------------

TEST_F(Drives, HostileAddressOrShareIsRefused) {
    start("1;rm -rf ~");
    connect("Volume_1");
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    for (const auto& c : net->callsOf("add")) EXPECT_EQ(c.result, ERROR_BAD_NET_NAME);
    EXPECT_EQ(net->callsOf("add").size(), 2u);

    view.setCellText(List::Device, 0, 1, kDeviceIP);
    controller.library().shares.ClearShareList();
    controller.library().shares.add("../../.ssh");
    controller.FillVolumeList("nas1", kDeviceIP, false);
    selectVolume("../../.ssh");
    view.messages.clear();
    net->calls.clear();
    controller.OnConnect();
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    for (const auto& c : net->callsOf("add")) EXPECT_EQ(c.result, ERROR_BAD_NET_NAME);
    EXPECT_FALSE(net->connections.count('Z' - 'A'));
}

// ---- the main window against simulated boxes ------------------------------------

namespace {

using qs::test::kArchive;
using qs::test::kOffice;
using qs::test::kRender;

class MainWindow : public ::testing::Test {
protected:
    qs::test::SimBoxes lab;
    FakeMainView view;
    MainController controller{view};

    void SetUp() override {
        controller.library().setLink(lab.link());
        // Nothing else on the link holds an address.
        controller.checkAddress = [](const DeviceData_n&, int, std::uint32_t) { return AddressChangeCheck{}; };
        view.addItem(Combo::Dhcp, "Disable");
        view.addItem(Combo::Dhcp, "Enable");
        view.loginAnswer = LoginCredentials{"admin", "admin"};
        controller.start();
    }
    void TearDown() override { controller.shutdown(); }

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
    EXPECT_EQ(lab.heard[op_CHK_PASSWD], 2);
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

// ---- the LAN panel ---------------------------------------------------------------

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
    lab.silent = true;
    view.messages.clear();
    view.setCurrentIndex(Combo::Dhcp, 1);
    controller.OnApply();
    expectOnlyMessage("Set to dhcp client fail.", Caption::Error);
    EXPECT_EQ(controller.deviceSelected, 1);  // no search followed
}

// ---- the controller on its own ------------------------------------------------

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
