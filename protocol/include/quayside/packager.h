// The run-loop protocol engine: builds and sends requests, decodes every
// datagram the transport receives, keeps the sorted device registry and the
// volume list, and reports to its receiver (the front end's controller).
#pragma once

#include "quayside/delivery.h"
#include "quayside/net_manager.h"
#include "quayside/records.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace qs {

// The action pending on the run-loop front end (its calledAction), by its
// number. After an accepted password the engine sends the share list for
// ListVolumes and the settings change for any other.
enum class CalledAction : std::uint64_t {
    Apply = 0,        // password check, then the settings
    Mount = 1,        // mount with the typed credentials
    ListVolumes = 2,  // password check, then the share list
    None = 4,
};

// Which request an answer, a refusal or a give-up belongs to: the device
// record it was sent for and the action that was pending when its password
// check went out. The follow-up of an accepted password goes to this
// record, whatever the front end shows by the time the answer comes.
struct RequestFor {
    std::shared_ptr<DeviceData_n> device;
    CalledAction action = CalledAction::None;
    std::uint16_t opcode = 0;
};

// What the engine calls back. The controller of the run-loop front end
// implements it; the command-line tool and tests have their own.
class PackagerReceiver {
public:
    virtual ~PackagerReceiver() = default;
    virtual void reloadTable(RunLoopTable table) = 0;
    virtual void checkAuthFail() = 0;
    virtual void setIPFinish() = 0;
    virtual void setBtnApply(bool enabled) = 0;
    // What to send after an accepted password, and the device it is for;
    // read when the password check is sent.
    virtual CalledAction calledAction() = 0;
    virtual std::shared_ptr<DeviceData_n> tmpDeviceData() = 0;
    // Optional hook: the password was accepted (before the follow-up).
    virtual void passwordAccepted() {}

    // The engine calls these, naming the request; by default they call the
    // plain callbacks above.
    // The password was accepted; false sends no follow-up.
    virtual bool passwordAccepted(const RequestFor& request);
    virtual void passwordRefused(const RequestFor& request);
    virtual void settingsAnswered(const RequestFor& request, std::uint16_t retCode);
    // A share list came; false keeps it out of the volume list (the
    // device's record still takes it).
    virtual bool sharesArrived(const RequestFor& request);
    // The engine gave up on the request: no answer came to any copy.
    virtual void requestUnanswered(const RequestFor& request);
};

// The fields of an answer to the LAN-information query.
struct LanInformation {
    struct Port {
        std::string label, IP, netmask, gateway;
        bool dhcp = false;
    };
    // Both port blocks the answer carries: fields 0-4, then 5-9 (a bonded
    // box sends the mode in field 5; its second port is labelled "LAN2").
    std::vector<Port> ports;
    std::optional<int> bondingMode;  // present when the ports are bonded
    int ifNum = 0;
    Uuid8 serverUUID{};

    // How many of `ports` the box has, as ifNum says (at least one).
    std::size_t portCount() const {
        return std::min(ports.size(), static_cast<std::size_t>(std::max(ifNum, 1)));
    }
};
// Parses the colon-separated answer text; nothing when it is not one.
std::optional<LanInformation> parseLanInformation(std::string_view text);

// The 24-byte item query of the older datagram format.
inline constexpr std::uint8_t kLegacyItemQuery = 3;
inline constexpr std::uint8_t kLegacyItemAnswer = 4;
inline constexpr std::uint8_t kLanInformationItem = 20;
Bytes buildLegacyQuery(const Uuid8& clientUUID, const Uuid8& serverUUID, std::uint8_t itemCode);

// The run-loop form's share item value is read up to this many bytes.
inline constexpr std::size_t kShareValueCap = 512;
inline constexpr std::size_t kRunLoopItemLimit = 52;

class Packager final : public DatagramSink {
public:
    struct Options {
        NetOptions net;
        // Replaceable for tests; defaults to the run-loop id of random bytes.
        std::optional<Uuid8> clientUUID;
        // When set, no sockets are opened and datagrams go here instead;
        // those sent by unicast go to sendToOverride when it is set.
        std::function<void(ByteView)> sendOverride;
        std::function<void(std::uint32_t address, ByteView)> sendToOverride;
        // How long after its first sending an unanswered request is given
        // up; 6 s when not set.
        std::optional<std::chrono::milliseconds> giveUpAfter;
    };

    Packager(RunLoop& loop, std::uint16_t port, const std::string& group, PackagerReceiver* receiver,
             Options options = {});
    ~Packager() override;
    Packager(const Packager&) = delete;
    Packager& operator=(const Packager&) = delete;

    const Uuid8& clientUUID() const { return clientUUID_; }
    NetManager* net() { return net_.get(); }
    bool ok() const { return sendOverride_ || (net_ && net_->ok()); }

    RunLoopRegistry registry;
    std::vector<std::shared_ptr<DeviceData_n>>& serverArray() { return registry.serverArray; }
    std::vector<VolumeData>& volumeArray() { return registry.volumeArray; }

    // Requests: 101 (device may be null), 102, 164, 106.
    void sendPackage(int opcode, const DeviceData_n* device);
    // The older format: kind 3 with an item code (20: LAN information).
    void sendPackage(std::uint8_t kind, std::uint8_t itemCode, const DeviceData_n& device);

    void fillTmpDeviceData(const DeviceData_n& device, TmpDeviceData& out) const;
    void sortDeviceData(int key, bool reverse) { registry.sortDeviceData(key, reverse); }

    // DatagramSink
    void olderFormatCheck(ByteView datagram) override;
    void dePacket(const sockaddr_storage& sender, ByteView datagram) override;
    void dePacketDirect(const sockaddr_storage& sender, ByteView datagram) override;
    // An answer from an address the last search by address asked counts as
    // one to that request, whichever socket it came to.
    void dePacketUnicast(const sockaddr_storage& sender, ByteView datagram) override;

    // Sends the search request to each address by unicast, paced (at most
    // 1000 a second) and in rounds as the group search repeats. A device
    // heard only this way is recorded byAddress; requests to it then go to
    // the address it answered from. Returns how long the sending takes.
    std::chrono::milliseconds searchAddresses(std::vector<std::uint32_t> hosts);
    void setBtnApply(bool enabled) override;

    // Observer of LAN-information answers (the engine itself keeps nothing).
    std::function<void(const LanInformation&)> onLanInformation;
    // ret_code of the last op_SET_LAN reply, for callers that want it.
    std::optional<std::uint16_t> lastSetLanReturnCode;
    const CredentialRoutes& credentialRoutes() const { return routes_; }

private:
    void callCurrentView(const PacketHeader& header, std::uint32_t from);
    void decodeShares(const PacketHeader& header, ByteView datagram, std::uint32_t from);
    void send(const Bytes& datagram);
    void sendTo(std::uint32_t address, const Bytes& datagram);
    // To the device the way it was found: its own address, or the group.
    void sendFor(const DeviceData_n& device, const Bytes& datagram);
    using Key = LateAnswers::Key;
    // Sends a device operation the way the credential routes say (by
    // unicast, the group only as a fallback). A password check or share
    // list goes again each second while it is unanswered, five times at
    // most (the first answer to any copy settles it); a settings change
    // goes once. giveUpAfter the first sending an unanswered request ends
    // and the receiver is told. Each device has its own requests; while
    // answers to the last request of the same opcode to the same device
    // may still come, the request is held back (see LateAnswers).
    void sendOperation(std::uint16_t opcode, const DeviceData_n& device, Bytes request, RequestFor what);
    // The share list or settings change for this device, for `what`.
    void sendFollowUp(std::uint16_t opcode, const DeviceData_n& device, RequestFor what);
    // What a request to this device is for: the receiver's pending action,
    // and its record when that is the device's, else a copy of the device.
    RequestFor requestFor(std::uint16_t opcode, const DeviceData_n& device) const;
    // The outstanding request has ended unanswered (a new one replaces it,
    // or the engine gave up): the answers to its copies may still come.
    void abandon(const Key& key);
    void sendVia(Via via, std::uint32_t address, const Bytes& request);
    void cancelTimers(const Key& key);
    // Takes the answer to the outstanding request when it is from the
    // device asked, at its address: what the request was for; nothing
    // otherwise.
    std::optional<RequestFor> settle(const Key& key, std::uint32_t from);

    // The repeats of the last search request still to go out.
    void cancelSearchRepeats();

    RunLoop& loop_;
    std::vector<RunLoop::Handle> searchRepeats_;
    RunLoop::Handle sweepTimer_ = 0;
    struct Outstanding {
        CredentialRoutes::Request route;
        RunLoop::Handle resend = 0;
        RunLoop::Handle held = 0;  // the first sending, while held back
        RunLoop::Handle giveUp = 0;
        std::function<void()> start;  // makes the first sending
        int copies = 0;            // sent so far
        RunLoop::Clock::time_point first{}, last{};
        RequestFor request;
    };
    std::map<Key, Outstanding> outstanding_;
    CredentialRoutes routes_;
    LateAnswers late_;
    std::unordered_set<std::uint32_t> asked_;  // addresses the last search by address asked
    std::map<Uuid8, std::uint32_t> confirmed_;  // devices that answered at an address asked, and where
    std::map<Uuid8, std::optional<Ipv4>> firstFrom_;  // where each device's first listed answer came from
    bool arrivingDirect_ = false;
    PackagerReceiver* receiver_;
    std::shared_ptr<SystemLog> log_;
    Uuid8 clientUUID_;
    std::function<void(ByteView)> sendOverride_;
    std::function<void(std::uint32_t, ByteView)> sendToOverride_;
    std::chrono::milliseconds giveUpAfter_;
    std::unique_ptr<NetManager> net_;
};

// Numeric text of a sender address; IPv4-mapped and IPv4-compatible IPv6
// addresses (other than ::1) become plain IPv4. Nothing when it fails.
std::optional<std::string> senderAddressText(const sockaddr_storage& sender);

// The IPv4 address of a sender, read the same way; nothing for any other.
std::optional<Ipv4> senderIpv4(const sockaddr_storage& sender);

}  // namespace qs
