// The main window of quayside-win: a borderless, shaped dialog whose whole
// surface is one stretched picture, with the device list, the LAN section
// and the drive-mapping section.
#pragma once

#include "dialog_template.h"
#include "ipaddressctrl.h"
#include "picture_dialog.h"
#include "login_cache.h"
#include "netconnections.h"
#include "weblaunch.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPoint>

#include <array>
#include <memory>

class QComboBox;

namespace qs::skin {
class CSkinListCtrl;
class CxSkinButton;
}  // namespace qs::skin

namespace qs::win {

// Control numbers of template 102.
enum Control : int {
    IDC_DEVICE_LIST = 1000,
    IDC_VOLUME_LIST = 1001,
    IDC_REFRESH = 1002,
    IDC_CONNECT = 1003,
    IDC_DISCONNECT = 1004,
    IDC_IP = 1006,
    IDC_APPLY = 1007,
    IDC_CONFIGURATION = 1008,
    IDC_EXIT = 1009,
    IDC_NETMASK = 1010,
    IDC_GATEWAY = 1011,
    IDC_DRIVE_LETTERS = 1013,
    IDC_DHCP = 1015,
    IDC_PORTS = 1016,
    IDC_ABOUT = 1021,
    IDC_HIDDEN_1022 = 1022,
    IDC_HIDDEN_1025 = 1025,
    IDC_MINIMIZE = 1027,
    IDC_CLOSE = 1028,
    IDC_HIDDEN_1032 = 1032,
};

// The IP address of the device the user last acted on.
extern QString currentDeviceIP;

// What the program knows of one drive letter's network connection: the
// server and share of its remote name "\\server\share" (both empty when
// the letter has none) and the letter itself ("Z:").
struct DriveTableEntry {
    QString server;
    QString share;
    QString localName;
    // Both parts set.
    bool connected() const { return !server.isEmpty() && !share.isEmpty(); }
};
// Entry 0 is Z:, entry 25 is A:.
inline constexpr int kDriveCount = 26;
inline QChar driveLetterOf(int entry) { return QChar('Z' - entry); }

// The answer of the last MountMessage: 1 OK (use the letter anyway), 0
// Cancel.
extern int mountAnswer;

// How long Apply waits before it searches again.
inline constexpr int kApplyPauseMs = 2000;

// Which row of a list is selected, scanning from the top visible row; -1
// when none is (a selected row scrolled above the view is not found).
int FindSelectedRow(const skin::CSkinListCtrl* list);

// The 11 rectangles of the window's shape for a client of W x H.
QRegion windowShape(int W, int H);

class CHarbor_scanDlg : public QDialog {
    Q_OBJECT
public:
    explicit CHarbor_scanDlg(QWidget* parent = nullptr);
    ~CHarbor_scanDlg() override;

    // The dialog-initialisation handler: lists, buttons, first search.
    void OnInitDialog();
    // Initialisation, then the modal run.
    int DoModal();

    // Handlers.
    void OnRefresh();
    void OnDeviceClick();
    void OnInterfaceChange();
    void OnDhcpChange();
    void OnApply();
    void OnConfiguration();
    void OnConnect();
    void OnDisconnect();
    void OnAbout();
    void OnExit();
    void OnMinimizeButton();
    void OnCloseButton();

    bool LoginForDevice(const std::string& key);

    // The web launch.
    void ProbeDeviceWeb();
    int WaitDeviceAvailable();
    // What the launch uses of the system (replaceable by tests).
    std::unique_ptr<RegistrySource> registry = desktopRegistry();
    ProgramStarter startProgram = [](const std::string& line, int show) { return WinExec(line, show); };
    int webPort = 80;
    int waitStepMs = 1000;

    // The LAN panel.
    bool ValidateTcpIp();
    int CheckAddressField(int kind, int o0, int o1, int o2, int o3);
    void StoreLanFields(const QString& label);
    void ShowLanEntry(int entry);
    // Rebuilds the volume list for a port's address (all shares, recycle
    // bins included, with the drive each is mapped to).
    void RebuildVolumeList(const QString& ip);

    // Drive mapping and the volume list.
    void RefreshDriveTable();
    void FillDriveLetterCombo();
    // The first free eligible letter whose character differs from the first
    // of `avoid`, as "X:"; empty when there is none.
    QString FindSpareDriveLetter(const QString& avoid);
    // The letter of the first entry (from Z:) connected to exactly this
    // share; empty when none is.
    QString FindLetterOfShare(const QString& share) const;
    // Rebuilds the volume list from the share registry, with the letter each
    // volume of this device (by name or address) is connected to.
    void FillVolumeList(const QString& name, const QString& ip, bool exactServer);
    // Whether a letter may be offered in the combo (not A:, B: or a local
    // disk).
    bool IsEligibleDrive(int entry);
    QComboBox* driveLetterList() const;
    // The connection functions (replaceable by tests).
    std::unique_ptr<NetConnections> net = systemNetConnections();

    // Widgets, by role.
    skin::CSkinListCtrl* deviceList() const { return m_DeviceList; }
    skin::CSkinListCtrl* volumeList() const { return m_VolumeList; }
    QComboBox* portList() const;
    QComboBox* dhcpList() const;
    CIPAddressCtrl* ipField() const;
    CIPAddressCtrl* netmaskField() const;
    CIPAddressCtrl* gatewayField() const;
    skin::CxSkinButton* button(int id) const;
    const DialogControls& controls() const { return controls_; }

    int deviceSelected = 0;
    // Every drive letter's network connection, from Z: to A:.
    std::array<DriveTableEntry, kDriveCount> DriveTable;
    int selectedPortIndex = 0;
    LoginCache loginCache;
    // How the login dialog and Connect learn the system's version
    // (replaceable).
    VersionQuery versionQuery = systemVersionQuery();

signals:
    void deviceClicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* e) override;

public:
    void done(int result) override;

private:
    void pause(int milliseconds, const std::function<bool()>& until = {});
    void clearLanFields();
    void applyShape();
    void shutdown();

    DialogControls controls_;
    QImage m_bitmapBackground;
    QIcon m_hIcon;
    skin::CSkinListCtrl* m_DeviceList = nullptr;
    skin::CSkinListCtrl* m_VolumeList = nullptr;
    QFont m_font1, m_font2;
    bool dragging_ = false;
    QPoint dragOffset_;
    bool shutDown_ = false;
    bool painted_ = false;
    double searchMs_ = 0;  // time of the searches so far, for start-up figures
};

// The About box (template 308).
class showabout : public PictureDialog {
    Q_OBJECT
public:
    explicit showabout(QWidget* parent = nullptr) : PictureDialog(308, 0, parent) {}
};

}  // namespace qs::win
