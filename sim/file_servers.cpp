#include "file_servers.h"

#include "process.h"

#include "quayside/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace qs::sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint16_t kSmbPort = 445;
// The administrator's uid and gid inside a server's own passwd file. The
// share directories belong to it; nothing outside the server's directory
// (mode 0711, owned by root) is ever given to it.
constexpr uid_t kAdminId = 61000;
constexpr auto kListenWait = 10s;
constexpr auto kStopGrace = 3s;
constexpr auto kKillWait = 2s;
constexpr auto kToolLimit = 15s;
constexpr int kLogLines = 15;
// Where Debian's Samba logs unless told otherwise.
constexpr const char* kSambaLogDir = "/var/log/samba";

void note(const std::string& text) { std::fprintf(stderr, "vsb-sim: %s\n", text.c_str()); }

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& i : items) out += (out.empty() ? "" : ", ") + i;
    return out;
}

// Where the servers' directories go: TMPDIR when it is a plain absolute
// path (smb.conf takes '%' and friends as substitutions), else /tmp.
std::string tempRoot() {
    const char* env = std::getenv("TMPDIR");
    if (!env || env[0] != '/') return "/tmp";
    const std::string dir = env;
    const bool plain = std::all_of(dir.begin(), dir.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
               c == '_' || c == '-';
    });
    std::error_code ec;
    return plain && std::filesystem::is_directory(dir, ec) ? dir : "/tmp";
}

bool writeFile(const std::string& path, const std::string& text, mode_t mode) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return out.good() && ::chmod(path.c_str(), mode) == 0;
}

bool makeDir(const std::string& path, mode_t mode) {
    return ::mkdir(path.c_str(), mode) == 0 && ::chmod(path.c_str(), mode) == 0;
}

// A Unix user name Samba and nss_wrapper take as they are, and not one the
// passwd file needs for itself.
bool usableUserName(const std::string& name) {
    if (name.empty() || name.size() > 32 || name == "root" || name == "nobody") return false;
    if (!((name[0] >= 'a' && name[0] <= 'z') || name[0] == '_')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

// What smb.conf and the SMB protocol accept as a share name.
bool usableShareName(const std::string& name) {
    if (name.empty() || name.size() > 80) return false;
    if (name.find_first_of("[]%<>*?|/\\+=;:\",") != std::string::npos) return false;
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return false;
    if (name.front() == ' ' || name.back() == ' ') return false;  // smb.conf trims them
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower != "global" && lower != "homes" && lower != "printers" && lower != "ipc$";
}

// The NetBIOS name: the host name's letters, digits and dashes, at most 15.
std::string netbiosName(const std::string& host) {
    std::string out;
    for (char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-') out += static_cast<char>(std::toupper(u));
    }
    out.resize(std::min<std::size_t>(out.size(), 15));
    return out.empty() ? "VSB-SIM" : out;
}

// A text for an smb.conf value: one line, no substitutions.
std::string confText(const std::string& text) {
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 && c != '%') out += c;
    return out;
}

std::string smbConf(const std::string& dir, const DeviceConfig& d, const std::vector<std::string>& shares) {
    std::string c = "# Written by vsb-sim for " + confText(d.hostname) + "; removed when it ends.\n[global]\n";
    auto set = [&](const std::string& key, const std::string& value) { c += "   " + key + " = " + value + "\n"; };
    set("server role", "standalone server");
    set("netbios name", netbiosName(d.hostname));
    set("workgroup", "WORKGROUP");
    set("server string", confText(d.hostname + " (" + d.model + ")"));
    set("interfaces", d.serverAddress() + "/8");
    set("bind interfaces only", "yes");
    set("smb ports", std::to_string(kSmbPort));
    set("disable netbios", "yes");
    set("load printers", "no");
    set("printing", "bsd");
    set("printcap name", "/dev/null");
    set("disable spoolss", "yes");
    set("map to guest", "Bad User");
    set("guest account", "nobody");
    set("passdb backend", "tdbsam");
    set("obey pam restrictions", "no");
    set("unix password sync", "no");
    set("dns proxy", "no");
    set("usershare max shares", "0");
    // All state stays in the server's directory.
    const std::pair<const char*, const char*> places[] = {
        {"lock directory", "lock"}, {"state directory", "state"}, {"cache directory", "cache"},
        {"pid directory", "pid"},   {"private dir", "private"},   {"ncalrpc dir", "ncalrpc"},
        {"binddns dir", "binddns"},
    };
    for (const auto& [key, sub] : places) set(key, dir + "/" + sub);
    set("log file", dir + "/smbd.log");
    set("log level", "1");
    set("max log size", "1000");
    for (std::size_t i = 0; i < shares.size(); ++i) {
        c += "\n[" + shares[i] + "]\n";
        set("path", dir + "/shares/" + std::to_string(i + 1));
        set("read only", "no");
        set("browseable", "yes");
        // Guests work as the administrator's account on their share, so no
        // share folder has to be writable by every user of the host.
        if (d.smbGuest && !shareLocked(d.shares, shares[i])) {
            set("guest ok", "yes");
            set("force user", d.user);
        } else {
            set("valid users", d.user);
        }
        set("create mask", "0664");
        set("directory mask", "0775");
    }
    return c;
}

// Whether something accepts TCP connections at address:port.
bool accepts(const std::string& address, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const sockaddr_in sin = qs::socketAddressOf(qs::Ipv4::parse(address).value_or(qs::Ipv4{}), port);
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        ok = ::poll(&p, 1, 200) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
    ::close(fd);
    return ok;
}

// Whether address:port is free to listen on (something else listening there
// would answer the readiness check in smbd's place).
bool canListen(const std::string& address, std::uint16_t port, int& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const sockaddr_in sin = qs::socketAddressOf(qs::Ipv4::parse(address).value_or(qs::Ipv4{}), port);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0;
    error = errno;
    ::close(fd);
    return ok;
}

std::string describeStatus(int status) {
    if (WIFEXITED(status)) return "with exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("by signal ") + ::strsignal(WTERMSIG(status));
    return "";
}

}  // namespace

bool FileServers::start(const std::vector<const DeviceConfig*>& devices, bool verbose, int signalFd) {
    std::vector<const DeviceConfig*> wanted;
    std::vector<std::string> hosts;
    for (const DeviceConfig* d : devices) {
        if (!d->smb) continue;
        wanted.push_back(d);
        hosts.push_back(d->hostname);
    }
    if (wanted.empty()) return true;
    const std::string without = "; " + joined(hosts) + " run without file shares";
    if (::geteuid() != 0) {
        note("note: the file shares need root" + without);
        return true;
    }
    const auto smbd = findProgram("smbd");
    const auto smbpasswd = findProgram("smbpasswd");
    if (!smbd || !smbpasswd) {
        note("note: Samba is not installed (no smbd or smbpasswd; Debian package samba)" + without);
        return true;
    }
    const auto nssWrapper = findFile({"/usr/lib/*/libnss_wrapper.so", "/usr/lib64/libnss_wrapper.so",
                                      "/usr/lib/libnss_wrapper.so", "/usr/local/lib/libnss_wrapper.so"});
    if (!nssWrapper) {
        note("note: libnss_wrapper.so is not installed (Debian package libnss-wrapper)" + without);
        return true;
    }
    smbd_ = *smbd;
    smbpasswd_ = *smbpasswd;
    // Whatever the servers leave behind when they end (samba-dcerpcd and
    // its workers run in their own session) becomes our child, so stop()
    // finds it and nothing outlives the simulator.
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) note(std::string("PR_SET_CHILD_SUBREAPER: ") + std::strerror(errno));

    for (const DeviceConfig* d : wanted) {
        Server s;
        s.host = d->hostname;
        s.address = d->serverAddress();
        if (int err = 0; !canListen(s.address, kSmbPort, err)) {
            note("no file shares for " + s.host + ": cannot listen on " + s.address + ":" + std::to_string(kSmbPort) +
                 ": " + std::strerror(err));
            continue;
        }
        std::string pattern = tempRoot() + "/vsb-sim-smb-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            note("no file shares for " + s.host + ": cannot make a directory in " + tempRoot() + ": " +
                 std::strerror(errno));
            continue;
        }
        s.dir = pattern;
        s.conf = s.dir + "/smb.conf";
        s.log = s.dir + "/smbd.log";
        const std::vector<std::string> env = environmentWith({{"LD_PRELOAD", *nssWrapper},
                                                              {"NSS_WRAPPER_PASSWD", s.dir + "/passwd"},
                                                              {"NSS_WRAPPER_GROUP", s.dir + "/group"}});
        if (prepare(s, *d, env)) {
            SpawnRequest run{
                .argv = {smbd_, "--foreground", "--no-process-group", "-s", s.conf, "-l", s.dir + "/logs"},
                .env = env,
                .outputPath = s.log,
                .ownProcessGroup = true,
            };
            // The RPC helpers smbd starts open their log in the compiled-in
            // log directory before they read the config; they get the
            // server's own directory there instead.
            std::error_code ec;
            if (std::filesystem::is_directory(kSambaLogDir, ec)) run.privateMounts = {{s.dir + "/logs", kSambaLogDir}};
            std::string error;
            s.pid = spawnProgram(run, error);
            if (s.pid < 0) note("no file shares for " + s.host + ": " + error);
        }
        servers_.push_back(std::move(s));
    }
    if (!waitUntilListening(signalFd)) return false;
    if (verbose) {
        for (const Server& s : servers_) {
            if (!s.listening) continue;
            std::fprintf(stderr, "vsb-sim: shares of %s on //%s: %s (smbd pid %d, config %s)\n", s.host.c_str(),
                         s.address.c_str(), joined(s.shares).c_str(), static_cast<int>(s.pid), s.conf.c_str());
        }
    }
    return true;
}

bool FileServers::prepare(Server& s, const DeviceConfig& d, const std::vector<std::string>& env) {
    auto fail = [&](const std::string& why) {
        note("no file shares for " + s.host + ": " + why);
        return false;
    };
    if (!usableUserName(d.user))
        return fail("its user name \"" + confText(d.user) + "\" cannot be a Unix user (lower-case letters, digits, "
                    "'_' and '-'; not root or nobody)");
    if (d.password.find_first_of("\r\n") != std::string::npos || d.password.find('\0') != std::string::npos)
        return fail("its password has a line break or NUL in it");
    for (const std::string& name : shareNames(d.shares)) {
        if (usableShareName(name)) s.shares.push_back(name);
        else note("device " + s.host + ": share \"" + confText(name) + "\" is not a usable SMB share name; left out");
    }

    const std::string& dir = s.dir;
    bool ok = ::chmod(dir.c_str(), 0711) == 0;
    for (const char* sub : {"lock", "state", "cache", "pid", "ncalrpc", "binddns", "logs", "shares"})
        ok = ok && makeDir(dir + "/" + sub, 0755);
    ok = ok && makeDir(dir + "/private", 0700);
    for (std::size_t i = 0; ok && i < s.shares.size(); ++i) {
        const std::string share = dir + "/shares/" + std::to_string(i + 1);
        ok = makeDir(share, 0770) && ::chown(share.c_str(), kAdminId, kAdminId) == 0;
    }
    const std::string id = std::to_string(kAdminId);
    ok = ok && writeFile(dir + "/passwd",
                         "root:x:0:0:root:/root:/bin/false\n"
                         "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n" +
                             d.user + ":x:" + id + ":" + id + ":administrator:/nonexistent:/usr/sbin/nologin\n",
                         0644);
    ok = ok && writeFile(dir + "/group", "root:x:0:\nnogroup:x:65534:\n" + d.user + ":x:" + id + ":\n", 0644);
    ok = ok && writeFile(s.conf, smbConf(dir, d, s.shares), 0644);
    if (!ok) return fail("cannot set up " + dir + ": " + std::strerror(errno));

    std::string error;
    const SpawnRequest add{.argv = {smbpasswd_, "-c", s.conf, "-s", "-a", d.user}, .env = env, .outputPath = s.log};
    const int rc = runProgram(add, d.password + "\n" + d.password + "\n", kToolLimit, error);
    if (rc != 0)
        return fail("smbpasswd failed" + (error.empty() ? " with exit status " + std::to_string(rc) : ": " + error) +
                    "; the end of its output:\n" + fileTail(s.log, kLogLines));
    return true;
}

bool FileServers::waitUntilListening(int signalFd) {
    const auto deadline = Clock::now() + kListenWait;
    for (;;) {
        reap();
        bool waiting = false;
        for (Server& s : servers_) {
            if (s.pid < 0 || s.listening) continue;
            s.listening = accepts(s.address, kSmbPort);
            waiting = waiting || !s.listening;
        }
        if (!waiting) return true;
        if (Clock::now() >= deadline) break;
        pollfd p{signalFd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN) && takeStopSignal(signalFd)) return false;
    }
    for (Server& s : servers_) {
        if (s.pid < 0 || s.listening) continue;
        note("smbd of " + s.host + " did not accept connections on " + s.address + ":" + std::to_string(kSmbPort) +
             " within " + std::to_string(kListenWait.count()) + " s; it is stopped. The end of its log:\n" +
             fileTail(s.log, kLogLines));
        for (pid_t p : descendantsOf(s.pid)) ::kill(p, SIGKILL);
        ::kill(-s.pid, SIGKILL);
        ::waitpid(s.pid, nullptr, 0);
        s.pid = -1;
    }
    return true;
}

std::optional<int> FileServers::reap(pid_t watched) {
    std::optional<int> watchedStatus;
    for (;;) {
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid <= 0) return watchedStatus;
        if (pid == watched) watchedStatus = status;
        for (Server& s : servers_) {
            if (s.pid != pid) continue;
            s.pid = -1;
            if (!stopping_) reportEnd(s, status);
        }
    }
}

void FileServers::reportEnd(const Server& s, int status) const {
    note("smbd of " + s.host + " (//" + s.address + ") ended " + (s.listening ? "" : "before it listened ") +
         describeStatus(status) + "; its shares are gone. The end of its log:\n" + fileTail(s.log, kLogLines));
}

void FileServers::stop() {
    if (servers_.empty()) return;
    stopping_ = true;
    const pid_t self = ::getpid();
    // Each server leads its own process group (its workers stay in it);
    // what left the group is still below us.
    std::set<pid_t> told;
    for (const Server& s : servers_)
        if (s.pid > 0) ::kill(-s.pid, SIGTERM);
    auto tellAll = [&](int sig) {
        for (pid_t p : descendantsOf(self))
            if (sig == SIGKILL || told.insert(p).second) ::kill(p, sig);
    };
    tellAll(SIGTERM);
    const auto graceEnd = Clock::now() + kStopGrace;
    for (;;) {
        reap();
        if (descendantsOf(self).empty()) break;
        if (Clock::now() >= graceEnd) {
            for (const Server& s : servers_)
                if (s.pid > 0) ::kill(-s.pid, SIGKILL);
            tellAll(SIGKILL);
            const auto killEnd = Clock::now() + kKillWait;
            while (!descendantsOf(self).empty() && Clock::now() < killEnd) {
                reap();
                std::this_thread::sleep_for(20ms);
            }
            reap();
            break;
        }
        tellAll(SIGTERM);  // those that became ours since
        std::this_thread::sleep_for(20ms);
    }
    for (const Server& s : servers_) {
        std::error_code ec;
        std::filesystem::remove_all(s.dir, ec);
        if (ec) note("cannot remove " + s.dir + ": " + ec.message());
    }
    servers_.clear();
}

}  // namespace qs::sim
