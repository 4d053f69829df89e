// The decisions of quayside-win's main window: the device search and
// selection with the login cache, the LAN panel's checks and Apply, the
// drive letters with Connect and Disconnect, and the web launch. It reaches
// the window only through MainView and the system through the connection,
// registry, program-start and version interfaces below, so that it is
// standard C++ over the protocol library; the skinned dialog
// (CHarbor_scanDlg) forwards its handlers here.
#pragma once

#include "login_cache.h"
#include "quayside/address_change.h"
#include "quayside/lan_checks.h"
#include "quayside/device_library.h"
#include "main_view.h"
#include "net_connections.h"
#include "weblaunch.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace qs::win {

// What the program knows of one drive letter's network connection: the
// server and share of its remote name "\\server\share" (both empty when
// the letter has none) and the letter itself ("Z:").
struct DriveTableEntry {
    std::string server;
    std::string share;
    std::string localName;
    // The letter has a connection whose remote name could not be read (or
    // is not of the "\\server\share" form): it is not free all the same.
    bool unnamed = false;
    // Both parts set.
    bool connected() const { return !server.empty() && !share.empty(); }
    // Connected, named or not: never offered as free.
    bool inUse() const { return unnamed || connected(); }
};
// Entry 0 is Z:, entry 25 is A:.
inline constexpr int kDriveCount = 26;
inline char driveLetterOf(int entry) { return static_cast<char>('Z' - entry); }

// How long Apply waits before it searches again.
inline constexpr int kApplyPauseMs = 2000;

// The address fields CheckAddressField checks, by their kind numbers.
enum class FieldKind { Address = 1, Gateway = 3 };

// The LAN panel's rules on their own (the shared LAN checks under this
// program's policy). Valid when no 1 bit follows a 0 bit (most significant
// bit of m0 first) and m0 is not 0; 255.255.255.255 is valid.
bool IsValidNetmask(int m0, int m1, int m2, int m3);
// True when the gateway does not fit the address and mask: it is the
// network or the broadcast address, or lies in another subnet. Never for a
// link-local (169.254) address.
bool IsGatewayMisplaced(const Octets& a, const Octets& m, const Octets& g);

class MainController {
public:
    explicit MainController(MainView& view);
    ~MainController();
    MainController(const MainController&) = delete;
    MainController& operator=(const MainController&) = delete;

    // Start-up once the window's controls are ready: the remembered drive
    // letters, the letters' table and combo, the first search.
    void start();
    // The end: device registry, sockets, login cache and share registry
    // cleared.
    void shutdown();

    // Handlers.
    void OnRefresh();
    void OnDeviceClick();
    void OnInterfaceChange();
    void OnDhcpChange();
    void OnApply();
    void OnConfiguration();
    void OnConnect();
    void OnDisconnect();

    bool LoginForDevice(const std::string& key);
    // After an accepted change: when the box is not where it was sent
    // (`asked`; any address for DHCP), it is looked for and the user told.
    void FollowMovedDevice(const Uuid8& id, const std::string& name, std::optional<std::uint32_t> asked);
    // Which row of a list is selected, scanning from the top visible row;
    // -1 when none is (a selected row scrolled above the view is not found).
    int FindSelectedRow(List list);

    // The web launch.
    void ProbeDeviceWeb();
    int WaitDeviceAvailable();

    // The LAN panel.
    // The three address fields checked; what a static Apply sends (the port
    // label left empty), or nothing after the refusal's message.
    std::optional<LanSettings> ValidateTcpIp();
    // 1 when the field's first number is 1..223, else 0 after its message.
    int CheckAddressField(FieldKind kind, int o0, int o1, int o2, int o3);
    void StoreLanFields(const std::string& label);
    void ShowLanEntry(int entry);
    // Rebuilds the volume list for a port's address (all shares, recycle
    // bins included, with the drive each is mapped to).
    void RebuildVolumeList(const std::string& ip);

    // Drive mapping and the volume list.
    void RefreshDriveTable();
    void FillDriveLetterCombo();
    // The first free eligible letter whose character differs from the first
    // of `avoid`, as "X:"; empty when there is none.
    std::string FindSpareDriveLetter(const std::string& avoid);
    // The letter of the first entry (from Z:) connected to exactly this
    // share; empty when none is.
    std::string FindLetterOfShare(const std::string& share) const;
    // Rebuilds the volume list from the share registry, with the letter each
    // volume of this device (by name or address) is connected to.
    void FillVolumeList(const std::string& name, const std::string& ip, bool exactServer);
    // Whether a letter may be offered in the combo (not A:, B: or a local
    // disk).
    bool IsEligibleDrive(int entry);
    // The letter ("X:") of the combo's selected item; empty with no
    // selection.
    std::string SelectedDriveLetter();

    // 1 once a device row has been taken over, 0 after every search.
    int deviceSelected = 0;
    int selectedPortIndex = 0;
    // Every drive letter's network connection, from Z: to A:.
    std::array<DriveTableEntry, kDriveCount> DriveTable;
    LoginCache loginCache;
    // What the next login is for: set by Apply and Connect.
    LoginPurpose loginPurpose = LoginPurpose::ShareAccess;
    // The IP address of the device the user last acted on.
    std::string currentDeviceIP;
    // The probe's verdict: 0 none yet, 1 the device's web address answered,
    // -1 it did not. Written by the probe's worker thread, read and cleared
    // by the window's thread.
    std::atomic<int>& availabilityWord() { return *availability_; }
    // How long the searches took so far, for the start-up figures.
    double searchMs() const { return searchMs_; }

    // What the controller uses of the system (the program sets its own).
    std::unique_ptr<NetConnections> net;
    std::unique_ptr<RegistrySource> registry;
    ProgramStarter startProgram = WinExec;
    VersionQuery versionQuery = systemVersionQuery();
    int webPort = 80;
    int waitStepMs = 1000;
    // What stands in the way of a new static address (the link is asked),
    // and how long a box that is not where it was sent is looked for.
    std::function<AddressChangeCheck(const DeviceData_n& box, int port, std::uint32_t address)> checkAddress =
        [](const DeviceData_n& box, int port, std::uint32_t address) { return checkAddressChange(box, port, address); };
    std::chrono::milliseconds followUpLimit = kFollowUpLimit;

    // The device library this window works with, and where its searches go.
    DeviceLibrary& library() { return library_; }
    SearchTargets searchTargets;
    // The device the operations are for, and the credentials of its login
    // (emptied by Connect until the next selection).
    const Uuid8& currentBox() const { return currentBox_; }
    const Credentials& credentials() const { return credentials_; }
    void setCredentials(Credentials who) { credentials_ = std::move(who); }

private:
    DeviceLibrary library_;
    Uuid8 currentBox_{};
    Credentials credentials_;

    void say(Message message, std::string_view subject = {});
    // The message of a refused LAN configuration, and the focus it moves.
    void RefuseLanSettings(LanError error);
    void clearLanFields();
    // Reads one letter's connection into its table entry.
    void readDriveEntry(int entry);

    // The letter of each combo item, in the combo's order: the selection is
    // known by its letter whatever the item's text says.
    std::vector<std::string> comboLetters_;
    // How a started web opener fared, heard on another thread: a failure is
    // told on the window's thread, while this controller is there.
    struct WindowRelay;
    static void openerVerdict(const std::shared_ptr<WindowRelay>& relay, const std::string& url, bool opened);

    MainView& view_;
    // Shared with probes that outlive the controller.
    std::shared_ptr<std::atomic<int>> availability_ = std::make_shared<std::atomic<int>>(0);
    // Shared with web openers that outlive the controller.
    std::shared_ptr<WindowRelay> relay_;
    double searchMs_ = 0;
    bool shutDown_ = false;
};

}  // namespace qs::win
