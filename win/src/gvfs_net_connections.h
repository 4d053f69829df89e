// Drive letters for SMB shares on a Linux desktop. GVfs mounts the share
// (smb://SERVER/SHARE/ through the GIO client); the letter becomes a
// symbolic link "X:" in "~/Network Drives/" to the mount's local (FUSE)
// path, with a bookmark for the file managers. Every letter, with its share
// and user name (never a password), is written to
// $XDG_STATE_HOME/quayside/drives.json, which every running copy of the
// program shares: it is read again before every change, changed under a
// lock (drives.lock beside it) and replaced whole through a new file, so no
// copy loses the letters of another, and a letter another copy has linked
// is never free. A letter's mount is unmounted only when this program made
// it: a share some other program had mounted before stays mounted.
// Mappings made with CONNECT_UPDATE_PROFILE are remembered there and
// mounted again at the next start;
// GVfs keeps their passwords in the desktop's keyring when it has one, until
// the last remembered letter of that server and user is forgotten. A
// remembered letter that does not come back stays remembered and taken
// (ERROR_CONNECTION_UNAVAIL) until the next mapping of its share. Folders
// this program makes are the user's alone; existing ones keep their modes.
//
// Every call blocks its caller until GVfs has answered or the time limit
// has passed; the GIO work runs on a private main context, so the caller's
// own event loop does not run meanwhile. Only RestoreConnections returns at
// once: the remembered shares are mounted again on worker threads, one per
// share, while the table already names their letters (unavailable until
// they are back).
#pragma once

#include "gvfs_client.h"
#include "net_connections.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qs::win {

// The program's own connections: a GvfsNetConnections.
std::unique_ptr<NetConnections> systemNetConnections();

class GvfsNetConnections final : public NetConnections {
public:
    // Reads the remembered mappings (no GVfs call yet).
    GvfsNetConnections();
    // Cancels the restores still running and waits for their threads.
    ~GvfsNetConnections() override;
    GvfsNetConnections(const GvfsNetConnections&) = delete;
    GvfsNetConnections& operator=(const GvfsNetConnections&) = delete;

    DWORD WNetAddConnection2A(const char* localName, const char* remoteName, const char* password,
                              const char* userName, DWORD flags) override;
    DWORD WNetGetConnectionA(const char* localName, char* remoteName, DWORD* length) override;
    DWORD WNetCancelConnection2A(const char* name, DWORD flags, bool force) override;
    unsigned GetDriveTypeA(const char* rootPathName) override;
    // Mounts the remembered shares again in the background (the keyring
    // may know their passwords; this program never stores one) and renews
    // their links; `restored` is called, on a worker thread, when every
    // one has been tried. A share that does not come back stays remembered.
    void RestoreConnections(std::function<void()> restored) override;

    // How long one mount or unmount may take.
    int timeoutMs = 60000;

    // Where the letters, bookmarks and the remembered table live, from the
    // environment at the time of the call.
    static std::string driveLinkDirectory();  // ~/Network Drives
    static std::string bookmarksFile();       // ~/.config/gtk-3.0/bookmarks
    static std::string tableFile();           // ~/.local/state/quayside/drives.json
    // The link of a letter ("Z:" -> ~/Network Drives/Z:); the name comes from
    // the letter alone.
    static std::string linkPath(int driveIndex);

private:
    struct Drive {
        std::string remoteName;  // "\\server\share"
        RemoteName remote;
        std::string userName;
        bool remembered = false;
        bool connected = false;  // mounted and linked by this copy
        // The share's mount was made by this program, not found there: only
        // such a mount is ever unmounted.
        bool ownMount = false;
    };
    shares::GvfsClient& gio();
    // The letters the table file holds now, as every copy of the program
    // wrote them; a letter not remembered counts only while its link is
    // there.
    static std::map<int, Drive> readTable();
    // Brings the letters of other copies in from the table file: letters
    // this copy has linked stay (unless another copy removed them, link and
    // all), the others are as the file says now.
    void syncTable();
    // Writes every letter (remembered or not) to the table file, atomically.
    // The caller holds the table's lock and has just synced.
    void saveTable() const;
    void removeLetter(int index, bool bookmark);
    bool shareInUseElsewhere(int index) const;
    // Whether a letter of this share is linked to a mount this program made.
    bool ownsMountOf(const RemoteName& remote) const;
    // Links every remembered letter of `remote` that is not connected to
    // the share's mount at `path`.
    void linkWaitingLetters(const RemoteName& remote, const std::string& path, bool ownMount);
    void restoreShare(const RemoteName& remote, const std::string& userName);

    // The table, the links, the bookmarks and the table file; never held
    // across a GVfs call.
    mutable std::mutex mutex_;
    std::map<int, Drive> drives_;
    std::unique_ptr<shares::GvfsClient> gio_;  // the caller's thread
    // The restores in the background, each with its own client.
    std::vector<std::thread> restorers_;
    std::vector<shares::GvfsClient*> restoring_;
    std::atomic<bool> stopping_{false};
};

}  // namespace qs::win
