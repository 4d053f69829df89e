// quayside-win's main window kept in memory, for the controller's tests
// without Qt: two lists, three combo boxes, three address fields, the
// messages shown, scripted answers to the login and letter-in-use questions
// and the work posted for the window's thread (run when the test says so).
#pragma once

#include "main_view.h"
#include "quayside/address.h"

#include <array>
#include <deque>
#include <map>
#include <set>
#include <vector>

namespace qs::win::test {

class FakeMainView final : public MainView {
public:
    struct ListState {
        std::vector<std::vector<std::string>> rows;
        std::set<int> selected;
        int top = 0;
    };
    struct ComboState {
        std::vector<std::string> items;
        int index = -1;
        bool enabled = true;
    };
    std::array<ListState, 2> lists;
    std::vector<std::optional<Uuid8>> deviceIds;
    std::array<ComboState, 3> combos;
    std::array<std::string, 3> addresses;
    std::vector<Notice> messages;
    // The answers to the next letter-in-use questions (Cancel when none is
    // left) and how often it was asked.
    std::deque<MountAnswer> letterAnswers;
    int letterQuestions = 0;
    std::deque<std::function<void()>> posted;
    int busy = 0;

    ListState& list(List l) { return lists[static_cast<std::size_t>(l)]; }
    ComboState& combo(Combo c) { return combos[static_cast<std::size_t>(c)]; }
    // Selects the combo item that starts with `prefix`; false when none does.
    bool selectItem(Combo c, const std::string& prefix) {
        ComboState& s = combo(c);
        for (std::size_t i = 0; i < s.items.size(); ++i)
            if (s.items[i].rfind(prefix, 0) == 0) {
                s.index = static_cast<int>(i);
                return true;
            }
        return false;
    }
    // Runs what was posted for the window's thread.
    void runPosted() {
        while (!posted.empty()) {
            auto work = std::move(posted.front());
            posted.pop_front();
            work();
        }
    }

    int rowCount(List l) override { return static_cast<int>(list(l).rows.size()); }
    int topRow(List l) override { return list(l).top; }
    bool rowSelected(List l, int row) override { return list(l).selected.count(row) != 0; }
    std::string cellText(List l, int row, int column) override {
        const auto& rows = list(l).rows;
        if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return {};
        const auto& cells = rows[static_cast<std::size_t>(row)];
        return static_cast<std::size_t>(column) < cells.size() ? cells[static_cast<std::size_t>(column)] : std::string();
    }
    std::optional<Uuid8> deviceId(int row) override {
        return static_cast<std::size_t>(row) < deviceIds.size() ? deviceIds[static_cast<std::size_t>(row)]
                                                               : std::nullopt;
    }
    void clearRows(List l) override {
        list(l) = ListState{};
        if (l == List::Device) deviceIds.clear();
    }
    int insertRow(List l, int at, const std::string& text) override {
        auto& rows = list(l).rows;
        at = std::clamp(at, 0, static_cast<int>(rows.size()));
        rows.insert(rows.begin() + at, std::vector<std::string>{text});
        if (l == List::Device) deviceIds.insert(deviceIds.begin() + at, std::nullopt);
        return at;
    }
    void setCellText(List l, int row, int column, const std::string& text) override {
        auto& cells = list(l).rows.at(static_cast<std::size_t>(row));
        if (cells.size() <= static_cast<std::size_t>(column)) cells.resize(static_cast<std::size_t>(column) + 1);
        cells[static_cast<std::size_t>(column)] = text;
    }
    void setDeviceId(int row, const Uuid8& id) override { deviceIds.at(static_cast<std::size_t>(row)) = id; }
    std::map<int, std::string> deviceToolTips;
    void setDeviceToolTip(int row, const std::string& text) override { deviceToolTips[row] = text; }
    void redraw(List) override {}
    void focusDeviceList() override {}

    void clearItems(Combo c) override { combo(c) = ComboState{{}, -1, combo(c).enabled}; }
    void addItem(Combo c, const std::string& text) override {
        combo(c).items.push_back(text);
        // A drop-down list selects its first item when it gets one.
        if (combo(c).index < 0 && combo(c).items.size() == 1) combo(c).index = 0;
    }
    int currentIndex(Combo c) override { return combo(c).index; }
    std::string currentText(Combo c) override {
        const ComboState& s = combo(c);
        return s.index >= 0 ? s.items.at(static_cast<std::size_t>(s.index)) : std::string();
    }
    void setCurrentIndex(Combo c, int index) override {
        combo(c).index = index >= 0 && static_cast<std::size_t>(index) < combo(c).items.size() ? index : -1;
    }
    int findItem(Combo c, const std::string& text) override {
        const auto& items = combo(c).items;
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i] == text) return static_cast<int>(i);
        return -1;
    }
    void setEnabled(Combo c, bool enabled) override { combo(c).enabled = enabled; }

    // A field's value from its text: blank when empty, else its four numbers
    // (a text that is no dotted address reads as 0.0.0.0).
    AddressValue address(AddressField f) override {
        const std::string& text = addresses[static_cast<std::size_t>(f)];
        AddressValue v;
        v.blank = text.empty();
        if (const auto a = parseDottedIPv4(text))
            for (int i = 0; i < 4; ++i) v.octets[static_cast<std::size_t>(i)] = static_cast<int>((*a >> (24 - 8 * i)) & 0xFF);
        return v;
    }
    std::string addressText(AddressField f) override { return addresses[static_cast<std::size_t>(f)]; }
    void setAddress(AddressField f, const std::string& dotted) override {
        addresses[static_cast<std::size_t>(f)] = dotted;
    }
    void clearAddress(AddressField f) override { addresses[static_cast<std::size_t>(f)].clear(); }
    std::array<bool, 3> fieldsEnabled{true, true, true};
    bool enabled(AddressField f) const { return fieldsEnabled[static_cast<std::size_t>(f)]; }
    void setEnabled(AddressField f, bool enabled) override { fieldsEnabled[static_cast<std::size_t>(f)] = enabled; }
    void focusFirstPart(AddressField) override {}
    void setRefreshEnabled(bool) override {}

    void showMessage(const Notice& notice) override { messages.push_back(notice); }
    // Questions are recorded among the messages and answered `confirmAnswer`.
    bool confirmAnswer = false;
    bool confirm(const Notice& notice) override {
        messages.push_back(notice);
        return confirmAnswer;
    }
    // Every login is answered `loginAnswer` (none: cancelled); what each was
    // for is kept.
    std::optional<LoginCredentials> loginAnswer;
    std::vector<LoginPurpose> logins;
    std::optional<LoginCredentials> askLogin(LoginPurpose purpose, const VersionQuery&) override {
        logins.push_back(purpose);
        return loginAnswer;
    }
    MountAnswer askLetterInUse() override {
        ++letterQuestions;
        if (letterAnswers.empty()) return MountAnswer::Cancel;
        const MountAnswer a = letterAnswers.front();
        letterAnswers.pop_front();
        return a;
    }
    void setBusy(bool b) override { busy += b ? 1 : -1; }
    void pause(int, const std::function<bool()>&) override {}
    void post(std::function<void()> work) override { posted.push_back(std::move(work)); }
};

}  // namespace qs::win::test
