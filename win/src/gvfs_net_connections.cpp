// GIO first: its headers use names that Qt's headers define as macros.
#include "gobject_ptr.h"

#include "gvfs_net_connections.h"
#include "places.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <optional>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qs::win {

std::unique_ptr<NetConnections> systemNetConnections() { return std::make_unique<GvfsNetConnections>(); }

// ---- places ------------------------------------------------------------------

namespace {

using shares::homeDirectory;
using shares::xdgDirectory;

std::string parentOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// Makes what is missing of `path`, each new folder the user's alone; the
// folders that are there already keep their modes.
bool makeDirectories(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = parentOf(path);
    if (!parent.empty() && parent != path && !makeDirectories(parent)) return false;
    return ::mkdir(path.c_str(), S_IRWXU) == 0 || errno == EEXIST;
}

bool isSymlink(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string letterText(int index) { return std::string{static_cast<char>('A' + index), ':'}; }

std::string shareUri(const RemoteName& remote) { return shares::smbUri(remote.server, remote.share); }

std::string fileUri(const std::string& path) {
    const shares::GCharPtr uri{g_filename_to_uri(path.c_str(), nullptr, nullptr)};
    return uri ? uri.get() : "";
}

// Writes `text` to `path` through a new file renamed over it.
bool replaceFile(const std::string& path, const QByteArray& text, bool privateFile) {
    QSaveFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly)) return false;
    if (privateFile) f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    f.write(text);
    return f.commit();
}

QList<QByteArray> bookmarkLines() {
    QFile f(QString::fromStdString(GvfsNetConnections::bookmarksFile()));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

void writeBookmarkLines(const QList<QByteArray>& lines) {
    const std::string file = GvfsNetConnections::bookmarksFile();
    if (!makeDirectories(parentOf(file))) return;
    QByteArray text;
    for (const QByteArray& l : lines) text += l + '\n';
    replaceFile(file, text, false);
}

// The bookmark's address is its first word.
bool bookmarkOf(const QByteArray& line, const std::string& uri) {
    const qsizetype space = line.indexOf(' ');
    return (space < 0 ? line : line.left(space)) == QByteArray::fromStdString(uri);
}

void removeBookmark(const std::string& uri) {
    QList<QByteArray> lines = bookmarkLines();
    const qsizetype before = lines.size();
    lines.removeIf([&](const QByteArray& l) { return bookmarkOf(l, uri); });
    if (lines.size() != before) writeBookmarkLines(lines);
}

void addBookmark(const std::string& uri, const std::string& label) {
    QList<QByteArray> lines = bookmarkLines();
    lines.removeIf([&](const QByteArray& l) { return bookmarkOf(l, uri); });
    lines.append(QByteArray::fromStdString(uri + " " + label));
    writeBookmarkLines(lines);
}

}  // namespace

std::string GvfsNetConnections::driveLinkDirectory() { return homeDirectory() + "/Network Drives"; }
std::string GvfsNetConnections::bookmarksFile() { return xdgDirectory("XDG_CONFIG_HOME", ".config") + "/gtk-3.0/bookmarks"; }
std::string GvfsNetConnections::tableFile() {
    return xdgDirectory("XDG_STATE_HOME", ".local/state") + "/quayside/drives.json";
}
std::string GvfsNetConnections::linkPath(int driveIndex) { return driveLinkDirectory() + "/" + letterText(driveIndex); }

// ---- GIO -----------------------------------------------------------------------

namespace {

DWORD netError(shares::MountStatus status) {
    using shares::MountStatus;
    switch (status) {
    case MountStatus::Ok: return NO_ERROR;
    case MountStatus::TimedOut: return ERROR_SEM_TIMEOUT;
    case MountStatus::PasswordRefused: return ERROR_INVALID_PASSWORD;
    case MountStatus::AccessDenied: return ERROR_ACCESS_DENIED;
    case MountStatus::Cancelled: return ERROR_CANCELLED;
    case MountStatus::BadName: return ERROR_BAD_NET_NAME;
    case MountStatus::BadPath: return ERROR_BAD_NETPATH;
    case MountStatus::NotSupported: return ERROR_BAD_PROVIDER;
    case MountStatus::NoLocalPath: return ERROR_NO_NET_OR_BAD_PATH;
    case MountStatus::Failed: break;
    }
    return ERROR_UNEXP_NET_ERR;
}

}  // namespace

// ---- the connections ---------------------------------------------------------

GvfsNetConnections::GvfsNetConnections() : drives_(readTable()) {}

GvfsNetConnections::~GvfsNetConnections() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (shares::GvfsClient* c : restoring_) c->cancel();
    }
    for (std::thread& t : restorers_) t.join();
}

shares::GvfsClient& GvfsNetConnections::gio() {
    if (!gio_) gio_ = std::make_unique<shares::GvfsClient>();
    return *gio_;
}

namespace {

bool sameShare(const RemoteName& a, const RemoteName& b) {
    return a.server == b.server && g_ascii_strcasecmp(a.share.c_str(), b.share.c_str()) == 0;
}

// The lock every copy of the program holds while it changes the table
// file: a lock file beside it, locked whole. Reading needs none, as the
// file is only ever replaced whole.
class TableLock {
public:
    TableLock() {
        const std::string dir = parentOf(GvfsNetConnections::tableFile());
        if (!makeDirectories(dir)) return;
        fd_ = ::open((dir + "/drives.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~TableLock() {
        if (fd_ >= 0) ::close(fd_);  // and the lock with it
    }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace

std::map<int, GvfsNetConnections::Drive> GvfsNetConnections::readTable() {
    std::map<int, Drive> table;
    QFile f(QString::fromStdString(tableFile()));
    if (!f.open(QIODevice::ReadOnly)) return table;
    const QJsonArray list = QJsonDocument::fromJson(f.readAll()).object().value(QLatin1String("drives")).toArray();
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        const std::string local = o.value(QLatin1String("localName")).toString().toStdString();
        const std::string remoteName = o.value(QLatin1String("remoteName")).toString().toStdString();
        // What the file says passes the same checks as a new mapping.
        const auto index = driveIndex(local);
        const auto remote = parseRemoteName(remoteName);
        if (!index || !remote || table.count(*index)) continue;
        Drive d;
        d.remoteName = remoteName;
        d.remote = *remote;
        d.userName = o.value(QLatin1String("userName")).toString().toStdString();
        // Older files hold only remembered letters.
        d.remembered = o.value(QLatin1String("remembered")).toBool(true);
        d.ownMount = o.value(QLatin1String("ownMount")).toBool(false);
        // A letter that is not remembered lasts as long as its link.
        if (!d.remembered && !isSymlink(linkPath(*index))) continue;
        // Not connected until RestoreConnections has found or made the
        // mount: even a look through the old link could wait on a server
        // that is gone.
        table[*index] = d;
    }
    return table;
}

void GvfsNetConnections::syncTable() {
    std::map<int, Drive> file = readTable();
    for (auto it = drives_.begin(); it != drives_.end();) {
        const auto f = file.find(it->first);
        Drive& d = it->second;
        if (d.connected && f == file.end() && !isSymlink(linkPath(it->first))) {
            it = drives_.erase(it);  // another copy disconnected it
        } else if (!d.connected && f == file.end()) {
            it = drives_.erase(it);  // forgotten by another copy
        } else {
            if (f != file.end() && (!d.connected || !sameShare(d.remote, f->second.remote))) d = f->second;
            ++it;
        }
    }
    for (auto& [index, d] : file) drives_.try_emplace(index, std::move(d));
}

void GvfsNetConnections::saveTable() const {
    // Letter, share and user name; never a password.
    QJsonArray list;
    for (const auto& [index, d] : drives_) {
        list.append(QJsonObject{{QStringLiteral("localName"), QString::fromStdString(letterText(index))},
                                {QStringLiteral("remoteName"), QString::fromStdString(d.remoteName)},
                                {QStringLiteral("userName"), QString::fromStdString(d.userName)},
                                {QStringLiteral("remembered"), d.remembered},
                                {QStringLiteral("ownMount"), d.ownMount}});
    }
    const std::string file = tableFile();
    if (list.isEmpty() && !exists(file)) return;
    if (!makeDirectories(parentOf(file))) return;
    replaceFile(file, QJsonDocument(QJsonObject{{QStringLiteral("drives"), list}}).toJson(), true);
}

namespace {

// Points the letter's link at `target`: a new link renamed over the old
// one, so an existing link is replaced but never followed.
bool linkLetter(int index, const std::string& target) {
    const std::string dir = GvfsNetConnections::driveLinkDirectory();
    if (!makeDirectories(dir)) return false;
    const std::string link = GvfsNetConnections::linkPath(index);
    const std::string fresh = dir + "/." + std::string(1, static_cast<char>('A' + index)) + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) != 0) return false;
    if (::rename(fresh.c_str(), link.c_str()) != 0) {
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}

std::string bookmarkLabel(int index, const RemoteName& remote) {
    return remote.share + " (\\\\" + remote.server + ") (" + letterText(index) + ")";
}

}  // namespace

void GvfsNetConnections::removeLetter(int index, bool bookmark) {
    const std::string link = linkPath(index);
    if (isSymlink(link)) ::unlink(link.c_str());
    if (bookmark) removeBookmark(fileUri(link));
}

// Another letter of the share, this copy's or another's, is linked.
bool GvfsNetConnections::shareInUseElsewhere(int index) const {
    const Drive& me = drives_.at(index);
    for (const auto& [other, d] : drives_)
        if (other != index && sameShare(d.remote, me.remote) && (d.connected || isSymlink(linkPath(other))))
            return true;
    return false;
}

bool GvfsNetConnections::ownsMountOf(const RemoteName& remote) const {
    return std::any_of(drives_.begin(), drives_.end(),
                       [&](const auto& entry) { return entry.second.ownMount && sameShare(entry.second.remote, remote); });
}

void GvfsNetConnections::linkWaitingLetters(const RemoteName& remote, const std::string& path, bool ownMount) {
    for (auto& [index, d] : drives_) {
        if (!d.remembered || d.connected || !sameShare(d.remote, remote)) continue;
        d.connected = linkLetter(index, path);
        if (!d.connected) continue;
        d.ownMount = ownMount;
        addBookmark(fileUri(linkPath(index)), bookmarkLabel(index, d.remote));
    }
}

DWORD GvfsNetConnections::WNetAddConnection2A(const char* localName, const char* remoteName, const char* password,
                                              const char* userName, DWORD flags) {
    const auto index = driveIndex(localName ? localName : "");
    if (!index) return ERROR_BAD_DEVICE;
    const auto remote = parseRemoteName(remoteName ? remoteName : "");
    const std::string link = linkPath(*index);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        syncTable();
        // A letter is taken unless it waits for this very share, which
        // this mapping then brings back.
        if (const auto it = drives_.find(*index); it != drives_.end()) {
            const Drive& d = it->second;
            if (d.connected || !d.remembered || !remote || !sameShare(d.remote, *remote)) return ERROR_ALREADY_ASSIGNED;
        } else if (exists(link)) {
            // A link no copy of the program has written down yet, or
            // something of the user's own: it stays.
            return ERROR_ALREADY_ASSIGNED;
        }
    }
    if (!remote) return ERROR_BAD_NET_NAME;

    std::string path;
    bool mountedHere = false;
    // A mapping remembered for the next start has GVfs keep its password
    // in the desktop's keyring (when there is one), so the restore needs
    // no question.
    const bool keep = (flags & CONNECT_UPDATE_PROFILE) != 0;
    const DWORD rc = netError(gio().mount(shareUri(*remote), userName, password, timeoutMs, path, mountedHere, keep));
    if (rc != NO_ERROR) return rc;
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<TableLock> tableLock(std::in_place);
    syncTable();
    // Taken meanwhile (by this copy or another) by a mapping of another
    // share, or no link: the mount made for it goes again.
    const auto taken = drives_.find(*index);
    const bool letterFree = taken != drives_.end() ? sameShare(taken->second.remote, *remote) : !exists(link);
    const DWORD failed = !letterFree ? ERROR_ALREADY_ASSIGNED : !linkLetter(*index, path) ? ERROR_NO_NET_OR_BAD_PATH : NO_ERROR;
    if (failed != NO_ERROR) {
        tableLock.reset();
        lock.unlock();
        if (mountedHere) gio().unmount(shareUri(*remote), true, timeoutMs, nullptr);
        return failed;
    }
    addBookmark(fileUri(link), bookmarkLabel(*index, *remote));
    // A mount found there was made by this program only when one of the
    // share's letters says so.
    const bool ownMount = mountedHere || ownsMountOf(*remote);
    Drive& d = drives_[*index];
    const bool wasRemembered = d.remembered;
    d.remoteName = remoteName;
    d.remote = *remote;
    if (!wasRemembered || (flags & CONNECT_UPDATE_PROFILE)) d.userName = userName ? userName : "";
    d.remembered = wasRemembered || (flags & CONNECT_UPDATE_PROFILE) != 0;
    d.connected = true;
    d.ownMount = ownMount;
    // The share is back: so are the other letters remembered for it.
    linkWaitingLetters(*remote, path, ownMount);
    saveTable();
    return NO_ERROR;
}

DWORD GvfsNetConnections::WNetGetConnectionA(const char* localName, char* remoteName, DWORD* length) {
    const auto index = driveIndex(localName ? localName : "");
    if (!index) return ERROR_BAD_DEVICE;
    std::lock_guard<std::mutex> lock(mutex_);
    syncTable();
    const auto it = drives_.find(*index);
    if (it == drives_.end()) {
        if (!isSymlink(linkPath(*index))) return ERROR_NOT_CONNECTED;
        // A link that no copy of the program has written down: the letter
        // is taken, by a share nobody can name.
        if (!length || !remoteName || *length < 1) {
            if (length) *length = 1;
            return ERROR_MORE_DATA;
        }
        remoteName[0] = '\0';
        return ERROR_CONNECTION_UNAVAIL;
    }
    const std::string& name = it->second.remoteName;
    if (!length || !remoteName || name.size() + 1 > *length) {
        if (length) *length = static_cast<DWORD>(name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(remoteName, name.c_str(), name.size() + 1);
    // Remembered but not mounted now: the name, and that it is unavailable.
    return it->second.connected ? NO_ERROR : ERROR_CONNECTION_UNAVAIL;
}

DWORD GvfsNetConnections::WNetCancelConnection2A(const char* name, DWORD flags, bool force) {
    const auto index = driveIndex(name ? name : "");
    if (!index) return ERROR_NOT_CONNECTED;
    const std::string link = linkPath(*index);
    std::unique_lock<std::mutex> lock(mutex_);
    syncTable();
    auto it = drives_.find(*index);
    if (it == drives_.end()) {
        if (!isSymlink(link)) return ERROR_NOT_CONNECTED;
        // A link no copy has written down: only the link goes, never a
        // mount this program cannot tell it made.
        removeLetter(*index, true);
        return NO_ERROR;
    }
    // The share's mount goes with its last letter, of any copy, and only
    // when this program made it: a mount that was there before (the file
    // manager's, say) stays, open files and all. A letter still linked from
    // an earlier run counts, whether or not it has been restored yet.
    const RemoteName remote = it->second.remote;
    const bool unmount = (it->second.connected || isSymlink(link)) && ownsMountOf(remote) && !shareInUseElsewhere(*index);
    lock.unlock();
    if (unmount) {
        bool busy = false;
        if (!gio().unmount(shareUri(remote), force, timeoutMs, &busy) && busy) return ERROR_OPEN_FILES;
    }
    lock.lock();
    std::optional<TableLock> tableLock(std::in_place);
    syncTable();
    it = drives_.find(*index);
    if (it == drives_.end()) return NO_ERROR;
    // The mount this program made is gone: a later one is no longer its.
    if (unmount)
        for (auto& [other, o] : drives_)
            if (sameShare(o.remote, remote)) o.ownMount = false;
    Drive& d = it->second;
    d.connected = false;
    const bool forget = !d.remembered || (flags & CONNECT_UPDATE_PROFILE);
    removeLetter(*index, forget);
    const bool remembered = d.remembered;
    const std::string userName = d.userName;
    if (forget) drives_.erase(it);
    saveTable();
    tableLock.reset();
    if (!forget || !remembered) return NO_ERROR;
    // A remembered letter had GVfs keep its password in the keyring; it
    // goes with the last remembered letter (of any copy) that needs it
    // (GVfs keeps one for the server and the user, whatever the share).
    for (const auto& [other, o] : drives_)
        if (o.remembered && o.remote.server == remote.server && o.userName == userName) return NO_ERROR;
    lock.unlock();
    shares::forgetKeptPassword(remote.server, userName);
    return NO_ERROR;
}

unsigned GvfsNetConnections::GetDriveTypeA(const char* rootPathName) {
    const auto index = driveIndex(rootPathName ? rootPathName : "");
    if (!index) return DRIVE_NO_ROOT_DIR;
    std::lock_guard<std::mutex> lock(mutex_);
    syncTable();
    // A link of a letter no copy has written down takes it all the same.
    if (drives_.count(*index) || isSymlink(linkPath(*index))) return DRIVE_REMOTE;
    return DRIVE_NO_ROOT_DIR;
}

void GvfsNetConnections::RestoreConnections(std::function<void()> restored) {
    // One worker per share, so a server that is gone holds up only its own
    // letters.
    std::vector<std::pair<RemoteName, std::string>> shares;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : drives_) {
            const Drive& d = entry.second;
            if (!d.remembered || d.connected) continue;
            const bool listed = std::any_of(shares.begin(), shares.end(),
                                            [&](const auto& s) { return sameShare(s.first, d.remote); });
            if (!listed) shares.emplace_back(d.remote, d.userName);
        }
    }
    if (shares.empty()) return;
    auto left = std::make_shared<std::atomic<int>>(static_cast<int>(shares.size()));
    auto done = std::make_shared<std::function<void()>>(std::move(restored));
    for (auto& [remote, user] : shares) {
        restorers_.emplace_back([this, remote = remote, user = user, left, done] {
            restoreShare(remote, user);
            if (left->fetch_sub(1) == 1 && !stopping_ && *done) (*done)();
        });
    }
}

void GvfsNetConnections::restoreShare(const RemoteName& remote, const std::string& userName) {
    shares::GvfsClient client;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        restoring_.push_back(&client);
    }
    std::string path;
    bool mountedHere = false;
    // No password: GVfs finds it in the keyring, or the share stays
    // unavailable (and remembered) until it is mapped again.
    const auto status = client.mount(shareUri(remote), userName.c_str(), nullptr, timeoutMs, path, mountedHere);
    std::unique_lock<std::mutex> lock(mutex_);
    restoring_.erase(std::find(restoring_.begin(), restoring_.end(), &client));
    syncTable();
    if (status == shares::MountStatus::Ok) {
        // Made by this restore, or by this program before (the table says).
        linkWaitingLetters(remote, path, mountedHere || ownsMountOf(remote));
        bool wanted = false;
        for (const auto& [index, d] : drives_) wanted = wanted || (d.connected && sameShare(d.remote, remote));
        lock.unlock();
        // Its letters were cancelled meanwhile: the mount goes too.
        if (!wanted && mountedHere) client.unmount(shareUri(remote), true, timeoutMs, nullptr);
        return;
    }
    // A link left from an earlier run would lead nowhere.
    for (const auto& [index, d] : drives_)
        if (d.remembered && !d.connected && sameShare(d.remote, remote)) removeLetter(index, false);
}

}  // namespace qs::win
