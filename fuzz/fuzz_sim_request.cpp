// Feeds arbitrary datagrams to vsb-sim's request handling, as the simulator
// does for each datagram it receives: the request checks, the older-format
// query, and every device's answer (each opcode, the authentication block,
// the settings items). The devices are the lab set, made afresh for each
// input so a settings change of one input does not carry over.
#include "config.h"
#include "device.h"

#include "quayside/packager.h"
#include "quayside/wire.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace qs;
using namespace qs::sim;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz_sim_request: %s\n", what);
    std::abort();
}

// The lab devices commit no faults, so every reply they send must be one a
// client accepts.
void checkAnswer(const Answer& answer, const PacketHeader& request) {
    for (const Bytes& d : answer.datagrams) {
        if (checkReply(d, request.opcode, request.clientUUID) != ReplyCheck::Accepted) broken("reply not accepted");
        if (walkItems(d, kHeaderSize, 0, [](const Item&) {}) != WalkEnd::EndOfData) broken("reply items do not walk");
    }
}

// A search after whatever the input did: the state a settings request left
// must still give a well-formed search reply.
void searchAll(std::vector<Device>& devices) {
    PacketHeader search;
    search.magic = kRequestMagic;
    search.opcode = op_SEARCH;
    search.clientUUID = {1, 2, 3, 4, 5, 6, 7, 8};
    ByteWriter w;
    writeHeader(w, search);
    const Bytes datagram = w.take();
    for (Device& d : devices) checkAnswer(d.answer(search, datagram), search);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<DeviceConfig> lab = labDevices();
    std::vector<Device> devices(lab.begin(), lab.end());
    const ByteView datagram(data, size);

    switch (checkRequest(datagram)) {
    case RequestCheck::LegacyQuery: {
        const auto query = readLegacyQuery(datagram);
        if (!query) broken("legacy query checked but not read");
        for (const Device& d : devices)
            for (const Bytes& out : d.answer(*query).datagrams)
                if (out.size() < 24 || out[0] != kLegacyItemAnswer) broken("bad older-format answer");
        break;
    }
    case RequestCheck::Request: {
        const auto header = readHeader(datagram);
        if (!header) broken("request checked but no header");
        // The simulator skips opcodes no device handles; answer() must cope
        // with them anyway.
        (void)Device::handles(header->opcode);
        for (Device& d : devices) checkAnswer(d.answer(*header, datagram), *header);
        break;
    }
    case RequestCheck::TooShort:
    case RequestCheck::NotRequest:
        break;
    }
    searchAll(devices);
    return 0;
}
