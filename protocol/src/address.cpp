#include "quayside/address.h"

namespace qs {

std::optional<std::uint32_t> parseDottedIPv4(std::string_view text) {
    std::uint32_t address = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.') return std::nullopt;
            ++i;
        }
        const std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && i - start < 3 && text[i] >= '0' && text[i] <= '9')
            value = value * 10 + static_cast<unsigned>(text[i++] - '0');
        const std::size_t digits = i - start;
        if (digits == 0 || value > 255) return std::nullopt;
        if (digits > 1 && text[start] == '0') return std::nullopt;
        address = (address << 8) | value;
    }
    if (i != text.size()) return std::nullopt;
    return address;
}

std::string formatDottedIPv4(std::uint32_t address) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24) out += '.';
        out += std::to_string((address >> shift) & 0xFF);
    }
    return out;
}

std::optional<std::vector<std::uint32_t>> parseHostTargets(std::string_view text, std::size_t maxAddresses,
                                                           std::string* why) {
    const auto fail = [&](const std::string& message) -> std::optional<std::vector<std::uint32_t>> {
        if (why) *why = message;
        return std::nullopt;
    };
    const std::string shown(text.substr(0, 40));
    const std::size_t slash = text.find('/');
    const auto base = parseDottedIPv4(text.substr(0, slash));
    if (!base) return fail("'" + shown + "' is not a dotted IPv4 address or an address block a.b.c.d/N");
    if (slash == std::string_view::npos) return std::vector<std::uint32_t>{*base};
    const std::string_view bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 2 || bits.find_first_not_of("0123456789") != std::string_view::npos ||
        (bits.size() == 2 && bits[0] == '0'))
        return fail("'" + shown + "': the prefix length after '/' must be a number from 0 to 32");
    const int prefix = std::stoi(std::string(bits));
    if (prefix > 32) return fail("'" + shown + "': the prefix length after '/' must be a number from 0 to 32");
    const std::uint64_t size = std::uint64_t{1} << (32 - prefix);
    if (size > maxAddresses)
        return fail("'" + shown + "' holds " + std::to_string(size) + " addresses; at most " +
                    std::to_string(maxAddresses) + " may be searched at once");
    if ((*base & static_cast<std::uint32_t>(size - 1)) != 0)
        return fail("'" + shown + "' does not start at its block's first address " +
                    formatDottedIPv4(*base & ~static_cast<std::uint32_t>(size - 1)));
    std::vector<std::uint32_t> out;
    const std::uint32_t first = size > 2 ? 1 : 0;
    const std::uint32_t last = size > 2 ? static_cast<std::uint32_t>(size - 2) : static_cast<std::uint32_t>(size - 1);
    for (std::uint32_t k = first; k <= last; ++k) out.push_back(*base + k);
    return out;
}

}  // namespace qs
