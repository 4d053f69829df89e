#include "qt_runloop.h"

#include <QSocketNotifier>
#include <QTimer>

namespace qs::mac {

void QtRunLoop::Dropper::operator()(QObject* object) const {
    if (auto* notifier = qobject_cast<QSocketNotifier*>(object)) notifier->setEnabled(false);
    if (auto* timer = qobject_cast<QTimer*>(object)) timer->stop();
    object->disconnect();
    object->deleteLater();
}

QtRunLoop::QtRunLoop() = default;

QtRunLoop::~QtRunLoop() {
    notifiers_.clear();
    timers_.clear();
}

RunLoop::Handle QtRunLoop::watchReadable(int fd, Callback onReadable) {
    const Handle handle = next_++;
    std::unique_ptr<QSocketNotifier, Dropper> notifier(new QSocketNotifier(fd, QSocketNotifier::Read));
    QObject::connect(notifier.get(), &QSocketNotifier::activated, this,
                     [callback = std::move(onReadable)] { callback(); });
    notifiers_.emplace(handle, std::move(notifier));
    return handle;
}

void QtRunLoop::unwatch(Handle watch) { notifiers_.erase(watch); }

RunLoop::Handle QtRunLoop::startTimer(std::chrono::milliseconds interval, bool repeating, Callback onFire) {
    const Handle handle = next_++;
    std::unique_ptr<QTimer, Dropper> timer(new QTimer);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!repeating);
    timer->setInterval(interval);
    QObject::connect(timer.get(), &QTimer::timeout, this, [this, handle, repeating, callback = std::move(onFire)] {
        if (repeating) {
            callback();
            return;
        }
        // A one-shot timer is gone once it has fired; keep the callback
        // alive for this call only.
        const Callback once = callback;
        timers_.erase(handle);
        once();
    });
    timer->start();
    timers_.emplace(handle, std::move(timer));
    return handle;
}

void QtRunLoop::cancelTimer(Handle timer) { timers_.erase(timer); }

void QtRunLoop::run() { loop_.exec(); }

void QtRunLoop::stop() { loop_.quit(); }

}  // namespace qs::mac
