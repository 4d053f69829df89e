#include "main_controller.h"

#include "quayside/address.h"
#include "quayside/message_texts.h"

#include <algorithm>
#include <chrono>

namespace qs::mac {

using namespace std::chrono_literals;

namespace {

// How long after a device click the login sheet opens.
constexpr auto kLanInfoDelay = 200ms;
// How often a box that has not answered since its change is looked for: a
// search's answers are in well within it.
constexpr auto kFollowUpTick = 1500ms;

class StdLock final : public Lock {
public:
    void lock() override { mutex_.lock(); }
    void unlock() override { mutex_.unlock(); }

private:
    std::mutex mutex_;
};


}  // namespace

std::unique_ptr<Lock> Toolkit::newLock() { return std::make_unique<StdLock>(); }

std::string alertText(int code) {
    static const char* const kTexts[] = {
        "",
        texts::kSelectDeviceToConfigure,
        texts::kSelectDeviceAbove,
        texts::kUnmapFailed,
        texts::kInputAddress,
        texts::kInputNetmask,
        "Please input gateway address!",
        "Username should not be null.",
        "Password should not be null.",
        texts::kWrongPassword,
        texts::kAddressFirstOctet,
        "Invalid IP address in 2nd digit. It should be 0-254.",
        "Invalid IP address in 3rd digit. It should be 0-254.",
        "Invalid IP address in 4th digit. It should be 1-254.",
        "Setting LAN1 and LAN2 to the same domain is not allowed.",
        "Invalid subnet mask address in 1st digit. It should be 1-255.",
        "Invalid subnet mask address in 2nd digit. It should be 0-255.",
        "Invalid subnet mask address in 3rd digit. It should be 0-255.",
        "Invalid subnet mask address in 4th digit. It should be 0-254.",
        texts::kGatewayFirstOctet,
        "Invalid gateway IP address in 2nd digit. It should be 0-255.",
        "Invalid gateway IP address in 3rd digit. It should be 0-255.",
        "Invalid gateway IP address in 4th digit. It should be 1-254.",
        "Ip address and the multicast address have the same address. Please modify the ip address.",
        "IP address and the gateway address have the same address. Please modify ip address.",
        "IP address and the mask address have the same address. Please modify ip address.",
        "Gateway address and the mask address have the same address. Please modify the mask or gateway address.",
        texts::kMapped,
        texts::kUnmapped,
        "No route to host.\n",
        "Host is down.\n",
        texts::kMapFailed,
        texts::kUnmapFailed,
        texts::kAddressInputError,
        "Netmask address input error. Please try again.",
        "Gateway address input error. Please try again.",
        texts::kNetmaskInvalid,
        texts::kConfigurationInvalid,
        "is Locked.",
        "You entered an incorrect TCP/IP configuration. Please try again.",
    };
    static_assert(std::size(kTexts) == 40);
    if (code < 1 || code > 39) return {};
    return kTexts[code];
}

MainController::MainController(RunLoop& loop, Toolkit& toolkit, Options options)
    : m_loop(loop), m_toolkit(toolkit), m_options(std::move(options)) {}

MainController::~MainController() {
    if (m_deviceReload) m_loop.cancelTimer(m_deviceReload);
    stopFollowing();
    if (m_queryLanInfoTmrLock) {
        std::lock_guard<Lock> held(*m_queryLanInfoTmrLock);
        stopLanInfoTimer();
    }
    m_queryLanInfoTmrLock.reset();
    m_packager.reset();
}

void MainController::awakeFromNib() {
    m_packager = std::make_unique<Packager>(m_loop, m_options.port, m_options.group, this, m_options.packager);
    m_packager->sendPackage(op_SEARCH, nullptr);
    m_toolkit.sleepMainThread(30ms);
    m_noPassword = true;

    m_arrInterface[0] = {"LAN"};
    m_arrInterface[1] = {"LAN1+LAN2 Round Robin",
                         "LAN1+LAN2 Active Backup",
                         "LAN1+LAN2 Balace-XOR",
                         "LAN1+LAN2 Broadcast",
                         "LAN1+LAN2 802.3ad",
                         "LAN1+LAN2 Adaptive Transmit Load Balancing",
                         "LAN1+LAN2 Adaptive Load Balancing"};
    m_arrInterface[3] = {"LAN1", "LAN2"};

    m_queryLanInfoTmrLock = m_toolkit.newLock();
    m_queryLanInfoTmr = 0;
    m_queryLanInfoCounter = 0;
}

// ---- tables ---------------------------------------------------------------

std::shared_ptr<DeviceData_n> MainController::deviceAt(int row) const {
    if (!m_packager || row < 0) return nullptr;
    const auto& devices = m_packager->serverArray();
    if (static_cast<std::size_t>(row) >= devices.size()) return nullptr;
    return devices[static_cast<std::size_t>(row)];
}

std::shared_ptr<DeviceData_n> MainController::deviceWithId(const Uuid8& id) const {
    if (!m_packager) return nullptr;
    for (const auto& d : m_packager->serverArray())
        if (d->serverUUID == id) return d;
    return nullptr;
}

std::shared_ptr<DeviceData_n> MainController::selectedDevice() {
    const int row = m_toolkit.selectedRow(Table::Device);
    if (row < 0) return nullptr;
    return m_selectedBox ? deviceWithId(*m_selectedBox) : deviceAt(row);
}

void MainController::reloadDevices() {
    m_toolkit.reloadData(Table::Device);
    if (!m_selectedBox || !m_packager) return;
    // Sorting moves rows: the selection follows the box, not the row.
    const auto& devices = m_packager->serverArray();
    int row = -1;
    for (std::size_t i = 0; i < devices.size() && row < 0; ++i)
        if (devices[i]->serverUUID == *m_selectedBox) row = static_cast<int>(i);
    m_toolkit.selectRow(Table::Device, row);
}

void MainController::reloadTable(RunLoopTable table) {
    if (table != RunLoopTable::Devices) {
        m_toolkit.reloadData(Table::Volume);
        return;
    }
    constexpr auto kDeviceReloadEvery = std::chrono::milliseconds(250);
    if (m_deviceReload) return;  // one is due
    const auto since = std::chrono::steady_clock::now() - m_lastDeviceReload;
    const auto reload = [this] {
        m_deviceReload = 0;
        m_lastDeviceReload = std::chrono::steady_clock::now();
        reloadDevices();
    };
    if (since >= kDeviceReloadEvery)
        reload();
    else
        m_deviceReload = m_loop.startTimer(
            std::chrono::ceil<std::chrono::milliseconds>(kDeviceReloadEvery - since), false, reload);
}

void MainController::cleanTable(int which) {
    if (!m_packager) return;
    if (which == 0 || which == 1) {
        m_packager->serverArray().clear();
        m_selectedBox.reset();
        m_toolkit.reloadData(Table::Device);
    }
    if (which == 0 || which == 2) {
        m_packager->volumeArray().clear();
        m_toolkit.reloadData(Table::Volume);
    }
}

void MainController::tblDeviceChanged() {
    const int row = m_toolkit.selectedRow(Table::Device);
    const auto record = deviceAt(row);
    if (!record) {
        const int column = m_toolkit.clickedColumn(Table::Device);
        if (column >= 0 && m_packager) {
            m_packager->sortDeviceData(column, true);
            reloadDevices();
        }
        return;
    }
    m_selectedBox = record->serverUUID;
    m_packager->sendPackage(kLegacyItemQuery, kLanInformationItem, *record);
    {
        std::lock_guard<Lock> held(*m_queryLanInfoTmrLock);
        m_queryLanInfoCounter = 0;
        m_nSelectedRow = row;
        stopLanInfoTimer();
        m_queryLanInfoTmr = m_loop.startTimer(kLanInfoDelay, true, [this] { checkQueryLanInfoStatus(); });
    }
    m_toolkit.removeAllItems(Combo::Interface);
}

void MainController::stopLanInfoTimer() {
    if (m_queryLanInfoTmr != 0) m_loop.cancelTimer(m_queryLanInfoTmr);
    m_queryLanInfoTmr = 0;
}

void MainController::checkQueryLanInfoStatus() {
    ++m_queryLanInfoCounter;
    const auto record = m_selectedBox ? deviceWithId(*m_selectedBox) : deviceAt(m_nSelectedRow);
    {
        std::lock_guard<Lock> held(*m_queryLanInfoTmrLock);
        stopLanInfoTimer();
    }
    // The list was searched again meanwhile: the box is gone.
    if (!record) return;
    fillDeviceInfo(record, true);
    cleanTable(2);
    m_calledAction = Action::ListVolumes;
    openLoginSheet();
}

void MainController::tblVolumeChanged() {
    const VolumeData* share = selectedShare();
    if (!share) return;
    if (share->isLocked) {
        displayAlertMessage(Alert::Locked);
        m_toolkit.setEnabled(Button::Connect, false);
        m_toolkit.setEnabled(Button::Disconnect, false);
        return;
    }
    m_toolkit.setEnabled(Button::Connect, true);
    m_toolkit.setEnabled(Button::Disconnect, true);
}

// ---- the shown record -------------------------------------------------------

int MainController::getIPCombo() { return m_toolkit.indexOfSelectedItem(Combo::DHCP); }
int MainController::getIFCombo() { return m_toolkit.indexOfSelectedItem(Combo::Interface); }
std::string MainController::getIP() { return m_toolkit.stringValue(Field::IP); }
std::string MainController::getNetmask() { return m_toolkit.stringValue(Field::Netmask); }
std::string MainController::getGateway() { return m_toolkit.stringValue(Field::Gateway); }

void MainController::setIPEditEnable(bool enabled) {
    const Colour colour = enabled ? kBlackText : kGreyText;
    for (Field field : {Field::IP, Field::Netmask, Field::Gateway}) {
        m_toolkit.setEditable(field, enabled);
        m_toolkit.setTextColour(field, colour);
    }
    m_toolkit.setTextColour(Combo::Interface, colour);
}

void MainController::setIPEditable() { setIPEditEnable(getIPCombo() != 0); }

void MainController::cleanDeviceInfo() {
    setIPEditEnable(true);
    for (Field field : {Field::IP, Field::Netmask, Field::Gateway}) m_toolkit.setStringValue(field, {});
    m_toolkit.removeAllItems(Combo::Interface);
    m_toolkit.setText(Combo::Interface, {});
}

void MainController::showPort(const DeviceData_n& record, int port) {
    const PortBlock& block = record.port[port == 0 ? 0 : 1];
    m_toolkit.setStringValue(Field::IP, block.IP.str());
    m_toolkit.setStringValue(Field::Netmask, block.netmask.str());
    m_toolkit.setStringValue(Field::Gateway, block.gateway.str());
}

void MainController::fillDeviceInfo(std::shared_ptr<DeviceData_n> record, bool setDhcpChoice) {
    m_toolkit.removeAllItems(Combo::Interface);
    m_toolkit.setEnabled(Combo::Interface, false);
    m_tmpDeviceData = record;
    if (!record) return;

    if (record->ifCount == 2) {
        m_toolkit.addItems(Combo::Interface, m_arrInterface[3]);
        m_toolkit.setEnabled(Combo::Interface, true);
    } else if (record->bondingEnable) {
        m_toolkit.addItems(Combo::Interface, m_arrInterface[1]);
        m_toolkit.selectItem(Combo::Interface, record->bondingMode);
    } else {
        m_toolkit.addItems(Combo::Interface, m_arrInterface[0]);
    }

    // A bond is one interface: its settings are those of port 0, whichever
    // interface answered, and the choice keeps showing the bonding mode.
    const bool bond = record->ifCount != 2 && record->bondingEnable;
    bool dhcp;
    if (record->nSendIF != 0 && !bond) {
        showPort(*record, 1);
        m_toolkit.selectItem(Combo::Interface, 1);
        dhcp = record->port[1].dhcpEnable;
    } else {
        showPort(*record, 0);
        dhcp = record->port[0].dhcpEnable;
        if (!record->bondingEnable) m_toolkit.selectItem(Combo::Interface, 0);
    }

    if (setDhcpChoice) {
        m_toolkit.selectItem(Combo::DHCP, dhcp ? 0 : 1);
        setIPEditEnable(!dhcp);
    }
}

int MainController::editedPort(const DeviceData_n& record) {
    const bool bond = record.ifCount != 2 && record.bondingEnable;
    return bond || getIFCombo() == 0 ? 0 : 1;
}

void MainController::cmbInterfaceChanged() {
    const auto record = selectedDevice();
    if (!record) return;
    const int port = editedPort(*record);
    showPort(*record, port);
    const bool dhcp = record->port[port].dhcpEnable;
    m_toolkit.selectItem(Combo::DHCP, dhcp ? 0 : 1);
    setIPEditEnable(!dhcp);
}

void MainController::cmbDHCPChanged() {
    const int index = getIPCombo();
    if (index == 0) setIPEditEnable(false);
    else if (index == 1) setIPEditEnable(true);
}

// ---- buttons ----------------------------------------------------------------

void MainController::btnRefreashPressed() {
    if (!m_packager) return;
    if (m_packager->net()) m_packager->net()->reopenSocket();
    cleanTable(0);
    cleanDeviceInfo();
    m_packager->sendPackage(op_SEARCH, nullptr);
}

void MainController::btnConfigurationPressed() {
    const auto record = selectedDevice();
    if (!record) {
        displayAlertMessage(Alert::SelectDevice);
        return;
    }
    const std::string url = "http://" + record->port[0].IP.str();
    // The opener's verdict comes a little later (the window goes on
    // meanwhile). Nothing could show the pages: say where they are, to open
    // by hand.
    m_toolkit.openURL(url, [this, url](bool opened) {
        if (!opened)
            m_toolkit.runAlert(m_toolkit.localizedString("No web browser could be started.") + "\nOpen " + url +
                              " in a web browser.");
    });
}

void MainController::btnApplyPressed() {
    const auto record = selectedDevice();
    if (!record) {
        displayAlertMessage(Alert::SelectDeviceAbove);
        return;
    }
    setIPEditEnable(false);
    m_pendingChange.reset();
    // Apply pressed before the login sheet of a click has shown a record:
    // the selected box's record is the one being edited.
    if (!m_tmpDeviceData || m_tmpDeviceData->serverUUID != record->serverUUID) m_tmpDeviceData = record;
    // The change is made on a copy: the record keeps what the box has
    // until the box accepts it.
    auto edited = std::make_shared<DeviceData_n>(*m_tmpDeviceData);
    const bool secondPort = editedPort(*edited) == 1;
    PortBlock& block = edited->port[secondPort ? 1 : 0];

    if (getIPCombo() == 1) {
        const std::string ip = getIP(), netmask = getNetmask(), gateway = getGateway();
        if (const int code = validateStaticSettings(ip, netmask, gateway); code != 0) {
            displayAlertMessage(static_cast<Alert>(code));
            setIPEditable();
            return;
        }
        // Another host holding the address, or an address this computer
        // will not reach the box at: the user decides before anything is
        // sent.
        if (const auto target = parseDottedIPv4(ip)) {
            const AddressChangeCheck check = m_options.checkAddress(*m_tmpDeviceData, secondPort ? 1 : 0, *target);
            if (check.stops() && !m_toolkit.runConfirm(check.text + "\n" + m_toolkit.localizedString("Change it anyway?"))) {
                setIPEditable();
                return;
            }
        }
        block.dhcpEnable = false;
        block.dhcpText = "0";
        block.IP = ip;
        block.netmask = netmask;
        block.gateway = gateway;
    } else {
        m_calledAction_sub = SubAction::Dhcp;
        block.dhcpEnable = true;
        block.dhcpText = "1";
    }
    edited->ifEdited = secondPort ? 1 : 0;
    m_calledAction = Action::Apply;
    m_pendingChange = std::move(edited);
    openLoginSheet();
}

void MainController::btnExitPressed() { m_toolkit.terminate(); }
void MainController::windowWillClose() { m_toolkit.terminate(); }
void MainController::btnAboutPressed() { m_toolkit.orderFrontStandardAboutPanel(); }

// ---- login sheet ------------------------------------------------------------

void MainController::processPackageReturn(int value) {
    if (value == 1) openLoginSheet();
}

void MainController::openLoginSheet() {
    m_toolkit.setStringValue(Field::UserName, m_calledAction == Action::Mount ? std::string() : std::string("admin"));
    // No password is carried over from an earlier sheet.
    m_toolkit.setStringValue(Field::Password, {});
    m_sheetOpen = true;
    m_toolkit.beginSheet();
}

void MainController::closeLoginSheet() {
    m_sheetOpen = false;
    m_toolkit.endSheet();
}

std::shared_ptr<DeviceData_n> MainController::tmpDeviceData() {
    return m_calledAction == Action::Apply && m_pendingChange ? m_pendingChange : m_tmpDeviceData;
}

void MainController::btnOKPressed() {
    const std::string password = m_toolkit.stringValue(Field::Password);
    if (m_tmpDeviceData) m_tmpDeviceData->password = password;
    if (m_pendingChange) m_pendingChange->password = password;
    if (m_toolkit.stringValue(Field::UserName).empty()) {
        displayAlertMessage(Alert::UserNameEmpty);
        return;
    }
    closeLoginSheet();
    switch (m_calledAction) {
        case Action::Apply:
        case Action::ListVolumes:
            sendAuthPacket();
            break;
        case Action::Mount:
            credentialsMount();
            break;
        default:
            break;
    }
}

void MainController::btnCancelPressed() {
    if (m_calledAction == Action::Apply) m_pendingChange.reset();
    setBtnApply(true);
    if (getIPCombo() == 1) setIPEditEnable(true);
    closeLoginSheet();
}

void MainController::sendAuthPacket() {
    setBtnApply(false);
    const auto record = selectedDevice();
    if (!record) {
        displayAlertMessage(Alert::SelectDeviceAbove);
        setBtnApply(true);
        return;
    }
    m_noPassword = false;
    // An Apply's check goes with the edited copy: the settings that follow
    // an accepted password are those the user confirmed.
    const bool change = m_calledAction == Action::Apply && m_pendingChange &&
                        m_pendingChange->serverUUID == record->serverUUID;
    m_packager->sendPackage(op_CHK_PASSWD, change ? m_pendingChange.get() : record.get());
}

// ---- engine callbacks -------------------------------------------------------

void MainController::setBtnApply(bool enabled) { m_toolkit.setEnabled(Button::Apply, enabled); }

void MainController::passwordAccepted() {
    // Logged in to see the volumes: the settings may be applied now. (Only
    // a settings change keeps Apply off until its answer.)
    if (m_calledAction == Action::ListVolumes) setBtnApply(true);
}

void MainController::checkAuthFail() {
    setBtnApply(true);
    setIPEditEnable(true);
    displayAlertMessage(Alert::WrongPassword);
}

void MainController::setIPFinish() {
    const bool refused = m_packager && m_packager->lastSetLanReturnCode.value_or(1) != 1;
    if (m_calledAction == Action::Apply && refused) {
        // Refused: nothing changed on the box, and the record never took
        // the change; the typed texts stay for another try.
        m_calledAction_sub = SubAction::Static;
        setBtnApply(true);
        setIPEditable();
        m_toolkit.runAlert(m_toolkit.localizedString(kSettingsRefusedText));
    } else if (m_calledAction == Action::Apply) {
        const auto answered = m_loop.now();
        const bool dhcp = m_calledAction_sub == SubAction::Dhcp;
        if (dhcp) {
            m_toolkit.sleepMainThread(3s);
            m_calledAction_sub = SubAction::Static;
        } else {
            m_toolkit.sleepMainThread(2s);
        }
        cleanTable(1);
        cleanDeviceInfo();
        cleanTable(2);
        setBtnApply(true);
        m_packager->sendPackage(op_SEARCH, nullptr);
        m_toolkit.reloadData(Table::Device);
        if (m_pendingChange) {
            const PortBlock& block = m_pendingChange->port[m_pendingChange->ifEdited == 1 ? 1 : 0];
            std::optional<std::uint32_t> asked;
            if (!dhcp && block.IP.address()) asked = block.IP.address()->hostOrder;
            followMovedDevice(*m_pendingChange, asked, answered);
        }
    }
    m_pendingChange.reset();
    m_calledAction = Action::None;
}

void MainController::followMovedDevice(const DeviceData_n& box, std::optional<std::uint32_t> asked,
                                       RunLoop::Clock::time_point answered) {
    stopFollowing();
    m_followUp = FollowUp{box.serverUUID, box.hostname.str(), asked, answered + kFollowUpLimit, 0};
    // Each look comes once the search before it has had its answers.
    m_followUp->timer = m_loop.startTimer(kFollowUpTick, true, [this] { checkMovedDevice(); });
}

void MainController::stopFollowing() {
    if (m_followUp && m_followUp->timer != 0) m_loop.cancelTimer(m_followUp->timer);
    m_followUp.reset();
}

void MainController::checkMovedDevice() {
    if (!m_followUp || !m_packager) return;
    std::optional<std::uint32_t> at;
    if (const auto box = deviceWithId(m_followUp->id)) at = hostOrderOf(box->answeredFrom);
    const bool timeUp = m_loop.now() >= m_followUp->deadline;
    if (!at && !timeUp) {
        // Not heard yet: asked again at the address it was given, and
        // through the group.
        m_packager->sendPackage(op_SEARCH, nullptr);
        if (m_followUp->asked) m_packager->searchAddresses({*m_followUp->asked});
        return;
    }
    const FollowUp done = *m_followUp;
    stopFollowing();
    if (answersWhereSent(done.asked, at) || answersOnLoopback(at)) return;
    m_toolkit.runAlert(whereTheBoxAnswers(done.name, done.asked, at));
}

bool MainController::isCurrent(const RequestFor& request) {
    if (!request.device || request.action != m_calledAction) return false;
    const auto selected = selectedDevice();
    return selected && selected->serverUUID == request.device->serverUUID;
}

std::string MainController::boxPrefix(const RequestFor& request) const {
    if (!request.device) return {};
    const auto listed = deviceWithId(request.device->serverUUID);
    const DeviceData_n& box = listed ? *listed : *request.device;
    std::string address = box.port[0].IP.str();
    if (address.empty() && box.answeredFrom) address = box.answeredFrom->text();
    return box.hostname.str() + (address.empty() ? std::string() : " (" + address + ")") + ": ";
}

bool MainController::passwordAccepted(const RequestFor& request) {
    if (isCurrent(request)) {
        passwordAccepted();
        return true;
    }
    // The user has moved on: a confirmed settings change still goes to its
    // box; a share list would be of no use.
    return request.action == Action::Apply;
}

void MainController::passwordRefused(const RequestFor& request) {
    if (isCurrent(request)) {
        if (request.action == Action::Apply) m_pendingChange.reset();
        checkAuthFail();
        return;
    }
    if (request.action != Action::Apply) return;
    setBtnApply(true);
    m_toolkit.runAlert(boxPrefix(request) + m_toolkit.localizedString(alertText(static_cast<int>(Alert::WrongPassword))));
}

void MainController::settingsAnswered(const RequestFor& request, std::uint16_t retCode) {
    if (isCurrent(request)) {
        setIPFinish();
        return;
    }
    setBtnApply(true);
    if (retCode != 1) {
        m_toolkit.runAlert(boxPrefix(request) + m_toolkit.localizedString(kSettingsRefusedText));
        return;
    }
    // Accepted by a box the user has left: its record takes the settings;
    // what the user is on now stays as it is.
    if (const auto listed = request.device ? deviceWithId(request.device->serverUUID) : nullptr) {
        listed->port = request.device->port;
        listed->ifEdited = request.device->ifEdited;
        reloadDevices();
    }
}

bool MainController::sharesArrived(const RequestFor& request) { return isCurrent(request); }

void MainController::requestUnanswered(const RequestFor& request) {
    const bool current = isCurrent(request);
    if (!current && request.action != Action::Apply) return;  // a share list the user has left
    setBtnApply(true);
    if (!current) {
        m_toolkit.runAlert(boxPrefix(request) + m_toolkit.localizedString(kNoAnswerText));
        return;
    }
    if (request.action == Action::Apply) {
        m_pendingChange.reset();
        m_calledAction_sub = SubAction::Static;
    }
    setIPEditable();
    m_toolkit.runAlert(m_toolkit.localizedString(kNoAnswerText));
}

// ---- alerts -----------------------------------------------------------------

void MainController::displayAlertMessage(Alert alert) {
    const int code = static_cast<int>(alert);
    std::string message;
    if (alert == Alert::Locked) {
        const VolumeData* share = selectedShare();
        message = (share ? share->name : std::string()) + " " + m_toolkit.localizedString(alertText(code));
    } else if (code >= 1 && code <= 39) {
        message = m_toolkit.localizedString(alertText(code));
    }
    m_toolkit.runAlert(message);
}

}  // namespace qs::mac
