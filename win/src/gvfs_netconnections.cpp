// GIO first: its headers use names that Qt's headers define as macros.
#include <gio/gio.h>

#include "gvfs_netconnections.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qs::win {

std::unique_ptr<NetConnections> systemNetConnections() { return std::make_unique<GvfsNetConnections>(); }

// ---- places ------------------------------------------------------------------

namespace {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

// An XDG base directory: the variable when it holds an absolute path, else
// the default under the home directory.
std::string xdgDirectory(const char* variable, const char* fallback) {
    if (const char* v = std::getenv(variable); v && v[0] == '/') return v;
    return homeDirectory() + "/" + fallback;
}

bool makeDirectories(const std::string& path) {
    return QDir().mkpath(QString::fromStdString(path)) &&
           ::chmod(path.c_str(), S_IRWXU) == 0;
}

std::string parentOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

bool isSymlink(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string letterText(int index) { return std::string{static_cast<char>('A' + index), ':'}; }

std::string fileUri(const std::string& path) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string out = uri ? uri : "";
    g_free(uri);
    return out;
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

struct GvfsNetConnections::Gio {
    GMainContext* context = g_main_context_new();

    ~Gio() { g_main_context_unref(context); }

    // The context is the thread's default while GIO calls are made, so
    // their answers come back to it and nowhere else.
    struct Scope {
        GMainContext* c;
        explicit Scope(GMainContext* c) : c(c) { g_main_context_push_thread_default(c); }
        ~Scope() { g_main_context_pop_thread_default(c); }
    };

    struct Operation {
        bool done = false;
        bool timedOut = false;
        GError* error = nullptr;
        GCancellable* cancellable = g_cancellable_new();
        // Credentials for the password question.
        std::string user, domain, password;
        bool havePassword = false;
        int asked = 0;
        bool refused = false;
        ~Operation() {
            g_clear_error(&error);
            g_object_unref(cancellable);
        }
    };

    // Runs the context until the operation is done; cancels it when the
    // time is up. False when it did not end even then (the operation is
    // then left to end on its own).
    bool wait(Operation* op, int timeoutMs) {
        GSource* timer = g_timeout_source_new(static_cast<guint>(timeoutMs));
        g_source_set_callback(
            timer,
            [](gpointer data) -> gboolean {
                auto* o = static_cast<Operation*>(data);
                o->timedOut = true;
                g_cancellable_cancel(o->cancellable);
                return G_SOURCE_REMOVE;
            },
            op, nullptr);
        g_source_attach(timer, context);
        while (!op->done && !op->timedOut) g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
        if (op->done) return true;
        // Cancelled: give it a moment to say so.
        const gint64 until = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
        while (!op->done && g_get_monotonic_time() < until) g_main_context_iteration(context, FALSE);
        return op->done;
    }

    static void askPassword(GMountOperation* mo, const char*, const char* defaultUser, const char* defaultDomain,
                            GAskPasswordFlags flags, gpointer data) {
        auto* op = static_cast<Operation*>(data);
        // One answer only: a second question means the server refused it.
        if (++op->asked > 1 || (!op->user.empty() && !op->havePassword)) {
            op->refused = true;
            g_mount_operation_reply(mo, G_MOUNT_OPERATION_ABORTED);
            return;
        }
        if (!op->user.empty()) {
            g_mount_operation_set_username(mo, op->user.c_str());
            g_mount_operation_set_password(mo, op->password.c_str());
            g_mount_operation_set_domain(mo, !op->domain.empty() ? op->domain.c_str()
                                                                  : (defaultDomain ? defaultDomain : ""));
        } else if (flags & G_ASK_PASSWORD_ANONYMOUS_SUPPORTED) {
            g_mount_operation_set_anonymous(mo, TRUE);
        } else {
            g_mount_operation_set_username(mo, "guest");
            g_mount_operation_set_password(mo, "");
            g_mount_operation_set_domain(mo, defaultDomain ? defaultDomain : "");
        }
        (void)defaultUser;
        g_mount_operation_set_password_save(mo, G_PASSWORD_SAVE_NEVER);
        g_mount_operation_reply(mo, G_MOUNT_OPERATION_HANDLED);
    }

    static void askQuestion(GMountOperation* mo, const char*, const char**, gpointer) {
        g_mount_operation_reply(mo, G_MOUNT_OPERATION_ABORTED);
    }

    static DWORD mountResult(const Operation& op) {
        if (op.timedOut) return ERROR_SEM_TIMEOUT;
        if (!op.error) return NO_ERROR;
        if (op.refused) return ERROR_INVALID_PASSWORD;
        if (op.error->domain != G_IO_ERROR) return ERROR_UNEXP_NET_ERR;
        switch (op.error->code) {
        case G_IO_ERROR_ALREADY_MOUNTED:
            return NO_ERROR;
        case G_IO_ERROR_PERMISSION_DENIED:
            return op.asked ? ERROR_INVALID_PASSWORD : ERROR_ACCESS_DENIED;
        case G_IO_ERROR_FAILED_HANDLED:
        case G_IO_ERROR_CANCELLED:
            return ERROR_CANCELLED;
        case G_IO_ERROR_NOT_FOUND:
        case G_IO_ERROR_INVALID_ARGUMENT:
        case G_IO_ERROR_INVALID_FILENAME:
            return ERROR_BAD_NET_NAME;
        case G_IO_ERROR_HOST_NOT_FOUND:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_TIMED_OUT:
            return ERROR_BAD_NETPATH;
        case G_IO_ERROR_NOT_SUPPORTED:
            return ERROR_BAD_PROVIDER;
        default:
            return ERROR_UNEXP_NET_ERR;
        }
    }

    // The local path of the share's mount, when it is mounted and GVfs
    // shows it through FUSE; empty otherwise.
    std::string mountedPath(GFile* file) {
        std::string path;
        GMount* mount = g_file_find_enclosing_mount(file, nullptr, nullptr);
        if (!mount) return path;
        GFile* root = g_mount_get_root(mount);
        if (char* p = g_file_get_path(root)) {
            path = p;
            g_free(p);
        }
        g_object_unref(root);
        g_object_unref(mount);
        return path;
    }

    // Whether the local path answers. It may take a moment: the FUSE view
    // of a new session may not be there yet, and a share mounted again
    // where it was mounted before answers with I/O errors for a while (the
    // kernel still knows the old mount's node). So it is asked again for a
    // few seconds.
    static bool usable(const std::string& path) {
        const gint64 until = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
        for (;;) {
            struct stat st{};
            if (::stat(path.c_str(), &st) == 0) {
                if (DIR* d = ::opendir(path.c_str())) {
                    ::closedir(d);
                    return true;
                }
            }
            if ((errno != EIO && errno != ENOTCONN && errno != ENOENT) || g_get_monotonic_time() >= until) return false;
            g_usleep(100 * 1000);
        }
    }

    // Mounts the share (or finds it mounted) and gives its local path.
    DWORD mount(const std::string& uri, const char* user, const char* password, int timeoutMs, std::string& path,
                bool& mountedHere) {
        Scope scope(context);
        mountedHere = false;
        GFile* file = g_file_new_for_uri(uri.c_str());
        path = mountedPath(file);
        if (!path.empty()) {
            g_object_unref(file);
            return usable(path) ? NO_ERROR : ERROR_NO_NET_OR_BAD_PATH;
        }
        auto* op = new Operation;
        std::string name = user ? user : "";
        // "DOMAIN\user" names the domain too.
        if (const auto sep = name.find('\\'); sep != std::string::npos) {
            op->domain = name.substr(0, sep);
            name = name.substr(sep + 1);
        }
        op->user = name;
        op->havePassword = password != nullptr;
        op->password = password ? password : "";
        GMountOperation* mo = g_mount_operation_new();
        g_signal_connect(mo, "ask-password", G_CALLBACK(askPassword), op);
        g_signal_connect(mo, "ask-question", G_CALLBACK(askQuestion), op);
        g_file_mount_enclosing_volume(
            file, G_MOUNT_MOUNT_NONE, mo, op->cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* o = static_cast<Operation*>(data);
                g_file_mount_enclosing_volume_finish(G_FILE(source), result, &o->error);
                o->done = true;
            },
            op);
        const bool ended = wait(op, timeoutMs);
        DWORD rc = ended ? mountResult(*op) : ERROR_SEM_TIMEOUT;
        mountedHere = ended && !op->error;
        if (rc == NO_ERROR) {
            path = mountedPath(file);
            // Mounted, but not reachable as a local path (no FUSE).
            if (path.empty() || !usable(path)) {
                if (mountedHere) unmountFile(file, true, timeoutMs);
                rc = ERROR_NO_NET_OR_BAD_PATH;
            }
        }
        if (ended) {
            g_signal_handlers_disconnect_by_data(mo, op);
            delete op;
        }  // else the operation still refers to it: left to the process
        g_object_unref(mo);
        g_object_unref(file);
        return rc;
    }

    // Unmounts what holds the share; true when it is not mounted afterwards.
    // `busy` tells that files were open.
    bool unmountFile(GFile* file, bool force, int timeoutMs, bool* busy = nullptr) {
        GMount* mount = g_file_find_enclosing_mount(file, nullptr, nullptr);
        if (!mount) return true;
        auto* op = new Operation;
        g_mount_unmount_with_operation(
            mount, force ? G_MOUNT_UNMOUNT_FORCE : G_MOUNT_UNMOUNT_NONE, nullptr, op->cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* o = static_cast<Operation*>(data);
                g_mount_unmount_with_operation_finish(G_MOUNT(source), result, &o->error);
                o->done = true;
            },
            op);
        const bool ended = wait(op, timeoutMs);
        bool ok = ended && !op->error;
        if (ended && op->error && g_error_matches(op->error, G_IO_ERROR, G_IO_ERROR_NOT_MOUNTED)) ok = true;
        if (busy) *busy = ended && op->error && g_error_matches(op->error, G_IO_ERROR, G_IO_ERROR_BUSY);
        if (ended) delete op;
        g_object_unref(mount);
        return ok;
    }

    bool unmount(const std::string& uri, bool force, int timeoutMs, bool* busy) {
        Scope scope(context);
        GFile* file = g_file_new_for_uri(uri.c_str());
        const bool ok = unmountFile(file, force, timeoutMs, busy);
        g_object_unref(file);
        return ok;
    }
};

// ---- the connections ---------------------------------------------------------

GvfsNetConnections::GvfsNetConnections() { loadTable(); }
GvfsNetConnections::~GvfsNetConnections() = default;

GvfsNetConnections::Gio& GvfsNetConnections::gio() {
    if (!gio_) gio_ = std::make_unique<Gio>();
    return *gio_;
}

void GvfsNetConnections::loadTable() {
    QFile f(QString::fromStdString(tableFile()));
    if (!f.open(QIODevice::ReadOnly)) return;
    const QJsonArray list = QJsonDocument::fromJson(f.readAll()).object().value(QLatin1String("drives")).toArray();
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        const std::string local = o.value(QLatin1String("localName")).toString().toStdString();
        const std::string remoteName = o.value(QLatin1String("remoteName")).toString().toStdString();
        // What the file says passes the same checks as a new mapping.
        const auto index = driveIndex(local);
        const auto remote = parseRemoteName(remoteName);
        if (!index || !remote || drives_.count(*index)) continue;
        Drive d;
        d.remoteName = remoteName;
        d.remote = *remote;
        d.userName = o.value(QLatin1String("userName")).toString().toStdString();
        d.remembered = true;
        // Linked to a live mount: still connected from an earlier run.
        struct stat st{};
        d.connected = isSymlink(linkPath(*index)) && ::stat(linkPath(*index).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        drives_[*index] = d;
    }
}

void GvfsNetConnections::saveTable() const {
    // Letter, share and user name; never a password.
    QJsonArray list;
    for (const auto& [index, d] : drives_) {
        if (!d.remembered) continue;
        list.append(QJsonObject{{QStringLiteral("localName"), QString::fromStdString(letterText(index))},
                                {QStringLiteral("remoteName"), QString::fromStdString(d.remoteName)},
                                {QStringLiteral("userName"), QString::fromStdString(d.userName)}});
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

bool GvfsNetConnections::shareInUseElsewhere(int index) const {
    const Drive& me = drives_.at(index);
    for (const auto& [other, d] : drives_) {
        if (other == index || !d.connected) continue;
        if (d.remote.server == me.remote.server && g_ascii_strcasecmp(d.remote.share.c_str(), me.remote.share.c_str()) == 0)
            return true;
    }
    return false;
}

DWORD GvfsNetConnections::WNetAddConnection2A(const char* localName, const char* remoteName, const char* password,
                                              const char* userName, DWORD flags) {
    const auto index = driveIndex(localName ? localName : "");
    if (!index) return ERROR_BAD_DEVICE;
    if (drives_.count(*index)) return ERROR_ALREADY_ASSIGNED;
    // Something of the user's own under the letter's name stays.
    const std::string link = linkPath(*index);
    if (exists(link) && !isSymlink(link)) return ERROR_ALREADY_ASSIGNED;
    const auto remote = parseRemoteName(remoteName ? remoteName : "");
    if (!remote) return ERROR_BAD_NET_NAME;

    std::string path;
    bool mountedHere = false;
    const DWORD rc = gio().mount(smbUri(*remote), userName, password, timeoutMs, path, mountedHere);
    if (rc != NO_ERROR) return rc;
    if (!linkLetter(*index, path)) {
        if (mountedHere) gio().unmount(smbUri(*remote), true, timeoutMs, nullptr);
        return ERROR_NO_NET_OR_BAD_PATH;
    }
    addBookmark(fileUri(link), bookmarkLabel(*index, *remote));
    Drive d;
    d.remoteName = remoteName;
    d.remote = *remote;
    d.userName = userName ? userName : "";
    d.remembered = (flags & CONNECT_UPDATE_PROFILE) != 0;
    d.connected = true;
    drives_[*index] = d;
    if (d.remembered) saveTable();
    return NO_ERROR;
}

DWORD GvfsNetConnections::WNetGetConnectionA(const char* localName, char* remoteName, DWORD* length) {
    const auto index = driveIndex(localName ? localName : "");
    if (!index) return ERROR_BAD_DEVICE;
    const auto it = drives_.find(*index);
    if (it == drives_.end()) return ERROR_NOT_CONNECTED;
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
    const auto it = drives_.find(*index);
    if (it == drives_.end()) return ERROR_NOT_CONNECTED;
    Drive& d = it->second;
    if (d.connected && !shareInUseElsewhere(*index)) {
        bool busy = false;
        if (!gio().unmount(smbUri(d.remote), force, timeoutMs, &busy) && busy) return ERROR_OPEN_FILES;
    }
    d.connected = false;
    const bool forget = !d.remembered || (flags & CONNECT_UPDATE_PROFILE);
    removeLetter(*index, forget);
    if (forget) {
        const bool remembered = d.remembered;
        drives_.erase(it);
        if (remembered) saveTable();
    }
    return NO_ERROR;
}

unsigned GvfsNetConnections::GetDriveTypeA(const char* rootPathName) {
    const auto index = driveIndex(rootPathName ? rootPathName : "");
    if (index && drives_.count(*index)) return DRIVE_REMOTE;
    return DRIVE_NO_ROOT_DIR;
}

void GvfsNetConnections::RestoreConnections() {
    for (auto& [index, d] : drives_) {
        if (!d.remembered) continue;
        std::string path;
        bool mountedHere = false;
        // No password: GVfs finds it in the keyring or the share stays
        // unavailable until it is mapped again.
        const DWORD rc = gio().mount(smbUri(d.remote), d.userName.c_str(), nullptr, timeoutMs, path, mountedHere);
        d.connected = rc == NO_ERROR && linkLetter(index, path);
        if (d.connected)
            addBookmark(fileUri(linkPath(index)), bookmarkLabel(index, d.remote));
        else
            removeLetter(index, false);
    }
}

}  // namespace qs::win
