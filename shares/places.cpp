#include "places.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace qs::shares {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string xdgDirectory(const char* variable, const char* fallback) {
    if (const char* v = std::getenv(variable); v && v[0] == '/') return v;
    return homeDirectory() + "/" + fallback;
}

}  // namespace qs::shares
