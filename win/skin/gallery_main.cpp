// skin-gallery: every skinned control in every state, for a person to look
// at. With --screenshot FILE it renders off-screen, writes a PNG and ends.
#include "gallery.h"
#include "skinlistctrl.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace qs::skin;

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

    const Gallery gallery = buildGallery();
    const std::unique_ptr<QWidget> window(gallery.window);
    CSkinListCtrl* list = gallery.list;
    CSkinListCtrl* empty = gallery.empty;

    window->show();
    QApplication::processEvents();
    list->updateThumbs();
    empty->updateThumbs();
    if (qEnvironmentVariableIsSet("QS_GALLERY_DEBUG"))
        std::fprintf(stderr, "empty: h %d/%d viewport %d header %d\n", empty->horizontalPosition(), empty->horizontalLimit(),
                     empty->viewport()->width(), empty->header()->length());
    if (!screenshot) return app.exec();
    QApplication::processEvents();
    const QPixmap shot = window->grab();
    if (!shot.save(QString::fromLocal8Bit(screenshot), "PNG")) {
        std::fprintf(stderr, "skin-gallery: cannot write %s\n", screenshot);
        return 1;
    }
    std::printf("%s\n", screenshot);
    return 0;
}
