#include "quayside/library.h"

#include <algorithm>
#include <array>

namespace qs {

Bytes buildSearchRequest(const Uuid8& clientUUID) {
    ByteWriter w = startRequest(op_SEARCH, clientUUID, Uuid8{});
    return finishRequest(w);
}

namespace {
Bytes authRequest(std::uint16_t opcode, const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                  std::string_view password) {
    ByteWriter w = startRequest(opcode, clientUUID, serverUUID);
    appendAuthData(w, user, password);
    return finishRequest(w);
}
}  // namespace

Bytes buildCheckPasswordRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                                std::string_view password) {
    return authRequest(op_CHK_PASSWD, clientUUID, serverUUID, user, password);
}

Bytes buildShareListRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                            std::string_view password) {
    return authRequest(op_GET_SAMBA_SHARE, clientUUID, serverUUID, user, password);
}

Bytes buildSetLanRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                         std::string_view password, const TmpDeviceData& t, ItemPadding padding) {
    ByteWriter w = startRequest(op_SET_LAN, clientUUID, serverUUID);
    appendAuthData(w, user, password);
    appendItem(w, v_IP, t.IP, padding);
    appendItem(w, v_NETMASK, t.netmask, padding);
    appendItem(w, v_GATEWAY, t.gateway, padding);
    appendItem(w, v_NS1, t.dns1, padding);
    appendItem(w, v_NS2, t.dns2, padding);
    appendItem(w, v_NS_MODE, t.dnsMode != 0 ? "1" : "0", padding);
    appendItem(w, v_IF_NO, t.nIfNo != 0 ? "1" : "0", padding);
    appendItem(w, v_DHCP_ENABLE, t.dhcpEnable ? "1" : "0", padding);
    return finishRequest(w);
}

int chooseSettingsPort(const DeviceData_n& device, std::string_view portLabel) {
    if (device.ifCount == 1) return device.answeringPort();
    if (device.ifCount == 2) {
        if (portLabel == "LAN1+LAN2") return device.answeringPort();
        return portLabel == "LAN1" ? 0 : 1;
    }
    return 0;
}

std::vector<std::string> decodeShareList(ByteView reply, std::size_t maxValue) {
    std::vector<std::string> names;
    bool first = true;
    walkItems(reply, kHeaderSize, 1, [&](const Item& item) {
        if (!first || item.length < 5) return;
        first = false;
        std::string text = item.text();
        if (maxValue != 0 && text.size() > maxValue) text.resize(maxValue);
        names = splitFields(text, ':', false);
    });
    return names;
}

const char* describe(Outcome o) {
    switch (o) {
        case Outcome::Accepted: return "accepted";
        case Outcome::Refused: return "refused";
        case Outcome::NoAnswer: return "no answer";
        case Outcome::UnknownDevice: return "device not found";
    }
    return "unknown";
}

DeviceLibrary::DeviceLibrary(std::unique_ptr<BlockingLink> link, const Uuid8& clientUUID)
    : link_(std::move(link)), clientUUID_(clientUUID) {}

bool DeviceLibrary::SearchDevices(const SearchProgress& progress) {
    devices.ClearDeviceList();
    stats_ = {};
    if (!link_) return false;
    link_->refreshInterfaces();
    const Bytes request = buildSearchRequest(clientUUID_);
    if (searchTuning.oneAtATime)
        searchInTurn(request, progress);
    else
        searchTogether(request, progress);
    return true;
}

bool DeviceLibrary::takeSearchReply(ByteView datagram, std::vector<Bytes>& heard) {
    if (checkReply(datagram, op_SEARCH, clientUUID_) != ReplyCheck::Accepted) {
        ++stats_.rejected;
        return false;
    }
    if (!replyIsSupportedModel(datagram)) {
        ++stats_.unsupported;
        return true;
    }
    const Uuid8 id = readHeader(datagram)->serverUUID;
    if (std::any_of(heard.begin(), heard.end(), [&](const Bytes& h) { return readHeader(h)->serverUUID == id; })) {
        ++stats_.duplicates;
        return false;
    }
    heard.emplace_back(datagram.begin(), datagram.end());
    return false;
}

void DeviceLibrary::record(const std::vector<Bytes>& heard, int iface) {
    for (const Bytes& datagram : heard) {
        if (devices.FindDevice(readHeader(datagram)->serverUUID)) {
            ++stats_.duplicates;
            continue;
        }
        DeviceData_n& rec = devices.append();
        fillDeviceFromReply(rec, datagram);
        rec.localIfIndex = iface;
        ++stats_.accepted;
    }
}

void DeviceLibrary::searchInTurn(const Bytes& request, const SearchProgress& progress) {
    std::array<std::uint8_t, kBlockingBufferSize> buffer{};
    for (int i = 0; i < link_->interfaceCount(); ++i) {
        const std::string address = link_->interfaceAddress(i);
        if (progress) progress(i, address, devices.count());
        link_->sendRequest(i, request);
        const auto start = link_->now();
        int tally = 0;
        std::vector<Bytes> heard;
        while (tally < searchTuning.tallyLimit) {
            if (link_->now() - start >= searchTuning.listenBound) {
                ++stats_.boundHits;
                break;
            }
            const auto n = link_->poll(i, searchTuning.pollWait, buffer);
            if (!n) {
                ++tally;
                ++stats_.emptyWaits;
                continue;
            }
            if (takeSearchReply(ByteView(buffer.data(), *n), heard)) ++tally;
        }
        record(heard, i);
        if (progress) progress(i, address, devices.count());
    }
}

void DeviceLibrary::searchTogether(const Bytes& request, const SearchProgress& progress) {
    using Clock = BlockingLink::Clock;
    const int count = link_->interfaceCount();
    struct Listener {
        std::string address;
        int tally = 0;
        Clock::time_point waitEnd;
        std::vector<Bytes> heard;
    };
    std::vector<Listener> listeners(static_cast<std::size_t>(count));
    std::vector<int> active;
    for (int i = 0; i < count; ++i) {
        listeners[static_cast<std::size_t>(i)].address = link_->interfaceAddress(i);
        active.push_back(i);
    }
    // Devices heard so far on any interface, for the progress count.
    std::vector<Uuid8> known;
    const auto heardNew = [&](const Listener& l, std::size_t before) {
        if (l.heard.size() == before) return false;
        const Uuid8 id = readHeader(l.heard.back())->serverUUID;
        if (std::find(known.begin(), known.end(), id) != known.end()) return false;
        known.push_back(id);
        return true;
    };
    if (progress)
        for (int i = 0; i < count; ++i) progress(i, listeners[static_cast<std::size_t>(i)].address, 0);
    link_->sendRequests(active, request);
    const auto start = link_->now();
    for (auto& l : listeners) l.waitEnd = start + searchTuning.pollWait;
    std::array<std::uint8_t, kBlockingBufferSize> buffer{};
    while (!active.empty()) {
        const auto now = link_->now();
        // A wait that ran out empty counts toward its interface's tally;
        // an interface ends at its tally limit or its listening bound.
        std::erase_if(active, [&](int i) {
            Listener& l = listeners[static_cast<std::size_t>(i)];
            if (now >= l.waitEnd) {
                ++l.tally;
                ++stats_.emptyWaits;
                l.waitEnd = now + searchTuning.pollWait;
            }
            bool ended = l.tally >= searchTuning.tallyLimit;
            if (!ended && now - start >= searchTuning.listenBound) {
                ++stats_.boundHits;
                ended = true;
            }
            if (ended && progress) progress(i, l.address, known.size());
            return ended;
        });
        if (active.empty()) break;
        auto soonest = listeners[static_cast<std::size_t>(active.front())].waitEnd;
        for (const int i : active) soonest = std::min(soonest, listeners[static_cast<std::size_t>(i)].waitEnd);
        const auto timeout = std::max(std::chrono::ceil<std::chrono::milliseconds>(soonest - now),
                                      std::chrono::milliseconds(0));
        const auto arrival = link_->pollAny(active, timeout, buffer);
        if (!arrival) continue;
        Listener& l = listeners[static_cast<std::size_t>(arrival->iface)];
        // The wait ended with a datagram: the next one starts now.
        l.waitEnd = link_->now() + searchTuning.pollWait;
        const std::size_t before = l.heard.size();
        if (takeSearchReply(ByteView(buffer.data(), arrival->length), l.heard)) ++l.tally;
        if (heardNew(l, before) && progress && known.size() % 16 == 0)
            progress(arrival->iface, l.address, known.size());
    }
    for (int i = 0; i < count; ++i) record(listeners[static_cast<std::size_t>(i)].heard, i);
}

Outcome DeviceLibrary::exchange(const Bytes& request, std::uint16_t opcode, std::chrono::milliseconds pollTime,
                                Bytes& reply) {
    const int iface = devices.FindDeviceInterface(currentServerUUID);
    if (iface < 0 || !link_) return Outcome::UnknownDevice;
    link_->sendRequest(iface, request);
    link_->sleepFor(operationTuning.pauseAfterSend);
    std::array<std::uint8_t, kBlockingBufferSize> buffer{};
    const auto start = link_->now();
    int empty = 0;
    while (link_->now() - start < operationTuning.waitBound) {
        const auto n = link_->poll(iface, pollTime, buffer);
        if (!n) {
            if (empty >= operationTuning.emptyWaitLimit) break;
            link_->sleepFor(operationTuning.emptyWaitSleep);
            ++empty;
            continue;
        }
        const ByteView datagram(buffer.data(), *n);
        if (checkReply(datagram, opcode, clientUUID_) != ReplyCheck::Accepted) continue;
        // Only the device asked may answer: a late reply from another device
        // must not settle this request.
        if (readHeader(datagram)->serverUUID != currentServerUUID) continue;
        reply.assign(datagram.begin(), datagram.end());
        return Outcome::Accepted;
    }
    return Outcome::NoAnswer;
}

namespace {
Outcome byReturnCode(Outcome exchanged, const Bytes& reply) {
    if (exchanged != Outcome::Accepted) return exchanged;
    return readHeader(reply)->ret_code == 1 ? Outcome::Accepted : Outcome::Refused;
}
}  // namespace

Outcome DeviceLibrary::checkPassword() {
    Bytes reply;
    const Bytes request = buildCheckPasswordRequest(clientUUID_, currentServerUUID, userName.view(), password.view());
    return byReturnCode(exchange(request, op_CHK_PASSWD, std::chrono::milliseconds(30), reply), reply);
}

Outcome DeviceLibrary::getShareList() {
    shares.ClearShareList();
    Bytes reply;
    const Bytes request = buildShareListRequest(clientUUID_, currentServerUUID, userName.view(), password.view());
    const Outcome o = exchange(request, op_GET_SAMBA_SHARE, std::chrono::milliseconds(10), reply);
    if (o == Outcome::Accepted)
        for (const auto& name : decodeShareList(reply)) shares.add(name);
    return o;
}

Outcome DeviceLibrary::setLanConfig(bool dhcp) {
    const DeviceData_n* dev = devices.FindDevice(currentServerUUID);
    if (!dev || devices.FindDeviceInterface(currentServerUUID) < 0) return Outcome::UnknownDevice;
    const int p = chooseSettingsPort(*dev, portLabel.view());
    const PortBlock& port = dev->port[static_cast<std::size_t>(p)];
    TmpDeviceData t;
    t.IP = newIP.str();
    t.netmask = newNetmask.str();
    t.gateway = newGateway.str();
    t.dns1 = port.dns1.str();
    t.dns2 = port.dns2.str();
    t.dnsMode = port.dnsMode;
    t.nIfNo = p;
    t.dhcpEnable = dhcp;
    Bytes reply;
    const Bytes request =
        buildSetLanRequest(clientUUID_, currentServerUUID, userName.view(), password.view(), t);
    const auto pollTime = std::chrono::milliseconds(dhcp ? 30 : 10);
    return byReturnCode(exchange(request, op_SET_LAN, pollTime, reply), reply);
}

DeviceLibrary& processLibrary() {
    static DeviceLibrary library;
    return library;
}

bool OpenSockets(const TransportOptions& options, std::string* error) {
    auto transport = std::make_unique<SocketTransport>();
    if (!transport->OpenSockets(options, error)) return false;
    DeviceLibrary& lib = processLibrary();
    lib.setClientUUID(makeClientId());
    lib.setLink(std::move(transport));
    return true;
}

void CloseSockets() { processLibrary().setLink(nullptr); }
bool SearchDevices(const SearchProgress& progress) { return processLibrary().SearchDevices(progress); }
void ClearDeviceList() { processLibrary().devices.ClearDeviceList(); }
DeviceData_n* FindDevice(const Uuid8& serverUUID) { return processLibrary().devices.FindDevice(serverUUID); }
int FindDeviceInterface(const Uuid8& serverUUID) { return processLibrary().devices.FindDeviceInterface(serverUUID); }
void ClearShareList() { processLibrary().shares.ClearShareList(); }
int SummarizeLanPorts() { return processLibrary().SummarizeLanPorts(); }
bool CheckPassword() { return processLibrary().CheckPassword(); }
bool GetShareList() { return processLibrary().GetShareList(); }
bool SetLanConfigDhcp() { return processLibrary().SetLanConfigDhcp(); }
bool SetLanConfigStatic() { return processLibrary().SetLanConfigStatic(); }

}  // namespace qs
