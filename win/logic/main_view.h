// What quayside-win's main controller needs of its window, and nothing
// more: the device and volume lists, the three combo boxes, the three
// address fields, the Refresh button, message boxes, the login and
// letter-in-use dialogs, the wait cursor, a wait that keeps the window
// painted, and a way back onto the window's thread. The program supplies
// the skinned Qt dialog; tests may supply their own.
#pragma once

#include "login_cache.h"
#include "messages.h"

#include <array>
#include <functional>
#include <optional>
#include <string>

namespace qs::win {

enum class List { Device, Volume };
enum class Combo { Port, Dhcp, DriveLetter };
enum class AddressField { IP, Netmask, Gateway };

// What the login dialog is asked for; the values are the process-wide
// switch's.
enum class LoginPurpose { ShareAccess = 0, Configuration = 1 };

// The answer to the letter-in-use question: OK uses the letter anyway.
enum class MountAnswer { Cancel = 0, UseLetter = 1 };

// The four numbers of an address field, first number first.
using Octets = std::array<int, 4>;

// An address field as read: empty parts read as 0.
struct AddressValue {
    bool blank = true;
    Octets octets{0, 0, 0, 0};
};

struct LoginCredentials {
    std::string user;
    std::string password;
};

class MainView {
public:
    virtual ~MainView() = default;

    // The lists. Texts are UTF-8; a device row keeps its device's identity.
    virtual int rowCount(List list) = 0;
    virtual int topRow(List list) = 0;  // the top visible row
    virtual bool rowSelected(List list, int row) = 0;
    virtual std::string cellText(List list, int row, int column) = 0;
    virtual std::optional<Uuid8> deviceId(int row) = 0;
    virtual void clearRows(List list) = 0;
    // Inserts a row at `at` with its first column; returns its index.
    virtual int insertRow(List list, int at, const std::string& text) = 0;
    virtual void setCellText(List list, int row, int column, const std::string& text) = 0;
    virtual void setDeviceId(int row, const Uuid8& id) = 0;
    // The tooltip of a device row (empty: none).
    virtual void setDeviceToolTip(int row, const std::string& text) = 0;
    virtual void redraw(List list) = 0;
    virtual void focusDeviceList() = 0;

    // The combo boxes; index -1 is no selection.
    virtual void clearItems(Combo combo) = 0;
    virtual void addItem(Combo combo, const std::string& text) = 0;
    virtual int currentIndex(Combo combo) = 0;
    virtual std::string currentText(Combo combo) = 0;
    virtual void setCurrentIndex(Combo combo, int index) = 0;
    virtual int findItem(Combo combo, const std::string& text) = 0;  // -1: none
    virtual void setEnabled(Combo combo, bool enabled) = 0;

    // The address fields.
    virtual AddressValue address(AddressField field) = 0;
    virtual std::string addressText(AddressField field) = 0;
    virtual void setAddress(AddressField field, const std::string& dotted) = 0;
    virtual void clearAddress(AddressField field) = 0;
    virtual void setEnabled(AddressField field, bool enabled) = 0;
    virtual void focusFirstPart(AddressField field) = 0;

    virtual void setRefreshEnabled(bool enabled) = 0;

    // A modal message box with one OK button.
    virtual void showMessage(const Notice& notice) = 0;
    // The same box with OK and Cancel (Cancel the default): true for OK.
    virtual bool confirm(const Notice& notice) = 0;
    // The modal login dialog: the typed credentials, or nothing when it
    // was cancelled.
    virtual std::optional<LoginCredentials> askLogin(LoginPurpose purpose, const VersionQuery& versions) = 0;
    // The modal question before a letter in use is used again.
    virtual MountAnswer askLetterInUse() = 0;

    // The wait cursor, nested.
    virtual void setBusy(bool busy) = 0;
    // Waits, painting, without taking the user's input, until the time is
    // up or `until` (asked now and then) says so.
    virtual void pause(int milliseconds, const std::function<bool()>& until) = 0;
    // Runs `work` later on the window's thread; callable from any thread,
    // and nothing runs once the window is gone.
    virtual void post(std::function<void()> work) = 0;
};

}  // namespace qs::win
