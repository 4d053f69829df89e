#include "gvfs_mount_platform.h"

#include "places.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qs::mac {

namespace {

// A name directly below a folder: no slash, not "." or "..", not empty.
bool plainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

bool isLink(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string readLink(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// A mount's address with the share's real name: one that can name a volume.
std::optional<shares::SmbAddress> shareAddress(const std::string& url) {
    auto address = shares::parseSmbAddress(url);
    if (!address || !plainName(address->share)) return std::nullopt;
    return address;
}

// Whether a mount's local folder (or a link to it) is gone. A live mount's
// folder can fail to read for a moment (EIO while GVfs is busy with another
// mount of the same server): that one is still there.
bool folderGone(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) != 0 && errno != EIO;
}

int removeEntry(const char* path, const struct stat*, int type, FTW*) {
    return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
}

}  // namespace

GvfsMountPlatform::Places GvfsMountPlatform::defaultPlaces() {
    Places places;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/') {
        places.markers = std::string(runtime) + "/quayside";
    } else {
        places.markers = shares::xdgDirectory("XDG_CACHE_HOME", ".cache") + "/quayside/run";
    }
    places.volumes = shares::homeDirectory() + "/Volumes";
    return places;
}

GvfsMountPlatform::GvfsMountPlatform(Places places) : places_(std::move(places)) {}

// A folder of this user's own, made when missing: the markers must not be
// plantable by anyone else.
bool GvfsMountPlatform::ensureDirectory(const std::string& dir) {
    for (std::size_t at = 1; at <= dir.size(); ++at) {
        if (at != dir.size() && dir[at] != '/') continue;
        const std::string part = dir.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st{};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

std::string GvfsMountPlatform::mapPath(std::string_view path) {
    constexpr std::string_view tmp = "/tmp/", volumes = "/Volumes/";
    if (path.substr(0, tmp.size()) == tmp && plainName(path.substr(tmp.size()))) {
        if (!ensureDirectory(places_.markers)) return {};
        return places_.markers + "/" + std::string(path.substr(tmp.size()));
    }
    if (path.substr(0, volumes.size()) == volumes && plainName(path.substr(volumes.size()))) {
        if (!ensureDirectory(places_.volumes)) return {};
        return places_.volumes + "/" + std::string(path.substr(volumes.size()));
    }
    return {};
}

void GvfsMountPlatform::runScriptText(const std::string& text) {
    last_ = runScript(text, *this);
    if (!last_.ok && std::getenv("QUAYSIDE_SCRIPT_LOG"))
        std::fprintf(stderr, "quayside-mac: script %s at line %d: %s\n", last_.compiled ? "failed" : "refused",
                     last_.line, last_.error.c_str());
}

std::string GvfsMountPlatform::loginName() {
    if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_name;
    return {};
}

bool GvfsMountPlatform::fileReadable(const std::string& path) {
    const std::string real = mapPath(path);
    // A marker that cannot even be placed counts as there: a failure.
    if (real.empty()) return true;
    return ::access(real.c_str(), R_OK) == 0;
}

// ---- volumes -------------------------------------------------------------------

std::string GvfsMountPlatform::liveTarget(const std::string& name, shares::SmbMount* mount) {
    if (!plainName(name)) return {};
    const std::string link = places_.volumes + "/" + name;
    if (!isLink(link)) return {};
    const std::string target = readLink(link);
    shares::SmbMount found;
    if (target.empty() || folderGone(target) || !gvfs_.mountOfPath(target, found)) return {};
    if (mount) *mount = found;
    return target;
}

bool GvfsMountPlatform::mountShare(const std::string& host, const std::string& share, const char* user,
                                   const char* password, std::string& path) {
    bool mountedHere = false;
    return gvfs_.mount(shares::smbUri(host, share), user, password, timeoutMs, path, mountedHere) ==
           shares::MountStatus::Ok;
}

bool GvfsMountPlatform::linkVolume(const std::string& share, const std::string& target, const std::string* linkPath) {
    if (!ensureDirectory(places_.volumes)) return false;
    if (linkPath) {
        ::unlink(linkPath->c_str());
        return ::symlink(target.c_str(), linkPath->c_str()) == 0;
    }
    // Named already.
    if (DIR* d = ::opendir(places_.volumes.c_str())) {
        bool named = false;
        while (dirent* e = ::readdir(d))
            if (isLink(places_.volumes + "/" + e->d_name) && readLink(places_.volumes + "/" + e->d_name) == target)
                named = true;
        ::closedir(d);
        if (named) return true;
    }
    for (int n = 0; n < 100; ++n) {
        const std::string name = n == 0 ? share : share + "-" + std::to_string(n);
        const std::string link = places_.volumes + "/" + name;
        // A stale name is free: its mount's folder is gone.
        if (isLink(link) && folderGone(link)) ::unlink(link.c_str());
        if (::symlink(target.c_str(), link.c_str()) == 0) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

GvfsMountPlatform::Asked GvfsMountPlatform::listed(const std::string& user, const std::string& host,
                                                   const std::string& share) {
    return {shares::encodeAddressPart(user), shares::encodeHost(host), shares::encodeAddressPart(share)};
}

void GvfsMountPlatform::remember(const std::string& path, const Asked& asked) {
    auto table = remembered();
    table[path] = asked;
    if (!ensureDirectory(places_.markers)) return;
    const std::string file = places_.markers + "/volumes", fresh = file + ".new";
    {
        std::ofstream out(fresh, std::ios::trunc);
        for (const auto& [p, a] : table) out << p << '\t' << a.user << '\t' << a.host << '\t' << a.share << '\n';
    }
    ::rename(fresh.c_str(), file.c_str());
}

std::map<std::string, GvfsMountPlatform::Asked> GvfsMountPlatform::remembered() {
    std::map<std::string, Asked> table;
    std::ifstream in(places_.markers + "/volumes");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string path;
        Asked a;
        if (std::getline(fields, path, '\t') && std::getline(fields, a.user, '\t') &&
            std::getline(fields, a.host, '\t') && std::getline(fields, a.share))
            table[path] = a;
    }
    return table;
}

bool GvfsMountPlatform::mountVolume(const std::string& url) {
    const auto a = shareAddress(url);
    if (!a) return false;
    const bool asUser = a->user && !a->user->empty();
    std::string path;
    const bool ok = asUser ? mountShare(a->host, a->share, a->user->c_str(), a->password.value_or("").c_str(), path)
                           : mountShare(a->host, a->share, nullptr, nullptr, path);
    if (!ok || !linkVolume(a->share, path, nullptr)) return false;
    remember(path, listed(asUser ? *a->user : "guest", a->host, a->share));
    return true;
}

bool GvfsMountPlatform::diskExists(const std::string& name) { return !liveTarget(name, nullptr).empty(); }

bool GvfsMountPlatform::eject(const std::string& name) {
    shares::SmbMount mount;
    const std::string target = liveTarget(name, &mount);
    if (target.empty()) return false;
    if (!gvfs_.unmount(mount.uri, false, timeoutMs)) return false;
    ::unlink((places_.volumes + "/" + name).c_str());
    return true;
}

// ---- commands ------------------------------------------------------------------

bool GvfsMountPlatform::runCommand(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    const std::string& command = argv[0];
    if (command == "rm" && argv.size() == 2) return ::unlink(argv[1].c_str()) == 0;
    if (command == "rm" && argv.size() == 3 && argv[1] == "-rf") {
        struct stat st{};
        if (::lstat(argv[2].c_str(), &st) != 0) return errno == ENOENT;
        if (!S_ISDIR(st.st_mode)) return ::unlink(argv[2].c_str()) == 0;
        // Never into another file system (a share mounted there stays whole).
        return ::nftw(argv[2].c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) == 0;
    }
    if (command == "touch" && argv.size() == 2) {
        const int fd = ::open(argv[1].c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        const bool ok = ::futimens(fd, nullptr) == 0;
        ::close(fd);
        return ok;
    }
    if (command == "mkdir" && argv.size() == 2) return ::mkdir(argv[1].c_str(), 0700) == 0;
    if (command == "mount_smbfs" && argv.size() == 3) {
        // "//USER:@HOST/SHARE DIR": a guest mount shown at DIR.
        if (argv[1].rfind("//", 0) != 0) return false;
        const auto a = shareAddress("smb:" + argv[1]);
        if (!a) return false;
        std::string path;
        const bool guest = !a->user || a->user->empty() || *a->user == "guest";
        if (!(guest ? mountShare(a->host, a->share, nullptr, nullptr, path)
                    : mountShare(a->host, a->share, a->user->c_str(), a->password.value_or("").c_str(), path)))
            return false;
        struct stat st{};
        if (::lstat(argv[2].c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::rmdir(argv[2].c_str()) != 0) return false;
        if (!linkVolume(a->share, path, &argv[2])) return false;
        remember(path, listed(guest ? "guest" : *a->user, a->host, a->share));
        return true;
    }
    return false;
}

// ---- the "mount" command -------------------------------------------------------

std::optional<std::vector<std::string>> GvfsMountPlatform::mountOutput() {
    std::vector<std::string> lines;
    std::vector<std::string> names;
    if (DIR* d = ::opendir(places_.volumes.c_str())) {
        while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    const std::string login = loginName();
    const auto asked = remembered();
    for (const std::string& name : names) {
        shares::SmbMount m;
        const std::string target = liveTarget(name, &m);
        if (target.empty()) continue;
        Asked a = listed(m.user.empty() ? std::string("guest") : m.user, m.host, m.share);
        if (const auto it = asked.find(target); it != asked.end()) a = it->second;
        lines.push_back("//" + a.user + "@" + a.host + "/" + a.share + " on " + places_.volumes + "/" + name +
                        " (smbfs, nodev, nosuid, mounted by " + login + ")");
    }
    return lines;
}

}  // namespace qs::mac
