// What opening a device's web pages needs of the system, with the names and
// results the dialog code expects: a registry read (answered from the
// desktop's default browser), a program start without a shell, and a real
// connection attempt to the device's web port.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qs::win {

inline const char* const kStartMenuInternet = "Software\\Clients\\StartMenuInternet";
inline constexpr std::size_t kRegistryBuffer = 120;

// Keys the program reads, as a source of values. The program's own source
// answers the two browser keys from the desktop's settings
// (desktop_registry.h).
class RegistrySource {
public:
    virtual ~RegistrySource() = default;
    // The value, or nothing when the key or the value does not exist.
    virtual std::optional<std::string> query(const std::string& key, const std::string& valueName) = 0;
};

// The value's text up to its first NUL; empty when the key or value cannot
// be read or the text does not fit the 120-byte buffer.
std::string ReadRegistryString(RegistrySource& registry, const std::string& key, const std::string& valueName);

// Splits a command line with the usual quoting rules (double quotes group,
// backslash-quote is a quote); nothing runs through a shell.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// Runs a program without a shell and returns what it printed, without the
// trailing line ends; nothing when it cannot start or does not succeed.
std::optional<std::string> captureOutput(const std::vector<std::string>& argv);

// What became of a started program a little later: false when it ended in
// failure within the opener's watch (quayside/launcher.h), as xdg-open does
// when it finds no browser. Called once, from another thread, and only for
// a program that started.
using StartVerdict = std::function<void(bool opened)>;

// Starts a command line; the platform's results: 0 out of resources,
// 2 file not found, 3 path not found, 11 bad format, above 31 started.
// "explorer ADDRESS" opens the address with the desktop's opener. A started
// program is watched on another thread; `verdict` hears how it fared.
using ProgramStarter = std::function<unsigned(const std::string& commandLine, int show, StartVerdict verdict)>;
unsigned WinExec(const std::string& commandLine, int show, StartVerdict verdict = {});

// A real TCP connection to the address's web port within `timeoutMs`.
bool InternetCheckConnection(const std::string& ipv4, int port, int timeoutMs);

}  // namespace qs::win
