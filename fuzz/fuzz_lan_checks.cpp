// Feeds arbitrary texts to the checks of a static LAN configuration and to
// the classic address reader. The input is address, netmask and gateway
// separated by newlines. Whatever passes must be a real configuration: exact
// dotted address and netmask, a netmask of ones then zeros, values that read
// back from the texts; and an exact dotted text reads the same both ways.
#include "quayside/address.h"
#include "quayside/lan_checks.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(std::string_view address, std::string_view netmask, std::string_view gateway, const qs::LanPolicy& policy) {
    const qs::LanCheck result = qs::checkLanSettings(address, netmask, gateway, policy);
    if (!result.ok()) return;
    if (qs::parseDottedIPv4(address) != result.address.hostOrder) std::abort();
    if (qs::parseDottedIPv4(netmask) != result.netmask.hostOrder) std::abort();
    if (qs::checkNetmaskBits(result.netmask.hostOrder, policy) != qs::LanError::None) std::abort();
    if (result.gateway && qs::parseDottedIPv4(gateway) != result.gateway->hostOrder) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string_view parts[3];
    for (int i = 0; i < 2; ++i) {
        const std::size_t cut = text.find('\n');
        parts[i] = text.substr(0, cut);
        text = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
    }
    parts[2] = text;
    check(parts[0], parts[1], parts[2], qs::kWinLanPolicy);
    check(parts[0], parts[1], parts[2], qs::kMacLanPolicy);
    for (const std::string_view part : parts) {
        const auto exact = qs::parseDottedIPv4(part);
        if (exact && qs::parseClassicIPv4(part) != exact) std::abort();
        (void)qs::readDottedText(part);
    }
    return 0;
}
