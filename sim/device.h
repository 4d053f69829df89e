// One simulated device: its mutable state, the reply it builds for each
// request it understands, and the faults it can be told to commit.
#pragma once

#include "config.h"

#include "quayside/wire.h"

#include <optional>
#include <string>
#include <vector>

namespace qs::sim {

// ret_code of a reply that reports success.
inline constexpr std::uint16_t kReplyOk = 1;

// A reply as the device means it, before any fault is applied. body_len in
// the header is filled in when the reply is encoded.
struct Reply {
    PacketHeader header;
    Bytes body;
};

// Why a received datagram is not handed to the devices.
enum class RequestCheck { Request, TooShort, NotRequest };

RequestCheck checkRequest(ByteView datagram);

// Header plus body, with body_len as the header says (not recomputed).
Bytes encodeReply(const Reply& reply);

// The datagrams that stand for `good` under the given faults, in sending
// order. Body faults (bad first items) come first, then header faults, then
// the cut to 40 bytes; duplicate and badThenGood add copies; silent sends
// nothing.
std::vector<Bytes> applyFaults(const Reply& good, const std::vector<Fault>& faults);

// The items of a search reply for this device state.
Bytes searchBody(const DeviceConfig& state);

// The reply mode a device uses: `forced` (from --reply) wins; in the
// loopback lab a device replies to the group unless its config asks for
// unicast; otherwise the config's mode, group when it names none.
ReplyMode effectiveReplyMode(const DeviceConfig& state, bool loopback, std::optional<ReplyMode> forced);

class Device {
public:
    explicit Device(DeviceConfig state) : state_(std::move(state)) {}

    const DeviceConfig& state() const { return state_; }
    DeviceConfig& state() { return state_; }

    // The datagrams this device sends for `request` (a datagram that passed
    // checkRequest), faults applied. Empty when it does not answer.
    std::vector<Bytes> answer(const PacketHeader& request, ByteView datagram);

    // Whether the device has a handler for this opcode.
    static bool handles(std::uint16_t opcode);

private:
    using Handler = std::optional<Reply> (Device::*)(const PacketHeader& request, ByteView datagram);
    struct Route {
        std::uint16_t opcode;
        Handler handler;
    };
    static const Route kRoutes[];

    // One handler per opcode. Each returns the good reply, or nothing when
    // the request is not one this device answers.
    std::optional<Reply> onSearch(const PacketHeader& request, ByteView datagram);

    Reply startReply(const PacketHeader& request) const;

    DeviceConfig state_;
};

}  // namespace qs::sim
