// SMB addresses, "smb://[USER[:PASSWORD]@]HOST/SHARE[/]", written and read
// in this one place for both programs. Every part is percent-encoded
// (RFC 3986), so no name, user or password can add to an address or change
// it: a share named "a#b@c%d" is "a%23b%40c%25d". Standard C++; no GIO.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qs::shares {

// A user name, password or share name as it goes into an address: every
// byte but ASCII letters, digits, "-", "_" and "~" becomes "%XX" (dots too,
// so that a share is never the path segment "." or "..").
std::string encodeAddressPart(std::string_view text);
// A host (a dotted IPv4 address or a host name) as it goes into an address:
// the same, but dots stay.
std::string encodeHost(std::string_view host);
// Undoes the encoding (either case of hex digits); nothing when a "%" is not
// followed by two hex digits or stands for a NUL.
std::optional<std::string> decodeAddressPart(std::string_view text);

// Whether two share names (UTF-8) name the same share: SMB compares them
// without regard to the case of their letters, of any script, and GVfs
// reports a mounted share in lower case.
bool sameShareName(std::string_view a, std::string_view b);

// "smb://HOST/SHARE/": what GVfs mounts.
std::string smbUri(std::string_view host, std::string_view share);

// An address taken apart, every part decoded.
struct SmbAddress {
    std::optional<std::string> user;      // nothing without an "@"; "smb://@HOST/SHARE" gives an empty one
    std::optional<std::string> password;  // nothing without a ":" after the user
    std::string host;
    std::string share;
};
// "smb://[USER[:PASSWORD]@]HOST/SHARE", without or with one closing "/".
std::string smbAddress(const SmbAddress& address);
// Reads what smbAddress and smbUri write, and the roots GVfs names. Nothing
// for another scheme, an empty host or share, a path below the share or a
// part that does not decode.
std::optional<SmbAddress> parseSmbAddress(std::string_view address);

}  // namespace qs::shares
