#include "args.h"

#include "quayside/credentials.h"

namespace qs::cli {

bool Args::parse(int argc, char** argv, int first, const std::set<std::string>& flags,
                 const std::set<std::string>& options) {
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        if (flags.count(arg)) {
            if (inlineValue) {
                error_ = "option " + arg + " takes no value";
                return false;
            }
            seen_.insert(arg);
        } else if (options.count(arg)) {
            if (!inlineValue) {
                if (i + 1 >= argc) {
                    error_ = "option " + arg + " needs a value";
                    return false;
                }
                inlineValue = argv[++i];
            }
            seen_.insert(arg);
            values_.emplace(arg, *inlineValue);
        } else if (arg.rfind("-", 0) == 0) {
            error_ = "unknown option " + arg;
            return false;
        } else {
            error_ = "unexpected argument " + arg;
            return false;
        }
    }
    return true;
}

std::optional<std::string> Args::value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> Args::values(const std::string& name) const {
    std::vector<std::string> out;
    auto [b, e] = values_.equal_range(name);
    for (auto it = b; it != e; ++it) out.push_back(it->second);
    return out;
}

void Args::forget(const std::string& name) {
    auto [b, e] = values_.equal_range(name);
    for (auto it = b; it != e; ++it) secureClear(it->second);
    values_.erase(name);
}

}  // namespace qs::cli
