#include "smb_address.h"

#include <locale.h>
#include <wctype.h>

namespace qs::shares {

namespace {

constexpr std::string_view kScheme = "smb://";

std::string encode(std::string_view text, bool keepDots) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '_' || c == '~' || (keepDots && c == '.');
        if (unreserved) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The next code point of UTF-8 text; a byte that starts no well-formed
// sequence stands for itself.
char32_t nextCodePoint(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const int more = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : 0;
    if (lead < 0x80 || more == 0 || (lead >= 0xF5) || text.size() - at <= static_cast<std::size_t>(more)) {
        ++at;
        return lead;
    }
    char32_t c = lead & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
        if ((byte(at + static_cast<std::size_t>(k)) & 0xC0) != 0x80) {
            ++at;
            return lead;
        }
        c = (c << 6) | (byte(at + static_cast<std::size_t>(k)) & 0x3F);
    }
    at += static_cast<std::size_t>(more) + 1;
    return c;
}

char32_t foldCase(char32_t c) {
    // Letters of every script, whatever locale the program runs in.
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (c < 0x80 || !unicode) return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    return static_cast<char32_t>(::towlower_l(static_cast<wint_t>(c), unicode));
}

}  // namespace

bool sameShareName(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (foldCase(nextCodePoint(a, i)) != foldCase(nextCodePoint(b, j))) return false;
    return i == a.size() && j == b.size();
}

std::string encodeAddressPart(std::string_view text) { return encode(text, false); }

std::string encodeHost(std::string_view host) { return encode(host, true); }

std::optional<std::string> decodeAddressPart(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 3) return std::nullopt;
        const int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::string smbUri(std::string_view host, std::string_view share) {
    return std::string(kScheme) + encodeHost(host) + "/" + encodeAddressPart(share) + "/";
}

std::string smbAddress(const SmbAddress& address) {
    std::string out(kScheme);
    if (address.user) {
        out += encodeAddressPart(*address.user);
        if (address.password) out += ":" + encodeAddressPart(*address.password);
        out += '@';
    }
    return out + encodeHost(address.host) + "/" + encodeAddressPart(address.share);
}

std::optional<SmbAddress> parseSmbAddress(std::string_view address) {
    if (address.substr(0, kScheme.size()) != kScheme) return std::nullopt;
    address.remove_prefix(kScheme.size());
    const auto slash = address.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view authority = address.substr(0, slash), share = address.substr(slash + 1);
    if (!share.empty() && share.back() == '/') share.remove_suffix(1);
    if (share.empty() || share.find('/') != std::string_view::npos) return std::nullopt;

    SmbAddress out;
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view info = authority.substr(0, at);
        authority.remove_prefix(at + 1);
        const auto colon = info.find(':');
        out.user = decodeAddressPart(info.substr(0, colon));
        if (!out.user) return std::nullopt;
        if (colon != std::string_view::npos) {
            out.password = decodeAddressPart(info.substr(colon + 1));
            if (!out.password) return std::nullopt;
        }
    }
    auto host = decodeAddressPart(authority);
    auto name = decodeAddressPart(share);
    if (!host || !name || host->empty()) return std::nullopt;
    out.host = std::move(*host);
    out.share = std::move(*name);
    return out;
}

}  // namespace qs::shares
