// The data sources of the two tables: rows come from the protocol engine's
// device list and share list, cells by the column's identifier.
#pragma once

#include "toolkit.h"

#include <string>
#include <vector>

namespace qs::mac {

class MainController;

class TableDataSource {
public:
    virtual ~TableDataSource() = default;
    virtual int numberOfRowsInTableView() const = 0;
    virtual std::string objectValue(const std::string& columnIdentifier, int row) const = 0;
    // The identifiers of the table's columns, in their order.
    virtual const std::vector<std::string>& columnIdentifiers() const = 0;
    // The tooltip of a row; empty for none.
    virtual std::string toolTip(int row) const {
        (void)row;
        return {};
    }
};

class DeviceTableControl final : public TableDataSource {
public:
    explicit DeviceTableControl(MainController* mainCtl) : mainCtl(mainCtl) {}

    int numberOfRowsInTableView() const override;
    // "ColumnName" host name, "ColumnIP" address, "ColumnNetmask",
    // "ColumnGateway"; any other identifier an empty cell.
    std::string objectValue(const std::string& columnIdentifier, int row) const override;
    const std::vector<std::string>& columnIdentifiers() const override;
    // "Hardware address: aa:bb:cc:dd:ee:ff" when the neighbour table knows
    // the address the device answered from.
    std::string toolTip(int row) const override;

    MainController* mainCtl;
    Table deviceTable = Table::Device;  // the widget itself belongs to the window
};

class VolumeTableControl final : public TableDataSource {
public:
    explicit VolumeTableControl(MainController* mainCtl) : mainCtl(mainCtl) {}

    int numberOfRowsInTableView() const override;
    // "ColumnVolumeName" the share's name; any other an empty cell.
    std::string objectValue(const std::string& columnIdentifier, int row) const override;
    const std::vector<std::string>& columnIdentifiers() const override;

    MainController* mainCtl;
    Table volumeTable = Table::Volume;
};

}  // namespace qs::mac
