// Mounting volumes on a Linux desktop. Scripts run on the interpreter of
// script_host.h with GVfs behind it:
//   - "mount volume smb://[USER[:PASSWORD]@]HOST/SHARE" (every part
//     percent-encoded, shares/smb_address.h) mounts the share
//     through GVfs (as a guest when no user is given) and names it in the
//     user's volumes folder (~/Volumes): a link SHARE (SHARE-1, SHARE-2, ...
//     when the name is taken) to the mount's local (FUSE) folder;
//   - a "disk" is such a link to a live mount, known by the link's name;
//     "eject" unmounts it and removes the link;
//   - "/tmp/..." markers live in a folder of this user's own (under
//     XDG_RUNTIME_DIR), "/Volumes/..." is the volumes folder; no other path
//     is touched;
//   - the "mount" command lists the linked mounts as
//     "//USER@HOST/SHARE on <volumes folder>/NAME (smbfs, nodev, nosuid, mounted by LOGIN)",
//     with user, host and share as the mount asked for them, each
//     percent-encoded as in the address (NAME is the share's real name).
#pragma once

#include "gvfs_client.h"
#include "mount_platform.h"
#include "script_host.h"

#include <map>
#include <string>

namespace qs::mac {

class GvfsMountPlatform final : public MountPlatform, public ScriptHost {
public:
    struct Places {
        std::string markers;  // stands for /tmp
        std::string volumes;  // stands for /Volumes
    };
    // From the environment at the time of the call.
    static Places defaultPlaces();

    explicit GvfsMountPlatform(Places places = defaultPlaces());

    // MountPlatform
    void runScriptText(const std::string& text) override;
    std::string loginName() override;
    std::optional<std::vector<std::string>> mountOutput() override;
    bool fileReadable(const std::string& path) override;

    // ScriptHost
    bool diskExists(const std::string& name) override;
    bool eject(const std::string& name) override;
    bool mountVolume(const std::string& url) override;
    bool runCommand(const std::vector<std::string>& argv) override;
    std::string mapPath(std::string_view path) override;

    const Places& places() const { return places_; }
    // The result of the last script, for the log and tests.
    const ScriptResult& lastScript() const { return last_; }
    // How long one mount or unmount may take.
    int timeoutMs = 60000;

private:
    bool mountShare(const std::string& host, const std::string& share, const char* user, const char* password,
                    std::string& path);
    bool linkVolume(const std::string& share, const std::string& target, const std::string* linkPath);
    std::string liveTarget(const std::string& name, shares::SmbMount* mount);
    bool ensureDirectory(const std::string& dir);
    // What each mount was asked for (user, host and share as given; GVfs
    // keeps the share in lower case and no user), by local path, kept
    // beside the markers for as long as the session's mounts live; each
    // field percent-encoded, as the mount list shows it.
    struct Asked {
        std::string user, host, share;
    };
    static Asked listed(const std::string& user, const std::string& host, const std::string& share);
    void remember(const std::string& path, const Asked& asked);
    std::map<std::string, Asked> remembered();

    Places places_;
    shares::GvfsClient gvfs_;
    ScriptResult last_;
};

}  // namespace qs::mac
