// A scripted BlockingLink on a simulated clock: each interface has a queue
// of datagrams; a poll returns the next one at once or, when the queue is
// empty, waits out its timeout on the simulated clock.
#pragma once

#include "quayside/transport.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace qs::test {

class FakeLink : public BlockingLink {
public:
    explicit FakeLink(int interfaces) : queues_(static_cast<std::size_t>(interfaces)) {}

    std::chrono::milliseconds drainTime{1000};
    std::chrono::microseconds datagramTime{20};  // simulated cost of one read
    std::vector<std::pair<int, Bytes>> sent;
    int polls = 0;
    // Called on every send; may queue replies.
    std::function<void(int iface, const Bytes& request)> onSend;
    // Called on every poll with an empty queue; may queue more (a flood).
    std::function<void(int iface)> onEmpty;

    void queue(int iface, Bytes datagram) { queues_.at(static_cast<std::size_t>(iface)).push_back(std::move(datagram)); }
    Clock::time_point now() const override { return now_; }
    void sleepFor(std::chrono::milliseconds d) override { now_ += d; }
    std::chrono::milliseconds elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - start_);
    }

    int interfaceCount() const override { return static_cast<int>(queues_.size()); }
    std::string interfaceAddress(int i) const override { return "10.0." + std::to_string(i) + ".1"; }
    void sendRequest(int i, ByteView request) override {
        now_ += drainTime;
        sent.emplace_back(i, Bytes(request.begin(), request.end()));
        if (onSend) onSend(i, sent.back().second);
    }
    std::optional<std::size_t> poll(int i, std::chrono::milliseconds timeout, std::span<std::uint8_t> buffer) override {
        ++polls;
        auto& q = queues_.at(static_cast<std::size_t>(i));
        if (q.empty() && onEmpty) onEmpty(i);
        if (q.empty()) {
            now_ += timeout;
            return std::nullopt;
        }
        Bytes d = std::move(q.front());
        q.pop_front();
        now_ += datagramTime;
        const std::size_t n = std::min(d.size(), buffer.size());
        std::copy_n(d.begin(), n, buffer.begin());
        return n;
    }

private:
    std::vector<std::deque<Bytes>> queues_;
    Clock::time_point start_{};
    Clock::time_point now_{};
};

}  // namespace qs::test
