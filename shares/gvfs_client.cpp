#include "gvfs_client.h"

#include "gobject_ptr.h"

#include <libsecret/secret.h>

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <mutex>
#include <sys/stat.h>

namespace qs::shares {

namespace {

// "DOMAIN\user" names the domain too.
void splitDomain(const std::string& given, std::string& user, std::string& domain) {
    const auto sep = given.find('\\');
    user = sep == std::string::npos ? given : given.substr(sep + 1);
    domain = sep == std::string::npos ? std::string() : given.substr(0, sep);
}

}  // namespace

bool forgetKeptPassword(const std::string& host, const std::string& user) {
    std::string name, domain;
    splitDomain(user, name, domain);
    if (name.empty()) return true;  // a guest's mount keeps nothing
    // GVfs keeps an SMB password as a network password of the server, the
    // user and the domain; without a domain of its own, one kept for any
    // domain goes.
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("protocol"), const_cast<char*>("smb"));
    g_hash_table_insert(attributes, const_cast<char*>("server"), const_cast<char*>(host.c_str()));
    g_hash_table_insert(attributes, const_cast<char*>("user"), const_cast<char*>(name.c_str()));
    if (!domain.empty())
        g_hash_table_insert(attributes, const_cast<char*>("domain"), const_cast<char*>(domain.c_str()));
    // Every matching entry of an unlocked keyring goes; none is no error.
    GError* error = nullptr;
    secret_password_clearv_sync(SECRET_SCHEMA_COMPAT_NETWORK, attributes, nullptr, &error);
    g_hash_table_unref(attributes);
    const GErrorPtr failed{error};
    return !failed;
}

struct GvfsClient::Gio {
    GMainContextPtr contextRef{g_main_context_new()};
    GMainContext* context = contextRef.get();
    // The operation cancel() ends, and whether it was called.
    std::mutex cancelMutex;
    GCancellable* current = nullptr;
    std::atomic<bool> cancelled{false};

    ~Gio() {
        // What GVfs still has to say to this context is heard out first,
        // or it would be left undelivered (and unfreed) with the context.
        for (int i = 0; i < 100 && g_main_context_pending(context); ++i) g_main_context_iteration(context, FALSE);
    }

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
        GErrorPtr error;
        GObjectPtr<GCancellable> cancellableRef{g_cancellable_new()};
        GCancellable* cancellable = cancellableRef.get();
        // Credentials for the password question.
        std::string user, domain, password;
        bool guest = true;
        bool havePassword = false;
        bool keepPassword = false;
        int asked = 0;
        bool refused = false;
    };

    // Runs the context until the operation is done; cancels it when the
    // time is up. False when it did not end even then (the operation is
    // then left to end on its own).
    bool wait(Operation* op, int timeoutMs) {
        {
            std::lock_guard<std::mutex> lock(cancelMutex);
            current = op->cancellable;
            if (cancelled) g_cancellable_cancel(op->cancellable);
        }
        struct Done {
            Gio* gio;
            ~Done() {
                std::lock_guard<std::mutex> lock(gio->cancelMutex);
                gio->current = nullptr;
            }
        } done{this};
        const GSourcePtr timerRef{g_timeout_source_new(static_cast<guint>(timeoutMs))};
        GSource* timer = timerRef.get();
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
        while (!op->done && !op->timedOut && !cancelled) g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        if (op->done) return true;
        // Cancelled: give it a moment to say so.
        const gint64 until = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
        while (!op->done && g_get_monotonic_time() < until) g_main_context_iteration(context, FALSE);
        return op->done;
    }

    static void askPassword(GMountOperation* mo, const char*, const char*, const char* defaultDomain,
                            GAskPasswordFlags flags, gpointer data) {
        auto* op = static_cast<Operation*>(data);
        // One answer only: a second question means the server refused it.
        if (++op->asked > 1 || (!op->guest && !op->havePassword)) {
            op->refused = true;
            g_mount_operation_reply(mo, G_MOUNT_OPERATION_ABORTED);
            return;
        }
        if (!op->guest) {
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
        // Kept by GVfs in the desktop's keyring, never by this program.
        g_mount_operation_set_password_save(mo, op->keepPassword && !op->guest ? G_PASSWORD_SAVE_PERMANENTLY
                                                                                : G_PASSWORD_SAVE_NEVER);
        g_mount_operation_reply(mo, G_MOUNT_OPERATION_HANDLED);
    }

    static void askQuestion(GMountOperation* mo, const char*, const char**, gpointer) {
        g_mount_operation_reply(mo, G_MOUNT_OPERATION_ABORTED);
    }

    static MountStatus mountResult(const Operation& op) {
        if (op.timedOut) return MountStatus::TimedOut;
        if (!op.error) return MountStatus::Ok;
        if (op.refused) return MountStatus::PasswordRefused;
        if (op.error->domain != G_IO_ERROR) return MountStatus::Failed;
        switch (op.error->code) {
        case G_IO_ERROR_ALREADY_MOUNTED:
            return MountStatus::Ok;
        case G_IO_ERROR_PERMISSION_DENIED:
            return op.asked ? MountStatus::PasswordRefused : MountStatus::AccessDenied;
        case G_IO_ERROR_FAILED_HANDLED:
        case G_IO_ERROR_CANCELLED:
            return MountStatus::Cancelled;
        case G_IO_ERROR_NOT_FOUND:
        case G_IO_ERROR_INVALID_ARGUMENT:
        case G_IO_ERROR_INVALID_FILENAME:
            return MountStatus::BadName;
        case G_IO_ERROR_HOST_NOT_FOUND:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_TIMED_OUT:
            return MountStatus::BadPath;
        case G_IO_ERROR_NOT_SUPPORTED:
            return MountStatus::NotSupported;
        default:
            return MountStatus::Failed;
        }
    }

    // The local path of the share's mount, when it is mounted and GVfs
    // shows it through FUSE; empty otherwise.
    static std::string mountedPath(GFile* file) {
        const GObjectPtr<GMount> mount{g_file_find_enclosing_mount(file, nullptr, nullptr)};
        if (!mount) return {};
        const GObjectPtr<GFile> root{g_mount_get_root(mount.get())};
        const GCharPtr path{g_file_get_path(root.get())};
        return path ? path.get() : std::string();
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

    MountStatus mount(const std::string& uri, const char* user, const char* password, int timeoutMs,
                      std::string& path, bool& mountedHere, bool keepPassword) {
        Scope scope(context);
        mountedHere = false;
        const GObjectPtr<GFile> fileRef{g_file_new_for_uri(uri.c_str())};
        GFile* file = fileRef.get();
        path = mountedPath(file);
        if (!path.empty()) return usable(path) ? MountStatus::Ok : MountStatus::NoLocalPath;
        auto* op = new Operation;
        splitDomain(user ? user : "", op->user, op->domain);
        op->guest = op->user.empty();
        op->havePassword = password != nullptr;
        op->password = password ? password : "";
        op->keepPassword = keepPassword;
        const GObjectPtr<GMountOperation> mo{g_mount_operation_new()};
        g_signal_connect(mo.get(), "ask-password", G_CALLBACK(askPassword), op);
        g_signal_connect(mo.get(), "ask-question", G_CALLBACK(askQuestion), op);
        g_file_mount_enclosing_volume(
            file, G_MOUNT_MOUNT_NONE, mo.get(), op->cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* o = static_cast<Operation*>(data);
                GError* error = nullptr;
                g_file_mount_enclosing_volume_finish(G_FILE(source), result, &error);
                o->error.reset(error);
                o->done = true;
            },
            op);
        const bool ended = wait(op, timeoutMs);
        MountStatus rc = ended ? mountResult(*op) : MountStatus::TimedOut;
        mountedHere = ended && !op->error;
        if (rc == MountStatus::Ok) {
            path = mountedPath(file);
            if (path.empty() || !usable(path)) {
                if (mountedHere) unmountFile(file, true, timeoutMs);
                rc = MountStatus::NoLocalPath;
            }
        }
        if (ended) {
            g_signal_handlers_disconnect_by_data(mo.get(), op);
            delete op;
        }  // else the operation still refers to it: left to the process
        return rc;
    }

    bool unmountFile(GFile* file, bool force, int timeoutMs, bool* busy = nullptr) {
        const GObjectPtr<GMount> mount{g_file_find_enclosing_mount(file, nullptr, nullptr)};
        if (!mount) return true;
        auto* op = new Operation;
        g_mount_unmount_with_operation(
            mount.get(), force ? G_MOUNT_UNMOUNT_FORCE : G_MOUNT_UNMOUNT_NONE, nullptr, op->cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* o = static_cast<Operation*>(data);
                GError* error = nullptr;
                g_mount_unmount_with_operation_finish(G_MOUNT(source), result, &error);
                o->error.reset(error);
                o->done = true;
            },
            op);
        const bool ended = wait(op, timeoutMs);
        bool ok = ended && !op->error;
        if (ended && op->error && g_error_matches(op->error.get(), G_IO_ERROR, G_IO_ERROR_NOT_MOUNTED)) ok = true;
        if (busy) *busy = ended && op->error && g_error_matches(op->error.get(), G_IO_ERROR, G_IO_ERROR_BUSY);
        if (ended) delete op;
        return ok;
    }
};

GvfsClient::GvfsClient() : gio_(std::make_unique<Gio>()) {}
GvfsClient::~GvfsClient() = default;

void GvfsClient::cancel() {
    std::lock_guard<std::mutex> lock(gio_->cancelMutex);
    gio_->cancelled = true;
    if (gio_->current) g_cancellable_cancel(gio_->current);
    g_main_context_wakeup(gio_->context);
}

MountStatus GvfsClient::mount(const std::string& uri, const char* user, const char* password, int timeoutMs,
                              std::string& path, bool& mountedHere, bool keepPassword) {
    return gio_->mount(uri, user, password, timeoutMs, path, mountedHere, keepPassword);
}

bool GvfsClient::unmount(const std::string& uri, bool force, int timeoutMs, bool* busy) {
    Gio::Scope scope(gio_->context);
    const GObjectPtr<GFile> file{g_file_new_for_uri(uri.c_str())};
    return gio_->unmountFile(file.get(), force, timeoutMs, busy);
}

std::string GvfsClient::mountedPath(const std::string& uri) {
    Gio::Scope scope(gio_->context);
    const GObjectPtr<GFile> file{g_file_new_for_uri(uri.c_str())};
    return Gio::mountedPath(file.get());
}

bool GvfsClient::mountOfPath(const std::string& path, SmbMount& out) {
    Gio::Scope scope(gio_->context);
    // A path under the FUSE view becomes the GVfs location it shows.
    const GObjectPtr<GFile> file{g_file_new_for_path(path.c_str())};
    const GObjectPtr<GMount> mount{g_file_find_enclosing_mount(file.get(), nullptr, nullptr)};
    if (!mount) return false;
    const GObjectPtr<GFile> root{g_mount_get_root(mount.get())};
    const GCharPtr uri{g_file_get_uri(root.get())};
    const GCharPtr local{g_file_get_path(root.get())};
    const auto address = uri ? parseSmbAddress(uri.get()) : std::nullopt;
    if (!address) return false;
    out = SmbMount{uri.get(), address->user.value_or(std::string()), address->host, address->share,
                   local ? local.get() : ""};
    return true;
}

}  // namespace qs::shares
