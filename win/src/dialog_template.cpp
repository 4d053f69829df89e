// Dialog templates on screen: the embedded files and the widgets made from
// them. The JSON form is read by template_reader.cpp.
#include "dialog_template.h"

#include "artwork.h"
#include "ipaddressctrl.h"
#include "skinlistctrl.h"

#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <mutex>

// Outside any namespace, as Q_INIT_RESOURCE requires. Calling it also keeps
// the embedded templates in programs that link the static library.
static void registerDialogResources() { Q_INIT_RESOURCE(dialogs); }

namespace qs::win {

namespace {

void setError(QString* error, const QString& text) {
    if (error) *error = text;
}

}  // namespace

std::optional<DialogTemplate> loadDialogTemplate(int id, QString* error) {
    static std::once_flag once;
    std::call_once(once, registerDialogResources);
    QFile file(QStringLiteral(":/dialogs/%1.json").arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("dialog template %1 not found").arg(id));
        return std::nullopt;
    }
    QString reason;
    std::optional<DialogTemplate> t = parseDialogTemplate(file.readAll(), &reason);
    if (!t) {
        setError(error, QStringLiteral("dialog template %1: %2").arg(id).arg(reason));
        return std::nullopt;
    }
    if (t->id != id) {
        setError(error, QStringLiteral("dialog template %1: id: the file holds template %2").arg(id).arg(t->id));
        return std::nullopt;
    }
    return t;
}

namespace {

QWidget* makeControl(QWidget* dialog, const ControlSpec& c) {
    const QRect px = dluToPixels(c.rect);
    if (c.kind == QLatin1String("static")) {
        auto* label = new QLabel(c.text, dialog);
        label->setAutoFillBackground(false);
        const QSize hint = label->sizeHint();
        label->setGeometry(px.x(), px.y(), c.rect.width() == 0 ? hint.width() : px.width(),
                           c.rect.height() == 0 ? hint.height() : px.height());
        return label;
    }
    if (c.kind == QLatin1String("icon")) {
        auto* label = new QLabel(dialog);
        label->setAutoFillBackground(false);
        label->setPixmap(artwork::appIcon().pixmap(32, 32));
        // An icon control takes the icon's size, whatever the rectangle says.
        label->setGeometry(px.x(), px.y(), 32, 32);
        return label;
    }
    if (c.kind == QLatin1String("button")) {
        auto* button = new QPushButton(c.text, dialog);
        button->setAutoDefault(false);
        button->setDefault(c.style.contains(QLatin1String("default")));
        button->setGeometry(px);
        return button;
    }
    if (c.kind == QLatin1String("edit")) {
        auto* edit = new QLineEdit(dialog);
        edit->setText(c.text);
        if (c.limit > 0) edit->setMaxLength(c.limit);
        if (c.style.contains(QLatin1String("password"))) edit->setEchoMode(QLineEdit::Password);
        edit->setGeometry(px);
        return edit;
    }
    if (c.kind == QLatin1String("combo")) {
        auto* combo = new QComboBox(dialog);
        combo->setEditable(false);
        combo->addItems(c.items);
        // The rectangle's height is that of the dropped list; the closed box
        // is as tall as its font needs.
        const int closed = combo->sizeHint().height();
        combo->setGeometry(px.x(), px.y(), px.width(), closed);
        const int row = qMax(1, QFontMetrics(combo->font()).height() + 2);
        combo->setMaxVisibleItems(qMax(1, (px.height() - closed) / row));
        return combo;
    }
    if (c.kind == QLatin1String("listview")) {
        auto* list = new skin::CSkinListCtrl(dialog);
        if (c.style.contains(QLatin1String("singleSelection")))
            list->setSelectionMode(QAbstractItemView::SingleSelection);
        if (c.style.contains(QLatin1String("noSortHeader"))) list->headerCtrl()->setSectionsClickable(false);
        list->SetBorder(c.style.contains(QLatin1String("border")));
        list->setGeometry(px);
        return list;
    }
    // "ipaddress"; the parser lets no other kind through.
    auto* address = new CIPAddressCtrl(dialog);
    address->setGeometry(px);
    return address;
}

// The widgets that take the keyboard focus for a control, in tab order.
// An address field goes in whole: the control itself (which hands the
// focus to its first part) and then its four parts, so that Tab from the
// last control comes round to the first and not to a field left behind.
QList<QWidget*> focusTargets(QWidget* w) {
    if (auto* address = qobject_cast<CIPAddressCtrl*>(w))
        return {address, address->field(0), address->field(1), address->field(2), address->field(3)};
    if (w->focusPolicy() & Qt::TabFocus) return {w};
    return {};
}

}  // namespace

DialogControls buildDialog(QWidget* dialog, const DialogTemplate& t) {
    DialogControls controls;
    dialog->setFont(QFont(t.font, t.pointSize));
    if (!t.caption.isEmpty()) dialog->setWindowTitle(t.caption);
    dialog->setFixedSize(dluToPixels(t.size));

    QList<QWidget*> tabOrder;
    for (const ControlSpec& c : t.controls) {
        QWidget* w = makeControl(dialog, c);
        if (c.style.contains(QLatin1String("disabled"))) w->setEnabled(false);
        if (c.style.contains(QLatin1String("hidden"))) w->hide();
        w->setProperty("controlId", c.id);
        if (c.id >= 0) {
            w->setObjectName(QStringLiteral("control_%1").arg(c.id));
            controls.add(c.id, w);
        } else {
            w->setObjectName(QStringLiteral("static_%1").arg(controls.statics.size()));
            controls.statics.append(w);
        }
        tabOrder.append(focusTargets(w));
    }
    for (qsizetype i = 1; i < tabOrder.size(); ++i) QWidget::setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));
    return controls;
}

}  // namespace qs::win
