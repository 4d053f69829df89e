// Configuration of the simulated devices: the JSON file format, the
// ready-made lab set and generated device fleets.
//
// A config file is one object with a "devices" array:
//
//   {"devices": [{
//       "serverUUID": "0102030405060708",        required, 16 hex digits
//       "hostname": "vsb-office",                required
//       "model": "VSB-720K",                     required, any text
//       "devModel": "VSB-720K",                  optional, defaults to model
//       "ports": [{"IP": "192.168.1.20",          1 or 2 ports; IP, netmask
//                  "netmask": "255.255.255.0",     required; the others default
//                  "gateway": "192.168.1.1",       to "0.0.0.0", false and 0
//                  "dns1": "192.168.1.1", "dns2": "0.0.0.0",
//                  "dhcp": false, "dnsMode": 0}],
//       "answerPort": 0,                         0 or 1, below the port count
//       "defaultGatewayPort": "lan0",            "lan0" or "lan1"
//       "bonding": {"enable": false, "mode": 0},
//       "user": "admin", "password": "admin",    the defaults
//       "shares": "Volume_1*6:Volume_2@5",       default empty
//       "reply": "group",                        or "unicast"; default group:
//                                                where answers to requests
//                                                sent to a group go (see
//                                                ReplyMode)
//       "unicastReply": "sender",                or "devicePort" or "group";
//                                                default sender: where
//                                                answers to requests sent by
//                                                unicast go (see UnicastReply)
//       "groupOnly": false,                      listens on the groups only:
//                                                requests sent to its
//                                                address by unicast get no
//                                                answer
//       "delayMs": 0,                            0..600000, before every answer
//       "restartMs": 0,                          0..600000, silence after a
//                                                settings change it takes
//                                                (see below)
//       "lateMs": 4000,                          0..600000, extra wait of the
//                                                device operations under the
//                                                lateReply fault
//       "faults": ["duplicate"],                 names as faultName() gives
//       "http": false,                           web pages on port 80
//       "smb": false,                            file shares on port 445
//       "smbGuest": false                        unlocked shares open to guests
//   }]}
//
// Addresses must be dotted IPv4. Unknown keys are errors, so typos show.
//
// A device with "restartMs" restarts after each settings change it takes
// (an op_SET_LAN it applies; its answer carries ret_code 1 unless a fault
// changes what it says). From the moment it takes the change it takes and
// answers nothing at all: no search, no device operation, no older-format
// query, whether sent to a group or by unicast, a repeat of the change
// included. Its answer to the change goes out as usual, after delayMs, and
// restartMs after that answer went out (or would have, under a fault that
// loses it) the device answers again, at its new settings. Answers it had
// already queued before the change still go out.
//
// A device with "http" or "smb" serves on the address of its answering
// port, which must then be a loopback address (127.x.x.x, every one of
// them local on Linux) that no other such device uses. The servers stay on
// that address when a settings change moves the port elsewhere.
#pragma once

#include "quayside/address.h"
#include "quayside/wire.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qs::sim {

// Where a device sends its replies to a request sent to a group: to that
// group, or straight to the requester's address at the device port.
// Requests sent by unicast are answered as UnicastReply says, whatever this
// mode.
enum class ReplyMode { Group, Unicast };

// Where a device sends its replies to a request sent by unicast to an
// address of the host. A search sent so is answered by the devices with a
// port at that address (as they are now, after any settings change); any
// other request by the device it names.
//   Sender      to the requester's address and port, from the address the
//               request was sent to (the default);
//   DevicePort  to the requester's address at the device port 24680, from
//               the address the request was sent to;
//   Group       one copy to 224.0.0.10 and one to 224.0.0.1, on the
//               interface the request came in on, from the address the
//               device's group answers come from (in the loopback lab its
//               own 127/8 address).
enum class UnicastReply { Sender, DevicePort, Group };

// Deliberate misbehaviour of a device, for testing how clients cope. Each
// fault is named in the config by the text faultName() returns.
//
// The header and body faults (wrongMagic through itemPastEnd, duplicate and
// badThenGood) spoil search replies only, so the device operations can be
// tested on their own faults. A fault changes what the device says, never
// what it does: a settings change is applied even when its reply is lost.
enum class Fault {
    WrongMagic,     // reply starts AA 55 (a request's magic)
    ForeignClient,  // clientUUID bytes inverted
    WrongBodyLen,   // body_len one more than the body
    Short,          // only the first 40 bytes are sent
    ItemLenBelow4,  // an item with var_len 2 before the real items
    ItemPastEnd,    // an item running past the datagram before the real items
    Duplicate,      // the reply is sent three times
    Silent,         // no reply at all
    BadThenGood,    // a wrong-magic copy first, then the reply
    NoReply,        // the device operations get no answer; searches do
    LateReply,      // the device operations are answered lateMs late
    RetCodeZero,    // password, share and settings replies carry ret_code 0
    EmptyShareItem, // the share reply's item has no value (var_len 4)
};

// Every fault, in declaration order (for listing them and for tests).
const std::vector<Fault>& allFaults();
const char* faultName(Fault f);
std::optional<Fault> faultFromName(std::string_view name);

struct PortConfig {
    std::string IP;
    std::string netmask;
    std::string gateway = "0.0.0.0";
    std::string dns1 = "0.0.0.0";
    std::string dns2 = "0.0.0.0";
    bool dhcp = false;
    int dnsMode = 0;
};

struct DeviceConfig {
    Uuid8 serverUUID{};
    std::string hostname;
    std::string model;
    std::string devModel;  // the v_DEV_MODEL text; the model when not given
    std::vector<PortConfig> ports;  // one or two
    int answerPort = 0;             // v_IF_SEND
    int defaultGatewayPort = 0;     // 0 "lan0", 1 "lan1"
    bool bondEnable = false;
    int bondMode = 0;
    std::string user = "admin";
    std::string password = "admin";
    std::string shares;
    std::optional<ReplyMode> reply;  // empty: not said in the config
    UnicastReply unicastReply = UnicastReply::Sender;
    bool groupOnly = false;          // requests sent by unicast are not answered
    int delayMs = 0;
    int restartMs = 0;  // silence after a settings change taken
    int lateMs = 4000;  // see Fault::LateReply
    std::vector<Fault> faults;
    bool http = false;  // web pages on port 80 of serverAddress()
    bool smb = false;   // one file share per share-list entry, on port 445
    bool smbGuest = false;  // shares not marked locked admit guests too

    bool hasFault(Fault f) const;
    // Whether either port has this dotted address.
    bool hasAddress(std::string_view ip) const;
    bool hasServers() const { return http || smb; }
    // The address the servers listen on: the answering port's.
    const std::string& serverAddress() const { return ports.at(static_cast<std::size_t>(answerPort)).IP; }
};

struct SimConfig {
    std::vector<DeviceConfig> devices;
};

// A config that cannot be used. what() is one line naming the field, e.g.
// `devices[2].ports[0].IP: "10.0.0.300" is not a dotted IPv4 address`.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr int kMaxGenerated = 5000;
inline constexpr int kMaxDelayMs = 600000;

// Parses and validates config text. Throws ConfigError; a syntax error is
// reported against `source` (the file name), a bad field by its path.
SimConfig parseConfig(std::string_view jsonText, std::string_view source = "config");
// Reads and parses a config file. Throws ConfigError (also for a file that
// cannot be read).
SimConfig loadConfigFile(const std::string& path);

// The fixed lab set: three supported models and one unsupported, each with
// user "admin", password "admin" and a share list of its own. The N-th
// device (from 0) answers from 127.0.0.(N+2) and has web pages and shares
// there. Each answers in a way of its own, so the lab holds one box of
// each kind the clients must cope with:
//   vsb-reception  answers to the group, and is silent for a second after
//                  each settings change it takes (restartMs 1000);
//   vsb-archive    answers group requests by unicast to the requester's
//                  port 24680, and unicast requests there too (reply
//                  "unicast", unicastReply "devicePort"): in the lab its
//                  answers come to 127.0.0.1:24680;
//   vsb-render     listens on the groups only (groupOnly);
//   vsb-legacy     a model the clients do not support, answering every
//                  request as the others do.
std::vector<DeviceConfig> labDevices();
// `count` supported devices (1..kMaxGenerated), all distinct.
std::vector<DeviceConfig> generatedDevices(int count);

// A dotted IPv4 address in 127.0.0.0/8.
bool isLoopbackIPv4(std::string_view text);
// The volume names of a share list: the text split at ':', each piece cut
// to the name before its mark (the flags the devices append), empty pieces and
// repeats dropped. "Volume_1*6:Recycle Bin - Volume_1" gives "Volume_1" and
// "Recycle Bin - Volume_1".
std::vector<std::string> shareNames(std::string_view shares);
// Whether the share list marks that share locked (its entry ends in "6"
// after "*" or "@").
bool shareLocked(std::string_view shares, std::string_view name);
const char* replyModeName(ReplyMode m);
// "sender", "devicePort" or "group", as the config and --unicast-reply name
// them.
const char* unicastReplyName(UnicastReply m);
std::optional<UnicastReply> unicastReplyFromName(std::string_view name);

}  // namespace qs::sim
