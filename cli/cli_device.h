// Choosing the device a command acts on, and reading the password.
#pragma once

#include "quayside/records.h"

#include <optional>
#include <string>
#include <vector>

namespace qs::cli {

// Exit codes of the quayside tool (part of its contract).
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitOutputFailed = 1;  // what the tool printed could not be written
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoAnswer = 3;
inline constexpr int kExitNotFound = 4;
inline constexpr int kExitLocalFailure = 5;  // sockets could not be opened
inline constexpr int kExitTooFew = 6;        // fewer boxes answered than search --expect asks for

// Indexes of the records that `key` names: its serverUUID (16 hex digits,
// any case), its host name, or its port-0 address.
std::vector<std::size_t> matchDevices(const std::vector<const DeviceData_n*>& devices, const std::string& key);

// The password: --password when given; else the first line of the
// --password-file (FILE, or "-" for standard input) when given; else read
// from the terminal without echo, else the first line of standard input.
// A line is taken without its line end. Nothing, with `why` saying so for a
// password file, when none can be read.
std::optional<std::string> readPassword(const std::optional<std::string>& given,
                                        const std::optional<std::string>& file, std::string& why);

// The port labels a device offers for a settings change.
std::vector<std::string> portLabels(const DeviceData_n& device);

}  // namespace qs::cli
