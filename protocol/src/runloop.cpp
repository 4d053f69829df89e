#include "quayside/runloop.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <vector>

namespace qs {

RunLoop::Handle PollRunLoop::watchReadable(int fd, Callback onReadable) {
    const Handle h = next_++;
    watches_[h] = Watch{fd, std::move(onReadable)};
    return h;
}

void PollRunLoop::unwatch(Handle watch) { watches_.erase(watch); }

RunLoop::Handle PollRunLoop::startTimer(std::chrono::milliseconds interval, bool repeating, Callback onFire) {
    const Handle h = next_++;
    timers_[h] = Timer{Clock::now() + interval, interval, repeating, std::move(onFire)};
    return h;
}

void PollRunLoop::cancelTimer(Handle timer) { timers_.erase(timer); }

void PollRunLoop::runOnce(std::chrono::milliseconds wait) {
    auto now = Clock::now();
    for (const auto& [h, t] : timers_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now);
        wait = std::max(std::chrono::milliseconds(0), std::min(wait, left + std::chrono::milliseconds(1)));
    }
    std::vector<pollfd> fds;
    std::vector<Handle> handles;
    for (const auto& [h, w] : watches_) {
        fds.push_back(pollfd{w.fd, POLLIN, 0});
        handles.push_back(h);
    }
    const int r = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
    if (r > 0) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLERR | POLLHUP))) continue;
            // A callback may unwatch others; look each one up afresh.
            auto it = watches_.find(handles[i]);
            if (it == watches_.end()) continue;
            Callback cb = it->second.onReadable;
            cb();
            if (stopped_) return;
        }
    }
    now = Clock::now();
    std::vector<Handle> due;
    for (const auto& [h, t] : timers_)
        if (t.due <= now) due.push_back(h);
    for (Handle h : due) {
        auto it = timers_.find(h);
        if (it == timers_.end()) continue;
        Callback cb = it->second.onFire;
        if (it->second.repeating)
            it->second.due = now + it->second.interval;
        else
            timers_.erase(it);
        cb();
        if (stopped_) return;
    }
}

void PollRunLoop::run() {
    stopped_ = false;
    while (!stopped_) runOnce(std::chrono::milliseconds(1000));
}

bool PollRunLoop::runFor(std::chrono::milliseconds limit) {
    stopped_ = false;
    const auto deadline = Clock::now() + limit;
    while (!stopped_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        runOnce(left);
    }
    return true;
}

}  // namespace qs
