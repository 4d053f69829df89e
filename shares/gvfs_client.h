// SMB shares through GVfs: mount a share (credentials answered from what
// the caller gives, guest or anonymous otherwise), find its local (FUSE)
// path, unmount it, list what is mounted. Every call blocks its caller
// until GVfs has answered or the time limit has passed; the GIO work runs
// on a private main context, so the caller's own event loop does not run
// meanwhile. One client serves one thread at a time; clients on different
// threads work side by side. The header stays free of GIO's (whose names clash with Qt's
// macros).
#pragma once

#include "smb_address.h"

#include <memory>
#include <string>
#include <vector>

namespace qs::shares {

enum class MountStatus {
    Ok,               // mounted (or already mounted) and its local path answers
    TimedOut,
    PasswordRefused,  // the server asked again or refused the given password
    AccessDenied,
    Cancelled,
    BadName,          // no such share
    BadPath,          // no such server, or it cannot be reached
    NotSupported,
    NoLocalPath,      // mounted, but not reachable as a local path (no FUSE)
    Failed,
};

struct SmbMount {
    std::string uri;   // the mount's root, "smb://[user@]host/share/"
    std::string user;  // from the root, empty when it names none
    std::string host;
    std::string share;
    std::string path;  // local path; empty without FUSE
};

// Takes the password that mounts with `keepPassword` left with GVfs in the
// desktop's keyring for `user` ("DOMAIN\user" names the domain too) on the
// server `host` out of it again. True when the keyring holds none for them
// afterwards; false when there is no keyring to ask or it refused.
bool forgetKeptPassword(const std::string& host, const std::string& user);

class GvfsClient {
public:
    GvfsClient();
    ~GvfsClient();
    GvfsClient(const GvfsClient&) = delete;
    GvfsClient& operator=(const GvfsClient&) = delete;

    // Mounts the share `uri` names. A null `user` logs in as a guest (or
    // anonymously); "DOMAIN\user" names the domain too; a null `password`
    // with a user refuses the password question (GVfs answers it from the
    // desktop's keyring first, when that knows the share). With
    // `keepPassword` GVfs keeps the given password in that keyring, when
    // there is one, for the next mount; it never reaches a file or a
    // command line of this program's. `path` receives the local path;
    // `mountedHere` tells whether this call mounted it.
    MountStatus mount(const std::string& uri, const char* user, const char* password, int timeoutMs,
                      std::string& path, bool& mountedHere, bool keepPassword = false);
    // Unmounts what holds `uri`; true when it is not mounted afterwards.
    // `busy` tells that files were open.
    bool unmount(const std::string& uri, bool force, int timeoutMs, bool* busy = nullptr);
    // The local path of the mount holding `uri`, or empty.
    std::string mountedPath(const std::string& uri);
    // The SMB mount a local path lies in (a path under GVfs's FUSE view),
    // or nothing.
    bool mountOfPath(const std::string& path, SmbMount& mount);
    // Ends the mount or unmount in progress as cancelled, and every later
    // one at once; callable from any thread.
    void cancel();

private:
    struct Gio;
    std::unique_ptr<Gio> gio_;
};

}  // namespace qs::shares
