// Checks of a static address configuration before it is sent to a device.
#pragma once

#include <array>

namespace qs::win {

using Octets = std::array<int, 4>;

// Valid when no 1 bit follows a 0 bit (most significant bit of m0 first)
// and m0 is not 0; 255.255.255.255 is valid.
bool IsValidNetmask(int m0, int m1, int m2, int m3);

// True when the gateway does not fit the address and mask: it is the
// network or the broadcast address, or lies in another subnet. Never for a
// link-local (169.254) address.
bool IsGatewayMisplaced(const Octets& a, const Octets& m, const Octets& g);

// The first octet's range, 1..223, for the address (kind 1) and the
// gateway (kind 3).
bool firstOctetInRange(int o0);

}  // namespace qs::win
