// The blocking form of the device protocol: a library value that each front
// end owns, with its registries, discovery over a BlockingLink, and the
// device operations, each taking what it needs as arguments.
//
// The operations by the names the device protocol's description gives them:
//   OpenSockets / CloseSockets     openSockets(options) / closeSockets()
//   SearchDevices                  SearchDevices(targets, progress)
//   ClearDeviceList, FindDevice,   devices.ClearDeviceList(), devices.FindDevice(id),
//   FindDeviceInterface            devices.FindDeviceInterface(id)
//   ClearShareList                 shares.ClearShareList()
//   SummarizeLanPorts              SummarizeLanPorts(box)
//   CheckPassword                  checkPassword(box, who)
//   GetShareList                   getShareList(box, who)
//   SetLanConfig (DHCP or static)  setLanConfig(box, who, settings)
// The current device, user name, password, port label and new address
// texts those names read are the arguments box, who and settings.
#pragma once

#include "quayside/address.h"
#include "quayside/credentials.h"
#include "quayside/delivery.h"
#include "quayside/records.h"
#include "quayside/socket_transport.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>
#include <vector>

namespace qs {

// The op_SEARCH request: 44 bytes, body_len 0, serverUUID zero.
Bytes buildSearchRequest(const Uuid8& clientUUID);

struct SearchTuning {
    std::chrono::milliseconds pollWait{10};
    // Empty waits (and unsupported replies) that end listening on one
    // interface. New devices do not count, so a crowded LAN is heard out.
    int tallyLimit = 101;
    // Hard bound on listening per interface, so a stream of junk or
    // duplicate replies cannot hold the search open.
    std::chrono::milliseconds listenBound{4000};
    // Search the interfaces one after another instead of all together (the
    // registry is the same; kept for comparison).
    bool oneAtATime = false;
    // When the request goes out again, counted from the first sending.
    std::vector<std::chrono::milliseconds> repeatAfter{kSearchRepeatAfter.begin(), kSearchRepeatAfter.end()};
    // Pace of requests sent to single addresses.
    int directPerSecond = 1000;
    // The most direct requests one search sends (see directSearchRounds).
    std::size_t directBudget = kDirectSearchBudget;
};

// Addresses a search reaches by unicast, besides (or instead of) the group.
struct SearchTargets {
    std::vector<std::uint32_t> hosts{};  // host byte order
    bool multicast = true;
    // Asked by unicast too, as `hosts` are, but without holding the search
    // open past the group's listening (when the group is searched): boxes
    // found at their address before, which may be gone by now.
    std::vector<std::uint32_t> remembered{};
    bool operator==(const SearchTargets&) const = default;
};

// At most this many addresses in one host argument (a /22).
inline constexpr std::size_t kMaxTargetBlock = 1024;

// Requests that act on one device: header for that device, the 128-byte
// authentication block, and for op_SET_LAN the eight setting items.
Bytes buildCheckPasswordRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                                std::string_view password);
Bytes buildShareListRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                            std::string_view password);
Bytes buildSetLanRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                         std::string_view password, const TmpDeviceData& settings,
                         ItemPadding padding = ItemPadding::Terminated);

// Port p that a settings change addresses, from the device record and the
// port label the user chose ("LAN1", "LAN2" or "LAN1+LAN2").
int chooseSettingsPort(const DeviceData_n& device, std::string_view portLabel);

// Share names from a share-list reply: the first item's text split at ':',
// empty pieces skipped. Nothing when the item is shorter than 5 bytes.
std::vector<std::string> decodeShareList(ByteView reply, std::size_t maxValue = 0);

// A settings change: the port it is for and what it gets.
struct LanSettings {
    // "LAN1", "LAN2" or "LAN1+LAN2" (see chooseSettingsPort).
    std::string portLabel{};
    bool dhcp = false;
    // Sent as dotted texts; one that is absent as an empty text.
    std::optional<Ipv4> address{}, netmask{}, gateway{};
};

// What became of one device operation. The boolean entry points collapse it
// to accepted or not; the command-line tool tells the four apart.
enum class Outcome { Accepted, Refused, NoAnswer, UnknownDevice };
const char* describe(Outcome o);

struct OperationTuning {
    std::chrono::milliseconds pauseAfterSend{50};
    std::chrono::milliseconds emptyWaitSleep{20};
    int emptyWaitLimit = 100;
    // Bound on the whole wait, so a stream of foreign replies cannot hold
    // the caller forever.
    std::chrono::milliseconds waitBound{8000};
    // A password check or share list not answered within this goes out
    // again; an answer to any copy settles it. A settings change goes out
    // once: a box may take longer to answer it than this and must not apply
    // it twice.
    std::chrono::milliseconds resendAfter{1000};
    // After a device found by address takes a new static address, the wait
    // before it is searched for there.
    std::chrono::milliseconds pauseBeforeFollowUp{2000};
};

// Called after each interface has been searched, and while listening, with
// the interface index, its address and the number of devices found so far.
using SearchProgress = std::function<void(int iface, const std::string& address, std::size_t found)>;

// Counts of what one search heard, for diagnostics and tests.
struct SearchStats {
    std::size_t accepted = 0;
    std::size_t rejected = 0;
    std::size_t unsupported = 0;
    std::size_t duplicates = 0;
    std::size_t emptyWaits = 0;
    int boundHits = 0;  // interfaces where the listening bound ended the wait
    std::size_t refusedAsFull = 0;  // new devices past kMaxDevices, not taken
};

class DeviceLibrary {
public:
    explicit DeviceLibrary(std::unique_ptr<BlockingLink> link = nullptr, const Uuid8& clientUUID = makeClientId());

    DeviceRegistry devices;
    ShareRegistry shares;
    LanSummary lanSummary;
    SearchTuning searchTuning;

    const Uuid8& clientUUID() const { return clientUUID_; }
    void setClientUUID(const Uuid8& id) { clientUUID_ = id; }

    BlockingLink* link() { return link_.get(); }
    void setLink(std::unique_ptr<BlockingLink> link) { link_ = std::move(link); }
    // The link over this host's sockets (SocketTransport), with a new client
    // id; false, with the reason, when they cannot be opened.
    bool openSockets(const TransportOptions& options = {}, std::string* error = nullptr);
    void closeSockets() { link_.reset(); }

    // Empties the device registry and searches every interface of the host
    // as it is now (the link reopens its sockets when the list changed), all
    // of them at once: each keeps its own tally and bound. Devices are
    // recorded in interface order, then order of arrival; one heard on
    // several interfaces is recorded with the first of them.
    //
    // The search goes to the group unless `targets` turn it off, and to the
    // targets' addresses by unicast (paced); a device heard only that way is
    // recorded with the interface its answer came in on and marked
    // byAddress. A device found by address that took a new address is
    // asked there by every later search too.
    bool SearchDevices(const SearchTargets& targets = {}, const SearchProgress& progress = {});
    // Where a search reads the neighbour table, once its answers are in, for
    // the devices' hardware addresses (readNeighbourTable unless replaced).
    std::function<std::optional<std::vector<Neighbour>>()> neighbourTable;
    const SearchStats& lastSearch() const { return stats_; }
    // Told of every datagram a search hears and refuses (counted in
    // SearchStats::rejected): what the reply checks said of it (Accepted for
    // an answer that passed them but came to the socket of direct requests
    // from an address the search did not ask), the datagram and how it
    // arrived. The search's own request looped back is among them.
    std::function<void(ReplyCheck, ByteView, const BlockingLink::Arrival&)> onRefused;

    int SummarizeLanPorts(const Uuid8& box) { return qs::SummarizeLanPorts(devices, box, lanSummary); }

    // Device operations on one box (its serverUUID) as `who`. The user name
    // and password are each cut to 63 bytes, the port label to 9 and each
    // address text to 15, as the fields of the protocol's description.
    Outcome checkPassword(const Uuid8& box, const Credentials& who);
    // Fills `shares` with the box's share names.
    Outcome getShareList(const Uuid8& box, const Credentials& who);
    Outcome setLanConfig(const Uuid8& box, const Credentials& who, const LanSettings& settings);

    const CredentialRoutes& credentialRoutes() const { return routes_; }

    OperationTuning operationTuning;

private:
    // Sends `request` to `box` (by unicast, the group only as
    // the routes allow) and waits for the reply to `opcode` from that
    // device at its address, sending again while none comes; fills `reply`
    // when one came.
    Outcome exchange(const Uuid8& box, const Bytes& request, std::uint16_t opcode, std::chrono::milliseconds pollTime,
                     Bytes& reply, bool resend = true);
    // Whether a datagram is an answer of `box` to `opcode`.
    bool answerOf(ByteView datagram, const Uuid8& box, std::uint16_t opcode) const;

    struct Heard {
        Bytes datagram;
        bool byAddress = false;
        std::uint32_t from = 0;
    };
    // What one interface (or the direct socket) heard, in order of arrival;
    // and answers under a serverUUID already heard that came from another
    // address, to be weighed for conflicts (a few only: a flood of them
    // says nothing more).
    struct HeardList {
        std::vector<Heard> items;
        std::map<Uuid8, std::size_t> index;  // by serverUUID
        std::vector<Heard> elsewhere;
    };
    static constexpr std::size_t kElsewhereKept = 16;
    // What a datagram heard while listening does to the wait: a new device,
    // or anything refused, starts the next wait; a device heard before (a
    // repeat's answer), an unsupported device or the request itself looped
    // back leaves the wait running.
    enum class Taken { Tally, Fresh, Quiet };
    // Reads one search reply into `heard` unless it is refused or already
    // there.
    Taken takeSearchReply(ByteView datagram, HeardList& heard, const BlockingLink::Arrival& arrival = {});
    // Whether a datagram is an answer to an address the search asked: one
    // that came to the socket of direct requests, or one sent by unicast
    // (not to a group) from such an address.
    bool answersAddressAsked(const BlockingLink::Arrival& a) const;
    void searchInTurn(const Bytes& request, const SearchTargets& targets, const SearchProgress& progress);
    void searchTogether(const Bytes& request, const SearchTargets& targets, const SearchProgress& progress);
    void record(const HeardList& heard, int iface);
    // A device moved by a settings change is searched for at its new
    // address when it was found by address.
    void followMovedDevice(std::uint32_t newAddress);

    std::unique_ptr<BlockingLink> link_;
    Uuid8 clientUUID_;
    // Addresses of devices found by address that took a new one: every
    // search asks them.
    std::vector<std::uint32_t> followed_;
    SearchTargets lastTargets_;  // of the last search, which a follow-up repeats
    SearchStats stats_;
    CredentialRoutes routes_;
    // The addresses the running search asks by unicast: only they may
    // answer on the direct socket. A device that answered at one is
    // believed there: answers under its serverUUID from elsewhere are not.
    std::unordered_set<std::uint32_t> asked_;
    std::map<Uuid8, std::uint32_t> confirmed_;
    std::size_t heardTotal_ = 0;  // devices taken by the running search
    LateAnswers late_;
    bool claimedElsewhere(const Uuid8& id, std::uint32_t from) const {
        const auto c = confirmed_.find(id);
        return c != confirmed_.end() && c->second != from;
    }
};

}  // namespace qs
