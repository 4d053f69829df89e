#include "quayside/library.h"

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
    const Bytes request = buildSearchRequest(clientUUID_);
    std::array<std::uint8_t, kBlockingBufferSize> buffer{};
    for (int i = 0; i < link_->interfaceCount(); ++i) {
        const std::string address = link_->interfaceAddress(i);
        if (progress) progress(i, address, devices.count());
        link_->sendRequest(i, request);
        const auto start = link_->now();
        int tally = 0;
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
            const ByteView datagram(buffer.data(), *n);
            if (checkReply(datagram, op_SEARCH, clientUUID_) != ReplyCheck::Accepted) {
                ++stats_.rejected;
                continue;
            }
            if (!replyIsSupportedModel(datagram)) {
                ++stats_.unsupported;
                ++tally;
                continue;
            }
            const auto header = readHeader(datagram);
            if (devices.FindDevice(header->serverUUID)) {
                ++stats_.duplicates;
                continue;
            }
            DeviceData_n& rec = devices.append();
            fillDeviceFromReply(rec, datagram);
            rec.localIfIndex = i;
            ++stats_.accepted;
            if (progress && stats_.accepted % 16 == 0) progress(i, address, devices.count());
        }
        if (progress) progress(i, address, devices.count());
    }
    return true;
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
