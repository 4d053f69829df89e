// Where a request that carries the administrator password goes, and whose
// answer to it is believed.
//
// Everything sent to a group reaches every host on the segment, and the
// password travels in base64. So such a request goes by unicast to the
// address the device answered the search from (for a device found by
// address, the address asked). The group is a fallback for a device that
// gives no answer to unicast within the first wait: it gets one copy there,
// at most one per request, and is remembered as a device that needs the
// group, so its later requests go there at once. Copies sent again go by
// unicast only.
//
// An answer counts only when it comes from the address the request went
// to or, once the group was asked, from one of the addresses the device
// reported for its ports.
#pragma once

#include "quayside/records.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
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
    // Whether `from` is one of the device's addresses at all: the one asked
    // or one it reported for a port (for answers still owed to copies sent
    // either way).
    bool fromDevice(const Request& r, std::uint32_t from) const;
    // The request was answered: a device that answered only once the group
    // had been asked is remembered as one that needs it, unless the answer
    // came to the socket the unicast copies left from (`toUnicastCopy`):
    // then it answered one of those, only late.
    void answered(const Request& r, bool toUnicastCopy = false);
    bool needsGroup(const Uuid8& device) const { return needsGroup_.count(device) != 0; }

private:
    Via group(Request& r);

    std::set<Uuid8> needsGroup_;
};

// Answers still on their way to a request that has ended.
//
// A device answers every copy of a request it receives, and nothing in an
// answer tells one copy from another, or one request from the next of the
// same opcode to the same device. So when a request ends after several
// copies went out, the answers to the others may still come, and the next
// such request would take the first of them for its own (a refusal of the
// last password answering the next one). The ledger keeps, per device and
// opcode, how many answers are still owed and until when they can come:
// - answered: one answer fewer than copies sent, until the last copy's
//   send time plus the longest round trip the answer allows (from the first
//   copy to the answer), plus a margin;
// - unanswered: every copy, for a grace time after the request ended.
// A new request of that opcode to that device is held back while answers
// are owed (both engines read and drop them meanwhile), so an answer that
// settles a request always comes after it was sent and after every answer
// owed to the requests before it.
class LateAnswers {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kMargin{100};
    static constexpr std::chrono::milliseconds kUnansweredGrace{1000};

    struct Key {
        Uuid8 device{};
        std::uint16_t opcode = 0;
        auto operator<=>(const Key&) const = default;
    };
    // One request ended: `copies` were sent, the first at `first`, the
    // last at `last`; `answeredAt` when an answer settled it.
    void ended(const Key& key, int copies, Clock::time_point first, Clock::time_point last,
               std::optional<Clock::time_point> answeredAt, Clock::time_point now);
    // Until when a new request for `key` is to be held back; nothing when
    // it can go now.
    std::optional<Clock::time_point> holdUntil(const Key& key, Clock::time_point now);
    // An answer for `key` that no request is waiting for: true when it was
    // one of those owed (it is counted off).
    bool takeLate(const Key& key, Clock::time_point now);

private:
    struct Owed {
        int count = 0;
        Clock::time_point until{};
    };
    std::map<Key, Owed> owed_;
};

}  // namespace qs
