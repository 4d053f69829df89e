// A toolkit for quayside-mac's controller that keeps every widget's state
// in memory and records alerts, sheets, web addresses and sleeps (which it
// does not sleep), so controller flows run without any GUI.
#pragma once

#include "toolkit.h"

#include <array>
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace qs::test {

using mac::Button;
using mac::Colour;
using mac::Combo;
using mac::Field;
using mac::Table;

class FakeToolkit final : public mac::Toolkit {
public:
    struct ComboState {
        std::vector<std::string> items;
        int selected = -1;
        bool enabled = true;
        std::string text;
        Colour colour{0, 0, 0, 1};
    };
    struct FieldState {
        std::string text;
        bool editable = true;
        Colour colour{0, 0, 0, 1};
    };

    // Sheet.
    bool sheetOpen = false;
    int sheetsBegun = 0;
    void beginSheet() override {
        sheetOpen = true;
        ++sheetsBegun;
    }
    void endSheet() override { sheetOpen = false; }

    // Alerts, in order.
    std::vector<std::string> alerts;
    void runAlert(const std::string& message) override { alerts.push_back(message); }
    // Questions go among the alerts and are answered `confirmAnswer`.
    bool confirmAnswer = false;
    bool runConfirm(const std::string& message) override {
        alerts.push_back(message);
        return confirmAnswer;
    }

    // Tables: the selection and the clicked column are set by the test.
    std::array<int, 2> selected{-1, -1};
    std::array<int, 2> clicked{-1, -1};
    std::array<int, 2> reloads{0, 0};
    static std::size_t t(Table table) { return table == Table::Device ? 0 : 1; }
    void reloadData(Table table) override { ++reloads[t(table)]; }
    int selectedRow(Table table) override { return selected[t(table)]; }
    void selectRow(Table table, int row) override { selected[t(table)] = row; }
    int clickedColumn(Table table) override { return clicked[t(table)]; }

    // Combos.
    std::map<Combo, ComboState> combos{{Combo::DHCP, {{"DHCP", "Static"}, -1, true, {}, {}}},
                                       {Combo::Interface, {}}};
    void removeAllItems(Combo c) override {
        combos[c].items.clear();
        combos[c].selected = -1;
    }
    void addItems(Combo c, const std::vector<std::string>& items) override {
        auto& s = combos[c];
        s.items.insert(s.items.end(), items.begin(), items.end());
    }
    void selectItem(Combo c, int index) override {
        auto& s = combos[c];
        s.selected = index >= 0 && index < static_cast<int>(s.items.size()) ? index : -1;
    }
    int indexOfSelectedItem(Combo c) override { return combos[c].selected; }
    void setEnabled(Combo c, bool enabled) override { combos[c].enabled = enabled; }
    void setText(Combo c, const std::string& text) override { combos[c].text = text; }
    void setTextColour(Combo c, Colour colour) override { combos[c].colour = colour; }
    std::string selectedText(Combo c) {
        const auto& s = combos[c];
        return s.selected >= 0 ? s.items[static_cast<std::size_t>(s.selected)] : std::string();
    }

    // Text fields.
    std::map<Field, FieldState> fields;
    std::string stringValue(Field f) override { return fields[f].text; }
    void setStringValue(Field f, const std::string& text) override { fields[f].text = text; }
    void setEditable(Field f, bool editable) override { fields[f].editable = editable; }
    void setTextColour(Field f, Colour colour) override { fields[f].colour = colour; }

    // Buttons.
    std::map<Button, bool> buttons{{Button::Apply, true}, {Button::Connect, true}, {Button::Disconnect, true}};
    void setEnabled(Button b, bool enabled) override { buttons[b] = enabled; }

    std::vector<std::string> openedURLs;
    int aboutPanels = 0;
    int terminations = 0;
    std::vector<std::chrono::milliseconds> sleeps;
    std::map<std::string, std::string> translations;
    bool browserStarts = true;
    // The verdict at once.
    void openURL(const std::string& url, std::function<void(bool opened)> done) override {
        openedURLs.push_back(url);
        done(browserStarts);
    }
    void orderFrontStandardAboutPanel() override { ++aboutPanels; }
    void terminate() override { ++terminations; }
    std::string localizedString(const std::string& english) override {
        const auto it = translations.find(english);
        return it == translations.end() ? english : it->second;
    }
    void sleepMainThread(std::chrono::milliseconds duration) override { sleeps.push_back(duration); }
};

}  // namespace qs::test
