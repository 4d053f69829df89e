// The static-address checks of quayside-win's LAN panel, one table of
// inputs against the message (or the texts sent) each must give.
#include "main_dialog.h"
#include "quayside/library.h"
#include "support/recording_message_sink.h"
#include "tcpip_validation.h"

#include <QApplication>
#include <QLineEdit>
#include <gtest/gtest.h>

using namespace qs;
using namespace qs::win;

namespace {

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
    auto sink = std::make_unique<RecordingMessageSink>();
    RecordingMessageSink* messages = sink.get();
    setMessageSink(std::move(sink));
    CHarbor_scanDlg dlg;
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.ip) + " / " + c.mask + " / " + c.gateway);
        messages->messages.clear();
        auto set = [](CIPAddressCtrl* f, const char* text) {
            if (*text)
                f->SetAddress(QString::fromLatin1(text));
            else
                f->ClearAddress();
        };
        set(dlg.ipField(), c.ip);
        set(dlg.netmaskField(), c.mask);
        set(dlg.gatewayField(), c.gateway);
        const std::optional<LanSettings> sent = dlg.controller().ValidateTcpIp();
        if (!c.message) {
            ASSERT_TRUE(sent);
            EXPECT_TRUE(messages->messages.empty());
            EXPECT_EQ(textOf(sent->address), c.ip);
            EXPECT_EQ(textOf(sent->netmask), c.mask);
            EXPECT_EQ(textOf(sent->gateway), c.sentGateway);
        } else {
            EXPECT_FALSE(sent);
            ASSERT_EQ(messages->messages.size(), 1u);
            EXPECT_EQ(messages->messages[0].text.toStdString(), c.message);
            EXPECT_EQ(messages->messages[0].caption.toStdString(), c.caption);
            EXPECT_EQ(messages->messages[0].icon, c.icon);
        }
    }
    setMessageSink(nullptr);
}

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
