#include "tcpip_validation.h"

#include <cstdint>

namespace qs::win {

bool IsValidNetmask(int m0, int m1, int m2, int m3) {
    if (m0 == 0) return false;
    const std::uint32_t bits = (std::uint32_t(m0 & 0xFF) << 24) | (std::uint32_t(m1 & 0xFF) << 16) |
                               (std::uint32_t(m2 & 0xFF) << 8) | std::uint32_t(m3 & 0xFF);
    // Ones then zeros only: the inverted mask plus one is a power of two.
    const std::uint32_t inverted = ~bits;
    return (inverted & (inverted + 1)) == 0;
}

bool IsGatewayMisplaced(const Octets& a, const Octets& m, const Octets& g) {
    if (a[0] == 169 && a[1] == 254) return false;  // link-local needs no gateway
    bool network = true, broadcast = true, otherSubnet = false;
    for (int i = 0; i < 4; ++i) {
        network = network && g[i] == (a[i] & m[i]);
        broadcast = broadcast && g[i] == ((255 - m[i]) | a[i]);
        otherSubnet = otherSubnet || (a[i] & m[i]) != (g[i] & m[i]);
    }
    return network || broadcast || otherSubnet;
}

bool firstOctetInRange(int o0) { return o0 >= 1 && o0 <= 223; }

}  // namespace qs::win
