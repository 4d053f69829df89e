#include "quayside/address.h"

#include <arpa/inet.h>
#include <cctype>
#include <unordered_set>

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

in_addr inAddrOf(Ipv4 address) {
    in_addr a{};
    a.s_addr = htonl(address.hostOrder);
    return a;
}

Ipv4 ipv4Of(in_addr address) { return Ipv4{ntohl(address.s_addr)}; }

sockaddr_in socketAddressOf(Ipv4 address, std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr = inAddrOf(address);
    return sin;
}

std::optional<std::string> whyNoTarget(std::uint32_t address, bool loopback) {
    const std::uint32_t top = address >> 24;
    if (top == 0) return "an address of this network (0.0.0.0/8), not a box's address";
    if (top == 127 && !loopback) return "a loopback address (127.0.0.0/8), searched only in the loopback lab";
    if (top >= 224 && top <= 239) return "a multicast address (224.0.0.0/4), not a box's address";
    if (address == 0xFFFFFFFFu) return "the broadcast address, not a box's address";
    if (top >= 240) return "a reserved address (240.0.0.0/4), not a box's address";
    return std::nullopt;
}

namespace {

std::optional<std::vector<std::uint32_t>> failWith(std::string* why, const std::string& message) {
    if (why) *why = message;
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> parseHostTargets(std::string_view text, const TargetRules& rules,
                                                           std::string* why) {
    const auto fail = [&](const std::string& message) { return failWith(why, message); };
    const std::string shown(text.substr(0, 40));
    const std::size_t slash = text.find('/');
    const auto base = parseDottedIPv4(text.substr(0, slash));
    if (!base) return fail("'" + shown + "' is not a dotted IPv4 address or an address block a.b.c.d/N");
    if (slash == std::string_view::npos) {
        if (const auto no = whyNoTarget(*base, rules.loopback)) return fail("'" + shown + "' is " + *no);
        return std::vector<std::uint32_t>{*base};
    }
    const std::string_view bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 2 || bits.find_first_not_of("0123456789") != std::string_view::npos ||
        (bits.size() == 2 && bits[0] == '0'))
        return fail("'" + shown + "': the prefix length after '/' must be a number from 0 to 32");
    const int prefix = std::stoi(std::string(bits));
    if (prefix > 32) return fail("'" + shown + "': the prefix length after '/' must be a number from 0 to 32");
    const std::uint64_t size = std::uint64_t{1} << (32 - prefix);
    if (size > rules.maxBlock)
        return fail("'" + shown + "' holds " + std::to_string(size) + " addresses; at most " +
                    std::to_string(rules.maxBlock) + " may be searched at once");
    if ((*base & static_cast<std::uint32_t>(size - 1)) != 0)
        return fail("'" + shown + "' does not start at its block's first address " +
                    formatDottedIPv4(*base & ~static_cast<std::uint32_t>(size - 1)));
    std::vector<std::uint32_t> out;
    const std::uint32_t first = size > 2 ? 1 : 0;
    const std::uint32_t last = size > 2 ? static_cast<std::uint32_t>(size - 2) : static_cast<std::uint32_t>(size - 1);
    for (std::uint32_t k = first; k <= last; ++k) {
        if (const auto no = whyNoTarget(*base + k, rules.loopback))
            return fail("'" + shown + "' holds " + formatDottedIPv4(*base + k) + ", " + *no);
        out.push_back(*base + k);
    }
    return out;
}

std::optional<std::vector<std::uint32_t>> parseHostTargetList(const std::vector<std::string>& texts,
                                                              const TargetRules& rules, std::string* why) {
    std::vector<std::uint32_t> out;
    std::unordered_set<std::uint32_t> seen;
    for (const auto& text : texts) {
        const auto addresses = parseHostTargets(text, rules, why);
        if (!addresses) return std::nullopt;
        for (const std::uint32_t a : *addresses)
            if (seen.insert(a).second) out.push_back(a);
        if (out.size() > rules.maxInAll)
            return failWith(why, "the addresses come to more than " + std::to_string(rules.maxInAll) + " in all (at '" +
                                     text.substr(0, 40) + "'); at most " + std::to_string(rules.maxInAll) +
                                     " may be searched at once");
    }
    return out;
}

std::optional<std::uint32_t> parseClassicIPv4(std::string_view text) {
    std::uint32_t parts[4] = {};
    std::size_t count = 0;
    std::size_t i = 0;
    for (;;) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
        unsigned base = 10;
        if (text[i] == '0') {
            base = 8;
            ++i;
            if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
                base = 16;
                ++i;
                if (i >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
            }
        }
        std::uint64_t value = 0;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            unsigned digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (base == 16 && c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (base == 16 && c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                break;
            }
            if (digit >= base) return std::nullopt;  // 8 or 9 in an octal number
            value = value * base + digit;
            if (value > 0xFFFFFFFFu) return std::nullopt;
        }
        parts[count++] = static_cast<std::uint32_t>(value);
        if (i < text.size() && text[i] == '.' && count < 4) {
            if (value > 0xFF) return std::nullopt;
            ++i;
            continue;
        }
        break;
    }
    // A blank after the last number ends the text; what follows it is not
    // read.
    if (i != text.size() && !(text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) return std::nullopt;
    // The last number fills what the others leave.
    const unsigned lastBits = 32 - 8 * static_cast<unsigned>(count - 1);
    const std::uint32_t last = parts[count - 1];
    if (lastBits < 32 && last >> lastBits != 0) return std::nullopt;
    std::uint32_t address = last;
    for (std::size_t k = 0; k + 1 < count; ++k) address |= parts[k] << (24 - 8 * k);
    return address;
}

}  // namespace qs
