// A scripted BlockingLink on a simulated clock: each interface, and the
// direct socket, has a queue of datagrams, each arriving at a set time (at
// once unless queued with queueAt) from a sender (defaultFrom unless given);
// a poll returns the next one that has arrived by the end of its timeout,
// or waits the timeout out on the simulated clock. Sending on several
// interfaces together costs one drain.
#pragma once

#include "quayside/socket_transport.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace qs::test {

class FakeLink : public BlockingLink {
public:
    explicit FakeLink(int interfaces) : queues_(static_cast<std::size_t>(interfaces)) {}

    std::chrono::milliseconds drainTime{0};  // the drain reads what is queued, without waiting
    std::chrono::microseconds datagramTime{20};  // simulated cost of one read
    std::vector<std::pair<int, Bytes>> sent;
    int polls = 0;
    // Called on every send; may queue replies.
    std::function<void(int iface, const Bytes& request)> onSend;
    // Called on every poll with an empty queue; may queue more (a flood).
    std::function<void(int iface)> onEmpty;

    // The sender of datagrams queued without one (host byte order).
    std::uint32_t defaultFrom = 0;
    void queue(int iface, Bytes datagram) { queueAt(iface, now_, std::move(datagram)); }
    void queueAt(int iface, Clock::time_point at, Bytes datagram) {
        queues_.at(static_cast<std::size_t>(iface)).push_back(Timed{at, std::move(datagram), defaultFrom, true});
    }
    // A datagram on interface iface (sent to the group), or on the direct
    // socket (iface -1), from `from`.
    void queueFrom(int iface, std::uint32_t from, Bytes datagram) {
        (iface < 0 ? direct_ : queues_.at(static_cast<std::size_t>(iface)))
            .push_back(Timed{now_, std::move(datagram), from, iface >= 0});
    }
    // The same, arriving `after` from now.
    void queueFromAfter(int iface, std::uint32_t from, std::chrono::milliseconds after, Bytes datagram) {
        auto& q = iface < 0 ? direct_ : queues_.at(static_cast<std::size_t>(iface));
        Timed t{now_ + after, std::move(datagram), from, iface >= 0};
        q.insert(std::upper_bound(q.begin(), q.end(), t, [](const Timed& a, const Timed& b) { return a.at < b.at; }),
                 std::move(t));
    }
    // A datagram sent by unicast to this host at the device port: heard on
    // interface iface's socket.
    void queueUnicastFrom(int iface, std::uint32_t from, Bytes datagram) {
        queues_.at(static_cast<std::size_t>(iface)).push_back(Timed{now_, std::move(datagram), from, false});
    }
    // Queues a datagram arriving `after` from now.
    void queueAfter(int iface, std::chrono::milliseconds after, Bytes datagram) {
        queueAt(iface, now_ + after, std::move(datagram));
    }
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
    void sendRequests(std::span<const int> interfaces, ByteView request) override {
        now_ += drainTime;
        for (const int i : interfaces) {
            sent.emplace_back(i, Bytes(request.begin(), request.end()));
            if (onSend) onSend(i, sent.back().second);
        }
    }
    // Repeats cost no drain and are kept apart from the first sendings,
    // with their own hook.
    std::vector<std::pair<int, Bytes>> repeated;
    std::function<void(int iface, const Bytes& request)> onRepeat;
    void repeatRequests(std::span<const int> interfaces, ByteView request) override {
        for (const int i : interfaces) {
            repeated.emplace_back(i, Bytes(request.begin(), request.end()));
            if (onRepeat) onRepeat(i, repeated.back().second);
        }
    }
    // Requests sent by unicast, with their destination; the first of each
    // exchange costs a drain.
    std::vector<std::pair<std::uint32_t, Bytes>> unicast;
    std::function<void(std::uint32_t address, const Bytes& request)> onUnicast;
    void sendDirect(std::uint32_t address, ByteView request) override {
        unicast.emplace_back(address, Bytes(request.begin(), request.end()));
        if (onUnicast) onUnicast(address, unicast.back().second);
    }
    void sendDirectRequest(int, std::uint32_t address, ByteView request) override {
        now_ += drainTime;
        sendDirect(address, request);
    }
    std::optional<Arrival> pollWithDirect(std::span<const int> interfaces, bool direct, std::chrono::milliseconds timeout,
                                          std::span<std::uint8_t> buffer) override {
        return pollQueues(interfaces, direct, timeout, buffer);
    }
    std::optional<std::size_t> poll(int i, std::chrono::milliseconds timeout, std::span<std::uint8_t> buffer) override {
        const int one[] = {i};
        const auto a = pollAny(one, timeout, buffer);
        if (!a) return std::nullopt;
        return a->length;
    }
    std::optional<Arrival> pollAny(std::span<const int> interfaces, std::chrono::milliseconds timeout,
                                   std::span<std::uint8_t> buffer) override {
        return pollQueues(interfaces, false, timeout, buffer);
    }

private:
    struct Timed {
        Clock::time_point at;
        Bytes bytes;
        std::uint32_t from = 0;
        bool toGroup = false;
    };
    std::optional<Arrival> pollQueues(std::span<const int> interfaces, bool direct, std::chrono::milliseconds timeout,
                                      std::span<std::uint8_t> buffer) {
        ++polls;
        for (const int i : interfaces)
            if (queues_.at(static_cast<std::size_t>(i)).empty() && onEmpty) onEmpty(i);
        // The earliest arrival among the interfaces; the first of them on a tie.
        std::deque<Timed>* from = nullptr;
        int which = -1;
        for (const int i : interfaces) {
            auto& q = queues_.at(static_cast<std::size_t>(i));
            if (!q.empty() && (!from || q.front().at < from->front().at)) {
                from = &q;
                which = i;
            }
        }
        if (direct && !direct_.empty() && (!from || direct_.front().at < from->front().at)) {
            from = &direct_;
            which = -1;
        }
        if (!from || from->front().at > now_ + timeout) {
            now_ += timeout;
            return std::nullopt;
        }
        Timed d = std::move(from->front());
        from->pop_front();
        now_ = std::max(now_, d.at) + datagramTime;
        const std::size_t n = std::min(d.bytes.size(), buffer.size());
        std::copy_n(d.bytes.begin(), n, buffer.begin());
        Arrival a{which, n, which < 0, d.from};
        a.toGroup = d.toGroup;
        return a;
    }

    std::vector<std::deque<Timed>> queues_;
    std::deque<Timed> direct_;
    Clock::time_point start_{};
    Clock::time_point now_{};
};

}  // namespace qs::test
