// Feeds arbitrary text, read as JSON, to the doctor's reader of the
// firewall's rule set (nft -j list ruleset). A rule set of any shape is
// judged or passed over; an exception or a crash is a fault.
#include "doctor.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const nlohmann::json ruleset = nlohmann::json::parse(text, nullptr, false);
    if (ruleset.is_discarded()) return 0;
    (void)qs::cli::firewallBlocks(ruleset);
    return 0;
}
