// Output formats of the quayside tool.
#pragma once

#include "quayside/records.h"

#include <nlohmann/json.hpp>
#include <string>

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

// One device as a JSON object (keys and types are part of the tool's contract).
nlohmann::json deviceJson(const DeviceData_n& d);

// One share line: the bare name, marked when the volume is locked.
std::string shareText(std::string_view name, bool isLocked);

// The readable table: a header line, one line per reported port, and a count.
std::string deviceTable(const DeviceRegistry& devices);

}  // namespace qs::cli

#include "quayside/packager.h"

namespace qs::cli {

// A LAN-information answer: JSON keys ports (as many as ifNum says),
// bondingMode (null when not bonded) and ifNum; or readable lines.
nlohmann::json lanInformationJson(const LanInformation& info);
std::string lanInformationText(const LanInformation& info);

}  // namespace qs::cli
