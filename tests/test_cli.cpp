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
    // Format characters, each range at its ends; their neighbours stay.
    EXPECT_EQ(escapeText("txt\xe2\x80\xae" "exe.pdf"), "txt\\u{202e}exe.pdf");
    EXPECT_EQ(escapeText("\xc2\xad\xd8\x9c\xe2\x80\x8b\xe2\x80\x8f\xe2\x80\xa8\xe2\x81\xa0\xe2\x81\xa4\xe2\x81\xa6"
                         "\xe2\x81\xa9\xef\xbb\xbf"),
              "\\u{00ad}\\u{061c}\\u{200b}\\u{200f}\\u{2028}\\u{2060}\\u{2064}\\u{2066}\\u{2069}\\u{feff}");
    EXPECT_EQ(escapeText("\xf3\xa0\x81\x81\xf3\xa0\x81\xbf"), "\\u{e0041}\\u{e007f}");
    EXPECT_EQ(escapeText("\xc2\xac\xe2\x80\x8a\xe2\x80\xaf\xe2\x81\xb0\xf3\xa0\x82\x80"),
              "\xc2\xac\xe2\x80\x8a\xe2\x80\xaf\xe2\x81\xb0\xf3\xa0\x82\x80");
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

    // JSON lines escape DEL, C1 and format characters too, and read back
    // as the device's text.
    d.hostname = "a\x7f" "b\xc2\x9b" "c\xe2\x80\xae" "d\xf3\xa0\x81\x81" "e\xc2\xa0";
    const std::string line = jsonLine(deviceJson(d));
    EXPECT_NE(line.find(R"("hostname":"a\u007fb\u009bc\u202ed\udb40\udc41e)" "\xc2\xa0\""), std::string::npos) << line;
    EXPECT_EQ(nlohmann::json::parse(line).at("hostname"), d.hostname.str());

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

TEST(ScriptOutput, CsvQuotesAsRfc4180AndEscapesDeviceText) {
    EXPECT_EQ(csvField("plain text"), "plain text");
    EXPECT_EQ(csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("one\r\ntwo"), "\"one\r\ntwo\"");
    EXPECT_EQ(csvField("\n"), "\"\n\"");

    // A host name with a comma, quotes and a line end stays one field of
    // one record: the line end escaped as in the text output, the rest
    // quoted.
    DeviceRegistry devices;
    DeviceData_n& d = devices.append();
    d.serverUUID = Uuid8{0, 0, 0, 0, 0, 0, 0, 7};
    d.hostname = "evil,\"box\"\nname";
    d.modelName = "VSB-720K";
    d.ifCount = 1;
    d.port[0].IP = "10.0.0.7";
    d.port[0].netmask = "255.255.255.0";
    d.port[0].gateway = "10.0.0.1";
    EXPECT_EQ(deviceRecords(devices, OutputFormat::Csv),
              "SERVER UUID,HOST NAME,MODEL,PORT,IP ADDRESS,NETMASK,GATEWAY,DHCP,MAC ADDRESS\r\n"
              "0000000000000007,\"evil,\"\"box\"\"\\x0aname\",VSB-720K,LAN,10.0.0.7,255.255.255.0,10.0.0.1,no,\r\n");
}

TEST(ScriptOutput, TsvKeepsOneRecordPerLineAndNamesTheDeviceOnEachPort) {
    DeviceRegistry devices;
    DeviceData_n& d = devices.append();
    d.serverUUID = Uuid8{0, 0, 0, 0, 0, 0, 0, 9};
    d.hostname = "tab\there\r\nand\x1b[2J";
    d.modelName = "VSB-760K";
    d.ifCount = 2;
    d.port[0].IP = "10.0.0.9";
    d.port[1].IP = "10.0.1.9";
    d.port[1].dhcpEnable = true;
    d.hardware = HardwareAddress{{0x02, 0xab, 0, 0, 0, 0x09}};
    EXPECT_EQ(deviceRecords(devices, OutputFormat::Tsv),
              "SERVER UUID\tHOST NAME\tMODEL\tPORT\tIP ADDRESS\tNETMASK\tGATEWAY\tDHCP\tMAC ADDRESS\n"
              "0000000000000009\ttab\\x09here\\x0d\\x0aand\\x1b[2J\tVSB-760K\tLAN1\t10.0.0.9\t\t\tno\t02:ab:00:00:00:09\n"
              "0000000000000009\ttab\\x09here\\x0d\\x0aand\\x1b[2J\tVSB-760K\tLAN2\t10.0.1.9\t\t\tyes\t02:ab:00:00:00:09\n");
    // The table shows the same lines, the name columns and the hardware
    // address once per device.
    const std::string table = deviceTable(devices);
    EXPECT_EQ(table.substr(0, table.find('\n')),
              "SERVER UUID       HOST NAME             MODEL       PORT       IP ADDRESS       NETMASK          "
              "GATEWAY          DHCP  MAC ADDRESS");
    EXPECT_NE(table.find("no    02:ab:00:00:00:09\n"), std::string::npos) << table;
    EXPECT_NE(table.find("\n" + std::string(52, ' ') + "LAN2       10.0.1.9"), std::string::npos) << table;
    EXPECT_NE(table.find("yes\n"), std::string::npos) << table;

    EXPECT_EQ(parseOutputFormat("tsv"), OutputFormat::Tsv);
    EXPECT_EQ(parseOutputFormat("CSV"), std::nullopt);
}
