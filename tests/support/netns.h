// Network namespaces as test hosts: each Netns is a host with its own
// network stack; veth() wires two of them with one point-to-point link.
// Needs root; available() says why not otherwise.
#pragma once

#include <string>
#include <vector>

namespace qs::test {

class Netns {
public:
    // Whether namespaces can be made here; `why` explains when not.
    static bool available(std::string* why);

    explicit Netns(const std::string& role);
    ~Netns();
    Netns(const Netns&) = delete;
    Netns& operator=(const Netns&) = delete;

    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }
    // argv prefixed so that it runs inside this namespace.
    std::vector<std::string> exec(const std::vector<std::string>& argv) const;

private:
    std::string name_;
    bool ok_ = false;
};

// Links a and b with a veth pair and gives each end its address (CIDR).
// Returns false (with the command's error in `error`) when it fails.
bool veth(const Netns& a, const std::string& aCidr, const Netns& b, const std::string& bCidr, std::string* error);

}  // namespace qs::test
