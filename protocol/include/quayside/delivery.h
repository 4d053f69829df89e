// Where a request that carries the administrator password goes, and whose
// answer to it is believed.
//
// Everything sent to a group reaches every host on the segment, and the
// password travels in base64. So such a request goes by unicast to the
// address the device answered the search from (for a device found by
// address, the address asked). The group is a fallback for a device that
// gives no answer to unicast within the first wait: it gets one copy there,
// at most one per user action, and is remembered as a device that needs the
// group, so its later requests go there at once. Copies sent again go by
// unicast only.
//
// An answer counts only when it comes from the address the request went
// to or, once the group was asked, from one of the addresses the device
// reported for its ports.
#pragma once

#include "quayside/records.h"

#include <cstdint>
#include <set>
#include <vector>

namespace qs {

enum class Via { Unicast, Group, Nothing };

class CredentialRoutes {
public:
    // One request on its way to one device.
    struct Request {
        Uuid8 device{};
        std::uint32_t address = 0;    // unicast destination, host byte order; 0 when unknown
        bool groupReachable = false;  // the device was found through the group
        bool groupSent = false;
        std::vector<std::uint32_t> reported;  // the addresses of the device's ports
    };

    // A request for `device`; groupReachable when the group can reach it
    // (found through the group, on an interface this host still has).
    Request start(const DeviceData_n& device, bool groupReachable) const;
    // How the first copy goes.
    Via first(Request& r);
    // How a copy sent again goes, after a wait without an answer.
    Via again(Request& r);
    // Whether an answer from `from` (host byte order) is the device's.
    bool believes(const Request& r, std::uint32_t from) const;
    // The request was answered: a device that answered only once the group
    // had been asked is remembered as one that needs it.
    void answered(const Request& r);
    bool needsGroup(const Uuid8& device) const { return needsGroup_.count(device) != 0; }

private:
    Via group(Request& r);

    std::set<Uuid8> needsGroup_;
};

}  // namespace qs
