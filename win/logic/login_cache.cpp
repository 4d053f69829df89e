#include "login_cache.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace qs::win {

std::string MakeDeviceKey(const Uuid8& serverUUID) {
    std::string key;
    key.reserve(serverUUID.size() * 5);
    for (std::size_t i = 0; i < serverUUID.size(); ++i) {
        char item[8];
        std::snprintf(item, sizeof item, "0x%02X", static_cast<unsigned>(serverUUID[i]));
        if (i != 0) key += ',';
        key += item;
    }
    return key;
}

Uuid8 ParseDeviceKey(const std::string& key) {
    Uuid8 id{};
    const char* p = key.c_str();
    for (std::size_t i = 0; i < id.size(); ++i) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(p, &end, 16);
        if (end == p) break;  // no number here
        id[i] = static_cast<std::uint8_t>(v & 0xFFu);
        p = end;
        if (*p == '\0') break;
        ++p;  // the separator, whatever it is
    }
    return id;
}

bool LoginCache::isAccepted(const std::string& key) const {
    const auto it = entries_.find(key);
    return it != entries_.end() && it->second.accepted;
}

bool LoginCache::copyOut(const std::string& key, Credentials& who) const {
    const auto it = entries_.find(key);
    if (it == entries_.end()) return false;
    // As the 64-byte fields of the device protocol hold them.
    who = Credentials{FixedText<64>(it->second.user).str(), FixedText<64>(it->second.password).str()};
    return true;
}

void LoginCache::accept(const std::string& key, std::string_view user, std::string_view password) {
    LoginEntry& e = entries_[key];
    e.accepted = true;
    e.user = std::string(user);
    e.password = std::string(password);
}

VersionQuery systemVersionQuery() {
    // No Windows version to ask for here.
    return [](OsVersionInfo&) { return false; };
}

int GetWindowsVersionName(std::string& name, int& code, const VersionQuery& query) {
    name = "unknown Windows version";
    code = 0;
    OsVersionInfo v;
    if (!query || !query(v)) return 0;

    auto set = [&](const char* n, int c) {
        name = n;
        code = c;
    };
    switch (v.platform) {
    case OsVersionInfo::Windows: {
        // The 95 family keeps the build number in the low word only.
        const unsigned build = v.build & 0xFFFFu;
        if (v.major != 4) break;
        if (v.minor < 10) {
            if (build == 950)
                set("Windows 95", 1);
            else if (build > 950 && build <= 1080)
                set("Windows 95 SP1", 2);
            else if (build > 1080)
                set("Windows 95 OSR2", 3);
        } else if (v.minor == 10) {
            if (build == 1998)
                set("Windows 98", 4);
            else if (build > 1998 && build < 2183)
                set("Windows 98 SP1", 5);
            else if (build >= 2183)
                set("Windows 98 SE", 6);
        } else if (v.minor == 90) {
            set("Windows ME", 7);
        }
        break;
    }
    case OsVersionInfo::NT:
        if (v.major == 3 && v.minor == 51)
            set("Windows NT 3.51", 101);
        else if (v.major == 4 && v.minor == 0)
            set("Windows NT 4", 102);
        else if (v.major == 5 && v.minor == 0)
            set("Windows 2000", 103);
        else if (v.major == 5 && v.minor == 1)
            set("Windows XP", 104);
        else if (v.major == 6)
            set("Vista", 0);
        break;
    case OsVersionInfo::CE:
        set("Windows CE", 201);
        break;
    default:
        break;
    }
    return 1;
}

std::string loggedOnUserName() {
    std::string user;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) user = pw->pw_name;
    if (user.empty())
        if (const char* env = std::getenv("USER")) user = env;
    if (user.size() > 128) user.resize(128);
    return user;
}

}  // namespace qs::win
