// The protocol library's run loop on Qt's event loop: descriptors are
// watched with socket notifiers and timers are QTimers, so the engine's
// callbacks run on the GUI thread between widget events.
#pragma once

#include "quayside/runloop.h"

#include <QEventLoop>
#include <QObject>
#include <map>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace qs::mac {

class QtRunLoop final : public QObject, public RunLoop {
public:
    QtRunLoop();
    ~QtRunLoop() override;

    Handle watchReadable(int fd, Callback onReadable) override;
    void unwatch(Handle watch) override;
    Handle startTimer(std::chrono::milliseconds interval, bool repeating, Callback onFire) override;
    void cancelTimer(Handle timer) override;
    // Runs a local event loop until stop().
    void run() override;
    void stop() override;

    std::size_t watchCount() const { return notifiers_.size(); }
    std::size_t timerCount() const { return timers_.size(); }

private:
    // Objects are dropped with deleteLater: a callback may cancel its own
    // timer or watch while Qt is still inside that object's signal.
    struct Dropper {
        void operator()(QObject* object) const;
    };
    Handle next_ = 1;
    std::map<Handle, std::unique_ptr<QSocketNotifier, Dropper>> notifiers_;
    std::map<Handle, std::unique_ptr<QTimer, Dropper>> timers_;
    QEventLoop loop_;
};

}  // namespace qs::mac
