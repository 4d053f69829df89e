// The shared LAN checks: every line where the two programs' rules differ,
// shown by one configuration that the two policies judge differently; and
// the classic address reading the macOS program's bit and domain checks use.
#include "quayside/address.h"
#include "quayside/lan_checks.h"

#include <gtest/gtest.h>

#include <optional>

using namespace qs;

namespace {

struct PolicyCase {
    const char* line;  // the policy line the row shows
    const char* address;
    const char* netmask;
    const char* gateway;
    LanError win;
    LanError mac;
};

const PolicyCase kPolicyCases[] = {
    {"blankGatewayAllowed", "169.254.10.20", "255.255.0.0", "", LanError::None, LanError::GatewayMissing},
    {"refusedAddress", "225.0.0.1", "255.0.0.0", "225.0.0.254", LanError::AddressFirstOutOfRange,
     LanError::AddressRefused},
    {"equalTextsRefused", "1.1.1.1", "255.0.0.0", "1.1.1.1", LanError::None, LanError::AddressEqualsGateway},
    {"lenientNumbers", "300.1.1.1", "255.0.0.0", "1.1.1.254", LanError::AddressUnreadable,
     LanError::AddressFirstOutOfRange},
    {"laterNumbersChecked", "10.0.0.255", "255.0.0.0", "10.0.0.1", LanError::None,
     LanError::AddressFourthOutOfRange},
    {"netmaskPatternChecked", "10.0.0.1", "128.0.0.0", "10.0.0.254", LanError::None,
     LanError::NetmaskPatternInvalid},
    {"loopbackGatewayRefused", "10.0.0.1", "255.0.0.0", "127.0.0.1", LanError::GatewayInOtherSubnet,
     LanError::LoopbackGateway},
    {"allOnesNetmaskValid", "169.254.1.1", "255.255.255.255", "169.254.1.2", LanError::None,
     LanError::NetmaskAllOnes},
    {"automaticIs169Or254", "10.254.0.5", "255.255.255.0", "224.1.1.1", LanError::GatewayFirstOutOfRange,
     LanError::AutomaticAddress},
    {"automaticAddressRefused", "169.254.10.20", "255.255.0.0", "169.254.0.1", LanError::None,
     LanError::AutomaticAddress},
};

}  // namespace

TEST(LanChecks, EachPolicyLineSplitsThePrograms) {
    for (const PolicyCase& c : kPolicyCases) {
        SCOPED_TRACE(std::string(c.line) + ": \"" + c.address + "\" \"" + c.netmask + "\" \"" + c.gateway + "\"");
        EXPECT_EQ(checkLanSettings(c.address, c.netmask, c.gateway, kWinLanPolicy).error, c.win);
        EXPECT_EQ(checkLanSettings(c.address, c.netmask, c.gateway, kMacLanPolicy).error, c.mac);
    }
}

TEST(LanChecks, PassedSettingsAreTheTypedValues) {
    const LanCheck both = checkLanSettings("192.168.0.20", "255.255.255.0", "192.168.0.1", kMacLanPolicy);
    ASSERT_TRUE(both.ok());
    EXPECT_EQ(both.address.text(), "192.168.0.20");
    EXPECT_EQ(both.netmask.text(), "255.255.255.0");
    EXPECT_EQ(textOf(both.gateway), "192.168.0.1");
    // A blank or 0.0.0.0 gateway beside a link-local address is no gateway.
    for (const char* none : {"", "0.0.0.0"}) {
        const LanCheck noGateway = checkLanSettings("169.254.10.20", "255.255.0.0", none, kWinLanPolicy);
        ASSERT_TRUE(noGateway.ok()) << none;
        EXPECT_FALSE(noGateway.gateway) << none;
    }
}

TEST(ClassicIPv4, ReadsNumbersAsTheCLibraryDoes) {
    struct Row {
        const char* text;
        std::optional<std::uint32_t> address;
    };
    const Row rows[] = {
        {"192.168.0.1", 0xC0A80001u},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"0xff.0xFF.0Xff.0", 0xFFFFFF00u},  // hexadecimal
        {"0251.1.1.1", 0xA9010101u},        // octal
        {"4294967040", 0xFFFFFF00u},        // one number fills all four bytes
        {"10.1", 0x0A000001u},              // the last fills three
        {"1.2.65535", 0x0102FFFFu},         // or two
        {"0", 0u},
        {"1.2.65536", std::nullopt},
        {"1.16777216", std::nullopt},
        {"4294967296", std::nullopt},
        {"256.1.1.1", std::nullopt},
        {"08.1.1.1", std::nullopt},
        {"0x.1.1.1", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1.2.3.", std::nullopt},
        {"1..3.4", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1.2.3.4 junk", 0x01020304u},  // a blank ends the address
        {"1.2 .3.4", 0x01000002u},
        {"1.2.3.4x", std::nullopt},
        {"+1.2.3.4", std::nullopt},
        {"", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const Row& r : rows) EXPECT_EQ(parseClassicIPv4(r.text), r.address) << "\"" << r.text << "\"";
}
