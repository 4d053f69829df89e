#include "support/fake_net_connections.h"

#include <cstring>

namespace qs::win {

namespace {
std::optional<std::string> opt(const char* s) { return s ? std::optional<std::string>(s) : std::nullopt; }
std::string text(const char* s) { return s ? s : ""; }
}  // namespace

void FakeNetConnections::connect(char letter, const std::string& remoteName) {
    if (auto i = driveIndex(std::string{letter, ':'})) connections[*i] = remoteName;
}

void FakeNetConnections::remember(char letter, const std::string& remoteName) {
    connect(letter, remoteName);
    if (auto i = driveIndex(std::string{letter, ':'})) unavailable.insert(*i);
}

void FakeNetConnections::setDriveType(char letter, unsigned type) {
    if (auto i = driveIndex(std::string{letter, ':'})) driveTypes[*i] = type;
}

std::vector<FakeNetConnections::Call> FakeNetConnections::callsOf(const std::string& function) const {
    std::vector<Call> out;
    for (const Call& c : calls)
        if (c.function == function) out.push_back(c);
    return out;
}

DWORD FakeNetConnections::WNetAddConnection2A(const char* localName, const char* remoteName, const char* password,
                                              const char* userName, DWORD flags) {
    Call call{"add", text(localName), text(remoteName), opt(password), opt(userName), flags, false, NO_ERROR};
    const auto index = driveIndex(call.localName);
    if (!index) {
        call.result = ERROR_BAD_DEVICE;
    } else if ((connections.count(*index) && !(unavailable.count(*index) && connections[*index] == call.remoteName)) ||
               driveTypes.count(*index)) {
        call.result = ERROR_ALREADY_ASSIGNED;
    } else if (!parseRemoteName(call.remoteName)) {
        call.result = ERROR_BAD_NET_NAME;
    } else if (!addResults.empty()) {
        call.result = addResults.front();
        addResults.pop_front();
    }
    if (call.result == NO_ERROR) {
        connections[*index] = call.remoteName;
        unavailable.erase(*index);
    }
    calls.push_back(call);
    return call.result;
}

DWORD FakeNetConnections::WNetGetConnectionA(const char* localName, char* remoteName, DWORD* length) {
    Call call{"get", text(localName), {}, {}, {}, 0, false, NO_ERROR};
    const auto index = driveIndex(call.localName);
    if (!index) {
        call.result = ERROR_BAD_DEVICE;
    } else if (auto it = connections.find(*index); it == connections.end()) {
        call.result = ERROR_NOT_CONNECTED;
    } else if (!length || it->second.size() + 1 > *length || !remoteName) {
        if (length) *length = static_cast<DWORD>(it->second.size() + 1);
        call.result = ERROR_MORE_DATA;
    } else {
        std::memcpy(remoteName, it->second.c_str(), it->second.size() + 1);
        call.remoteName = it->second;
        if (unavailable.count(*index)) call.result = ERROR_CONNECTION_UNAVAIL;
    }
    calls.push_back(call);
    return call.result;
}

DWORD FakeNetConnections::WNetCancelConnection2A(const char* name, DWORD flags, bool force) {
    Call call{"cancel", text(name), {}, {}, {}, flags, force, NO_ERROR};
    const auto index = driveIndex(call.localName);
    if (!index || !connections.count(*index)) {
        call.result = ERROR_NOT_CONNECTED;
    } else if (auto it = cancelResults.find(*index); it != cancelResults.end()) {
        call.result = it->second;
    } else {
        call.remoteName = connections[*index];
        connections.erase(*index);
        unavailable.erase(*index);
    }
    calls.push_back(call);
    return call.result;
}

unsigned FakeNetConnections::GetDriveTypeA(const char* rootPathName) {
    const auto index = driveIndex(text(rootPathName));
    if (!index) return DRIVE_NO_ROOT_DIR;
    if (auto it = driveTypes.find(*index); it != driveTypes.end()) return it->second;
    return connections.count(*index) ? DRIVE_REMOTE : DRIVE_NO_ROOT_DIR;
}

}  // namespace qs::win
