#include "quayside/credentials.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <sys/prctl.h>

namespace qs {

std::string encode(const void* data, std::size_t length) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* in = static_cast<const std::uint8_t*>(data);
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.push_back(alphabet[(v >> 6) & 63]);
        out.push_back(alphabet[v & 63]);
    }
    const std::size_t rest = length - i;
    if (rest == 1) {
        const std::uint32_t v = std::uint32_t{in[i]} << 16;
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out += "==";
    } else if (rest == 2) {
        const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8);
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.push_back(alphabet[(v >> 6) & 63]);
        out.push_back('=');
    }
    return out;
}

std::string encode(std::string_view bytes) { return encode(bytes.data(), bytes.size()); }

namespace {
// Up to the capacity: what a longer value held before goes too.
template <typename Buffer>
void wipe(Buffer& secret) {
    secret.resize(secret.capacity());
    ::explicit_bzero(secret.data(), secret.size());
    secret.clear();
}
}  // namespace

void secureClear(std::string& secret) { wipe(secret); }
void secureClear(Bytes& secret) { wipe(secret); }

void keepMemoryPrivate() { ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }

namespace {
void putField(AuthBlock& block, std::size_t offset, std::string_view text) {
    if (text.empty()) return;
    std::string b64 = encode(text.substr(0, std::min(text.size(), kCredentialCut)));
    std::copy_n(b64.begin(), std::min(b64.size(), kCredentialField), block.begin() + static_cast<std::ptrdiff_t>(offset));
    secureClear(b64);
}
}  // namespace

AuthBlock makeAuthBlock(std::string_view user, std::string_view password) {
    AuthBlock block{};
    putField(block, 0, user);
    putField(block, kCredentialField, password);
    return block;
}

void appendAuthData(ByteWriter& w, std::string_view user, std::string_view password) {
    AuthBlock block = makeAuthBlock(user, password);
    w.bytes(block.data(), block.size());
    ::explicit_bzero(block.data(), block.size());
}

RandomWords systemRandom() {
    // std::random_device reads the kernel's entropy source, so two clients
    // started in the same second still get different ids.
    auto dev = std::make_shared<std::random_device>();
    return [dev]() { return static_cast<std::uint32_t>((*dev)()); };
}

Uuid8 makeClientId(const RandomWords& rnd) {
    Uuid8 id{};
    for (auto& b : id) b = static_cast<std::uint8_t>(rnd() & 0xFF);
    return id;
}

Uuid8 makeRunLoopClientId(const RandomWords& rnd) {
    Uuid8 id{};
    for (std::size_t i = 0; i < 6; ++i) id[i] = static_cast<std::uint8_t>(rnd() % 125 + 1);
    return id;
}

}  // namespace qs
