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

// What a received datagram is: a request with the 44-byte header, the
// older format's LAN-information query, or something the devices ignore.
enum class RequestCheck { Request, LegacyQuery, TooShort, NotRequest };

RequestCheck checkRequest(ByteView datagram);

// The older format's item query: exactly 24 bytes, no 55AA header. Kind 3,
// the client id, the serverUUID of the device asked, an item code, two zero
// bytes and a payload length of zero.
struct LegacyQuery {
    Uuid8 clientId{};
    Uuid8 serverUUID{};
    std::uint8_t itemCode = 0;
};

// The query in `datagram`, or nothing when it is not exactly one.
std::optional<LegacyQuery> readLegacyQuery(ByteView datagram);

// Header plus body, with body_len as the header says (not recomputed).
Bytes encodeReply(const Reply& reply);

// The datagrams that stand for `good` under the given faults, in sending
// order. Body faults (bad first items) come first, then header faults, then
// the cut to 40 bytes; duplicate and badThenGood add copies; silent sends
// nothing.
std::vector<Bytes> applyFaults(const Reply& good, const std::vector<Fault>& faults);

// The items of a search reply for this device state.
Bytes searchBody(const DeviceConfig& state);

// The colon-separated text of a LAN-information answer for this state
// (without the final NUL), e.g.
// `LAN1:192.168.0.20:255.255.255.0:192.168.0.1:0:LAN2:::::IFNUM:1`.
std::string lanInformationText(const DeviceConfig& state);

// The reply mode a device uses: `forced` (from --reply) wins; in the
// loopback lab a device replies to the group unless its config asks for
// unicast; otherwise the config's mode, group when it names none.
ReplyMode effectiveReplyMode(const DeviceConfig& state, bool loopback, std::optional<ReplyMode> forced);

// What a device sends for one request: the datagrams, in order, after
// waiting delayMs. No datagrams: it does not answer. restartMs above 0: the
// request was a settings change the device took, and it answers nothing
// from now until restartMs after these datagrams went out (or would have).
struct Answer {
    std::vector<Bytes> datagrams;
    int delayMs = 0;
    int restartMs = 0;

    bool empty() const { return datagrams.empty(); }
};

class Device {
public:
    explicit Device(DeviceConfig state) : state_(std::move(state)) {}

    const DeviceConfig& state() const { return state_; }
    DeviceConfig& state() { return state_; }

    // The answer of this device to `request` (a datagram that passed
    // checkRequest as a Request), faults applied. A settings change is
    // applied to the state here, whether or not it is answered.
    Answer answer(const PacketHeader& request, ByteView datagram);
    // The answer to the older format's query; only the LAN-information item
    // of this device is answered.
    Answer answer(const LegacyQuery& query) const;

    // Whether the device has a handler for this opcode.
    static bool handles(std::uint16_t opcode);

private:
    using Handler = std::optional<Reply> (Device::*)(const PacketHeader& request, ByteView datagram);
    // A search is answered at once and takes the reply faults; the device
    // operations take the operation faults instead.
    enum class Kind { Search, Operation };
    struct Route {
        std::uint16_t opcode;
        Kind kind;
        Handler handler;
    };
    static const Route kRoutes[];

    // One handler per opcode. Each returns the good reply, or nothing when
    // the request is not one this device answers.
    std::optional<Reply> onSearch(const PacketHeader& request, ByteView datagram);
    std::optional<Reply> onCheckPassword(const PacketHeader& request, ByteView datagram);
    std::optional<Reply> onShareList(const PacketHeader& request, ByteView datagram);
    std::optional<Reply> onSetLan(const PacketHeader& request, ByteView datagram);

    Reply startReply(const PacketHeader& request) const;
    // Whether the request body starts with the block of this device's
    // credentials.
    bool authenticated(ByteView body) const;
    // Delay of an operation's answer, and whether it is given at all.
    bool answersOperations() const;
    int operationDelayMs() const;

    DeviceConfig state_;
};

}  // namespace qs::sim
