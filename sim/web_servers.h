// The lab's web servers: port 80 on the server address of each device with
// "http", served from the simulator's own poll loop with non-blocking
// sockets, so no request can hold up the device protocol. One request per
// connection; each connection has a time limit and the number of open
// connections is bounded (beyond it, new ones wait in the listen queue).
#pragma once

#include "device.h"

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qs::sim {

class WebServers {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kMaxConnections = 256;
    static constexpr auto kConnectionTime = std::chrono::seconds(5);

    WebServers() = default;
    ~WebServers();
    WebServers(const WebServers&) = delete;
    WebServers& operator=(const WebServers&) = delete;

    // Listens on port 80 for each device with "http". A device whose port
    // cannot be bound has no web pages: said on stderr (once for all when
    // the reason is missing privileges), and the rest go on.
    void open(const std::vector<Device>& devices, bool verbose);

    // Appends what to poll for; handle() takes the same entries back, after
    // poll(), before the next addPollFds().
    void addPollFds(std::vector<pollfd>& fds);
    void handle(std::span<const pollfd> fds, const std::vector<Device>& devices);

    // The earliest connection deadline; expire() closes the connections
    // that have reached theirs.
    std::optional<Clock::time_point> nextDeadline() const;
    void expire(Clock::time_point now);

    std::size_t listening() const { return listeners_.size(); }

private:
    struct Listener {
        int fd = -1;
        std::size_t device = 0;
    };
    enum class Phase { Reading, Writing, Draining };
    struct Connection {
        int fd = -1;
        std::size_t device = 0;
        Phase phase = Phase::Reading;
        std::string received;
        std::string reply;
        std::size_t sent = 0;
        std::size_t drained = 0;
        Clock::time_point deadline;
    };

    void acceptFrom(const Listener& l);
    // Each returns false when the connection is done with.
    bool readRequest(Connection& c, const std::vector<Device>& devices);
    bool writeReply(Connection& c);
    bool drain(Connection& c);
    void startReply(Connection& c, std::string reply);

    std::vector<Listener> listeners_;
    std::vector<Connection> connections_;
    bool polledListeners_ = false;
    std::size_t polledConnections_ = 0;
};

}  // namespace qs::sim
