// The protocol library's run loop on Qt's event loop: descriptors, one-shot
// and repeating timers, and callbacks that cancel themselves.
#include "qt_runloop.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace qs::mac;
using namespace std::chrono_literals;

namespace {

TEST(MacQtRunLoop, OneShotTimerFiresOnceAndIsGone) {
    QtRunLoop loop;
    int fired = 0;
    loop.startTimer(20ms, false, [&] { ++fired; });
    EXPECT_EQ(loop.timerCount(), 1u);
    QTest::qWait(120);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST(MacQtRunLoop, RepeatingTimerCancelledFromItsOwnCallback) {
    QtRunLoop loop;
    int fired = 0;
    qs::RunLoop::Handle handle = 0;
    handle = loop.startTimer(10ms, true, [&] {
        if (++fired == 3) loop.cancelTimer(handle);
    });
    QTest::qWait(200);
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST(MacQtRunLoop, CancelledTimerNeverFires) {
    QtRunLoop loop;
    bool fired = false;
    loop.cancelTimer(loop.startTimer(10ms, false, [&] { fired = true; }));
    QTest::qWait(60);
    EXPECT_FALSE(fired);
}

TEST(MacQtRunLoop, ReadableDescriptorAndUnwatchInsideTheCallback) {
    QtRunLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int calls = 0;
    std::string got;
    qs::RunLoop::Handle watch = 0;
    watch = loop.watchReadable(fds[0], [&] {
        char buf[16];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        if (++calls == 2) loop.unwatch(watch);
    });
    ASSERT_EQ(::write(fds[1], "ab", 2), 2);
    QTest::qWait(30);
    ASSERT_EQ(::write(fds[1], "cd", 2), 2);
    QTest::qWait(30);
    ASSERT_EQ(::write(fds[1], "ef", 2), 2);
    QTest::qWait(30);
    EXPECT_EQ(got, "abcd");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(loop.watchCount(), 0u);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(MacQtRunLoop, RunUntilStop) {
    QtRunLoop loop;
    loop.startTimer(20ms, false, [&] { loop.stop(); });
    QElapsedTimer t;
    t.start();
    loop.run();
    EXPECT_GE(t.elapsed(), 15);
    EXPECT_LT(t.elapsed(), 2000);
}

}  // namespace
