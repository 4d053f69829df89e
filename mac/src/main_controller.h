// The whole user-interface logic of quayside-mac: the device and volume
// tables, the TCP/IP fields of one LAN port, the login sheet, the pending
// action it carries out, Apply, and the callbacks of the protocol engine.
// It reaches the widgets only through Toolkit and runs on one RunLoop (the
// program's main thread), so tests drive it with their own of both.
#pragma once

#include "mount_platform.h"
#include "quayside/address_change.h"
#include "quayside/packager.h"
#include "quayside/runloop.h"
#include "table_controls.h"
#include "tcpip_checks.h"
#include "toolkit.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qs::mac {

// The pending action the login sheet carries out on OK (calledAction); the
// engine reads it.
using Action = CalledAction;
// What the settings change of an Apply is.
enum class SubAction : std::uint64_t { Static = 0, Dhcp = 3 };

// Alert codes (1 to 39; the checks of TcpIpChecks give the others by
// number). Those the controller raises itself:
enum class Alert : int {
    SelectDevice = 1,
    SelectDeviceAbove = 2,
    CannotDisconnect = 3,
    UserNameEmpty = 7,
    WrongPassword = 9,
    Mapped = 27,
    Unmapped = 28,
    MapFailed = 31,
    UnmapFailed = 32,
    Locked = 38,
};

// The mount scripts, by kind number.
enum class ScriptKind : int {
    MountAsUser = 0,        // the computer user's login name, no password
    MountWithCredentials = 1,
    TestMount = 2,          // a guest mount of testMountDevice
    DiskCheck = 3,          // leaves the marker when the share's disk is not there
    GuestByName = 4,
    GuestByAddress = 5,
    PlainByName = 6,        // by host name without the guest "@"
    RemoveMarker = 7,
};

// Said when a box answers a settings change with anything but success.
inline constexpr const char* kSettingsRefusedText = "The device refused the new settings.";
// Said when the engine gives up on a request no copy of which was answered.
inline constexpr const char* kNoAnswerText = "The device did not answer.";

// The English text of an alert code ("" outside 1 to 39; 38 is composed
// from the share name and is given here as its fixed part).
std::string alertText(int code);

struct ControllerOptions {
    std::uint16_t port = kDevicePort;
    std::string group = kRunLoopGroup;
    Packager::Options packager;
    // Runs the mount scripts; without one nothing is ever mounted.
    std::shared_ptr<MountPlatform> mountPlatform;
    // What stands in the way of a new static address (the link is asked).
    std::function<AddressChangeCheck(const DeviceData_n& box, int port, std::uint32_t address)> checkAddress =
        [](const DeviceData_n& box, int port, std::uint32_t address) { return checkAddressChange(box, port, address); };
};

class MainController : public PackagerReceiver, public TcpIpChecks {
public:
    using Options = ControllerOptions;

    MainController(RunLoop& loop, Toolkit& toolkit, Options options = {});
    ~MainController() override;
    MainController(const MainController&) = delete;
    MainController& operator=(const MainController&) = delete;

    // Start-up, once the window's widgets exist.
    void awakeFromNib();

    // Widget actions.
    void btnRefreashPressed();
    void btnConfigurationPressed();
    void btnApplyPressed();
    void btnOKPressed();
    void btnCancelPressed();
    void btnExitPressed();
    void btnAboutPressed();
    void tblDeviceChanged();
    void tblVolumeChanged();
    void cmbDHCPChanged();
    void cmbInterfaceChanged();
    void windowWillClose();

    // PackagerReceiver
    void reloadTable(RunLoopTable table) override;
    void checkAuthFail() override;
    void setIPFinish() override;
    void setBtnApply(bool enabled) override;
    CalledAction calledAction() override { return m_calledAction; }
    // The record the next request is for: while an Apply waits for its
    // sheet and answers, the edited copy of the shown record.
    std::shared_ptr<DeviceData_n> tmpDeviceData() override;
    void passwordAccepted() override;
    // Every answer names its request: one for the box and action the user
    // is on goes through the callbacks above; one for a box the user has
    // left only touches that box's record, and a refused or unanswered
    // change is still said, naming the box.
    bool passwordAccepted(const RequestFor& request) override;
    void passwordRefused(const RequestFor& request) override;
    void settingsAnswered(const RequestFor& request, std::uint16_t retCode) override;
    bool sharesArrived(const RequestFor& request) override;
    void requestUnanswered(const RequestFor& request) override;

    void processPackageReturn(int value);
    void displayAlertMessage(Alert code);
    int getIPCombo();
    int getIFCombo();
    void cleanTable(int which);
    void cleanDeviceInfo();
    void setIPEditEnable(bool enabled);
    void setIPEditable();
    void fillDeviceInfo(std::shared_ptr<DeviceData_n> record, bool setDhcpChoice);
    std::string getIP();
    std::string getNetmask();
    std::string getGateway();
    void openLoginSheet();
    void closeLoginSheet();
    void sendAuthPacket();
    void checkQueryLanInfoStatus();

    // Mounting: the scripts, the marker test, the mount list.
    void btnMountPressed();
    void btnUnmountPressed();
    // Unmapped, or why not.
    Alert unmountVolume();
    void executeShell(ScriptKind kind);
    bool checkMountResult();
    bool checkVolumeLocked(int row);
    // Copies the folder (below "Volumes/") of the first line of the mount
    // list whose own host field is `name` and share field is `share` into
    // the buffer. An empty name is found nowhere.
    bool getRealMountPath(char* buffer, std::size_t size, const std::string& name, const std::string& share);

    // Properties.
    Packager& packager() { return *m_packager; }
    const Packager& packager() const { return *m_packager; }
    bool hasPackager() const { return m_packager != nullptr; }
    DeviceTableControl& deviceCtl() { return m_deviceCtl; }
    VolumeTableControl& volumeCtl() { return m_volumeCtl; }
    bool noPassword() const { return m_noPassword; }
    void setNoPassword(bool value) { m_noPassword = value; }
    Action pendingAction() const { return m_calledAction; }
    void setCalledAction(Action action) { m_calledAction = action; }
    SubAction calledActionSub() const { return m_calledAction_sub; }
    void setTmpDeviceData(std::shared_ptr<DeviceData_n> record) { m_tmpDeviceData = std::move(record); }
    bool sheetOpen() const { return m_sheetOpen; }
    bool lanInfoTimerRunning() const { return m_queryLanInfoTmr != 0; }
    int queryLanInfoCounter() const { return m_queryLanInfoCounter; }
    const std::vector<std::string>& interfaceLabels(std::size_t list) const { return m_arrInterface.at(list); }

    // Host for the guest test mount; nothing in this program sets it.
    std::string testMountDevice;

private:
    // The record of a table row, or nothing when the row is not in the list.
    std::shared_ptr<DeviceData_n> deviceAt(int row) const;
    std::shared_ptr<DeviceData_n> deviceWithId(const Uuid8& id) const;
    // The selected box's record: the box the user chose (by its
    // serverUUID, wherever sorting has moved its row), or nothing when no
    // row is selected.
    std::shared_ptr<DeviceData_n> selectedDevice();
    // Shows the device table again with the chosen box's row selected.
    void reloadDevices();
    // The request is for the box and action the user is on now.
    bool isCurrent(const RequestFor& request);
    // "NAME (ADDRESS): " of a request's box, for what is said about a box
    // the user has left.
    std::string boxPrefix(const RequestFor& request) const;
    void stopLanInfoTimer();  // caller holds the lock
    // After a change the box accepted: looks for it until it answers or
    // kFollowUpLimit has passed since its answer, and says so when it is
    // not where it was sent.
    void followMovedDevice(const DeviceData_n& box, std::optional<std::uint32_t> asked,
                           RunLoop::Clock::time_point answered);
    void checkMovedDevice();
    void stopFollowing();
    void showPort(const DeviceData_n& record, int port);
    // The port whose settings the fields show for this record: for two
    // separate ports the interface choice; a bond is one interface, port 0.
    int editedPort(const DeviceData_n& record);
    void credentialsMount();
    const VolumeData* selectedShare();
    // The box's address is a dotted IPv4 address and its host and share
    // names can stand in a script string.
    bool mountTargetSafe();
    bool credentialsSafe();

    RunLoop& m_loop;
    Toolkit& m_toolkit;
    Options m_options;
    struct FollowUp {
        Uuid8 id{};
        std::string name;
        std::optional<std::uint32_t> asked;
        RunLoop::Clock::time_point deadline;
        RunLoop::Handle timer = 0;
    };
    std::optional<FollowUp> m_followUp;

    std::unique_ptr<Packager> m_packager;
    DeviceTableControl m_deviceCtl{this};
    VolumeTableControl m_volumeCtl{this};
    Action m_calledAction = Action::Apply;
    SubAction m_calledAction_sub = SubAction::Static;
    bool m_noPassword = false;
    bool m_sheetOpen = false;
    std::array<std::vector<std::string>, 5> m_arrInterface;
    RunLoop::Handle m_queryLanInfoTmr = 0;
    // The device table is shown again at most every kDeviceReloadEvery: a
    // crowded LAN, or a flood of answers, arrives in bursts.
    RunLoop::Handle m_deviceReload = 0;
    std::chrono::steady_clock::time_point m_lastDeviceReload{};
    std::int32_t m_queryLanInfoCounter = 0;
    std::unique_ptr<Lock> m_queryLanInfoTmrLock;
    std::int32_t m_nSelectedRow = -1;
    // The box the user chose last, by mouse or keyboard.
    std::optional<Uuid8> m_selectedBox;
    std::shared_ptr<DeviceData_n> m_tmpDeviceData;
    // The settings an Apply asks for: a copy of the shown record with the
    // typed values. The record itself changes only when the box accepts.
    std::shared_ptr<DeviceData_n> m_pendingChange;
};

}  // namespace qs::mac
