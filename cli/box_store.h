// The boxes the tool remembers between runs: every box a search found, with
// where and when, kept in one JSON file under the user's state directory.
// Boxes found at their own address are asked again by later searches, so a
// box behind a router is found without naming it again.
#pragma once

#include "quayside/records.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qs::cli {

struct RememberedPort {
    std::string label;  // "LAN", "LAN1", "LAN2" or "LAN1+LAN2", as the table shows it
    std::string IP, netmask, gateway;
    bool operator==(const RememberedPort&) const = default;
};

struct RememberedBox {
    std::string serverUUID;  // 16 lower-case hex digits, as the tool prints it
    std::string hostname;
    std::string modelName;
    std::vector<RememberedPort> ports;
    std::string mac;           // "aa:bb:cc:dd:ee:ff"; empty when never known
    std::string answeredFrom;  // dotted IPv4
    std::string firstSeen;     // ISO 8601 UTC, "2024-05-01T09:30:00Z"
    std::string lastSeen;
    bool byAddress = false;    // found by a search of its own address
    bool operator==(const RememberedBox&) const = default;
};

// The most boxes the file keeps. Past it, boxes found through the group go
// before those found by address, and of each the ones seen longest ago
// first: a flood of forged answers must not grow the file, or the searches
// that read it, without bound, nor push out the boxes found by address.
inline constexpr std::size_t kMaxRememberedBoxes = 1000;

// The file's text, or nothing (with `why`) when it is not a list of boxes
// as serializeBoxes writes it.
std::optional<std::vector<RememberedBox>> parseBoxes(std::string_view text, std::string* why = nullptr);
std::string serializeBoxes(const std::vector<RememberedBox>& boxes);

// "YYYY-MM-DDTHH:MM:SSZ" of a time in seconds since the epoch.
std::string isoTimeUtc(long long secondsSinceEpoch);

// Takes what one search found into `boxes`, seen at `now` (isoTimeUtc).
// Answers in conflict (DeviceData_n::conflict) are left out: one of them
// may be forged, and neither may move a box or add one. A box answering
// again keeps its first-seen time and its hardware address when the table
// had none this time at the same address.
void rememberFound(std::vector<RememberedBox>& boxes, const std::vector<const DeviceData_n*>& found,
                   const std::string& now);

// The boxes a key names: its serverUUID (16 hex digits, any case), its host
// name, its port-0 address or the address it answered from. Indexes.
std::vector<std::size_t> matchRemembered(const std::vector<RememberedBox>& boxes, const std::string& key);

// $XDG_STATE_HOME/quayside/boxes.json (when XDG_STATE_HOME is an absolute
// path), else ~/.local/state/quayside/boxes.json; nothing, with `why`, when
// there is no home directory.
std::optional<std::string> defaultBoxStorePath(std::string* why = nullptr);

// The file itself. Every change takes a lock on a file beside it, reads the
// list again, changes it and writes it to a temporary file that replaces
// the old one (after fsync), so two runs at once both keep their changes and
// a crash leaves the old list or the new. A file that cannot be read as a
// list is moved aside, never lost; `warn` hears that, and why the file
// cannot be written (once per store).
class BoxStore {
public:
    using Warn = std::function<void(const std::string&)>;
    BoxStore(std::string path, Warn warn);

    const std::string& path() const { return path_; }
    // The list as it is now; empty when there is none yet. False when it
    // could not be read (said through `warn`).
    bool load(std::vector<RememberedBox>& boxes);
    // Applies `change` to the list as it is now and writes it; false when it
    // could not be read or written (said through `warn`). `change` returns
    // whether it changed anything; nothing is written when it did not.
    bool update(const std::function<bool(std::vector<RememberedBox>&)>& change);

private:
    // Creates the directory, opens and locks the lock file; -1 on failure.
    int lock();
    // Reads the file under the lock; moves a damaged one aside.
    bool readLocked(std::vector<RememberedBox>& boxes);
    bool writeLocked(const std::vector<RememberedBox>& boxes);
    void failed(const std::string& message);

    std::string path_;
    Warn warn_;
    bool warned_ = false;
};

}  // namespace qs::cli
