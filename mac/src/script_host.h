// The script service of quayside-mac: the short mount, disk-check and eject
// scripts the controller composes, and a small interpreter that runs them
// where the system has no script service of its own.
//
// The interpreter knows exactly what the script texts below use, one
// statement a line:
//
//   try / on error / end try
//   tell application "Finder" / end tell
//   if (exists [the] disk "NAME") then / if not (exists [the] disk "NAME") then
//   else / end if
//   eject "NAME"
//   mount volume "smb://..."
//   do shell script "COMMAND"
//
// where COMMAND is one of "rm FILE", "rm -rf DIR", "touch FILE", "mkdir DIR"
// and "mount_smbfs //USER:@HOST/SHARE DIR". A command is split into words at
// its blanks and handed to the host as an argument vector; it never reaches
// a shell. Strings are double-quoted and have no escapes: a backslash or a
// control character inside one is an error.
//
// A text is first read whole. Any error there (an unknown statement,
// unbalanced blocks, a bad string, a command outside the list above, a word
// with a character outside letters, digits and "/._-:@"), or a text whose
// statements are not laid out as one of the scripts below (the values put
// in for "%@" aside), runs nothing at all. Only then does it run: an error in
// the body of a try is caught, runs the "on error" branch if there is one
// and is otherwise swallowed; an error anywhere else ends the script.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qs::mac {

// The actions behind the statements. Each returns false when the action
// failed, which is a script error at that statement.
class ScriptHost {
public:
    virtual ~ScriptHost() = default;

    // "exists disk": whether the desktop has a disk of that name.
    virtual bool diskExists(const std::string& name) = 0;
    // "eject": unmount the disk of that name.
    virtual bool eject(const std::string& name) = 0;
    // "mount volume": mount the share at an smb:// address.
    virtual bool mountVolume(const std::string& url) = 0;
    // "do shell script": argv[0] is "rm", "touch", "mkdir" or "mount_smbfs";
    // "rm -rf DIR" arrives as {"rm", "-rf", DIR}. File and folder operands
    // have already passed through mapPath.
    virtual bool runCommand(const std::vector<std::string>& argv) = 0;

    // Where a file or folder operand of a command really is: the scripts name
    // "/tmp/..." markers and "/Volumes/..." folders, and a host may put them
    // elsewhere. An empty result refuses the path (a script error). The
    // default keeps the path as it is.
    virtual std::string mapPath(std::string_view path) { return std::string(path); }
};

struct ScriptResult {
    bool ok = true;        // ran to its end (errors caught by a try do not count)
    bool compiled = true;  // false: refused before anything ran
    std::string error;     // what failed, for the log; empty when ok
    int line = 0;          // line of the failure, from 1; 0 for the text as a whole
};

// Reads the text, then runs it against the host. Never throws.
ScriptResult runScript(std::string_view text, ScriptHost& host);

// Replaces each "%@" of the template, in order, with the next argument; a
// missing argument is empty text, surplus arguments are ignored. The
// arguments are put in as they are: the caller refuses values that contain
// double quotes, backslashes or line breaks.
std::string composeScript(std::string_view templ, const std::vector<std::string>& args);

// The scripts. Arguments, in order (A = the box's address, H = its host
// name, S = the share's name):
// remove the box's failure marker: A.
inline constexpr const char* kScriptRemoveMarker =
    "try \n do shell script \"rm /tmp/%@_no_pass_fail\" \nend try";
// mount as the computer's user: A, user name, A, S, A.
inline constexpr const char* kScriptMountUser =
    "try \n do shell script \"rm /tmp/%@_no_pass_fail\" \nend try \ntry \n mount volume "
    "\"smb://%@:@%@/%@\" \non error \ndo shell script \"touch /tmp/%@_no_pass_fail\" \nend try";
// mount with a user name and password: A, user name, password, A, S, A.
inline constexpr const char* kScriptMountCredentials =
    "try \n do shell script \"rm /tmp/%@_no_pass_fail\" \nend try \ntry \n mount volume "
    "\"smb://%@:%@@%@/%@\" \non error \ndo shell script \"touch /tmp/%@_no_pass_fail\" \nend try";
// mount as guest: A, H or A, S, A.
inline constexpr const char* kScriptMountGuest =
    "try \n do shell script \"rm /tmp/%@_no_pass_fail\" \nend try \ntry \n mount volume "
    "\"smb://@%@/%@\" \non error \ndo shell script \"touch /tmp/%@_no_pass_fail\" \nend try";
// mount without any user: A, H, S, A.
inline constexpr const char* kScriptMountPlain =
    "try \n do shell script \"rm /tmp/%@_no_pass_fail\" \nend try \ntry \n mount volume "
    "\"smb://%@/%@\" \non error \ndo shell script \"touch /tmp/%@_no_pass_fail\" \nend try";
// leave the box's marker when the desktop has no disk of the share's name:
// A, S, A.
inline constexpr const char* kScriptDiskCheck =
    "try \n do shell script \"rm /tmp/%@_no_pass_fail\" \nend try \ntry \n tell application "
    "\"Finder\" \nif not (exists disk \"%@\") then \ndo shell script \"touch "
    "/tmp/%@_no_pass_fail\" \nelse \ndo shell script \"touch /tmp/no_pass_fail\" \nend if "
    "\nend tell \nend try";
// guest test mount of a host's fixed share: the host.
inline constexpr const char* kScriptTestMount =
    "try \n do shell script \"mkdir /Volumes/rx78nt1x\" \nend try \ntry \n do shell script "
    "\"mount_smbfs //guest:@%@/vvvxx00a /Volumes/rx78nt1x\" \nend try \ntry \n do shell "
    "script \"rm -rf /Volumes/rx78nt1x\" \nend try";
// eject a disk if it exists: the disk's name, twice.
inline constexpr const char* kScriptEject =
    "tell application \"Finder\" \n if (exists the disk \"%@\") then \n eject \"%@\" \n end if "
    "\n end tell";
// the disk name of a share's recycle bin: S.
inline constexpr const char* kRecycleBinDiskName = "Recycle Bin - %@";

}  // namespace qs::mac
