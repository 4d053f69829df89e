// Feeds arbitrary datagrams to every decoder that sees network input (and
// the reader of the kernel's neighbour-table messages).
#include "quayside/device_library.h"
#include "quayside/neighbours.h"
#include "quayside/packager.h"
#include "quayside/records.h"
#include "quayside/wire.h"

#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <string>

namespace {

// A link that hands out one datagram, then stays quiet.
class OneShotLink final : public qs::BlockingLink {
public:
    OneShotLink(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    int interfaceCount() const override { return 1; }
    std::string interfaceAddress(int) const override { return "127.0.0.1"; }
    void sendRequest(int, qs::ByteView) override {}
    std::optional<std::size_t> poll(int, std::chrono::milliseconds timeout, std::span<std::uint8_t> buffer) override {
        if (served_ >= 2) {
            clock_ += timeout;  // a quiet wait lasts its whole timeout
            return std::nullopt;
        }
        ++served_;  // twice: the second copy exercises the duplicate path
        const std::size_t n = std::min(size_, buffer.size());
        if (n) std::memcpy(buffer.data(), data_, n);
        return n;
    }
    // Time passes only as the search waits, so its bounds end it at once.
    Clock::time_point now() const override { return clock_; }
    void sleepFor(std::chrono::milliseconds d) override { clock_ += d; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    int served_ = 0;
    Clock::time_point clock_{};
};

// Receiver that asks for the share list after a password check.
class Receiver final : public qs::PackagerReceiver {
public:
    std::shared_ptr<qs::DeviceData_n> device = std::make_shared<qs::DeviceData_n>();
    void reloadTable(qs::RunLoopTable) override {}
    void checkAuthFail() override {}
    void setIPFinish() override {}
    void setBtnApply(bool) override {}
    qs::CalledAction calledAction() override { return qs::CalledAction::ListVolumes; }
    std::shared_ptr<qs::DeviceData_n> tmpDeviceData() override { return device; }
};

void runLoopDecoders(const std::uint8_t* data, std::size_t size, const qs::Uuid8& client) {
    qs::PollRunLoop loop;
    Receiver receiver;
    qs::Packager::Options options;
    options.clientUUID = client;
    options.sendOverride = [](qs::ByteView) {};
    qs::Packager engine(loop, qs::kDevicePort, qs::kRunLoopGroup, &receiver, options);
    if (size >= 24) std::memcpy(receiver.device->serverUUID.data(), data + 16, 8);
    // Every request outstanding, so each reply kind reaches its decoder.
    engine.sendPackage(qs::op_CHK_PASSWD, receiver.device.get());
    engine.sendPackage(qs::op_GET_SAMBA_SHARE, receiver.device.get());
    engine.sendPackage(qs::op_SET_LAN, receiver.device.get());
    // The older format carries the client id at offset 1.
    std::vector<std::uint8_t> legacy(data, data + size);
    if (legacy.size() >= 9) std::memcpy(legacy.data() + 1, client.data(), 8);
    engine.onLanInformation = [](const qs::LanInformation& info) { (void)info.ports.size(); };
    engine.olderFormatCheck(legacy);
    // The sender address is fuzzed too (mapped, compatible, plain IPv6).
    sockaddr_in6 sender{};
    sender.sin6_family = AF_INET6;
    std::memcpy(&sender.sin6_addr, data, std::min<std::size_t>(size, 16));
    sockaddr_storage from{};
    std::memcpy(&from, &sender, sizeof sender);
    const qs::ByteView datagram(data, size);
    engine.olderFormatCheck(datagram);
    if (size >= qs::kHeaderSize) engine.dePacket(from, datagram);
    qs::decodeShareList(datagram);
    qs::parseLanInformation(std::string(data, data + size));
}

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
    // The kernel's neighbour-table messages are read with the same care.
    for (const qs::Neighbour& n : qs::decodeNeighbourMessages(datagram).entries) (void)n.answered();

    qs::DeviceLibrary lib(std::make_unique<OneShotLink>(data, size), client);
    lib.searchTuning.tallyLimit = 3;
    lib.SearchDevices();
    for (std::size_t i = 0; i < lib.devices.count(); ++i) lib.SummarizeLanPorts(lib.devices.at(i).serverUUID);
    runLoopDecoders(data, size, client);
    return 0;
}
