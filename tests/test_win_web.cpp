// Opening a device's web pages: the reachability probe, the browser command
// built from the registry stand-in, the fall-back, and program start
// without a shell.
#include "main_dialog.h"
#include "skinlistctrl.h"
#include "support/process.h"
#include "support/recording_message_sink.h"
#include "quayside/launcher.h"
#include "weblaunch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace qs::win;

namespace {

struct FakeRegistry : RegistrySource {
    std::map<std::string, std::string> values;
    std::vector<std::string> queried;
    std::optional<std::string> query(const std::string& key, const std::string& name) override {
        queried.push_back(key);
        auto it = values.find(key + "|" + name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

const std::string kRoot = "Software\\Clients\\StartMenuInternet";

struct Web : ::testing::Test {
    RecordingMessageSink* messages = nullptr;
    std::unique_ptr<CHarbor_scanDlg> dlg;
    FakeRegistry* registry = nullptr;
    std::vector<std::string> started;
    std::vector<unsigned> results;  // what each start returns, in turn
    QTcpServer web;

    void SetUp() override {
        auto sink = std::make_unique<RecordingMessageSink>();
        messages = sink.get();
        setMessageSink(std::move(sink));
        dlg = std::make_unique<CHarbor_scanDlg>();
        auto reg = std::make_unique<FakeRegistry>();
        registry = reg.get();
        dlg->controller().registry = std::move(reg);
        dlg->controller().startProgram = [this](const std::string& line, int show, StartVerdict) {
            EXPECT_EQ(show, 0);
            started.push_back(line);
            const unsigned rc = results.empty() ? 33 : results.front();
            if (!results.empty()) results.erase(results.begin());
            return rc;
        };
        ASSERT_TRUE(web.listen(QHostAddress::LocalHost, 0));
        dlg->controller().webPort = web.serverPort();
        auto* list = dlg->deviceList();
        list->InsertColumn(0, "Name", 94);
        list->InsertColumn(1, "IP", 85);
        addRow("box", "127.0.0.1");
    }
    void TearDown() override {
        dlg.reset();
        setMessageSink(nullptr);
    }
    void addRow(const QString& name, const QString& ip) {
        auto* list = dlg->deviceList();
        const int r = list->InsertItem(list->GetItemCount(), name);
        list->SetItemText(r, 1, ip);
        list->SetSelectedRow(r);
    }
};

}  // namespace

TEST_F(Web, NoSelectedRowAsksForOne) {
    dlg->deviceList()->clearSelection();
    dlg->OnConfiguration();
    ASSERT_EQ(messages->messages.size(), 1u);
    EXPECT_EQ(messages->messages[0].text, "Please select a device to configure.");
    EXPECT_EQ(messages->messages[0].caption, "Warning");
    EXPECT_TRUE(started.empty());
}

TEST_F(Web, ReachableDeviceOpensInTheRegisteredBrowserAtOnce) {
    registry->values[kRoot + "|"] = "Firefox";
    registry->values[kRoot + "\\Firefox\\shell\\open\\command|"] = "\"/opt/My Browser/firefox\"";
    QElapsedTimer t;
    t.start();
    dlg->OnConfiguration();
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(messages->messages.empty());
    EXPECT_EQ(started, (std::vector<std::string>{"\"/opt/My Browser/firefox\" http://127.0.0.1"}));
}

TEST_F(Web, BrowserNamedWithIEGoesThroughTheShellOpener) {
    registry->values[kRoot + "|"] = "IEXPLORE.EXE";
    dlg->OnConfiguration();
    EXPECT_EQ(started, (std::vector<std::string>{"explorer http://127.0.0.1"}));
    EXPECT_EQ(registry->queried, (std::vector<std::string>{kRoot}));  // the command key is not read
}

TEST_F(Web, FailedStartsFallBackToTheShellOpener) {
    for (unsigned code : {2u, 3u, 11u}) {
        started.clear();
        results = {code, 33};
        dlg->OnConfiguration();
        EXPECT_EQ(started, (std::vector<std::string>{" http://127.0.0.1", "explorer http://127.0.0.1"})) << code;
    }
    EXPECT_TRUE(messages->messages.empty());
    started.clear();
    results = {0};  // any other result ends it
    dlg->OnConfiguration();
    EXPECT_EQ(started.size(), 1u);
}

// No opener on the desktop either: the user is told where the pages are.
TEST_F(Web, NoBrowserAtAllSaysWhereThePagesAre) {
    results = {2, 2};
    dlg->OnConfiguration();
    EXPECT_EQ(started.size(), 2u);
    ASSERT_EQ(messages->messages.size(), 1u);
    EXPECT_EQ(messages->messages[0].text, "No web browser could be started.\nOpen http://127.0.0.1 in a web browser.");
    EXPECT_EQ(messages->messages[0].caption, "Warning");
    EXPECT_EQ(messages->messages[0].icon, MessageIcon::Warning);
}

// A desktop with the opener but no browser: xdg-open starts, finds nothing
// to start and exits 3. The window does not wait for it, and then says
// where the pages are. An opener still running when its watch is over has
// done its part, even if it fails later: nothing is said.
TEST_F(Web, OpenerThatFindsNoBrowserGetsTheWarning) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string opener = dir.path().toStdString() + "/xdg-open";
    ASSERT_EQ(::symlink((qs::test::binDir() + "/fake-opener").c_str(), opener.c_str()), 0);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8() + ":" + path);
    qputenv("FAKE_OPENER_EXIT", "3");
    dlg->controller().startProgram = WinExec;
    auto runEventsFor = [](qint64 ms, const std::function<bool()>& until) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms && !until()) {
            QCoreApplication::processEvents();
            QThread::msleep(10);
        }
    };

    dlg->OnConfiguration();
    EXPECT_TRUE(messages->messages.empty()) << "the window went on at once";
    runEventsFor(10000, [&] { return !messages->messages.empty(); });
    ASSERT_EQ(messages->messages.size(), 1u);
    EXPECT_EQ(messages->messages[0].text, "No web browser could be started.\nOpen http://127.0.0.1 in a web browser.");
    EXPECT_EQ(messages->messages[0].caption, "Warning");

    messages->messages.clear();
    qputenv("FAKE_OPENER_STAY_MS", "8000");
    dlg->OnConfiguration();
    runEventsFor(qs::kOpenerWatch.count() + 1500, [&] { return !messages->messages.empty(); });
    EXPECT_TRUE(messages->messages.empty());
    qputenv("PATH", path);
    qunsetenv("FAKE_OPENER_STAY_MS");
    qunsetenv("FAKE_OPENER_EXIT");
}

TEST_F(Web, UnreachableDeviceIsReportedAndTheListSearchedAgain) {
    web.close();  // nothing listens any more: refused at once
    dlg->controller().deviceSelected = 1;
    dlg->OnConfiguration();
    ASSERT_EQ(messages->messages.size(), 1u);
    EXPECT_EQ(messages->messages[0].text, "Device is no longer available.");
    EXPECT_EQ(messages->messages[0].caption, "Warning");
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(dlg->controller().deviceSelected, 0);
    EXPECT_EQ(dlg->deviceList()->GetItemCount(), 0);  // searched again (no sockets: nothing found)
}

TEST_F(Web, NoVerdictGivesUpAfterTwoSeconds) {
    dlg->controller().availabilityWord() = 0;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(dlg->controller().WaitDeviceAvailable(), 0);
    EXPECT_GE(t.elapsed(), 1900);
    EXPECT_LE(t.elapsed(), 3000);
    ASSERT_EQ(messages->messages.size(), 1u);
    EXPECT_EQ(messages->messages[0].text, "Device is no longer available.");
}

TEST_F(Web, HostileAddressIsNeitherProbedNorOpened) {
    addRow("evil", "1;rm -rf ~");
    dlg->OnConfiguration();
    EXPECT_TRUE(started.empty());
    ASSERT_EQ(messages->messages.size(), 1u);
    EXPECT_EQ(messages->messages[0].text, "Device is no longer available.");
}

TEST_F(Web, AnEarlierVerdictDoesNotDecide) {
    dlg->controller().availabilityWord() = -1;
    registry->values[kRoot + "|"] = "IEXPLORE.EXE";
    dlg->OnConfiguration();
    EXPECT_TRUE(messages->messages.empty());
    EXPECT_EQ(started.size(), 1u);
}

TEST(WinExec, ResultsAndArgumentsWithoutAShell) {
    EXPECT_EQ(WinExec("", 0), 2u);
    EXPECT_EQ(WinExec("no-such-program-here http://1.2.3.4", 0), 2u);
    EXPECT_EQ(WinExec("/no/such/dir/prog", 0), 3u);
    EXPECT_EQ(WinExec("/etc/hostname", 0), 11u);  // not a program
    const std::string out = qs::test::tempFile("", ".txt");
    qputenv("RECORD_ARGS_FILE", QByteArray::fromStdString(out));
    const std::string tool = qs::test::binDir() + "/record-args";
    EXPECT_GT(WinExec("\"" + tool + "\" http://10.0.0.1 \"two words\" ;rm $(x)", 0), 31u);
    std::string text;
    for (int i = 0; i < 100 && text.empty(); ++i) {
        QThread::msleep(20);
        QFile f(QString::fromStdString(out));
        if (f.open(QIODevice::ReadOnly)) text = f.readAll().toStdString();
    }
    EXPECT_EQ(text, tool + "\nhttp://10.0.0.1\ntwo words\n;rm\n$(x)\n");
    ::unlink(out.c_str());
}

TEST(CommandLine, SplitsWithQuotes) {
    EXPECT_EQ(splitCommandLine("\"C:/Program Files/b.exe\" -new http://x"),
              (std::vector<std::string>{"C:/Program Files/b.exe", "-new", "http://x"}));
    EXPECT_EQ(splitCommandLine("  a\\\"b  \"\" c "), (std::vector<std::string>{"a\"b", "", "c"}));
}

TEST(Registry, LongValuesReadAsEmpty) {
    FakeRegistry r;
    r.values["k|"] = std::string(119, 'x');
    EXPECT_EQ(ReadRegistryString(r, "k", "").size(), 119u);
    r.values["k|"] = std::string(120, 'x');
    EXPECT_EQ(ReadRegistryString(r, "k", ""), "");
    EXPECT_EQ(ReadRegistryString(r, "missing", ""), "");
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
