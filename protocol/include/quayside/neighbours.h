// The kernel's neighbour table (IPv4 address to hardware address on a
// link), read through netlink as any user may, and what it says about an
// address: which hardware answers for a box, and whether another host
// already holds an address a box is about to be given.
#pragma once

#include "quayside/wire.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qs {

struct DeviceData_n;

struct HardwareAddress {
    std::array<std::uint8_t, 6> bytes{};
    auto operator<=>(const HardwareAddress&) const = default;
};
// "aa:bb:cc:dd:ee:ff".
std::string formatHardwareAddress(const HardwareAddress& address);

struct Neighbour {
    std::uint32_t address = 0;  // host order
    int interfaceIndex = 0;
    std::uint16_t state = 0;    // the kernel's NUD_* bits
    std::optional<HardwareAddress> hardware;
    // The holder answered the kernel's question (now or a short while ago)
    // and its hardware address is known.
    bool answered() const;
};

// The IPv4 entries of netlink neighbour messages (one buffer of a dump
// reply). `done` once the dump's end is read; `error` when the kernel
// answered with one (its errno).
struct NeighbourMessages {
    std::vector<Neighbour> entries;
    bool done = false;
    std::optional<int> error;
};
NeighbourMessages decodeNeighbourMessages(ByteView data);

// The whole IPv4 neighbour table; nothing, with the reason, when it cannot
// be read.
std::optional<std::vector<Neighbour>> readNeighbourTable(std::string* why = nullptr);
// The hardware address the table holds for `address` (answered entries
// only); nothing for an address behind a router or not heard from.
std::optional<HardwareAddress> hardwareAddressOf(std::uint32_t address);
// Gives each record the hardware address `table` holds for the address it
// answered from (answered entries only), and none where it holds none.
void fillHardwareAddresses(const std::vector<DeviceData_n*>& devices, const std::vector<Neighbour>& table);

// The way this host reaches `address`: the local address it sends from,
// that address's interface and the subnets (address and netmask) the
// interface has. Nothing when there is no route (`why` says so).
struct LocalRoute {
    std::uint32_t localAddress = 0;
    std::string interfaceName;
    bool loopback = false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> subnets;  // address, netmask
    bool onLink(std::uint32_t address) const;
};
std::optional<LocalRoute> localRouteTo(std::uint32_t address, std::string* why = nullptr);

// Who holds `address` on the link of `route`: one datagram to it from the
// route's local address makes the kernel ask the link, and the neighbour
// table then says whether someone answered within `wait`, and with what
// hardware address. `known` is false when the link could not be asked
// (`why` says why).
struct LinkAnswer {
    bool known = false;
    std::optional<HardwareAddress> hardware;  // set: held by this hardware
    bool thisHost = false;                    // held by this computer itself
    std::string why;
};
LinkAnswer askLink(std::uint32_t address, const LocalRoute& route, std::chrono::milliseconds wait);

}  // namespace qs
