// The run-loop engine driven from the command line: a poll() run loop, the
// engine, and a receiver that records its callbacks so commands can wait
// for them.
#pragma once

#include "quayside/packager.h"
#include "quayside/runloop.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qs::cli {

class RunLoopSession final : public PackagerReceiver {
public:
    // With `verbose` the engine's log lines go to stderr instead of syslog.
    RunLoopSession(bool loopbackLab, bool verbose = false);

    // False (with the reason) when the engine's sockets could not be made.
    bool ok(std::string* why) const;

    // Sends a search (to the group unless `multicast` is off, and by
    // unicast to `hosts` and `remembered`) and collects answers for
    // `listen`, or until the requests to `hosts` have gone out and a second
    // more has passed. Then gives the devices their hardware addresses.
    void search(std::chrono::milliseconds listen, const std::vector<std::uint32_t>& hosts = {},
                bool multicast = true, const std::vector<std::uint32_t>& remembered = {});
    // Runs the loop until `done` holds or `limit` passes; true when it held.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

    Packager& engine() { return *engine_; }

    // What the commands set before a password check.
    std::shared_ptr<DeviceData_n> target;
    CalledAction action = CalledAction::ListVolumes;

    // What the callbacks reported.
    enum class Auth { Pending, Accepted, Refused };
    Auth auth = Auth::Pending;
    bool volumesLoaded = false;
    bool settingsAnswered = false;

    // PackagerReceiver
    void reloadTable(RunLoopTable table) override;
    void checkAuthFail() override;
    void setIPFinish() override;
    void setBtnApply(bool) override {}
    CalledAction calledAction() override { return action; }
    std::shared_ptr<DeviceData_n> tmpDeviceData() override { return target; }
    void passwordAccepted() override;

private:
    PollRunLoop loop_;
    std::string failure_;
    std::unique_ptr<Packager> engine_;
};

}  // namespace qs::cli
