// The quayside tool's text output: device text escaped for the terminal,
// LAN-information answers shown port for port.
#include "cli_format.h"

#include <gtest/gtest.h>

using namespace qs;
using namespace qs::cli;

TEST(EscapeText, ControlsAndBadBytesBecomeHexAndUtf8Stays) {
    EXPECT_EQ(escapeText("office-1 ~"), "office-1 ~");
    EXPECT_EQ(escapeText("\x1b]0;owned\x07\x1b[2J"), "\\x1b]0;owned\\x07\\x1b[2J");
    EXPECT_EQ(escapeText(std::string("a\0b\tc\nd\x7f", 8)), "a\\x00b\\x09c\\x0ad\\x7f");
    EXPECT_EQ(escapeText("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6"), "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6");
    // C1 controls (U+0080..U+009F) in their UTF-8 form, and as bare bytes.
    EXPECT_EQ(escapeText("\xc2\x9b" "2J"), "\\xc2\\x9b2J");
    EXPECT_EQ(escapeText("\x9b" "2J"), "\\x9b2J");
    // Cut sequences, overlong forms, surrogates, past U+10FFFF, stray bytes.
    EXPECT_EQ(escapeText("\xc3"), "\\xc3");
    EXPECT_EQ(escapeText("\xe2\x82"), "\\xe2\\x82");
    EXPECT_EQ(escapeText("\xc0\xaf"), "\\xc0\\xaf");
    EXPECT_EQ(escapeText("\xe0\x80\xaf"), "\\xe0\\x80\\xaf");
    EXPECT_EQ(escapeText("\xed\xa0\x80"), "\\xed\\xa0\\x80");
    EXPECT_EQ(escapeText("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80");
    EXPECT_EQ(escapeText("\xff" "a"), "\\xffa");
}

TEST(TextOutput, DeviceTextIsEscapedEverywhere) {
    DeviceRegistry devices;
    DeviceData_n& d = devices.append();
    d.hostname = "\x1b]0;owned\x07";
    d.modelName = "VSB\x1b[2J";
    d.ifCount = 1;
    d.port[0].IP = "10.0.0.1\r";
    const std::string table = deviceTable(devices);
    EXPECT_EQ(table.find('\x1b'), std::string::npos) << table;
    EXPECT_EQ(table.find('\r'), std::string::npos) << table;
    EXPECT_NE(table.find("\\x1b]0;owned\\x07"), std::string::npos) << table;
    EXPECT_EQ(shareText("Vol\x1b[2J", true), "Vol\\x1b[2J (locked)");

    LanInformation info;
    info.ports = {{"LAN1\x1b", "10.0.0.1\x07", "255.0.0.0", "10.0.0.254", false}, {"LAN2", "", "", "", false}};
    info.ifNum = 1;
    EXPECT_EQ(lanInformationText(info),
              "LAN1\\x1b: address 10.0.0.1\\x07, netmask 255.0.0.0, gateway 10.0.0.254, DHCP off\nports: 1\n");
}

TEST(TextOutput, LanInformationShowsAsManyPortsAsTheBoxHas) {
    const auto one = parseLanInformation("LAN1:192.168.0.20:255.255.255.0:192.168.0.1:0:LAN2:::::IFNUM:1");
    ASSERT_TRUE(one);
    EXPECT_EQ(lanInformationText(*one).find("LAN2"), std::string::npos);
    EXPECT_EQ(lanInformationJson(*one)["ports"].size(), 1u);

    const auto bonded =
        parseLanInformation("LAN1+LAN2:10.0.0.5:255.255.255.0:10.0.0.1:0:4:10.0.1.5:255.255.0.0:10.0.1.1:1:IFNUM:2");
    ASSERT_TRUE(bonded);
    const auto j = lanInformationJson(*bonded);
    ASSERT_EQ(j["ports"].size(), 2u);
    EXPECT_EQ(j["ports"][1]["IP"], "10.0.1.5");
    EXPECT_EQ(j["ports"][1]["dhcp"], true);
    EXPECT_EQ(j["bondingMode"], 4);
    EXPECT_NE(lanInformationText(*bonded).find("LAN2: address 10.0.1.5, netmask 255.255.0.0, gateway 10.0.1.1, DHCP on"),
              std::string::npos);
}
