#include "device_watch.h"

#include "cli_format.h"
#include "quayside/device_library.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace qs::cli {

const char* watchEventName(WatchEventKind kind) {
    switch (kind) {
        case WatchEventKind::New: return "new";
        case WatchEventKind::Changed: return "changed";
        case WatchEventKind::Gone: return "gone";
    }
    return "?";
}

std::vector<std::string> changedFields(const nlohmann::json& before, const nlohmann::json& after) {
    std::vector<std::string> fields;
    for (const auto& [key, value] : after.items()) {
        const auto old = before.find(key);
        if (old != before.end() && *old == value) continue;
        if (key == "ports" && old != before.end() && old->is_array() && value.is_array() &&
            old->size() == value.size()) {
            for (std::size_t p = 0; p < value.size(); ++p)
                for (const auto& [field, v] : value[p].items()) {
                    const auto o = (*old)[p].find(field);
                    if (o == (*old)[p].end() || *o != v)
                        fields.push_back("ports[" + std::to_string(p) + "]." + field);
                }
            continue;
        }
        fields.push_back(key);
    }
    for (const auto& [key, value] : before.items())
        if (!after.contains(key)) fields.push_back(key);
    return fields;
}

std::vector<WatchEvent> DeviceWatch::update(const DeviceRegistry& devices,
                                            const std::vector<std::string>& interfaceAddresses) {
    std::vector<WatchEvent> events;
    std::map<std::string, bool> heard;
    std::size_t told = 0;
    withheldNew_ = 0;
    for (std::size_t i = 0; i < devices.count(); ++i) {
        const DeviceData_n& d = devices.at(i);
        nlohmann::json record = deviceJson(d);
        const auto index = static_cast<std::size_t>(d.localIfIndex);
        const bool inTable = d.localIfIndex >= 0 && index < interfaceAddresses.size();
        record["localInterface"] = inTable ? interfaceAddresses[index] : "";
        const std::string key = record.at("serverUUID").get<std::string>();
        if (!heard.emplace(key, true).second) continue;
        auto it = known_.find(key);
        if (it == known_.end()) {
            if (told < kNewPerSearch) {
                events.push_back({WatchEventKind::New, record, {}});
                ++told;
            } else {
                ++withheldNew_;
            }
            known_.emplace(key, Known{std::move(record), 0});
            continue;
        }
        it->second.misses = 0;
        // The index alone says nothing: localInterface names the interface.
        auto fields = changedFields(it->second.record, record);
        std::erase(fields, "localIfIndex");
        // A neighbour entry comes and goes with traffic: only one hardware
        // address in place of another is a change.
        if (!it->second.record.value("mac", nlohmann::json()).is_string() || !record.at("mac").is_string())
            std::erase(fields, "mac");
        if (!fields.empty()) events.push_back({WatchEventKind::Changed, record, std::move(fields)});
        it->second.record = std::move(record);
    }
    for (auto it = known_.begin(); it != known_.end();) {
        if (heard.count(it->first) || ++it->second.misses < missesForGone_) {
            ++it;
            continue;
        }
        events.push_back({WatchEventKind::Gone, std::move(it->second.record), {}});
        it = known_.erase(it);
    }
    return events;
}

nlohmann::json watchEventJson(const WatchEvent& event) {
    nlohmann::json j = event.record;
    j["event"] = watchEventName(event.kind);
    if (event.kind == WatchEventKind::Changed) j["fields"] = event.fields;
    return j;
}

namespace {

std::string text(const nlohmann::json& record, const char* key) {
    const auto it = record.find(key);
    return it != record.end() && it->is_string() ? escapeText(it->get<std::string>()) : std::string();
}

// The ports as the search table labels them.
std::string portsText(const nlohmann::json& record) {
    const auto ports = record.find("ports");
    if (ports == record.end() || !ports->is_array() || ports->empty()) return {};
    const int ifCount = record.value("ifCount", 1);
    const bool bonded = record.value("bondingEnable", false);
    const std::size_t shown = ifCount >= 2 && !bonded && ports->size() >= 2 ? 2 : 1;
    std::string out;
    for (std::size_t p = 0; p < shown; ++p) {
        const auto& port = (*ports)[p];
        const std::string label = ifCount < 2 ? "LAN" : bonded ? "LAN1+LAN2" : "LAN" + std::to_string(p + 1);
        out += (p ? ", " : "") + label + " " + text(port, "IP") + " netmask " + text(port, "netmask") + " gateway " +
               text(port, "gateway") + " DHCP " + (port.value("dhcpEnable", false) ? "on" : "off");
    }
    return out;
}

}  // namespace

std::string watchEventText(const WatchEvent& event) {
    const nlohmann::json& r = event.record;
    std::string line = std::string(watchEventName(event.kind)) + " " + text(r, "serverUUID") + ": " +
                       text(r, "hostname") + ", " + text(r, "modelName");
    if (event.kind == WatchEventKind::Gone) return line;
    line += ", " + portsText(r);
    if (event.kind == WatchEventKind::Changed) {
        line += "; changed:";
        for (std::size_t i = 0; i < event.fields.size(); ++i) line += (i ? ", " : " ") + escapeText(event.fields[i]);
    }
    return line;
}

namespace {

// The line's keys and their cells, the ports' keys one by one.
std::vector<std::pair<std::string, std::string>> flatten(const nlohmann::json& line) {
    std::vector<std::pair<std::string, std::string>> out;
    const auto cell = [](const nlohmann::json& v) {
        if (v.is_string()) return v.get<std::string>();
        if (v.is_null()) return std::string();  // unknown: an empty cell
        if (!v.is_array()) return v.dump();
        // The names of the changed fields.
        std::string joined;
        for (const auto& name : v)
            joined += (joined.empty() ? "" : " ") + (name.is_string() ? name.get<std::string>() : name.dump());
        return joined;
    };
    for (const auto& [key, value] : line.items()) {
        if (key == "ports" && value.is_array()) {
            for (std::size_t p = 0; p < value.size(); ++p)
                for (const auto& [field, v] : value[p].items())
                    out.emplace_back("ports[" + std::to_string(p) + "]." + field, cell(v));
            continue;
        }
        out.emplace_back(key, cell(value));
    }
    return out;
}

}  // namespace

const std::vector<std::string>& watchEventColumns() {
    // Taken from a change of a device that carries every key a record can.
    static const std::vector<std::string> columns = [] {
        DeviceRegistry devices;
        DeviceData_n& d = devices.append();
        d.byAddress = true;
        d.conflict = true;
        DeviceWatch watch;
        WatchEvent event = watch.update(devices, {""}).front();
        event.kind = WatchEventKind::Changed;
        // What a reader looks at first leads.
        std::vector<std::string> out{"event", "serverUUID", "hostname", "modelName"};
        for (const auto& [key, cell] : flatten(watchEventJson(event)))
            if (std::find(out.begin(), out.end(), key) == out.end()) out.push_back(key);
        out.push_back("withheld");
        return out;
    }();
    return columns;
}

std::vector<std::string> watchEventCells(const nlohmann::json& line) {
    const auto& columns = watchEventColumns();
    std::vector<std::string> cells(columns.size());
    for (const auto& [key, cell] : flatten(line)) {
        const auto it = std::find(columns.begin(), columns.end(), key);
        if (it != columns.end()) cells[static_cast<std::size_t>(it - columns.begin())] = cell;
    }
    return cells;
}

// ---- the loop ----------------------------------------------------------

namespace {

// The write end of the self-pipe the signal handler wakes the loop with.
volatile std::sig_atomic_t gWakeFd = -1;

extern "C" void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (gWakeFd >= 0) (void)!::write(gWakeFd, &byte, 1);
    errno = saved;
}

// SIGINT and SIGTERM wake a pipe for as long as it lives.
class StopSignals {
public:
    bool install(std::string* why) {
        if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) return fail(why, "pipe");
        gWakeFd = fds_[1];
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        if (::sigaction(SIGINT, &sa, &oldInt_) != 0) return fail(why, "sigaction");
        installedInt_ = true;
        if (::sigaction(SIGTERM, &sa, &oldTerm_) != 0) return fail(why, "sigaction");
        installedTerm_ = true;
        return true;
    }
    ~StopSignals() {
        if (installedInt_) ::sigaction(SIGINT, &oldInt_, nullptr);
        if (installedTerm_) ::sigaction(SIGTERM, &oldTerm_, nullptr);
        gWakeFd = -1;
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    enum class Wake { Timeout, Stop, OutputGone, OutputNotOpen };
    // Waits up to `timeout` for a stop signal, or for `outFd` (when not -1)
    // to report an error or a hang-up (a pipe whose reader has gone does,
    // before anything is written to it) or not to be open.
    Wake wait(std::chrono::milliseconds timeout, int outFd = -1) const {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            // No events asked of the output: poll reports only its errors.
            pollfd p[2] = {{fds_[0], POLLIN, 0}, {outFd, 0, 0}};
            const int r = ::poll(p, outFd >= 0 ? 2 : 1,
                                 static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
            if (r > 0 && p[0].revents != 0) return Wake::Stop;
            if (r > 0) return (p[1].revents & POLLNVAL) != 0 ? Wake::OutputNotOpen : Wake::OutputGone;
            if (r == 0 || (r < 0 && errno != EINTR)) return Wake::Timeout;
        }
    }
    bool stopped() const { return wait(std::chrono::milliseconds(0)) == Wake::Stop; }

private:
    bool fail(std::string* why, const char* what) {
        if (why) *why = std::string(what) + ": " + std::strerror(errno);
        return false;
    }
    int fds_[2] = {-1, -1};
    struct sigaction oldInt_ {}, oldTerm_ {};
    bool installedInt_ = false, installedTerm_ = false;
};

}  // namespace

WatchEnd runWatch(DeviceLibrary& lib, std::chrono::seconds every, OutputFormat format, std::ostream& out, int outFd,
                  const std::function<void(const std::string&)>& log, std::string* why,
                  const std::function<SearchTargets()>& targets,
                  const std::function<void(const DeviceRegistry&)>& afterSearch) {
    StopSignals signals;
    if (!signals.install(why)) return WatchEnd::SetupFailed;
    const bool separated = format == OutputFormat::Csv || format == OutputFormat::Tsv;
    // A JSON line as the format writes it.
    const auto machineLine = [&](const nlohmann::json& line) {
        if (separated)
            out << separatedRow(format, watchEventCells(line));
        else
            out << jsonLine(line) << '\n';
    };
    // Says why the output failed; errno was cleared before the writes.
    const auto outputFailed = [&] {
        if (why) *why = errno != 0 ? std::strerror(errno) : "the write failed";
        return WatchEnd::OutputFailed;
    };
    if (separated) {
        errno = 0;
        out << separatedRow(format, watchEventColumns()) << std::flush;
        if (!out) return outputFailed();
    }
    DeviceWatch watch;
    using Clock = std::chrono::steady_clock;
    while (!signals.stopped()) {
        const auto started = Clock::now();
        lib.SearchDevices(targets ? targets() : SearchTargets{});
        if (afterSearch) afterSearch(lib.devices);
        // A signal during the search ends the watch here; the search itself
        // is bounded.
        if (signals.stopped()) break;
        const DeviceRegistry& devices = lib.devices;
        // The interface table as this search numbered it.
        std::vector<std::string> interfaces;
        if (const BlockingLink* link = lib.link())
            for (int i = 0; i < link->interfaceCount(); ++i) interfaces.push_back(link->interfaceAddress(i));
        if (log)
            log("search: " + std::to_string(devices.count()) + (devices.count() == 1 ? " device" : " devices"));
        // Only the lines are written from here to the check, so errno then
        // holds the reason of a write that failed.
        errno = 0;
        for (const WatchEvent& e : watch.update(devices, interfaces)) {
            if (format == OutputFormat::Table)
                out << watchEventText(e) << '\n';
            else
                machineLine(watchEventJson(e));
            out << std::flush;
        }
        // A flood of new boxes is summed up in one line.
        if (const std::size_t more = watch.withheldNew(); more != 0) {
            if (format == OutputFormat::Table)
                out << "new: " << more << " more boxes, not listed one by one (at most "
                    << DeviceWatch::kNewPerSearch << " a search)\n";
            else
                machineLine({{"event", "new"}, {"withheld", more}, {"jsonVersion", kJsonVersion}});
            out << std::flush;
        }
        if (!out) return outputFailed();
        const auto next = started + every;
        const auto wake = signals.wait(std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()), outFd);
        if (wake == StopSignals::Wake::Stop) break;
        if (wake == StopSignals::Wake::OutputGone || wake == StopSignals::Wake::OutputNotOpen) {
            // Nobody reads what the watch would write.
            if (why) *why = std::strerror(wake == StopSignals::Wake::OutputGone ? EPIPE : EBADF);
            return WatchEnd::OutputFailed;
        }
    }
    return WatchEnd::Stopped;
}

}  // namespace qs::cli
