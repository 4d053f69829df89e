// Full repaint time of a 1000-row skinned list with its header and bars,
// off-screen, and the peak memory of the skin gallery.
//   skin-bench [--runs N]
#include "skinlistctrl.h"
#include "skinscrollbar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <vector>

using namespace qs::skin;

int main(int argc, char** argv) {
    int runs = 200;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QWidget window;
    window.resize(480, 260);
    auto* list = new CSkinListCtrl(&window);
    list->setGeometry(10, 10, 430, 220);
    for (int c = 0; c < 5; ++c) list->InsertColumn(c, QString("Column %1").arg(c), 120);
    for (int i = 0; i < 1000; ++i) {
        const int r = list->InsertItem(i, QString("vsb-%1").arg(i, 4, 10, QChar('0')));
        for (int c = 1; c < 5; ++c) list->SetItemText(r, c, QString("192.168.%1.%2").arg(c).arg(i % 250));
    }
    list->Init();
    list->SetSelectedRow(3);
    window.show();
    QApplication::processEvents();

    // Everything the list shows: its rows, header and both bars, painted
    // into one off-screen image as a repaint of the window would.
    QImage target(window.size(), QImage::Format_RGB32);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        list->verticalScrollBar()->setValue(i % 900);  // a different page each time
        QElapsedTimer t;
        t.start();
        QPainter p(&target);
        window.render(&p);
        p.end();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("full repaint of a 1000-row list with header and bars (%d runs): mean %.2f ms, median %.2f ms, "
                "p95 %.2f ms (target: at most 8 ms) -> %s\n",
                runs, sum / runs, ms[ms.size() / 2], ms[ms.size() * 95 / 100], sum / runs <= 8.0 ? "met" : "MISSED");

    QProcess gallery;
    const QString shot = QStringLiteral("/tmp/skin-bench-gallery.png");
    gallery.start(QCoreApplication::applicationDirPath() + "/skin-gallery", {"--screenshot", shot});
    gallery.waitForFinished(30000);
    QFile::remove(shot);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("skin-gallery peak memory (maximum resident set): %.1f MB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
