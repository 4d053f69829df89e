#include "quayside/address_change.h"

#include "quayside/address.h"
#include "quayside/neighbours.h"

namespace qs {

namespace {

std::uint32_t boxAddress(const DeviceData_n& box) {
    return box.answeredFrom ? box.answeredFrom->hostOrder : hostOrderOf(box.port[0].IP.address());
}

AddressChangeCheck found(AddressChangeCheck::Verdict verdict, std::string text) {
    return AddressChangeCheck{verdict, std::move(text)};
}

}  // namespace

AddressChangeCheck checkAddressChange(const DeviceData_n& box, int portIndex, std::uint32_t target,
                                      std::chrono::milliseconds wait) {
    using Verdict = AddressChangeCheck::Verdict;
    const std::uint32_t at = boxAddress(box);
    if (at == 0 || target == 0) return {};
    const std::string address = formatDottedIPv4(target);
    std::string why;
    const auto route = localRouteTo(at, &why);
    if (!route) return found(Verdict::Unchecked, "cannot check " + address + " before the change (" + why + ")");
    // Every 127.x address is this host's own: the loopback lab has no link
    // to ask.
    if (route->loopback) return {};
    const std::string name = box.hostname.str();
    if (!route->onLink(at)) {
        // Behind a router: the router reaches the box's own subnet, and
        // nothing on this link can hold its address.
        const std::uint32_t mask = hostOrderOf(box.port[portIndex == 1 ? 1 : 0].netmask.address());
        if (mask != 0 && (target & mask) != (at & mask))
            return found(Verdict::Unreachable,
                         address + " is outside the subnet " + formatDottedIPv4(at & mask) +
                             " through which this computer reaches " + name +
                             ": the box will not be reachable from this host afterwards.");
        return {};
    }
    if (!route->onLink(target))
        return found(Verdict::Unreachable, address + " is outside every subnet of " + route->interfaceName +
                                               ", through which this computer reaches " + name +
                                               ": the box will not be reachable from this host afterwards.");
    // The box's own hardware address (asked of the link when the table has
    // none yet): the box may keep an address it has.
    auto owner = hardwareAddressOf(at);
    if (!owner) owner = askLink(at, *route, wait).hardware;
    const LinkAnswer holder = askLink(target, *route, wait);
    if (!holder.known) return found(Verdict::Unchecked, "cannot check " + address + " before the change (" + holder.why + ")");
    if (holder.thisHost) return found(Verdict::InUse, address + " is already in use on the network (by this computer).");
    if (holder.hardware && holder.hardware != owner)
        return found(Verdict::InUse, address + " is already in use on the network (by " +
                                         formatHardwareAddress(*holder.hardware) + ").");
    return {};
}

std::string whereTheBoxAnswers(const std::string& name, std::optional<std::uint32_t> asked,
                               std::optional<std::uint32_t> at) {
    if (!at) return name + " did not answer within 10 s; it may still be restarting.";
    if (!asked || *at == *asked) return name + " answers at " + formatDottedIPv4(*at) + ".";
    return name + " answers at " + formatDottedIPv4(*at) + ", not at " + formatDottedIPv4(*asked) + ".";
}

}  // namespace qs
