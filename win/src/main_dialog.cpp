#include "main_dialog.h"

#include "artwork.h"
#include "login_dialog.h"
#include "memdc.h"
#include "messages.h"
#include "mount_message.h"
#include "quayside/address.h"
#include "quayside/library.h"
#include "skinlistctrl.h"
#include "tcpip_validation.h"
#include "xskinbutton.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <chrono>
#include <thread>
#include <cstdio>
#include <ctime>

namespace qs::win {

QString currentDeviceIP;

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

// The name a share token gives its volume, as the list shows it and the
// server publishes it. Names are UTF-8 on this system throughout.
QString volumeName(std::string_view token) {
    const std::string_view name = readShareToken(token).name;
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(std::min<std::size_t>(name.size(), 256)));
}

// Whether the device marks the volume locked in its share list.
bool volumeLocked(const QString& volume) {
    const ShareRegistry& shares = processLibrary().shares;
    for (std::size_t i = 0; i < shares.count(); ++i) {
        const ShareToken share = readShareToken(shares.at(i));
        if (share.isLocked && volumeName(shares.at(i)) == volume) return true;
    }
    return false;
}

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
constexpr int kBackgroundBitmap = 267;
constexpr int kListFontHeight = 13;

// The wait cursor for as long as a blocking protocol call runs.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

QByteArray uuidBytes(const Uuid8& id) {
    return QByteArray(reinterpret_cast<const char*>(id.data()), static_cast<int>(id.size()));
}

std::optional<Uuid8> uuidFromBytes(const QVariant& v) {
    const QByteArray b = v.toByteArray();
    if (b.size() != 8) return std::nullopt;
    Uuid8 id{};
    std::copy(b.begin(), b.end(), id.begin());
    return id;
}

}  // namespace

int FindSelectedRow(const skin::CSkinListCtrl* list) {
    if (!list) return -1;
    const int top = list->verticalPosition();  // the top visible row
    for (int row = std::max(0, top); row < list->GetItemCount(); ++row)
        if (list->selectionModel()->isRowSelected(row, QModelIndex())) return row;
    return -1;
}

QRegion windowShape(int W, int H) {
    const int r[11][4] = {{0, 5, 1, H - 5},         {1, 3, 2, H - 3},         {2, 2, 3, H - 2},     {3, 1, 4, H - 1},
                          {4, 1, 5, H - 1},         {5, 1, W - 5, H},         {W - 5, 1, W - 4, H - 1},
                          {W - 4, 2, W - 3, H - 2}, {W - 3, 2, W - 2, H - 2}, {W - 2, 3, W - 1, H - 3},
                          {W - 1, 5, W, H - 5}};
    QRegion region;
    for (const auto& q : r) region += QRect(q[0], q[1], q[2] - q[0], q[3] - q[1]);
    return region;
}

CHarbor_scanDlg::CHarbor_scanDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    QString error;
    if (const auto t = loadDialogTemplate(102, &error)) controls_ = buildDialog(this, *t);
    for (int id : kImageButtons) {
        if (auto* b = controls_.get<QAbstractButton>(id)) controls_.replace(id, skin::CxSkinButton::takeOver(b));
    }
    m_DeviceList = controls_.get<skin::CSkinListCtrl>(IDC_DEVICE_LIST);
    m_VolumeList = controls_.get<skin::CSkinListCtrl>(IDC_VOLUME_LIST);
    for (QWidget* w : controls_.statics) w->setStyleSheet(QStringLiteral("color: black; background: transparent;"));

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
    if (m_DeviceList) m_DeviceList->viewport()->installEventFilter(this);
}

CHarbor_scanDlg::~CHarbor_scanDlg() { shutdown(); }

QComboBox* CHarbor_scanDlg::portList() const { return controls_.get<QComboBox>(IDC_PORTS); }
QComboBox* CHarbor_scanDlg::dhcpList() const { return controls_.get<QComboBox>(IDC_DHCP); }
CIPAddressCtrl* CHarbor_scanDlg::ipField() const { return controls_.get<CIPAddressCtrl>(IDC_IP); }
CIPAddressCtrl* CHarbor_scanDlg::netmaskField() const { return controls_.get<CIPAddressCtrl>(IDC_NETMASK); }
CIPAddressCtrl* CHarbor_scanDlg::gatewayField() const { return controls_.get<CIPAddressCtrl>(IDC_GATEWAY); }
skin::CxSkinButton* CHarbor_scanDlg::button(int id) const { return controls_.get<skin::CxSkinButton>(id); }
QComboBox* CHarbor_scanDlg::driveLetterList() const { return controls_.get<QComboBox>(IDC_DRIVE_LETTERS); }

void CHarbor_scanDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("Tarnex Storage Utility"));
    m_hIcon = artwork::appIcon();
    setWindowIcon(m_hIcon);
    m_bitmapBackground = artwork::bitmap(kBackgroundBitmap);
    m_font1 = skin::skinFont(kListFontHeight);
    m_font2 = skin::skinFont(kListFontHeight);
    if (m_DeviceList) m_DeviceList->Init();
    if (m_VolumeList) m_VolumeList->Init();
    if (m_DeviceList) {
        m_DeviceList->setFont(m_font1);
        m_DeviceList->InsertColumn(0, QStringLiteral("Name"), 94);
        m_DeviceList->InsertColumn(1, QStringLiteral("IP"), 85);
        m_DeviceList->InsertColumn(2, QStringLiteral("Netmask"), 85);
        m_DeviceList->InsertColumn(3, QStringLiteral("Gateway"), 85);
    }
    if (m_VolumeList) {
        m_VolumeList->setFont(m_font2);
        m_VolumeList->InsertColumn(0, QStringLiteral("Volume Name"), 120);
        m_VolumeList->InsertColumn(1, QStringLiteral("Location"), 111);
    }
    for (const ButtonImages& b : kButtonImages)
        if (auto* s = button(b.id)) {
            s->SetSkin(b.normal, b.pressed, b.hover, b.disabled, 0, 0, 0, 0, 0);
            s->setAccessibleName(QString::fromLatin1(b.caption));
        }
    // Remembered mappings come back in the background; meanwhile the table
    // already shows their letters as taken. When they are back, the table
    // and the combo are read again here, on the window's own thread.
    if (net)
        net->RestoreConnections([this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    QComboBox* combo = driveLetterList();
                    const QString chosen = combo && combo->currentIndex() >= 0 ? combo->currentText().left(2) : QString();
                    RefreshDriveTable();
                    FillDriveLetterCombo();
                    for (int i = 0; combo && !chosen.isEmpty() && i < combo->count(); ++i)
                        if (combo->itemText(i) == chosen) combo->setCurrentIndex(i);
                },
                Qt::QueuedConnection);
        });
    RefreshDriveTable();
    FillDriveLetterCombo();
    OnRefresh();
    deviceSelected = 0;
}

int CHarbor_scanDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CHarbor_scanDlg::clearLanFields() {
    if (auto* ports = portList()) ports->clear();
    for (CIPAddressCtrl* f : {ipField(), netmaskField(), gatewayField()})
        if (f) f->ClearAddress();
}

void CHarbor_scanDlg::OnRefresh() {
    if (m_DeviceList) m_DeviceList->DeleteAllItems();
    if (m_VolumeList) m_VolumeList->DeleteAllItems();
    loginCache.clear();
    clearLanFields();
    if (auto* ports = portList()) ports->setEnabled(false);
    auto* refresh = button(IDC_REFRESH);
    if (refresh) refresh->setEnabled(false);
    {
        BusyCursor busy;
        const auto start = std::chrono::steady_clock::now();
        SearchDevices();
        searchMs_ += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    if (refresh) refresh->setEnabled(true);
    const DeviceRegistry& devices = processLibrary().devices;
    for (std::size_t i = 0; i < devices.count() && m_DeviceList; ++i) {
        const DeviceData_n& d = devices.at(i);
        const PortBlock& p = d.port[static_cast<std::size_t>(d.answeringPort())];
        const int row = m_DeviceList->InsertItem(static_cast<int>(i), QString::fromUtf8(d.hostname.c_str()));
        m_DeviceList->SetItemText(row, 1, QString::fromUtf8(p.IP.c_str()));
        m_DeviceList->SetItemText(row, 2, QString::fromUtf8(p.netmask.c_str()));
        m_DeviceList->SetItemText(row, 3, QString::fromUtf8(p.gateway.c_str()));
        // The row keeps the device's identity, never a pointer into the
        // registry, which the next search replaces.
        m_DeviceList->SetItemData(row, uuidBytes(d.serverUUID));
        loginCache.seed(MakeDeviceKey(d.serverUUID));
    }
    deviceSelected = 0;
}

bool CHarbor_scanDlg::LoginForDevice(const std::string& key) {
    if (!loginCache.contains(key)) return false;
    DeviceLibrary& lib = processLibrary();
    lib.currentServerUUID = ParseDeviceKey(key);
    login dlg(this, versionQuery);
    if (dlg.exec() != QDialog::Accepted) return false;
    bool ok;
    {
        BusyCursor busy;
        ok = lib.CheckPassword() || lib.CheckPassword();  // once more at once, without asking again
    }
    if (!ok) {
        messageSink().show(this, QStringLiteral("Wrong administrator password input!"), kCaptionError,
                           MessageIcon::Error);
        return false;
    }
    loginCache.accept(key, lib.userName.view(), lib.password.view());
    return true;
}

void CHarbor_scanDlg::OnDeviceClick() {
    clearLanFields();
    if (!m_DeviceList || m_DeviceList->GetItemCount() == 0) return;
    const int row = FindSelectedRow(m_DeviceList);
    if (row < 0) return;
    deviceSelected = 1;
    m_DeviceList->setFocus();
    const QString ip = m_DeviceList->GetItemText(row, 1);
    const QString netmask = m_DeviceList->GetItemText(row, 2);
    const QString gateway = m_DeviceList->GetItemText(row, 3);
    const QString name = m_DeviceList->GetItemText(row, 0);
    currentDeviceIP = ip;

    DeviceLibrary& lib = processLibrary();
    const auto id = uuidFromBytes(m_DeviceList->GetItemData(row));
    if (!id || !lib.devices.FindDevice(*id)) return;
    const std::string key = MakeDeviceKey(*id);
    if (loginCache.isAccepted(key)) {
        loginCache.copyOut(key, lib.userName, lib.password);
    } else if (!LoginForDevice(key)) {
        return;
    }
    lib.currentServerUUID = *id;
    // Looked up again: the login ran an event loop of its own.
    const DeviceData_n* rec = lib.devices.FindDevice(*id);
    if (!rec) return;
    const std::string dhcpText = rec->port[static_cast<std::size_t>(rec->answeringPort())].dhcpText.str();

    lib.lanSummary.firstLabel.clear();
    lib.SummarizeLanPorts();
    QComboBox* ports = portList();
    if (ports) {
        ports->clear();
        const LanSummary& s = lib.lanSummary;
        if (s.firstLabel.empty()) {
            ports->setEnabled(false);
            ports->addItem(QStringLiteral("LAN"));
            ports->setCurrentIndex(0);
            LanSummary& fallback = lib.lanSummary;
            fallback.entry[0].IP = ip.toStdString();
            fallback.entry[0].netmask = netmask.toStdString();
            fallback.entry[0].gateway = gateway.toStdString();
            fallback.entry[0].dhcp = dhcpText.substr(0, 1);
        } else if (s.portCount == "1") {
            ports->setEnabled(false);
            ports->addItem(QStringLiteral("LAN"));
            ports->setCurrentIndex(0);
            selectedPortIndex = ports->currentIndex();
        } else {
            ports->setEnabled(true);
            ports->addItem(QString::fromUtf8(s.firstLabel.c_str()));
            ports->addItem(QString::fromUtf8(s.secondLabel.c_str()));
            ports->setCurrentIndex(s.entry[0].IP.view() == ip.toStdString() ? 0 : 1);
            selectedPortIndex = ports->currentIndex();
        }
    }
    const bool dhcp = !dhcpText.empty() && dhcpText[0] == '1';
    if (QComboBox* d = dhcpList()) d->setCurrentIndex(dhcp ? 1 : 0);
    for (CIPAddressCtrl* f : {ipField(), netmaskField(), gatewayField()})
        if (f) f->setEnabled(!dhcp);
    if (ipField()) ipField()->SetAddress(ip);
    if (netmaskField()) netmaskField()->SetAddress(netmask);
    if (gatewayField()) {
        if (!gateway.isEmpty() && gateway != QStringLiteral("0.0.0.0"))
            gatewayField()->SetAddress(gateway);
        else
            gatewayField()->ClearAddress();
    }
    {
        BusyCursor busy;
        lib.GetShareList();
    }
    FillVolumeList(name, ip, false);
}

// ---- LAN panel ---------------------------------------------------------

namespace {

struct FieldValue {
    bool blank = true;
    Octets o{0, 0, 0, 0};
};

FieldValue readField(const CIPAddressCtrl* f) {
    FieldValue v;
    if (!f) return v;
    std::uint8_t a = 0, b = 0, c = 0, d = 0;
    f->GetAddress(a, b, c, d);  // empty parts read as 0
    v.blank = f->IsBlank();
    v.o = {a, b, c, d};
    return v;
}

std::string dotted(const Octets& o) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", o[0], o[1], o[2], o[3]);
    return buf;
}

}  // namespace

int CHarbor_scanDlg::CheckAddressField(int kind, int o0, int, int, int) {
    if (firstOctetInRange(o0)) return 1;
    CIPAddressCtrl* field = kind == 1 ? ipField() : gatewayField();
    messageSink().show(this,
                       kind == 1 ? QStringLiteral("Invalid IP address in 1st digit. It should be 1-223.")
                                 : QStringLiteral("Invalid gateway IP address in 1st digit. It should be 1-223."),
                       kCaptionError, MessageIcon::Information);
    if (field) field->SetFieldFocus(0);
    return 0;
}

bool CHarbor_scanDlg::ValidateTcpIp() {
    DeviceLibrary& lib = processLibrary();
    const FieldValue a = readField(ipField());
    const FieldValue m = readField(netmaskField());
    const FieldValue g = readField(gatewayField());
    auto refuse = [this](const char* text, const QString& caption, MessageIcon icon) {
        messageSink().show(this, QString::fromLatin1(text), caption, icon);
        return false;
    };
    if (a.blank) return refuse("Please input IP address!", kCaptionWarning, MessageIcon::Warning);
    if (m.blank) return refuse("Please input net mask address!", kCaptionWarning, MessageIcon::Warning);
    if (a.o[0] == 127) return refuse("IP address input error. Please try again.", kCaptionWarning, MessageIcon::Warning);
    if (!CheckAddressField(1, a.o[0], a.o[1], a.o[2], a.o[3])) return false;
    lib.newIP = dotted(a.o);
    lib.newNetmask = dotted(m.o);
    const bool linkLocal = a.o[0] == 169 && a.o[1] == 254;
    if (!linkLocal && !g.blank && !CheckAddressField(3, g.o[0], g.o[1], g.o[2], g.o[3])) return false;
    if (!IsValidNetmask(m.o[0], m.o[1], m.o[2], m.o[3]))
        return refuse("Netmask address input invalid. Please try again.", kCaptionError, MessageIcon::Error);
    if (IsGatewayMisplaced(a.o, m.o, g.o))
        return refuse("You enter incorrect TCP/IP configuration. Please try again.", kCaptionError, MessageIcon::Error);
    const bool noGateway = g.o == Octets{0, 0, 0, 0};
    lib.newGateway = noGateway ? std::string() : dotted(g.o);
    return true;
}

void CHarbor_scanDlg::StoreLanFields(const QString& label) {
    LanSummary& s = processLibrary().lanSummary;
    LanSummary::Entry& e = s.entry[label == QLatin1String("LAN2") ? 1 : 0];
    e.IP = dotted(readField(ipField()).o);
    e.netmask = dotted(readField(netmaskField()).o);
    e.gateway = dotted(readField(gatewayField()).o);
    // With no selection the index is -1, which the one-character field cuts
    // to "-": such an entry shows as "Disable".
    e.dhcp = std::to_string(dhcpList() ? dhcpList()->currentIndex() : -1);
}

void CHarbor_scanDlg::ShowLanEntry(int entry) {
    const LanSummary::Entry& e = processLibrary().lanSummary.entry[entry == 1 ? 1 : 0];
    const bool dhcp = !e.dhcp.empty() && e.dhcp.view()[0] == '1';
    if (dhcpList()) dhcpList()->setCurrentIndex(dhcp ? 1 : 0);
    for (CIPAddressCtrl* f : {ipField(), gatewayField(), netmaskField()})
        if (f) f->setEnabled(!dhcp);
    if (ipField()) ipField()->SetAddress(QString::fromUtf8(e.IP.c_str()));
    if (netmaskField()) netmaskField()->SetAddress(QString::fromUtf8(e.netmask.c_str()));
    if (gatewayField()) {
        const QString gw = QString::fromUtf8(e.gateway.c_str());
        if (!gw.isEmpty() && gw != QStringLiteral("0.0.0.0"))
            gatewayField()->SetAddress(gw);
        else
            gatewayField()->ClearAddress();
    }
}

void CHarbor_scanDlg::OnDhcpChange() {
    QComboBox* d = dhcpList();
    if (!d || d->currentIndex() < 0) return;
    const bool enable = d->currentText() == QLatin1String("Enable");
    for (CIPAddressCtrl* f : {ipField(), gatewayField(), netmaskField()})
        if (f) f->setEnabled(!enable);
}

void CHarbor_scanDlg::RebuildVolumeList(const QString& ip) {
    if (!m_VolumeList) return;
    m_VolumeList->DeleteAllItems();
    const ShareRegistry& shares = processLibrary().shares;
    for (std::size_t i = 0; i < shares.count(); ++i) {
        const QString name = volumeName(shares.at(i));
        const int row = m_VolumeList->InsertItem(static_cast<int>(i), name);
        for (const DriveTableEntry& d : DriveTable)
            if (d.connected() && d.server.compare(ip, Qt::CaseInsensitive) == 0 &&
                d.share.compare(name, Qt::CaseInsensitive) == 0)
                m_VolumeList->SetItemText(row, 1, d.localName);
    }
    m_VolumeList->update();
}

void CHarbor_scanDlg::OnInterfaceChange() {
    QComboBox* ports = portList();
    if (!ports) return;
    const int index = ports->currentIndex();
    if (index == selectedPortIndex) return;
    selectedPortIndex = index;
    if (index == 0) {
        StoreLanFields(QStringLiteral("LAN2"));  // the panel showed the second port so far
        ShowLanEntry(0);
    } else if (index == 1) {
        StoreLanFields(QStringLiteral("LAN1"));
        ShowLanEntry(1);
    }
    RebuildVolumeList(ipField() ? ipField()->text() : QString());
}

void CHarbor_scanDlg::pause(int milliseconds, const std::function<bool()>& until) {
    // The window keeps painting while it waits; the user's input waits too,
    // so nothing runs before what follows the pause.
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    QTimer check;
    if (until) {
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (until()) loop.quit();
        });
        check.start(10);
    }
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CHarbor_scanDlg::OnApply() {
    loginPurpose = 1;
    if (deviceSelected == 0) {
        messageSink().show(this, QStringLiteral("Please select a device in the above section."), kCaptionError,
                           MessageIcon::Error);
        return;
    }
    QComboBox* ports = portList();
    const QString label = ports && ports->currentIndex() >= 0 ? ports->currentText() : QString();
    StoreLanFields(label);
    DeviceLibrary& lib = processLibrary();
    lib.portLabel = label.toStdString();
    const int dhcp = dhcpList() ? dhcpList()->currentIndex() : -1;
    if (dhcp == 0) {
        if (!ValidateTcpIp()) return;
        {
            BusyCursor busy;
            lib.SetLanConfigStatic();  // the search that follows shows what the device made of it
        }
        pause(kApplyPauseMs);
        OnRefresh();
    } else if (dhcp == 1) {
        bool ok;
        {
            BusyCursor busy;
            ok = lib.SetLanConfigDhcp();
        }
        if (!ok) {
            messageSink().show(this, QStringLiteral("Set to dhcp client fail."), kCaptionError, MessageIcon::Error);
            return;
        }
        messageSink().show(this, QStringLiteral("DHCP client enabled."), kCaptionConfirm, MessageIcon::Information);
        pause(kApplyPauseMs);
        OnRefresh();
    }
}

// ---- volume list and drive mapping ----------------------------------------

namespace {

bool rowSelected(const skin::CSkinListCtrl* list, int row) {
    return list->selectionModel()->isRowSelected(row, QModelIndex());
}

QString letterName(int entry) { return QString(driveLetterOf(entry)) + QLatin1Char(':'); }

}  // namespace

void CHarbor_scanDlg::RefreshDriveTable() {
    for (int i = 0; i < kDriveCount; ++i) {
        DriveTableEntry& e = DriveTable[static_cast<std::size_t>(i)];
        e.localName = letterName(i);
        e.server.clear();
        e.share.clear();
        char remote[kRemoteNameBuffer] = {};
        DWORD length = kRemoteNameBuffer;
        const QByteArray local = e.localName.toLatin1();
        // A remembered connection that is not there now still holds its
        // letter: it is named, only unavailable.
        const DWORD rc = net ? net->WNetGetConnectionA(local.constData(), remote, &length) : ERROR_NOT_CONNECTED;
        if (rc != NO_ERROR && rc != ERROR_CONNECTION_UNAVAIL) continue;
        // "\\server\share": the server ends at the first backslash after the
        // leading two.
        const QString name = QString::fromUtf8(remote, static_cast<qsizetype>(strnlen(remote, sizeof remote)));
        const qsizetype sep = name.indexOf(QLatin1Char('\\'), 2);
        if (sep < 0) {
            e.server = name.mid(2);
        } else {
            e.server = name.mid(2, sep - 2);
            e.share = name.mid(sep + 1);
        }
    }
}

bool CHarbor_scanDlg::IsEligibleDrive(int entry) {
    const QChar letter = driveLetterOf(entry);
    if (letter == QLatin1Char('A') || letter == QLatin1Char('B')) return false;
    if (!net) return true;
    const QByteArray root = letterName(entry).toLatin1();
    switch (net->GetDriveTypeA(root.constData())) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
        return false;
    default:
        return true;  // free, unknown, no root, network
    }
}

void CHarbor_scanDlg::FillDriveLetterCombo() {
    QComboBox* combo = driveLetterList();
    if (!combo) return;
    combo->clear();
    int added = 0;
    int firstFree = -1;
    for (int i = 0; i < kDriveCount; ++i) {
        if (!IsEligibleDrive(i)) continue;
        const DriveTableEntry& e = DriveTable[static_cast<std::size_t>(i)];
        const QString local = e.localName.isEmpty() ? letterName(i) : e.localName;
        if (e.connected()) {
            combo->addItem(QStringLiteral("%1 \\\\%2\\%3").arg(local, e.server, e.share));
        } else {
            combo->addItem(local);
            if (firstFree < 0) firstFree = added;
        }
        ++added;
    }
    // Every letter connected: no selection.
    combo->setCurrentIndex(firstFree);
}

QString CHarbor_scanDlg::FindSpareDriveLetter(const QString& avoid) {
    for (int i = 0; i < kDriveCount; ++i) {
        if (!IsEligibleDrive(i) || DriveTable[static_cast<std::size_t>(i)].connected()) continue;
        if (avoid.isEmpty() || driveLetterOf(i) != avoid.at(0)) return letterName(i);
    }
    return {};
}

QString CHarbor_scanDlg::FindLetterOfShare(const QString& share) const {
    for (const DriveTableEntry& e : DriveTable)
        if (!e.share.isEmpty() && e.share == share) return e.localName;
    return {};
}

void CHarbor_scanDlg::FillVolumeList(const QString& name, const QString& ip, bool exactServer) {
    if (!m_VolumeList) return;
    m_VolumeList->DeleteAllItems();
    m_VolumeList->update();
    const Qt::CaseSensitivity serverCase = exactServer ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const ShareRegistry& shares = processLibrary().shares;
    QStringList listed;
    for (std::size_t i = 0; i < shares.count(); ++i) {
        const QString volume = volumeName(shares.at(i));
        // The recycle bins are reached through their volumes.
        if (volume.startsWith(QLatin1String("Recycle Bin"))) continue;
        // "Public@5" and "Public*6" name one volume.
        if (listed.contains(volume)) continue;
        listed.append(volume);
        const int row = m_VolumeList->InsertItem(m_VolumeList->GetItemCount(), volume);
        // The last match from Z: on (the letter nearest A:) stays.
        for (const DriveTableEntry& d : DriveTable) {
            if (!d.connected()) continue;
            const bool server = d.server.compare(name, serverCase) == 0 || d.server.compare(ip, serverCase) == 0;
            if (server && d.share.compare(volume, Qt::CaseInsensitive) == 0) m_VolumeList->SetItemText(row, 1, d.localName);
        }
    }
    m_VolumeList->update();
}

void CHarbor_scanDlg::OnConnect() {
    // Connect leaves the library without credentials until the next device
    // selection.
    DeviceLibrary& lib = processLibrary();
    lib.userName.clear();
    lib.password.clear();
    loginPurpose = 0;

    QString deviceIP;
    std::string key;
    const int deviceRow = FindSelectedRow(m_DeviceList);
    if (deviceRow >= 0) {
        deviceIP = m_DeviceList->GetItemText(deviceRow, 1);
        currentDeviceIP = deviceIP;
        if (const auto id = uuidFromBytes(m_DeviceList->GetItemData(deviceRow))) key = MakeDeviceKey(*id);
    }
    std::string version;
    int versionCode = 0;
    GetWindowsVersionName(version, versionCode, versionQuery);
    const bool nt = version.find("NT") != std::string::npos;
    const bool vista = version.find("Vista") != std::string::npos;

    const int volumeRow = FindSelectedRow(m_VolumeList);
    if (volumeRow < 0 || deviceRow < 0) {
        messageSink().show(this, QStringLiteral("Please select a device in the above section."), kCaptionWarning,
                           MessageIcon::Warning);
        return;
    }
    const QString volume = m_VolumeList->GetItemText(volumeRow, 0);
    // A locked volume is served to no one until it is unlocked on the box.
    if (volumeLocked(volume)) {
        messageSink().show(this, QStringLiteral("%1 is Locked.").arg(volume), kCaptionWarning, MessageIcon::Warning);
        return;
    }

    QComboBox* combo = driveLetterList();
    if (!combo || combo->currentIndex() < 0) return;
    const QString item = combo->currentText();
    const QString letter = item.left(2);
    const bool inUse = item.contains(QStringLiteral(": ")) && item.size() > 4;
    if (inUse) {
        mountAnswer = 0;  // closed any other way counts as Cancel
        MountMessage ask(this);
        ask.exec();
        if (mountAnswer == 0) return;
    }
    if (!net) return;

    const std::string local = letter.toStdString();
    const std::string remote = QStringLiteral("\\\\%1\\%2").arg(deviceIP, volume).toStdString();
    const std::string recycleRemote = QStringLiteral("\\\\%1\\Recycle Bin - %2").arg(deviceIP, volume).toStdString();
    const std::string recycleLocal = FindSpareDriveLetter(letter).toStdString();

    // The wait cursor while the system works, not over the messages.
    std::optional<BusyCursor> busy;
    busy.emplace();
    net->WNetCancelConnection2A(local.c_str(), CONNECT_UPDATE_PROFILE, true);

    // The credentials that worked, for the recycle bin too.
    struct Credentials {
        bool given = false;
        std::string user, password;
        DWORD flags = CONNECT_UPDATE_PROFILE;
    } used;
    auto cached = [&] {
        FixedText<64> user, password;
        loginCache.copyOut(key, user, password);
        return std::pair<std::string, std::string>(user.str(), password.str());
    };
    bool mapped = false;
    if (nt) {
        const auto [user, password] = cached();
        for (int attempt = 0; attempt < 6 && !mapped; ++attempt)
            mapped = net->WNetAddConnection2A(local.c_str(), remote.c_str(), password.c_str(), user.c_str(),
                                              CONNECT_UPDATE_PROFILE) == NO_ERROR;
        used = {true, user, password, CONNECT_UPDATE_PROFILE};
    } else if (net->WNetAddConnection2A(local.c_str(), remote.c_str(), "", "", CONNECT_UPDATE_PROFILE) == NO_ERROR) {
        mapped = true;
    } else if (vista) {
        // The system may ask the user for credentials itself.
        const DWORD flags = CONNECT_UPDATE_PROFILE | CONNECT_INTERACTIVE;
        mapped = net->WNetAddConnection2A(local.c_str(), remote.c_str(), "", "", flags) == NO_ERROR;
        used.flags = flags;
    } else {
        const auto [user, password] = cached();
        mapped = net->WNetAddConnection2A(local.c_str(), remote.c_str(), password.c_str(), user.c_str(),
                                          CONNECT_UPDATE_PROFILE) == NO_ERROR;
        used = {true, user, password, CONNECT_UPDATE_PROFILE};
    }

    if (!mapped) {
        busy.reset();
        messageSink().show(this, QStringLiteral("Failed to map drive."), kCaptionError, MessageIcon::Error);
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
    messageSink().show(this, QStringLiteral("Successfully mapped drive."), kCaptionConfirm, MessageIcon::Information);
    RefreshDriveTable();
    FillDriveLetterCombo();
    FillVolumeList(m_DeviceList->GetItemText(deviceRow, 0), m_DeviceList->GetItemText(deviceRow, 1), true);
}

void CHarbor_scanDlg::OnDisconnect() {
    const int deviceTop = m_DeviceList ? std::max(0, m_DeviceList->verticalPosition()) : 0;

    // The selected volume row, from the top visible row on.
    QString driveText, volume;
    bool selected = false;
    if (m_VolumeList) {
        for (int row = std::max(0, m_VolumeList->verticalPosition()); row < m_VolumeList->GetItemCount(); ++row) {
            if (!rowSelected(m_VolumeList, row)) continue;
            driveText = m_VolumeList->GetItemText(row, 1);
            volume = m_VolumeList->GetItemText(row, 0);
            selected = true;
        }
    }
    if (!selected) {
        QComboBox* combo = driveLetterList();
        if (!combo || combo->currentIndex() < 0) return;
        driveText = combo->currentText();
        volume.clear();
    }
    const std::string letter = driveText.left(2).toStdString();
    const std::string recycleLetter = FindLetterOfShare(QStringLiteral("Recycle Bin - ") + volume).toStdString();

    DWORD result = ERROR_NOT_CONNECTED;
    if (net) {
        BusyCursor busy;
        result = net->WNetCancelConnection2A(letter.c_str(), CONNECT_UPDATE_PROFILE, true);
        if (!recycleLetter.empty()) net->WNetCancelConnection2A(recycleLetter.c_str(), CONNECT_UPDATE_PROFILE, true);
    }
    if (result != NO_ERROR) {
        messageSink().show(this,
                           QStringLiteral("Unable to disconnect this drive.\nPlease select a drive to disconnect and "
                                          "verify that the drive is not being accessed."),
                           kCaptionError, MessageIcon::Error);
        return;
    }
    messageSink().show(this, QStringLiteral("Successfully unmapped drive."), kCaptionConfirm, MessageIcon::Information);
    RefreshDriveTable();
    FillDriveLetterCombo();
    if (!m_DeviceList) return;
    for (int row = deviceTop; row < m_DeviceList->GetItemCount(); ++row)
        if (rowSelected(m_DeviceList, row))
            FillVolumeList(m_DeviceList->GetItemText(row, 0), m_DeviceList->GetItemText(row, 1), false);
}

// ---- web launch ---------------------------------------------------------

void CHarbor_scanDlg::ProbeDeviceWeb() {
    // The worker reads the address once, at its start; the verdict is all it
    // shares with the window.
    const std::string ip = currentDeviceIP.toStdString();
    const int port = webPort;
    std::thread([ip, port] {
        availabilityWord = InternetCheckConnection(ip, port, 5000) ? 1 : -1;
    }).detach();
}

int CHarbor_scanDlg::WaitDeviceAvailable() {
    if (availabilityWord == 1) {
        availabilityWord = 0;
        return 1;
    }
    for (int i = 0; i < 2; ++i) {
        if (availabilityWord == -1) break;
        // Each wait ends early once the verdict is in, so a device that
        // answers opens at once.
        pause(waitStepMs, [] { return availabilityWord != 0; });
        if (availabilityWord == 1) {
            availabilityWord = 0;
            return 1;
        }
    }
    messageSink().show(this, QStringLiteral("Device is no longer available."), kCaptionWarning, MessageIcon::Warning);
    RefreshDriveTable();
    FillDriveLetterCombo();
    OnRefresh();
    deviceSelected = 0;
    return 0;
}

void CHarbor_scanDlg::OnConfiguration() {
    const int row = FindSelectedRow(m_DeviceList);
    if (row < 0) {
        messageSink().show(this, QStringLiteral("Please select a device to configure."), kCaptionWarning,
                           MessageIcon::Warning);
        return;
    }
    currentDeviceIP = m_DeviceList->GetItemText(row, 1);
    availabilityWord = 0;
    // The address comes from the network: only a dotted IPv4 address is
    // ever probed or handed to a browser.
    if (isDottedIPv4(currentDeviceIP.toStdString()))
        ProbeDeviceWeb();
    else
        availabilityWord = -1;
    if (!WaitDeviceAvailable()) return;
    const std::string ip = currentDeviceIP.toStdString();
    const std::string name = ReadRegistryString(*registry, kStartMenuInternet, "");
    std::string command;
    if (name.find("IE") != std::string::npos) {
        command = "explorer http://" + ip;
    } else {
        const std::string key = std::string(kStartMenuInternet) + "\\" + name + "\\shell\\open\\command";
        command = ReadRegistryString(*registry, key, "") + " http://" + ip;
    }
    unsigned rc = startProgram(command, 0);
    if (rc == 2 || rc == 3 || rc == 11) rc = startProgram("explorer http://" + ip, 0);
    // Results above 31 mean started. Nothing could show the pages: say where
    // they are, so the user can open them by hand.
    if (rc <= 31)
        messageSink().show(this, noBrowserMessage(QString::fromStdString("http://" + ip)), kCaptionWarning,
                           MessageIcon::Warning);
}

void CHarbor_scanDlg::OnAbout() {
    showabout about(this);
    about.exec();
}

void CHarbor_scanDlg::OnExit() { done(QDialog::Rejected); }
void CHarbor_scanDlg::OnMinimizeButton() { showMinimized(); }
void CHarbor_scanDlg::OnCloseButton() { reject(); }

void CHarbor_scanDlg::done(int result) {
    shutdown();
    QDialog::done(result);
}

void CHarbor_scanDlg::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    ClearDeviceList();
    CloseSockets();
    loginCache.clear();
    ClearShareList();
}

void CHarbor_scanDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!m_bitmapBackground.isNull()) p.drawImage(rect(), m_bitmapBackground);
    if (!painted_) {
        painted_ = true;
        reportFirstPaint(searchMs_);
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
    if (m_DeviceList && watched == m_DeviceList->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // Handled after the list has taken the click.
        QMetaObject::invokeMethod(this, [this] { OnDeviceClick(); emit deviceClicked(); }, Qt::QueuedConnection);
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace qs::win
