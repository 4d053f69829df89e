// Feeds arbitrary datagrams to every decoder that sees network input.
#include "quayside/library.h"
#include "quayside/records.h"
#include "quayside/wire.h"

#include <cstdint>
#include <cstring>

namespace {

// A link that hands out one datagram, then stays quiet.
class OneShotLink final : public qs::BlockingLink {
public:
    OneShotLink(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    int interfaceCount() const override { return 1; }
    std::string interfaceAddress(int) const override { return "127.0.0.1"; }
    void sendRequest(int, qs::ByteView) override {}
    std::optional<std::size_t> poll(int, std::chrono::milliseconds, std::span<std::uint8_t> buffer) override {
        if (served_ >= 2) return std::nullopt;
        ++served_;  // twice: the second copy exercises the duplicate path
        const std::size_t n = std::min(size_, buffer.size());
        if (n) std::memcpy(buffer.data(), data_, n);
        return n;
    }
    Clock::time_point now() const override { return {}; }
    void sleepFor(std::chrono::milliseconds) override {}

private:
    const std::uint8_t* data_;
    std::size_t size_;
    int served_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qs::ByteView datagram(data, size);
    // Use the datagram's own client id so the fuzzer gets past the checks.
    qs::Uuid8 client{};
    if (size >= 16) std::memcpy(client.data(), data + 8, 8);

    qs::checkReply(datagram, qs::op_SEARCH, client);
    qs::DeviceData_n rec;
    qs::fillDeviceFromReply(rec, datagram);
    qs::fillDeviceFromReply(rec, datagram, 52);
    qs::replyIsSupportedModel(datagram);
    qs::walkItems(datagram, 0, 0, [](const qs::Item& item) { (void)item.text(); });

    qs::DeviceLibrary lib(std::make_unique<OneShotLink>(data, size), client);
    lib.searchTuning.tallyLimit = 3;
    lib.SearchDevices();
    for (std::size_t i = 0; i < lib.devices.count(); ++i) {
        lib.currentServerUUID = lib.devices.at(i).serverUUID;
        lib.SummarizeLanPorts();
    }
    return 0;
}
