#include "main_dialog.h"

#include "artwork.h"
#include "desktop_registry.h"
#include "dialog_view.h"
#include "gvfs_net_connections.h"
#include "memdc.h"
#include "skinlistctrl.h"
#include "xskinbutton.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <cstdio>
#include <ctime>

namespace qs::win {

void reportFirstPaint(double searchMs) {
    // For the start-up benchmark: QS_SPAWN_NS holds the CLOCK_MONOTONIC
    // time at which the benchmark started this process.
    const QByteArray spawn = qgetenv("QS_SPAWN_NS");
    if (spawn.isEmpty()) return;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const double nowNs = double(now.tv_sec) * 1e9 + double(now.tv_nsec);
    const double sinceStart = (nowNs - spawn.toDouble()) / 1e6;
    std::fprintf(stderr, "first-paint-ms %.1f search-ms %.1f\n", sinceStart, searchMs);
}

namespace {

// The nine image buttons and their pictures: normal, pressed, hover,
// disabled; and the caption each picture shows, the button's name for
// screen readers.
struct ButtonImages {
    int id, normal, pressed, hover, disabled;
    const char* caption;
};
constexpr ButtonImages kButtonImages[] = {
    {IDC_CLOSE, 262, 378, 378, 262, "Close"},
    {IDC_MINIMIZE, 263, 379, 379, 263, "Minimize"},
    {IDC_REFRESH, 284, 285, 285, 284, "Refresh"},
    {IDC_CONFIGURATION, 286, 287, 287, 286, "Configuration"},
    {IDC_APPLY, 294, 295, 295, 294, "Apply"},
    {IDC_CONNECT, 296, 297, 297, 296, "Connect"},
    {IDC_DISCONNECT, 298, 299, 299, 298, "Disconnect"},
    {IDC_ABOUT, 300, 301, 301, 300, "About"},
    {IDC_EXIT, 302, 303, 303, 302, "Exit"},
};
constexpr int kImageButtons[] = {IDC_EXIT,     IDC_ABOUT,   IDC_APPLY,   IDC_HIDDEN_1025,   IDC_CLOSE,   IDC_MINIMIZE,
                                 IDC_HIDDEN_1022, IDC_CONFIGURATION, IDC_DISCONNECT, IDC_CONNECT, IDC_HIDDEN_1032,
                                 IDC_REFRESH};
// The names screen readers give the lists, the combo boxes and the address
// fields: the labels the picture shows beside them (the lists have none).
struct ControlName {
    int id;
    const char* name;
};
constexpr ControlName kControlNames[] = {
    {IDC_DEVICE_LIST, "Devices"},   {IDC_VOLUME_LIST, "Volumes"}, {IDC_PORTS, "Interface"},
    {IDC_DHCP, "Receive DHCP"},     {IDC_IP, "IP"},               {IDC_NETMASK, "Netmask"},
    {IDC_GATEWAY, "Gateway"},       {IDC_DRIVE_LETTERS, "Available Drive Letters"},
};
constexpr int kBackgroundBitmap = 267;
constexpr int kListFontHeight = 13;

}  // namespace

QRegion windowShape(int W, int H) {
    const int r[11][4] = {{0, 5, 1, H - 5},         {1, 3, 2, H - 3},         {2, 2, 3, H - 2},     {3, 1, 4, H - 1},
                          {4, 1, 5, H - 1},         {5, 1, W - 5, H},         {W - 5, 1, W - 4, H - 1},
                          {W - 4, 2, W - 3, H - 2}, {W - 3, 2, W - 2, H - 2}, {W - 2, 3, W - 1, H - 3},
                          {W - 1, 5, W, H - 5}};
    QRegion region;
    for (const auto& q : r) region += QRect(q[0], q[1], q[2] - q[0], q[3] - q[1]);
    return region;
}

CHarbor_scanDlg::CHarbor_scanDlg(QWidget* parent)
    : QDialog(parent), view_(std::make_unique<DialogView>(*this)), controller_(std::make_unique<MainController>(*view_)) {
    controller_->net = systemNetConnections();
    controller_->registry = desktopRegistry();
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    QString error;
    if (const auto t = loadDialogTemplate(102, &error)) controls_ = buildDialog(this, *t);
    for (int id : kImageButtons) {
        if (auto* b = controls_.get<QAbstractButton>(id)) controls_.replace(id, skin::CxSkinButton::takeOver(b));
    }
    deviceList_ = controls_.get<skin::CSkinListCtrl>(IDC_DEVICE_LIST);
    volumeList_ = controls_.get<skin::CSkinListCtrl>(IDC_VOLUME_LIST);
    for (QWidget* w : controls_.statics) w->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    for (const ControlName& c : kControlNames) {
        auto* w = controls_.get<QWidget>(c.id);
        if (!w) continue;
        w->setAccessibleName(QString::fromLatin1(c.name));
        // An address field's four parts each say whose part they are.
        if (auto* address = qobject_cast<CIPAddressCtrl*>(w))
            for (int part = 0; part < 4; ++part)
                address->field(part)->setAccessibleName(
                    QStringLiteral("%1, part %2 of 4").arg(QLatin1String(c.name)).arg(part + 1));
    }

    auto on = [this](int id, void (CHarbor_scanDlg::*handler)()) {
        if (auto* b = button(id)) connect(b, &QAbstractButton::clicked, this, handler);
    };
    on(IDC_REFRESH, &CHarbor_scanDlg::OnRefresh);
    on(IDC_APPLY, &CHarbor_scanDlg::OnApply);
    on(IDC_CONFIGURATION, &CHarbor_scanDlg::OnConfiguration);
    on(IDC_CONNECT, &CHarbor_scanDlg::OnConnect);
    on(IDC_DISCONNECT, &CHarbor_scanDlg::OnDisconnect);
    on(IDC_ABOUT, &CHarbor_scanDlg::OnAbout);
    on(IDC_EXIT, &CHarbor_scanDlg::OnExit);
    on(IDC_MINIMIZE, &CHarbor_scanDlg::OnMinimizeButton);
    on(IDC_CLOSE, &CHarbor_scanDlg::OnCloseButton);
    // Only the user's choice counts as a selection change, not the
    // program's own setting of the lists.
    if (auto* ports = portList()) connect(ports, &QComboBox::activated, this, &CHarbor_scanDlg::OnInterfaceChange);
    if (auto* dhcp = dhcpList()) connect(dhcp, &QComboBox::activated, this, &CHarbor_scanDlg::OnDhcpChange);

    // Enter and Escape end the dialog from wherever the focus is; only a
    // mouse click in the device list takes a device over.
    for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
    if (deviceList_) deviceList_->viewport()->installEventFilter(this);
}

CHarbor_scanDlg::~CHarbor_scanDlg() {
    controller_->shutdown();
    // The controller goes while the window is whole: the restores of its
    // connections may still call back into it.
    controller_.reset();
}

QComboBox* CHarbor_scanDlg::portList() const { return controls_.get<QComboBox>(IDC_PORTS); }
QComboBox* CHarbor_scanDlg::dhcpList() const { return controls_.get<QComboBox>(IDC_DHCP); }
CIPAddressCtrl* CHarbor_scanDlg::ipField() const { return controls_.get<CIPAddressCtrl>(IDC_IP); }
CIPAddressCtrl* CHarbor_scanDlg::netmaskField() const { return controls_.get<CIPAddressCtrl>(IDC_NETMASK); }
CIPAddressCtrl* CHarbor_scanDlg::gatewayField() const { return controls_.get<CIPAddressCtrl>(IDC_GATEWAY); }
skin::CxSkinButton* CHarbor_scanDlg::button(int id) const { return controls_.get<skin::CxSkinButton>(id); }
QComboBox* CHarbor_scanDlg::driveLetterList() const { return controls_.get<QComboBox>(IDC_DRIVE_LETTERS); }

void CHarbor_scanDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("Tarnex Storage Utility"));
    icon_ = artwork::appIcon();
    setWindowIcon(icon_);
    bitmapBackground_ = artwork::bitmap(kBackgroundBitmap);
    font1_ = skin::skinFont(kListFontHeight);
    font2_ = skin::skinFont(kListFontHeight);
    if (deviceList_) deviceList_->Init();
    if (volumeList_) volumeList_->Init();
    if (deviceList_) {
        deviceList_->setFont(font1_);
        deviceList_->InsertColumn(0, QStringLiteral("Name"), 94);
        deviceList_->InsertColumn(1, QStringLiteral("IP"), 85);
        deviceList_->InsertColumn(2, QStringLiteral("Netmask"), 85);
        deviceList_->InsertColumn(3, QStringLiteral("Gateway"), 85);
    }
    if (volumeList_) {
        volumeList_->setFont(font2_);
        volumeList_->InsertColumn(0, QStringLiteral("Volume Name"), 120);
        volumeList_->InsertColumn(1, QStringLiteral("Location"), 111);
    }
    for (const ButtonImages& b : kButtonImages)
        if (auto* s = button(b.id)) {
            s->SetSkin(b.normal, b.pressed, b.hover, b.disabled, 0, 0, 0, 0, 0);
            s->setAccessibleName(QString::fromLatin1(b.caption));
        }
    controller_->start();
}

int CHarbor_scanDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CHarbor_scanDlg::OnAbout() {
    showabout about(this);
    about.exec();
}

void CHarbor_scanDlg::OnExit() { done(QDialog::Rejected); }
void CHarbor_scanDlg::OnMinimizeButton() { showMinimized(); }
void CHarbor_scanDlg::OnCloseButton() { reject(); }

void CHarbor_scanDlg::done(int result) {
    controller_->shutdown();
    QDialog::done(result);
}

void CHarbor_scanDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!bitmapBackground_.isNull()) p.drawImage(rect(), bitmapBackground_);
    if (!painted_) {
        painted_ = true;
        reportFirstPaint(controller_->searchMs());
    }
}

void CHarbor_scanDlg::applyShape() {
    setMask(windowShape(width(), height()));
    update();
}

void CHarbor_scanDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    applyShape();
}

void CHarbor_scanDlg::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    // Restored from minimised: shape again.
    if (e->type() == QEvent::WindowStateChange && !isMinimized()) applyShape();
}

void CHarbor_scanDlg::mousePressEvent(QMouseEvent* e) {
    // The whole window drags from any point that is not a control.
    if (e->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QDialog::mousePressEvent(e);
}

void CHarbor_scanDlg::mouseMoveEvent(QMouseEvent* e) {
    if (dragging_ && (e->buttons() & Qt::LeftButton)) move(e->globalPosition().toPoint() - dragOffset_);
    QDialog::mouseMoveEvent(e);
}

void CHarbor_scanDlg::mouseReleaseEvent(QMouseEvent* e) {
    dragging_ = false;
    QDialog::mouseReleaseEvent(e);
}

void CHarbor_scanDlg::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(e);  // Escape rejects
}

bool CHarbor_scanDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            accept();  // the OK command, wherever the focus is
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            reject();
            return true;
        }
    }
    if (deviceList_ && watched == deviceList_->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // Handled after the list has taken the click.
        QMetaObject::invokeMethod(this, [this] { OnDeviceClick(); emit deviceClicked(); }, Qt::QueuedConnection);
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace qs::win
