// Dialog templates as data: each numbered template (resources/dialogs/N.json,
// embedded in the program) lists its controls by number, kind, rectangle in
// dialog units, text and style. One loader turns a template into Qt widgets
// on a dialog and lets code and tests find a control by its number.
#pragma once

#include <QMap>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <vector>

namespace qs::win {

// Control kinds a template may use.
//   "static"    QLabel (text)
//   "button"    QPushButton (style "hidden": created invisible)
//   "edit"      QLineEdit (style "password"; "limit": max characters)
//   "combo"     QComboBox, a drop-down list ("items": initial data)
//   "listview"  qs::skin::CSkinListCtrl
//   "ipaddress" CIPAddressCtrl
//   "icon"      QLabel showing icon 128
struct ControlSpec {
    int id = -1;  // -1 for unnumbered static texts
    QString kind;
    QRect rect;  // dialog units; a width or height of 0 means "as the text needs"
    QString text;
    QStringList items;
    QStringList style;
    int limit = 0;
};

struct DialogTemplate {
    int id = 0;
    QString caption;
    QString font = QStringLiteral("Arial");
    int pointSize = 8;
    QSize size;  // dialog units
    QStringList style;
    std::vector<ControlSpec> controls;
};

// Reads template `id` from the embedded resources (":/dialogs/ID.json").
// Nothing, with the reason in `error`, when it is missing or malformed.
std::optional<DialogTemplate> loadDialogTemplate(int id, QString* error = nullptr);
// Parses a template from JSON text (used by the loader and by tests).
std::optional<DialogTemplate> parseDialogTemplate(const QByteArray& json, QString* error = nullptr);

// Dialog units to pixels with the base units of an 8-point Arial dialog
// font at 96 dpi: 6 pixels per 4 horizontal units, 14 pixels per 8 vertical.
QRect dluToPixels(const QRect& dlu);
QSize dluToPixels(const QSize& dlu);

// The widgets made for a template, by control number.
class DialogControls {
public:
    QWidget* control(int id) const { return byId_.value(id, nullptr); }
    template <typename T>
    T* get(int id) const {
        return qobject_cast<T*>(control(id));
    }
    void add(int id, QWidget* w) { byId_.insert(id, w); }
    // Replaces the widget registered under id (after a take-over).
    void replace(int id, QWidget* w) { byId_.insert(id, w); }
    QList<int> ids() const { return byId_.keys(); }
    // Unnumbered static texts, in template order.
    QList<QWidget*> statics;

private:
    QMap<int, QWidget*> byId_;
};

// Creates the template's controls on `dialog` and sizes the dialog to the
// template. Controls are created in template order (which is the tab
// order).
DialogControls buildDialog(QWidget* dialog, const DialogTemplate& t);

}  // namespace qs::win
