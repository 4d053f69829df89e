// A small command-line parser: flags, options with a value (repeatable),
// and a clear message for anything else.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qs::cli {

class Args {
public:
    // Parses argv[first..]. `flags` take no value, `options` take one.
    // Returns false and sets error() on an unknown option, a missing value
    // or a stray positional argument.
    bool parse(int argc, char** argv, int first, const std::set<std::string>& flags,
               const std::set<std::string>& options);

    bool has(const std::string& name) const { return seen_.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
    std::vector<std::string> values(const std::string& name) const;
    std::size_t count(const std::string& name) const { return values_.count(name); }
    // Overwrites and drops the values of `name` (a password).
    void forget(const std::string& name);
    const std::string& error() const { return error_; }

private:
    std::set<std::string> seen_;
    std::multimap<std::string, std::string> values_;
    std::string error_;
};

}  // namespace qs::cli
