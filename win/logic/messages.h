// Every message quayside-win shows, in one table: its English text, its
// caption ("Error", "Warning" or "Confirm") and its icon. Each is shown as
// a modal message box of the main window with one OK button, but
// AddressWarning, which is asked with OK and Cancel.
#pragma once

#include <string>
#include <string_view>

namespace qs::win {

enum class MessageIcon { Error, Warning, Information, Question };
enum class Caption { Error, Warning, Confirm };

const char* captionText(Caption caption);

enum class Message {
    SelectDeviceToConnect,    // the same text as SelectDeviceToApply, as a warning
    SelectDeviceToApply,
    SelectDeviceToConfigure,
    WrongPassword,
    InputAddress,
    InputNetmask,
    AddressInputError,
    AddressFirstOctet,
    GatewayFirstOctet,
    NetmaskInvalid,
    ConfigurationInvalid,
    DhcpFailed,
    DhcpEnabled,
    VolumeLocked,             // "<volume> is Locked."
    MapFailed,
    Mapped,
    UnmapFailed,
    Unmapped,
    DeviceUnavailable,
    NoBrowser,                // names the address to open by hand
    // Before and after a settings change; the subject is the whole line
    // (the same one the command-line tool prints).
    AddressWarning,           // asked with OK and Cancel: Cancel sends nothing
    BoxElsewhere,
};

struct Notice {
    std::string text;
    Caption caption;
    MessageIcon icon;
};

// The message as shown; `subject` is the volume of VolumeLocked and the
// address of NoBrowser, unused by the others.
Notice notice(Message message, std::string_view subject = {});

}  // namespace qs::win
