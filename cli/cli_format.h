// Output formats of the quayside tool.
#pragma once

#include "quayside/records.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qs::cli {

// Text from the network made safe for a terminal: control characters (C0,
// DEL, C1) and bytes that are not valid UTF-8 become \xNN, invisible format
// characters (direction controls, zero-width characters, the soft hyphen)
// \u{XXXX}; everything else is kept. Every text-form line the tool prints
// passes through this.
std::string escapeText(std::string_view text);

// One JSON line as the tool prints it: DEL, the C1 controls and the format
// characters that escapeText marks are written as \uXXXX, like the C0
// controls; text that is not UTF-8 is replaced. Every JSON line the tool
// prints is made here.
std::string jsonLine(const nlohmann::json& j);

// Says on standard error that a search stopped taking devices at
// kMaxDevices, when `refused` more answered; nothing otherwise.
void sayWhenFull(std::size_t refused);

// The version of the JSON shape of search and watch, carried in every line
// they print as "jsonVersion". It goes up only when a stable key goes away
// or changes its type or meaning; keys may be added under the same version.
inline constexpr int kJsonVersion = 1;

// One device as a JSON object (keys and types are part of the tool's contract).
nlohmann::json deviceJson(const DeviceData_n& d);

// One share line: the bare name, marked when the volume is locked.
std::string shareText(std::string_view name, bool isLocked);

// The ports a device's listing shows, with their labels: "LAN" for a
// device with one port; "LAN1" and "LAN2", or "LAN1+LAN2" and "" when the
// two are bonded.
std::vector<std::pair<std::string, const PortBlock*>> shownPorts(const DeviceData_n& d);

// The readable table: a header line, one line per reported port, and a count.
std::string deviceTable(const DeviceRegistry& devices);

// How search and watch print what they found.
enum class OutputFormat { Table, Json, Csv, Tsv };
// The format a --format value names ("table", "json", "csv", "tsv").
std::optional<OutputFormat> parseOutputFormat(std::string_view name);

// One CSV field as RFC 4180 writes it: in double quotes, with each quote
// doubled, when it holds a comma, a quote, CR or LF; as it is otherwise.
std::string csvField(std::string_view text);

// One record of CSV or TSV output, line end included: every field escaped
// as the text output escapes device text (so no tab, CR or LF is left in a
// TSV field), then quoted for CSV; CSV lines end in CRLF as RFC 4180 says,
// TSV lines in LF.
std::string separatedRow(OutputFormat format, const std::vector<std::string>& fields);

// The table's columns as CSV or TSV: the header line, then one record per
// line the table shows, each naming its device (serverUUID, host name and
// model) again.
std::string deviceRecords(const DeviceRegistry& devices, OutputFormat format);

// The line under the table when answers are in conflict (`conflicts` of
// them), without its line end; empty when there are none.
std::string conflictNote(std::size_t conflicts);

}  // namespace qs::cli

#include "quayside/packager.h"

namespace qs::cli {

struct RememberedBox;

// The status of a remembered box: "live" when it answered the search just
// run, else "last seen" and the local date and time of lastSeen
// ("last seen 2024-05-01 11:30").
std::string rememberedStatus(const RememberedBox& box, bool live);
// One remembered box as `quayside boxes --json` prints it.
nlohmann::json rememberedBoxJson(const RememberedBox& box, bool live);
// The table of `quayside boxes`: a header line, one line per box, and a
// count (with how many are live when `searched`).
std::string rememberedBoxTable(const std::vector<RememberedBox>& boxes, const std::set<std::string>& live,
                               bool searched);

// A LAN-information answer: JSON keys ports (as many as ifNum says),
// bondingMode (null when not bonded) and ifNum; or readable lines.
nlohmann::json lanInformationJson(const LanInformation& info);
std::string lanInformationText(const LanInformation& info);

}  // namespace qs::cli
