// The main window of quayside-win: a borderless, shaped dialog whose whole
// surface is one stretched picture, with the device list, the LAN section
// and the drive-mapping section. It draws, drags and hands every decision
// to its MainController.
#pragma once

#include "dialog_template.h"
#include "ipaddressctrl.h"
#include "main_controller.h"
#include "picture_dialog.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPoint>

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
    void OnRefresh() { controller_->OnRefresh(); }
    void OnDeviceClick() { controller_->OnDeviceClick(); }
    void OnInterfaceChange() { controller_->OnInterfaceChange(); }
    void OnDhcpChange() { controller_->OnDhcpChange(); }
    void OnApply() { controller_->OnApply(); }
    void OnConfiguration() { controller_->OnConfiguration(); }
    void OnConnect() { controller_->OnConnect(); }
    void OnDisconnect() { controller_->OnDisconnect(); }
    void OnAbout();
    void OnExit();
    void OnMinimizeButton();
    void OnCloseButton();

    // What the window decides with, and the system it uses (replaceable by
    // tests).
    MainController& controller() { return *controller_; }

    // Widgets, by role.
    skin::CSkinListCtrl* deviceList() const { return deviceList_; }
    skin::CSkinListCtrl* volumeList() const { return volumeList_; }
    skin::CSkinListCtrl* list(List which) const { return which == List::Device ? deviceList_ : volumeList_; }
    QComboBox* portList() const;
    QComboBox* dhcpList() const;
    QComboBox* driveLetterList() const;
    CIPAddressCtrl* ipField() const;
    CIPAddressCtrl* netmaskField() const;
    CIPAddressCtrl* gatewayField() const;
    skin::CxSkinButton* button(int id) const;
    const DialogControls& controls() const { return controls_; }

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
    void applyShape();

    DialogControls controls_;
    QImage bitmapBackground_;
    QIcon icon_;
    skin::CSkinListCtrl* deviceList_ = nullptr;
    skin::CSkinListCtrl* volumeList_ = nullptr;
    QFont font1_, font2_;
    bool dragging_ = false;
    QPoint dragOffset_;
    bool painted_ = false;
    std::unique_ptr<MainView> view_;
    std::unique_ptr<MainController> controller_;
};

// The About box (template 308).
class showabout : public PictureDialog {
    Q_OBJECT
public:
    explicit showabout(QWidget* parent = nullptr) : PictureDialog(308, 0, parent) {}
};

}  // namespace qs::win
