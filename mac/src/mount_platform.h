// What mounting volumes needs of the system: run a script text (errors
// ignored), the computer user's login name, the output of the "mount"
// command as lines, and whether a file can be read. The program's own
// runs the scripts with its interpreter over GVfs; tests supply fakes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qs::mac {

class MountPlatform {
public:
    virtual ~MountPlatform() = default;
    virtual void runScriptText(const std::string& text) = 0;
    virtual std::string loginName() = 0;
    // Nothing when the command cannot be started.
    virtual std::optional<std::vector<std::string>> mountOutput() = 0;
    // Paths as the scripts name them ("/tmp/..."); the platform knows where
    // they really are.
    virtual bool fileReadable(const std::string& path) = 0;
};

}  // namespace qs::mac
