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

namespace qs {

// The address in host byte order, or nothing when the text is not exactly
// a dotted IPv4 address.
std::optional<std::uint32_t> parseDottedIPv4(std::string_view text);

inline bool isDottedIPv4(std::string_view text) { return parseDottedIPv4(text).has_value(); }

// "a.b.c.d" of an address in host byte order.
std::string formatDottedIPv4(std::uint32_t address);

}  // namespace qs
