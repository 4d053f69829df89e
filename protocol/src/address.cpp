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

}  // namespace qs
