// A private SMB server and GVfs session for programs that map drive letters
// through GVfs: a private smbd on 127.0.0.9:445 (users from nss_wrapper, all
// its state in a temporary directory) and a private session bus with its own
// gvfsd, runtime and home directories. The bus starts GVfs's services and
// nothing else: no secret service until startKeyring() adds one (a private
// gnome-keyring-daemon, unlocked). Needs root, smbd, smbclient, gvfsd
// with its smb and FUSE parts, dbus-daemon and /dev/fuse; `skip` tells why
// when anything is missing. stop() ends every process the lab started,
// removes its directory and restores the environment.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace qs::test {

// The lab's server, its one share and its one user's password.
inline constexpr const char* kLabServer = "127.0.0.9";
inline constexpr const char* kLabPassword = "Harbour-7731";
inline constexpr const char* kLabRemote = "\\\\127.0.0.9\\Volume_1";

bool writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);

// The guest shares that Lab::guestShare adds: "Public", and the same folder
// again under a name made of what an smb address uses itself.
inline constexpr const char* kLabGuestShare = "Public";
// (Samba reads "%" and a letter in a share name as a substitution.)
inline constexpr const char* kLabOddShare = "a#b@c%1 e";

struct Lab {
    // Set before start(): shares open to guests (kLabGuestShare and
    // kLabOddShare); and host names that GVfs (and only the lab's session)
    // resolves, name -> address.
    bool guestShare = false;
    // Set before start(): the session only (bus, GVfs, home and runtime
    // directories), no SMB server; needs neither root nor samba.
    bool serverless = false;
    std::vector<std::pair<std::string, std::string>> hosts;

    std::string skip;  // why nothing can run here
    std::string dir;
    std::string marker;
    std::string home, runtime, share, publicShare;
    std::string smbclient;
    pid_t smbd = -1, bus = -1, keyringDaemon = -1;
    std::vector<std::pair<std::string, std::string>> savedEnv;

    void setEnv(const char* name, const std::string& value);
    void unsetEnv(const char* name);

    // Starts the server and the bus and points this process's environment
    // (XDG_RUNTIME_DIR, HOME, DBUS_SESSION_BUS_ADDRESS, ...) at them; sets
    // `skip` instead when that cannot be done here.
    void start();
    // Takes everything down again; safe to call when start() skipped.
    void stop();

    // A secret service on the lab's bus: a gnome-keyring-daemon with a
    // login keyring, unlocked, under the lab's home. Empty when it answers,
    // else why it cannot run. stopKeyring() ends it (the keyring file stays
    // until stop()).
    std::string startKeyring();
    void stopKeyring();

private:
    void startSession();
    bool startServer();
    void startBus(const std::string& dbus);
};

}  // namespace qs::test
