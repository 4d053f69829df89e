// Feeds arbitrary text to the reader of the quayside tool's remembered
// boxes (boxes.json). A list it accepts must come back the same from what
// the tool would write of it, and must print, as `quayside boxes` prints it.
#include "box_store.h"
#include "cli_format.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qs::cli;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto boxes = parseBoxes(text);
    if (!boxes) return 0;
    if (parseBoxes(serializeBoxes(*boxes)) != boxes) std::abort();
    std::set<std::string> live;
    for (const RememberedBox& b : *boxes) {
        (void)jsonLine(rememberedBoxJson(b, false));
        (void)matchRemembered(*boxes, b.hostname);
        live.insert(b.serverUUID);
    }
    (void)rememberedBoxTable(*boxes, live, true);
    return 0;
}
