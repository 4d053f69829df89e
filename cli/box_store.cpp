#include "box_store.h"

#include "cli_format.h"
#include "quayside/address.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <numeric>
#include <nlohmann/json.hpp>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace qs::cli {

namespace {

using nlohmann::json;

constexpr int kFileVersion = 1;
// A list of kMaxRememberedBoxes takes well under a megabyte.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

bool fail(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
}

// `key` of `j` into `out` when present: it must then be a string.
bool readText(const json& j, const char* key, std::string& out, std::string* why) {
    const auto it = j.find(key);
    if (it == j.end()) return true;
    if (!it->is_string()) return fail(why, std::string("\"") + key + "\" is not a string");
    out = it->get<std::string>();
    return true;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Every missing directory of `dir`, made private to the user.
bool makeDirectories(const std::string& dir, std::string* why) {
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = dir.find('/', at + 1);
        const std::string part = dir.substr(0, at);
        if (part.empty() || ::mkdir(part.c_str(), 0700) == 0 || errno == EEXIST) continue;
        return fail(why, errnoText("cannot create " + part));
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(why, dir + " is not a directory");
    return true;
}

// Writes all of `text` to `fd`.
bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::optional<std::vector<RememberedBox>> parseBoxes(std::string_view text, std::string* why) {
    const json doc = json::parse(text.begin(), text.end(), nullptr, false);
    if (doc.is_discarded()) return fail(why, "not JSON"), std::nullopt;
    if (!doc.is_object()) return fail(why, "not a JSON object"), std::nullopt;
    const auto version = doc.find("version");
    if (version == doc.end() || !version->is_number_integer() || *version != kFileVersion)
        return fail(why, "no \"version\": 1"), std::nullopt;
    const auto list = doc.find("boxes");
    if (list == doc.end() || !list->is_array()) return fail(why, "no \"boxes\" list"), std::nullopt;
    std::vector<RememberedBox> boxes;
    std::unordered_set<std::string> listed;
    for (const json& item : *list) {
        if (!item.is_object()) return fail(why, "a box that is not an object"), std::nullopt;
        RememberedBox b;
        if (!readText(item, "serverUUID", b.serverUUID, why)) return std::nullopt;
        const auto id = uuidFromHex(b.serverUUID);
        if (!id) return fail(why, "a box without a serverUUID of 16 hex digits"), std::nullopt;
        b.serverUUID = toHex(*id);
        for (const auto& [key, field] : {std::pair{"hostname", &b.hostname}, {"modelName", &b.modelName},
                                         {"mac", &b.mac}, {"answeredFrom", &b.answeredFrom},
                                         {"firstSeen", &b.firstSeen}, {"lastSeen", &b.lastSeen}})
            if (!readText(item, key, *field, why)) return std::nullopt;
        if (const auto by = item.find("byAddress"); by != item.end()) {
            if (!by->is_boolean()) return fail(why, "\"byAddress\" is not true or false"), std::nullopt;
            b.byAddress = by->get<bool>();
        }
        if (const auto ports = item.find("ports"); ports != item.end()) {
            if (!ports->is_array()) return fail(why, "\"ports\" is not a list"), std::nullopt;
            for (const json& p : *ports) {
                if (!p.is_object()) return fail(why, "a port that is not an object"), std::nullopt;
                RememberedPort port;
                for (const auto& [key, field] : {std::pair{"label", &port.label}, {"IP", &port.IP},
                                                 {"netmask", &port.netmask}, {"gateway", &port.gateway}})
                    if (!readText(p, key, *field, why)) return std::nullopt;
                b.ports.push_back(std::move(port));
            }
        }
        // One entry per box: a repeat (written by hand) is dropped.
        if (listed.insert(b.serverUUID).second) boxes.push_back(std::move(b));
    }
    return boxes;
}

std::string serializeBoxes(const std::vector<RememberedBox>& boxes) {
    json list = json::array();
    for (const RememberedBox& b : boxes) {
        json ports = json::array();
        for (const RememberedPort& p : b.ports)
            ports.push_back({{"label", p.label}, {"IP", p.IP}, {"netmask", p.netmask}, {"gateway", p.gateway}});
        list.push_back({{"serverUUID", b.serverUUID},
                        {"hostname", b.hostname},
                        {"modelName", b.modelName},
                        {"ports", ports},
                        {"mac", b.mac},
                        {"answeredFrom", b.answeredFrom},
                        {"firstSeen", b.firstSeen},
                        {"lastSeen", b.lastSeen},
                        {"byAddress", b.byAddress}});
    }
    // Device text need not be UTF-8: what is not is replaced, as in the
    // tool's JSON output.
    return json{{"version", kFileVersion}, {"boxes", list}}.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string isoTimeUtc(long long secondsSinceEpoch) {
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

void rememberFound(std::vector<RememberedBox>& boxes, const std::vector<const DeviceData_n*>& found,
                   const std::string& now) {
    // By hash: a search may bring thousands of answers.
    std::unordered_map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < boxes.size(); ++i) index.emplace(boxes[i].serverUUID, i);
    for (const DeviceData_n* d : found) {
        if (d->conflict) continue;
        const auto [at, added] = index.emplace(toHex(d->serverUUID), boxes.size());
        if (added) {
            RememberedBox fresh;
            fresh.serverUUID = at->first;
            fresh.firstSeen = now;
            boxes.push_back(std::move(fresh));
        }
        RememberedBox& b = boxes[at->second];
        b.hostname = d->hostname.str();
        b.modelName = d->modelName.str();
        b.ports.clear();
        for (const auto& [label, port] : shownPorts(*d))
            b.ports.push_back({label, port->IP.str(), port->netmask.str(), port->gateway.str()});
        const std::string from = textOf(d->answeredFrom);
        if (d->hardware)
            b.mac = formatHardwareAddress(*d->hardware);
        else if (from != b.answeredFrom)
            b.mac.clear();  // what was known belonged to another address
        b.answeredFrom = from;
        b.byAddress = d->byAddress;
        b.lastSeen = std::max(b.lastSeen, now);
        if (b.firstSeen.empty()) b.firstSeen = now;
    }
    if (boxes.size() <= kMaxRememberedBoxes) return;
    // Too many: the boxes found by address stay longest (answers through
    // the group are the ones anyone can forge by the thousand), then those
    // seen last (the times sort as text). The rest keep their order.
    std::vector<std::size_t> order(boxes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::tie(boxes[a].byAddress, boxes[a].lastSeen) > std::tie(boxes[b].byAddress, boxes[b].lastSeen);
    });
    std::vector<bool> keep(boxes.size(), false);
    for (std::size_t i = 0; i < kMaxRememberedBoxes; ++i) keep[order[i]] = true;
    std::vector<RememberedBox> kept;
    kept.reserve(kMaxRememberedBoxes);
    for (std::size_t i = 0; i < boxes.size(); ++i)
        if (keep[i]) kept.push_back(std::move(boxes[i]));
    boxes = std::move(kept);
}

std::vector<std::size_t> matchRemembered(const std::vector<RememberedBox>& boxes, const std::string& key) {
    const auto id = uuidFromHex(key);
    const std::string hex = id ? toHex(*id) : std::string();
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const RememberedBox& b = boxes[i];
        const bool port0 = !b.ports.empty() && !b.ports[0].IP.empty() && b.ports[0].IP == key;
        if ((id && b.serverUUID == hex) || b.hostname == key || port0 || (!key.empty() && b.answeredFrom == key))
            out.push_back(i);
    }
    return out;
}

std::optional<std::string> defaultBoxStorePath(std::string* why) {
    const char* state = std::getenv("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME is to be ignored.
    if (state && state[0] == '/') return std::string(state) + "/quayside/boxes.json";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') home = h;
    if (home.empty())
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') home = pw->pw_dir;
    if (home.empty()) return fail(why, "no home directory is known (HOME is not set)"), std::nullopt;
    return home + "/.local/state/quayside/boxes.json";
}

BoxStore::BoxStore(std::string path, Warn warn) : path_(std::move(path)), warn_(std::move(warn)) {}

void BoxStore::failed(const std::string& message) {
    if (warned_) return;
    warned_ = true;
    if (warn_) warn_(message);
}

int BoxStore::lock() {
    std::string why;
    if (!makeDirectories(directoryOf(path_), &why)) {
        failed("cannot keep the list of boxes (" + why + ")");
        return -1;
    }
    const std::string lockPath = path_ + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        failed("cannot keep the list of boxes (" + errnoText("cannot open " + lockPath) + ")");
        return -1;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        failed("cannot keep the list of boxes (" + errnoText("cannot lock " + lockPath) + ")");
        ::close(fd);
        return -1;
    }
    return fd;
}

bool BoxStore::readLocked(std::vector<RememberedBox>& boxes) {
    boxes.clear();
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return true;
    if (fd < 0) {
        failed("cannot read the list of boxes (" + errnoText(path_) + ")");
        return false;
    }
    std::string text;
    char buffer[65536];
    bool readFailed = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readFailed = true;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxFileBytes) break;
    }
    if (readFailed) failed("cannot read the list of boxes (" + errnoText(path_) + ")");
    ::close(fd);
    if (readFailed) return false;
    std::string why = "larger than 16 MiB";
    std::optional<std::vector<RememberedBox>> parsed;
    if (text.size() <= kMaxFileBytes) parsed = parseBoxes(text, &why);
    if (parsed) {
        boxes = std::move(*parsed);
        return true;
    }
    // Kept aside under a name of its own, never overwritten.
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string aside = path_ + ".damaged-" + stamp;
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0 || errno != ENOENT; ++n) {
        if (n > 100) {
            failed("cannot read the list of boxes: " + path_ + " is damaged (" + why + ") and could not be kept aside");
            return false;
        }
        aside = path_ + ".damaged-" + stamp + "-" + std::to_string(n);
    }
    if (::rename(path_.c_str(), aside.c_str()) != 0) {
        failed("cannot read the list of boxes: " + path_ + " is damaged (" + why + ") and could not be kept aside (" +
               errnoText(aside) + ")");
        return false;
    }
    if (warn_)
        warn_(path_ + " could not be read (" + why + "); it was kept as " + aside + ", and a new list of boxes begins");
    return true;
}

bool BoxStore::writeLocked(const std::vector<RememberedBox>& boxes) {
    const std::string dir = directoryOf(path_);
    std::string temp = dir + "/.boxes.json.XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        failed("cannot keep the list of boxes (" + errnoText("cannot write in " + dir) + ")");
        return false;
    }
    const std::string text = serializeBoxes(boxes);
    bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    std::string why = errnoText("cannot write " + temp);
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path_.c_str()) != 0) {
        why = errnoText("cannot replace " + path_);
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        failed("cannot keep the list of boxes (" + why + ")");
        return false;
    }
    // The new name itself reaches the disk.
    if (const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return true;
}

bool BoxStore::load(std::vector<RememberedBox>& boxes) {
    const int fd = lock();
    if (fd < 0) return false;
    const bool ok = readLocked(boxes);
    ::close(fd);
    return ok;
}

bool BoxStore::update(const std::function<bool(std::vector<RememberedBox>&)>& change) {
    const int fd = lock();
    if (fd < 0) return false;
    std::vector<RememberedBox> boxes;
    bool ok = readLocked(boxes);
    if (ok && change(boxes)) ok = writeLocked(boxes);
    ::close(fd);
    return ok;
}

}  // namespace qs::cli
