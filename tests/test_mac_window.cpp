// quayside-mac's real window off-screen against the simulator, on Qt's own
// event loop: the first search, sorting by a header click, a row click
// with its sheet, the volume list, a refused password, a static address
// typed through the formatters and applied, the web button and the end.
#include "main_window.h"
#include "quayside/launcher.h"
#include "support/lab.h"
#include "support/message_box_answerer.h"
#include "ui_LoginSheet.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTranslator>
#include <gtest/gtest.h>

using namespace qs;
using namespace qs::mac;
using namespace qs::test;
using namespace std::chrono_literals;

namespace {

// A locked share whose name reads like markup (the share list is split at
// colons, so the link has none).
const char* kMarkupShare = "<a href=\"//x/\">Vault</a>";

std::vector<json> labDevices() {
    json office = simDevice("00000000000000c1", "office", "VSB-720K", "192.168.77.20");
    office["shares"] = std::string("Public:") + kMarkupShare + "*6";
    json archive = simDevice("00000000000000c2", "archive", "VSB-760K", "192.168.77.9");
    archive["ports"].push_back(json{{"IP", "192.168.78.30"}, {"netmask", "255.255.0.0"}, {"dhcp", true}});
    return {office, archive};
}

// The window with its modal alerts (unless shown), sleeps and end recorded
// instead.
class TestWindow final : public MainWindow {
public:
    using MainWindow::MainWindow;
    std::vector<std::string> alerts;
    bool showAlerts = false;
    std::vector<std::chrono::milliseconds> sleeps;
    int terminations = 0;
    void runAlert(const std::string& message) override {
        alerts.push_back(message);
        if (showAlerts) MainWindow::runAlert(message);
    }
    void sleepMainThread(std::chrono::milliseconds d) override { sleeps.push_back(d); }
    void terminate() override { ++terminations; }
};

// A string table with one entry, to show alerts go through translation.
class OneTranslation final : public QTranslator {
public:
    QString translate(const char* context, const char* source, const char*, int) const override {
        if (QByteArray(context) == "MainController" && QByteArray(source) == "Wrong administrator password input!")
            return QStringLiteral("Mot de passe incorrect !");
        return {};
    }
    bool isEmpty() const override { return false; }
};

bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

class MacWindow : public ::testing::Test {
protected:
    Child sim;
    QtRunLoop loop;
    std::unique_ptr<TestWindow> window;

    void SetUp() override {
        ASSERT_TRUE(sim.start({simBin(), "--config", tempFile(simConfig(labDevices())), "--loopback"}));
        ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
        MainController::Options options;
        options.packager.net.loopbackLab = true;
        window = std::make_unique<TestWindow>(loop, std::move(options));
        window->start();
        window->show();
        ASSERT_TRUE(waitFor([&] { return rows() == 2; })) << "devices: " << rows();
    }
    void TearDown() override { window.reset(); }

    int rows() { return window->deviceModel().rowCount(); }
    QString cell(int row, int column) {
        return window->deviceModel().index(row, column).data().toString();
    }
    void clickRow(QTableView* table, int row) {
        const QRect r = table->visualRect(table->model()->index(row, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, r.center());
    }
    Ui::LoginSheet& sheet() { return window->loginSheet().ui(); }
    // Clicks a device row and answers its sheet.
    void login(int row, const QString& password) {
        clickRow(window->deviceTable(), row);
        ASSERT_FALSE(window->loginSheet().isVisible());
        ASSERT_TRUE(waitFor([&] { return window->loginSheet().isVisible(); }, 2000));
        EXPECT_EQ(window->loginSheet().windowModality(), Qt::WindowModal);
        EXPECT_EQ(sheet().txfUserName->text(), "admin");
        EXPECT_TRUE(sheet().txfPassword->text().isEmpty());
        QTest::keyClicks(sheet().txfPassword, password);
        QTest::mouseClick(sheet().btnOK, Qt::LeftButton);
    }
};

TEST_F(MacWindow, SearchSortAndVolumes) {
    EXPECT_EQ(cell(0, 0), "archive");
    EXPECT_EQ(cell(1, 0), "office");
    EXPECT_EQ(window->deviceModel().headerData(1, Qt::Horizontal, Qt::UserRole).toString(), "ColumnIP");

    // Header clicks sort by address as text, first inverted, then back.
    QHeaderView* header = window->deviceTable()->horizontalHeader();
    const QPoint ipHeader(header->sectionViewportPosition(1) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, ipHeader);
    EXPECT_EQ(cell(0, 1), "192.168.77.9");
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, ipHeader);
    EXPECT_EQ(cell(0, 1), "192.168.77.20");
    EXPECT_EQ(cell(0, 0), "office");

    login(0, "admin");
    ASSERT_TRUE(waitFor([&] { return window->volumeModel().rowCount() == 2; })) << sim.errors();
    EXPECT_FALSE(window->loginSheet().isVisible());
    EXPECT_EQ(window->volumeModel().index(0, 0).data().toString(), "Public");
    EXPECT_TRUE(window->ui().btnApply->isEnabled());
    EXPECT_EQ(window->ui().cmbInterface->currentText(), "LAN");
    EXPECT_TRUE(window->alerts.empty());

    clickRow(window->volumeTable(), 1);
    EXPECT_EQ(window->alerts, std::vector<std::string>{std::string(kMarkupShare) + " is Locked."});
    EXPECT_FALSE(window->ui().btnConnect->isEnabled());
}

// The real alert shows a share name that reads like markup as it is,
// never as a link.
TEST_F(MacWindow, LockedShareNamedLikeMarkupIsShownAsPlainText) {
    login(1, "admin");  // office
    ASSERT_TRUE(waitFor([&] { return window->volumeModel().rowCount() == 2; })) << sim.errors();
    window->showAlerts = true;
    MessageBoxAnswerer box;
    clickRow(window->volumeTable(), 1);
    EXPECT_EQ(box.format, Qt::PlainText);
    EXPECT_EQ(box.text, QString::fromLatin1(kMarkupShare) + " is Locked.");
}

TEST_F(MacWindow, RefusedPasswordIsTranslatedAndEscapeCancels) {
    OneTranslation translation;
    QApplication::installTranslator(&translation);
    login(1, "wrong");
    ASSERT_TRUE(waitFor([&] { return !window->alerts.empty(); }));
    QApplication::removeTranslator(&translation);
    EXPECT_EQ(window->alerts, std::vector<std::string>{"Mot de passe incorrect !"});
    EXPECT_TRUE(window->ui().btnApply->isEnabled());
    EXPECT_FALSE(window->ui().txfIP->isReadOnly());

    clickRow(window->deviceTable(), 1);
    ASSERT_TRUE(waitFor([&] { return window->loginSheet().isVisible(); }, 2000));
    QTest::keyClick(&window->loginSheet(), Qt::Key_Escape);
    EXPECT_FALSE(window->loginSheet().isVisible());
    EXPECT_EQ(window->controller().pendingAction(), Action::ListVolumes);
}

TEST_F(MacWindow, StaticAddressTypedAppliedAndSearchedAgain) {
    login(1, "admin");  // office
    ASSERT_TRUE(waitFor([&] { return window->volumeModel().rowCount() == 2; }));
    QComboBox* dhcp = window->ui().cmbDHCP;
    EXPECT_EQ(dhcp->currentIndex(), 1);
    for (QLineEdit* edit : {window->ui().txfIP, window->ui().txfNetmask, window->ui().txfGateway}) edit->clear();
    QTest::keyClicks(window->ui().txfIP, "192.168.77.2x1");  // the letter is refused
    QTest::keyClicks(window->ui().txfNetmask, "255.255.255.0");
    QTest::keyClicks(window->ui().txfGateway, "192.168.77.1");
    EXPECT_EQ(window->ui().txfIP->text(), "192.168.77.21");
    QTest::mouseClick(window->ui().btnApply, Qt::LeftButton);
    ASSERT_TRUE(window->loginSheet().isVisible()) << (window->alerts.empty() ? "" : window->alerts.front());
    EXPECT_TRUE(sheet().txfPassword->text().isEmpty()) << "the login's password is not shown again";
    QTest::keyClicks(sheet().txfPassword, "admin");
    QTest::mouseClick(sheet().btnOK, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return window->controller().pendingAction() == Action::None; })) << sim.errors();
    EXPECT_EQ(window->sleeps.back(), 2000ms);
    EXPECT_TRUE(window->ui().txfIP->text().isEmpty());
    ASSERT_TRUE(waitFor([&] { return rows() == 2 && cell(1, 1) == "192.168.77.21"; })) << qPrintable(cell(1, 1));
}

// The arrow keys choose a device as a click does: its sheet opens and the
// check goes to it.
TEST_F(MacWindow, TheKeyboardChoosesADevice) {
    clickRow(window->deviceTable(), 0);  // archive
    ASSERT_TRUE(waitFor([&] { return window->loginSheet().isVisible(); }, 2000));
    QTest::keyClick(&window->loginSheet(), Qt::Key_Escape);
    window->deviceTable()->setFocus();
    QTest::keyClick(window->deviceTable(), Qt::Key_Down);
    ASSERT_TRUE(waitFor([&] { return window->loginSheet().isVisible(); }, 2000));
    EXPECT_EQ(window->ui().txfIP->text(), "192.168.77.20") << "office's address";
    QTest::keyClicks(sheet().txfPassword, "wrong");
    QTest::mouseClick(sheet().btnOK, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !window->alerts.empty(); })) << sim.errors();
    EXPECT_EQ(window->alerts, std::vector<std::string>{"Wrong administrator password input!"});
}

TEST_F(MacWindow, WebButtonHandsTheAddressOverAsOneArgument) {
    QTest::mouseClick(window->ui().btnConfiguration, Qt::LeftButton);
    EXPECT_EQ(window->alerts, std::vector<std::string>{"Please select a device to configure."});

    const std::string out = tempFile("", ".args");
    qputenv("RECORD_ARGS_FILE", QByteArray::fromStdString(out));
    window->urlOpener = QString::fromStdString(binDir() + "/record-args");
    window->deviceTable()->selectRow(1);
    QTest::mouseClick(window->ui().btnConfiguration, Qt::LeftButton);
    QFile file(QString::fromStdString(out));
    ASSERT_TRUE(waitFor([&] { return file.size() > 0; }));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1], "http://192.168.77.20");
}

// An opener that finds no browser and exits 3 gets the warning with the
// address, once the window has gone on; one still running when its watch
// is over gets none, even if it fails later.
TEST_F(MacWindow, OpenerThatFindsNoBrowserGetsTheWarning) {
    window->urlOpener = QString::fromStdString(binDir() + "/fake-opener");
    qputenv("FAKE_OPENER_EXIT", "3");
    window->deviceTable()->selectRow(1);
    QTest::mouseClick(window->ui().btnConfiguration, Qt::LeftButton);
    EXPECT_TRUE(window->alerts.empty()) << "the window went on at once";
    ASSERT_TRUE(waitFor([&] { return !window->alerts.empty(); }, 10000));
    EXPECT_EQ(window->alerts,
              std::vector<std::string>{"No web browser could be started.\nOpen http://192.168.77.20 in a web browser."});

    window->alerts.clear();
    qputenv("FAKE_OPENER_STAY_MS", "8000");
    QTest::mouseClick(window->ui().btnConfiguration, Qt::LeftButton);
    EXPECT_FALSE(waitFor([&] { return !window->alerts.empty(); }, int(kOpenerWatch.count()) + 1500));
    qunsetenv("FAKE_OPENER_STAY_MS");
    qunsetenv("FAKE_OPENER_EXIT");
}

TEST_F(MacWindow, MountButtonsReachTheController) {
    QTest::mouseClick(window->ui().btnConnect, Qt::LeftButton);
    QTest::mouseClick(window->ui().btnDisconnect, Qt::LeftButton);
    ASSERT_EQ(window->alerts.size(), 2u);
    EXPECT_EQ(window->alerts[0], "Please select a device in the above section.");
    EXPECT_EQ(window->alerts[1].substr(0, 32), "Unable to disconnect this drive.");
    EXPECT_TRUE(window->ui().btnConnect->isEnabled());
}

TEST_F(MacWindow, ExitAndClosingEndTheProgram) {
    QTest::mouseClick(window->ui().btnExit, Qt::LeftButton);
    window->close();
    EXPECT_EQ(window->terminations, 2);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
