// Feeds arbitrary bytes to the lab web server's request handling, whole and
// as a connection receives them (in pieces, the response asked for again
// after each), and checks what the server relies on: every response is a
// complete HTTP/1.1 response, and a request that has filled the buffer
// always gets one (otherwise the connection would sit until its time limit).
#include "config.h"
#include "web.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace qs::sim;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz_web_request: %s\n", what);
    std::abort();
}

void checkResponse(const std::optional<std::string>& r) {
    if (!r) return;
    if (r->rfind("HTTP/1.1 ", 0) != 0) broken("response without a status line");
    if (r->find("\r\n\r\n") == std::string::npos) broken("response header not ended");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const DeviceConfig state = labDevices().front();
    const std::string_view received(reinterpret_cast<const char*>(data), size);

    checkResponse(webResponse(received, state));

    // Arrival in pieces: the server stops at the first response.
    const std::size_t step = 1 + (size > 0 ? data[0] % 61 : 0);
    for (std::size_t cut = step; cut < size; cut += step) {
        const auto r = webResponse(received.substr(0, cut), state);
        checkResponse(r);
        if (r) break;
    }

    // The input again and again up to the buffer's size.
    if (size > 0) {
        std::string full;
        while (full.size() < kMaxWebRequest) full.append(received);
        const auto r = webResponse(full, state);
        if (!r) broken("no response to a full buffer");
        checkResponse(r);
    }
    return 0;
}
