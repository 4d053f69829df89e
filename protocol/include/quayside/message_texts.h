// The English texts both programs show, written once. Each program keeps its
// own table of what it shows when (caption, icon, alert code); the texts the
// two have in common come from here.
#pragma once

namespace qs::texts {

inline constexpr const char* kSelectDeviceAbove = "Please select a device in the above section.";
inline constexpr const char* kSelectDeviceToConfigure = "Please select a device to configure.";
inline constexpr const char* kWrongPassword = "Wrong administrator password input!";
inline constexpr const char* kInputAddress = "Please input IP address!";
inline constexpr const char* kInputNetmask = "Please input net mask address!";
inline constexpr const char* kAddressInputError = "IP address input error. Please try again.";
inline constexpr const char* kAddressFirstOctet = "Invalid IP address in 1st digit. It should be 1-223.";
inline constexpr const char* kGatewayFirstOctet = "Invalid gateway IP address in 1st digit. It should be 1-223.";
inline constexpr const char* kNetmaskInvalid = "Netmask address input invalid. Please try again.";
inline constexpr const char* kConfigurationInvalid = "You enter incorrect TCP/IP configuration. Please try again.";
inline constexpr const char* kMapFailed = "Failed to map drive.";
inline constexpr const char* kMapped = "Successfully mapped drive.";
inline constexpr const char* kUnmapped = "Successfully unmapped drive.";
inline constexpr const char* kUnmapFailed =
    "Unable to disconnect this drive.\nPlease select a drive to disconnect and verify that the drive is not being "
    "accessed.";

}  // namespace qs::texts
