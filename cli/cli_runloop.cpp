#include "cli_runloop.h"

#include "cli_format.h"

#include <iostream>

namespace qs::cli {

namespace {
class StderrLog final : public SystemLog {
public:
    void log(const std::string& line) override { std::cerr << "quayside: " << escapeText(line) << "\n"; }
};
}  // namespace

RunLoopSession::RunLoopSession(bool loopbackLab, bool verbose) {
    Packager::Options options;
    options.net.loopbackLab = loopbackLab;
    if (verbose)
        options.net.log = std::make_shared<StderrLog>();
    else
        // An interface left out of the search (a group not joined there) is
        // said even without --verbose; with it, the log line says it already.
        options.net.onWarning = [](const std::string& line) { std::cerr << "quayside: " << escapeText(line) << "\n"; };
    options.net.onSocketFailure = [this](const std::string& why) { failure_ = why; };
    engine_ = std::make_unique<Packager>(loop_, kDevicePort, kRunLoopGroup, this, std::move(options));
}

bool RunLoopSession::ok(std::string* why) const {
    if (engine_->ok()) return true;
    if (why) *why = failure_.empty() ? "the run-loop sockets could not be opened" : failure_;
    return false;
}

void RunLoopSession::search(std::chrono::milliseconds listen, const std::vector<std::uint32_t>& hosts,
                            bool multicast) {
    engine_->serverArray().clear();
    if (multicast) engine_->sendPackage(op_SEARCH, nullptr);
    const auto sweep = engine_->searchAddresses(hosts);
    loop_.runFor(hosts.empty() ? listen : std::max(listen, sweep + std::chrono::milliseconds(1000)));
    sayWhenFull(engine_->registry.refusedAsFull());
}

bool RunLoopSession::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = PollRunLoop::Clock::now() + limit;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - PollRunLoop::Clock::now());
        if (left.count() <= 0) return false;
        loop_.runOnce(std::min(left, std::chrono::milliseconds(50)));
    }
    return true;
}

void RunLoopSession::reloadTable(RunLoopTable table) {
    if (table == RunLoopTable::Volumes) volumesLoaded = true;
}

void RunLoopSession::checkAuthFail() { auth = Auth::Refused; }
void RunLoopSession::setIPFinish() { settingsAnswered = true; }
void RunLoopSession::passwordAccepted() { auth = Auth::Accepted; }

}  // namespace qs::cli
