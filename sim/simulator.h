// The simulator's loop. Requests come to the two groups and, as on a LAN,
// by unicast to an address of the host at the device port. A unicast
// request is answered as the device's unicast reply mode says (by default by
// unicast to its sender's address and port, from the address it was sent
// to), whatever its reply mode for group requests: a search by the devices
// with a port at that address, any other request by the device it names.
// Outside the lab one socket bound to the wildcard address takes them (and
// no group traffic); in the lab, where a client holds the wildcard address
// on "lo", one socket per device address in 127/8 other than 127.0.0.1.
//
// A device restarting after a settings change it took neither takes nor
// answers any request until its silence is over. The clock alone decides
// that; its end is only reported (under --verbose).
#pragma once

#include "device.h"

#include <optional>
#include <string>
#include <vector>

namespace qs::sim {

// What the command line asked for.
struct SimulatorOptions {
    std::optional<std::string> configPath;
    bool lab = false;
    int generate = 0;
    bool loopback = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
    std::optional<ReplyMode> reply;
    std::optional<UnicastReply> unicastReply;
};

// Opens the devices' sockets and servers, says "ready" on stdout once all
// of them listen, and answers until SIGINT or SIGTERM; the exit status.
int runSimulator(std::vector<Device> devices, const SimulatorOptions& options);

}  // namespace qs::sim
