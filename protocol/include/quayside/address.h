// Dotted IPv4 text, read and written in one place for the whole tree.
//
// An address is exactly four decimal numbers from 0 to 255 joined by dots,
// with nothing before, between or after them. A number with a leading zero
// ("010.0.0.1") is refused: inet_aton, ping and many other tools read it as
// octal, so the same text would name another host to them.
#pragma once

#include <cstdint>
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

// The addresses a host argument names: one dotted address, or a block
// "a.b.c.d/N" of at most `maxAddresses` addresses. A block's own network and
// broadcast addresses are left out when it has more than two (they name no
// host). The block's base must be its first address ("10.0.0.0/24", not
// "10.0.0.7/24"). Nothing, with `why` set, when the text names none.
std::optional<std::vector<std::uint32_t>> parseHostTargets(std::string_view text, std::size_t maxAddresses,
                                                           std::string* why = nullptr);

}  // namespace qs
