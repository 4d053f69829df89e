// Per-device login cache, device keys, and the Windows version name the
// login dialog asks for.
#pragma once

#include "quayside/device_library.h"
#include "quayside/records.h"
#include "quayside/wire.h"

#include <functional>
#include <map>
#include <string>

namespace qs::win {

// "0x00,0x1B,0x7E,..." from the 8 bytes of a serverUUID.
std::string MakeDeviceKey(const Uuid8& serverUUID);
// Reads hexadecimal numbers (an "0x" prefix accepted) separated by one
// character each, until reading fails; unread bytes stay 0.
Uuid8 ParseDeviceKey(const std::string& key);

struct LoginEntry {
    bool accepted = false;
    std::string user;
    std::string password;
};

class LoginCache {
public:
    // key -> not accepted, empty texts.
    void seed(const std::string& key) { entries_[key] = LoginEntry{}; }
    void clear() { entries_.clear(); }
    bool contains(const std::string& key) const { return entries_.count(key) != 0; }
    // False when the key is absent.
    bool isAccepted(const std::string& key) const;
    // Copies the entry's user name and password into `who` (each cut to 63
    // bytes, as a 64-byte field holds it); leaves it when the key is absent.
    // True when present.
    bool copyOut(const std::string& key, Credentials& who) const;
    void accept(const std::string& key, std::string_view user, std::string_view password);
    std::size_t size() const { return entries_.size(); }

private:
    std::map<std::string, LoginEntry> entries_;
};

// The version record the name is chosen from.
struct OsVersionInfo {
    enum Platform { Win32s = 0, Windows = 1, NT = 2, CE = 3 };
    unsigned platform = 0;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
};
// Asks the system for its version; false when it cannot. On Linux there is
// no Windows version, so the default query always fails.
using VersionQuery = std::function<bool(OsVersionInfo&)>;
VersionQuery systemVersionQuery();

// Name and code by the table of Windows versions; 0 when the query fails
// (name "unknown Windows version", code 0), else 1.
int GetWindowsVersionName(std::string& name, int& code, const VersionQuery& query = systemVersionQuery());

// The user logged on (from the system's user database), at most 128 bytes.
std::string loggedOnUserName();

}  // namespace qs::win
