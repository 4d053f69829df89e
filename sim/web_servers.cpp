#include "web_servers.h"

#include "web.h"

#include "quayside/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qs::sim {

namespace {

constexpr std::uint16_t kHttpPort = 80;
constexpr int kListenBacklog = 128;
constexpr int kAcceptsPerWakeup = 64;
// After the reply the client's leftovers are read and dropped (closing on
// unread data would reset the connection and could lose the reply), for a
// short while and up to a bound.
constexpr auto kDrainTime = std::chrono::seconds(1);
constexpr std::size_t kMaxDrained = 64 * 1024;

bool wouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

}  // namespace

WebServers::~WebServers() {
    for (const Listener& l : listeners_) ::close(l.fd);
    for (const Connection& c : connections_) ::close(c.fd);
}

void WebServers::open(const std::vector<Device>& devices, bool verbose) {
    std::vector<std::string> unprivileged;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const DeviceConfig& d = devices[i].state();
        if (!d.http) continue;
        const std::string address = d.serverAddress();
        const sockaddr_in at = qs::socketAddressOf(qs::Ipv4::parse(address).value_or(qs::Ipv4{}), kHttpPort);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1;
        const bool ok = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
                        ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0 &&
                        ::listen(fd, kListenBacklog) == 0;
        if (ok) {
            listeners_.push_back({fd, i});
            if (verbose)
                std::fprintf(stderr, "vsb-sim: web pages of %s on http://%s/\n", d.hostname.c_str(), address.c_str());
            continue;
        }
        const int err = errno;
        if (fd >= 0) ::close(fd);
        if (err == EACCES || err == EPERM) {
            unprivileged.push_back(d.hostname);
            continue;
        }
        std::fprintf(stderr, "vsb-sim: %s has no web pages: cannot listen on %s:%u: %s\n", d.hostname.c_str(),
                     address.c_str(), static_cast<unsigned>(kHttpPort), std::strerror(err));
    }
    if (!unprivileged.empty()) {
        std::string hosts;
        for (const std::string& h : unprivileged) hosts += (hosts.empty() ? "" : ", ") + h;
        std::fprintf(stderr, "vsb-sim: note: port %u needs root; %s %s no web pages\n", static_cast<unsigned>(kHttpPort),
                     hosts.c_str(), unprivileged.size() == 1 ? "has" : "have");
    }
}

void WebServers::addPollFds(std::vector<pollfd>& fds) {
    polledListeners_ = connections_.size() < kMaxConnections;
    if (polledListeners_)
        for (const Listener& l : listeners_) fds.push_back({l.fd, POLLIN, 0});
    for (const Connection& c : connections_)
        fds.push_back({c.fd, static_cast<short>(c.phase == Phase::Writing ? POLLOUT : POLLIN), 0});
    polledConnections_ = connections_.size();
}

void WebServers::handle(std::span<const pollfd> fds, const std::vector<Device>& devices) {
    std::size_t at = 0;
    std::vector<const Listener*> ready;
    if (polledListeners_) {
        for (const Listener& l : listeners_)
            if (at < fds.size() && (fds[at++].revents & POLLIN)) ready.push_back(&l);
    }
    for (std::size_t i = 0; i < polledConnections_ && at < fds.size(); ++i, ++at) {
        if (fds[at].revents == 0) continue;
        Connection& c = connections_[i];
        bool open = true;
        switch (c.phase) {
            case Phase::Reading: open = readRequest(c, devices); break;
            case Phase::Writing: open = writeReply(c); break;
            case Phase::Draining: open = drain(c); break;
        }
        if (!open) {
            ::close(c.fd);
            c.fd = -1;
        }
    }
    std::erase_if(connections_, [](const Connection& c) { return c.fd < 0; });
    for (const Listener* l : ready) acceptFrom(*l);
}

void WebServers::acceptFrom(const Listener& l) {
    for (int n = 0; n < kAcceptsPerWakeup && connections_.size() < kMaxConnections; ++n) {
        const int fd = ::accept4(l.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (!wouldBlock(errno))
                std::fprintf(stderr, "vsb-sim: accept on port %u: %s\n", static_cast<unsigned>(kHttpPort),
                             std::strerror(errno));
            return;
        }
        Connection c;
        c.fd = fd;
        c.device = l.device;
        c.deadline = Clock::now() + kConnectionTime;
        connections_.push_back(std::move(c));
    }
}

bool WebServers::readRequest(Connection& c, const std::vector<Device>& devices) {
    char buffer[4096];
    bool ended = false;
    while (c.received.size() < kMaxWebRequest) {
        const std::size_t room = std::min(sizeof buffer, kMaxWebRequest - c.received.size());
        const ssize_t n = ::recv(c.fd, buffer, room, 0);
        if (n > 0) {
            c.received.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            ended = true;
            break;
        }
        if (errno == EINTR) continue;
        if (wouldBlock(errno)) break;
        return false;
    }
    std::optional<std::string> reply = webResponse(c.received, devices[c.device].state());
    if (!reply && !ended) return true;
    if (!reply && c.received.empty()) return false;  // connected and left
    startReply(c, reply ? std::move(*reply) : webBadRequestResponse());
    return writeReply(c);
}

void WebServers::startReply(Connection& c, std::string reply) {
    c.reply = std::move(reply);
    c.sent = 0;
    c.phase = Phase::Writing;
}

bool WebServers::writeReply(Connection& c) {
    while (c.sent < c.reply.size()) {
        const ssize_t n = ::send(c.fd, c.reply.data() + c.sent, c.reply.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) {
            c.sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && wouldBlock(errno);
    }
    ::shutdown(c.fd, SHUT_WR);
    c.phase = Phase::Draining;
    c.deadline = std::min(c.deadline, Clock::now() + kDrainTime);
    return drain(c);
}

bool WebServers::drain(Connection& c) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            c.drained += static_cast<std::size_t>(n);
            if (c.drained > kMaxDrained) return false;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && wouldBlock(errno);
    }
}

std::optional<WebServers::Clock::time_point> WebServers::nextDeadline() const {
    std::optional<Clock::time_point> first;
    for (const Connection& c : connections_)
        if (!first || c.deadline < *first) first = c.deadline;
    return first;
}

void WebServers::expire(Clock::time_point now) {
    for (Connection& c : connections_) {
        if (c.deadline > now) continue;
        if (c.phase == Phase::Reading && !c.received.empty()) {
            const std::string late = webTimeoutResponse();
            (void)!::send(c.fd, late.data(), late.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        ::close(c.fd);
        c.fd = -1;
    }
    std::erase_if(connections_, [](const Connection& c) { return c.fd < 0; });
}

}  // namespace qs::sim
