// quayside-mac's checks of a static TCP/IP configuration. Every check
// returns 0 for valid input or the alert code of the alert table that the
// apply flow shows. The rules are the shared LAN checks (quayside/lan_checks.h)
// under this program's policy; the codes are this program's own.
#pragma once

#include "quayside/lan_checks.h"

#include <array>
#include <cstdint>
#include <string>

namespace qs::mac {

// The alert code of a refusal (0 for none).
int alertCodeOf(LanError error);

class TcpIpChecks {
public:
    // Kinds of checkIPValidation: 2 netmask, 3 gateway, any other value an
    // address (the apply sequence uses 1).
    static constexpr int kAddress = 1;
    static constexpr int kNetmask = 2;
    static constexpr int kGateway = 3;

    // Last parsed address (0), netmask (1) and gateway (2), host order.
    // checkIPValidation writes the entry of its kind as it parses: the
    // first number shifted left by 24 replaces the entry, then the second
    // shifted by 16, the third by 8 and the fourth are OR-ed in (all on
    // unsigned 32-bit values). A check that fails part-way leaves the entry
    // partly filled.
    std::array<std::uint32_t, 3> netmaskching{};

    // Address (kind 1 or any kind but 2 and 3): 33, 10, 11, 12, 13 or 0.
    // Netmask (kind 2): 34, 15, 16, 17, 18 or 0. Gateway (kind 3): 35, 19,
    // 20, 21, 22 or 0. An absent text gives 0 and writes nothing. The
    // numbers are read leniently (readDottedText) for the range codes; a
    // text whose numbers pass but that is not exactly a dotted address
    // ("10..0.5", "1.2.3.4.5", " 1.2.3.4", "010.0.0.1") then gives the
    // kind's input-error code (33, 34, 35), so only a real address is sent.
    int checkIPValidation(const std::string* text, int kind);

    // Bit check of the mask read as inet_addr reads it: 36 when absent,
    // when the first number is 0, when a 1 bit follows a 0 bit, or when all
    // four numbers are 255 (also for an unparsable text); otherwise 0.
    int checkSubnetValidation(const std::string* netmask);

    // 37 when a text is absent, when the address (read as inet_addr reads
    // it) is automatic (first number 169 or second number 254), or when the
    // gateway is the subnet's network or broadcast address; otherwise 0.
    int checkDomainValidation(const std::string* ip, const std::string* netmask,
                              const std::string* gateway);

    // True when the first number is 169 or, failing that, the second is
    // 254. False for an absent text or a missing dot before the number.
    bool isAutoIP(const std::string* ip);

    // 39 when the stored address is outside the stored gateway's subnet
    // (stored netmask); otherwise 0.
    int checkNetmaskMappingValidation();

    // The apply sequence (static address), first non-zero result wins:
    // empty texts (4, 5, 6); address "225.0.0.1" (23); address equal to the
    // netmask (25), to the gateway (24); netmask equal to the gateway (26);
    // the address, netmask and (unless isAutoIP) gateway checks; the subnet
    // bit check; the domain check; the mapping check.
    //
    // The sequence first clears netmaskching, so that no entry of an
    // earlier (possibly failed) apply is ever read, and leaves the entries
    // of the fields it parsed as checkIPValidation leaves them.
    int validateStaticSettings(const std::string& ip, const std::string& netmask,
                               const std::string& gateway);
};

}  // namespace qs::mac
