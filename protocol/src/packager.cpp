#include "quayside/packager.h"

#include "quayside/address.h"

#include "quayside/credentials.h"
#include "quayside/device_library.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace qs {

std::optional<LanInformation> parseLanInformation(std::string_view text) {
    const std::vector<std::string> f = splitFields(text, ':', true);
    if (f.size() < 12 || f[10] != "IFNUM") return std::nullopt;
    LanInformation info;
    const bool bonded = f[0] == "LAN1+LAN2";
    info.ports.push_back({f[0], f[1], f[2], f[3], f[4] == "1"});
    if (bonded) info.bondingMode = itemNumber(f[5]);
    info.ports.push_back({bonded ? std::string("LAN2") : f[5], f[6], f[7], f[8], f[9] == "1"});
    info.ifNum = itemNumber(f[11]);
    return info;
}

Bytes buildLegacyQuery(const Uuid8& clientUUID, const Uuid8& serverUUID, std::uint8_t itemCode) {
    ByteWriter w;
    w.u8(kLegacyItemQuery);
    w.bytes(clientUUID.data(), clientUUID.size());
    w.bytes(serverUUID.data(), serverUUID.size());
    w.u8(itemCode);
    w.zeros(2);
    w.u32le(0);
    return w.take();
}

std::optional<Ipv4> senderIpv4(const sockaddr_storage& sender) {
    if (sender.ss_family == AF_INET6) {
        sockaddr_in6 s6{};
        std::memcpy(&s6, &sender, sizeof s6);
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&s6.sin6_addr);
        const bool compatible = IN6_IS_ADDR_V4COMPAT(&s6.sin6_addr) && !IN6_IS_ADDR_LOOPBACK(&s6.sin6_addr);
        if (!mapped && !compatible) return std::nullopt;
        in_addr v4{};
        std::memcpy(&v4, s6.sin6_addr.s6_addr + 12, 4);
        return ipv4Of(v4);
    }
    if (sender.ss_family == AF_INET) {
        sockaddr_in s4{};
        std::memcpy(&s4, &sender, sizeof s4);
        return ipv4Of(s4);
    }
    return std::nullopt;
}

std::optional<std::string> senderAddressText(const sockaddr_storage& sender) {
    if (const auto v4 = senderIpv4(sender)) return v4->text();
    if (sender.ss_family != AF_INET6) return std::nullopt;
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sender), sizeof(sockaddr_in6), host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return std::nullopt;
    return std::string(host);
}

Packager::Packager(RunLoop& loop, std::uint16_t port, const std::string& group, PackagerReceiver* receiver,
                   Options options)
    : registry([receiver](RunLoopTable table) {
          if (receiver) receiver->reloadTable(table);
      }),
      loop_(loop),
      receiver_(receiver),
      log_(options.net.log ? options.net.log : syslogLog()),
      clientUUID_(options.clientUUID ? *options.clientUUID : makeRunLoopClientId()),
      sendOverride_(std::move(options.sendOverride)),
      sendToOverride_(std::move(options.sendToOverride)),
      giveUpAfter_(options.giveUpAfter.value_or(std::chrono::seconds(6))) {
    if (!sendOverride_) net_ = std::make_unique<NetManager>(loop, port, group, this, std::move(options.net));
}

bool PackagerReceiver::passwordAccepted(const RequestFor&) {
    passwordAccepted();
    return true;
}
void PackagerReceiver::passwordRefused(const RequestFor&) { checkAuthFail(); }
void PackagerReceiver::settingsAnswered(const RequestFor&, std::uint16_t) { setIPFinish(); }
bool PackagerReceiver::sharesArrived(const RequestFor&) { return true; }
void PackagerReceiver::requestUnanswered(const RequestFor&) {}

Packager::~Packager() {
    cancelSearchRepeats();
    for (const auto& [key, o] : outstanding_)
        for (const RunLoop::Handle h : {o.resend, o.held, o.giveUp})
            if (h) loop_.cancelTimer(h);
    if (sweepTimer_) loop_.cancelTimer(sweepTimer_);
}

void Packager::cancelSearchRepeats() {
    for (const RunLoop::Handle h : searchRepeats_) loop_.cancelTimer(h);
    searchRepeats_.clear();
}

void Packager::sendFor(const DeviceData_n& device, const Bytes& datagram) {
    if (device.byAddress)
        sendTo(hostOrderOf(device.answeredFrom), datagram);
    else
        send(datagram);
}

void Packager::sendTo(std::uint32_t address, const Bytes& datagram) {
    if (sendToOverride_)
        sendToOverride_(address, datagram);
    else if (sendOverride_)
        sendOverride_(datagram);
    else if (net_)
        net_->sendDataTo(address, datagram);
}

void Packager::cancelTimers(const Key& key) {
    const auto it = outstanding_.find(key);
    if (it == outstanding_.end()) return;
    for (RunLoop::Handle* h : {&it->second.resend, &it->second.held, &it->second.giveUp})
        if (*h) {
            loop_.cancelTimer(*h);
            *h = 0;
        }
}

void Packager::sendVia(Via via, std::uint32_t address, const Bytes& request) {
    if (via == Via::Group)
        send(request);
    else if (via == Via::Unicast)
        sendTo(address, request);
}

void Packager::abandon(const Key& key) {
    const auto it = outstanding_.find(key);
    if (it == outstanding_.end()) return;
    cancelTimers(key);
    if (it->second.copies > 0)
        late_.ended(key, it->second.copies, it->second.first, it->second.last, std::nullopt, loop_.now());
    outstanding_.erase(it);
}

RequestFor Packager::requestFor(std::uint16_t opcode, const DeviceData_n& device) const {
    RequestFor r;
    r.opcode = opcode;
    if (!receiver_) {
        r.device = std::make_shared<DeviceData_n>(device);
        return r;
    }
    r.action = receiver_->calledAction();
    r.device = receiver_->tmpDeviceData();
    if (!r.device || r.device->serverUUID != device.serverUUID) r.device = std::make_shared<DeviceData_n>(device);
    return r;
}

void Packager::sendOperation(std::uint16_t opcode, const DeviceData_n& device, Bytes request, RequestFor what) {
    const Key key{device.serverUUID, opcode};
    abandon(key);
    Outstanding& o = outstanding_[key];
    o.request = std::move(what);
    o.request.opcode = opcode;
    o.route = routes_.start(device, true);
    // Two answers in conflict under one serverUUID: the first one heard is
    // the device's.
    if (const auto first = firstFrom_.find(device.serverUUID);
        device.conflict && first != firstFrom_.end() && first->second != device.answeredFrom) {
        for (const auto& d : registry.withServerUUID(device.serverUUID))
            if (d->answeredFrom == first->second) o.route = routes_.start(*d, true);
    }
    // The one copy of the request, password and all, is cleared when the
    // last timer lets it go.
    const std::shared_ptr<const Bytes> held(new Bytes(std::move(request)), [](const Bytes* b) {
        secureClear(*const_cast<Bytes*>(b));
        delete b;
    });
    const bool resends = opcode != op_SET_LAN;
    const auto start = [this, key, held, resends] {
        constexpr int kResends = 5;
        const auto it = outstanding_.find(key);
        if (it == outstanding_.end()) return;
        Outstanding& out = it->second;
        out.held = 0;
        out.start = nullptr;
        sendVia(routes_.first(out.route), out.route.address, *held);
        out.copies = 1;
        out.first = out.last = loop_.now();
        out.giveUp = loop_.startTimer(giveUpAfter_, false, [this, key] {
            const auto gone = outstanding_.find(key);
            if (gone == outstanding_.end()) return;
            gone->second.giveUp = 0;
            const RequestFor what = gone->second.request;
            abandon(key);
            if (receiver_) receiver_->requestUnanswered(what);
        });
        if (!resends) return;
        auto left = std::make_shared<int>(kResends);
        out.resend = loop_.startTimer(std::chrono::seconds(1), true, [this, key, held, left] {
            const auto again = outstanding_.find(key);
            if (again == outstanding_.end() || --*left < 0) {
                if (again != outstanding_.end() && again->second.resend) {
                    loop_.cancelTimer(again->second.resend);
                    again->second.resend = 0;
                }
                return;
            }
            sendVia(routes_.again(again->second.route), again->second.route.address, *held);
            ++again->second.copies;
            again->second.last = loop_.now();
        });
    };
    if (const auto until = late_.holdUntil(key, loop_.now())) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*until - loop_.now());
        o.start = start;
        o.held = loop_.startTimer(std::max(wait, std::chrono::milliseconds(1)), false, start);
        return;
    }
    start();
}

std::chrono::milliseconds Packager::searchAddresses(std::vector<std::uint32_t> hosts) {
    if (sweepTimer_) loop_.cancelTimer(sweepTimer_);
    sweepTimer_ = 0;
    asked_ = std::unordered_set<std::uint32_t>(hosts.begin(), hosts.end());
    confirmed_.clear();
    if (hosts.empty() || (!net_ && !sendToOverride_)) return std::chrono::milliseconds(0);
    ByteWriter w = startRequest(op_SEARCH, clientUUID_, Uuid8{});
    const Bytes request = finishRequest(w);
    // Ten requests every 10 ms, in rounds as the blocking search sends them.
    constexpr std::size_t kPerTick = 10;
    const std::size_t rounds = directSearchRounds(hosts.size(), kSearchRepeatAfter.size() + 1);
    const std::size_t total = rounds * hosts.size();
    auto sent = std::make_shared<std::size_t>(0);
    const auto tick = [this, hosts = std::move(hosts), request, total, sent] {
        for (std::size_t k = 0; k < kPerTick && *sent < total; ++k, ++*sent)
            sendTo(hosts[*sent % hosts.size()], request);
        if (*sent >= total && sweepTimer_) {
            loop_.cancelTimer(sweepTimer_);
            sweepTimer_ = 0;
        }
    };
    tick();
    if (*sent < total) sweepTimer_ = loop_.startTimer(std::chrono::milliseconds(10), true, tick);
    return std::chrono::milliseconds(10 * ((total + kPerTick - 1) / kPerTick));
}

void Packager::dePacketDirect(const sockaddr_storage& sender, ByteView datagram) {
    arrivingDirect_ = true;
    dePacket(sender, datagram);
    arrivingDirect_ = false;
}

void Packager::dePacketUnicast(const sockaddr_storage& sender, ByteView datagram) {
    const std::uint32_t from = hostOrderOf(senderIpv4(sender));
    if (from != 0 && asked_.count(from) != 0)
        dePacketDirect(sender, datagram);
    else
        dePacket(sender, datagram);
}

void Packager::send(const Bytes& datagram) {
    if (sendOverride_)
        sendOverride_(datagram);
    else if (net_)
        net_->sendData(datagram);
}

void Packager::fillTmpDeviceData(const DeviceData_n& device, TmpDeviceData& out) const {
    const int p = device.ifEdited == 1 ? 1 : 0;
    const PortBlock& port = device.port[static_cast<std::size_t>(p)];
    out.IP = port.IP.str();
    out.netmask = port.netmask.str();
    out.gateway = port.gateway.str();
    out.dns1 = port.dns1.str();
    out.dns2 = port.dns2.str();
    out.dhcpEnable = port.dhcpEnable;
    // The engine sends "1" only for name-server mode 1.
    out.dnsMode = port.dnsMode == 1 ? 1 : 0;
    out.nIfNo = p;
}

void Packager::sendPackage(int opcode, const DeviceData_n* device) {
    const Uuid8 server = device ? device->serverUUID : Uuid8{};
    const std::string_view password = device ? std::string_view(device->password) : std::string_view();
    switch (opcode) {
        case op_SEARCH: {
            ByteWriter w = startRequest(op_SEARCH, clientUUID_, Uuid8{});
            const Bytes request = finishRequest(w);
            send(request);
            // The registry takes a device once, so the repeats only fill
            // what a lost datagram left out.
            cancelSearchRepeats();
            confirmed_.clear();
            firstFrom_.clear();
            for (const auto after : kSearchRepeatAfter)
                searchRepeats_.push_back(loop_.startTimer(after, false, [this, request] { send(request); }));
            return;
        }
        case op_CHK_PASSWD:
            if (!device) return;
            sendOperation(op_CHK_PASSWD, *device, buildCheckPasswordRequest(clientUUID_, server, "admin", password),
                          requestFor(op_CHK_PASSWD, *device));
            return;
        case op_GET_SAMBA_SHARE:
        case op_SET_LAN:
            if (!device) return;
            sendFollowUp(static_cast<std::uint16_t>(opcode), *device, requestFor(static_cast<std::uint16_t>(opcode), *device));
            return;
        default: return;
    }
}

void Packager::sendFollowUp(std::uint16_t opcode, const DeviceData_n& device, RequestFor what) {
    const std::string_view password = device.password;
    if (opcode == op_GET_SAMBA_SHARE) {
        sendOperation(opcode, device, buildShareListRequest(clientUUID_, device.serverUUID, "admin", password),
                      std::move(what));
    } else if (opcode == op_SET_LAN) {
        TmpDeviceData t;
        fillTmpDeviceData(device, t);
        sendOperation(opcode, device,
                      buildSetLanRequest(clientUUID_, device.serverUUID, "admin", password, t, ItemPadding::Compact),
                      std::move(what));
    }
}

void Packager::sendPackage(std::uint8_t kind, std::uint8_t itemCode, const DeviceData_n& device) {
    if (kind != kLegacyItemQuery) return;
    sendFor(device, buildLegacyQuery(clientUUID_, device.serverUUID, itemCode));
}

void Packager::setBtnApply(bool enabled) {
    if (receiver_) receiver_->setBtnApply(enabled);
}

void Packager::olderFormatCheck(ByteView datagram) {
    if (datagram.size() < 10) return;
    if (!std::equal(clientUUID_.begin(), clientUUID_.end(), datagram.begin() + 1)) return;
    if (datagram[0] != kLegacyItemAnswer || datagram.size() < 25) return;
    if (datagram[17] != kLanInformationItem) return;
    const ByteView text = datagram.subspan(24);
    const auto nul = std::find(text.begin(), text.end(), std::uint8_t{0});
    auto info = parseLanInformation(std::string(text.begin(), nul));
    if (!info) return;
    std::copy_n(datagram.begin() + 9, 8, info->serverUUID.begin());
    // The records have no place for this answer; only an observer sees it.
    if (onLanInformation) onLanInformation(*info);
}

std::optional<RequestFor> Packager::settle(const Key& key, std::uint32_t from) {
    const auto it = outstanding_.find(key);
    const bool waiting = it != outstanding_.end() && it->second.copies > 0;
    if (!waiting) {
        // An answer owed to a request that has ended (counted off, when it
        // comes from the device), or to none of ours. The last one owed lets
        // a held request go at once.
        const bool held = it != outstanding_.end() && it->second.held;
        if (held && !routes_.fromDevice(it->second.route, from)) return std::nullopt;
        if (late_.takeLate(key, loop_.now()) && held && !late_.holdUntil(key, loop_.now())) {
            loop_.cancelTimer(it->second.held);
            const auto start = std::move(it->second.start);
            start();
        }
        return std::nullopt;
    }
    if (!routes_.believes(it->second.route, from)) return std::nullopt;
    routes_.answered(it->second.route, arrivingDirect_);
    const Outstanding& o = it->second;
    late_.ended(key, o.copies, o.first, o.last, loop_.now(), loop_.now());
    RequestFor what = std::move(it->second.request);
    cancelTimers(key);
    outstanding_.erase(it);  // one answer per request
    return what;
}

void Packager::dePacket(const sockaddr_storage& sender, ByteView datagram) {
    auto record = std::make_shared<DeviceData_n>();
    const auto senderText = senderAddressText(sender);
    if (senderText)
        record->port[0].IP = *senderText;
    else
        log_->log("Get IP name info fail! errno:" + std::to_string(errno));
    const std::uint32_t from = hostOrderOf(senderIpv4(sender));

    const auto header = readHeader(datagram);
    if (!header || header->magic != kReplyMagic || header->clientUUID != clientUUID_) return;
    // Header bytes 24 to 26 reading (nonzero, 8, 5) mark a datagram this
    // engine has always dropped before looking at its opcode. The supported
    // boxes send zeros in all 18 reserved bytes, so no reply of theirs is
    // lost; what sends that pattern on this port and group is not said by
    // the device protocol, and the filter is kept as the engine's peers
    // expect it. The blocking form does not apply it (it checks the opcode
    // and body length instead).
    if (header->reserved[0] != 0 && header->reserved[1] == 8 && header->reserved[2] == 5) return;

    if (header->opcode == op_GET_SAMBA_SHARE) {
        decodeShares(*header, datagram, from);
        return;
    }
    if (header->opcode != op_SEARCH) {
        callCurrentView(*header, from);
        return;
    }
    // An answer to a search sent to one address comes from that address.
    if (arrivingDirect_ && asked_.count(from) == 0) return;
    record->bondingEnable = 0;
    fillDeviceFromReply(*record, datagram, kRunLoopItemLimit);
    record->lanPortNumber = -1;
    if (!isSupportedModel(record->modelName.view())) return;
    record->answeredFrom = knownIpv4(from);
    record->byAddress = arrivingDirect_ && from != 0;
    // Heard through the group from the address it was asked at: no device
    // found by address. An answer from another address under its
    // serverUUID does not move it.
    // The device's own answer from an address asked outweighs any that come
    // through the group from elsewhere under its serverUUID (anyone on the
    // segment can send one); a group answer from that same address means
    // it is on this segment after all.
    auto& all = registry.serverArray;
    if (arrivingDirect_) {
        confirmed_[record->serverUUID] = from;
        std::erase_if(all, [&](const auto& known) {
            return known->serverUUID == record->serverUUID && known->answeredFrom != knownIpv4(from);
        });
    } else {
        if (const auto c = confirmed_.find(record->serverUUID); c != confirmed_.end() && c->second != from) return;
        for (DeviceData_n* known : registry.withServerUUID(record->serverUUID))
            if (known->answeredFrom == knownIpv4(from)) known->byAddress = false;
    }
    const Uuid8 id = record->serverUUID;
    if (registry.addDataInfo(std::move(record))) firstFrom_.emplace(id, knownIpv4(from));
}

void Packager::callCurrentView(const PacketHeader& header, std::uint32_t from) {
    if (!receiver_) return;
    if (header.opcode == op_CHK_PASSWD) {
        auto what = settle({header.serverUUID, op_CHK_PASSWD}, from);
        if (!what) return;
        if (header.ret_code != 1) {
            receiver_->passwordRefused(*what);
            return;
        }
        // The follow-up goes to the device checked, for the action pending
        // when the check went out.
        if (!receiver_->passwordAccepted(*what) || !what->device) return;
        const std::uint16_t next = what->action == CalledAction::ListVolumes ? op_GET_SAMBA_SHARE : op_SET_LAN;
        const auto device = what->device;
        sendFollowUp(next, *device, std::move(*what));
    } else if (header.opcode == op_SET_LAN) {
        const auto what = settle({header.serverUUID, op_SET_LAN}, from);
        if (!what) return;
        lastSetLanReturnCode = header.ret_code;
        receiver_->settingsAnswered(*what, header.ret_code);
    }
}

void Packager::decodeShares(const PacketHeader& header, ByteView datagram, std::uint32_t from) {
    const auto what = settle({header.serverUUID, op_GET_SAMBA_SHARE}, from);
    if (!what) return;
    // A header with no item is an answer too: the device has no shares.
    std::string value;
    walkItems(datagram, kHeaderSize, 1, [&](const Item& item) { value = item.text(); });
    if (value.size() > kShareValueCap) value.resize(kShareValueCap);
    std::shared_ptr<DeviceData_n> device;
    for (const auto& d : registry.serverArray)
        if (d->serverUUID == header.serverUUID) device = d;
    if (!device) device = what->device;
    if (device && device->serverUUID == header.serverUUID) device->volumeShares = value;
    if (receiver_ && !receiver_->sharesArrived(*what)) return;
    // An empty piece (a doubled or trailing colon) names no volume.
    for (const auto& token : splitFields(value, ':', false)) registry.stripVolumeName(token);
    if (receiver_) receiver_->reloadTable(RunLoopTable::Volumes);
}

}  // namespace qs
