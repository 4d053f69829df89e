// Device and share records, the registries that own them, the table of
// supported models and the port summary shown by the network panel.
#pragma once

#include "quayside/address.h"
#include "quayside/neighbours.h"
#include "quayside/wire.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qs {

// A fixed-width, always NUL-terminated text field. Assigning longer text cuts
// it to N - 1 bytes; nothing is ever written past the field.
template <std::size_t N>
class FixedText {
    static_assert(N >= 1);

public:
    FixedText() { buf_.fill(0); }
    FixedText(std::string_view s) { set(s); }  // NOLINT(google-explicit-constructor)

    void set(std::string_view s) {
        buf_.fill(0);
        const std::size_t n = std::min(s.size(), N - 1);
        if (n != 0) std::memcpy(buf_.data(), s.data(), n);
        // Embedded NULs end the text, as they would in the C field.
    }
    FixedText& operator=(std::string_view s) {
        set(s);
        return *this;
    }
    void clear() { buf_.fill(0); }

    const char* c_str() const { return buf_.data(); }
    std::string_view view() const { return std::string_view(buf_.data(), ::strnlen(buf_.data(), N)); }
    std::string str() const { return std::string(view()); }
    bool empty() const { return buf_[0] == 0; }
    static constexpr std::size_t capacity() { return N; }

    bool operator==(std::string_view s) const { return view() == s; }

private:
    std::array<char, N> buf_;
};

// An address field as a device reports it: the text exactly as sent (cut to
// the field), and beside it the address that text names, read once when the
// text is set; nothing when the text is not exactly a dotted IPv4 address.
// The text is only ever set through this class, so the two never part.
class AddressText : private FixedText<16> {
public:
    using FixedText::c_str;
    using FixedText::capacity;
    using FixedText::empty;
    using FixedText::str;
    using FixedText::view;
    using FixedText::operator==;

    AddressText() = default;
    AddressText(std::string_view s) { set(s); }  // NOLINT(google-explicit-constructor)

    void set(std::string_view s) {
        FixedText::set(s);
        address_ = Ipv4::parse(view());
    }
    AddressText& operator=(std::string_view s) {
        set(s);
        return *this;
    }
    void clear() {
        FixedText::clear();
        address_.reset();
    }

    const std::optional<Ipv4>& address() const { return address_; }

private:
    std::optional<Ipv4> address_;
};

// Settings of one LAN port as a device reports them.
struct PortBlock {
    AddressText IP;
    AddressText netmask;
    AddressText gateway;
    AddressText dns1;
    AddressText dns2;
    FixedText<8> dhcpText;  // the item text itself ("1" or "0")
    bool dhcpEnable = false;
    int dnsMode = 0;
};

// One device. Port block 0 is the first LAN port, block 1 the second.
struct DeviceData_n {
    Uuid8 serverUUID{};
    FixedText<256> hostname;
    FixedText<256> modelName;
    int bondingEnable = 0;
    int bondingMode = 0;
    int ifCount = 0;
    int nSendIF = 0;
    int nDefaultGW = 0;
    FixedText<12> defaultGWText;
    std::array<PortBlock, 2> port;
    int lanPortNumber = 0;
    int ifEdited = 0;
    std::string password;
    std::string volumeShares;
    int localIfIndex = -1;
    // Found by a search sent to its own address rather than to the group
    // (it may sit beyond the local segment, where the group does not
    // reach): its operations go by unicast to the address it answered from.
    bool byAddress = false;
    std::optional<Ipv4> answeredFrom;  // nothing when unknown
    // Another answer of the same search cannot be right beside this one
    // (see answersConflict); both are kept, the first one heard first.
    bool conflict = false;
    // The hardware address the neighbour table held for answeredFrom once
    // the search's answers were in; none for a box behind a router, or one
    // this host has not exchanged a unicast datagram with.
    std::optional<HardwareAddress> hardware;

    // The port on which the device answered, kept inside 0..1 whatever the
    // device reported.
    int answeringPort() const { return nSendIF == 1 ? 1 : 0; }
};

// One share as the run-loop front end lists it.
struct VolumeData {
    std::string name;
    std::string recyclebinName;
    bool isLocked = false;
};

// A share as a device names it in its share list: the volume's name, then
// a mark ("*" or "@") and a digit at the token's end; a token that ends in
// "6" after its mark is a locked volume. The name itself may hold "@". A
// token without a mark at its end (the recycle bins) is the bare name of an
// unlocked share.
struct ShareToken {
    std::string_view name;
    bool isLocked = false;
};
ShareToken readShareToken(std::string_view token);

// Port settings sent by op_SET_LAN.
struct TmpDeviceData {
    std::string IP, netmask, gateway, dns1, dns2;
    bool dhcpEnable = false;
    int dnsMode = 0;
    int nIfNo = 0;
};

inline constexpr std::array<std::string_view, 4> kSupportedModels = {"VSB-720K", "VSB-760K", "VSB-790K",
                                                                     "VSB-720KW"};
bool isSupportedModel(std::string_view model);

// Splits text at `separator`; empty pieces are dropped unless keepEmpty.
std::vector<std::string> splitFields(std::string_view text, char separator, bool keepEmpty);

// Decimal item text as the devices send it: leading digits, anything else 0.
int itemNumber(std::string_view text);

// Fills a record from the items of a search reply (walk from offset 44).
// Port items go to the port opened by the latest v_IF_NO (port 0 before the
// first); items for a port other than 0 or 1 are ignored. maxItems 0 means
// no limit. Returns how the walk ended.
WalkEnd fillDeviceFromReply(DeviceData_n& rec, ByteView datagram, std::size_t maxItems = 0);

// The value of the last v_MODEL_NAME item, or empty when there is none.
std::string lastModelName(ByteView datagram, std::size_t maxItems = 0);

// The model test the blocking search applies: the last model item, shorter
// than 20 bytes, exactly one of the supported models.
bool replyIsSupportedModel(ByteView datagram);

// Whether two search answers cannot both be right: two devices claim one
// port address (two boxes given one address), or one serverUUID answers
// from two addresses with different ports, or from one of its own port
// addresses and from an address none of its ports has (a host answering for
// it). A device with two ports that answers from each is no conflict.
bool answersConflict(const DeviceData_n& a, const DeviceData_n& b);

// Device registry of the blocking form: order of arrival, keyed by serverUUID.
// Records are owned here and keep their address until the registry is
// cleared, so callers may hold references until the next search.
class DeviceRegistry {
public:
    void ClearDeviceList();
    DeviceData_n* FindDevice(const Uuid8& serverUUID);
    const DeviceData_n* FindDevice(const Uuid8& serverUUID) const;
    int FindDeviceInterface(const Uuid8& serverUUID) const;
    // Appends a new zeroed record at the tail.
    DeviceData_n& append();
    // Marks every pair of records that claim one port address as in
    // conflict (a hash of the addresses, so a large search stays cheap).
    void markAddressConflicts();

    std::size_t count() const { return records_.size(); }
    DeviceData_n& at(std::size_t i) { return *records_.at(i); }
    const DeviceData_n& at(std::size_t i) const { return *records_.at(i); }

private:
    std::vector<std::unique_ptr<DeviceData_n>> records_;
    // First record of each serverUUID, filled as FindDevice looks: a record
    // is filled after append() and before it is looked for, and keeps its
    // serverUUID once it has been.
    mutable std::unordered_map<std::string, DeviceData_n*> first_;
    mutable std::size_t indexed_ = 0;
};

// Share registry of the blocking form: share names in order of arrival,
// without repeats, each cut to 255 bytes.
class ShareRegistry {
public:
    void ClearShareList() { names_.clear(); }
    // Returns true when the name was added (false for a repeat).
    bool add(std::string_view name);
    std::size_t count() const { return names_.size(); }
    const std::string& at(std::size_t i) const { return names_.at(i); }
    const std::vector<std::string>& names() const { return names_; }

private:
    std::vector<std::string> names_;
};

// What the network panel shows for the current device's ports.
struct LanSummary {
    struct Entry {
        FixedText<16> IP, netmask, gateway;
        FixedText<2> dhcp;
    };
    FixedText<10> firstLabel;
    FixedText<5> secondLabel;
    FixedText<2> portCount;
    FixedText<2> selector;
    std::array<Entry, 2> entry;
};

int SummarizeLanPorts(const DeviceRegistry& devices, const Uuid8& currentServerUUID, LanSummary& summary);

// The tables of the run-loop front end that the engine asks to be shown
// again, by the numbers the engine has always used.
enum class RunLoopTable : int { Devices = 1, Volumes = 2 };

// Registry of the run-loop form: devices kept sorted, de-duplicated; shares
// split into name and lock flag.
class RunLoopRegistry {
public:
    using ReloadTable = std::function<void(RunLoopTable table)>;

    explicit RunLoopRegistry(ReloadTable reload = {}) : reloadTable_(std::move(reload)) {}

    std::vector<std::shared_ptr<DeviceData_n>> serverArray;
    std::vector<VolumeData> volumeArray;

    // Refuses a record whose port-0 address text one listed has, unless the
    // two conflict (answersConflict): then it is added too, and both are
    // marked. Refuses every record once kMaxDevices are listed. The record
    // takes its place in the host-name order; the lookups go by hash, so a
    // flood of answers costs each one little.
    bool addDataInfo(std::shared_ptr<DeviceData_n> record);
    void sortDeviceData(int key, bool reverse);
    void stripVolumeName(std::string_view token);
    void addVolumeInfo(VolumeData share);

    void setReloadTable(ReloadTable reload) { reloadTable_ = std::move(reload); }

    // Records refused because the list was full, since it was last empty.
    std::size_t refusedAsFull() const { return refusedAsFull_; }
    // The records listed under this serverUUID (by hash).
    std::vector<DeviceData_n*> withServerUUID(const Uuid8& id);

private:
    // The records by port-0 address text and by serverUUID, rebuilt when
    // serverArray was changed from outside (cleared, or records erased).
    void index();

    ReloadTable reloadTable_;
    std::array<bool, 4> ascending_{true, true, true, true};
    bool byHostName_ = true;  // serverArray is in host-name order
    std::size_t indexed_ = 0;
    std::unordered_multimap<std::string, DeviceData_n*> byAddress_;
    std::unordered_multimap<std::string, DeviceData_n*> byId_;  // serverUUID as 8 raw bytes
    std::size_t refusedAsFull_ = 0;
};

// The most devices one search takes, in either form: a flood of forged
// answers under random serverUUIDs must not grow the registries without
// bound. A search says when it stopped taking more.
inline constexpr std::size_t kMaxDevices = 20000;

}  // namespace qs
