#include "support/netns.h"

#include "support/process.h"

#include <unistd.h>

namespace qs::test {

namespace {
RunResult ip(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, {}, std::chrono::seconds(10));
}
int counter = 0;
}  // namespace

bool Netns::available(std::string* why) {
    if (::geteuid() != 0) {
        *why = "network namespace tests need root (CI runs them); skipped";
        return false;
    }
    const RunResult probe = run({"ip", "netns", "list"}, {}, std::chrono::seconds(5));
    if (probe.exitCode != 0) {
        *why = "'ip netns' is not usable here: " + probe.err;
        return false;
    }
    return true;
}

Netns::Netns(const std::string& role) {
    name_ = "qs" + std::to_string(::getpid()) + role;
    ip({"netns", "del", name_});  // left over from a crashed run
    ok_ = ip({"netns", "add", name_}).exitCode == 0 && ip({"-n", name_, "link", "set", "lo", "up"}).exitCode == 0;
}

Netns::~Netns() {
    if (ok_) ip({"netns", "del", name_});
}

std::vector<std::string> Netns::exec(const std::vector<std::string>& argv) const {
    std::vector<std::string> out{"ip", "netns", "exec", name_};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

bool veth(const Netns& a, const std::string& aCidr, const Netns& b, const std::string& bCidr, std::string* error) {
    const std::string tag = std::to_string(::getpid() % 100000) + "x" + std::to_string(counter++);
    const std::string ea = "qa" + tag, eb = "qb" + tag;  // at most 15 characters
    const std::vector<std::vector<std::string>> steps = {
        {"link", "add", ea, "netns", a.name(), "type", "veth", "peer", "name", eb, "netns", b.name()},
        {"-n", a.name(), "addr", "add", aCidr, "dev", ea},
        {"-n", b.name(), "addr", "add", bCidr, "dev", eb},
        {"-n", a.name(), "link", "set", ea, "up"},
        {"-n", b.name(), "link", "set", eb, "up"},
    };
    for (const auto& s : steps) {
        const RunResult r = ip(s);
        if (r.exitCode != 0) {
            if (error) *error = "ip " + s[0] + " ... failed: " + r.err;
            return false;
        }
    }
    return true;
}

}  // namespace qs::test
