// The static-address checks of quayside-win's LAN panel as the dialog's
// address fields give them their values, and the netmask rule. The table of
// every rule's message is in the controller's own tests.
#include "main_dialog.h"
#include "quayside/device_library.h"
#include "support/recording_message_sink.h"
#include "main_controller.h"

#include <QApplication>
#include <QLineEdit>
#include <gtest/gtest.h>

using namespace qs;
using namespace qs::win;

TEST(ValidateTcpIp, EmptyPartOfAFieldReadsAsZero) {
    auto sink = std::make_unique<RecordingMessageSink>();
    setMessageSink(std::move(sink));
    CHarbor_scanDlg dlg;
    dlg.ipField()->SetAddress("10.1.2.3");
    dlg.ipField()->field(3)->clear();  // "10.1.2." reads 10.1.2.0
    dlg.netmaskField()->SetAddress("255.0.0.0");
    dlg.gatewayField()->SetAddress("10.0.0.1");
    const std::optional<LanSettings> sent = dlg.controller().ValidateTcpIp();
    ASSERT_TRUE(sent);
    EXPECT_EQ(textOf(sent->address), "10.1.2.0");
    setMessageSink(nullptr);
}

TEST(Netmask, ContiguousOnesOnly) {
    EXPECT_TRUE(IsValidNetmask(255, 255, 255, 255));
    EXPECT_TRUE(IsValidNetmask(255, 255, 255, 128));
    EXPECT_TRUE(IsValidNetmask(128, 0, 0, 0));
    EXPECT_FALSE(IsValidNetmask(0, 0, 0, 0));
    EXPECT_FALSE(IsValidNetmask(255, 0, 255, 0));
    EXPECT_FALSE(IsValidNetmask(255, 255, 255, 1));
    EXPECT_FALSE(IsValidNetmask(254, 255, 0, 0));
}

TEST(Gateway, MisplacedUnlessLinkLocal) {
    const Octets a{192, 168, 0, 20}, m{255, 255, 255, 0};
    EXPECT_TRUE(IsGatewayMisplaced(a, m, {192, 168, 0, 0}));
    EXPECT_TRUE(IsGatewayMisplaced(a, m, {192, 168, 0, 255}));
    EXPECT_TRUE(IsGatewayMisplaced(a, m, {10, 0, 0, 1}));
    EXPECT_FALSE(IsGatewayMisplaced(a, m, {192, 168, 0, 1}));
    EXPECT_FALSE(IsGatewayMisplaced({169, 254, 1, 2}, {255, 255, 0, 0}, {0, 0, 0, 0}));
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
