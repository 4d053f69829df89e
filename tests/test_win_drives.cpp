// quayside-win's main dialog driven off-screen with the connections kept in
// memory, for what only the dialog shows: the letter-in-use question, the
// message box, the lists' scrolling, the names screen readers hear and the
// work posted back onto its thread; and names that must never become paths.
#include "gvfs_net_connections.h"
#include "main_dialog.h"
#include "mount_message.h"
#include "support/fake_net_connections.h"
#include "support/message_box_answerer.h"
#include "support/recording_message_sink.h"
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
const char* kUnable =
    "Unable to disconnect this drive.\nPlease select a drive to disconnect and verify that the drive is not being "
    "accessed.";

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
        list->SetItemData(row, QByteArray(reinterpret_cast<const char*>(kDevice.data()), 8));
        list->SetSelectedRow(row);
        for (const std::string& s : shares) dlg->controller().library().shares.add(s);
        dlg->controller().FillVolumeList("nas1", ip.toStdString(), false);
    }
    QStringList comboItems() const {
        QStringList items;
        for (int i = 0; i < dlg->driveLetterList()->count(); ++i) items << dlg->driveLetterList()->itemText(i);
        return items;
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
};

}  // namespace

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

TEST_F(Drives, LetterInUseCancelledChangesNothing) {
    start();
    selectVolume(QStringLiteral("Volume_1"));
    selectLetter(QStringLiteral("Y:"));
    MountAnswerer answer(false);
    press(IDC_CONNECT);
    EXPECT_EQ(answer.seen, 1);
    EXPECT_EQ(answer.texts, (QStringList{"The drive letter has been used.", "Do you still want to use this drive letter?"}));
    EXPECT_TRUE(answer.title.isEmpty());
    EXPECT_TRUE(answer.skinned);
    EXPECT_EQ(answer.given, MountAnswer::Cancel);
    EXPECT_TRUE(messages->messages.empty());
    EXPECT_TRUE(net->callsOf("cancel").empty());
    EXPECT_TRUE(net->callsOf("add").empty());
    EXPECT_TRUE(net->connections.count('Y' - 'A'));
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
    ASSERT_EQ(messages->messages.size(), 1u);
    EXPECT_EQ(messages->messages[0].text, QString::fromLatin1(kUnable));
    EXPECT_EQ(messages->messages[0].caption, "Error");
    EXPECT_EQ(messages->messages[0].icon, MessageIcon::Error);
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
