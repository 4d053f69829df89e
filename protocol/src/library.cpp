#include "quayside/library.h"

#include <array>

namespace qs {

Bytes buildSearchRequest(const Uuid8& clientUUID) {
    ByteWriter w = startRequest(op_SEARCH, clientUUID, Uuid8{});
    return finishRequest(w);
}

DeviceLibrary::DeviceLibrary(std::unique_ptr<BlockingLink> link, const Uuid8& clientUUID)
    : link_(std::move(link)), clientUUID_(clientUUID) {}

bool DeviceLibrary::SearchDevices(const SearchProgress& progress) {
    devices.ClearDeviceList();
    stats_ = {};
    if (!link_) return false;
    const Bytes request = buildSearchRequest(clientUUID_);
    std::array<std::uint8_t, kBlockingBufferSize> buffer{};
    for (int i = 0; i < link_->interfaceCount(); ++i) {
        const std::string address = link_->interfaceAddress(i);
        if (progress) progress(i, address, devices.count());
        link_->sendRequest(i, request);
        const auto start = link_->now();
        int tally = 0;
        while (tally < searchTuning.tallyLimit) {
            if (link_->now() - start >= searchTuning.listenBound) {
                ++stats_.boundHits;
                break;
            }
            const auto n = link_->poll(i, searchTuning.pollWait, buffer);
            if (!n) {
                ++tally;
                ++stats_.emptyWaits;
                continue;
            }
            const ByteView datagram(buffer.data(), *n);
            if (checkReply(datagram, op_SEARCH, clientUUID_) != ReplyCheck::Accepted) {
                ++stats_.rejected;
                continue;
            }
            if (!replyIsSupportedModel(datagram)) {
                ++stats_.unsupported;
                ++tally;
                continue;
            }
            const auto header = readHeader(datagram);
            if (devices.FindDevice(header->serverUUID)) {
                ++stats_.duplicates;
                continue;
            }
            DeviceData_n& rec = devices.append();
            fillDeviceFromReply(rec, datagram);
            rec.localIfIndex = i;
            ++stats_.accepted;
            if (progress && stats_.accepted % 16 == 0) progress(i, address, devices.count());
        }
        if (progress) progress(i, address, devices.count());
    }
    return true;
}

DeviceLibrary& processLibrary() {
    static DeviceLibrary library;
    return library;
}

bool OpenSockets(const TransportOptions& options, std::string* error) {
    auto transport = std::make_unique<SocketTransport>();
    if (!transport->OpenSockets(options, error)) return false;
    DeviceLibrary& lib = processLibrary();
    lib.setClientUUID(makeClientId());
    lib.setLink(std::move(transport));
    return true;
}

void CloseSockets() { processLibrary().setLink(nullptr); }
bool SearchDevices(const SearchProgress& progress) { return processLibrary().SearchDevices(progress); }
void ClearDeviceList() { processLibrary().devices.ClearDeviceList(); }
DeviceData_n* FindDevice(const Uuid8& serverUUID) { return processLibrary().devices.FindDevice(serverUUID); }
int FindDeviceInterface(const Uuid8& serverUUID) { return processLibrary().devices.FindDeviceInterface(serverUUID); }
void ClearShareList() { processLibrary().shares.ClearShareList(); }
int SummarizeLanPorts() { return processLibrary().SummarizeLanPorts(); }

}  // namespace qs
