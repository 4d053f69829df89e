// A box's move to a new static address, as this host sees it: before the
// change, whether another host on the link already holds the address and
// whether this host will still reach the box there; after it, where the box
// answers. Used alike by the tool and both programs, which differ only in
// how they ask the user (exit status, OK/Cancel).
#pragma once

#include "quayside/records.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace qs {

// How long a host that holds an address has to answer the link's question.
inline constexpr std::chrono::milliseconds kAddressProbeWait{1500};
// How long a box is looked for after a change it accepted.
inline constexpr std::chrono::seconds kFollowUpLimit{10};

struct AddressChangeCheck {
    enum class Verdict {
        Clear,      // nothing stands in the way (or there is nothing to ask: the loopback lab)
        InUse,      // another host on the link answers for the address
        Unreachable,  // outside the subnets through which this host reaches the box
        Unchecked,  // the link could not be asked; `text` says why
    };
    Verdict verdict = Verdict::Clear;
    // The user's line: "ADDRESS is already in use on the network (by HW).",
    // the unreachable warning, or why nothing could be checked.
    std::string text;
    bool stops() const { return verdict == Verdict::InUse || verdict == Verdict::Unreachable; }
};

// Checks `target` as the new address of `portIndex` (0 or 1) of `box`
// before it is sent. Blocks for up to two link questions of `wait` each.
AddressChangeCheck checkAddressChange(const DeviceData_n& box, int portIndex, std::uint32_t target,
                                      std::chrono::milliseconds wait = kAddressProbeWait);

// After an accepted change: "NAME answers at A.", "NAME answers at B, not at
// A." or "NAME did not answer within 10 s; it may still be restarting.".
// `asked` is the address the box was given (none for DHCP), `at` where it
// answered (none: it did not).
std::string whereTheBoxAnswers(const std::string& name, std::optional<std::uint32_t> asked,
                               std::optional<std::uint32_t> at);

// Whether a box at `at` is where it was sent (any address will do for DHCP).
inline bool answersWhereSent(std::optional<std::uint32_t> asked, std::optional<std::uint32_t> at) {
    return at && (!asked || *asked == *at);
}

// A box that answers at an address of this host's loopback is a simulated
// one: it answers there whatever address it was given.
inline bool answersOnLoopback(std::optional<std::uint32_t> at) { return at && (*at >> 24) == 127; }

}  // namespace qs
