// The main controller's drive letters: the table of every letter's
// connection, the combo, the volume list with the letter of each volume,
// Connect and Disconnect.
#include "controller_support.h"
#include "main_controller.h"
#include "quayside/device_library.h"

#include <algorithm>
#include <cstring>
#include <locale.h>
#include <optional>
#include <vector>
#include <wctype.h>

namespace qs::win {

namespace {

// The next character of UTF-8 text; a byte that starts no valid sequence
// stands for itself.
char32_t nextChar(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    const int more = lead >= 0xF0 && lead < 0xF8 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (lead < 0x80 || more == 0 || at + static_cast<std::size_t>(more) > text.size()) return lead;
    char32_t c = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        const auto b = static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
        if ((b & 0xC0) != 0x80) return lead;
        c = (c << 6) | (b & 0x3F);
    }
    at += static_cast<std::size_t>(more);
    return c;
}

// The name a share token gives its volume, as the list shows it and the
// server publishes it (at most 256 bytes).
std::string volumeName(std::string_view token) {
    const std::string_view name = readShareToken(token).name;
    return std::string(name.substr(0, 256));
}

// Whether the device marks the volume locked in its share list.
bool volumeLocked(const ShareRegistry& shares, const std::string& volume) {
    for (std::size_t i = 0; i < shares.count(); ++i) {
        const ShareToken share = readShareToken(shares.at(i));
        if (share.isLocked && volumeName(shares.at(i)) == volume) return true;
    }
    return false;
}

std::string letterName(int entry) { return {driveLetterOf(entry), ':'}; }

// Whether two UTF-8 texts are the same but for the case of their letters
// (of any script).
bool sameIgnoringCase(std::string_view a, std::string_view b) {
    // Letters of every script, whatever locale the program runs in.
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    auto fold = [](char32_t c) -> char32_t {
        if (c < 0x80 || !unicode) return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
        return static_cast<char32_t>(::towlower_l(static_cast<wint_t>(c), unicode));
    };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (fold(nextChar(a, i)) != fold(nextChar(b, j))) return false;
    return i == a.size() && j == b.size();
}

}  // namespace

void MainController::readDriveEntry(int entry) {
    DriveTableEntry& e = DriveTable[static_cast<std::size_t>(entry)];
    e.localName = letterName(entry);
    e.server.clear();
    e.share.clear();
    e.unnamed = false;
    if (!net) return;
    std::vector<char> remote(kRemoteNameBuffer, '\0');
    DWORD length = kRemoteNameBuffer;
    DWORD rc = net->WNetGetConnectionA(e.localName.c_str(), remote.data(), &length);
    // A remote name longer than the buffer is asked for again with the room
    // it needs: its letter is taken all the same.
    if (rc == ERROR_MORE_DATA && length > remote.size() && length <= kLongestRemoteName) {
        remote.assign(length, '\0');
        rc = net->WNetGetConnectionA(e.localName.c_str(), remote.data(), &length);
    }
    if (rc == ERROR_MORE_DATA) {
        e.unnamed = true;
        return;
    }
    // A remembered connection that is not there now still holds its
    // letter: it is named, only unavailable.
    if (rc != NO_ERROR && rc != ERROR_CONNECTION_UNAVAIL) return;
    // "\\server\share": the server ends at the first backslash after the
    // leading two.
    const std::string name(remote.data(), ::strnlen(remote.data(), remote.size()));
    const std::size_t sep = name.find('\\', 2);
    if (sep == std::string::npos) {
        e.server = name.size() > 2 ? name.substr(2) : std::string();
    } else {
        e.server = name.substr(2, sep - 2);
        e.share = name.substr(sep + 1);
    }
    e.unnamed = !e.connected();
}

void MainController::RefreshDriveTable() {
    for (int i = 0; i < kDriveCount; ++i) readDriveEntry(i);
}

bool MainController::IsEligibleDrive(int entry) {
    const char letter = driveLetterOf(entry);
    if (letter == 'A' || letter == 'B') return false;
    if (!net) return true;
    switch (net->GetDriveTypeA(letterName(entry).c_str())) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
        return false;
    default:
        return true;  // free, unknown, no root, network
    }
}

void MainController::FillDriveLetterCombo() {
    view_.clearItems(Combo::DriveLetter);
    comboLetters_.clear();
    int added = 0;
    int firstFree = -1;
    for (int i = 0; i < kDriveCount; ++i) {
        if (!IsEligibleDrive(i)) continue;
        const DriveTableEntry& e = DriveTable[static_cast<std::size_t>(i)];
        const std::string local = letterName(i);
        comboLetters_.push_back(local);
        if (e.connected()) {
            view_.addItem(Combo::DriveLetter, local + " " + remoteNameOf(e.server, e.share));
        } else if (e.unnamed) {
            view_.addItem(Combo::DriveLetter, local + " (in use)");
        } else {
            view_.addItem(Combo::DriveLetter, local);
            if (firstFree < 0) firstFree = added;
        }
        ++added;
    }
    // Every letter connected: no selection.
    view_.setCurrentIndex(Combo::DriveLetter, firstFree);
}

std::string MainController::SelectedDriveLetter() {
    const int index = view_.currentIndex(Combo::DriveLetter);
    if (index < 0 || static_cast<std::size_t>(index) >= comboLetters_.size()) return {};
    return comboLetters_[static_cast<std::size_t>(index)];
}

std::string MainController::FindSpareDriveLetter(const std::string& avoid) {
    for (int i = 0; i < kDriveCount; ++i) {
        if (!IsEligibleDrive(i) || DriveTable[static_cast<std::size_t>(i)].inUse()) continue;
        if (avoid.empty() || driveLetterOf(i) != avoid[0]) return letterName(i);
    }
    return {};
}

std::string MainController::FindLetterOfShare(const std::string& share) const {
    for (const DriveTableEntry& e : DriveTable)
        if (!e.share.empty() && e.share == share) return e.localName;
    return {};
}

void MainController::FillVolumeList(const std::string& name, const std::string& ip, bool exactServer) {
    view_.clearRows(List::Volume);
    view_.redraw(List::Volume);
    auto sameServer = [exactServer](const std::string& a, const std::string& b) {
        return exactServer ? a == b : sameIgnoringCase(a, b);
    };
    const ShareRegistry& shares = library_.shares;
    std::vector<std::string> listed;
    for (std::size_t i = 0; i < shares.count(); ++i) {
        const std::string volume = volumeName(shares.at(i));
        // The recycle bins are reached through their volumes.
        if (volume.rfind("Recycle Bin", 0) == 0) continue;
        // "Public@5" and "Public*6" name one volume.
        if (std::find(listed.begin(), listed.end(), volume) != listed.end()) continue;
        listed.push_back(volume);
        const int row = view_.insertRow(List::Volume, view_.rowCount(List::Volume), volume);
        // The last match from Z: on (the letter nearest A:) stays.
        for (const DriveTableEntry& d : DriveTable) {
            if (!d.connected()) continue;
            const bool server = sameServer(d.server, name) || sameServer(d.server, ip);
            if (server && sameIgnoringCase(d.share, volume)) view_.setCellText(List::Volume, row, 1, d.localName);
        }
    }
    view_.redraw(List::Volume);
}

void MainController::RebuildVolumeList(const std::string& ip) {
    view_.clearRows(List::Volume);
    const ShareRegistry& shares = library_.shares;
    for (std::size_t i = 0; i < shares.count(); ++i) {
        const std::string name = volumeName(shares.at(i));
        const int row = view_.insertRow(List::Volume, static_cast<int>(i), name);
        for (const DriveTableEntry& d : DriveTable)
            if (d.connected() && sameIgnoringCase(d.server, ip) && sameIgnoringCase(d.share, name))
                view_.setCellText(List::Volume, row, 1, d.localName);
    }
    view_.redraw(List::Volume);
}

void MainController::OnConnect() {
    // Connect leaves the library without credentials until the next device
    // selection.
    credentials_.clear();
    loginPurpose = LoginPurpose::ShareAccess;

    std::string deviceIP;
    std::string key;
    const int deviceRow = FindSelectedRow(List::Device);
    if (deviceRow >= 0) {
        deviceIP = view_.cellText(List::Device, deviceRow, 1);
        currentDeviceIP = deviceIP;
        if (const auto id = view_.deviceId(deviceRow)) key = MakeDeviceKey(*id);
    }
    std::string version;
    int versionCode = 0;
    GetWindowsVersionName(version, versionCode, versionQuery);
    const bool nt = version.find("NT") != std::string::npos;
    const bool vista = version.find("Vista") != std::string::npos;

    const int volumeRow = FindSelectedRow(List::Volume);
    if (volumeRow < 0 || deviceRow < 0) {
        say(Message::SelectDeviceToConnect);
        return;
    }
    const std::string volume = view_.cellText(List::Volume, volumeRow, 0);
    // A locked volume is served to no one until it is unlocked on the box.
    if (volumeLocked(library_.shares, volume)) {
        say(Message::VolumeLocked, volume);
        return;
    }

    // The letter is known by itself, not by the item's text, which a
    // refresh may have changed since the user chose it.
    const std::string local = SelectedDriveLetter();
    if (local.empty()) return;
    const int entry = 'Z' - local[0];
    // The table may be older than the letter's connection (another program
    // may have taken it since): the letter is read again before it is used.
    const bool listedInUse = DriveTable[static_cast<std::size_t>(entry)].inUse();
    readDriveEntry(entry);
    const bool inUse = listedInUse || DriveTable[static_cast<std::size_t>(entry)].inUse();
    if (inUse && view_.askLetterInUse() == MountAnswer::Cancel) return;
    if (!net) return;

    const std::string remote = remoteNameOf(deviceIP, volume);
    const std::string recycleRemote = remoteNameOf(deviceIP, "Recycle Bin - " + volume);
    const std::string recycleLocal = FindSpareDriveLetter(local);

    // The wait cursor while the system works, not over the messages.
    std::optional<Busy> busy;
    busy.emplace(view_);
    net->WNetCancelConnection2A(local.c_str(), CONNECT_UPDATE_PROFILE, true);

    // The credentials that worked, for the recycle bin too.
    struct Used {
        bool given = false;
        std::string user, password;
        DWORD flags = CONNECT_UPDATE_PROFILE;
    } used;
    auto cached = [&] {
        Credentials who;
        loginCache.copyOut(key, who);
        return std::pair<std::string, std::string>(who.user, who.password);
    };
    auto add = [&](const char* password, const char* user, DWORD flags) {
        return net->WNetAddConnection2A(local.c_str(), remote.c_str(), password, user, flags) == NO_ERROR;
    };
    bool mapped = false;
    if (nt) {
        const auto [user, password] = cached();
        for (int attempt = 0; attempt < 6 && !mapped; ++attempt)
            mapped = add(password.c_str(), user.c_str(), CONNECT_UPDATE_PROFILE);
        used = {true, user, password, CONNECT_UPDATE_PROFILE};
    } else if (add("", "", CONNECT_UPDATE_PROFILE)) {
        mapped = true;
    } else if (vista) {
        // The system may ask the user for credentials itself.
        const DWORD flags = CONNECT_UPDATE_PROFILE | CONNECT_INTERACTIVE;
        mapped = add("", "", flags);
        used.flags = flags;
    } else {
        const auto [user, password] = cached();
        mapped = add(password.c_str(), user.c_str(), CONNECT_UPDATE_PROFILE);
        used = {true, user, password, CONNECT_UPDATE_PROFILE};
    }

    if (!mapped) {
        busy.reset();
        say(Message::MapFailed);
        return;
    }
    if (!recycleLocal.empty()) {
        if (used.given)
            net->WNetAddConnection2A(recycleLocal.c_str(), recycleRemote.c_str(), used.password.c_str(),
                                     used.user.c_str(), used.flags);
        else
            net->WNetAddConnection2A(recycleLocal.c_str(), recycleRemote.c_str(), nullptr, nullptr, used.flags);
    }
    busy.reset();
    say(Message::Mapped);
    RefreshDriveTable();
    FillDriveLetterCombo();
    FillVolumeList(view_.cellText(List::Device, deviceRow, 0), view_.cellText(List::Device, deviceRow, 1), true);
}

void MainController::OnDisconnect() {
    const int deviceTop = std::max(0, view_.topRow(List::Device));

    // The selected volume row, from the top visible row on.
    std::string driveText, volume;
    bool selected = false;
    for (int row = std::max(0, view_.topRow(List::Volume)); row < view_.rowCount(List::Volume); ++row) {
        if (!view_.rowSelected(List::Volume, row)) continue;
        driveText = view_.cellText(List::Volume, row, 1);
        volume = view_.cellText(List::Volume, row, 0);
        selected = true;
    }
    if (!selected) {
        driveText = SelectedDriveLetter();
        if (driveText.empty()) return;
        volume.clear();
    }
    const std::string letter = driveText.substr(0, 2);
    const std::string recycleLetter = FindLetterOfShare("Recycle Bin - " + volume);

    DWORD result = ERROR_NOT_CONNECTED;
    if (net) {
        Busy busy(view_);
        result = net->WNetCancelConnection2A(letter.c_str(), CONNECT_UPDATE_PROFILE, true);
        if (!recycleLetter.empty()) net->WNetCancelConnection2A(recycleLetter.c_str(), CONNECT_UPDATE_PROFILE, true);
    }
    if (result != NO_ERROR) {
        say(Message::UnmapFailed);
        return;
    }
    say(Message::Unmapped);
    RefreshDriveTable();
    FillDriveLetterCombo();
    for (int row = deviceTop; row < view_.rowCount(List::Device); ++row)
        if (view_.rowSelected(List::Device, row))
            FillVolumeList(view_.cellText(List::Device, row, 0), view_.cellText(List::Device, row, 1), false);
}

}  // namespace qs::win
