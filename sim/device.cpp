#include "device.h"

#include <algorithm>

namespace qs::sim {

namespace {

constexpr std::size_t kShortLength = 40;
constexpr int kDuplicateCopies = 3;

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

}  // namespace

RequestCheck checkRequest(ByteView datagram) {
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

ReplyMode effectiveReplyMode(const DeviceConfig& state, bool loopback, std::optional<ReplyMode> forced) {
    if (forced) return *forced;
    if (loopback) return state.reply == ReplyMode::Unicast ? ReplyMode::Unicast : ReplyMode::Group;
    return state.reply.value_or(ReplyMode::Group);
}

const Device::Route Device::kRoutes[] = {
    {op_SEARCH, &Device::onSearch},
};

bool Device::handles(std::uint16_t opcode) {
    return std::any_of(std::begin(kRoutes), std::end(kRoutes), [&](const Route& r) { return r.opcode == opcode; });
}

std::vector<Bytes> Device::answer(const PacketHeader& request, ByteView datagram) {
    for (const Route& route : kRoutes) {
        if (route.opcode != request.opcode) continue;
        const std::optional<Reply> good = (this->*route.handler)(request, datagram);
        if (!good) return {};
        return applyFaults(*good, state_.faults);
    }
    return {};
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

}  // namespace qs::sim
