// quayside-win's volume list and drive mapping, driven off-screen on the
// real main dialog with the connections kept in memory: the drive-letter
// combo, the volume list, Connect with its question and its attempts by
// system version, Disconnect, and names that must never become paths.
#include "gvfs_netconnections.h"
#include "login_dialog.h"
#include "main_dialog.h"
#include "mount_message.h"
#include "netconnections.h"
#include "support/fake_net_connections.h"
#include "support/message_box_answerer.h"
#include "support/recording_message_sink.h"
#include "quayside/library.h"
#include "skinlistctrl.h"
#include "xskinbutton.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

using namespace qs;
using namespace qs::win;

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

// Answers the next MountMessage with OK or Cancel.
class MountAnswerer : public QObject {
public:
    explicit MountAnswerer(bool ok) : ok_(ok) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }
    int seen = 0;
    MountAnswer given = MountAnswer::Cancel;
    QStringList texts;
    QString title;
    bool skinned = false;

private:
    void poll() {
        auto* dlg = qobject_cast<MountMessage*>(QApplication::activeModalWidget());
        if (!dlg || dlg == last_) return;
        last_ = dlg;
        ++seen;
        title = dlg->windowTitle();
        for (QWidget* w : dlg->controls().statics)
            if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
        auto* ok = dlg->controls().get<skin::CxSkinButton>(1);
        auto* cancel = dlg->controls().get<skin::CxSkinButton>(2);
        skinned = ok && cancel && ok->text().isEmpty() && cancel->text().isEmpty();
        QTest::mouseClick(dlg->controls().get<QAbstractButton>(ok_ ? 1 : 2), Qt::LeftButton);
        given = dlg->answer();
    }
    bool ok_;
    QTimer timer_;
    QPointer<MountMessage> last_;
};

class Drives : public ::testing::Test {
protected:
    std::unique_ptr<CHarbor_scanDlg> dlg;
    FakeNetConnections* net = nullptr;
    RecordingMessageSink* messages = nullptr;

    void SetUp() override {
        auto sink = std::make_unique<RecordingMessageSink>();
        messages = sink.get();
        setMessageSink(std::move(sink));
        // No sockets: a search finds nothing at once.
        dlg = std::make_unique<CHarbor_scanDlg>();
        auto fake = std::make_unique<FakeNetConnections>();
        net = fake.get();
        dlg->controller().net = std::move(fake);
        // A system that names no Windows version, as on Linux.
        dlg->controller().versionQuery = systemVersionQuery();
        net->setDriveType('C', DRIVE_FIXED);
        net->setDriveType('D', DRIVE_CDROM);
        net->connect('Y', "\\\\10.0.0.5\\Volume_1");
    }
    void TearDown() override {
        dlg.reset();
    }

    // Start-up, then one device row selected with shares listed, as after a
    // device click.
    void start(const QString& ip = QString::fromLatin1(kDeviceIP),
               const std::vector<std::string>& shares = {"Volume_1", "Recycle Bin - Volume_1", "Volume_2"}) {
        dlg->OnInitDialog();
        dlg->show();
        QApplication::processEvents();
        auto* list = dlg->deviceList();
        const int row = list->InsertItem(0, QStringLiteral("nas1"));
        list->SetItemText(row, 1, ip);
        list->SetItemText(row, 2, QStringLiteral("255.255.255.0"));
        list->SetItemData(row, QByteArray(reinterpret_cast<const char*>(kDevice.data()), 8));
        const std::string key = MakeDeviceKey(kDevice);
        dlg->controller().loginCache.seed(key);
        dlg->controller().loginCache.accept(key, "admin", "secret");
        list->SetSelectedRow(row);
        for (const std::string& s : shares) dlg->controller().library().shares.add(s);
        dlg->controller().FillVolumeList("nas1", ip.toStdString(), false);
    }
    QStringList comboItems() const {
        QStringList items;
        for (int i = 0; i < dlg->driveLetterList()->count(); ++i) items << dlg->driveLetterList()->itemText(i);
        return items;
    }
    QString location(const QString& volume) const {
        auto* list = dlg->volumeList();
        for (int r = 0; r < list->GetItemCount(); ++r)
            if (list->GetItemText(r, 0) == volume) return list->GetItemText(r, 1);
        return QStringLiteral("<no row>");
    }
    int rowOf(const QString& volume) const {
        auto* list = dlg->volumeList();
        for (int r = 0; r < list->GetItemCount(); ++r)
            if (list->GetItemText(r, 0) == volume) return r;
        return -1;
    }
    void selectVolume(const QString& volume) { dlg->volumeList()->SetSelectedRow(rowOf(volume)); }
    void selectLetter(const QString& prefix) {
        QComboBox* combo = dlg->driveLetterList();
        for (int i = 0; i < combo->count(); ++i)
            if (combo->itemText(i).startsWith(prefix)) combo->setCurrentIndex(i);
    }
    void press(int id) { QTest::mouseClick(dlg->button(id), Qt::LeftButton); }
    std::vector<FakeNetConnections::Call> attemptsOn(const std::string& letter) const {
        std::vector<FakeNetConnections::Call> out;
        for (const auto& c : net->callsOf("add"))
            if (c.localName == letter) out.push_back(c);
        return out;
    }
    void expectOnlyMessage(const char* text, const char* caption, MessageIcon icon) {
        ASSERT_EQ(messages->messages.size(), 1u);
        EXPECT_EQ(messages->messages[0].text, QString::fromLatin1(text));
        EXPECT_EQ(messages->messages[0].caption, QString::fromLatin1(caption));
        EXPECT_EQ(messages->messages[0].icon, icon);
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
    QStringList expected{"Z:", "Y: \\\\10.0.0.5\\Volume_1"};
    for (char c = 'X'; c >= 'E'; --c) expected << QStringLiteral("%1:").arg(QLatin1Char(c));
    EXPECT_EQ(comboItems(), expected);
    EXPECT_EQ(dlg->driveLetterList()->currentIndex(), 0);
    EXPECT_EQ(dlg->driveLetterList()->currentText(), "Z:");

    const DriveTableEntry& y = dlg->controller().DriveTable[1];
    EXPECT_EQ(y.localName, "Y:");
    EXPECT_EQ(y.server, "10.0.0.5");
    EXPECT_EQ(y.share, "Volume_1");
    EXPECT_EQ(dlg->controller().DriveTable[0].localName, "Z:");
    EXPECT_TRUE(dlg->controller().DriveTable[0].server.empty());
    EXPECT_EQ(dlg->controller().DriveTable[25].localName, "A:");
    // The table asked for every letter from Z: to A:.
    const auto gets = net->callsOf("get");
    ASSERT_GE(gets.size(), 26u);
    EXPECT_EQ(gets[0].localName, "Z:");
    EXPECT_EQ(gets[25].localName, "A:");
}

TEST_F(Drives, FirstFreeLetterIsSelectedAfterConnectedOnes) {
    net->connect('Z', "\\\\10.0.0.5\\Volume_2");
    start();
    EXPECT_EQ(dlg->driveLetterList()->currentText(), "X:");
    EXPECT_EQ(dlg->controller().FindSpareDriveLetter("X:"), "W:");
    EXPECT_EQ(dlg->controller().FindSpareDriveLetter("W:"), "X:");
    EXPECT_EQ(dlg->controller().FindSpareDriveLetter(""), "X:");
    EXPECT_EQ(dlg->controller().FindLetterOfShare("Volume_2"), "Z:");
    EXPECT_EQ(dlg->controller().FindLetterOfShare("volume_2"), "");  // exact
    EXPECT_EQ(dlg->controller().FindLetterOfShare("Volume_1"), "Y:");
}

TEST_F(Drives, EveryLetterConnectedLeavesNoSelectionAndConnectSilent) {
    for (char c = 'E'; c <= 'Z'; ++c) net->connect(c, "\\\\10.0.0.5\\Share_" + std::string(1, c));
    start();
    EXPECT_EQ(comboItems().size(), 22);
    EXPECT_EQ(dlg->driveLetterList()->currentIndex(), -1);
    EXPECT_EQ(dlg->controller().FindSpareDriveLetter("Z:"), "");
    selectVolume(QStringLiteral("Volume_1"));
    const std::size_t before = net->calls.size();
    press(IDC_CONNECT);
    EXPECT_TRUE(messages->messages.empty());
    EXPECT_EQ(net->calls.size(), before);
}

// A remembered letter whose share is not there now keeps its place: the
// combo shows it in use, the recycle bin does not take it, the volume list
// names it.
TEST_F(Drives, RememberedButUnavailableLetterIsNotFree) {
    net->remember('Z', "\\\\192.168.0.20\\Volume_1");
    start();
    EXPECT_EQ(comboItems().at(0), "Z: \\\\192.168.0.20\\Volume_1");
    EXPECT_EQ(dlg->driveLetterList()->currentText(), "X:");
    EXPECT_EQ(dlg->controller().FindSpareDriveLetter("X:"), "W:");
    EXPECT_EQ(location("Volume_1"), "Z:");
}

// Start-up does not wait for the remembered connections; when they are
// back, the table and the combo are read again on the window's thread, and
// the letter the user chose meanwhile stays chosen.
TEST_F(Drives, RestoresEndingLaterRefreshTheLettersOnTheWindowThread) {
    start();
    ASSERT_TRUE(net->restored);
    selectLetter(QStringLiteral("T:"));
    net->connect('W', "\\\\192.168.0.20\\Volume_2");
    std::thread([this] { net->restored(); }).join();
    EXPECT_EQ(comboItems().at(3), "W:");  // not from the worker's thread
    QApplication::processEvents();
    EXPECT_EQ(comboItems().at(3), "W: \\\\192.168.0.20\\Volume_2");
    EXPECT_EQ(dlg->controller().DriveTable[3].share, "Volume_2");
    EXPECT_EQ(dlg->driveLetterList()->currentText(), "T:");
}

// ---- volume list ------------------------------------------------------------------

TEST_F(Drives, VolumeListLeavesOutRecycleBinsAndShowsTheLetterNearestA) {
    net->connect('K', "\\\\192.168.0.20\\VOLUME_1");
    net->connect('R', "\\\\192.168.0.20\\Volume_1");
    net->connect('S', "\\\\NAS1\\volume_2");  // by name, any case
    net->connect('T', "\\\\192.168.0.21\\Volume_2");  // another device
    start(QString::fromLatin1(kDeviceIP), {"Volume_1", "Recycle Bin - Volume_1", "Volume_2", "Recycle Bin", "recycle bin x"});
    auto* list = dlg->volumeList();
    ASSERT_EQ(list->GetItemCount(), 3);
    EXPECT_EQ(list->GetItemText(0, 0), "Volume_1");
    EXPECT_EQ(list->GetItemText(1, 0), "Volume_2");
    EXPECT_EQ(list->GetItemText(2, 0), "recycle bin x");  // only the exact prefix is left out
    EXPECT_EQ(location("Volume_1"), "K:");
    EXPECT_EQ(location("Volume_2"), "S:");
    // The exact-server switch: "NAS1" is not "nas1".
    dlg->controller().FillVolumeList("nas1", kDeviceIP, true);
    EXPECT_EQ(location("Volume_2"), "");
    EXPECT_EQ(location("Volume_1"), "K:");
}

// A volume finds its letter whatever the case of its name, in any script.
TEST_F(Drives, ShareNamesMatchInAnyCase) {
    net->connect('P', "\\\\192.168.0.20\\ÄRCHIV");
    start(QString::fromLatin1(kDeviceIP), {"ärchiv"});
    EXPECT_EQ(location(QStringLiteral("ärchiv")), "P:");
}

TEST_F(Drives, PortSwitchRebuildsWithTheRealTable) {
    net->connect('Q', "\\\\192.168.0.20\\Volume_2");
    start();
    dlg->controller().RebuildVolumeList(kDeviceIP);
    EXPECT_EQ(dlg->volumeList()->GetItemCount(), 3);  // recycle bins included there
    EXPECT_EQ(location("Volume_2"), "Q:");
    EXPECT_EQ(location("Volume_1"), "");
}

// ---- Connect ----------------------------------------------------------------------

// Devices send tokens with a lock mark: the list shows the volume's name, the
// mapping uses it, and a locked volume is not mapped at all.
TEST_F(Drives, ShareTokensListAsNamesAndALockedVolumeIsNotMapped) {
    net->connections.erase('Y' - 'A');
    start(QString::fromLatin1(kDeviceIP), {"Public@5", "Media*6", "Recycle Bin - Public", "Recycle Bin - Media"});
    auto* list = dlg->volumeList();
    ASSERT_EQ(list->GetItemCount(), 2);
    EXPECT_EQ(list->GetItemText(0, 0), "Public");
    EXPECT_EQ(list->GetItemText(1, 0), "Media");

    selectVolume(QStringLiteral("Media"));
    press(IDC_CONNECT);
    expectOnlyMessage("Media is Locked.", "Warning", MessageIcon::Warning);
    EXPECT_TRUE(net->callsOf("add").empty());
    EXPECT_TRUE(net->callsOf("cancel").empty());

    messages->messages.clear();
    selectVolume(QStringLiteral("Public"));
    press(IDC_CONNECT);
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    const auto adds = net->callsOf("add");
    ASSERT_EQ(adds.size(), 2u);
    EXPECT_EQ(adds[0].remoteName, "\\\\192.168.0.20\\Public");
    EXPECT_EQ(adds[1].remoteName, "\\\\192.168.0.20\\Recycle Bin - Public");
    EXPECT_EQ(location("Public"), "Z:");
}

// A share name that reads like markup shows as it is in the real message
// box, never as a link.
TEST_F(Drives, LockedShareNamedLikeMarkupIsShownAsPlainText) {
    const QString name = QStringLiteral("<a href=\"http://x/\">Public</a>");
    setMessageSink(nullptr);
    start(QString::fromLatin1(kDeviceIP), {name.toStdString() + "*6"});
    selectVolume(name);
    qs::test::MessageBoxAnswerer box;
    press(IDC_CONNECT);
    EXPECT_EQ(box.format, Qt::PlainText);
    EXPECT_EQ(box.text, name + " is Locked.");
}

TEST_F(Drives, ConnectMapsTheVolumeAndItsRecycleBin) {
    dlg->controller().setCredentials({"admin", "secret"});
    dlg->controller().loginPurpose = LoginPurpose::Configuration;
    net->connections.erase('Y' - 'A');
    start();
    selectVolume(QStringLiteral("Volume_1"));
    press(IDC_CONNECT);
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    EXPECT_TRUE(dlg->controller().credentials().user.empty());
    EXPECT_TRUE(dlg->controller().credentials().password.empty());
    EXPECT_EQ(dlg->controller().loginPurpose, LoginPurpose::ShareAccess);
    EXPECT_EQ(dlg->controller().currentDeviceIP, kDeviceIP);

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
    EXPECT_EQ(dlg->driveLetterList()->currentText(), "X:");
    EXPECT_EQ(location("Volume_1"), "Z:");
    EXPECT_EQ(dlg->volumeList()->GetItemCount(), 2);
}

TEST_F(Drives, RecycleBinTakesTheFirstOtherFreeLetter) {
    start();  // Y: is taken by \\10.0.0.5\Volume_1
    selectVolume(QStringLiteral("Volume_2"));
    press(IDC_CONNECT);
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    const auto adds = net->callsOf("add");
    ASSERT_EQ(adds.size(), 2u);
    EXPECT_EQ(adds[0].localName, "Z:");
    EXPECT_EQ(adds[0].remoteName, "\\\\192.168.0.20\\Volume_2");
    EXPECT_EQ(adds[1].localName, "X:");
    EXPECT_EQ(adds[1].remoteName, "\\\\192.168.0.20\\Recycle Bin - Volume_2");
}

TEST_F(Drives, NoSpareLetterMapsTheVolumeWithoutItsRecycleBin) {
    for (char c = 'E'; c <= 'X'; ++c) net->connect(c, "\\\\10.0.0.5\\Share_" + std::string(1, c));
    start();
    ASSERT_EQ(dlg->driveLetterList()->currentText(), "Z:");
    selectVolume(QStringLiteral("Volume_1"));
    press(IDC_CONNECT);
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    ASSERT_EQ(net->callsOf("add").size(), 1u);
}

TEST_F(Drives, ConnectWithoutADeviceOrVolumeRowAsksForOne) {
    start();
    press(IDC_CONNECT);  // no volume row
    expectOnlyMessage("Please select a device in the above section.", "Warning", MessageIcon::Warning);
    messages->messages.clear();
    dlg->deviceList()->clearSelection();
    selectVolume(QStringLiteral("Volume_1"));
    press(IDC_CONNECT);
    expectOnlyMessage("Please select a device in the above section.", "Warning", MessageIcon::Warning);
    EXPECT_TRUE(net->callsOf("add").empty());
    EXPECT_TRUE(net->callsOf("cancel").empty());
}

TEST_F(Drives, LetterInUseAsksAndOkDisconnectsItEvenWhenMappingFails) {
    start();
    selectVolume(QStringLiteral("Volume_1"));
    selectLetter(QStringLiteral("Y:"));
    ASSERT_EQ(dlg->driveLetterList()->currentText(), "Y: \\\\10.0.0.5\\Volume_1");
    net->addResults = {ERROR_ACCESS_DENIED, ERROR_INVALID_PASSWORD};
    MountAnswerer answer(true);
    press(IDC_CONNECT);
    EXPECT_EQ(answer.seen, 1);
    EXPECT_EQ(answer.texts, (QStringList{"The drive letter has been used.", "Do you still want to use this drive letter?"}));
    EXPECT_TRUE(answer.title.isEmpty());
    EXPECT_TRUE(answer.skinned);
    EXPECT_EQ(answer.given, MountAnswer::UseLetter);
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    const auto cancels = net->callsOf("cancel");
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].localName, "Y:");
    EXPECT_EQ(cancels[0].result, NO_ERROR);
    EXPECT_FALSE(net->connections.count('Y' - 'A'));  // stays removed
    // Nothing refreshed.
    EXPECT_EQ(dlg->driveLetterList()->currentText(), "Y: \\\\10.0.0.5\\Volume_1");
    EXPECT_EQ(dlg->controller().DriveTable[1].server, "10.0.0.5");
}

TEST_F(Drives, LetterInUseCancelledChangesNothing) {
    start();
    selectVolume(QStringLiteral("Volume_1"));
    selectLetter(QStringLiteral("Y:"));
    MountAnswerer answer(false);
    press(IDC_CONNECT);
    EXPECT_EQ(answer.seen, 1);
    EXPECT_EQ(answer.given, MountAnswer::Cancel);
    EXPECT_TRUE(messages->messages.empty());
    EXPECT_TRUE(net->callsOf("cancel").empty());
    EXPECT_TRUE(net->callsOf("add").empty());
    EXPECT_TRUE(net->connections.count('Y' - 'A'));
}

TEST_F(Drives, OtherSystemTriesGuestThenTheCachedCredentials) {
    start();
    selectVolume(QStringLiteral("Volume_1"));
    net->addResults = {ERROR_ACCESS_DENIED};
    press(IDC_CONNECT);
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
    selectVolume(QStringLiteral("Volume_1"));
    net->addResults = {ERROR_ACCESS_DENIED, ERROR_INVALID_PASSWORD};
    press(IDC_CONNECT);
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    EXPECT_EQ(net->callsOf("add").size(), 2u);
    EXPECT_EQ(dlg->driveLetterList()->currentText(), "Z:");
}

TEST_F(Drives, WindowsXpTriesEmptyCredentialsThenTheCachedOnes) {
    dlg->controller().versionQuery = systemOf(OsVersionInfo::NT, 5, 1);
    start();
    selectVolume(QStringLiteral("Volume_1"));
    press(IDC_CONNECT);  // the guest attempt works
    ASSERT_EQ(attemptsOn("Z:").size(), 1u);
    EXPECT_EQ(credentialsOf(attemptsOn("Z:")[0]), kEmpty);
    EXPECT_EQ(credentialsOf(attemptsOn("X:")[0]), PassedCredentials{});

    net->calls.clear();
    messages->messages.clear();
    net->connections.clear();
    net->connect('Y', "\\\\10.0.0.5\\Volume_1");
    dlg->controller().RefreshDriveTable();
    dlg->controller().FillDriveLetterCombo();
    selectVolume(QStringLiteral("Volume_1"));
    net->addResults = {ERROR_ACCESS_DENIED};
    press(IDC_CONNECT);
    const auto z = attemptsOn("Z:");
    ASSERT_EQ(z.size(), 2u);
    EXPECT_EQ(credentialsOf(z[1]), kCached);
}

TEST_F(Drives, VistaClassRetriesWithTheSystemPrompt) {
    dlg->controller().versionQuery = systemOf(OsVersionInfo::NT, 6, 1);
    start();
    selectVolume(QStringLiteral("Volume_1"));
    net->addResults = {ERROR_ACCESS_DENIED};
    press(IDC_CONNECT);
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
    dlg->controller().versionQuery = systemOf(OsVersionInfo::NT, 6, 0);
    start();
    selectVolume(QStringLiteral("Volume_1"));
    net->addResults = {ERROR_ACCESS_DENIED, ERROR_CANCELLED};
    press(IDC_CONNECT);
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    EXPECT_EQ(attemptsOn("Z:").size(), 2u);
}

TEST_F(Drives, WindowsNtMakesSixAttemptsWithTheCachedCredentials) {
    dlg->controller().versionQuery = systemOf(OsVersionInfo::NT, 4, 0);
    start();
    selectVolume(QStringLiteral("Volume_1"));
    net->addResults = std::deque<DWORD>(6, ERROR_INVALID_PASSWORD);
    press(IDC_CONNECT);
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
    dlg->controller().versionQuery = systemOf(OsVersionInfo::NT, 4, 0);
    start();
    selectVolume(QStringLiteral("Volume_1"));
    net->addResults = {ERROR_INVALID_PASSWORD, ERROR_INVALID_PASSWORD};
    press(IDC_CONNECT);
    expectOnlyMessage(kMapped, "Confirm", MessageIcon::Information);
    EXPECT_EQ(attemptsOn("Z:").size(), 3u);
    ASSERT_EQ(attemptsOn("X:").size(), 1u);
    EXPECT_EQ(credentialsOf(attemptsOn("X:")[0]), kCached);
}

// ---- Disconnect -------------------------------------------------------------------

TEST_F(Drives, DisconnectOfARowWithoutLocationCannotDisconnect) {
    start();
    selectVolume(QStringLiteral("Volume_2"));
    ASSERT_EQ(location("Volume_2"), "");
    press(IDC_DISCONNECT);
    expectOnlyMessage(kUnable, "Error", MessageIcon::Error);
    EXPECT_TRUE(net->connections.count('Y' - 'A'));
}

TEST_F(Drives, DisconnectThroughTheComboItem) {
    start();
    selectLetter(QStringLiteral("Y:"));
    press(IDC_DISCONNECT);
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
    ASSERT_EQ(dlg->driveLetterList()->currentIndex(), -1);
    press(IDC_DISCONNECT);
    EXPECT_TRUE(messages->messages.empty());
    EXPECT_TRUE(net->callsOf("cancel").empty());
}

TEST_F(Drives, DisconnectOfAMappedVolumeTakesItsRecycleBinToo) {
    net->connections.erase('Y' - 'A');
    start();
    selectVolume(QStringLiteral("Volume_1"));
    press(IDC_CONNECT);
    ASSERT_EQ(location("Volume_1"), "Z:");
    messages->messages.clear();
    net->calls.clear();
    selectVolume(QStringLiteral("Volume_1"));
    press(IDC_DISCONNECT);
    expectOnlyMessage(kUnmapped, "Confirm", MessageIcon::Information);
    const auto cancels = net->callsOf("cancel");
    ASSERT_EQ(cancels.size(), 2u);
    EXPECT_EQ(cancels[0].localName, "Z:");
    EXPECT_EQ(cancels[1].localName, "Y:");
    EXPECT_TRUE(net->connections.empty());
    EXPECT_EQ(location("Volume_1"), "");  // the list for the selected device again
    EXPECT_EQ(comboItems().at(0), "Z:");
}

TEST_F(Drives, ASelectedRowScrolledAboveTheViewIsNoSelection) {
    std::vector<std::string> many;
    for (int i = 0; i < 30; ++i) many.push_back("Vol_" + std::to_string(i));
    net->connect('R', "\\\\192.168.0.20\\Vol_0");
    start(QString::fromLatin1(kDeviceIP), many);
    selectVolume(QStringLiteral("Vol_0"));
    dlg->volumeList()->scrollRows(10);
    ASSERT_GT(dlg->volumeList()->verticalPosition(), 0);
    // Falls back on the combo's item (Z:, not connected).
    press(IDC_DISCONNECT);
    expectOnlyMessage(kUnable, "Error", MessageIcon::Error);
    EXPECT_TRUE(net->connections.count('R' - 'A'));
}

// ---- screen readers -----------------------------------------------------------------

// A screen reader tells the lists, the combo boxes and the address fields
// apart by their names.
TEST_F(Drives, ListsCombosAndAddressFieldsHaveNames) {
    start();
    auto named = [this](const char* name) {
        QList<QWidget*> found;
        for (QWidget* w : dlg->findChildren<QWidget*>())
            if (w->accessibleName() == QLatin1String(name)) found << w;
        return found;
    };
    const std::pair<const char*, QWidget*> expected[] = {
        {"Devices", dlg->deviceList()},       {"Volumes", dlg->volumeList()},
        {"Interface", dlg->portList()},       {"Receive DHCP", dlg->dhcpList()},
        {"IP", dlg->ipField()},               {"Netmask", dlg->netmaskField()},
        {"Gateway", dlg->gatewayField()},     {"Available Drive Letters", dlg->driveLetterList()},
    };
    for (const auto& [name, widget] : expected) {
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(named(name), QList<QWidget*>{widget}) << name;
    }
    EXPECT_EQ(named("Gateway, part 4 of 4"), QList<QWidget*>{static_cast<QWidget*>(dlg->gatewayField()->field(3))});
}

// ---- hostile names ------------------------------------------------------------------

TEST_F(Drives, HostileAddressOrShareIsRefused) {
    start(QStringLiteral("1;rm -rf ~"));
    selectVolume(QStringLiteral("Volume_1"));
    press(IDC_CONNECT);
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    for (const auto& c : net->callsOf("add")) EXPECT_EQ(c.result, ERROR_BAD_NET_NAME);
    EXPECT_EQ(net->callsOf("add").size(), 2u);

    dlg->deviceList()->SetItemText(0, 1, QString::fromLatin1(kDeviceIP));
    dlg->controller().library().shares.ClearShareList();
    dlg->controller().library().shares.add("../../.ssh");
    dlg->controller().FillVolumeList("nas1", kDeviceIP, false);
    selectVolume(QStringLiteral("../../.ssh"));
    messages->messages.clear();
    net->calls.clear();
    press(IDC_CONNECT);
    expectOnlyMessage(kMapFailed, "Error", MessageIcon::Error);
    for (const auto& c : net->callsOf("add")) EXPECT_EQ(c.result, ERROR_BAD_NET_NAME);
    EXPECT_FALSE(net->connections.count('Z' - 'A'));
}

TEST(RemoteNames, OnlyDottedAddressesAndPublishableShares) {
    const auto ok = parseRemoteName("\\\\192.168.0.20\\Recycle Bin - Volume_1");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->server, "192.168.0.20");
    EXPECT_EQ(ok->share, "Recycle Bin - Volume_1");
    for (const char* bad : {"\\\\1;rm -rf ~\\Volume_1", "\\\\nas1\\Volume_1", "\\\\10.0.0.256\\V", "\\\\10.0.0\\V",
                            "\\\\10.0.0.5\\../../.ssh", "\\\\10.0.0.5\\..", "\\\\10.0.0.5\\a\\b", "\\\\10.0.0.5\\",
                            "\\\\10.0.0.5\\a\nb", "\\\\10.0.0.5\\a:b", "//10.0.0.5/V", "\\\\10.0.0.5", "\\\\010.0.0.5\\V"})
        EXPECT_FALSE(parseRemoteName(bad)) << bad;
    EXPECT_EQ(driveIndex("Z:"), 25);
    EXPECT_EQ(driveIndex("c:\\"), 2);
    EXPECT_FALSE(driveIndex("Z"));
    EXPECT_FALSE(driveIndex("../Z:"));
    EXPECT_FALSE(driveIndex("1:"));
}

// The GVfs connections refuse the same names before anything is mounted or
// written, and read nothing hostile from their table.
TEST(GvfsNames, HostileNamesNeverReachAPath) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_STATE_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    {
        GvfsNetConnections conns;
        EXPECT_EQ(conns.WNetAddConnection2A("Z:", "\\\\1;rm -rf ~\\Volume_1", "x", "admin", CONNECT_UPDATE_PROFILE),
                  ERROR_BAD_NET_NAME);
        EXPECT_EQ(conns.WNetAddConnection2A("Z:", "\\\\10.0.0.5\\../../.ssh", "x", "admin", CONNECT_UPDATE_PROFILE),
                  ERROR_BAD_NET_NAME);
        EXPECT_EQ(conns.WNetAddConnection2A("../x", "\\\\10.0.0.5\\Volume_1", "x", "admin", 0), ERROR_BAD_DEVICE);
        EXPECT_EQ(conns.WNetCancelConnection2A("Z:", CONNECT_UPDATE_PROFILE, true), ERROR_NOT_CONNECTED);
        EXPECT_EQ(conns.WNetCancelConnection2A("", CONNECT_UPDATE_PROFILE, true), ERROR_NOT_CONNECTED);
        char buffer[kRemoteNameBuffer];
        DWORD length = kRemoteNameBuffer;
        EXPECT_EQ(conns.WNetGetConnectionA("Z:", buffer, &length), ERROR_NOT_CONNECTED);
        EXPECT_EQ(conns.GetDriveTypeA("Z:"), DRIVE_NO_ROOT_DIR);
        EXPECT_EQ(conns.GetDriveTypeA("C:\\"), DRIVE_NO_ROOT_DIR);
    }
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{});

    // A table with a hostile entry beside a good one: only the good one.
    QDir(home.path()).mkpath(QStringLiteral(".local/state/quayside"));
    QFile table(home.path() + QStringLiteral("/.local/state/quayside/drives.json"));
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write(R"({"drives": [
        {"localName": "Y:", "remoteName": "\\\\10.0.0.5\\..\\..\\.ssh", "userName": "admin"},
        {"localName": "../../X:", "remoteName": "\\\\10.0.0.5\\Volume_1", "userName": "admin"},
        {"localName": "W:", "remoteName": "\\\\10.0.0.5\\Volume_1", "userName": "admin"}]})");
    table.close();
    {
        GvfsNetConnections conns;
        char buffer[kRemoteNameBuffer];
        DWORD length = kRemoteNameBuffer;
        EXPECT_EQ(conns.WNetGetConnectionA("Y:", buffer, &length), ERROR_NOT_CONNECTED);
        EXPECT_EQ(conns.WNetGetConnectionA("X:", buffer, &length), ERROR_NOT_CONNECTED);
        // Remembered but not mounted: named, and unavailable.
        EXPECT_EQ(conns.WNetGetConnectionA("W:", buffer, &length), ERROR_CONNECTION_UNAVAIL);
        EXPECT_STREQ(buffer, "\\\\10.0.0.5\\Volume_1");
        EXPECT_EQ(conns.GetDriveTypeA("W:"), DRIVE_REMOTE);
        // Forgetting it needs no mount.
        EXPECT_EQ(conns.WNetCancelConnection2A("W:", CONNECT_UPDATE_PROFILE, true), NO_ERROR);
        EXPECT_EQ(conns.WNetGetConnectionA("W:", buffer, &length), ERROR_NOT_CONNECTED);
    }
    ASSERT_TRUE(table.open(QIODevice::ReadOnly));
    EXPECT_FALSE(table.readAll().contains("W:"));
    qputenv("HOME", oldHome);
}

// Two copies of the program on one table: each reads it again before it
// changes it, so neither writes back a letter the other has forgotten, and
// a letter another copy has linked is taken for both.
TEST(GvfsNames, TwoCopiesShareOneTableAndTheirLinks) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_STATE_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    QDir(home.path()).mkpath(QStringLiteral(".local/state/quayside"));
    QFile table(home.path() + QStringLiteral("/.local/state/quayside/drives.json"));
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write(R"({"drives": [
        {"localName": "W:", "remoteName": "\\\\10.0.0.5\\Volume_1", "userName": "admin"},
        {"localName": "V:", "remoteName": "\\\\10.0.0.5\\Volume_2", "userName": "admin"}]})");
    table.close();
    {
        GvfsNetConnections a, b;
        a.timeoutMs = b.timeoutMs = 2000;
        char buffer[kRemoteNameBuffer];
        DWORD length = kRemoteNameBuffer;
        ASSERT_EQ(a.WNetCancelConnection2A("W:", CONNECT_UPDATE_PROFILE, true), NO_ERROR);
        EXPECT_EQ(b.WNetGetConnectionA("W:", buffer, &length), ERROR_NOT_CONNECTED);
        ASSERT_EQ(b.WNetCancelConnection2A("V:", CONNECT_UPDATE_PROFILE, true), NO_ERROR);
        ASSERT_TRUE(table.open(QIODevice::ReadOnly));
        const QByteArray left = table.readAll();
        table.close();
        EXPECT_FALSE(left.contains("W:")) << left.toStdString();
        EXPECT_FALSE(left.contains("V:")) << left.toStdString();

        // A link another copy has made and not yet written down.
        QDir(home.path()).mkpath(QStringLiteral("Network Drives"));
        const std::string link = GvfsNetConnections::linkPath('X' - 'A');
        ASSERT_EQ(::symlink(home.path().toStdString().c_str(), link.c_str()), 0);
        EXPECT_EQ(a.GetDriveTypeA("X:"), DRIVE_REMOTE);
        length = kRemoteNameBuffer;
        EXPECT_NE(a.WNetGetConnectionA("X:", buffer, &length), ERROR_NOT_CONNECTED);
        EXPECT_EQ(b.WNetAddConnection2A("X:", "\\\\10.0.0.5\\Volume_1", "x", "admin", 0), ERROR_ALREADY_ASSIGNED);
        EXPECT_EQ(QFileInfo(QString::fromStdString(link)).symLinkTarget(), home.path());
        // Disconnecting it takes only the link away.
        EXPECT_EQ(b.WNetCancelConnection2A("X:", CONNECT_UPDATE_PROFILE, true), NO_ERROR);
        EXPECT_EQ(a.GetDriveTypeA("X:"), DRIVE_NO_ROOT_DIR);
        EXPECT_TRUE(QDir(home.path()).exists());
    }
    qputenv("HOME", oldHome);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The dialog's own connections read their table from the home
    // directory: a fresh one, never the user's.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
