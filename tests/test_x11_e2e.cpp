// Both programs on a real X server (Xvfb), driven with real input events
// (xdotool, through XTest), against vsb-sim --lab with its web pages and file
// shares, in a GVfs session of their own (private bus, home and runtime
// directories). What the off-screen platform cannot show is checked here:
// the window's shape, what the window really shows, modal dialogs, focus
// and typing, and the whole path from a click on a box to a file written
// through a mapped drive and read back from the lab's smbd.
//
// Each test runs in a network namespace of its own (only its loopback), so
// the lab's addresses are its own. Controls are found by position:
// quayside-win's from its dialog templates (through the program's own
// conversion of dialog units), quayside-mac's from its Designer form laid
// out off-screen in this process at the size the window has on the X
// server. QS_X11_KEEP=DIR keeps a copy of every window capture there.
//
// Needs root (network namespace, the lab's port 80 and Samba, FUSE mounts)
// and Xvfb, xdotool, xwd, convert and xdg-settings; skipped, saying why,
// otherwise (in CI, a missing tool fails instead).
#include "dialog_template.h"
#include "main_window.h"
#include "memdc.h"
#include "qt_runloop.h"
#include "skinlistctrl.h"
#include "support/gvfs_lab.h"
#include "support/lab.h"
#include "support/netns.h"
#include "support/x11_shape.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QTableView>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <net/if.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qs::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The lab's boxes these tests use (vsb-sim --lab).
constexpr const char* kArchiveAddress = "127.0.0.3";  // vsb-archive: "Public@5:Media*6:Recycle Bin - Public"
constexpr const char* kReceptionAddress = "127.0.0.2";  // vsb-reception: "Volume_1*6:Volume_2@5:..." (guests on Volume_2)
const std::vector<std::pair<std::string, std::string>> kLabHosts = {
    {"vsb-reception", "127.0.0.2"}, {"vsb-archive", "127.0.0.3"}, {"vsb-render", "127.0.0.4"}, {"vsb-legacy", "127.0.0.5"}};

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string paths = std::string(path ? path : "") + ":/usr/bin:/bin:/usr/sbin:/sbin";
    std::size_t at = 0;
    while (at <= paths.size()) {
        const std::size_t colon = std::min(paths.find(':', at), paths.size());
        const std::string candidate = paths.substr(at, colon - at) + "/" + name;
        if (colon > at && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        at = colon + 1;
    }
    return {};
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(100ms);
    }
}

// ---- the X server and input -------------------------------------------------

RunResult xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    return run(args, {}, 10s);
}

// Visible windows whose name matches `pattern` (a regular expression).
std::vector<std::string> windowsNamed(const std::string& pattern) {
    const RunResult r = xdotool({"search", "--onlyvisible", "--name", pattern});
    std::vector<std::string> ids;
    std::istringstream in(r.out);
    for (std::string id; in >> id;) ids.push_back(id);
    return ids;
}

// The first visible window named `pattern` that is not one of `besides`.
std::string waitForWindow(const std::string& pattern, std::chrono::milliseconds limit = 20s,
                          const std::vector<std::string>& besides = {}) {
    std::string found;
    waitUntil(
        [&] {
            for (const std::string& id : windowsNamed(pattern))
                if (std::find(besides.begin(), besides.end(), id) == besides.end()) return !(found = id).empty();
            return false;
        },
        limit);
    return found;
}

bool waitForWindowGone(const std::string& id, std::chrono::milliseconds limit = 10s) {
    return waitUntil(
        [&] {
            const auto shown = windowsNamed(".*");
            return std::find(shown.begin(), shown.end(), id) == shown.end();
        },
        limit);
}

QRect geometryOf(const std::string& id) {
    const RunResult r = xdotool({"getwindowgeometry", "--shell", id});
    std::map<std::string, int> v;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos && line.compare(0, 6, "SCREEN") != 0)
            v[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    return QRect(v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]);
}

// A left click at (x, y) of the window: the pointer moves there, then a real
// button press and release.
void click(const std::string& window, QPoint at) {
    const RunResult r = xdotool({"mousemove", "--sync", "--window", window, std::to_string(at.x()), std::to_string(at.y()),
                                 "click", "1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::this_thread::sleep_for(150ms);
}

// Keys typed into the window (the input focus is moved there first).
void focus(const std::string& window) {
    xdotool({"mousemove", "--window", window, "5", "5"});
    xdotool({"windowfocus", "--sync", window});
}
void typeText(const std::string& window, const std::string& text) {
    focus(window);
    const RunResult r = xdotool({"type", "--delay", "20", text});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}
void pressKey(const std::string& window, const std::string& key) {
    focus(window);
    const RunResult r = xdotool({"key", key});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

bool captureWindow(const std::string& id, const std::string& png);

// Where captures go (the running test's folder).
std::string captureDir = "/tmp";

// A modal message box: the first window named `pattern` (other than
// `besides`) to come up within `limit`, captured, answered with Return (its
// OK button is the default) and gone afterwards. Its caption; nothing when
// none came up or it stayed.
std::string answerMessage(const std::string& pattern, std::chrono::milliseconds limit,
                          const std::vector<std::string>& besides = {}) {
    const std::string box = waitForWindow(pattern, limit, besides);
    if (box.empty()) return {};
    std::string caption = xdotool({"getwindowname", box}).out;
    while (!caption.empty() && caption.back() == '\n') caption.pop_back();
    static int shown = 0;
    captureWindow(box, captureDir + "/message-" + std::to_string(++shown) + ".png");
    pressKey(box, "Return");
    return waitForWindowGone(box) ? caption : std::string();
}

// The window's bounding shape, as the X server has it, against the eleven
// rectangles of the rounded outline: every pixel in or out as expected.
::testing::AssertionResult hasRoundedShape(const std::string& display, const std::string& id) {
    const auto shape = boundingShape(display, std::stoul(id));
    if (!shape) return ::testing::AssertionFailure() << "no window " << id << " on " << display;
    const int W = shape->width, H = shape->height;
    std::vector<char> got(std::size_t(W) * std::size_t(H), 0), want(got.size(), 0);
    for (const ShapeRect& r : shape->rects)
        for (int y = std::max(0, r.y); y < std::min(H, r.y + r.height); ++y)
            for (int x = std::max(0, r.x); x < std::min(W, r.x + r.width); ++x)
                got[std::size_t(y) * std::size_t(W) + std::size_t(x)] = 1;
    // Left to right: x from, y from, x to, y to (ends exclusive).
    const int outline[11][4] = {{0, 5, 1, H - 5},         {1, 3, 2, H - 3},         {2, 2, 3, H - 2},
                                {3, 1, 4, H - 1},         {4, 1, 5, H - 1},         {5, 1, W - 5, H},
                                {W - 5, 1, W - 4, H - 1}, {W - 4, 2, W - 3, H - 2}, {W - 3, 2, W - 2, H - 2},
                                {W - 2, 3, W - 1, H - 3}, {W - 1, 5, W, H - 5}};
    for (const auto& r : outline)
        for (int y = r[1]; y < r[3]; ++y)
            for (int x = r[0]; x < r[2]; ++x) want[std::size_t(y) * std::size_t(W) + std::size_t(x)] = 1;
    std::size_t wrong = 0;
    int firstX = -1, firstY = -1;
    for (std::size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i] && wrong++ == 0) firstX = int(i % std::size_t(W)), firstY = int(i / std::size_t(W));
    if (wrong == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong << " of " << W << "x" << H << " pixels are shaped wrongly (first at "
                                         << firstX << "," << firstY << "; the server has " << shape->rects.size() << " rectangles)";
}

// The window's own contents (not the root window's, where an ARGB window
// reads black), written as PNG.
// With QS_X11_KEEP naming a folder, a copy of every capture goes there.
bool captureWindow(const std::string& id, const std::string& png) {
    const std::string xwdFile = png + ".xwd";
    const RunResult shot = run({"xwd", "-silent", "-id", id, "-out", xwdFile}, {}, 20s);
    if (shot.exitCode != 0) return false;
    const RunResult converted = run({"convert", xwdFile, png}, {}, 30s);
    ::unlink(xwdFile.c_str());
    if (const char* keep = std::getenv("QS_X11_KEEP"); keep && converted.exitCode == 0) {
        std::error_code ec;
        fs::copy_file(png, fs::path(keep) / fs::path(png).filename(), fs::copy_options::overwrite_existing, ec);
    }
    return converted.exitCode == 0;
}

// How wide the text in `band` of the picture is drawn: from its leftmost to
// its rightmost dark pixel; 0 when there is none.
int inkWidth(const QImage& picture, const QRect& band) {
    int left = INT_MAX, right = -1;
    const QRect inside = band.intersected(picture.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (qGray(picture.pixel(x, y)) < 100) left = std::min(left, x), right = std::max(right, x);
    return right < 0 ? 0 : right - left + 1;
}

// ---- the desktop: X server, lab and session ------------------------------------

// This process (and all it starts from now on) in a network namespace of its
// own with just its loopback up: the lab's addresses are private to the test,
// whatever else runs a lab on this machine.
bool ownLoopback() {
    if (::unshare(CLONE_NEWNET) != 0) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq lo{};
    std::snprintf(lo.ifr_name, sizeof lo.ifr_name, "lo");
    const bool up = ::ioctl(fd, SIOCGIFFLAGS, &lo) == 0 && (lo.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &lo) == 0);
    ::close(fd);
    return up;
}

// Pieces the tests need; empty when everything is there.
std::string missingTools() {
    std::string missing;
    for (const char* tool : {"Xvfb", "xdotool", "xwd", "convert", "xdg-settings"})
        if (findOnPath(tool).empty()) missing += std::string(missing.empty() ? "" : ", ") + tool;
    if (missing.empty()) return {};
    return "missing " + missing + " (Debian packages xvfb, xdotool, x11-apps, imagemagick, xdg-utils; scripts/setup.sh installs them)";
}

class X11EndToEnd : public ::testing::Test {
protected:
    Lab session;
    Child xvfb, sim, program;
    std::string display;
    std::string dir;   // this test's own files: captures, stand-in browser's record
    std::string simErrors;
    // Boxes the lab has besides its own four.
    std::vector<json> extraDevices;
    // Whether the lab runs (tests with boxes of their own elsewhere set it
    // false).
    bool startLab = true;

    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root (a network namespace, the lab's web pages on port 80 and file shares, FUSE mounts)";
        if (const std::string why = missingTools(); !why.empty()) {
            if (std::getenv("CI")) FAIL() << why;
            GTEST_SKIP() << why;
        }
        ASSERT_TRUE(ownLoopback()) << "no network namespace of its own";
        session.hosts = kLabHosts;
        session.start();
        if (!session.skip.empty()) GTEST_SKIP() << "no GVfs session: " << session.skip;
        dir = session.dir + "/x11";
        fs::create_directories(dir);
        captureDir = dir;
        ASSERT_TRUE(startXvfb()) << "Xvfb did not start";
        session.unsetEnv("QT_QPA_PLATFORM");
        session.unsetEnv("WAYLAND_DISPLAY");
        session.setEnv("XDG_DATA_HOME", session.home + "/.local/share");
        session.setEnv("RECORD_ARGS_FILE", dir + "/browser-args");
        installBrowser();

        if (!startLab) return;
        // Starting the file servers takes a second or two.
        std::vector<std::string> simArgs{simBin(), "--lab"};
        if (!extraDevices.empty()) simArgs.insert(simArgs.end(), {"--config", tempFile(simConfig(extraDevices))});
        ASSERT_TRUE(sim.start(simArgs)) << "vsb-sim did not start";
        const bool ready = sim.waitForLine("ready", 30s);
        simErrors = sim.errors();
        ASSERT_TRUE(ready) << "vsb-sim --lab did not start:\n" << simErrors;
        ASSERT_EQ(simErrors.find("no file shares"), std::string::npos)
            << "the lab has no file shares (another lab running?):\n" << simErrors;
        ASSERT_EQ(simErrors.find("no web pages"), std::string::npos) << simErrors;
    }

    void TearDown() override {
        program.stop();
        sim.stop();
        xvfb.stop();
        session.stop();
    }

    // On the first free display from :90 on, without TCP.
    bool startXvfb() {
        for (int n = 90; n < 130; ++n) {
            const std::string number = std::to_string(n);
            if (fs::exists("/tmp/.X11-unix/X" + number) || fs::exists("/tmp/.X" + number + "-lock")) continue;
            if (!xvfb.start({findOnPath("Xvfb"), ":" + number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                             "-noreset"}))
                return false;
            if (waitUntil([&] { return fs::exists("/tmp/.X11-unix/X" + number) || !xvfb.running(); }, 10s) &&
                xvfb.running()) {
                display = ":" + number;
                session.setEnv("DISPLAY", display);
                // The server answers once a client gets through.
                return waitUntil([&] { return xdotool({"getmouselocation"}).exitCode == 0; }, 10s);
            }
            xvfb.stop();
        }
        return false;
    }

    // The desktop's web browser, as xdg-settings reads it from the session's
    // settings: a stand-in that writes down its arguments.
    void installBrowser() {
        fs::create_directories(session.home + "/.config");
        fs::create_directories(session.home + "/.local/share/applications");
        writeText(session.home + "/.config/mimeapps.list",
                  "[Default Applications]\nx-scheme-handler/http=quayside-standin.desktop\n"
                  "x-scheme-handler/https=quayside-standin.desktop\ntext/html=quayside-standin.desktop\n");
        writeText(session.home + "/.local/share/applications/quayside-standin.desktop",
                  "[Desktop Entry]\nType=Application\nName=Stand-in browser\nExec=" + binDir() +
                      "/record-args %u\n");
    }

    void startProgram(const std::string& name) {
        ASSERT_TRUE(program.start({binDir() + "/" + name, "--loopback"})) << name << " did not start";
    }

    std::string browserArguments() { return readText(dir + "/browser-args"); }

    // The file through the path, then back from the lab's smbd with the
    // box's user.
    void roundTrip(const std::string& localFolder, const std::string& address, const std::string& share,
                   const std::string& user) {
        const std::string name = "x11-e2e.txt";
        const std::string content = "written through " + localFolder + "\n";
        {
            std::ofstream out(localFolder + "/" + name, std::ios::binary);
            out << content;
            ASSERT_TRUE(out.good()) << "cannot write through " << localFolder;
        }
        const std::string back = dir + "/back.txt";
        std::vector<std::string> argv{session.smbclient, "-s", "/dev/null", "//" + address + "/" + share};
        if (user.empty())
            argv.push_back("-N");
        else
            argv.insert(argv.end(), {"-U", user});
        argv.insert(argv.end(), {"-c", "get " + name + " " + back});
        const RunResult r = run(argv, {}, 30s);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(readText(back), content);
    }

    std::string programErrors() { return program.errors(); }

    // Whether the cell of the window shows some text now (a capture of it).
    bool inked(const std::string& window, const QRect& cell) {
        const std::string png = dir + "/inked.png";
        QImage shot;
        return captureWindow(window, png) && shot.load(QString::fromStdString(png)) && inkWidth(shot, cell) > 0;
    }
};

// ---- quayside-win ---------------------------------------------------------------

// Where controls of the main window are, in window coordinates.
struct WinLayout {
    std::map<int, QRect> controls;  // by control id
    int rowHeight = 0;

    static WinLayout load() {
        WinLayout l;
        const auto t = qs::win::loadDialogTemplate(102);
        if (!t) return l;
        for (const auto& c : t->controls)
            if (c.id >= 0) l.controls[c.id] = qs::win::dluToPixels(c.rect);
        // A row of the skinned list in the dialog's list font.
        qs::skin::CSkinListCtrl list;
        list.Init();
        list.setFont(qs::skin::skinFont(13));
        list.InsertColumn(0, QStringLiteral("Name"), 94);
        list.InsertItem(0, QStringLiteral("vsb-archive"));
        l.rowHeight = list.firstRowHeight();
        return l;
    }
    QPoint centre(int id) const { return controls.at(id).center(); }
    // The cell of `row` in the first column (`width` wide) of list `id`.
    QRect cell(int id, int row, int width) const {
        const QRect r = controls.at(id);
        return QRect(r.x() + 2, r.y() + 1 + qs::skin::kHeaderHeight + rowHeight * row, width - 4, rowHeight);
    }
    // Somewhere inside that cell, for a click.
    QPoint row(int id, int row) const { return cell(id, row, 60).center(); }
};

// Control ids of template 102.
constexpr int kDeviceList = 1000, kVolumeList = 1001, kConfiguration = 1008, kConnect = 1003, kDisconnect = 1004,
              kExit = 1009, kIpField = 1006, kApply = 1007;
// The width of the volume list's first column ("Volume Name").
constexpr int kVolumeNameWidth = 120;

QApplication& offscreenApp() {
    static int argc = 1;
    static char name[] = "x11_e2e_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        // Only this process lays out off-screen; the programs use the X server.
        const QByteArray before = qgetenv("QT_QPA_PLATFORM");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new QApplication(argc, argv);
        if (before.isEmpty())
            qunsetenv("QT_QPA_PLATFORM");
        else
            qputenv("QT_QPA_PLATFORM", before);
        return a;
    }();
    return *app;
}

TEST_F(X11EndToEnd, WinMapsAVolumeOpensTheWebPagesAndExits) {
    offscreenApp();
    const WinLayout layout = WinLayout::load();
    ASSERT_FALSE(layout.controls.empty()) << "template 102 did not load";
    ASSERT_GT(layout.rowHeight, 0);

    const auto started = Clock::now();
    startProgram("quayside-win");
    // The first search runs before the window shows.
    const std::string main = waitForWindow("^Tarnex Storage Utility$", 30s);
    ASSERT_FALSE(main.empty()) << "no main window\n" << programErrors();
    // The shape, and what the window shows once painted: its own pixels,
    // mostly not black.
    EXPECT_TRUE(hasRoundedShape(display, main));
    const std::string png = dir + "/quayside-win.png";
    QImage shot;
    const auto lit = [&] {
        qsizetype n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) n += (shot.pixel(x, y) & 0xffffff) != 0;
        return n;
    };
    const qsizetype half = qsizetype(geometryOf(main).width()) * geometryOf(main).height() / 2;
    waitUntil([&] { return captureWindow(main, png) && shot.load(QString::fromStdString(png)) && lit() > half; }, 5s);
    ASSERT_FALSE(shot.isNull()) << "no capture of the window";
    EXPECT_EQ(shot.size(), geometryOf(main).size());
    EXPECT_GT(lit(), half) << "the window reads mostly black";

    // vsb-archive (the second box, as the lab answers) and its login.
    click(main, layout.row(kDeviceList, 1));
    const std::string login = waitForWindow("^Login$", 10s);
    ASSERT_FALSE(login.empty()) << "no login dialog after a click on a box";
    typeText(login, "admin");
    pressKey(login, "Tab");
    typeText(login, "admin");
    pressKey(login, "Return");
    ASSERT_TRUE(waitForWindowGone(login)) << "the login dialog stayed";
    EXPECT_TRUE(windowsNamed("^Error$").empty()) << "the login was refused";

    // The volume list shows the volumes' names, without the device's marks:
    // "Public" and "Media", drawn as wide as those words, not "Public@5"
    // and "Media*6".
    const QFontMetrics metrics(qs::skin::skinFont(13));
    QImage afterLogin;
    const auto volumeCell = [&](int row) { return layout.cell(kVolumeList, row, kVolumeNameWidth); };
    waitUntil(
        [&] {
            return captureWindow(main, dir + "/quayside-win-volumes.png") &&
                   afterLogin.load(QString::fromStdString(dir + "/quayside-win-volumes.png")) &&
                   inkWidth(afterLogin, volumeCell(1)) > 0;
        },
        10s);
    ASSERT_GT(inkWidth(afterLogin, volumeCell(1)), 0) << "the volume list stayed empty";
    EXPECT_NEAR(inkWidth(afterLogin, volumeCell(0)), metrics.tightBoundingRect(QStringLiteral("Public")).width(), 2)
        << "the first volume is not shown as \"Public\"";
    EXPECT_NEAR(inkWidth(afterLogin, volumeCell(1)), metrics.tightBoundingRect(QStringLiteral("Media")).width(), 2)
        << "the second volume is not shown as \"Media\"";

    // Public onto Z:.
    click(main, layout.row(kVolumeList, 0));
    click(main, layout.centre(kConnect));
    // "Successfully mapped drive." comes in a box captioned Confirm, a
    // failure in one captioned Error (see the captures with QS_X11_KEEP).
    ASSERT_EQ(answerMessage("^(Confirm|Error|Warning)$", 60s), "Confirm")
        << "Connect did not map \\\\" << kArchiveAddress << "\\Public";
    const std::string drive = session.home + "/Network Drives/Z:";
    ASSERT_TRUE(fs::is_directory(drive)) << drive << " is no folder after the mapping";
    roundTrip(drive, kArchiveAddress, "Public", "admin%admin");

    // Configuration: the device's pages in the desktop's browser.
    click(main, layout.centre(kConfiguration));
    ASSERT_TRUE(waitUntil([&] { return !browserArguments().empty(); }, 15s)) << "no browser was started";
    EXPECT_EQ(browserArguments(), binDir() + "/record-args\nhttp://" + kArchiveAddress + "\n");

    // Disconnect the selected volume.
    click(main, layout.row(kVolumeList, 0));
    click(main, layout.centre(kDisconnect));
    ASSERT_EQ(answerMessage("^(Confirm|Error|Warning)$", 30s), "Confirm") << "Disconnect did not confirm";
    EXPECT_FALSE(fs::exists(drive)) << drive << " outlived Disconnect";

    click(main, layout.centre(kExit));
    EXPECT_TRUE(waitUntil([&] { return windowsNamed("^Tarnex Storage Utility$").empty(); }, 10s));
    program.waitForLine("\x01", 10s);  // returns once the program has ended
    EXPECT_FALSE(program.running()) << "the program did not end";
    std::printf("quayside-win walked through in %.1f s\n",
                std::chrono::duration<double>(Clock::now() - started).count());
}

// A box that answers late, and a user who clicks the next box while its
// answers are still due: whatever the window shows afterwards belongs to
// the box the user is on. quayside-win's device operations block its
// window's thread, so the click waits in the X server's queue until the
// late box's login and share list are done, and is then taken as a click
// of its own.
TEST_F(X11EndToEnd, WinShowsOnlyTheBoxTheUserIsOnWhenTheOtherAnswersLate) {
    offscreenApp();
    const WinLayout layout = WinLayout::load();
    ASSERT_FALSE(layout.controls.empty()) << "template 102 did not load";
    // Two boxes of this test's own in place of the lab: one quick, one
    // answering every request 0.9 s late (a search stops listening about a
    // second after the last new box, so a later one would not be listed).
    sim.stop();
    const std::string config = dir + "/late-box.json";
    ASSERT_TRUE(writeText(config, R"({"devices": [
        {"serverUUID": "00AA000000000001", "hostname": "vsb-next", "model": "VSB-720K",
         "ports": [{"IP": "127.0.0.7", "netmask": "255.0.0.0"}], "shares": "Next"},
        {"serverUUID": "00AA000000000002", "hostname": "vsb-late", "model": "VSB-720K",
         "ports": [{"IP": "127.0.0.6", "netmask": "255.0.0.0"}], "shares": "Late_Volume_Wide_Name",
         "delayMs": 900}]})"));
    ASSERT_TRUE(sim.start({simBin(), "--config", config, "--loopback"}));
    ASSERT_TRUE(sim.waitForLine("ready", 30s)) << sim.errors();

    startProgram("quayside-win");
    const std::string main = waitForWindow("^Tarnex Storage Utility$", 30s);
    ASSERT_FALSE(main.empty()) << "no main window\n" << programErrors();
    const QFontMetrics metrics(qs::skin::skinFont(13));
    const auto width = [&](const char* text) { return metrics.tightBoundingRect(QString::fromLatin1(text)).width(); };
    QImage shot;
    const std::string png = dir + "/quayside-win-late.png";
    const auto inkIn = [&](const QRect& cell) {
        return captureWindow(main, png) && shot.load(QString::fromStdString(png)) ? inkWidth(shot, cell) : -1;
    };
    // The quick box answers the search first: row 0 is vsb-next, row 1 vsb-late.
    ASSERT_TRUE(waitUntil([&] { return inkIn(layout.cell(kDeviceList, 1, 94)) > 0; }, 10s))
        << "the search did not list both boxes";

    // The late box: its login, then at once a click on the other box while
    // the password check and the share list are still waiting for it.
    click(main, layout.row(kDeviceList, 1));
    const std::string login = waitForWindow("^Login$", 10s);
    ASSERT_FALSE(login.empty()) << "no login dialog after a click on the late box";
    typeText(login, "admin");
    pressKey(login, "Tab");
    typeText(login, "admin");
    pressKey(login, "Return");
    const auto answered = Clock::now();
    ASSERT_TRUE(waitForWindowGone(login)) << "the login dialog stayed";
    click(main, layout.row(kDeviceList, 0));
    // Two answers of 0.9 s each were due: the click must come while they
    // are, or this test shows nothing.
    if (Clock::now() - answered > 1500ms) GTEST_SKIP() << "the click came too late to come in between";
    // The click is taken once the late box has answered: the other box's
    // login.
    const std::string again = waitForWindow("^Login$", 20s, {login});
    EXPECT_FALSE(again.empty()) << "the click on the other box was lost\n" << programErrors();
    if (!again.empty()) {
        typeText(again, "admin");
        pressKey(again, "Tab");
        typeText(again, "admin");
        pressKey(again, "Return");
        ASSERT_TRUE(waitForWindowGone(again)) << "the login dialog stayed";
    }
    EXPECT_TRUE(windowsNamed("^(Error|Warning)$").empty()) << "a message came up";

    // The volume list shows the other box's one volume, and nothing of the
    // late box's, however late its answers came.
    const auto volumeCell = [&](int row) { return layout.cell(kVolumeList, row, kVolumeNameWidth); };
    ASSERT_TRUE(waitUntil([&] { return inkIn(volumeCell(0)) > 0; }, 10s)) << "the volume list stayed empty";
    std::this_thread::sleep_for(3s);  // anything the late box still had to say has come
    EXPECT_NEAR(inkIn(volumeCell(0)), width("Next"), 2) << "the volume shown is not the other box's \"Next\"";
    EXPECT_EQ(inkIn(volumeCell(1)), 0) << "a second volume is shown";

    click(main, layout.centre(kExit));
    EXPECT_TRUE(waitUntil([&] { return windowsNamed("^Tarnex Storage Utility$").empty(); }, 10s));
}

// ---- quayside-mac ---------------------------------------------------------------

// Where the form's widgets are at the window's size, laid out off-screen.
struct MacLayout {
    QRect deviceRow0, deviceRow1, deviceRow3, volumeRow0, volumeRow1, volumeRow2;  // the rows' first cells
    QPoint mount, unmount, exit, ip, apply;

    static MacLayout at(QSize size) {
        MacLayout l;
        qs::mac::QtRunLoop loop;
        qs::mac::MainWindow window(loop, qs::mac::MainController::Options{});
        window.resize(size);
        window.show();
        QApplication::processEvents();
        auto rowCell = [&](QTableView* table, int row) {
            const int h = table->verticalHeader()->defaultSectionSize();
            return QRect(table->viewport()->mapTo(&window, QPoint(4, h * row)), QSize(table->columnWidth(0) - 8, h));
        };
        auto centre = [&](QWidget* w) { return w->mapTo(&window, w->rect().center()); };
        l.deviceRow0 = rowCell(window.deviceTable(), 0);
        l.deviceRow1 = rowCell(window.deviceTable(), 1);
        l.deviceRow3 = rowCell(window.deviceTable(), 3);
        l.volumeRow0 = rowCell(window.volumeTable(), 0);
        l.volumeRow1 = rowCell(window.volumeTable(), 1);
        l.volumeRow2 = rowCell(window.volumeTable(), 2);
        l.mount = centre(window.button(qs::mac::Button::Connect));
        l.unmount = centre(window.button(qs::mac::Button::Disconnect));
        l.exit = centre(window.findChild<QPushButton*>(QStringLiteral("btnExit")));
        l.ip = centre(window.findChild<QWidget*>(QStringLiteral("txfIP")));
        l.apply = centre(window.button(qs::mac::Button::Apply));
        window.hide();
        return l;
    }
};

TEST_F(X11EndToEnd, MacLogsInMountsWritesAndUnmounts) {
    offscreenApp();
    const auto started = Clock::now();
    startProgram("quayside-mac");
    const std::string main = waitForWindow("^Tarnex Storage Utility$", 30s);
    ASSERT_FALSE(main.empty()) << "no main window\n" << programErrors();
    const MacLayout layout = MacLayout::at(geometryOf(main).size());
    // Waits until the row shows some text.
    const auto rowShown = [&](const QRect& cell) {
        const std::string png = dir + "/quayside-mac.png";
        QImage shot;
        return waitUntil([&] { return captureWindow(main, png) && shot.load(QString::fromStdString(png)) &&
                                      inkWidth(shot, cell) > 0; },
                         10s);
    };

    // vsb-reception (the second box by name): the sheet asks for its password.
    ASSERT_TRUE(rowShown(layout.deviceRow1)) << "the search found no second box";
    click(main, layout.deviceRow1.center());
    const std::string sheet = waitForWindow("^Administrator login$", 10s);
    ASSERT_FALSE(sheet.empty()) << "no login sheet after a click on a box\n" << programErrors();
    typeText(sheet, "admin");
    pressKey(sheet, "Return");
    ASSERT_TRUE(waitForWindowGone(sheet)) << "the sheet stayed";

    // Volume_2 (the second volume, open to guests), mounted.
    ASSERT_TRUE(rowShown(layout.volumeRow1)) << "no second volume after the login";
    click(main, layout.volumeRow1.center());
    click(main, layout.mount);
    ASSERT_FALSE(answerMessage("^Tarnex Storage Utility$", 60s, {main}).empty()) << "no alert after Mount";
    const std::string volume = session.home + "/Volumes/Volume_2";
    ASSERT_TRUE(fs::is_directory(volume)) << volume << " is no folder after Mount\n" << programErrors();
    roundTrip(volume, kReceptionAddress, "Volume_2", "");

    click(main, layout.unmount);
    ASSERT_FALSE(answerMessage("^Tarnex Storage Utility$", 30s, {main}).empty()) << "no alert after Unmount";
    EXPECT_FALSE(fs::exists(volume)) << volume << " outlived Unmount";

    click(main, layout.exit);
    EXPECT_TRUE(waitUntil([&] { return windowsNamed("^Tarnex Storage Utility$").empty(); }, 10s));
    program.waitForLine("\x01", 10s);  // returns once the program has ended
    EXPECT_FALSE(program.running()) << "the program did not end";
    std::printf("quayside-mac walked through in %.1f s\n",
                std::chrono::duration<double>(Clock::now() - started).count());
}

// The lab with a fifth box that answers everything 2 s late.
class X11LateBox : public X11EndToEnd {
protected:
    X11LateBox() {
        json late = simDevice("00000000000000d5", "vsb-late", "VSB-720K", "127.0.0.6");
        late["shares"] = "Late_1:Late_2:Late_3";
        late["delayMs"] = 2000;
        extraDevices = {late};
    }
};

// The user logs in to the late box and, while its share list is on the
// way, clicks vsb-archive: the late list never shows as vsb-archive's, and
// vsb-archive's own login shows its own two volumes.
TEST_F(X11LateBox, MacShowsALateBoxsVolumesOnlyForThatBox) {
    offscreenApp();
    startProgram("quayside-mac");
    const std::string main = waitForWindow("^Tarnex Storage Utility$", 30s);
    ASSERT_FALSE(main.empty()) << "no main window\n" << programErrors();
    const MacLayout layout = MacLayout::at(geometryOf(main).size());
    const auto inked = [&](const QRect& cell) { return X11EndToEnd::inked(main, cell); };
    // By name: vsb-archive, vsb-late, vsb-reception, vsb-render.
    ASSERT_TRUE(waitUntil([&] { return inked(layout.deviceRow3); }, 15s)) << "the late box was not found";

    click(main, layout.deviceRow1.center());
    std::string sheet = waitForWindow("^Administrator login$", 10s);
    ASSERT_FALSE(sheet.empty()) << "no login sheet for the late box\n" << programErrors();
    typeText(sheet, "admin");
    pressKey(sheet, "Return");
    ASSERT_TRUE(waitForWindowGone(sheet));
    // Its acceptance comes after 2 s and the share list 2 s after that;
    // the user moves on in between.
    std::this_thread::sleep_for(2800ms);
    click(main, layout.deviceRow0.center());
    sheet = waitForWindow("^Administrator login$", 10s);
    ASSERT_FALSE(sheet.empty()) << "no login sheet for vsb-archive";
    std::this_thread::sleep_for(3000ms);  // the late share list has come
    EXPECT_FALSE(inked(layout.volumeRow0)) << "the late box's volumes show while vsb-archive is chosen";

    typeText(sheet, "admin");
    pressKey(sheet, "Return");
    ASSERT_TRUE(waitForWindowGone(sheet));
    EXPECT_TRUE(waitUntil([&] { return inked(layout.volumeRow1); }, 10s)) << "vsb-archive's volumes did not show";
    EXPECT_FALSE(inked(layout.volumeRow2)) << "vsb-archive has two volumes; a third is the late box's";
}

// ---- a box on a shared segment ---------------------------------------------------

// One box on an office LAN of network namespaces (a bridge as the switch):
// the program's host (10.231.7.1), the box (10.231.7.2) and a third host
// that holds 10.231.7.3. The program runs in its host's namespace and shows
// on this test's X server.
class X11Segment : public X11EndToEnd {
protected:
    std::unique_ptr<Netns> hub, client, devices, third;
    X11Segment() { startLab = false; }

    void SetUp() override {
        X11EndToEnd::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string why;
        if (!Netns::available(&why)) GTEST_SKIP() << why;
        hub = std::make_unique<Netns>("xs");
        client = std::make_unique<Netns>("xc");
        devices = std::make_unique<Netns>("xd");
        third = std::make_unique<Netns>("xt");
        ASSERT_TRUE(hub->ok() && client->ok() && devices->ok() && third->ok()) << "could not create namespaces";
        ASSERT_TRUE(segment(*hub,
                            {{client.get(), "10.231.7.1/24"}, {devices.get(), "10.231.7.2/24"},
                             {third.get(), "10.231.7.3/24"}},
                            &why))
            << why;
        const std::string config = dir + "/segment.json";
        json box = simDevice("00000000000000e1", "vsb-office", "VSB-720K", "10.231.7.2");
        box["ports"][0]["gateway"] = "10.231.7.254";
        ASSERT_TRUE(writeText(config, simConfig({box})));
        ASSERT_TRUE(sim.start(devices->exec({simBin(), "--config", config, "--verbose"})));
        ASSERT_TRUE(sim.waitForLine("ready", 30s)) << sim.errors();
    }

    void startOnClient(const std::string& name) {
        ASSERT_TRUE(program.start(client->exec({binDir() + "/" + name}))) << name << " did not start";
    }
    // Settings changes (opcode 106) and password checks (102) the box got.
    int received(int opcode) {
        const std::string log = sim.errors(), mark = "op " + std::to_string(opcode) + " from ";
        int n = 0;
        for (std::size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) ++n;
        return n;
    }
};

// quayside-win: the address the third host holds is asked about, and
// Cancel sends nothing. A free address then goes to the box, which keeps
// answering at its old one: the user is told where it answers.
TEST_F(X11Segment, WinAsksBeforeTakingAnAddressInUseAndSaysWhereTheBoxAnswers) {
    offscreenApp();
    const WinLayout layout = WinLayout::load();
    ASSERT_FALSE(layout.controls.empty()) << "template 102 did not load";
    startOnClient("quayside-win");
    const std::string main = waitForWindow("^Tarnex Storage Utility$", 30s);
    ASSERT_FALSE(main.empty()) << "no main window\n" << programErrors();
    click(main, layout.row(kDeviceList, 0));
    const std::string login = waitForWindow("^Login$", 10s);
    ASSERT_FALSE(login.empty()) << "no login dialog after a click on the box\n" << programErrors();
    typeText(login, "admin");
    pressKey(login, "Tab");
    typeText(login, "admin");
    pressKey(login, "Return");
    ASSERT_TRUE(waitForWindowGone(login)) << "the login dialog stayed";

    // The last part of the address: 10.231.7.2 becomes 10.231.7.3.
    const QRect ip = layout.controls.at(kIpField);
    const auto lastPart = [&](const std::string& part) {
        click(main, QPoint(ip.right() - ip.width() / 8, ip.center().y()));
        pressKey(main, "ctrl+a");
        typeText(main, part);
    };
    lastPart("3");
    click(main, layout.centre(kApply));
    // Cancel is the box's default button.
    ASSERT_EQ(answerMessage("^(Warning|Error)$", 15s), "Warning") << "no question about the address in use";
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(received(106), 0) << "Cancel sent the change";
    EXPECT_TRUE(windowsNamed("^(Warning|Error|Confirm)$").empty()) << "something followed Cancel";

    // A free address: no question, the change goes, and the box, still
    // answering at 10.231.7.2, is said to be there.
    lastPart("9");
    click(main, layout.centre(kApply));
    ASSERT_EQ(answerMessage("^(Warning|Error)$", 30s), "Warning") << "nothing said where the box answers";
    EXPECT_EQ(received(106), 1);
}

// quayside-mac: the same question before the login sheet; Cancel sends not
// even the password check.
TEST_F(X11Segment, MacAsksBeforeTakingAnAddressInUseAndSaysWhereTheBoxAnswers) {
    offscreenApp();
    startOnClient("quayside-mac");
    const std::string main = waitForWindow("^Tarnex Storage Utility$", 30s);
    ASSERT_FALSE(main.empty()) << "no main window\n" << programErrors();
    const MacLayout layout = MacLayout::at(geometryOf(main).size());
    const auto inked = [&](const QRect& cell) { return X11EndToEnd::inked(main, cell); };
    ASSERT_TRUE(waitUntil([&] { return inked(layout.deviceRow0); }, 15s)) << "the box was not found";
    click(main, layout.deviceRow0.center());
    const std::string sheet = waitForWindow("^Administrator login$", 10s);
    ASSERT_FALSE(sheet.empty()) << "no login sheet after a click on the box\n" << programErrors();
    typeText(sheet, "admin");
    pressKey(sheet, "Return");
    ASSERT_TRUE(waitForWindowGone(sheet)) << "the sheet stayed";
    std::this_thread::sleep_for(1s);
    const int checks = received(102);

    const auto typeAddress = [&](const std::string& address) {
        click(main, layout.ip);
        pressKey(main, "ctrl+a");
        typeText(main, address);
    };
    typeAddress("10.231.7.3");
    click(main, layout.apply);
    EXPECT_FALSE(answerMessage("^Tarnex Storage Utility$", 15s, {main}).empty()) << "no question about the address";
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(windowsNamed("^Administrator login$").empty()) << "Cancel opened the login sheet";
    EXPECT_EQ(received(102), checks) << "Cancel sent the password check";
    EXPECT_EQ(received(106), 0) << "Cancel sent the change";

    typeAddress("10.231.7.9");
    click(main, layout.apply);
    const std::string again = waitForWindow("^Administrator login$", 10s);
    ASSERT_FALSE(again.empty()) << "no login sheet for a free address\n" << programErrors();
    typeText(again, "admin");
    pressKey(again, "Return");
    ASSERT_TRUE(waitForWindowGone(again)) << "the sheet stayed";
    EXPECT_FALSE(answerMessage("^Tarnex Storage Utility$", 30s, {main}).empty()) << "nothing said where the box answers";
    EXPECT_EQ(received(106), 1);
}

}  // namespace
