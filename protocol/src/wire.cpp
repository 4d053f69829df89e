#include "quayside/wire.h"

#include "quayside/credentials.h"

#include <algorithm>
#include <limits>

namespace qs {

std::optional<std::uint8_t> ByteReader::u8() {
    if (!canRead(1)) return std::nullopt;
    return data_[pos_++];
}

std::optional<std::uint16_t> ByteReader::u16le() {
    if (!canRead(2)) return std::nullopt;
    const auto v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

std::optional<std::uint32_t> ByteReader::u32le() {
    if (!canRead(4)) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 4;
    return v;
}

bool ByteReader::bytes(std::uint8_t* out, std::size_t n) {
    if (!canRead(n)) return false;
    if (n != 0) std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return true;
}

std::optional<ByteView> ByteReader::view(std::size_t n) {
    if (!canRead(n)) return std::nullopt;
    ByteView v = data_.subspan(pos_, n);
    pos_ += n;
    return v;
}

bool ByteReader::skip(std::size_t n) {
    if (!canRead(n)) return false;
    pos_ += n;
    return true;
}

void ByteWriter::u16le(std::uint16_t v) {
    buf_.push_back(static_cast<std::uint8_t>(v & 0xFF));
    buf_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ByteWriter::u32le(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) buf_.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

void ByteWriter::bytes(const void* p, std::size_t n) {
    if (n == 0) return;
    const auto* b = static_cast<const std::uint8_t*>(p);
    buf_.insert(buf_.end(), b, b + n);
}

bool ByteWriter::patchU16le(std::size_t offset, std::uint16_t v) {
    if (offset + 2 > buf_.size()) return false;
    buf_[offset] = static_cast<std::uint8_t>(v & 0xFF);
    buf_[offset + 1] = static_cast<std::uint8_t>(v >> 8);
    return true;
}

void writeHeader(ByteWriter& w, const PacketHeader& h) {
    w.u16le(h.magic);
    w.u16le(h.opcode);
    w.u16le(h.ret_code);
    w.u16le(h.reserved0);
    w.bytes(h.clientUUID.data(), h.clientUUID.size());
    w.bytes(h.serverUUID.data(), h.serverUUID.size());
    w.bytes(h.reserved.data(), h.reserved.size());
    w.u16le(h.body_len);
}

std::optional<PacketHeader> readHeader(ByteView datagram) {
    if (datagram.size() < kHeaderSize) return std::nullopt;
    ByteReader r(datagram);
    PacketHeader h;
    h.magic = *r.u16le();
    h.opcode = *r.u16le();
    h.ret_code = *r.u16le();
    h.reserved0 = *r.u16le();
    r.bytes(h.clientUUID.data(), h.clientUUID.size());
    r.bytes(h.serverUUID.data(), h.serverUUID.size());
    r.bytes(h.reserved.data(), h.reserved.size());
    h.body_len = *r.u16le();
    return h;
}

std::size_t paddedValueLength(std::size_t n, ItemPadding padding) {
    if (n == 0) return 0;
    if (padding == ItemPadding::Compact) return (n + 3) / 4 * 4;
    return n - (n % 4) + 4;
}

std::uint16_t appendItem(ByteWriter& w, std::uint16_t type, std::string_view value, ItemPadding padding) {
    std::string encoded;
    if (type == v_PASSWD) {
        encoded = encode(value.substr(0, std::min<std::size_t>(value.size(), kCredentialCut)));
        value = encoded;
    }
    // Largest value whose padded length still fits the 16-bit var_len.
    constexpr std::size_t kMaxValue = std::numeric_limits<std::uint16_t>::max() - 4 - 4;
    if (value.size() > kMaxValue) value = value.substr(0, kMaxValue);
    const std::size_t padded = paddedValueLength(value.size(), padding);
    const auto varLen = static_cast<std::uint16_t>(padded + 4);
    w.u16le(type);
    w.u16le(varLen);
    w.bytes(value.data(), value.size());
    w.zeros(padded - value.size());
    secureClear(encoded);
    return varLen;
}

std::string Item::text() const {
    const auto nul = std::find(value.begin(), value.end(), std::uint8_t{0});
    return std::string(value.begin(), nul);
}

const char* describe(ReplyCheck c) {
    switch (c) {
        case ReplyCheck::Accepted: return "accepted";
        case ReplyCheck::TooShort: return "shorter than the header";
        case ReplyCheck::BadMagic: return "not a reply (magic)";
        case ReplyCheck::WrongOpcode: return "answers another request (opcode)";
        case ReplyCheck::ForeignClient: return "meant for another client";
        case ReplyCheck::LengthMismatch: return "body length does not match the datagram";
    }
    return "unknown";
}

ReplyCheck checkReply(ByteView datagram, std::uint16_t expectedOpcode, const Uuid8& clientUUID) {
    const auto h = readHeader(datagram);
    if (!h) return ReplyCheck::TooShort;
    if (h->magic != kReplyMagic) return ReplyCheck::BadMagic;
    if (h->opcode != expectedOpcode) return ReplyCheck::WrongOpcode;
    if (h->clientUUID != clientUUID) return ReplyCheck::ForeignClient;
    // Compared as 16-bit values, as the devices count them.
    if (static_cast<std::uint16_t>(h->body_len + kHeaderSize) != static_cast<std::uint16_t>(datagram.size()))
        return ReplyCheck::LengthMismatch;
    return ReplyCheck::Accepted;
}

namespace {
// More than the longest request the client builds (a settings change:
// header, credentials and eight short items).
constexpr std::size_t kRequestRoom = 1024;
}  // namespace

ByteWriter startRequest(std::uint16_t opcode, const Uuid8& clientUUID, const Uuid8& serverUUID) {
    PacketHeader h;
    h.magic = kRequestMagic;
    h.opcode = opcode;
    h.clientUUID = clientUUID;
    h.serverUUID = serverUUID;
    ByteWriter w;
    // Room for any request: the buffer never moves while credentials are
    // in it, so no copy of them is left behind in memory given back.
    w.reserve(kRequestRoom);
    writeHeader(w, h);
    return w;
}

Bytes finishRequest(ByteWriter& w) {
    const std::size_t body = w.size() >= kHeaderSize ? w.size() - kHeaderSize : 0;
    w.patchU16le(42, static_cast<std::uint16_t>(body));
    return w.take();
}

std::string toHex(const Uuid8& id) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (auto b : id) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 0xF]);
    }
    return s;
}

std::optional<Uuid8> uuidFromHex(std::string_view hex) {
    if (hex.size() != 16) return std::nullopt;
    Uuid8 id{};
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < 8; ++i) {
        const int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        id[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return id;
}

}  // namespace qs
