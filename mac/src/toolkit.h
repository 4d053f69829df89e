// What the main controller needs of a widget toolkit, and nothing more:
// the login sheet, one-button alerts, the two tables, the two combo boxes,
// the text fields, the three buttons, a lock, a web address for the browser,
// the about panel, terminate, string look-up and the main-thread sleep.
// Timers come from the run loop the protocol engine runs on. quayside-mac
// supplies a Qt implementation; tests supply their own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qs::mac {

enum class Field { IP, Netmask, Gateway, UserName, Password };
enum class Combo { DHCP, Interface };
enum class Table { Device, Volume };
enum class Button { Apply, Connect, Disconnect };

struct Colour {
    double red, green, blue, alpha;
    bool operator==(const Colour&) const = default;
};
inline constexpr Colour kBlackText{0, 0, 0, 1};
inline constexpr Colour kGreyText{0.5, 0.5, 0.5, 1};

class Lock {
public:
    virtual ~Lock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

class Toolkit {
public:
    virtual ~Toolkit() = default;

    // The login sheet on the main window (not blocking; its buttons call
    // the controller).
    virtual void beginSheet() = 0;
    virtual void endSheet() = 0;

    // A modal warning-style alert with one button titled "OK"; the message
    // is plain text, never markup.
    virtual void runAlert(const std::string& message) = 0;
    // The same alert with "OK" and "Cancel" (Cancel the default): true for
    // OK.
    virtual bool runConfirm(const std::string& message) = 0;

    virtual void reloadData(Table table) = 0;
    virtual int selectedRow(Table table) = 0;    // -1: none
    // Selects the row (-1: none) without it counting as the user's choice.
    virtual void selectRow(Table table, int row) = 0;
    virtual int clickedColumn(Table table) = 0;  // -1: the click was not on a column header

    virtual void removeAllItems(Combo combo) = 0;
    virtual void addItems(Combo combo, const std::vector<std::string>& items) = 0;
    virtual void selectItem(Combo combo, int index) = 0;
    virtual int indexOfSelectedItem(Combo combo) = 0;  // -1: none
    virtual void setEnabled(Combo combo, bool enabled) = 0;
    virtual void setText(Combo combo, const std::string& text) = 0;
    virtual void setTextColour(Combo combo, Colour colour) = 0;

    virtual std::string stringValue(Field field) = 0;
    virtual void setStringValue(Field field, const std::string& text) = 0;
    virtual void setEditable(Field field, bool editable) = 0;
    virtual void setTextColour(Field field, Colour colour) = 0;

    virtual void setEnabled(Button button, bool enabled) = 0;

    // A new lock; the default is a plain mutex.
    virtual std::unique_ptr<Lock> newLock();

    // Hands a web address to the desktop's opener. `done` hears, later and
    // on the main thread, whether it could be opened: false when nothing
    // could be started, or when the opener failed within its watch (as
    // xdg-open does when it finds no browser). Nothing is heard once the
    // toolkit is gone.
    virtual void openURL(const std::string& url, std::function<void(bool opened)> done) = 0;
    virtual void orderFrontStandardAboutPanel() = 0;
    virtual void terminate() = 0;
    // The localised form of an English text (the text itself when there is
    // no translation).
    virtual std::string localizedString(const std::string& english) = 0;
    // Blocks the main thread; replies that arrive meanwhile wait.
    virtual void sleepMainThread(std::chrono::milliseconds duration) = 0;
};

}  // namespace qs::mac
