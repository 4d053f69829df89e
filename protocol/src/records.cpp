#include "quayside/records.h"

#include "quayside/address.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include <cctype>
#include <optional>
#include <strings.h>

namespace qs {

bool isSupportedModel(std::string_view model) {
    return std::find(kSupportedModels.begin(), kSupportedModels.end(), model) != kSupportedModels.end();
}

std::vector<std::string> splitFields(std::string_view text, char separator, bool keepEmpty) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (keepEmpty || end > start) out.emplace_back(text.substr(start, end - start));
        if (end == text.size()) return out;
        start = end + 1;
    }
}

int itemNumber(std::string_view text) {
    long v = 0;
    std::size_t i = 0;
    bool negative = false;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > 1000000000L) break;  // devices send small numbers; stop before overflow
    }
    return static_cast<int>(negative ? -v : v);
}

WalkEnd fillDeviceFromReply(DeviceData_n& rec, ByteView datagram, std::size_t maxItems) {
    if (auto h = readHeader(datagram)) rec.serverUUID = h->serverUUID;
    int currentPort = 0;
    return walkItems(datagram, kHeaderSize, maxItems, [&](const Item& item) {
        const std::string text = item.text();
        PortBlock* port = (currentPort == 0 || currentPort == 1) ? &rec.port[static_cast<std::size_t>(currentPort)]
                                                                   : nullptr;
        switch (item.type) {
            case v_HOSTNAME: rec.hostname = text; break;
            case v_MODEL_NAME: rec.modelName = text; break;
            case v_IF_NO:
                currentPort = itemNumber(text);
                ++rec.ifCount;
                break;
            case v_BOND_ENABLE:
                rec.bondingEnable = text == "1" ? 1 : 0;
                if (rec.bondingEnable) rec.nDefaultGW = 0;
                break;
            case v_BOND_MODE: rec.bondingMode = itemNumber(text); break;
            case v_IF_SEND: rec.nSendIF = itemNumber(text); break;
            case v_DEFAULT_GW_IF:
                rec.defaultGWText = text;
                rec.nDefaultGW = ::strcasecmp(text.c_str(), "lan1") == 0 ? 1 : 0;
                break;
            case v_IP: if (port) port->IP = text; break;
            case v_NETMASK: if (port) port->netmask = text; break;
            case v_GATEWAY: if (port) port->gateway = text; break;
            case v_NS1: if (port) port->dns1 = text; break;
            case v_NS2: if (port) port->dns2 = text; break;
            case v_DHCP_ENABLE:
                if (port) {
                    port->dhcpText = text;
                    port->dhcpEnable = text == "1";
                }
                break;
            case v_NS_MODE: if (port) port->dnsMode = itemNumber(text); break;
            default: break;  // v_DEV_MODEL and unknown types are skipped by length
        }
    });
}

namespace {
std::optional<Item> lastModelItem(ByteView datagram, std::size_t maxItems) {
    std::optional<Item> found;
    walkItems(datagram, kHeaderSize, maxItems, [&](const Item& item) {
        if (item.type == v_MODEL_NAME) found = item;
    });
    return found;
}
}  // namespace

std::string lastModelName(ByteView datagram, std::size_t maxItems) {
    const auto item = lastModelItem(datagram, maxItems);
    return item ? item->text() : std::string();
}

bool replyIsSupportedModel(ByteView datagram) {
    // The value is measured whole (var_len - 4), padding after a NUL included.
    const auto item = lastModelItem(datagram, 0);
    return item && item->value.size() < 20 && isSupportedModel(item->text());
}

namespace {
std::string idKey(const Uuid8& id) { return std::string(id.begin(), id.end()); }
}  // namespace

DeviceData_n* DeviceRegistry::FindDevice(const Uuid8& serverUUID) {
    return const_cast<DeviceData_n*>(std::as_const(*this).FindDevice(serverUUID));
}

const DeviceData_n* DeviceRegistry::FindDevice(const Uuid8& serverUUID) const {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1 || indexed_ > records_.size()) {
            first_.clear();
            indexed_ = 0;
        }
        for (; indexed_ < records_.size(); ++indexed_)
            first_.emplace(idKey(records_[indexed_]->serverUUID), records_[indexed_].get());
        const auto it = first_.find(idKey(serverUUID));
        if (it == first_.end()) return nullptr;
        // A record given another identity after it was indexed: index again.
        if (it->second->serverUUID == serverUUID) return it->second;
    }
    return nullptr;
}

int DeviceRegistry::FindDeviceInterface(const Uuid8& serverUUID) const {
    const DeviceData_n* r = FindDevice(serverUUID);
    return r ? r->localIfIndex : -1;
}

void DeviceRegistry::ClearDeviceList() {
    records_.clear();
    first_.clear();
    indexed_ = 0;
}

DeviceData_n& DeviceRegistry::append() {
    records_.push_back(std::make_unique<DeviceData_n>());
    return *records_.back();
}

bool ShareRegistry::add(std::string_view name) {
    const std::string cut(name.substr(0, std::min<std::size_t>(name.size(), 255)));
    if (std::find(names_.begin(), names_.end(), cut) != names_.end()) return false;
    names_.push_back(cut);
    return true;
}

int SummarizeLanPorts(const DeviceRegistry& devices, const Uuid8& currentServerUUID, LanSummary& summary) {
    const DeviceData_n* dev = devices.FindDevice(currentServerUUID);
    if (!dev || dev->ifCount == 0) {
        summary.firstLabel.clear();
        return 0;
    }
    auto fill = [](LanSummary::Entry& e, const PortBlock& p) {
        e.IP = p.IP.view();
        e.netmask = p.netmask.view();
        e.gateway = p.gateway.view();
        e.dhcp = p.dhcpText.view();  // first byte of the item text
    };
    if (dev->ifCount == 1) {
        summary.firstLabel = "LAN";
        summary.portCount = "1";
        fill(summary.entry[0], dev->port[static_cast<std::size_t>(dev->answeringPort())]);
        summary.selector.clear();
        return 1;
    }
    summary.portCount = "2";
    if (!dev->bondingEnable) {
        summary.firstLabel = "LAN1";
        summary.secondLabel = "LAN2";
        summary.selector = "0";
    } else {
        summary.firstLabel = "LAN1+LAN2";
        summary.secondLabel.clear();
    }
    fill(summary.entry[0], dev->port[0]);
    fill(summary.entry[1], dev->port[1]);
    return 1;
}

namespace {
std::vector<std::uint32_t> portAddresses(const DeviceData_n& d) {
    std::vector<std::uint32_t> out;
    for (const PortBlock& p : d.port)
        if (const auto& a = p.IP.address(); a && a->hostOrder != 0) out.push_back(a->hostOrder);
    return out;
}
bool answersFromOwnPort(const DeviceData_n& d) {
    const auto own = portAddresses(d);
    return d.answeredFrom && std::find(own.begin(), own.end(), d.answeredFrom->hostOrder) != own.end();
}
}  // namespace

bool answersConflict(const DeviceData_n& a, const DeviceData_n& b) {
    // One device from two addresses: a device with two ports answers from
    // each with the same ports; anything else is two hosts under one name.
    if (a.serverUUID == b.serverUUID)
        return a.answeredFrom != b.answeredFrom &&
               (answersFromOwnPort(a) != answersFromOwnPort(b) || portAddresses(a) != portAddresses(b));
    const auto pa = portAddresses(a), pb = portAddresses(b);
    return std::any_of(pa.begin(), pa.end(), [&](std::uint32_t x) { return std::find(pb.begin(), pb.end(), x) != pb.end(); });
}

void DeviceRegistry::markAddressConflicts() {
    std::unordered_map<std::uint32_t, DeviceData_n*> first;
    for (auto& r : records_)
        for (const std::uint32_t a : portAddresses(*r)) {
            const auto [it, fresh] = first.emplace(a, r.get());
            if (!fresh && it->second->serverUUID != r->serverUUID) it->second->conflict = r->conflict = true;
        }
}

void RunLoopRegistry::index() {
    if (indexed_ == serverArray.size()) return;
    byAddress_.clear();
    byId_.clear();
    for (const auto& r : serverArray) {
        byAddress_.emplace(r->port[0].IP.str(), r.get());
        byId_.emplace(idKey(r->serverUUID), r.get());
    }
    indexed_ = serverArray.size();
    if (serverArray.empty()) refusedAsFull_ = 0;
}

std::vector<DeviceData_n*> RunLoopRegistry::withServerUUID(const Uuid8& id) {
    index();
    std::vector<DeviceData_n*> out;
    for (auto [it, end] = byId_.equal_range(idKey(id)); it != end; ++it) out.push_back(it->second);
    return out;
}

bool RunLoopRegistry::addDataInfo(std::shared_ptr<DeviceData_n> record) {
    if (!record) return false;
    index();
    if (serverArray.size() >= kMaxDevices) {
        ++refusedAsFull_;
        return false;
    }
    bool conflicting = false;
    const auto weigh = [&](DeviceData_n& r) {
        const bool sameAddress = r.port[0].IP.view() == record->port[0].IP.view();
        if (answersConflict(r, *record)) {
            r.conflict = conflicting = true;
            return true;
        }
        return !sameAddress;  // false: the same device again
    };
    for (auto [it, end] = byAddress_.equal_range(record->port[0].IP.str()); it != end; ++it)
        if (!weigh(*it->second)) return false;
    for (auto [it, end] = byId_.equal_range(idKey(record->serverUUID)); it != end; ++it)
        if (it->second->port[0].IP.view() != record->port[0].IP.view() && !weigh(*it->second)) return false;
    record->conflict = record->conflict || conflicting;
    byAddress_.emplace(record->port[0].IP.str(), record.get());
    byId_.emplace(idKey(record->serverUUID), record.get());
    ++indexed_;
    // In host-name order already, the record takes its place after its
    // equals, as a stable sort would put it; otherwise the list is sorted.
    if (byHostName_) {
        const bool ascending = ascending_[0];
        const auto at = std::upper_bound(serverArray.begin(), serverArray.end(), record, [&](const auto& a, const auto& b) {
            return ascending ? a->hostname.view() < b->hostname.view() : b->hostname.view() < a->hostname.view();
        });
        serverArray.insert(at, std::move(record));
    } else {
        serverArray.push_back(std::move(record));
        sortDeviceData(0, false);
    }
    if (reloadTable_) reloadTable_(RunLoopTable::Devices);
    return true;
}

void RunLoopRegistry::sortDeviceData(int key, bool reverse) {
    if (key < 0 || key > 3) key = 0;
    byHostName_ = key == 0;
    auto& asc = ascending_[static_cast<std::size_t>(key)];
    if (reverse) asc = !asc;
    auto field = [key](const DeviceData_n& d) -> std::string_view {
        switch (key) {
            case 1: return d.port[0].IP.view();
            case 2: return d.port[0].netmask.view();
            case 3: return d.port[0].gateway.view();
            default: return d.hostname.view();
        }
    };
    const bool ascending = asc;
    std::stable_sort(serverArray.begin(), serverArray.end(), [&](const auto& a, const auto& b) {
        return ascending ? field(*a) < field(*b) : field(*b) < field(*a);
    });
}

ShareToken readShareToken(std::string_view token) {
    // The mark is the last "*" or "@", with nothing but the flag's digits
    // after it: a name may hold an "@" of its own ("team@hq@5" is the share
    // "team@hq").
    const std::size_t marker = token.find_last_of("*@");
    if (marker == std::string_view::npos) return {token, false};
    const std::string_view flag = token.substr(marker + 1);
    if (!std::all_of(flag.begin(), flag.end(), [](char c) { return c >= '0' && c <= '9'; })) return {token, false};
    return {token.substr(0, marker), token.back() == '6'};
}

void RunLoopRegistry::stripVolumeName(std::string_view token) {
    const ShareToken read = readShareToken(token);
    VolumeData share;
    share.name = std::string(read.name);
    share.isLocked = read.isLocked;
    addVolumeInfo(std::move(share));
}

void RunLoopRegistry::addVolumeInfo(VolumeData share) {
    for (const auto& v : volumeArray)
        if (v.name == share.name) return;
    if (share.name.find("Recycle Bin") != std::string::npos) {
        share.recyclebinName = share.name;
        return;
    }
    volumeArray.push_back(std::move(share));
}

}  // namespace qs
