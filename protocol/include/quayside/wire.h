// Wire format of the device protocol: the 44-byte header, type-length-value
// items, and one bounds-checked cursor for reading and writing datagrams.
//
// Every multi-byte integer is little-endian. Datagrams are never cast to
// structs: fields are read and written one by one through ByteReader and
// ByteWriter, which refuse to step past the end of their buffer.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

inline constexpr std::uint16_t kDevicePort = 24680;
// When a search request goes out again after the first sending: one lost
// request, or a lost burst of answers, costs no device its place in the
// results. Devices are taken once however often they answer.
// Eight sendings in all find 99% of the devices on a link that loses 30% of
// the datagrams each way.
inline constexpr std::array<std::chrono::milliseconds, 7> kSearchRepeatAfter{
    std::chrono::milliseconds(100), std::chrono::milliseconds(200), std::chrono::milliseconds(300),
    std::chrono::milliseconds(400), std::chrono::milliseconds(500), std::chrono::milliseconds(600),
    std::chrono::milliseconds(700)};

// A search of single addresses goes round them as often as the group search
// is sent, but a sweep of many goes round fewer times: at most `budget`
// requests in all, and every address at least twice.
inline constexpr std::size_t kDirectSearchBudget = 2048;
inline std::size_t directSearchRounds(std::size_t hosts, std::size_t sendings,
                                      std::size_t budget = kDirectSearchBudget) {
    if (hosts == 0) return 0;
    const std::size_t fit = budget / hosts;
    return fit < 2 ? 2 : (fit < sendings ? fit : sendings);
}
inline constexpr const char* kBlockingGroup = "224.0.0.10";
inline constexpr const char* kRunLoopGroup = "224.0.0.1";

inline constexpr std::size_t kHeaderSize = 44;
inline constexpr std::size_t kAuthBlockSize = 128;
inline constexpr std::uint16_t kRequestMagic = 0x55AA;  // bytes AA 55
inline constexpr std::uint16_t kReplyMagic = 0xAA55;    // bytes 55 AA

// Opcodes.
inline constexpr std::uint16_t op_SEARCH = 101;
inline constexpr std::uint16_t op_CHK_PASSWD = 102;
inline constexpr std::uint16_t op_SET_LAN = 106;
inline constexpr std::uint16_t op_GET_SAMBA_SHARE = 164;

// Item types.
inline constexpr std::uint16_t v_PASSWD = 502;
inline constexpr std::uint16_t v_HOSTNAME = 504;
inline constexpr std::uint16_t v_DHCP_ENABLE = 505;
inline constexpr std::uint16_t v_IP = 506;
inline constexpr std::uint16_t v_NETMASK = 507;
inline constexpr std::uint16_t v_GATEWAY = 508;
inline constexpr std::uint16_t v_NS1 = 509;
inline constexpr std::uint16_t v_NS2 = 510;
inline constexpr std::uint16_t v_MODEL_NAME = 527;
inline constexpr std::uint16_t v_IF_NO = 529;
inline constexpr std::uint16_t v_BOND_ENABLE = 530;
inline constexpr std::uint16_t v_BOND_MODE = 531;
inline constexpr std::uint16_t v_IF_SEND = 535;
inline constexpr std::uint16_t v_DEFAULT_GW_IF = 536;
inline constexpr std::uint16_t v_NS_MODE = 538;
inline constexpr std::uint16_t v_DEV_MODEL = 553;

using Uuid8 = std::array<std::uint8_t, 8>;

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Sequential reader over a byte range. Every read checks the bounds first; a
// failed read leaves the cursor where it was and returns nothing.
class ByteReader {
public:
    explicit ByteReader(ByteView data, std::size_t offset = 0) : data_(data), pos_(offset) {}

    std::size_t position() const { return pos_; }
    std::size_t size() const { return data_.size(); }
    std::size_t remaining() const { return pos_ <= data_.size() ? data_.size() - pos_ : 0; }
    bool canRead(std::size_t n) const { return n <= remaining(); }

    std::optional<std::uint8_t> u8();
    std::optional<std::uint16_t> u16le();
    std::optional<std::uint32_t> u32le();
    bool bytes(std::uint8_t* out, std::size_t n);
    std::optional<ByteView> view(std::size_t n);
    bool skip(std::size_t n);

private:
    ByteView data_;
    std::size_t pos_;
};

// Appending writer. It grows its own buffer; patchU16le rewrites a field
// written earlier (used for body_len once the items are known).
class ByteWriter {
public:
    ByteWriter() = default;

    void u8(std::uint8_t v) { buf_.push_back(v); }
    void u16le(std::uint16_t v);
    void u32le(std::uint32_t v);
    void bytes(const void* p, std::size_t n);
    void zeros(std::size_t n) { buf_.insert(buf_.end(), n, 0); }
    bool patchU16le(std::size_t offset, std::uint16_t v);
    void reserve(std::size_t n) { buf_.reserve(n); }

    std::size_t size() const { return buf_.size(); }
    const Bytes& data() const { return buf_; }
    Bytes take() { return std::move(buf_); }

private:
    Bytes buf_;
};

// The header as decoded; reserved bytes are kept so filters can look at them.
struct PacketHeader {
    std::uint16_t magic = 0;
    std::uint16_t opcode = 0;
    std::uint16_t ret_code = 0;
    std::uint16_t reserved0 = 0;
    Uuid8 clientUUID{};
    Uuid8 serverUUID{};
    std::array<std::uint8_t, 18> reserved{};
    std::uint16_t body_len = 0;
};

void writeHeader(ByteWriter& w, const PacketHeader& h);
std::optional<PacketHeader> readHeader(ByteView datagram);

// Item encodings. The library's rule always ends a value with 1 to 4 NUL
// bytes; the compact rule (used by the run-loop front end) pads to the next
// multiple of four only, so a value whose length is a multiple of four goes
// out without a terminator.
enum class ItemPadding { Terminated, Compact };

std::size_t paddedValueLength(std::size_t n, ItemPadding padding = ItemPadding::Terminated);

// Appends one item and returns its var_len. A v_PASSWD value is cut to 48
// bytes and base64-encoded first. Values too long for a 16-bit length are cut.
std::uint16_t appendItem(ByteWriter& w, std::uint16_t type, std::string_view value,
                         ItemPadding padding = ItemPadding::Terminated);

// One item as found in a datagram; value is exactly var_len - 4 bytes.
struct Item {
    std::uint16_t type = 0;
    std::uint16_t length = 0;  // var_len, header included
    ByteView value;
    std::size_t offset = 0;    // offset of the item in the datagram

    // The value as text, ending at its first NUL if there is one.
    std::string text() const;
};

// Why an item walk ended.
enum class WalkEnd { EndOfData, LengthBelowFour, PastEnd, ItemLimit };

// Walks the items from `offset` to the end of `datagram`. The walk stops at
// the end of the data, at an item shorter than its own header, at an item
// that would run past the end, or after `maxItems` items (0: no limit).
// The visitor is called with each well-formed item in order.
template <typename Visitor>
WalkEnd walkItems(ByteView datagram, std::size_t offset, std::size_t maxItems, Visitor&& visit) {
    ByteReader r(datagram, offset);
    std::size_t count = 0;
    while (r.remaining() > 0) {
        if (maxItems != 0 && count >= maxItems) return WalkEnd::ItemLimit;
        const std::size_t at = r.position();
        auto type = r.u16le();
        auto len = r.u16le();
        if (!type || !len) return WalkEnd::PastEnd;
        if (*len < 4) return WalkEnd::LengthBelowFour;
        auto value = r.view(*len - 4u);
        if (!value) return WalkEnd::PastEnd;
        visit(Item{*type, *len, *value, at});
        ++count;
    }
    return WalkEnd::EndOfData;
}

// Reply acceptance used by every blocking operation. Each rejection has its
// own reason so tests (and a debugging user) can tell them apart.
enum class ReplyCheck {
    Accepted,
    TooShort,
    BadMagic,
    WrongOpcode,
    ForeignClient,
    LengthMismatch,
};

const char* describe(ReplyCheck c);

ReplyCheck checkReply(ByteView datagram, std::uint16_t expectedOpcode, const Uuid8& clientUUID);

// A request header for this client: magic AA 55, ret_code 0, all reserved
// bytes zero, body_len to be patched by finishRequest.
ByteWriter startRequest(std::uint16_t opcode, const Uuid8& clientUUID, const Uuid8& serverUUID);
// Writes body_len from the writer's current size and returns the datagram.
Bytes finishRequest(ByteWriter& w);

std::string toHex(const Uuid8& id);
std::optional<Uuid8> uuidFromHex(std::string_view hex);

}  // namespace qs
