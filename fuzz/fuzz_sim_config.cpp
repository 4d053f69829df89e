// Feeds arbitrary text to vsb-sim's config loader. A ConfigError is the
// loader's answer to a bad file; any other exception or a crash is a fault.
// A config it accepts is then used the way the simulator uses it: each
// device's search reply, older-format answer and web page are built.
#include "config.h"
#include "device.h"
#include "web.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qs::sim;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    SimConfig config;
    try {
        config = parseConfig(text, "fuzz");
    } catch (const ConfigError&) {
        return 0;
    }
    for (const DeviceConfig& d : config.devices) {
        (void)searchBody(d);
        (void)lanInformationText(d);
        (void)devicePage(d);
        (void)shareNames(d.shares);
        (void)d.serverAddress();
        (void)effectiveReplyMode(d, true, std::nullopt);
    }
    return 0;
}
