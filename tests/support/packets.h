// Helpers for building datagrams in tests.
#pragma once

#include "quayside/wire.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace qs::test {

using ItemList = std::vector<std::pair<std::uint16_t, std::string>>;

inline Uuid8 uuid(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t e, std::uint8_t f,
                  std::uint8_t g, std::uint8_t h) {
    return Uuid8{a, b, c, d, e, f, g, h};
}

// A well-formed reply: magic 55 AA, the given opcode, ids and items, body_len
// matching the datagram.
inline Bytes reply(std::uint16_t opcode, const Uuid8& client, const Uuid8& server, const ItemList& items,
                   std::uint16_t ret_code = 0) {
    PacketHeader h;
    h.magic = kReplyMagic;
    h.opcode = opcode;
    h.ret_code = ret_code;
    h.clientUUID = client;
    h.serverUUID = server;
    ByteWriter w;
    writeHeader(w, h);
    for (const auto& [type, value] : items) appendItem(w, type, value);
    w.patchU16le(42, static_cast<std::uint16_t>(w.size() - kHeaderSize));
    return w.take();
}

// The items a supported one-port device sends in answer to a search.
inline ItemList onePortDevice(const std::string& host, const std::string& model, const std::string& ip) {
    return {{v_HOSTNAME, host},       {v_MODEL_NAME, model},         {v_BOND_ENABLE, "0"},
            {v_IF_SEND, "0"},         {v_DEFAULT_GW_IF, "lan0"},     {v_IF_NO, "0"},
            {v_IP, ip},               {v_NETMASK, "255.255.255.0"},  {v_GATEWAY, "192.168.1.1"},
            {v_NS1, "192.168.1.1"},   {v_NS2, "0.0.0.0"},            {v_DHCP_ENABLE, "0"},
            {v_NS_MODE, "0"}};
}

inline std::string hexdump(const Bytes& b) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (auto c : b) {
        if (!s.empty()) s.push_back(' ');
        s.push_back(d[c >> 4]);
        s.push_back(d[c & 15]);
    }
    return s;
}

}  // namespace qs::test
