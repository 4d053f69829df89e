#include "gallery.h"

#include "artwork.h"
#include "skinlistctrl.h"
#include "xskinbutton.h"

#include <QLabel>

namespace qs::skin {
namespace {

struct ButtonSet {
    const char* name;
    int normal, pressed, hover, disabled;
    bool captionInImage;  // the face carries its caption; the button has no text
    QSize control;        // empty: the picture's own size
};
// The 284/285 set at the main window's size: wider and taller than its
// pictures, so the window's background shows beside them.
const ButtonSet kSets[] = {{"306/307", 306, 307, 307, 307, true, {}},
                           {"304/305", 304, 305, 305, 305, true, {}},
                           {"280/281", 280, 281, 281, 281, false, {}},
                           {"282/283", 282, 283, 283, 283, false, {}},
                           {"284/285", 284, 285, 285, 284, true, {102, 28}}};

QLabel* caption(QWidget* parent, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->setStyleSheet("color: #2b3a4a; font-weight: bold;");
    return l;
}

void fillList(CSkinListCtrl* list) {
    list->InsertColumn(0, "Host name", 120);
    list->InsertColumn(1, "IP address of the first LAN port, as the device reports it", 150);
    list->InsertColumn(2, "Netmask", 110);
    list->InsertColumn(3, "Gateway", 110);
    list->InsertColumn(4, "Model", 90);
    for (int i = 0; i < 60; ++i) {
        const int row = list->InsertItem(i, QString("vsb-%1").arg(i, 4, 10, QChar('0')));
        list->SetItemText(row, 1, QString("192.168.%1.%2").arg(i / 250).arg(i % 250 + 2));
        list->SetItemText(row, 2, "255.255.255.0");
        list->SetItemText(row, 3, "192.168.0.1");
        list->SetItemText(row, 4, i % 2 ? "VSB-760K" : "VSB-720K");
    }
    list->SetSelectedRow(2);
}

}  // namespace

Gallery buildGallery() {
    Gallery g;
    auto* window = new QWidget;
    g.window = window;
    window->setWindowTitle("Skin gallery");
    window->resize(800, 560);
    window->setStyleSheet("QWidget#gallery { background: #e9edf2; }");
    window->setObjectName("gallery");

    caption(window, "List with header, selection and both bars", 16, 10);
    g.list = new CSkinListCtrl(window);
    g.list->setGeometry(16, 32, 430, 180);
    g.list->SetBorder(true);
    fillList(g.list);
    g.list->Init();

    caption(window, "Empty list (bars disabled)", 490, 10);
    g.empty = new CSkinListCtrl(window);
    g.empty->setGeometry(490, 32, 270, 180);
    g.empty->SetBorder(true);
    g.empty->InsertColumn(0, "Volume", 150);
    g.empty->InsertColumn(1, "Drive", 100);
    g.empty->Init();

    caption(window, "Buttons (copy mode): normal, hover, pressed, disabled, checked radio", 16, 240);
    int y = 266;
    for (const ButtonSet& set : kSets) {
        caption(window, set.name, 16, y + 6);
        const QSize size = set.control.isEmpty() ? artwork::bitmap(set.normal).deviceIndependentSize().toSize() : set.control;
        std::vector<CxSkinButton*> row;
        for (int state = 0; state < 5; ++state) {
            auto* b = new CxSkinButton(window, state == 4 ? CxSkinButton::RadioButton : CxSkinButton::PushButton);
            b->setGeometry(90 + state * 130, y, size.width(), size.height());
            if (!set.captionInImage) b->setText(QStringLiteral("Button"));
            b->SetSkin(set.normal, set.pressed, set.hover, set.disabled, 0, 0, CxSkinButton::Copy);
            if (state == 1) b->setHover(true);
            if (state == 2) b->setDown(true);
            if (state == 3) b->setEnabled(false);
            if (state == 4) {
                b->setGroupStart(true);  // a group of its own
                b->SetCheck(1);
            }
            row.push_back(b);
        }
        g.buttons.push_back(row);
        y += 52;
    }
    // As a user finds it: the list has the keyboard focus.
    g.list->setFocus();
    return g;
}

}  // namespace qs::skin
