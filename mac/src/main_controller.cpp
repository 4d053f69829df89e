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
    : loop_(loop), toolkit_(toolkit), options_(std::move(options)) {}

MainController::~MainController() {
    if (deviceReload_) loop_.cancelTimer(deviceReload_);
    stopFollowing();
    if (m_queryLanInfoTmrLock) {
        std::lock_guard<Lock> held(*m_queryLanInfoTmrLock);
        stopLanInfoTimer();
    }
    m_queryLanInfoTmrLock.reset();
    packager_.reset();
}

void MainController::awakeFromNib() {
    packager_ = std::make_unique<Packager>(loop_, options_.port, options_.group, this, options_.packager);
    packager_->sendPackage(op_SEARCH, nullptr);
    toolkit_.sleepMainThread(30ms);
    noPassword_ = true;

    m_arrInterface[0] = {"LAN"};
    m_arrInterface[1] = {"LAN1+LAN2 Round Robin",
                         "LAN1+LAN2 Active Backup",
                         "LAN1+LAN2 Balace-XOR",
                         "LAN1+LAN2 Broadcast",
                         "LAN1+LAN2 802.3ad",
                         "LAN1+LAN2 Adaptive Transmit Load Balancing",
                         "LAN1+LAN2 Adaptive Load Balancing"};
    m_arrInterface[3] = {"LAN1", "LAN2"};

    m_queryLanInfoTmrLock = toolkit_.newLock();
    m_queryLanInfoTmr = 0;
    m_queryLanInfoCounter = 0;
}

// ---- tables ---------------------------------------------------------------

std::shared_ptr<DeviceData_n> MainController::deviceAt(int row) const {
    if (!packager_ || row < 0) return nullptr;
    const auto& devices = packager_->serverArray();
    if (static_cast<std::size_t>(row) >= devices.size()) return nullptr;
    return devices[static_cast<std::size_t>(row)];
}

std::shared_ptr<DeviceData_n> MainController::deviceWithId(const Uuid8& id) const {
    if (!packager_) return nullptr;
    for (const auto& d : packager_->serverArray())
        if (d->serverUUID == id) return d;
    return nullptr;
}

std::shared_ptr<DeviceData_n> MainController::selectedDevice() {
    const int row = toolkit_.selectedRow(Table::Device);
    if (row < 0) return nullptr;
    return selectedBox_ ? deviceWithId(*selectedBox_) : deviceAt(row);
}

void MainController::reloadDevices() {
    toolkit_.reloadData(Table::Device);
    if (!selectedBox_ || !packager_) return;
    // Sorting moves rows: the selection follows the box, not the row.
    const auto& devices = packager_->serverArray();
    int row = -1;
    for (std::size_t i = 0; i < devices.size() && row < 0; ++i)
        if (devices[i]->serverUUID == *selectedBox_) row = static_cast<int>(i);
    toolkit_.selectRow(Table::Device, row);
}

void MainController::reloadTable(RunLoopTable table) {
    if (table != RunLoopTable::Devices) {
        toolkit_.reloadData(Table::Volume);
        return;
    }
    constexpr auto kDeviceReloadEvery = std::chrono::milliseconds(250);
    if (deviceReload_) return;  // one is due
    const auto since = std::chrono::steady_clock::now() - lastDeviceReload_;
    const auto reload = [this] {
        deviceReload_ = 0;
        lastDeviceReload_ = std::chrono::steady_clock::now();
        reloadDevices();
    };
    if (since >= kDeviceReloadEvery)
        reload();
    else
        deviceReload_ = loop_.startTimer(
            std::chrono::ceil<std::chrono::milliseconds>(kDeviceReloadEvery - since), false, reload);
}

void MainController::cleanTable(int which) {
    if (!packager_) return;
    if (which == 0 || which == 1) {
        packager_->serverArray().clear();
        selectedBox_.reset();
        toolkit_.reloadData(Table::Device);
    }
    if (which == 0 || which == 2) {
        packager_->volumeArray().clear();
        toolkit_.reloadData(Table::Volume);
    }
}

void MainController::tblDeviceChanged() {
    const int row = toolkit_.selectedRow(Table::Device);
    const auto record = deviceAt(row);
    if (!record) {
        const int column = toolkit_.clickedColumn(Table::Device);
        if (column >= 0 && packager_) {
            packager_->sortDeviceData(column, true);
            reloadDevices();
        }
        return;
    }
    selectedBox_ = record->serverUUID;
    packager_->sendPackage(kLegacyItemQuery, kLanInformationItem, *record);
    {
        std::lock_guard<Lock> held(*m_queryLanInfoTmrLock);
        m_queryLanInfoCounter = 0;
        m_nSelectedRow = row;
        stopLanInfoTimer();
        m_queryLanInfoTmr = loop_.startTimer(kLanInfoDelay, true, [this] { checkQueryLanInfoStatus(); });
    }
    toolkit_.removeAllItems(Combo::Interface);
}

void MainController::stopLanInfoTimer() {
    if (m_queryLanInfoTmr != 0) loop_.cancelTimer(m_queryLanInfoTmr);
    m_queryLanInfoTmr = 0;
}

void MainController::checkQueryLanInfoStatus() {
    ++m_queryLanInfoCounter;
    const auto record = selectedBox_ ? deviceWithId(*selectedBox_) : deviceAt(m_nSelectedRow);
    {
        std::lock_guard<Lock> held(*m_queryLanInfoTmrLock);
        stopLanInfoTimer();
    }
    // The list was searched again meanwhile: the box is gone.
    if (!record) return;
    fillDeviceInfo(record, true);
    cleanTable(2);
    calledAction_ = Action::ListVolumes;
    openLoginSheet();
}

void MainController::tblVolumeChanged() {
    const VolumeData* share = selectedShare();
    if (!share) return;
    if (share->isLocked) {
        displayAlertMessage(Alert::Locked);
        toolkit_.setEnabled(Button::Connect, false);
        toolkit_.setEnabled(Button::Disconnect, false);
        return;
    }
    toolkit_.setEnabled(Button::Connect, true);
    toolkit_.setEnabled(Button::Disconnect, true);
}

// ---- the shown record -------------------------------------------------------

int MainController::getIPCombo() { return toolkit_.indexOfSelectedItem(Combo::DHCP); }
int MainController::getIFCombo() { return toolkit_.indexOfSelectedItem(Combo::Interface); }
std::string MainController::getIP() { return toolkit_.stringValue(Field::IP); }
std::string MainController::getNetmask() { return toolkit_.stringValue(Field::Netmask); }
std::string MainController::getGateway() { return toolkit_.stringValue(Field::Gateway); }

void MainController::setIPEditEnable(bool enabled) {
    const Colour colour = enabled ? kBlackText : kGreyText;
    for (Field field : {Field::IP, Field::Netmask, Field::Gateway}) {
        toolkit_.setEditable(field, enabled);
        toolkit_.setTextColour(field, colour);
    }
    toolkit_.setTextColour(Combo::Interface, colour);
}

void MainController::setIPEditable() { setIPEditEnable(getIPCombo() != 0); }

void MainController::cleanDeviceInfo() {
    setIPEditEnable(true);
    for (Field field : {Field::IP, Field::Netmask, Field::Gateway}) toolkit_.setStringValue(field, {});
    toolkit_.removeAllItems(Combo::Interface);
    toolkit_.setText(Combo::Interface, {});
}

void MainController::showPort(const DeviceData_n& record, int port) {
    const PortBlock& block = record.port[port == 0 ? 0 : 1];
    toolkit_.setStringValue(Field::IP, block.IP.str());
    toolkit_.setStringValue(Field::Netmask, block.netmask.str());
    toolkit_.setStringValue(Field::Gateway, block.gateway.str());
}

void MainController::fillDeviceInfo(std::shared_ptr<DeviceData_n> record, bool setDhcpChoice) {
    toolkit_.removeAllItems(Combo::Interface);
    toolkit_.setEnabled(Combo::Interface, false);
    tmpDeviceData_ = record;
    if (!record) return;

    if (record->ifCount == 2) {
        toolkit_.addItems(Combo::Interface, m_arrInterface[3]);
        toolkit_.setEnabled(Combo::Interface, true);
    } else if (record->bondingEnable) {
        toolkit_.addItems(Combo::Interface, m_arrInterface[1]);
        toolkit_.selectItem(Combo::Interface, record->bondingMode);
    } else {
        toolkit_.addItems(Combo::Interface, m_arrInterface[0]);
    }

    // A bond is one interface: its settings are those of port 0, whichever
    // interface answered, and the choice keeps showing the bonding mode.
    const bool bond = record->ifCount != 2 && record->bondingEnable;
    bool dhcp;
    if (record->nSendIF != 0 && !bond) {
        showPort(*record, 1);
        toolkit_.selectItem(Combo::Interface, 1);
        dhcp = record->port[1].dhcpEnable;
    } else {
        showPort(*record, 0);
        dhcp = record->port[0].dhcpEnable;
        if (!record->bondingEnable) toolkit_.selectItem(Combo::Interface, 0);
    }

    if (setDhcpChoice) {
        toolkit_.selectItem(Combo::DHCP, dhcp ? 0 : 1);
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
    toolkit_.selectItem(Combo::DHCP, dhcp ? 0 : 1);
    setIPEditEnable(!dhcp);
}

void MainController::cmbDHCPChanged() {
    const int index = getIPCombo();
    if (index == 0) setIPEditEnable(false);
    else if (index == 1) setIPEditEnable(true);
}

// ---- buttons ----------------------------------------------------------------

void MainController::btnRefreashPressed() {
    if (!packager_) return;
    if (packager_->net()) packager_->net()->reopenSocket();
    cleanTable(0);
    cleanDeviceInfo();
    packager_->sendPackage(op_SEARCH, nullptr);
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
    toolkit_.openURL(url, [this, url](bool opened) {
        if (!opened)
            toolkit_.runAlert(toolkit_.localizedString("No web browser could be started.") + "\nOpen " + url +
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
    pendingChange_.reset();
    // Apply pressed before the login sheet of a click has shown a record:
    // the selected box's record is the one being edited.
    if (!tmpDeviceData_ || tmpDeviceData_->serverUUID != record->serverUUID) tmpDeviceData_ = record;
    // The change is made on a copy: the record keeps what the box has
    // until the box accepts it.
    auto edited = std::make_shared<DeviceData_n>(*tmpDeviceData_);
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
            const AddressChangeCheck check = options_.checkAddress(*tmpDeviceData_, secondPort ? 1 : 0, *target);
            if (check.stops() && !toolkit_.runConfirm(check.text + "\n" + toolkit_.localizedString("Change it anyway?"))) {
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
        calledAction_sub_ = SubAction::Dhcp;
        block.dhcpEnable = true;
        block.dhcpText = "1";
    }
    edited->ifEdited = secondPort ? 1 : 0;
    calledAction_ = Action::Apply;
    pendingChange_ = std::move(edited);
    openLoginSheet();
}

void MainController::btnExitPressed() { toolkit_.terminate(); }
void MainController::windowWillClose() { toolkit_.terminate(); }
void MainController::btnAboutPressed() { toolkit_.orderFrontStandardAboutPanel(); }

// ---- login sheet ------------------------------------------------------------

void MainController::processPackageReturn(int value) {
    if (value == 1) openLoginSheet();
}

void MainController::openLoginSheet() {
    toolkit_.setStringValue(Field::UserName, calledAction_ == Action::Mount ? std::string() : std::string("admin"));
    // No password is carried over from an earlier sheet.
    toolkit_.setStringValue(Field::Password, {});
    sheetOpen_ = true;
    toolkit_.beginSheet();
}

void MainController::closeLoginSheet() {
    sheetOpen_ = false;
    toolkit_.endSheet();
}

std::shared_ptr<DeviceData_n> MainController::tmpDeviceData() {
    return calledAction_ == Action::Apply && pendingChange_ ? pendingChange_ : tmpDeviceData_;
}

void MainController::btnOKPressed() {
    const std::string password = toolkit_.stringValue(Field::Password);
    if (tmpDeviceData_) tmpDeviceData_->password = password;
    if (pendingChange_) pendingChange_->password = password;
    if (toolkit_.stringValue(Field::UserName).empty()) {
        displayAlertMessage(Alert::UserNameEmpty);
        return;
    }
    closeLoginSheet();
    switch (calledAction_) {
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
    if (calledAction_ == Action::Apply) pendingChange_.reset();
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
    noPassword_ = false;
    // An Apply's check goes with the edited copy: the settings that follow
    // an accepted password are those the user confirmed.
    const bool change = calledAction_ == Action::Apply && pendingChange_ &&
                        pendingChange_->serverUUID == record->serverUUID;
    packager_->sendPackage(op_CHK_PASSWD, change ? pendingChange_.get() : record.get());
}

// ---- engine callbacks -------------------------------------------------------

void MainController::setBtnApply(bool enabled) { toolkit_.setEnabled(Button::Apply, enabled); }

void MainController::passwordAccepted() {
    // Logged in to see the volumes: the settings may be applied now. (Only
    // a settings change keeps Apply off until its answer.)
    if (calledAction_ == Action::ListVolumes) setBtnApply(true);
}

void MainController::checkAuthFail() {
    setBtnApply(true);
    setIPEditEnable(true);
    displayAlertMessage(Alert::WrongPassword);
}

void MainController::setIPFinish() {
    const bool refused = packager_ && packager_->lastSetLanReturnCode.value_or(1) != 1;
    if (calledAction_ == Action::Apply && refused) {
        // Refused: nothing changed on the box, and the record never took
        // the change; the typed texts stay for another try.
        calledAction_sub_ = SubAction::Static;
        setBtnApply(true);
        setIPEditable();
        toolkit_.runAlert(toolkit_.localizedString(kSettingsRefusedText));
    } else if (calledAction_ == Action::Apply) {
        const auto answered = loop_.now();
        const bool dhcp = calledAction_sub_ == SubAction::Dhcp;
        if (dhcp) {
            toolkit_.sleepMainThread(3s);
            calledAction_sub_ = SubAction::Static;
        } else {
            toolkit_.sleepMainThread(2s);
        }
        cleanTable(1);
        cleanDeviceInfo();
        cleanTable(2);
        setBtnApply(true);
        packager_->sendPackage(op_SEARCH, nullptr);
        toolkit_.reloadData(Table::Device);
        if (pendingChange_) {
            const PortBlock& block = pendingChange_->port[pendingChange_->ifEdited == 1 ? 1 : 0];
            followMovedDevice(*pendingChange_, dhcp ? std::nullopt : parseDottedIPv4(block.IP.view()), answered);
        }
    }
    pendingChange_.reset();
    calledAction_ = Action::None;
}

void MainController::followMovedDevice(const DeviceData_n& box, std::optional<std::uint32_t> asked,
                                       RunLoop::Clock::time_point answered) {
    stopFollowing();
    followUp_ = FollowUp{box.serverUUID, box.hostname.str(), asked, answered + kFollowUpLimit, 0};
    // Each look comes once the search before it has had its answers.
    followUp_->timer = loop_.startTimer(kFollowUpTick, true, [this] { checkMovedDevice(); });
}

void MainController::stopFollowing() {
    if (followUp_ && followUp_->timer != 0) loop_.cancelTimer(followUp_->timer);
    followUp_.reset();
}

void MainController::checkMovedDevice() {
    if (!followUp_ || !packager_) return;
    std::optional<std::uint32_t> at;
    if (const auto box = deviceWithId(followUp_->id)) at = hostOrderOf(box->answeredFrom);
    const bool timeUp = loop_.now() >= followUp_->deadline;
    if (!at && !timeUp) {
        // Not heard yet: asked again at the address it was given, and
        // through the group.
        packager_->sendPackage(op_SEARCH, nullptr);
        if (followUp_->asked) packager_->searchAddresses({*followUp_->asked});
        return;
    }
    const FollowUp done = *followUp_;
    stopFollowing();
    if (answersWhereSent(done.asked, at) || answersOnLoopback(at)) return;
    toolkit_.runAlert(whereTheBoxAnswers(done.name, done.asked, at));
}

bool MainController::isCurrent(const RequestFor& request) {
    if (!request.device || request.action != calledAction_) return false;
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
        if (request.action == Action::Apply) pendingChange_.reset();
        checkAuthFail();
        return;
    }
    if (request.action != Action::Apply) return;
    setBtnApply(true);
    toolkit_.runAlert(boxPrefix(request) + toolkit_.localizedString(alertText(static_cast<int>(Alert::WrongPassword))));
}

void MainController::settingsAnswered(const RequestFor& request, std::uint16_t retCode) {
    if (isCurrent(request)) {
        setIPFinish();
        return;
    }
    setBtnApply(true);
    if (retCode != 1) {
        toolkit_.runAlert(boxPrefix(request) + toolkit_.localizedString(kSettingsRefusedText));
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
        toolkit_.runAlert(boxPrefix(request) + toolkit_.localizedString(kNoAnswerText));
        return;
    }
    if (request.action == Action::Apply) {
        pendingChange_.reset();
        calledAction_sub_ = SubAction::Static;
    }
    setIPEditable();
    toolkit_.runAlert(toolkit_.localizedString(kNoAnswerText));
}

// ---- alerts -----------------------------------------------------------------

void MainController::displayAlertMessage(Alert alert) {
    const int code = static_cast<int>(alert);
    std::string message;
    if (alert == Alert::Locked) {
        const VolumeData* share = selectedShare();
        message = (share ? share->name : std::string()) + " " + toolkit_.localizedString(alertText(code));
    } else if (code >= 1 && code <= 39) {
        message = toolkit_.localizedString(alertText(code));
    }
    toolkit_.runAlert(message);
}

}  // namespace qs::mac
