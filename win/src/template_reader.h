// Dialog templates as data: each numbered template (resources/dialogs/N.json)
// lists its controls by number, kind, rectangle in dialog units, text and
// style. Reading a template needs only Qt's core module, so the reader can
// be checked on its own, apart from the widgets made from it.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

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

// Parses a template from JSON text (used by the loader and by tests).
std::optional<DialogTemplate> parseDialogTemplate(const QByteArray& json, QString* error = nullptr);

// Dialog units to pixels with the base units of an 8-point Arial dialog
// font at 96 dpi: 6 pixels per 4 horizontal units, 14 pixels per 8 vertical.
QRect dluToPixels(const QRect& dlu);
QSize dluToPixels(const QSize& dlu);

}  // namespace qs::win
