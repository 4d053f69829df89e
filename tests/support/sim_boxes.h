// Three simulated boxes kept in memory behind a scripted link: each hears
// what is sent to the group or to one of its addresses, and answers at once
// from its answering port's address.
#pragma once

#include "device.h"
#include "quayside/address.h"
#include "support/fake_link.h"

#include <map>
#include <memory>
#include <vector>

namespace qs::test {

inline const Uuid8 kOffice{0, 0, 0, 0, 0, 0, 0, 0xa1};   // one port
inline const Uuid8 kArchive{0, 0, 0, 0, 0, 0, 0, 0xa2};  // two ports, answers on port 1
inline const Uuid8 kRender{0, 0, 0, 0, 0, 0, 0, 0xa3};   // two ports, bonded

class SimBoxes {
public:
    std::vector<sim::Device> boxes;
    bool silent = false;                 // the boxes are gone
    std::map<std::uint16_t, int> heard;  // requests by opcode

    SimBoxes() {
        sim::DeviceConfig archive = box(kArchive, "archive", "VSB-760K",
                                        {{"192.168.77.30", "255.255.255.0", "192.168.77.1"},
                                         {"192.168.78.30", "255.255.0.0", "192.168.78.1", "0.0.0.0", "0.0.0.0", true}});
        archive.answerPort = archive.defaultGatewayPort = 1;
        sim::DeviceConfig render = box(kRender, "render", "VSB-790K",
                                       {{"192.168.77.40", "255.255.255.0", "192.168.77.1"}, {"192.168.77.41", "255.255.255.0"}});
        render.bondEnable = true;
        render.bondMode = 4;
        boxes.emplace_back(box(kOffice, "office", "VSB-720K", {{"192.168.77.20", "255.255.255.0"}}));
        boxes.emplace_back(std::move(archive));
        boxes.emplace_back(std::move(render));
    }
    // A link with one interface on which the boxes are heard; it must not
    // outlive them.
    std::unique_ptr<FakeLink> link() {
        auto link = std::make_unique<FakeLink>(1);
        link->onSend = link->onRepeat = [this, l = link.get()](int, const Bytes& r) { hear(*l, r, std::nullopt); };
        link->onUnicast = [this, l = link.get()](std::uint32_t to, const Bytes& r) { hear(*l, r, to); };
        return link;
    }

private:
    static sim::DeviceConfig box(const Uuid8& id, const char* host, const char* model, std::vector<sim::PortConfig> ports) {
        sim::DeviceConfig d;
        d.serverUUID = id;
        d.hostname = host;
        d.model = d.devModel = model;
        d.ports = std::move(ports);
        return d;
    }

    void hear(FakeLink& link, const Bytes& request, std::optional<std::uint32_t> to) {
        const auto h = readHeader(request);
        if (silent || !h || sim::checkRequest(request) != sim::RequestCheck::Request) return;
        ++heard[h->opcode];
        for (sim::Device& b : boxes) {
            if (to && !b.state().hasAddress(formatDottedIPv4(*to))) continue;
            const std::uint32_t from = *parseDottedIPv4(b.state().serverAddress());
            for (Bytes& d : b.answer(*h, request).datagrams) link.queueFrom(0, from, std::move(d));
        }
    }
};

}  // namespace qs::test
