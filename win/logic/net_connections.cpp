#include "net_connections.h"

#include "quayside/address.h"

#include <cstring>

namespace qs::win {

std::optional<int> driveIndex(std::string_view localName) {
    if (localName.size() != 2 && !(localName.size() == 3 && localName[2] == '\\')) return std::nullopt;
    if (localName[1] != ':') return std::nullopt;
    const char c = localName[0];
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a';
    return std::nullopt;
}

bool isPublishableShareName(std::string_view share) {
    if (share.empty() || share.size() > 255) return false;
    if (share.find_first_not_of('.') == std::string_view::npos) return false;
    for (const char ch : share) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
        if (std::strchr("\\/\"*:<>?|", ch)) return false;
    }
    return true;
}

std::string remoteNameOf(std::string_view server, std::string_view share) {
    return "\\\\" + std::string(server) + "\\" + std::string(share);
}

std::optional<RemoteName> parseRemoteName(std::string_view remoteName) {
    if (remoteName.size() < 5 || remoteName.substr(0, 2) != "\\\\") return std::nullopt;
    const std::size_t sep = remoteName.find('\\', 2);
    if (sep == std::string_view::npos) return std::nullopt;
    RemoteName r{std::string(remoteName.substr(2, sep - 2)), std::string(remoteName.substr(sep + 1))};
    if (!isDottedIPv4(r.server) || !isPublishableShareName(r.share)) return std::nullopt;
    return r;
}

}  // namespace qs::win
