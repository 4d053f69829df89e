#include "tcpip_checks.h"

#include "quayside/address.h"

#include <utility>

namespace qs::mac {

namespace {

// What each refusal shows: the alert table's codes.
constexpr std::pair<LanError, int> kAlertCodes[] = {
    {LanError::None, 0},
    {LanError::AddressMissing, 4},
    {LanError::NetmaskMissing, 5},
    {LanError::GatewayMissing, 6},
    {LanError::AddressRefused, 23},
    {LanError::AddressEqualsNetmask, 25},
    {LanError::AddressEqualsGateway, 24},
    {LanError::NetmaskEqualsGateway, 26},
    {LanError::AddressUnreadable, 33},
    {LanError::LoopbackAddress, 33},
    {LanError::AddressFirstOutOfRange, 10},
    {LanError::AddressSecondOutOfRange, 11},
    {LanError::AddressThirdOutOfRange, 12},
    {LanError::AddressFourthOutOfRange, 13},
    {LanError::NetmaskUnreadable, 34},
    {LanError::NetmaskLoopback, 34},
    {LanError::NetmaskFirstOutOfRange, 15},
    {LanError::NetmaskSecondOutOfRange, 16},
    {LanError::NetmaskThirdOutOfRange, 17},
    {LanError::NetmaskFourthOutOfRange, 18},
    {LanError::NetmaskPatternInvalid, 34},
    {LanError::GatewayUnreadable, 35},
    {LanError::GatewayFirstOutOfRange, 19},
    {LanError::LoopbackGateway, 35},
    {LanError::GatewaySecondOutOfRange, 20},
    {LanError::GatewayThirdOutOfRange, 21},
    {LanError::GatewayFourthOutOfRange, 22},
    {LanError::NetmaskBitsInvalid, 36},
    {LanError::NetmaskAllOnes, 36},
    {LanError::AutomaticAddress, 37},
    {LanError::GatewayIsNetworkAddress, 37},
    {LanError::GatewayIsBroadcastAddress, 37},
    {LanError::GatewayInOtherSubnet, 39},
};

LanField fieldOfKind(int kind) {
    return kind == TcpIpChecks::kNetmask   ? LanField::Netmask
           : kind == TcpIpChecks::kGateway ? LanField::Gateway
                                           : LanField::Address;
}

std::size_t entryOfKind(int kind) {
    return kind == TcpIpChecks::kNetmask ? 1 : kind == TcpIpChecks::kGateway ? 2 : 0;
}

// How many of the four numbers a field check had read when it stopped with
// `error`: the checks read number by number and stop at the first refusal.
int numbersRead(LanError error, int dots) {
    switch (error) {
    case LanError::AddressUnreadable:
    case LanError::NetmaskUnreadable:
    case LanError::GatewayUnreadable:
        return dots;  // at a missing dot, or (all three found) after the fourth number
    case LanError::LoopbackAddress:
    case LanError::AddressFirstOutOfRange:
    case LanError::NetmaskLoopback:
    case LanError::NetmaskFirstOutOfRange:
    case LanError::GatewayFirstOutOfRange:
    case LanError::LoopbackGateway:
        return 1;
    case LanError::AddressSecondOutOfRange:
    case LanError::NetmaskSecondOutOfRange:
    case LanError::GatewaySecondOutOfRange:
        return 2;
    case LanError::AddressThirdOutOfRange:
    case LanError::NetmaskThirdOutOfRange:
    case LanError::GatewayThirdOutOfRange:
        return 3;
    default:
        return 4;
    }
}

// An address read as inet_addr reads it; an unparsable text reads as
// 255.255.255.255 (INADDR_NONE).
std::uint32_t inetAddr(const std::string& text) { return parseClassicIPv4(text).value_or(0xFFFFFFFFu); }

}  // namespace

int alertCodeOf(LanError error) {
    for (const auto& [named, code] : kAlertCodes)
        if (named == error) return code;
    return 37;  // unreachable: every refusal has its row
}

int TcpIpChecks::checkIPValidation(const std::string* text, int kind) {
    if (text == nullptr) return 0;
    const LanError error = checkLanField(fieldOfKind(kind), *text, kMacLanPolicy);
    const DottedText read = readDottedText(*text);
    const int count = numbersRead(error, read.dots);
    if (count > 0) {
        // Numbers go in as unsigned 32-bit values: a negative or too large
        // number wraps, and no shift is ever made on a signed value.
        std::uint32_t& entry = netmaskching[entryOfKind(kind)];
        entry = 0;
        for (int i = 0; i < count; ++i)
            entry |= static_cast<std::uint32_t>(read.numbers[static_cast<std::size_t>(i)]) << (24 - 8 * i);
    }
    return alertCodeOf(error);
}

int TcpIpChecks::checkSubnetValidation(const std::string* netmask) {
    if (netmask == nullptr) return 36;
    return alertCodeOf(checkNetmaskBits(inetAddr(*netmask), kMacLanPolicy));
}

int TcpIpChecks::checkDomainValidation(const std::string* ip, const std::string* netmask,
                                       const std::string* gateway) {
    if (ip == nullptr || netmask == nullptr || gateway == nullptr) return 37;
    const LanError error = checkGatewayPlacement(inetAddr(*ip), inetAddr(*netmask), inetAddr(*gateway), kMacLanPolicy);
    // Another subnet is the mapping check's refusal, made on the stored
    // numbers.
    return error == LanError::GatewayInOtherSubnet ? 0 : alertCodeOf(error);
}

bool TcpIpChecks::isAutoIP(const std::string* ip) {
    if (ip == nullptr) return false;
    const DottedText read = readDottedText(*ip);
    if (read.dots < 1) return false;
    // A number outside 0..255 is no 169 or 254; a second number not
    // reached reads 0.
    const auto octet = [](int v) { return v >= 0 && v <= 255 ? static_cast<std::uint32_t>(v) : 0u; };
    const std::uint32_t address = octet(read.numbers[0]) << 24 | (read.dots >= 2 ? octet(read.numbers[1]) << 16 : 0u);
    return isAutomaticAddress(address, kMacLanPolicy);
}

int TcpIpChecks::checkNetmaskMappingValidation() {
    return sameSubnet(netmaskching[0], netmaskching[2], netmaskching[1]) ? 0
                                                                         : alertCodeOf(LanError::GatewayInOtherSubnet);
}

int TcpIpChecks::validateStaticSettings(const std::string& ip, const std::string& netmask,
                                        const std::string& gateway) {
    netmaskching = {};  // no entry of an earlier apply is left to read
    const LanError error = checkLanSettings(ip, netmask, gateway, kMacLanPolicy).error;
    // The refusals come in the order of the checks: each field the sequence
    // reached leaves its entry as its own check does.
    const auto reached = [error](LanError firstOfField) { return error == LanError::None || error >= firstOfField; };
    if (reached(LanError::AddressUnreadable)) checkIPValidation(&ip, kAddress);
    if (reached(LanError::NetmaskUnreadable)) checkIPValidation(&netmask, kNetmask);
    if (reached(LanError::GatewayUnreadable) && !isAutoIP(&ip)) checkIPValidation(&gateway, kGateway);
    return alertCodeOf(error);
}

}  // namespace qs::mac
