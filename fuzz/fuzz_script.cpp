// Feeds arbitrary text to quayside-mac's script interpreter over a host that
// only records what it is asked to do. The first byte steers: its low bits
// are the host's answers (disk exists, actions fail, paths refused); with
// its top bit set, the rest is a list of values (split at NUL bytes) put
// into one of the known scripts (bits 4-6) instead of a text of its own, so
// the interpreter also runs. Checked: a text that is refused runs nothing,
// and no command word holds a character outside the allowed set.
#include "script_host.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace qs::mac;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz_script: %s\n", what);
    std::abort();
}

bool isCommandChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("/._-:@").find(c) != std::string_view::npos;
}

class RecordingHost final : public ScriptHost {
public:
    explicit RecordingHost(std::uint8_t answers) : answers_(answers) {}

    bool diskExists(const std::string& name) override { return note("exists " + name) && (answers_ & 1); }
    bool eject(const std::string& name) override { return note("eject " + name) && !(answers_ & 2); }
    bool mountVolume(const std::string& url) override { return note("mount " + url) && !(answers_ & 2); }
    bool runCommand(const std::vector<std::string>& argv) override {
        if (argv.empty()) broken("empty command");
        const std::string& name = argv[0];
        if (name != "rm" && name != "touch" && name != "mkdir" && name != "mount_smbfs") broken("unknown command run");
        for (const std::string& word : argv) {
            if (word.empty()) broken("empty command word");
            for (char c : word)
                if (!isCommandChar(c)) broken("command word with a character outside the allowed set");
        }
        return note("run " + name) && !(answers_ & 4);
    }
    std::string mapPath(std::string_view path) override {
        if (answers_ & 8) return {};
        return std::string(path);
    }

    std::vector<std::string> calls;

private:
    bool note(std::string call) {
        calls.push_back(std::move(call));
        return true;
    }
    std::uint8_t answers_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t steer = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string text;
    if (steer & 0x80) {
        static constexpr std::array<const char*, 8> kScripts = {
            kScriptRemoveMarker, kScriptMountUser,  kScriptMountCredentials, kScriptMountGuest,
            kScriptMountPlain,   kScriptDiskCheck, kScriptTestMount,        kScriptEject,
        };
        std::vector<std::string> values;
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = rest.find('\0', start);
            values.emplace_back(rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
        text = composeScript(kScripts[(steer >> 4) & 7], values);
    } else {
        text = std::string(rest);
    }

    RecordingHost host(steer);
    const ScriptResult r = runScript(text, host);
    if (!r.compiled && !host.calls.empty()) broken("a refused script ran");
    if (!r.compiled && r.ok) broken("refused yet ok");
    if (r.ok != r.error.empty()) broken("ok and error disagree");
    return 0;
}
