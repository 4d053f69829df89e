// `quayside watch`: searches again and again and reports what changed
// between one search and the next.
#pragma once

#include "cli_format.h"
#include "quayside/device_library.h"
#include "quayside/records.h"

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

namespace qs::cli {

enum class WatchEventKind { New, Changed, Gone };
const char* watchEventName(WatchEventKind kind);

struct WatchEvent {
    WatchEventKind kind = WatchEventKind::New;
    // The device as the search prints it (deviceJson) plus
    // "localInterface", the address of the local interface it answered on;
    // for a box that went away, as it was last seen.
    nlohmann::json record;
    // For a change: the record's fields that differ, as "hostname" or
    // "ports[1].IP".
    std::vector<std::string> fields;
};

// The fields of two device records (deviceJson objects) that differ, in
// the record's key order; port fields are named one by one.
std::vector<std::string> changedFields(const nlohmann::json& before, const nlohmann::json& after);

// What the watch knows between searches. Boxes are keyed by serverUUID; one
// missed by `missesForGone` searches in a row has gone away.
class DeviceWatch {
public:
    explicit DeviceWatch(int missesForGone = 2) : missesForGone_(missesForGone) {}

    // Takes the registry one search left, with the addresses of the local
    // interfaces that search numbered (a record's localIfIndex indexes
    // them), and returns the events: new and changed boxes in registry
    // order, then the boxes that went away. A box is compared by the
    // address of its interface, not by the index: an interface that comes
    // or goes shifts the indexes of the ones after it. At most
    // kNewPerSearch new boxes are told; the rest are known as well, counted
    // in withheldNew(). A serverUUID listed twice (answers in conflict) is
    // taken from its first record.
    std::vector<WatchEvent> update(const DeviceRegistry& devices,
                                   const std::vector<std::string>& interfaceAddresses = {});
    static constexpr std::size_t kNewPerSearch = 1000;
    std::size_t withheldNew() const { return withheldNew_; }

private:
    struct Known {
        nlohmann::json record;
        int misses = 0;
    };
    int missesForGone_;
    std::map<std::string, Known> known_;
    std::size_t withheldNew_ = 0;
};

// One event as a JSON object: the record's keys, "event", and for a change
// "fields".
nlohmann::json watchEventJson(const WatchEvent& event);
// One event as a readable line (device text escaped), without the newline.
std::string watchEventText(const WatchEvent& event);

// The columns of the watch's CSV and TSV output: "event", "serverUUID",
// "hostname" and "modelName", then every other key its JSON lines carry, in
// their order, the ports' keys one by one as "ports[N].KEY" (the names
// "fields" gives), and "withheld" last.
const std::vector<std::string>& watchEventColumns();
// One JSON line of the watch (watchEventJson, or the line that sums up
// withheld boxes) as the cells of those columns: strings as they are,
// numbers and true/false as JSON writes them, "fields" as its names
// separated by spaces, and an empty cell for a key the line does not carry.
std::vector<std::string> watchEventCells(const nlohmann::json& line);

enum class WatchEnd {
    Stopped,       // by SIGINT or SIGTERM
    SetupFailed,   // the signal plumbing could not be set up
    OutputFailed,  // the lines could not be written, or nobody reads them
};

// Searches with `lib` (its sockets already open) every `every`, writing one
// line per event to `out` in `format` (CSV and TSV: the header line first)
// and flushing it, until SIGINT or SIGTERM. Installs
// handlers for both for the length of the call. After each search's lines
// `out` is checked, and the watch ends when a write failed. `outFd`, when
// not -1, is the file under `out`: the wait between searches also ends when
// it reports an error or a hang-up (a pipe whose reader has gone), so the
// watch does not search on for nobody while it has nothing to write. `log`,
// when set, hears one line per search, before that search's events. `why`
// says what failed when the watch did not end by a signal. `targets` gives
// each search's targets as it starts (the group alone when not set);
// `afterSearch`, when set, hears each search's devices.
WatchEnd runWatch(DeviceLibrary& lib, std::chrono::seconds every, OutputFormat format, std::ostream& out, int outFd,
                  const std::function<void(const std::string&)>& log, std::string* why,
                  const std::function<SearchTargets()>& targets = {},
                  const std::function<void(const DeviceRegistry&)>& afterSearch = {});

}  // namespace qs::cli
