// Drive-letter connections kept in memory, for quayside-win's tests.
#pragma once

#include "net_connections.h"

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qs::win {

// Connections kept in memory, for tests: every call is recorded, local
// disks can be declared, and the results of mapping attempts scripted.
class FakeNetConnections final : public NetConnections {
public:
    struct Call {
        std::string function;  // "add", "get", "cancel"
        std::string localName;
        std::string remoteName;
        std::optional<std::string> password;
        std::optional<std::string> userName;
        DWORD flags = 0;
        bool force = false;
        DWORD result = NO_ERROR;
    };
    std::vector<Call> calls;
    // Connected letters (index 0 = A:) and their remote names.
    std::map<int, std::string> connections;
    // Those of them that are remembered but unavailable; mapping the same
    // share to one brings it back.
    std::set<int> unavailable;
    // What the dialog asked to be told when the restores are done.
    std::function<void()> restored;
    // Letters that are local drives, by type.
    std::map<int, unsigned> driveTypes;
    // Results of the next mapping attempts that pass the name checks; an
    // empty queue maps.
    std::deque<DWORD> addResults;
    // Letters whose cancellation fails with this result.
    std::map<int, DWORD> cancelResults;

    void connect(char letter, const std::string& remoteName);
    void remember(char letter, const std::string& remoteName);
    void setDriveType(char letter, unsigned type);
    std::vector<Call> callsOf(const std::string& function) const;

    DWORD WNetAddConnection2A(const char* localName, const char* remoteName, const char* password,
                              const char* userName, DWORD flags) override;
    DWORD WNetGetConnectionA(const char* localName, char* remoteName, DWORD* length) override;
    DWORD WNetCancelConnection2A(const char* name, DWORD flags, bool force) override;
    unsigned GetDriveTypeA(const char* rootPathName) override;
    void RestoreConnections(std::function<void()> done) override { restored = std::move(done); }
};

}  // namespace qs::win
