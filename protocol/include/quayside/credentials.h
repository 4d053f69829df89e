// Client identity and the credential encoding carried by device requests.
#pragma once

#include "quayside/wire.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace qs {

// User names and passwords are cut to this many bytes before encoding, so
// the base64 text fits a 64-byte field exactly.
inline constexpr std::size_t kCredentialCut = 48;
inline constexpr std::size_t kCredentialField = 64;

// Standard base64 (RFC 4648 alphabet, '=' fill, no line breaks).
std::string encode(std::string_view bytes);
std::string encode(const void* data, std::size_t length);

using AuthBlock = std::array<std::uint8_t, kAuthBlockSize>;

// The 128-byte authentication block: base64 of the user name at offset 0,
// base64 of the password at offset 64, each NUL-padded; empty input leaves
// its half zero.
AuthBlock makeAuthBlock(std::string_view user, std::string_view password);

// Appends the block for these credentials; the caller accounts for the 128
// bytes in body_len (finishRequest does so from the size).
void appendAuthData(ByteWriter& w, std::string_view user, std::string_view password);

// Overwrites a secret's memory, its spare capacity included, in a way the
// compiler keeps (explicit_bzero), then empties it. For passwords and the
// requests and encodings made from them, once they have been used.
void secureClear(std::string& secret);
void secureClear(Bytes& secret);

// Who acts on a box in one operation. The password is overwritten when the
// value ends.
struct Credentials {
    std::string user;
    std::string password;

    Credentials() = default;
    Credentials(std::string u, std::string p) : user(std::move(u)), password(std::move(p)) {}
    Credentials(const Credentials&) = default;
    Credentials(Credentials&&) = default;
    Credentials& operator=(const Credentials&) = default;
    Credentials& operator=(Credentials&&) = default;
    ~Credentials() { secureClear(password); }
    // Both emptied, the password overwritten.
    void clear() {
        secureClear(password);
        user.clear();
    }
};

// Keeps this process's memory, with the passwords it holds, out of core
// dumps and away from other processes of the same user (no ptrace attach;
// its /proc files become root's). For programs that hold passwords; a
// program it starts gets the usual setting back at exec.
void keepMemoryPrivate();

// Source of random 32-bit words for client ids; replaceable in tests.
using RandomWords = std::function<std::uint32_t()>;
RandomWords systemRandom();

// Blocking-form client id: byte i is the low 8 bits of the i-th random word.
Uuid8 makeClientId(const RandomWords& rnd = systemRandom());
// Run-loop-form client id: bytes 0..5 are (word mod 125) + 1, bytes 6..7 zero.
Uuid8 makeRunLoopClientId(const RandomWords& rnd = systemRandom());

}  // namespace qs
