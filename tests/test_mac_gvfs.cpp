// quayside-mac's mount and unmount for real: the controller's scripts run on
// the interpreter over GVfs, against the GVfs lab's private smbd on
// 127.0.0.9 (a user share and guest shares, one named with "#", "@", "%"
// and a blank; the host names "vsb-lab" and "dead-box", where no server
// answers, known to the lab's session only: nothing is looked up outside the
// machine). Needs root, Samba, GVfs with FUSE; skipped, with the reason,
// otherwise.
#include "gvfs_mount_platform.h"
#include "main_controller.h"
#include "support/fake_toolkit.h"
#include "support/gvfs_lab.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

using namespace qs;
using namespace qs::mac;
using namespace qs::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

Lab* lab = nullptr;

bool isLink(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class MacGvfs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        lab = new Lab;
        lab->guestShare = true;
        lab->hosts = {{"vsb-lab", kLabServer}, {"dead-box", "127.0.0.10"}};
        lab->start();
    }
    static void TearDownTestSuite() {
        lab->stop();
        delete lab;
        lab = nullptr;
    }

    PollRunLoop loop;
    FakeToolkit toolkit;
    std::shared_ptr<GvfsMountPlatform> platform;
    std::unique_ptr<MainController> ctl;

    void SetUp() override {
        if (!lab->skip.empty()) GTEST_SKIP() << "GVfs lab unavailable: " << lab->skip;
        platform = std::make_shared<GvfsMountPlatform>();
        platform->timeoutMs = 20000;
        MainController::Options options;
        options.packager.sendOverride = [](ByteView) {};
        options.mountPlatform = platform;
        ctl = std::make_unique<MainController>(loop, toolkit, std::move(options));
        ctl->awakeFromNib();
        box("vsb-lab");
        ctl->packager().volumeArray() = {
            {kLabGuestShare, "", false}, {"Volume_1", "", false}, {kLabOddShare, "", false}};
        toolkit.selected = {0, 0};
    }
    void TearDown() override {
        if (!lab->skip.empty() || !ctl) return;
        // Nothing stays mounted for the next test.
        for (int row : {0, 1, 2}) {
            toolkit.selected[1] = row;
            ctl->unmountVolume();
        }
    }
    void box(const std::string& host) {
        auto d = std::make_shared<DeviceData_n>();
        d->hostname = host;
        d->port[0].IP = kLabServer;
        ctl->packager().serverArray() = {d};
    }
    std::string volume(const std::string& name) { return platform->places().volumes + "/" + name; }
    std::string marker() { return platform->places().markers + "/" + kLabServer + "_no_pass_fail"; }
    void skipWithoutFuse() {
        if (toolkit.alerts.back() == "Failed to map drive." && !fs::exists(lab->runtime + "/gvfs"))
            GTEST_SKIP() << "no FUSE view of GVfs at " << lab->runtime << "/gvfs";
    }
};

TEST_F(MacGvfs, GuestMountByHostNameWritesThroughTheVolume) {
    ctl->btnMountPressed();
    skipWithoutFuse();
    ASSERT_EQ(toolkit.alerts, std::vector<std::string>{"Successfully mapped drive."}) << platform->lastScript().error;
    ASSERT_TRUE(isLink(volume("Public")));
    {
        std::ofstream(volume("Public") + "/hello.txt") << "from quayside-mac";
    }
    std::ifstream in(lab->publicShare + "/hello.txt");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "from quayside-mac");
    const auto lines = platform->mountOutput();
    ASSERT_TRUE(lines && lines->size() == 1u);
    EXPECT_EQ(lines->front().find("//guest@vsb-lab/"), 0u) << lines->front();
    char folder[1024];
    ASSERT_TRUE(ctl->getRealMountPath(folder, sizeof folder, "vsb-lab", "Public")) << lines->front();
    EXPECT_STREQ(folder, "Public");
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_FALSE(fs::exists(std::string("/tmp/") + kLabServer + "_no_pass_fail"));
}

// A share named with what an address uses itself ("#", "@", "%", a blank)
// mounts under its own name, is listed, and unmounts.
TEST_F(MacGvfs, ShareNamedWithAddressSyntax) {
    toolkit.selected[1] = 2;
    ctl->btnMountPressed();
    skipWithoutFuse();
    ASSERT_EQ(toolkit.alerts, std::vector<std::string>{"Successfully mapped drive."}) << platform->lastScript().error;
    ASSERT_TRUE(isLink(volume(kLabOddShare)));
    {
        std::ofstream(volume(kLabOddShare) + "/odd.txt") << "through an odd name";
    }
    std::ifstream in(lab->publicShare + "/odd.txt");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "through an odd name");
    const auto lines = platform->mountOutput();
    ASSERT_TRUE(lines && lines->size() == 1u);
    EXPECT_EQ(lines->front().find("//guest@vsb-lab/a%23b%40c%251%20e on "), 0u) << lines->front();
    char folder[1024];
    ASSERT_TRUE(ctl->getRealMountPath(folder, sizeof folder, "vsb-lab", kLabOddShare)) << lines->front();
    EXPECT_STREQ(folder, kLabOddShare);

    ctl->btnUnmountPressed();
    EXPECT_EQ(toolkit.alerts.back(), "Successfully unmapped drive.");
    EXPECT_FALSE(isLink(volume(kLabOddShare)));
    EXPECT_TRUE(platform->mountOutput()->empty());
}

TEST_F(MacGvfs, HostNameWithoutAServerFallsBackToTheAddress) {
    box("dead-box");
    ctl->btnMountPressed();
    skipWithoutFuse();
    ASSERT_EQ(toolkit.alerts, std::vector<std::string>{"Successfully mapped drive."});
    const auto lines = platform->mountOutput();
    ASSERT_TRUE(lines && lines->size() == 1u);
    EXPECT_NE(lines->front().find(std::string("@") + kLabServer + "/"), std::string::npos) << lines->front();

    ctl->btnUnmountPressed();
    EXPECT_EQ(toolkit.alerts.back(), "Successfully unmapped drive.");
    EXPECT_FALSE(isLink(volume("Public")));
}

TEST_F(MacGvfs, MountingAgainEjectsFirstAndUnmountTwice) {
    ctl->btnMountPressed();
    skipWithoutFuse();
    ctl->btnMountPressed();
    EXPECT_EQ(toolkit.alerts,
              (std::vector<std::string>{"Successfully mapped drive.", "Successfully mapped drive."}));
    EXPECT_TRUE(isLink(volume("Public")));
    EXPECT_FALSE(isLink(volume("Public-1"))) << "the first mount was ejected";

    ctl->btnUnmountPressed();
    EXPECT_EQ(toolkit.alerts.back(), "Successfully unmapped drive.");
    ctl->btnUnmountPressed();
    EXPECT_EQ(toolkit.alerts.back(),
              "Unable to disconnect this drive.\nPlease select a drive to disconnect and verify that the drive is not "
              "being accessed.");
    EXPECT_FALSE(isLink(volume("Public")));
}

// Two boxes with a share of the same name (one known by its host name, the
// lab's server; one without a name, at the server's address): the second is
// linked as "Public-1" and still unmounts once the first is gone; so does a
// mount whose remembered request is lost, listed with GVfs's own lower-case
// share name.
TEST_F(MacGvfs, SharesOfTheSameNameOnTwoBoxesUnmount) {
    auto named = std::make_shared<DeviceData_n>(), bare = std::make_shared<DeviceData_n>();
    named->hostname = "vsb-lab";
    named->port[0].IP = "127.0.0.10";  // where no server answers: it is reached by name
    bare->port[0].IP = kLabServer;
    ctl->packager().serverArray() = {named, bare};
    ctl->btnMountPressed();
    skipWithoutFuse();
    toolkit.selected[0] = 1;
    ctl->btnMountPressed();
    ASSERT_EQ(toolkit.alerts, (std::vector<std::string>{"Successfully mapped drive.", "Successfully mapped drive."}))
        << platform->lastScript().error;
    ASSERT_TRUE(isLink(volume("Public-1")));

    toolkit.selected[0] = 0;
    ctl->btnUnmountPressed();
    EXPECT_EQ(toolkit.alerts.back(), "Successfully unmapped drive.");
    EXPECT_FALSE(isLink(volume("Public")));
    toolkit.selected[0] = 1;
    ctl->btnUnmountPressed();
    EXPECT_EQ(toolkit.alerts.back(), "Successfully unmapped drive.");
    EXPECT_FALSE(isLink(volume("Public-1")));

    ctl->btnMountPressed();
    ASSERT_EQ(toolkit.alerts.back(), "Successfully mapped drive.");
    fs::remove(platform->places().markers + "/volumes");
    ctl->btnUnmountPressed();
    EXPECT_EQ(toolkit.alerts.back(), "Successfully unmapped drive.");
    EXPECT_TRUE(platform->mountOutput()->empty());
}

TEST_F(MacGvfs, CredentialsMountAndAWrongPassword) {
    toolkit.selected[1] = 1;  // Volume_1: the lab's user only
    ctl->btnMountPressed();
    EXPECT_EQ(toolkit.alerts.back(), "Failed to map drive.") << "no guest access";

    ctl->setCalledAction(Action::Mount);
    ctl->openLoginSheet();
    toolkit.setStringValue(Field::UserName, "admin");
    toolkit.setStringValue(Field::Password, "wrong");
    ctl->btnOKPressed();
    EXPECT_EQ(toolkit.alerts.back(), "Failed to map drive.");

    ctl->setCalledAction(Action::Mount);
    ctl->openLoginSheet();
    toolkit.setStringValue(Field::UserName, "admin");
    toolkit.setStringValue(Field::Password, kLabPassword);
    ctl->btnOKPressed();
    skipWithoutFuse();
    EXPECT_EQ(toolkit.alerts.back(), "Successfully mapped drive.");
    EXPECT_TRUE(isLink(volume("Volume_1")));
    EXPECT_EQ(ctl->pendingAction(), Action::None);
    const auto lines = platform->mountOutput();
    ASSERT_TRUE(lines && !lines->empty());
    EXPECT_EQ(lines->front().find(std::string("//admin@") + kLabServer + "/Volume_1 on "), 0u) << lines->front();
}

}  // namespace
