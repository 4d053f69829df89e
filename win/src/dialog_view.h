// The main dialog's controls as the main controller sees them
// (MainView): the skinned lists, the combo boxes, the address fields, the
// message sink, the login and letter-in-use dialogs, the wait cursor.
#pragma once

#include "main_view.h"

namespace qs::win {

class CHarbor_scanDlg;

class DialogView final : public MainView {
public:
    explicit DialogView(CHarbor_scanDlg& dialog) : dialog_(dialog) {}

    int rowCount(List list) override;
    int topRow(List list) override;
    bool rowSelected(List list, int row) override;
    std::string cellText(List list, int row, int column) override;
    std::optional<Uuid8> deviceId(int row) override;
    void clearRows(List list) override;
    int insertRow(List list, int at, const std::string& text) override;
    void setCellText(List list, int row, int column, const std::string& text) override;
    void setDeviceId(int row, const Uuid8& id) override;
    void setDeviceToolTip(int row, const std::string& text) override;
    void redraw(List list) override;
    void focusDeviceList() override;

    void clearItems(Combo combo) override;
    void addItem(Combo combo, const std::string& text) override;
    int currentIndex(Combo combo) override;
    std::string currentText(Combo combo) override;
    void setCurrentIndex(Combo combo, int index) override;
    int findItem(Combo combo, const std::string& text) override;
    void setEnabled(Combo combo, bool enabled) override;

    AddressValue address(AddressField field) override;
    std::string addressText(AddressField field) override;
    void setAddress(AddressField field, const std::string& dotted) override;
    void clearAddress(AddressField field) override;
    void setEnabled(AddressField field, bool enabled) override;
    void focusFirstPart(AddressField field) override;

    void setRefreshEnabled(bool enabled) override;

    void showMessage(const Notice& notice) override;
    bool confirm(const Notice& notice) override;
    std::optional<LoginCredentials> askLogin(LoginPurpose purpose, const VersionQuery& versions) override;
    MountAnswer askLetterInUse() override;

    void setBusy(bool busy) override;
    void pause(int milliseconds, const std::function<bool()>& until) override;
    void post(std::function<void()> work) override;

private:
    CHarbor_scanDlg& dialog_;
};

}  // namespace qs::win
