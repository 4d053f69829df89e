// The checks of a static LAN configuration (address, netmask, gateway) that
// a user types before it is sent to a box. Both programs check with the same
// code; where they differ, a LanPolicy says which way, and each program keeps
// its own table from the named error to what it shows.
#pragma once

#include "quayside/address.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qs {

// Why a configuration is refused, one name per reason, in the order the
// checks meet them.
enum class LanError {
    None,
    AddressMissing,           // empty address text
    NetmaskMissing,
    GatewayMissing,           // only where a blank gateway is not allowed
    AddressRefused,           // the address text the policy refuses outright
    AddressEqualsNetmask,     // the texts compared as typed
    AddressEqualsGateway,
    NetmaskEqualsGateway,
    AddressUnreadable,        // not four numbers with three dots, or not exactly a dotted address
    LoopbackAddress,          // 127.x.x.x
    AddressFirstOutOfRange,   // first number not 1..223
    AddressSecondOutOfRange,
    AddressThirdOutOfRange,
    AddressFourthOutOfRange,
    NetmaskUnreadable,
    NetmaskLoopback,          // a netmask beginning with 127
    NetmaskFirstOutOfRange,   // a number not 0..255
    NetmaskSecondOutOfRange,
    NetmaskThirdOutOfRange,
    NetmaskFourthOutOfRange,
    NetmaskPatternInvalid,    // a number no mask has in its place
    GatewayUnreadable,
    GatewayFirstOutOfRange,   // first number not 1..223
    LoopbackGateway,
    GatewaySecondOutOfRange,
    GatewayThirdOutOfRange,
    GatewayFourthOutOfRange,
    NetmaskBitsInvalid,       // first number 0, or a 1 bit after a 0 bit
    NetmaskAllOnes,           // 255.255.255.255
    AutomaticAddress,         // a link-local (automatic) address, refused
    GatewayIsNetworkAddress,  // the subnet's own address
    GatewayIsBroadcastAddress,
    GatewayInOtherSubnet,
};

// Where the programs' rules differ, one line each.
struct LanPolicy {
    bool blankGatewayAllowed;         // a blank gateway is allowed and reads 0.0.0.0
    std::string_view refusedAddress;  // this address text is refused as typed ("" for none)
    bool equalTextsRefused;           // address equal to netmask or gateway, netmask equal to gateway, refused
    bool lenientNumbers;              // numbers are read like atoi: range errors before "not a dotted address"
    bool laterNumbersChecked;         // address 2nd/3rd 0..254, gateway 2nd/3rd 0..255, both last 1..254
    bool netmaskPatternChecked;       // every netmask number from the set its place allows, 127 refused
    bool loopbackGatewayRefused;      // a gateway 127.x.x.x is refused
    bool allOnesNetmaskValid;         // 255.255.255.255 is a valid netmask
    bool automaticIs169Or254;         // automatic: first number 169 or second 254 (else 169.254 only)
    bool automaticAddressRefused;     // an automatic address is refused (else it passes with no gateway check)
};

// quayside-win's rules: the panel's fields always give dotted addresses.
inline constexpr LanPolicy kWinLanPolicy{
    .blankGatewayAllowed = true,
    .refusedAddress = "",
    .equalTextsRefused = false,
    .lenientNumbers = false,
    .laterNumbersChecked = false,
    .netmaskPatternChecked = false,
    .loopbackGatewayRefused = false,
    .allOnesNetmaskValid = true,
    .automaticIs169Or254 = false,
    .automaticAddressRefused = false,
};

// quayside-mac's rules for the texts typed into its fields.
inline constexpr LanPolicy kMacLanPolicy{
    .blankGatewayAllowed = false,
    .refusedAddress = "225.0.0.1",
    .equalTextsRefused = true,
    .lenientNumbers = true,
    .laterNumbersChecked = true,
    .netmaskPatternChecked = true,
    .loopbackGatewayRefused = true,
    .allOnesNetmaskValid = false,
    .automaticIs169Or254 = true,
    .automaticAddressRefused = true,
};

// The integer value of a text, like C's atoi: skips leading blanks (space,
// tab, line feed, vertical tab, form feed, carriage return), takes an
// optional "+" or "-" and the decimal digits that follow, and is 0 when
// there are none. Anything after the digits is ignored. A digit string too
// large for int saturates at INT_MAX (INT_MIN with "-") instead of wrapping.
int dottedPartValue(std::string_view text);

// A dotted text read leniently: the four numbers and how many of the three
// dots were found. numbers[i] is only meaningful when the dot in front of it
// was found (numbers[0] when dots >= 1, numbers[3] when dots == 3); the
// parts not reached are 0. The fourth number is the value of everything
// after the third dot, so "1.2.3.4.5" reads as 1, 2, 3, 4.
struct DottedText {
    std::array<int, 4> numbers{};
    int dots = 0;  // 0..3
};
DottedText readDottedText(std::string_view text);

enum class LanField { Address, Netmask, Gateway };

// One field's own checks: the numbers of an address or gateway, or the
// numbers and pattern of a netmask. None when the field passes.
LanError checkLanField(LanField field, std::string_view text, const LanPolicy& policy);

// The netmask's bits (host order): NetmaskBitsInvalid or NetmaskAllOnes
// when refused.
LanError checkNetmaskBits(std::uint32_t netmask, const LanPolicy& policy);

// Whether a and b lie in the same subnet of the netmask (host order).
constexpr bool sameSubnet(std::uint32_t a, std::uint32_t b, std::uint32_t netmask) {
    return (a & netmask) == (b & netmask);
}

// Whether the address counts as automatic (link-local) under the policy.
bool isAutomaticAddress(std::uint32_t address, const LanPolicy& policy);

// Where the gateway sits in the address's subnet (all host order):
// AutomaticAddress when the policy refuses an automatic address, the
// subnet's network or broadcast address, or another subnet. None for an
// automatic address the policy allows: it needs no gateway.
LanError checkGatewayPlacement(std::uint32_t address, std::uint32_t netmask, std::uint32_t gateway,
                               const LanPolicy& policy);

// What the checks found: the first refusal, or on success the values to
// send (no gateway when it is blank or 0.0.0.0, or unreadable beside an
// automatic address that needs none).
struct LanCheck {
    LanError error = LanError::None;
    Ipv4 address{};
    Ipv4 netmask{};
    std::optional<Ipv4> gateway{};

    bool ok() const { return error == LanError::None; }
};

// All checks in order; the first refusal wins. An empty text is a blank
// field.
LanCheck checkLanSettings(std::string_view address, std::string_view netmask, std::string_view gateway,
                          const LanPolicy& policy);

}  // namespace qs
