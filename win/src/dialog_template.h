// Dialog templates on screen: the templates embedded in the program
// (resources/dialogs/N.json, read by template_reader.h) and one loader that
// turns a template into Qt widgets on a dialog and lets code and tests find
// a control by its number.
#pragma once

#include "template_reader.h"

#include <QMap>
#include <QWidget>

#include <optional>

namespace qs::win {

// Reads template `id` from the embedded resources (":/dialogs/ID.json").
// Nothing, with the reason in `error`, when it is missing or malformed.
std::optional<DialogTemplate> loadDialogTemplate(int id, QString* error = nullptr);

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
