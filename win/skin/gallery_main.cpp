// skin-gallery: every skinned control in every state, for a person to look
// at. With --screenshot FILE it renders off-screen, writes a PNG and ends.
#include "skinlistctrl.h"
#include "skinscrollbar.h"
#include "xskinbutton.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstring>

using namespace qs::skin;

namespace {

struct ButtonSet {
    const char* name;
    int normal, pressed, hover, disabled;
    bool captionInImage;  // the face carries its caption; the button has no text
};
constexpr ButtonSet kSets[] = {{"306/307", 306, 307, 307, 307, true},
                               {"304/305", 304, 305, 305, 305, true},
                               {"280/281", 280, 281, 281, 281, false},
                               {"282/283", 282, 283, 283, 283, false},
                               {"284/285", 284, 285, 285, 284, true}};

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

int main(int argc, char** argv) {
    const char* screenshot = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = argv[++i];
        } else {
            std::fprintf(stderr, "usage: skin-gallery [--screenshot FILE]\n");
            return 2;
        }
    }
    if (screenshot && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QWidget window;
    window.setWindowTitle("Skin gallery");
    window.resize(800, 560);
    window.setStyleSheet("QWidget#gallery { background: #e9edf2; }");
    window.setObjectName("gallery");

    caption(&window, "List with header, selection and both bars", 16, 10);
    auto* list = new CSkinListCtrl(&window);
    list->setGeometry(16, 32, 430, 180);
    fillList(list);
    list->Init();

    caption(&window, "Empty list (bars disabled)", 490, 10);
    auto* empty = new CSkinListCtrl(&window);
    empty->setGeometry(490, 32, 270, 180);
    empty->InsertColumn(0, "Volume", 150);
    empty->InsertColumn(1, "Drive", 100);
    empty->Init();

    caption(&window, "Buttons: normal, hover, pressed, disabled, checked radio", 16, 240);
    int y = 266;
    for (const ButtonSet& set : kSets) {
        caption(&window, set.name, 16, y + 6);
        for (int state = 0; state < 5; ++state) {
            auto* b = new CxSkinButton(&window, state == 4 ? CxSkinButton::RadioButton : CxSkinButton::PushButton);
            b->setGeometry(90 + state * 130, y, set.normal >= 304 ? 100 : 93, set.normal >= 304 ? 25 : 28);
            if (!set.captionInImage) b->setText(QStringLiteral("Button"));
            b->SetSkin(set.normal, set.pressed, set.hover, set.disabled, 0, 0);
            if (state == 1) b->setHover(true);
            if (state == 2) b->setDown(true);
            if (state == 3) b->setEnabled(false);
            if (state == 4) {
                b->setGroupStart(true);  // a group of its own
                b->SetCheck(1);
            }
        }
        y += 52;
    }

    window.show();
    QApplication::processEvents();
    list->updateThumbs();
    empty->updateThumbs();
    if (qEnvironmentVariableIsSet("QS_GALLERY_DEBUG"))
        std::fprintf(stderr, "empty: h %d/%d viewport %d header %d\n", empty->horizontalPosition(), empty->horizontalLimit(),
                     empty->viewport()->width(), empty->header()->length());
    if (!screenshot) return app.exec();
    QApplication::processEvents();
    const QPixmap shot = window.grab();
    if (!shot.save(QString::fromLocal8Bit(screenshot), "PNG")) {
        std::fprintf(stderr, "skin-gallery: cannot write %s\n", screenshot);
        return 1;
    }
    std::printf("%s\n", screenshot);
    return 0;
}
