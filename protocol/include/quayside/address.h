// Dotted IPv4 text, read and written in one place for the whole tree.
//
// An address is exactly four decimal numbers from 0 to 255 joined by dots,
// with nothing before, between or after them. A number with a leading zero
// ("010.0.0.1") is refused: inet_aton, ping and many other tools read it as
// octal, so the same text would name another host to them.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// The address in host byte order, or nothing when the text is not exactly
// a dotted IPv4 address.
std::optional<std::uint32_t> parseDottedIPv4(std::string_view text);

inline bool isDottedIPv4(std::string_view text) { return parseDottedIPv4(text).has_value(); }

// "a.b.c.d" of an address in host byte order.
std::string formatDottedIPv4(std::uint32_t address);

// An IPv4 address as a value, for what carries an address rather than the
// text a device or a user wrote.
struct Ipv4 {
    std::uint32_t hostOrder = 0;

    static std::optional<Ipv4> parse(std::string_view text) {
        const auto a = parseDottedIPv4(text);
        return a ? std::optional(Ipv4{*a}) : std::nullopt;
    }
    std::string text() const { return formatDottedIPv4(hostOrder); }
    auto operator<=>(const Ipv4&) const = default;
};

// The text of an address that may be absent: empty when it is.
inline std::string textOf(const std::optional<Ipv4>& address) { return address ? address->text() : std::string(); }

// An address that may be absent as the interfaces that take a bare number
// in host byte order hold it: 0 when it is absent (0.0.0.0 names no host).
inline std::uint32_t hostOrderOf(const std::optional<Ipv4>& address) { return address ? address->hostOrder : 0; }

// The other way: nothing for 0.
inline std::optional<Ipv4> knownIpv4(std::uint32_t hostOrder) {
    return hostOrder != 0 ? std::optional(Ipv4{hostOrder}) : std::nullopt;
}

// The address as the socket calls carry it (network byte order), and back.
in_addr inAddrOf(Ipv4 address);
Ipv4 ipv4Of(in_addr address);

// An IPv4 socket address for address:port; the address a socket address
// holds (its port aside).
sockaddr_in socketAddressOf(Ipv4 address, std::uint16_t port);
inline Ipv4 ipv4Of(const sockaddr_in& socketAddress) { return ipv4Of(socketAddress.sin_addr); }

// At most this many addresses over all the host arguments of one search.
inline constexpr std::size_t kMaxTargetsInAll = 4096;

// What host arguments may name.
struct TargetRules {
    std::size_t maxBlock = 0;                 // addresses in one argument
    std::size_t maxInAll = kMaxTargetsInAll;  // distinct addresses over all of them
    bool loopback = false;                    // 127.0.0.0/8 too: the loopback lab
};

// Why a search may not be sent to `address` (host byte order), as a phrase
// such as "a multicast address (224.0.0.0/4), not a box's address"; nothing
// when it may. Refused
// are this network's addresses (0.0.0.0/8, 0.0.0.0 among them), the
// broadcast address 255.255.255.255, multicast (224.0.0.0/4), the reserved
// 240.0.0.0/4, and loopback (127.0.0.0/8) unless `loopback` allows it: none
// of them is one box's address.
std::optional<std::string> whyNoTarget(std::uint32_t address, bool loopback);

// The addresses a host argument names: one dotted address, or a block
// "a.b.c.d/N" of at most rules.maxBlock addresses. A block's own network and
// broadcast addresses are left out when it has more than two (they name no
// host). The block's base must be its first address ("10.0.0.0/24", not
// "10.0.0.7/24"). Every address must pass whyNoTarget. Nothing, with `why`
// set, when the text names none or names one that may not be searched.
std::optional<std::vector<std::uint32_t>> parseHostTargets(std::string_view text, const TargetRules& rules,
                                                           std::string* why = nullptr);

// The addresses of every host argument, each once, in the order first
// named; nothing, with `why` set, when one argument is refused or all of
// them name more than rules.maxInAll addresses.
std::optional<std::vector<std::uint32_t>> parseHostTargetList(const std::vector<std::string>& texts,
                                                              const TargetRules& rules, std::string* why = nullptr);

// A text read the classic way of the C library's inet_addr: one to four
// numbers joined by dots, each decimal, octal (leading 0) or hexadecimal
// (leading 0x), the last one filling the bytes that remain ("10.1" is
// 10.0.0.1, "4294967040" is 255.255.255.0). A blank after the last number
// ends the text, and what follows it is not read ("1.2 .3.4" is 1.0.0.2).
// The address in host byte order, or nothing when the text is not such an
// address. Only for texts that must be read as the classic tools read
// them; what is sent or shown is the exact dotted form above.
std::optional<std::uint32_t> parseClassicIPv4(std::string_view text);

}  // namespace qs
