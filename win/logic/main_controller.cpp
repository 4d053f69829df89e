#include "main_controller.h"

#include "controller_support.h"
#include "quayside/address.h"
#include "quayside/address_change.h"
#include "quayside/lan_checks.h"
#include "quayside/device_library.h"
#include "quayside/neighbours.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace qs::win {

namespace {

std::uint32_t addressOf(const Octets& o) {
    std::uint32_t address = 0;
    for (const int octet : o) address = address << 8 | static_cast<std::uint32_t>(octet & 0xFF);
    return address;
}

std::string dotted(const Octets& o) { return formatDottedIPv4(addressOf(o)); }

// A field as the LAN checks read it: a blank field is an empty text.
std::string fieldText(const AddressValue& v) { return v.blank ? std::string() : dotted(v.octets); }

// What each refusal of the LAN checks shows, and the field that then gets
// the keyboard focus. This program's rules make no other refusals.
struct Refusal {
    LanError error;
    Message message;
    std::optional<AddressField> focus;
};
constexpr Refusal kRefusals[] = {
    {LanError::AddressMissing, Message::InputAddress, std::nullopt},
    {LanError::NetmaskMissing, Message::InputNetmask, std::nullopt},
    {LanError::AddressUnreadable, Message::AddressInputError, std::nullopt},
    {LanError::LoopbackAddress, Message::AddressInputError, std::nullopt},
    {LanError::AddressFirstOutOfRange, Message::AddressFirstOctet, AddressField::IP},
    {LanError::NetmaskUnreadable, Message::NetmaskInvalid, std::nullopt},
    {LanError::GatewayUnreadable, Message::GatewayFirstOctet, AddressField::Gateway},
    {LanError::GatewayFirstOutOfRange, Message::GatewayFirstOctet, AddressField::Gateway},
    {LanError::NetmaskBitsInvalid, Message::NetmaskInvalid, std::nullopt},
    {LanError::GatewayIsNetworkAddress, Message::ConfigurationInvalid, std::nullopt},
    {LanError::GatewayIsBroadcastAddress, Message::ConfigurationInvalid, std::nullopt},
    {LanError::GatewayInOtherSubnet, Message::ConfigurationInvalid, std::nullopt},
};

Refusal refusalOf(LanError error) {
    for (const Refusal& r : kRefusals)
        if (r.error == error) return r;
    return {error, Message::ConfigurationInvalid, std::nullopt};
}

constexpr AddressField kAddressFields[] = {AddressField::IP, AddressField::Netmask, AddressField::Gateway};

}  // namespace

struct MainController::WindowRelay {
    std::mutex lock;
    MainController* controller = nullptr;  // none once it is gone
};

MainController::MainController(MainView& view) : view_(view), relay_(std::make_shared<WindowRelay>()) {
    relay_->controller = this;
}

// The connections go first: their restores may still call back. A web
// opener's verdict that comes later finds no controller.
MainController::~MainController() {
    net.reset();
    const std::lock_guard<std::mutex> hold(relay_->lock);
    relay_->controller = nullptr;
}

void MainController::say(Message message, std::string_view subject) { view_.showMessage(notice(message, subject)); }

int MainController::FindSelectedRow(List list) {
    for (int row = std::max(0, view_.topRow(list)); row < view_.rowCount(list); ++row)
        if (view_.rowSelected(list, row)) return row;
    return -1;
}

void MainController::start() {
    // Remembered mappings come back in the background; meanwhile the table
    // already shows their letters as taken. When they are back, the table
    // and the combo are read again on the window's own thread, keeping the
    // letter chosen meanwhile.
    if (net)
        net->RestoreConnections([this] {
            view_.post([this] {
                // The chosen letter, free or in use, is found again by the
                // letter itself: its item's text may change with the refresh.
                const std::string chosen = SelectedDriveLetter();
                RefreshDriveTable();
                FillDriveLetterCombo();
                const auto at = std::find(comboLetters_.begin(), comboLetters_.end(), chosen);
                if (!chosen.empty() && at != comboLetters_.end())
                    view_.setCurrentIndex(Combo::DriveLetter, static_cast<int>(at - comboLetters_.begin()));
            });
        });
    RefreshDriveTable();
    FillDriveLetterCombo();
    OnRefresh();
    deviceSelected = 0;
}

void MainController::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    library_.devices.ClearDeviceList();
    library_.closeSockets();
    loginCache.clear();
    library_.shares.ClearShareList();
}

void MainController::clearLanFields() {
    view_.clearItems(Combo::Port);
    for (AddressField f : kAddressFields) view_.clearAddress(f);
}

// ---- devices ----------------------------------------------------------------

void MainController::OnRefresh() {
    view_.clearRows(List::Device);
    view_.clearRows(List::Volume);
    loginCache.clear();
    clearLanFields();
    view_.setEnabled(Combo::Port, false);
    view_.setRefreshEnabled(false);
    {
        Busy busy(view_);
        const auto start = std::chrono::steady_clock::now();
        library_.SearchDevices(searchTargets);
        searchMs_ += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    view_.setRefreshEnabled(true);
    const DeviceRegistry& devices = library_.devices;
    for (std::size_t i = 0; i < devices.count(); ++i) {
        const DeviceData_n& d = devices.at(i);
        const PortBlock& p = d.port[static_cast<std::size_t>(d.answeringPort())];
        const int row = view_.insertRow(List::Device, static_cast<int>(i), d.hostname.c_str());
        view_.setCellText(List::Device, row, 1, p.IP.c_str());
        view_.setCellText(List::Device, row, 2, p.netmask.c_str());
        view_.setCellText(List::Device, row, 3, p.gateway.c_str());
        // The row keeps the device's identity, never a pointer into the
        // registry, which the next search replaces.
        view_.setDeviceId(row, d.serverUUID);
        if (d.hardware) view_.setDeviceToolTip(row, "Hardware address: " + formatHardwareAddress(*d.hardware));
        loginCache.seed(MakeDeviceKey(d.serverUUID));
    }
    deviceSelected = 0;
}

bool MainController::LoginForDevice(const std::string& key) {
    if (!loginCache.contains(key)) return false;
    currentBox_ = ParseDeviceKey(key);
    const auto given = view_.askLogin(loginPurpose, versionQuery);
    if (!given) return false;
    credentials_ = Credentials{given->user, given->password};
    bool ok;
    {
        Busy busy(view_);
        const auto check = [&] { return library_.checkPassword(currentBox_, credentials_) == Outcome::Accepted; };
        ok = check() || check();  // once more at once, without asking again
    }
    if (!ok) {
        say(Message::WrongPassword);
        return false;
    }
    loginCache.accept(key, credentials_.user, credentials_.password);
    return true;
}

void MainController::OnDeviceClick() {
    clearLanFields();
    if (view_.rowCount(List::Device) == 0) return;
    const int row = FindSelectedRow(List::Device);
    if (row < 0) return;
    deviceSelected = 1;
    view_.focusDeviceList();
    const std::string ip = view_.cellText(List::Device, row, 1);
    const std::string netmask = view_.cellText(List::Device, row, 2);
    const std::string gateway = view_.cellText(List::Device, row, 3);
    const std::string name = view_.cellText(List::Device, row, 0);
    currentDeviceIP = ip;

    DeviceLibrary& lib = library_;
    const auto id = view_.deviceId(row);
    if (!id || !lib.devices.FindDevice(*id)) return;
    const std::string key = MakeDeviceKey(*id);
    if (loginCache.isAccepted(key)) {
        loginCache.copyOut(key, credentials_);
    } else if (!LoginForDevice(key)) {
        return;
    }
    currentBox_ = *id;
    // Looked up again: the login ran an event loop of its own.
    const DeviceData_n* rec = lib.devices.FindDevice(*id);
    if (!rec) return;
    const std::string dhcpText = rec->port[static_cast<std::size_t>(rec->answeringPort())].dhcpText.str();

    lib.lanSummary.firstLabel.clear();
    lib.SummarizeLanPorts(currentBox_);
    view_.clearItems(Combo::Port);
    LanSummary& s = lib.lanSummary;
    if (s.firstLabel.empty()) {
        view_.setEnabled(Combo::Port, false);
        view_.addItem(Combo::Port, "LAN");
        view_.setCurrentIndex(Combo::Port, 0);
        s.entry[0].IP = ip;
        s.entry[0].netmask = netmask;
        s.entry[0].gateway = gateway;
        s.entry[0].dhcp = dhcpText.substr(0, 1);
    } else if (s.portCount == "1") {
        view_.setEnabled(Combo::Port, false);
        view_.addItem(Combo::Port, "LAN");
        view_.setCurrentIndex(Combo::Port, 0);
        selectedPortIndex = view_.currentIndex(Combo::Port);
    } else {
        view_.setEnabled(Combo::Port, true);
        view_.addItem(Combo::Port, s.firstLabel.c_str());
        view_.addItem(Combo::Port, s.secondLabel.c_str());
        view_.setCurrentIndex(Combo::Port, s.entry[0].IP.view() == ip ? 0 : 1);
        selectedPortIndex = view_.currentIndex(Combo::Port);
    }
    const bool dhcp = !dhcpText.empty() && dhcpText[0] == '1';
    view_.setCurrentIndex(Combo::Dhcp, dhcp ? 1 : 0);
    for (AddressField f : kAddressFields) view_.setEnabled(f, !dhcp);
    view_.setAddress(AddressField::IP, ip);
    view_.setAddress(AddressField::Netmask, netmask);
    if (!gateway.empty() && gateway != "0.0.0.0")
        view_.setAddress(AddressField::Gateway, gateway);
    else
        view_.clearAddress(AddressField::Gateway);
    {
        Busy busy(view_);
        lib.getShareList(currentBox_, credentials_);
    }
    FillVolumeList(name, ip, false);
}

// ---- LAN panel ----------------------------------------------------------------

bool IsValidNetmask(int m0, int m1, int m2, int m3) {
    return checkNetmaskBits(addressOf({m0, m1, m2, m3}), kWinLanPolicy) == LanError::None;
}

bool IsGatewayMisplaced(const Octets& a, const Octets& m, const Octets& g) {
    return checkGatewayPlacement(addressOf(a), addressOf(m), addressOf(g), kWinLanPolicy) != LanError::None;
}

void MainController::RefuseLanSettings(LanError error) {
    const Refusal r = refusalOf(error);
    say(r.message);
    if (r.focus) view_.focusFirstPart(*r.focus);
}

int MainController::CheckAddressField(FieldKind kind, int o0, int o1, int o2, int o3) {
    const bool address = kind == FieldKind::Address;
    const LanError error = checkLanField(address ? LanField::Address : LanField::Gateway,
                                         dotted({o0, o1, o2, o3}), kWinLanPolicy);
    if (error != (address ? LanError::AddressFirstOutOfRange : LanError::GatewayFirstOutOfRange)) return 1;
    RefuseLanSettings(error);
    return 0;
}

std::optional<LanSettings> MainController::ValidateTcpIp() {
    const LanCheck check =
        checkLanSettings(fieldText(view_.address(AddressField::IP)), fieldText(view_.address(AddressField::Netmask)),
                         fieldText(view_.address(AddressField::Gateway)), kWinLanPolicy);
    if (!check.ok()) {
        RefuseLanSettings(check.error);
        return std::nullopt;
    }
    // No gateway (blank or 0.0.0.0) goes as an empty text.
    return LanSettings{.address = check.address, .netmask = check.netmask, .gateway = check.gateway};
}

void MainController::StoreLanFields(const std::string& label) {
    LanSummary& s = library_.lanSummary;
    LanSummary::Entry& e = s.entry[label == "LAN2" ? 1 : 0];
    e.IP = dotted(view_.address(AddressField::IP).octets);
    e.netmask = dotted(view_.address(AddressField::Netmask).octets);
    e.gateway = dotted(view_.address(AddressField::Gateway).octets);
    // With no selection the index is -1, which the one-character field cuts
    // to "-": such an entry shows as "Disable".
    e.dhcp = std::to_string(view_.currentIndex(Combo::Dhcp));
}

void MainController::ShowLanEntry(int entry) {
    const LanSummary::Entry& e = library_.lanSummary.entry[entry == 1 ? 1 : 0];
    const bool dhcp = !e.dhcp.empty() && e.dhcp.view()[0] == '1';
    view_.setCurrentIndex(Combo::Dhcp, dhcp ? 1 : 0);
    for (AddressField f : kAddressFields) view_.setEnabled(f, !dhcp);
    view_.setAddress(AddressField::IP, e.IP.c_str());
    view_.setAddress(AddressField::Netmask, e.netmask.c_str());
    const std::string gw = e.gateway.c_str();
    if (!gw.empty() && gw != "0.0.0.0")
        view_.setAddress(AddressField::Gateway, gw);
    else
        view_.clearAddress(AddressField::Gateway);
}

void MainController::OnDhcpChange() {
    if (view_.currentIndex(Combo::Dhcp) < 0) return;
    const bool enable = view_.currentText(Combo::Dhcp) == "Enable";
    for (AddressField f : kAddressFields) view_.setEnabled(f, !enable);
}

void MainController::OnInterfaceChange() {
    const int index = view_.currentIndex(Combo::Port);
    if (index == selectedPortIndex) return;
    selectedPortIndex = index;
    if (index == 0) {
        StoreLanFields("LAN2");  // the panel showed the second port so far
        ShowLanEntry(0);
    } else if (index == 1) {
        StoreLanFields("LAN1");
        ShowLanEntry(1);
    }
    RebuildVolumeList(view_.addressText(AddressField::IP));
}

void MainController::OnApply() {
    loginPurpose = LoginPurpose::Configuration;
    if (deviceSelected == 0) {
        say(Message::SelectDeviceToApply);
        return;
    }
    const std::string label = view_.currentIndex(Combo::Port) >= 0 ? view_.currentText(Combo::Port) : std::string();
    StoreLanFields(label);
    const int dhcp = view_.currentIndex(Combo::Dhcp);
    if (dhcp != 0 && dhcp != 1) return;
    // The device of the last selection; a change for one no longer listed
    // is refused by the library as the device protocol says.
    const Uuid8 id = currentBox_;
    const DeviceData_n* box = library_.devices.FindDevice(id);
    const std::string name = box ? box->hostname.str() : std::string();
    if (dhcp == 0) {
        std::optional<LanSettings> settings = ValidateTcpIp();
        if (!settings) return;
        settings->portLabel = label;
        const std::optional<std::uint32_t> asked =
            settings->address ? std::optional(settings->address->hostOrder) : std::nullopt;
        if (asked && box) {
            AddressChangeCheck check;
            {
                Busy busy(view_);
                check = checkAddress(*box, chooseSettingsPort(*box, label), *asked);
            }
            if (check.stops() && !view_.confirm(notice(Message::AddressWarning, check.text))) return;
        }
        bool accepted;
        {
            Busy busy(view_);
            // The search that follows shows what the device made of it.
            accepted = library_.setLanConfig(id, credentials_, *settings) == Outcome::Accepted;
        }
        view_.pause(kApplyPauseMs, {});
        OnRefresh();
        if (accepted) FollowMovedDevice(id, name, asked);
    } else {
        // The address fields go as the panel shows them.
        LanSettings settings{.portLabel = label, .dhcp = true};
        const AddressValue a = view_.address(AddressField::IP);
        const AddressValue m = view_.address(AddressField::Netmask);
        const AddressValue g = view_.address(AddressField::Gateway);
        if (!a.blank) settings.address = Ipv4{addressOf(a.octets)};
        if (!m.blank) settings.netmask = Ipv4{addressOf(m.octets)};
        if (!g.blank && addressOf(g.octets) != 0) settings.gateway = Ipv4{addressOf(g.octets)};
        bool ok;
        {
            Busy busy(view_);
            ok = library_.setLanConfig(id, credentials_, settings) == Outcome::Accepted;
        }
        if (!ok) {
            say(Message::DhcpFailed);
            return;
        }
        say(Message::DhcpEnabled);
        view_.pause(kApplyPauseMs, {});
        OnRefresh();
        FollowMovedDevice(id, name, std::nullopt);
    }
}

void MainController::FollowMovedDevice(const Uuid8& id, const std::string& name, std::optional<std::uint32_t> asked) {
    const auto where = [&]() -> std::optional<std::uint32_t> {
        const DeviceData_n* d = library_.devices.FindDevice(id);
        return d ? std::optional(hostOrderOf(d->answeredFrom)) : std::nullopt;
    };
    std::optional<std::uint32_t> at = where();
    if (answersWhereSent(asked, at) || answersOnLoopback(at)) return;
    // Not where it was sent: looked for there and through the group until
    // the time is up, each search shown as it ends.
    const SearchTargets targets = searchTargets;
    if (asked) searchTargets.hosts.push_back(*asked);
    const auto deadline = std::chrono::steady_clock::now() + followUpLimit;
    while (!at && std::chrono::steady_clock::now() < deadline) {
        OnRefresh();
        at = where();
    }
    searchTargets = targets;
    if (!answersWhereSent(asked, at)) say(Message::BoxElsewhere, whereTheBoxAnswers(name, asked, at));
}

// ---- web launch ---------------------------------------------------------------

void MainController::ProbeDeviceWeb() {
    // The worker reads the address once, at its start; the verdict is all it
    // shares with the window, and it may outlive the window.
    std::thread([ip = currentDeviceIP, port = webPort, verdict = availability_] {
        *verdict = InternetCheckConnection(ip, port, 5000) ? 1 : -1;
    }).detach();
}

int MainController::WaitDeviceAvailable() {
    std::atomic<int>& verdict = availabilityWord();
    if (verdict == 1) {
        verdict = 0;
        return 1;
    }
    for (int i = 0; i < 2; ++i) {
        if (verdict == -1) break;
        // Each wait ends early once the verdict is in, so a device that
        // answers opens at once.
        view_.pause(waitStepMs, [&verdict] { return verdict != 0; });
        if (verdict == 1) {
            verdict = 0;
            return 1;
        }
    }
    say(Message::DeviceUnavailable);
    RefreshDriveTable();
    FillDriveLetterCombo();
    OnRefresh();
    deviceSelected = 0;
    return 0;
}

void MainController::OnConfiguration() {
    const int row = FindSelectedRow(List::Device);
    if (row < 0) {
        say(Message::SelectDeviceToConfigure);
        return;
    }
    currentDeviceIP = view_.cellText(List::Device, row, 1);
    availabilityWord() = 0;
    // The address comes from the network: only a dotted IPv4 address is
    // ever probed or handed to a browser.
    if (isDottedIPv4(currentDeviceIP))
        ProbeDeviceWeb();
    else
        availabilityWord() = -1;
    if (!WaitDeviceAvailable()) return;
    const std::string url = "http://" + currentDeviceIP;
    const std::string name = registry ? ReadRegistryString(*registry, kStartMenuInternet, "") : std::string();
    std::string command;
    if (name.find("IE") != std::string::npos) {
        command = "explorer " + url;
    } else {
        const std::string key = std::string(kStartMenuInternet) + "\\" + name + "\\shell\\open\\command";
        command = (registry ? ReadRegistryString(*registry, key, "") : std::string()) + " " + url;
    }
    // A program that starts may still fail to show anything (xdg-open
    // without a browser exits 3): its verdict comes a little later, from
    // another thread, and the window goes on meanwhile.
    const StartVerdict verdict = [relay = relay_, url](bool opened) { openerVerdict(relay, url, opened); };
    unsigned rc = startProgram(command, 0, verdict);
    if (rc == 2 || rc == 3 || rc == 11) rc = startProgram("explorer " + url, 0, verdict);
    // Results above 31 mean started. Nothing could show the pages: say where
    // they are, so the user can open them by hand.
    if (rc <= 31) say(Message::NoBrowser, url);
}

void MainController::openerVerdict(const std::shared_ptr<WindowRelay>& relay, const std::string& url, bool opened) {
    if (opened) return;
    const std::lock_guard<std::mutex> hold(relay->lock);
    if (!relay->controller) return;
    relay->controller->view_.post([relay, url] {
        MainController* controller = nullptr;
        {
            const std::lock_guard<std::mutex> again(relay->lock);
            controller = relay->controller;
        }
        if (controller) controller->say(Message::NoBrowser, url);
    });
}

}  // namespace qs::win
