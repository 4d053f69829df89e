#include "device.h"

#include "quayside/credentials.h"
#include "quayside/packager.h"

#include <algorithm>
#include <array>

namespace qs::sim {

namespace {

constexpr std::size_t kShortLength = 40;
constexpr int kDuplicateCopies = 3;
constexpr std::size_t kLegacyQuerySize = 24;
// Clients take the first item of a share reply whatever its type.
constexpr std::uint16_t kShareItemType = 0;

bool has(const std::vector<Fault>& faults, Fault f) { return std::find(faults.begin(), faults.end(), f) != faults.end(); }

bool isZero(const Uuid8& id) {
    return std::all_of(id.begin(), id.end(), [](std::uint8_t b) { return b == 0; });
}

// An item header claiming var_len 2, shorter than the header itself.
Bytes itemBelowFour() {
    ByteWriter w;
    w.u16le(v_HOSTNAME);
    w.u16le(2);
    return w.take();
}

// An item header whose var_len covers the rest of the body and 8 bytes more.
Bytes itemPastEnd(std::size_t restOfBody) {
    const std::size_t claimed = std::min<std::size_t>(4 + restOfBody + 8, 0xFFFF);
    ByteWriter w;
    w.u16le(v_HOSTNAME);
    w.u16le(static_cast<std::uint16_t>(claimed));
    return w.take();
}

void prepend(Bytes& body, const Bytes& front) { body.insert(body.begin(), front.begin(), front.end()); }

void applyBodyFaults(Reply& r, const std::vector<Fault>& faults) {
    if (has(faults, Fault::ItemPastEnd)) prepend(r.body, itemPastEnd(r.body.size()));
    if (has(faults, Fault::ItemLenBelow4)) prepend(r.body, itemBelowFour());
}

void applyHeaderFaults(PacketHeader& h, const std::vector<Fault>& faults) {
    if (has(faults, Fault::WrongMagic)) h.magic = kRequestMagic;
    if (has(faults, Fault::ForeignClient))
        for (auto& b : h.clientUUID) b = static_cast<std::uint8_t>(~b);
    if (has(faults, Fault::WrongBodyLen)) h.body_len = static_cast<std::uint16_t>(h.body_len + 1);
}

void portItems(ByteWriter& w, int index, const PortConfig& p) {
    appendItem(w, v_IF_NO, std::to_string(index));
    appendItem(w, v_IP, p.IP);
    appendItem(w, v_NETMASK, p.netmask);
    appendItem(w, v_GATEWAY, p.gateway);
    appendItem(w, v_NS1, p.dns1);
    appendItem(w, v_NS2, p.dns2);
    appendItem(w, v_DHCP_ENABLE, p.dhcp ? "1" : "0");
    appendItem(w, v_NS_MODE, std::to_string(p.dnsMode));
}

// Header and body as one datagram, body_len from the body.
Bytes encodeGood(Reply r) {
    r.header.body_len = static_cast<std::uint16_t>(r.body.size());
    return encodeReply(r);
}

// The body as body_len declares it; nothing when body_len runs past the
// datagram. Bytes after the declared body are not looked at.
std::optional<ByteView> requestBody(const PacketHeader& h, ByteView datagram) {
    if (datagram.size() < kHeaderSize || datagram.size() - kHeaderSize < h.body_len) return std::nullopt;
    return datagram.subspan(kHeaderSize, h.body_len);
}

// The settings of an op_SET_LAN request, as the item texts carry them.
struct LanSettings {
    std::string IP, netmask, gateway, dns1, dns2, dnsMode, ifNo, dhcp;
};

// The eight setting items after the authentication block. Nothing when one
// is missing or the items do not walk cleanly to the end of the body; the
// first of two items of one type counts.
std::optional<LanSettings> readLanSettings(ByteView body) {
    LanSettings t;
    const std::array<std::pair<std::uint16_t, std::string*>, 8> fields = {{{v_IP, &t.IP},
                                                                          {v_NETMASK, &t.netmask},
                                                                          {v_GATEWAY, &t.gateway},
                                                                          {v_NS1, &t.dns1},
                                                                          {v_NS2, &t.dns2},
                                                                          {v_NS_MODE, &t.dnsMode},
                                                                          {v_IF_NO, &t.ifNo},
                                                                          {v_DHCP_ENABLE, &t.dhcp}}};
    std::array<bool, fields.size()> seen{};
    const WalkEnd end = walkItems(body, kAuthBlockSize, 0, [&](const Item& item) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].first != item.type || seen[i]) continue;
            *fields[i].second = item.text();
            seen[i] = true;
        }
    });
    if (end != WalkEnd::EndOfData) return std::nullopt;
    if (!std::all_of(seen.begin(), seen.end(), [](bool b) { return b; })) return std::nullopt;
    return t;
}

// Applies `t` to the port it names. False, with nothing changed, when the
// port is not one the device has, a flag is not "0" or "1", a name server is
// neither empty nor an address, or a static setting lacks an address. With
// DHCP on, an address that is not given properly keeps the old one.
bool applyLanSettings(DeviceConfig& s, const LanSettings& t) {
    if (t.ifNo != "0" && t.ifNo != "1") return false;
    const std::size_t port = t.ifNo == "1" ? 1 : 0;
    if (port >= s.ports.size()) return false;
    if (t.dhcp != "0" && t.dhcp != "1") return false;
    const bool dhcp = t.dhcp == "1";
    auto nameServer = [](const std::string& a) { return a.empty() || isDottedIPv4(a); };
    if (!nameServer(t.dns1) || !nameServer(t.dns2)) return false;
    if (!dhcp && !(isDottedIPv4(t.IP) && isDottedIPv4(t.netmask) && isDottedIPv4(t.gateway))) return false;

    PortConfig& p = s.ports[port];
    auto takeAddress = [](std::string& field, const std::string& given) {
        if (isDottedIPv4(given)) field = given;
    };
    takeAddress(p.IP, t.IP);
    takeAddress(p.netmask, t.netmask);
    takeAddress(p.gateway, t.gateway);
    p.dns1 = t.dns1;
    p.dns2 = t.dns2;
    p.dhcp = dhcp;
    p.dnsMode = t.dnsMode == "1" ? 1 : 0;
    return true;
}

}  // namespace

std::optional<LegacyQuery> readLegacyQuery(ByteView datagram) {
    if (datagram.size() != kLegacyQuerySize) return std::nullopt;
    ByteReader r(datagram);
    LegacyQuery q;
    const auto kind = r.u8();
    if (kind != kLegacyItemQuery) return std::nullopt;
    if (!r.bytes(q.clientId.data(), q.clientId.size()) || !r.bytes(q.serverUUID.data(), q.serverUUID.size()))
        return std::nullopt;
    const auto item = r.u8();
    const auto zero = r.u16le();
    const auto length = r.u32le();
    if (!item || zero != 0 || length != 0u) return std::nullopt;
    q.itemCode = *item;
    return q;
}

RequestCheck checkRequest(ByteView datagram) {
    // The older format has no magic of its own; only the exact query form
    // is taken, anything else of that size falls to the header checks.
    if (readLegacyQuery(datagram)) return RequestCheck::LegacyQuery;
    const auto h = readHeader(datagram);
    if (!h) return RequestCheck::TooShort;
    if (h->magic != kRequestMagic) return RequestCheck::NotRequest;
    return RequestCheck::Request;
}

Bytes encodeReply(const Reply& reply) {
    ByteWriter w;
    writeHeader(w, reply.header);
    w.bytes(reply.body.data(), reply.body.size());
    return w.take();
}

std::vector<Bytes> applyFaults(const Reply& good, const std::vector<Fault>& faults) {
    if (has(faults, Fault::Silent)) return {};
    Reply r = good;
    applyBodyFaults(r, faults);
    r.header.body_len = static_cast<std::uint16_t>(r.body.size());
    applyHeaderFaults(r.header, faults);
    Bytes datagram = encodeReply(r);
    if (has(faults, Fault::Short) && datagram.size() > kShortLength) datagram.resize(kShortLength);

    std::vector<Bytes> out;
    if (has(faults, Fault::BadThenGood)) {
        Reply bad = r;
        bad.header.magic = kRequestMagic;
        out.push_back(encodeReply(bad));
    }
    const int copies = has(faults, Fault::Duplicate) ? kDuplicateCopies : 1;
    for (int i = 0; i < copies; ++i) out.push_back(datagram);
    return out;
}

Bytes searchBody(const DeviceConfig& s) {
    ByteWriter w;
    appendItem(w, v_HOSTNAME, s.hostname);
    appendItem(w, v_MODEL_NAME, s.model);
    appendItem(w, v_DEV_MODEL, s.devModel);
    appendItem(w, v_BOND_ENABLE, s.bondEnable ? "1" : "0");
    appendItem(w, v_BOND_MODE, std::to_string(s.bondMode));
    appendItem(w, v_IF_SEND, std::to_string(s.answerPort));
    appendItem(w, v_DEFAULT_GW_IF, s.defaultGatewayPort == 1 ? "lan1" : "lan0");
    for (std::size_t i = 0; i < s.ports.size(); ++i) portItems(w, static_cast<int>(i), s.ports[i]);
    return w.take();
}

std::string lanInformationText(const DeviceConfig& s) {
    auto port = [&](std::size_t i) -> std::string {
        if (i >= s.ports.size()) return ":::";
        const PortConfig& p = s.ports[i];
        return p.IP + ":" + p.netmask + ":" + p.gateway + ":" + (p.dhcp ? "1" : "0");
    };
    std::string text = s.bondEnable ? "LAN1+LAN2" : "LAN1";
    text += ":" + port(0);
    text += ":" + (s.bondEnable ? std::to_string(s.bondMode) : std::string("LAN2"));
    text += ":" + port(1);
    text += ":IFNUM:" + std::to_string(s.ports.size());
    return text;
}

ReplyMode effectiveReplyMode(const DeviceConfig& state, bool loopback, std::optional<ReplyMode> forced) {
    if (forced) return *forced;
    if (loopback) return state.reply == ReplyMode::Unicast ? ReplyMode::Unicast : ReplyMode::Group;
    return state.reply.value_or(ReplyMode::Group);
}

const Device::Route Device::kRoutes[] = {
    {op_SEARCH, Kind::Search, &Device::onSearch},
    {op_CHK_PASSWD, Kind::Operation, &Device::onCheckPassword},
    {op_GET_SAMBA_SHARE, Kind::Operation, &Device::onShareList},
    {op_SET_LAN, Kind::Operation, &Device::onSetLan},
};

bool Device::handles(std::uint16_t opcode) {
    return std::any_of(std::begin(kRoutes), std::end(kRoutes), [&](const Route& r) { return r.opcode == opcode; });
}

Answer Device::answer(const PacketHeader& request, ByteView datagram) {
    for (const Route& route : kRoutes) {
        if (route.opcode != request.opcode) continue;
        std::optional<Reply> good = (this->*route.handler)(request, datagram);
        if (!good) return {};
        if (route.kind == Kind::Search) return {applyFaults(*good, state_.faults), state_.delayMs};
        // A settings change taken restarts the device, whatever its answer
        // says or whether it is sent at all.
        const bool taken = request.opcode == op_SET_LAN && good->header.ret_code == kReplyOk;
        const int restartMs = taken ? state_.restartMs : 0;
        if (!answersOperations()) return {{}, operationDelayMs(), restartMs};
        if (state_.hasFault(Fault::RetCodeZero)) good->header.ret_code = 0;
        return {{encodeGood(std::move(*good))}, operationDelayMs(), restartMs};
    }
    return {};
}

Answer Device::answer(const LegacyQuery& query) const {
    if (query.serverUUID != state_.serverUUID || query.itemCode != kLanInformationItem) return {};
    if (!answersOperations()) return {};
    const std::string text = lanInformationText(state_);
    ByteWriter w;
    w.u8(kLegacyItemAnswer);
    w.bytes(query.clientId.data(), query.clientId.size());
    w.bytes(state_.serverUUID.data(), state_.serverUUID.size());
    w.u8(kLanInformationItem);
    w.zeros(2);
    w.u32le(static_cast<std::uint32_t>(text.size() + 1));
    w.bytes(text.data(), text.size());
    w.u8(0);
    return {{w.take()}, operationDelayMs()};
}

bool Device::answersOperations() const {
    return !state_.hasFault(Fault::Silent) && !state_.hasFault(Fault::NoReply);
}

int Device::operationDelayMs() const {
    return state_.delayMs + (state_.hasFault(Fault::LateReply) ? state_.lateMs : 0);
}

bool Device::authenticated(ByteView body) const {
    ByteReader r(body);
    const auto block = r.view(kAuthBlockSize);
    if (!block) return false;
    const AuthBlock expected = makeAuthBlock(state_.user, state_.password);
    return std::equal(block->begin(), block->end(), expected.begin(), expected.end());
}

Reply Device::startReply(const PacketHeader& request) const {
    Reply r;
    r.header.magic = kReplyMagic;
    r.header.opcode = request.opcode;
    r.header.ret_code = kReplyOk;
    r.header.clientUUID = request.clientUUID;
    r.header.serverUUID = state_.serverUUID;
    return r;
}

// A search names no device (serverUUID zero) and carries no body; anything
// else on this opcode is someone's reply or junk and gets no answer.
std::optional<Reply> Device::onSearch(const PacketHeader& request, ByteView datagram) {
    (void)datagram;
    if (!isZero(request.serverUUID) || request.body_len != 0) return std::nullopt;
    Reply r = startReply(request);
    r.body = searchBody(state_);
    return r;
}

// The device operations name the device; a request for another one is not
// this device's to answer. A body too short for the authentication block
// counts as wrong credentials.
std::optional<Reply> Device::onCheckPassword(const PacketHeader& request, ByteView datagram) {
    if (request.serverUUID != state_.serverUUID) return std::nullopt;
    const auto body = requestBody(request, datagram);
    Reply r = startReply(request);
    r.header.ret_code = body && authenticated(*body) ? kReplyOk : 0;
    return r;
}

// Wrong credentials get no reply at all here, unlike the other operations.
std::optional<Reply> Device::onShareList(const PacketHeader& request, ByteView datagram) {
    if (request.serverUUID != state_.serverUUID) return std::nullopt;
    const auto body = requestBody(request, datagram);
    if (!body || !authenticated(*body)) return std::nullopt;
    Reply r = startReply(request);
    ByteWriter w;
    appendItem(w, kShareItemType, state_.hasFault(Fault::EmptyShareItem) ? std::string_view() : state_.shares);
    r.body = w.take();
    return r;
}

std::optional<Reply> Device::onSetLan(const PacketHeader& request, ByteView datagram) {
    if (request.serverUUID != state_.serverUUID) return std::nullopt;
    const auto body = requestBody(request, datagram);
    Reply r = startReply(request);
    r.header.ret_code = 0;
    if (!body || !authenticated(*body)) return r;
    const auto settings = readLanSettings(*body);
    if (settings && applyLanSettings(state_, *settings)) r.header.ret_code = kReplyOk;
    return r;
}

}  // namespace qs::sim
