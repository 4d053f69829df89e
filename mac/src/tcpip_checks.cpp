#include "tcpip_checks.h"

#include "quayside/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <climits>

namespace qs::mac {

namespace {

constexpr bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool inRange(int v, int low, int high) { return v >= low && v <= high; }

// Octet sets of the netmask pattern; 240 and 248 are in none of them.
constexpr bool inS1(int v) {
    return v == 128 || v == 192 || v == 224 || v == 252 || v == 254 || v == 255;
}
constexpr bool inS2(int v) { return v == 0 || inS1(v); }
constexpr bool inS3(int v) { return v == 0 || v == 128 || v == 192 || v == 224 || v == 252; }

// Numbers go into netmaskching as unsigned 32-bit values: a negative or
// too large number wraps, and no shift is ever made on a signed value.
constexpr std::uint32_t placed(int number, int shift) {
    return static_cast<std::uint32_t>(number) << shift;
}

std::size_t entryOfKind(int kind) {
    return kind == TcpIpChecks::kNetmask ? 1 : kind == TcpIpChecks::kGateway ? 2 : 0;
}

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

std::array<std::uint8_t, 4> inetAddrOctets(const std::string& text) {
    // INADDR_NONE is 255.255.255.255 itself, so an unparsable text needs no
    // special case.
    const std::uint32_t host = ntohl(::inet_addr(text.c_str()));
    return {static_cast<std::uint8_t>(host >> 24), static_cast<std::uint8_t>(host >> 16),
            static_cast<std::uint8_t>(host >> 8), static_cast<std::uint8_t>(host)};
}

int TcpIpChecks::checkIPValidation(const std::string* text, int kind) {
    if (text == nullptr) return 0;
    const DottedText read = readDottedText(*text);
    const auto& n = read.numbers;
    std::uint32_t& entry = netmaskching[entryOfKind(kind)];

    if (kind == kNetmask) {
        if (read.dots < 1) return 34;
        entry = placed(n[0], 24);
        if (!inRange(n[0], 0, 255)) return 15;
        if (n[0] == 127) return 34;
        if (read.dots < 2) return 34;
        entry |= placed(n[1], 16);
        if (!inRange(n[1], 0, 255)) return 16;
        if (read.dots < 3) return 34;
        entry |= placed(n[2], 8);
        if (!inRange(n[2], 0, 255)) return 17;
        entry |= placed(n[3], 0);
        if (!inRange(n[3], 0, 255)) return 18;

        if ((n[1] != 0 || n[2] != 0 || n[3] != 0) && !inS1(n[0])) return 34;
        if (!(n[0] == 255 && n[2] == 0 && n[3] == 0) && !inS1(n[1])) return 34;
        if (!(n[0] == 255 && n[1] == 255 && n[3] == 0) && !inS2(n[2])) return 34;
        if (!(n[0] == 255 && n[1] == 255 && n[2] == 255) && !inS3(n[3])) return 34;
        return isDottedIPv4(*text) ? 0 : 34;
    }

    if (kind == kGateway) {
        if (read.dots < 1) return 35;
        entry = placed(n[0], 24);
        if (!inRange(n[0], 1, 223)) return 19;
        if (n[0] == 127) return 35;
        if (read.dots < 2) return 35;
        entry |= placed(n[1], 16);
        if (!inRange(n[1], 0, 255)) return 20;
        if (read.dots < 3) return 35;
        entry |= placed(n[2], 8);
        if (!inRange(n[2], 0, 255)) return 21;
        entry |= placed(n[3], 0);
        if (!inRange(n[3], 1, 254)) return 22;
        return isDottedIPv4(*text) ? 0 : 35;
    }

    // Address.
    if (read.dots < 1) return 33;
    entry = placed(n[0], 24);
    if (n[0] == 127) return 33;
    if (!inRange(n[0], 1, 223)) return 10;
    if (read.dots < 2) return 33;
    entry |= placed(n[1], 16);
    if (!inRange(n[1], 0, 254)) return 11;
    if (read.dots < 3) return 33;
    entry |= placed(n[2], 8);
    if (!inRange(n[2], 0, 254)) return 12;
    entry |= placed(n[3], 0);
    if (!inRange(n[3], 1, 254)) return 13;
    return isDottedIPv4(*text) ? 0 : 33;
}

int TcpIpChecks::checkSubnetValidation(const std::string* netmask) {
    if (netmask == nullptr) return 36;
    const auto m = inetAddrOctets(*netmask);
    if (m[0] == 0) return 36;
    bool zeroSeen = false;
    for (const std::uint8_t octet : m) {
        for (int bit = 7; bit >= 0; --bit) {
            if ((octet >> bit) & 1U) {
                if (zeroSeen) return 36;
            } else {
                zeroSeen = true;
            }
        }
    }
    if (m[0] == 255 && m[1] == 255 && m[2] == 255 && m[3] == 255) return 36;
    return 0;
}

int TcpIpChecks::checkDomainValidation(const std::string* ip, const std::string* netmask,
                                       const std::string* gateway) {
    if (ip == nullptr || netmask == nullptr || gateway == nullptr) return 37;
    const auto a = inetAddrOctets(*ip);
    const auto m = inetAddrOctets(*netmask);
    const auto g = inetAddrOctets(*gateway);
    if (a[0] == 169 || a[1] == 254) return 37;
    bool network = true;
    bool broadcast = true;
    for (std::size_t i = 0; i < 4; ++i) {
        network = network && (a[i] & m[i]) == g[i];
        broadcast = broadcast && (a[i] | (255 - m[i])) == g[i];
    }
    return network || broadcast ? 37 : 0;
}

bool TcpIpChecks::isAutoIP(const std::string* ip) {
    if (ip == nullptr) return false;
    const DottedText read = readDottedText(*ip);
    if (read.dots < 1) return false;
    if (read.numbers[0] == 169) return true;
    if (read.dots < 2) return false;
    return read.numbers[1] == 254;
}

int TcpIpChecks::checkNetmaskMappingValidation() {
    const std::uint32_t a = netmaskching[0];
    const std::uint32_t m = netmaskching[1];
    const std::uint32_t g = netmaskching[2];
    const std::uint32_t low = g & m;
    const std::uint32_t high = (g & m) | ~m;
    return a < low || a > high ? 39 : 0;
}

int TcpIpChecks::validateStaticSettings(const std::string& ip, const std::string& netmask,
                                        const std::string& gateway) {
    netmaskching = {};  // no entry of an earlier apply reaches step 11
    if (ip.empty()) return 4;
    if (netmask.empty()) return 5;
    if (gateway.empty()) return 6;
    if (ip == "225.0.0.1") return 23;
    if (ip == netmask) return 25;
    if (ip == gateway) return 24;
    if (netmask == gateway) return 26;
    if (const int r = checkIPValidation(&ip, kAddress)) return r;
    if (const int r = checkIPValidation(&netmask, kNetmask)) return r;
    if (!isAutoIP(&ip)) {
        if (const int r = checkIPValidation(&gateway, kGateway)) return r;
    }
    if (const int r = checkSubnetValidation(&netmask)) return r;
    if (const int r = checkDomainValidation(&ip, &netmask, &gateway)) return r;
    return checkNetmaskMappingValidation();
}

}  // namespace qs::mac
