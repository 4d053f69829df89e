// Mounting and unmounting the selected box's volumes: composed scripts run
// by the platform's script service, a marker file that tells a failed
// mount, and the "mount" command's list that tells where a share is.
#include "main_controller.h"
#include "script_host.h"
#include "quayside/address.h"
#include "smb_address.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

namespace qs::mac {

namespace {

constexpr std::size_t kMarkerBuffer = 2048;
constexpr std::size_t kMountLine = 1023;


// Names from the network (host and share names) and typed credentials go
// into script strings: nothing that could end a string, start an escape or
// a line, or reach another folder.
bool scriptSafe(const std::string& text, bool allowSlash = false) {
    for (const unsigned char c : text)
        if (c == '"' || c == '\\' || c < 0x20 || c == 0x7f || (c == '/' && !allowSlash)) return false;
    return true;
}

// The host and share of a line of the mount list, "//[user@]host/share on
// /mount/point (...)", decoded from the address form the list writes them
// in: the fields themselves, so that a name that is only part of another
// host's name, of the login name or of a folder matches nothing. Nothing for
// a line of another form.
struct MountSource {
    std::string host, share;
    std::size_t mountPoint = 0;  // where " on /" starts
};
std::optional<MountSource> mountSource(std::string_view line) {
    if (line.substr(0, 2) != "//") return std::nullopt;
    const auto on = line.find(" on /", 2);
    if (on == std::string_view::npos) return std::nullopt;
    const std::string_view source = line.substr(2, on - 2);
    const auto slash = source.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view host = source.substr(0, slash);
    if (const auto at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
    auto hostName = shares::decodeAddressPart(host);
    auto shareName = shares::decodeAddressPart(source.substr(slash + 1));
    if (!hostName || !shareName) return std::nullopt;
    return MountSource{std::move(*hostName), std::move(*shareName), on};
}

// The parts of a mount address, percent-encoded: no name, user or password
// can change the address it goes into.
std::string encoded(const std::string& text) { return shares::encodeAddressPart(text); }
std::string encodedHost(const std::string& name) { return shares::encodeHost(name); }

// The Finder's check for a disk of the box at `address`.
std::string diskCheckScript(const std::string& address, const std::string& disk) {
    return composeScript(kScriptDiskCheck, {address, disk, address});
}

}  // namespace

const VolumeData* MainController::selectedShare() {
    const int row = m_toolkit.selectedRow(Table::Volume);
    if (!m_packager || row < 0 || static_cast<std::size_t>(row) >= m_packager->volumeArray().size()) return nullptr;
    return &m_packager->volumeArray()[static_cast<std::size_t>(row)];
}

bool MainController::mountTargetSafe() {
    const auto box = selectedDevice();
    const VolumeData* share = selectedShare();
    if (!box || !share) return false;
    // A box without a host name is still reached by its address.
    return box->port[0].IP.address().has_value() && scriptSafe(box->hostname.str()) && !share->name.empty() &&
           scriptSafe(share->name);
}

bool MainController::credentialsSafe() {
    const std::string user = m_toolkit.stringValue(Field::UserName);
    const std::string password = m_toolkit.stringValue(Field::Password);
    return scriptSafe(user) && user.find_first_of(":@") == std::string::npos && scriptSafe(password, true);
}

void MainController::executeShell(ScriptKind kind) {
    if (!m_options.mountPlatform) return;
    MountPlatform& platform = *m_options.mountPlatform;
    if (kind == ScriptKind::TestMount) {
        if (!testMountDevice.empty() && scriptSafe(testMountDevice))
            platform.runScriptText(composeScript(kScriptTestMount, {testMountDevice}));
        return;
    }
    const auto box = selectedDevice();
    const VolumeData* share = selectedShare();
    if (kind == ScriptKind::DiskCheck) {
        if (!box || !share || !mountTargetSafe()) return;
        platform.runScriptText(diskCheckScript(box->port[0].IP.str(), share->name));
        return;
    }
    if (kind < ScriptKind::MountAsUser || kind > ScriptKind::RemoveMarker) return;
    if (!box || !share) {
        displayAlertMessage(Alert::SelectDeviceAbove);
        return;
    }
    if (!mountTargetSafe()) return;
    // No host name: there is no try by name.
    if ((kind == ScriptKind::GuestByName || kind == ScriptKind::PlainByName) && box->hostname.empty()) return;
    // A mount of the same share that may still be there goes first.
    const std::string shareName = share->name;
    unmountVolume();
    // The marker path takes the address as it is; the mount address takes
    // every part encoded. The disk check (kind 3) names the disk, which
    // bears the share's real name.
    const std::string a = box->port[0].IP.str(), h = box->hostname.str(), s = encoded(shareName);
    std::string script;
    switch (kind) {
        case ScriptKind::MountAsUser: {
            const std::string login = platform.loginName();
            if (!scriptSafe(login) || login.find_first_of(":@") != std::string::npos) return;
            script = composeScript(kScriptMountUser, {a, encoded(login), encodedHost(a), s, a});
            break;
        }
        case ScriptKind::MountWithCredentials:
            if (!credentialsSafe()) return;
            script = composeScript(kScriptMountCredentials,
                                   {a, encoded(m_toolkit.stringValue(Field::UserName)),
                                    encoded(m_toolkit.stringValue(Field::Password)), encodedHost(a), s, a});
            break;
        case ScriptKind::GuestByName: script = composeScript(kScriptMountGuest, {a, encodedHost(h), s, a}); break;
        case ScriptKind::GuestByAddress: script = composeScript(kScriptMountGuest, {a, encodedHost(a), s, a}); break;
        case ScriptKind::PlainByName: script = composeScript(kScriptMountPlain, {a, encodedHost(h), s, a}); break;
        case ScriptKind::RemoveMarker: script = composeScript(kScriptRemoveMarker, {a}); break;
        default: return;
    }
    platform.runScriptText(script);
}

bool MainController::checkMountResult() {
    const auto box = selectedDevice();
    if (!m_options.mountPlatform || !box) return false;
    const std::string a = box->port[0].IP.str();
    if (!isDottedIPv4(a)) return false;
    char marker[kMarkerBuffer];
    std::snprintf(marker, sizeof marker, "/tmp/%s_no_pass_fail", a.c_str());
    return !m_options.mountPlatform->fileReadable(marker);
}

bool MainController::checkVolumeLocked(int row) {
    if (row < 0 || !m_packager || static_cast<std::size_t>(row) >= m_packager->volumeArray().size()) return false;
    return m_packager->volumeArray()[static_cast<std::size_t>(row)].isLocked;
}

bool MainController::getRealMountPath(char* buffer, std::size_t size, const std::string& name,
                                      const std::string& share) {
    if (!m_options.mountPlatform || size == 0 || name.empty()) return false;
    const auto output = m_options.mountPlatform->mountOutput();
    if (!output) return false;
    for (const std::string& whole : *output) {
        // Read as the command's lines arrive, at most 1023 characters at a time.
        for (std::size_t at = 0; at < whole.size() || at == 0; at += kMountLine) {
            const std::string line = whole.substr(at, kMountLine);
            // The share as SMB names it, in any case: GVfs reports it in
            // lower case.
            const auto source = mountSource(line);
            if (!source || source->host != name || !shares::sameShareName(source->share, share)) continue;
            // The folder bears the share's real name, which may hold " (".
            const auto volumes = line.find("Volumes/", source->mountPoint);
            if (volumes == std::string::npos) continue;
            const auto start = volumes + std::strlen("Volumes/");
            const auto end = line.rfind(" (");
            if (end == std::string::npos || end <= start) continue;
            const std::string folder = line.substr(start, end - start);
            const std::size_t n = std::min(folder.size(), size - 1);
            std::memcpy(buffer, folder.data(), n);
            buffer[n] = '\0';
            return true;
        }
    }
    return false;
}

Alert MainController::unmountVolume() {
    const auto box = selectedDevice();
    const VolumeData* share = selectedShare();
    if (!box || !share) return Alert::CannotDisconnect;
    if (!mountTargetSafe()) return Alert::UnmapFailed;
    if (!m_options.mountPlatform) return Alert::UnmapFailed;
    MountPlatform& platform = *m_options.mountPlatform;
    const std::string a = box->port[0].IP.str(), h = box->hostname.str(), shareName = share->name;

    // The share is found in the mount list by its box and its name, not by
    // the name of its disk: a second box's share of the same name is
    // mounted as "NAME-1", and the disk's name may differ from the share's
    // in case. Nothing of this box's share mounted: there is nothing to
    // disconnect, which is no success.
    char folder[1024];
    std::memset(folder, 0, sizeof folder);
    const bool found = getRealMountPath(folder, sizeof folder, h, shareName) ||
                       getRealMountPath(folder, sizeof folder, a, shareName);
    // The folder name comes from the mount list; it is put in a script only
    // when it is as harmless as a share name.
    if (!found || !scriptSafe(folder)) return Alert::UnmapFailed;
    // The Finder checks for the disk the mount list names.
    platform.runScriptText(diskCheckScript(a, folder));
    if (!checkMountResult()) return Alert::UnmapFailed;
    char recycle[1024];
    std::snprintf(recycle, sizeof recycle, "Recycle Bin - %s", shareName.c_str());
    platform.runScriptText(composeScript(kScriptEject, {recycle, recycle}));
    platform.runScriptText(composeScript(kScriptEject, {folder, folder}));

    char again[1024] = {};
    if (getRealMountPath(again, sizeof again, h, shareName) || getRealMountPath(again, sizeof again, a, shareName))
        return Alert::UnmapFailed;
    return Alert::Unmapped;
}

void MainController::btnMountPressed() {
    m_toolkit.setEnabled(Button::Connect, false);
    const auto box = selectedDevice();
    const VolumeData* share = selectedShare();
    if (!share || !box) {
        displayAlertMessage(Alert::SelectDeviceAbove);
        m_toolkit.setEnabled(Button::Connect, true);
        return;
    }
    if (checkVolumeLocked(m_toolkit.selectedRow(Table::Volume))) {
        displayAlertMessage(Alert::Locked);
        m_toolkit.setEnabled(Button::Connect, true);
        return;
    }
    if (!mountTargetSafe()) {
        displayAlertMessage(Alert::MapFailed);
        m_toolkit.setEnabled(Button::Connect, true);
        return;
    }
    // By host name, by address, then by host name without the guest "@";
    // a box without a host name is tried by its address only.
    const bool byName = !box->hostname.empty();
    bool mounted = false;
    if (byName) {
        executeShell(ScriptKind::GuestByName);
        mounted = checkMountResult();
    }
    if (!mounted) {
        executeShell(ScriptKind::RemoveMarker);
        executeShell(ScriptKind::GuestByAddress);
        mounted = checkMountResult();
    }
    if (!mounted && byName) {
        executeShell(ScriptKind::PlainByName);
        mounted = checkMountResult();
    }
    displayAlertMessage(mounted ? Alert::Mapped : Alert::MapFailed);
    m_toolkit.setEnabled(Button::Connect, true);
}

void MainController::btnUnmountPressed() { displayAlertMessage(unmountVolume()); }

void MainController::credentialsMount() {
    const bool safe = mountTargetSafe() && credentialsSafe();
    // Without a box or share the script kind reports it (alert 2).
    if (safe || !selectedDevice() || !selectedShare()) executeShell(ScriptKind::MountWithCredentials);
    m_calledAction = Action::None;
    displayAlertMessage(safe && checkMountResult() ? Alert::Mapped : Alert::MapFailed);
}

}  // namespace qs::mac
