#include "table_controls.h"

#include "main_controller.h"
#include "quayside/neighbours.h"

namespace qs::mac {

namespace {

const std::vector<std::string> kDeviceColumns = {"ColumnName", "ColumnIP", "ColumnNetmask", "ColumnGateway"};
const std::vector<std::string> kVolumeColumns = {"ColumnVolumeName"};

}  // namespace

int DeviceTableControl::numberOfRowsInTableView() const {
    if (!mainCtl->hasPackager()) return 0;
    return static_cast<int>(mainCtl->packager().serverArray().size());
}

std::string DeviceTableControl::objectValue(const std::string& columnIdentifier, int row) const {
    if (!mainCtl->hasPackager()) return {};
    const auto& devices = mainCtl->packager().serverArray();
    if (row < 0 || static_cast<std::size_t>(row) >= devices.size() || !devices[static_cast<std::size_t>(row)])
        return {};
    const DeviceData_n& device = *devices[static_cast<std::size_t>(row)];
    if (columnIdentifier == "ColumnName") return device.hostname.str();
    if (columnIdentifier == "ColumnIP") return device.port[0].IP.str();
    if (columnIdentifier == "ColumnNetmask") return device.port[0].netmask.str();
    if (columnIdentifier == "ColumnGateway") return device.port[0].gateway.str();
    return {};
}

const std::vector<std::string>& DeviceTableControl::columnIdentifiers() const { return kDeviceColumns; }

std::string DeviceTableControl::toolTip(int row) const {
    if (!mainCtl->hasPackager()) return {};
    const auto& devices = mainCtl->packager().serverArray();
    if (row < 0 || static_cast<std::size_t>(row) >= devices.size() || !devices[static_cast<std::size_t>(row)])
        return {};
    const DeviceData_n& device = *devices[static_cast<std::size_t>(row)];
    // Answers arrive one by one here: the table is read when the tooltip is
    // asked for, not for every answer.
    auto hardware = device.hardware;
    if (!hardware && device.answeredFrom) hardware = hardwareAddressOf(device.answeredFrom->hostOrder);
    return hardware ? "Hardware address: " + formatHardwareAddress(*hardware) : std::string();
}

int VolumeTableControl::numberOfRowsInTableView() const {
    if (!mainCtl->hasPackager()) return 0;
    return static_cast<int>(mainCtl->packager().volumeArray().size());
}

std::string VolumeTableControl::objectValue(const std::string& columnIdentifier, int row) const {
    if (!mainCtl->hasPackager()) return {};
    const auto& shares = mainCtl->packager().volumeArray();
    if (row < 0 || static_cast<std::size_t>(row) >= shares.size()) return {};
    if (columnIdentifier == "ColumnVolumeName") return shares[static_cast<std::size_t>(row)].name;
    return {};
}

const std::vector<std::string>& VolumeTableControl::columnIdentifiers() const { return kVolumeColumns; }

}  // namespace qs::mac
