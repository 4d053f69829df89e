// The GVfs lab (see gvfs_lab.h): a private smbd on 127.0.0.9:445 under
// nss_wrapper, a private session bus with GVfs, and temporary home, runtime
// and share directories, all removed again by stop().
#include "support/gvfs_lab.h"

#include "quayside/address.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace qs::test {

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return bool(f);
}

std::string readText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

namespace {

std::string findProgram(const std::string& name, const std::vector<std::string>& dirs) {
    for (const std::string& d : dirs) {
        const std::string p = d + "/" + name;
        if (::access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

const std::vector<std::string> kBinDirs = {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"};
const std::vector<std::string> kLibexecDirs = {"/usr/libexec", "/usr/lib/gvfs", "/usr/local/libexec"};

std::string findLibrary(const std::string& name) {
    for (const char* d : {"/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu", "/usr/lib64", "/usr/lib", "/lib"}) {
        const std::string p = std::string(d) + "/" + name;
        if (::access(p.c_str(), R_OK) == 0) return p;
    }
    return {};
}

// Starts a program with the environment plus `extra` ("NAME=value"),
// standard output to `outFd` (or /dev/null), without a shell.
pid_t spawnWith(const std::vector<std::string>& argv, const std::vector<std::string>& extra, int outFd = -1,
                int inFd = -1) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra)
            if (x.compare(0, key.size() + 1, key + "=") == 0) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<char*> envp, args;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (auto& a : argCopy) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (inFd >= 0) posix_spawn_file_actions_adddup2(&fa, inFd, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&fa, outFd, 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    // A process group of its own: what the bus and its services do to
    // their group never reaches the program that runs the lab.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &fa, &attr, args.data(), envp.data()) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Runs to completion with `input` on standard input; the exit code.
int runWith(const std::vector<std::string>& argv, const std::vector<std::string>& extra, const std::string& input) {
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return -1;
    const pid_t pid = spawnWith(argv, extra, -1, in[0]);
    ::close(in[0]);
    ::signal(SIGPIPE, SIG_IGN);
    (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);
    if (pid <= 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool portOpen(const char* address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = socketAddressOf(Ipv4::parse(address).value_or(Ipv4{}), static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Processes whose environment carries the marker (every process this lab
// started, and what they started in turn).
std::vector<pid_t> processesMarked(const std::string& marker) {
    std::vector<pid_t> out;
    DIR* d = ::opendir("/proc");
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0 || pid == ::getpid()) continue;
        const std::string env = readText(std::string("/proc/") + e->d_name + "/environ");
        std::size_t at = 0;
        while (at < env.size()) {
            const std::size_t end = env.find('\0', at);
            if (env.compare(at, (end == std::string::npos ? env.size() : end) - at, marker) == 0) {
                out.push_back(pid);
                break;
            }
            if (end == std::string::npos) break;
            at = end + 1;
        }
    }
    ::closedir(d);
    return out;
}

}  // namespace

void Lab::setEnv(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    savedEnv.emplace_back(name, old ? std::string("=") + old : std::string());
    ::setenv(name, value.c_str(), 1);
}
void Lab::unsetEnv(const char* name) {
    const char* old = std::getenv(name);
    savedEnv.emplace_back(name, old ? std::string("=") + old : std::string());
    ::unsetenv(name);
}

void Lab::start() {
    if (serverless) return startSession();
    if (::geteuid() != 0) return void(skip = "needs root (smbd on port 445 of 127.0.0.9, FUSE mounts)");
    const std::string smbd_ = findProgram("smbd", kBinDirs);
    const std::string smbpasswd = findProgram("smbpasswd", kBinDirs);
    smbclient = findProgram("smbclient", kBinDirs);
    const std::string dbus = findProgram("dbus-daemon", kBinDirs);
    const std::string gvfsd = findProgram("gvfsd", kLibexecDirs);
    if (smbd_.empty() || smbpasswd.empty()) return void(skip = "no smbd/smbpasswd (package samba)");
    if (smbclient.empty()) return void(skip = "no smbclient (package smbclient)");
    if (dbus.empty()) return void(skip = "no dbus-daemon (package dbus)");
    if (gvfsd.empty()) return void(skip = "no gvfsd (package gvfs)");
    if (findProgram("gvfsd-smb", kLibexecDirs).empty()) return void(skip = "no gvfsd-smb (package gvfs-backends)");
    if (findProgram("gvfsd-fuse", kLibexecDirs).empty()) return void(skip = "no gvfsd-fuse (package gvfs-fuse)");
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return void(skip = "no usable /dev/fuse");
    if (findLibrary("libnss_wrapper.so").empty()) return void(skip = "no libnss_wrapper.so (package libnss-wrapper)");
    if (portOpen(kLabServer, 445)) return void(skip = "127.0.0.9:445 is already taken");
    startSession();
}

void Lab::startSession() {
    const std::string dbus = findProgram("dbus-daemon", kBinDirs);
    if (dbus.empty()) return void(skip = "no dbus-daemon (package dbus)");
    if (findProgram("gvfsd", kLibexecDirs).empty()) return void(skip = "no gvfsd (package gvfs)");
    char tmpl[] = "/tmp/qs-gvfs-lab-XXXXXX";
    if (!::mkdtemp(tmpl)) return void(skip = "cannot make a temporary directory");
    dir = tmpl;
    ::chmod(dir.c_str(), 0711);  // the share's user passes through to the share
    marker = "QS_GVFS_LAB=" + dir;
    home = dir + "/home";
    runtime = dir + "/run";
    share = dir + "/share";
    publicShare = dir + "/public";
    for (const char* sub : {"home", "run", "share", "public", "state", "private", "lock", "cache", "pid", "ncalrpc", "binddns"})
        fs::create_directories(dir + "/" + sub);
    ::chmod(runtime.c_str(), 0700);
    ::chmod(share.c_str(), 0777);
    ::chmod(publicShare.c_str(), 0777);
    if (!serverless && !startServer()) return;
    startBus(dbus);
}

bool Lab::startServer() {
    const std::string smbd_ = findProgram("smbd", kBinDirs);
    const std::string smbpasswd = findProgram("smbpasswd", kBinDirs);
    writeText(dir + "/passwd",
              "root:x:0:0:root:/root:/bin/sh\nadmin:x:4711:4711:admin:" + home +
                  ":/bin/false\nnobody:x:65534:65534:nobody:/nonexistent:/bin/false\n");
    writeText(dir + "/group", "root:x:0:\nadmin:x:4711:\nnogroup:x:65534:\n");
    std::string conf = "[global]\n"
                       "  interfaces = 127.0.0.9/8\n"
                       "  bind interfaces only = yes\n"
                       "  smb ports = 445\n"
                       "  server role = standalone server\n"
                       "  map to guest = " + std::string(guestShare ? "bad user" : "never") + "\n"
                       "  guest account = nobody\n"
                       "  load printers = no\n"
                       "  printing = bsd\n"
                       "  printcap name = /dev/null\n"
                       "  disable spoolss = yes\n"
                       "  server min protocol = SMB2\n"
                       "  usershare path =\n"
                       "  log level = 1\n";
    for (const char* sub : {"state", "private", "lock", "cache", "pid", "ncalrpc", "binddns"}) {
        const std::string key = std::string(sub) == "private" ? "private dir" : std::string(sub) + " directory";
        conf += "  " + key + " = " + dir + "/" + sub + "\n";
    }
    conf += "  log file = " + dir + "/smbd.log\n";
    conf += "  passdb backend = tdbsam:" + dir + "/private/passdb.tdb\n";
    conf += "[Volume_1]\n  path = " + share + "\n  valid users = admin\n  read only = no\n";
    if (guestShare)
        for (const char* name : {kLabGuestShare, kLabOddShare})
            conf += std::string("[") + name + "]\n  path = " + publicShare + "\n  guest ok = yes\n  read only = no\n";
    writeText(dir + "/smb.conf", conf);

    const std::vector<std::string> nss = {marker, "LD_PRELOAD=libnss_wrapper.so", "NSS_WRAPPER_PASSWD=" + dir + "/passwd",
                                          "NSS_WRAPPER_GROUP=" + dir + "/group"};
    const std::string pw = std::string(kLabPassword) + "\n" + kLabPassword + "\n";
    if (runWith({smbpasswd, "-c", dir + "/smb.conf", "-s", "-a", "admin"}, nss, pw) != 0) {
        skip = "smbpasswd could not add the user";
        return false;
    }
    smbd = spawnWith({smbd_, "-s", dir + "/smb.conf", "--foreground", "--no-process-group"}, nss);
    for (int i = 0; i < 200 && !portOpen(kLabServer, 445); ++i) std::this_thread::sleep_for(50ms);
    if (!portOpen(kLabServer, 445)) {
        skip = "smbd did not start listening on 127.0.0.9:445";
        return false;
    }
    return true;
}

void Lab::startBus(const std::string& dbus) {
    // The session: runtime directory first, then the bus that gvfsd
    // starts from; home, links, bookmarks and table under the lab.
    setEnv("XDG_RUNTIME_DIR", runtime);
    setEnv("GVFS_REMOTE_VOLUME_MONITOR_IGNORE", "1");
    setEnv("HOME", home);
    unsetEnv("XDG_STATE_HOME");
    unsetEnv("XDG_CONFIG_HOME");
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return void(skip = "no pipe");
    // The SMB client of the session resolves names only through the host
    // table (never by broadcast), so nothing leaves the machine.
    fs::create_directories(home + "/.smb");
    writeText(home + "/.smb/smb.conf",
              "[global]\n  name resolve order = host\n  disable netbios = yes\n  client min protocol = SMB2\n");
    // The session's services (GVfs among them) inherit the bus's
    // environment: the lab's host names reach them through nss_wrapper.
    std::vector<std::string> busEnv = {marker};
    if (!hosts.empty()) {
        std::string table;
        for (const auto& [name, address] : hosts) table += address + " " + name + "\n";
        writeText(dir + "/hosts", table);
        busEnv.push_back("LD_PRELOAD=libnss_wrapper.so");
        busEnv.push_back("NSS_WRAPPER_HOSTS=" + dir + "/hosts");
    }
    // The bus offers GVfs's services only: a desktop's others (a secret
    // service among them) are the lab's choice, not the machine's.
    fs::create_directories(dir + "/services");
    for (const char* service : {"org.gtk.vfs.Daemon.service", "org.gtk.vfs.Metadata.service"}) {
        const std::string text = readText(std::string("/usr/share/dbus-1/services/") + service);
        if (!text.empty()) writeText(dir + "/services/" + service, text);
    }
    writeText(dir + "/bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n  <type>session</type>\n  <keep_umask/>\n"
              "  <listen>unix:dir=" + runtime + "</listen>\n  <auth>EXTERNAL</auth>\n"
              "  <servicedir>" + dir + "/services</servicedir>\n"
              "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
    bus = spawnWith({dbus, "--config-file=" + dir + "/bus.conf", "--nofork", "--print-address=1"}, busEnv, out[1]);
    ::close(out[1]);
    std::string address;
    pollfd p{out[0], POLLIN, 0};
    char buf[512];
    while (address.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        address.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (address.find('\n') == std::string::npos) return void(skip = "dbus-daemon gave no address");
    address.resize(address.find('\n'));
    setEnv("DBUS_SESSION_BUS_ADDRESS", address);
}

std::string Lab::startKeyring() {
    const std::string daemon = findProgram("gnome-keyring-daemon", kBinDirs);
    if (daemon.empty()) return "no gnome-keyring-daemon (package gnome-keyring)";
    const std::string dbusSend = findProgram("dbus-send", kBinDirs);
    if (dbusSend.empty()) return "no dbus-send (package dbus-bin)";
    // Its login keyring, made and unlocked with a password read from
    // standard input (an empty one makes no keyring).
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return "no pipe";
    keyringDaemon = spawnWith({daemon, "--foreground", "--unlock", "--components=secrets"}, {marker}, -1, in[0]);
    ::close(in[0]);
    ::signal(SIGPIPE, SIG_IGN);
    const std::string unlock = "lab-keyring";
    (void)!::write(in[1], unlock.data(), unlock.size());
    ::close(in[1]);
    if (keyringDaemon <= 0) return "gnome-keyring-daemon did not start";
    // Ready once the secret service answers on the bus.
    for (int i = 0; i < 100; ++i) {
        if (runWith({dbusSend, "--session", "--print-reply", "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
                     "org.freedesktop.DBus.Peer.Ping"},
                    {}, "") == 0)
            return {};
        std::this_thread::sleep_for(100ms);
    }
    stopKeyring();
    return "gnome-keyring-daemon did not take org.freedesktop.secrets on the lab's bus";
}

void Lab::stopKeyring() {
    if (keyringDaemon <= 0) return;
    ::kill(keyringDaemon, SIGTERM);
    ::waitpid(keyringDaemon, nullptr, 0);
    keyringDaemon = -1;
}

void Lab::stop() {
    if (dir.empty()) return;
    // The FUSE view first, so nothing below can hang on it.
    ::umount2((runtime + "/gvfs").c_str(), MNT_DETACH);
    stopKeyring();
    for (pid_t pid : {bus, smbd})
        if (pid > 0) ::kill(pid, SIGTERM);
    for (pid_t pid : processesMarked(marker)) ::kill(pid, SIGTERM);
    for (pid_t pid : {bus, smbd})
        if (pid > 0) ::waitpid(pid, nullptr, 0);
    for (int i = 0; i < 50 && !processesMarked(marker).empty(); ++i) std::this_thread::sleep_for(100ms);
    for (pid_t pid : processesMarked(marker)) ::kill(pid, SIGKILL);
    ::umount2((runtime + "/gvfs").c_str(), MNT_DETACH);
    std::error_code ec;
    for (int i = 0; i < 5 && fs::exists(dir); ++i) {
        fs::remove_all(dir, ec);
        if (ec) std::fprintf(stderr, "removing %s: %s\n", dir.c_str(), ec.message().c_str());
        if (fs::exists(dir)) std::this_thread::sleep_for(200ms);
    }
    for (auto it = savedEnv.rbegin(); it != savedEnv.rend(); ++it) {
        if (it->second.empty())
            ::unsetenv(it->first.c_str());
        else
            ::setenv(it->first.c_str(), it->second.c_str() + 1, 1);
    }
    dir.clear();
}

}  // namespace qs::test
