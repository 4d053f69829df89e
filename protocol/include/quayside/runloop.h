// A small run-loop interface: watch descriptors for reading, one-shot and
// repeating timers, run and stop. PollRunLoop implements it over poll();
// a GUI program can implement it over its own event loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace qs {

class RunLoop {
public:
    using Callback = std::function<void()>;
    using Handle = std::uint64_t;  // 0 is never a valid handle
    using Clock = std::chrono::steady_clock;

    virtual ~RunLoop() = default;
    virtual Handle watchReadable(int fd, Callback onReadable) = 0;
    virtual void unwatch(Handle watch) = 0;
    virtual Handle startTimer(std::chrono::milliseconds interval, bool repeating, Callback onFire) = 0;
    virtual void cancelTimer(Handle timer) = 0;
    virtual void run() = 0;
    virtual void stop() = 0;
    // The clock its timers run on.
    virtual Clock::time_point now() const { return Clock::now(); }
};

class PollRunLoop final : public RunLoop {
public:

    Handle watchReadable(int fd, Callback onReadable) override;
    void unwatch(Handle watch) override;
    Handle startTimer(std::chrono::milliseconds interval, bool repeating, Callback onFire) override;
    void cancelTimer(Handle timer) override;
    void run() override;
    void stop() override { stopped_ = true; }

    // Runs until stop() or until `limit` has passed; returns true when
    // stopped, false when the time ran out.
    bool runFor(std::chrono::milliseconds limit);
    // One pass: waits at most `wait` and dispatches what is ready.
    void runOnce(std::chrono::milliseconds wait);

private:
    struct Watch {
        int fd;
        Callback onReadable;
    };
    struct Timer {
        Clock::time_point due;
        std::chrono::milliseconds interval;
        bool repeating;
        Callback onFire;
    };
    Handle next_ = 1;
    std::map<Handle, Watch> watches_;
    std::map<Handle, Timer> timers_;
    bool stopped_ = false;
};

}  // namespace qs
