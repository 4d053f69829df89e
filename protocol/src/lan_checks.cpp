#include "quayside/lan_checks.h"

#include <climits>

namespace qs {

namespace {

constexpr bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool inRange(int v, int low, int high) { return v >= low && v <= high; }

// The netmask numbers each place allows; 240 and 248 are in none of them.
constexpr bool inS1(int v) {
    return v == 128 || v == 192 || v == 224 || v == 252 || v == 254 || v == 255;
}
constexpr bool inS2(int v) { return v == 0 || inS1(v); }
constexpr bool inS3(int v) { return v == 0 || v == 128 || v == 192 || v == 224 || v == 252; }

bool netmaskPatternFits(const std::array<int, 4>& n) {
    if ((n[1] != 0 || n[2] != 0 || n[3] != 0) && !inS1(n[0])) return false;
    if (!(n[0] == 255 && n[2] == 0 && n[3] == 0) && !inS1(n[1])) return false;
    if (!(n[0] == 255 && n[1] == 255 && n[3] == 0) && !inS2(n[2])) return false;
    if (!(n[0] == 255 && n[1] == 255 && n[2] == 255) && !inS3(n[3])) return false;
    return true;
}

// What each field calls its refusals, and the ranges of its numbers.
struct FieldRules {
    LanError unreadable, loopback, first, second, third, fourth;
    int firstLow, firstHigh, middleHigh, lastLow, lastHigh;
    bool loopbackBeforeRange;  // 127 refused before the first number's range
};

constexpr FieldRules kAddressRules{LanError::AddressUnreadable,      LanError::LoopbackAddress,
                                   LanError::AddressFirstOutOfRange, LanError::AddressSecondOutOfRange,
                                   LanError::AddressThirdOutOfRange, LanError::AddressFourthOutOfRange,
                                   1, 223, 254, 1, 254, true};
constexpr FieldRules kGatewayRules{LanError::GatewayUnreadable,      LanError::LoopbackGateway,
                                   LanError::GatewayFirstOutOfRange, LanError::GatewaySecondOutOfRange,
                                   LanError::GatewayThirdOutOfRange, LanError::GatewayFourthOutOfRange,
                                   1, 223, 255, 1, 254, false};
constexpr FieldRules kNetmaskRules{LanError::NetmaskUnreadable,      LanError::NetmaskLoopback,
                                   LanError::NetmaskFirstOutOfRange, LanError::NetmaskSecondOutOfRange,
                                   LanError::NetmaskThirdOutOfRange, LanError::NetmaskFourthOutOfRange,
                                   0, 255, 255, 0, 255, false};

}  // namespace

int dottedPartValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that INT_MIN is reachable; stop
    // growing at the limit (saturation) but keep consuming digits.
    int value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value < (INT_MIN + digit) / 10) {
            value = INT_MIN;
        } else {
            value = value * 10 - digit;
        }
    }
    if (negative) return value;
    return value == INT_MIN ? INT_MAX : -value;
}

DottedText readDottedText(std::string_view text) {
    DottedText read;
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) return read;
        read.numbers[static_cast<std::size_t>(i)] = dottedPartValue(text.substr(start, dot - start));
        read.dots = i + 1;
        start = dot + 1;
    }
    read.numbers[3] = dottedPartValue(text.substr(start));
    return read;
}

LanError checkLanField(LanField field, std::string_view text, const LanPolicy& policy) {
    const FieldRules& r = field == LanField::Address   ? kAddressRules
                          : field == LanField::Gateway ? kGatewayRules
                                                       : kNetmaskRules;
    const bool exact = isDottedIPv4(text);
    if (!policy.lenientNumbers && !exact) return r.unreadable;
    const DottedText read = readDottedText(text);
    const auto& n = read.numbers;
    const bool netmask = field == LanField::Netmask;
    const bool later = netmask || policy.laterNumbersChecked;
    const bool loopbackRefused = field == LanField::Address    ? true
                                 : field == LanField::Gateway ? policy.loopbackGatewayRefused
                                                              : policy.netmaskPatternChecked;

    if (read.dots < 1) return r.unreadable;
    if (r.loopbackBeforeRange && n[0] == 127) return r.loopback;
    if (!inRange(n[0], r.firstLow, r.firstHigh)) return r.first;
    if (!r.loopbackBeforeRange && loopbackRefused && n[0] == 127) return r.loopback;
    if (read.dots < 2) return r.unreadable;
    if (later && !inRange(n[1], 0, r.middleHigh)) return r.second;
    if (read.dots < 3) return r.unreadable;
    if (later && !inRange(n[2], 0, r.middleHigh)) return r.third;
    if (later && !inRange(n[3], r.lastLow, r.lastHigh)) return r.fourth;
    if (netmask && policy.netmaskPatternChecked && !netmaskPatternFits(n)) return LanError::NetmaskPatternInvalid;
    return exact ? LanError::None : r.unreadable;
}

LanError checkNetmaskBits(std::uint32_t netmask, const LanPolicy& policy) {
    if ((netmask >> 24) == 0) return LanError::NetmaskBitsInvalid;
    // Ones then zeros only: the inverted mask plus one is a power of two.
    const std::uint32_t inverted = ~netmask;
    if ((inverted & (inverted + 1)) != 0) return LanError::NetmaskBitsInvalid;
    if (netmask == 0xFFFFFFFFu && !policy.allOnesNetmaskValid) return LanError::NetmaskAllOnes;
    return LanError::None;
}

bool isAutomaticAddress(std::uint32_t address, const LanPolicy& policy) {
    const bool first169 = (address >> 24) == 169;
    const bool second254 = ((address >> 16) & 0xFF) == 254;
    return policy.automaticIs169Or254 ? first169 || second254 : first169 && second254;
}

LanError checkGatewayPlacement(std::uint32_t address, std::uint32_t netmask, std::uint32_t gateway,
                               const LanPolicy& policy) {
    if (isAutomaticAddress(address, policy))
        return policy.automaticAddressRefused ? LanError::AutomaticAddress : LanError::None;
    if (gateway == (address & netmask)) return LanError::GatewayIsNetworkAddress;
    if (gateway == (address | ~netmask)) return LanError::GatewayIsBroadcastAddress;
    if (!sameSubnet(address, gateway, netmask)) return LanError::GatewayInOtherSubnet;
    return LanError::None;
}

LanCheck checkLanSettings(std::string_view address, std::string_view netmask, std::string_view gateway,
                          const LanPolicy& policy) {
    const auto refuse = [](LanError error) { return LanCheck{.error = error}; };
    if (address.empty()) return refuse(LanError::AddressMissing);
    if (netmask.empty()) return refuse(LanError::NetmaskMissing);
    if (gateway.empty() && !policy.blankGatewayAllowed) return refuse(LanError::GatewayMissing);
    if (!policy.refusedAddress.empty() && address == policy.refusedAddress) return refuse(LanError::AddressRefused);
    if (policy.equalTextsRefused) {
        if (address == netmask) return refuse(LanError::AddressEqualsNetmask);
        if (address == gateway) return refuse(LanError::AddressEqualsGateway);
        if (netmask == gateway) return refuse(LanError::NetmaskEqualsGateway);
    }
    if (const LanError e = checkLanField(LanField::Address, address, policy); e != LanError::None) return refuse(e);
    if (const LanError e = checkLanField(LanField::Netmask, netmask, policy); e != LanError::None) return refuse(e);
    // Both fields passed, so both are exactly dotted addresses.
    const std::uint32_t a = *parseDottedIPv4(address);
    const std::uint32_t m = *parseDottedIPv4(netmask);
    const bool automatic = isAutomaticAddress(a, policy);
    if (!automatic && !gateway.empty()) {
        if (const LanError e = checkLanField(LanField::Gateway, gateway, policy); e != LanError::None)
            return refuse(e);
    }
    if (const LanError e = checkNetmaskBits(m, policy); e != LanError::None) return refuse(e);
    const std::optional<std::uint32_t> g = gateway.empty() ? std::optional<std::uint32_t>(0) : parseDottedIPv4(gateway);
    if (const LanError e = checkGatewayPlacement(a, m, g.value_or(0), policy); e != LanError::None) return refuse(e);
    LanCheck passed{.address = Ipv4{a}, .netmask = Ipv4{m}};
    if (g && *g != 0) passed.gateway = Ipv4{*g};
    return passed;
}

}  // namespace qs
