// The lab's file shares: one private Samba smbd per device that asks for
// shares, listening on port 445 of the device's server address.
//
// Each server lives in a temporary directory of its own (config, users,
// state, logs and one directory per share) and runs as root in the
// foreground, in a process group of its own, with that directory's logs
// mounted over Samba's log directory for it alone. Its users exist only in
// a passwd and group file of that directory, read through nss_wrapper; the
// device's user (normally "admin") gets the device's password and owns the
// shares. Everything is stopped and removed when the simulator ends; the
// simulator is made the reaper of orphans so nothing a server started can
// slip away.
#pragma once

#include "config.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace qs::sim {

class FileServers {
public:
    FileServers() = default;
    ~FileServers() { stop(); }
    FileServers(const FileServers&) = delete;
    FileServers& operator=(const FileServers&) = delete;

    // Starts a server for each device with "smb" and waits until each
    // accepts connections (or has failed; failures are reported on stderr
    // and the lab goes on without those shares). Without root or without
    // Samba nothing starts, which is said once. False when a SIGINT or
    // SIGTERM arrived on `signalFd` meanwhile: the caller should end.
    bool start(const std::vector<const DeviceConfig*>& devices, bool verbose, int signalFd);

    // Collects ended children; a server that ended on its own is reported
    // with the end of its log. Returns the status of `watched` when it was
    // among them.
    std::optional<int> reap(pid_t watched = -1);

    // Lets go of the servers without stopping them: for a process that no
    // longer owns them (the part of the simulator that gave up root).
    void forget() { servers_.clear(); }

    // Stops every server (SIGTERM, SIGKILL after 3 s) and whatever they
    // started, and removes their directories.
    void stop();

private:
    struct Server {
        std::string host;
        std::string address;
        std::string dir;
        std::string conf;
        std::string log;
        std::vector<std::string> shares;
        pid_t pid = -1;
        bool listening = false;
    };

    bool prepare(Server& s, const DeviceConfig& d, const std::vector<std::string>& env);
    void reportEnd(const Server& s, int status) const;
    bool waitUntilListening(int signalFd);

    std::vector<Server> servers_;
    std::string smbd_;
    std::string smbpasswd_;
    bool stopping_ = false;
};

}  // namespace qs::sim
