// The network-connection functions the drive mapping calls, with the names,
// flags and result codes the dialog code expects: map a share to a drive
// letter, tell which share a letter is mapped to, unmap a letter, and tell
// what kind of drive a letter is. The controller owns one NetConnections;
// the program's own maps shares through GVfs (gvfs_net_connections.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qs::win {

using DWORD = std::uint32_t;

// Results.
inline constexpr DWORD NO_ERROR = 0;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_BAD_NETPATH = 53;
inline constexpr DWORD ERROR_UNEXP_NET_ERR = 59;
inline constexpr DWORD ERROR_BAD_NET_NAME = 67;
inline constexpr DWORD ERROR_ALREADY_ASSIGNED = 85;
inline constexpr DWORD ERROR_INVALID_PASSWORD = 86;
inline constexpr DWORD ERROR_SEM_TIMEOUT = 121;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_BAD_DEVICE = 1200;
inline constexpr DWORD ERROR_CONNECTION_UNAVAIL = 1201;
inline constexpr DWORD ERROR_NO_NET_OR_BAD_PATH = 1203;
inline constexpr DWORD ERROR_BAD_PROVIDER = 1204;
inline constexpr DWORD ERROR_CANCELLED = 1223;
inline constexpr DWORD ERROR_NOT_CONNECTED = 2250;
inline constexpr DWORD ERROR_OPEN_FILES = 2401;

// Connection flags.
inline constexpr DWORD CONNECT_UPDATE_PROFILE = 0x1;
inline constexpr DWORD CONNECT_INTERACTIVE = 0x8;

// Drive types.
inline constexpr unsigned DRIVE_UNKNOWN = 0;
inline constexpr unsigned DRIVE_NO_ROOT_DIR = 1;
inline constexpr unsigned DRIVE_REMOVABLE = 2;
inline constexpr unsigned DRIVE_FIXED = 3;
inline constexpr unsigned DRIVE_REMOTE = 4;
inline constexpr unsigned DRIVE_CDROM = 5;
inline constexpr unsigned DRIVE_RAMDISK = 6;

// The size of the remote-name buffer the dialog passes, in characters.
inline constexpr DWORD kRemoteNameBuffer = 256;
// The longest remote name the dialog makes room for when it does not fit
// that buffer ("\\" + a dotted address + "\" + a 255-byte share name fits
// with room to spare).
inline constexpr DWORD kLongestRemoteName = 4096;

class NetConnections {
public:
    virtual ~NetConnections() = default;

    // Connects `localName` ("Z:") to the share `remoteName` ("\\server\share").
    // A null `password` or `userName` means none is given; an empty user
    // name asks for guest access. CONNECT_UPDATE_PROFILE remembers the
    // connection for the next start.
    virtual DWORD WNetAddConnection2A(const char* localName, const char* remoteName, const char* password,
                                      const char* userName, DWORD flags) = 0;
    // Writes the remote name of the letter's connection into `remoteName`
    // (`*length` characters, terminating NUL included). ERROR_MORE_DATA,
    // with the needed length in `*length`, when it does not fit;
    // ERROR_NOT_CONNECTED when the letter has no connection;
    // ERROR_CONNECTION_UNAVAIL, with the name written, when the connection
    // is remembered but not there now (its letter is still taken); the name
    // is empty when the letter is taken by a share no one can name.
    virtual DWORD WNetGetConnectionA(const char* localName, char* remoteName, DWORD* length) = 0;
    // Removes the letter's connection; CONNECT_UPDATE_PROFILE forgets it for
    // the next start as well, `force` unmaps even with files open.
    virtual DWORD WNetCancelConnection2A(const char* name, DWORD flags, bool force) = 0;
    // What kind of drive "X:" (or "X:\") is.
    virtual unsigned GetDriveTypeA(const char* rootPathName) = 0;

    // Starts bringing back the remembered connections and returns at once;
    // called once at start-up. `restored` is called, on any thread, when
    // every one has been tried (not at all when there is nothing to do).
    virtual void RestoreConnections(std::function<void()> restored) { (void)restored; }
};

// ---- names ---------------------------------------------------------------

// The drive index of "X:" or "X:\" (0 for A: .. 25 for Z:, either case);
// nothing for anything else.
std::optional<int> driveIndex(std::string_view localName);

// A remote name taken apart: "\\server\share".
struct RemoteName {
    std::string server;
    std::string share;
};
// Splits "\\server\share"; nothing when the form is wrong, the server is
// not a dotted IPv4 address or the share name is not one a server can
// publish (empty, only dots, a path separator, a control character or one
// of  " * : < > ? |  ). Such names never reach a mount or a path.
std::optional<RemoteName> parseRemoteName(std::string_view remoteName);
// "\\server\share", the form parseRemoteName reads.
std::string remoteNameOf(std::string_view server, std::string_view share);
bool isPublishableShareName(std::string_view share);

}  // namespace qs::win
