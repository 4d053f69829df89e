#include "run_loop_session.h"

#include "cli_format.h"

#include <algorithm>
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
                            bool multicast, const std::vector<std::uint32_t>& remembered) {
    engine_->serverArray().clear();
    if (multicast) engine_->sendPackage(op_SEARCH, nullptr);
    std::vector<std::uint32_t> asked = hosts;
    for (const std::uint32_t a : remembered)
        if (std::find(asked.begin(), asked.end(), a) == asked.end()) asked.push_back(a);
    const auto sweep = engine_->searchAddresses(std::move(asked));
    // The remembered addresses hold the search open no longer than it is.
    const bool held = !hosts.empty() || !multicast;
    loop_.runFor(held ? std::max(listen, sweep + std::chrono::milliseconds(1000)) : listen);
    sayWhenFull(engine_->registry.refusedAsFull());
    std::vector<DeviceData_n*> found;
    for (const auto& d : engine_->serverArray()) found.push_back(d.get());
    fillHardwareAddresses(found, readNeighbourTable().value_or(std::vector<Neighbour>{}));
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
