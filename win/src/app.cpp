#include "app.h"

#include "main_dialog.h"
#include "quayside/credentials.h"
#include "quayside/device_library.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>

namespace qs::win {

bool CHarbor_scanApp::parseArguments(int argc, char** argv, AppOptions& options, QString* error) {
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--loopback")) {
            options.loopback = true;
        } else if (arg == QLatin1String("--screenshot")) {
            if (i + 1 >= argc) {
                *error = QStringLiteral("--screenshot needs a file name");
                return false;
            }
            options.screenshot = QString::fromLocal8Bit(argv[++i]);
        } else {
            *error = QStringLiteral("unknown argument '%1'").arg(arg);
            return false;
        }
    }
    return true;
}

int CHarbor_scanApp::InitInstance(const AppOptions& options) {
    // The login cache keeps the passwords typed for the whole run.
    keepMemoryPrivate();
    TransportOptions transport;
    transport.loopbackLab = options.loopback;
    std::string error;
    CHarbor_scanDlg dlg;
    if (!dlg.controller().library().openSockets(transport, &error)) {
        std::fprintf(stderr, "quayside-win: %s\n", error.c_str());
        return 1;
    }
    if (options.screenshot.isEmpty()) {
        dlg.DoModal();
        return 0;
    }
    // Start as usual (first search included), paint off-screen, write, end.
    dlg.OnInitDialog();
    dlg.show();
    QApplication::processEvents();
    if (!qgetenv("QS_SPAWN_NS").isEmpty())  // for the benchmarks
        std::fprintf(stderr, "listed %zu\n", dlg.controller().library().devices.count());
    const QPixmap shot = dlg.grab();
    const bool saved = shot.save(options.screenshot, "PNG");
    dlg.done(QDialog::Rejected);
    if (!saved) {
        std::fprintf(stderr, "quayside-win: cannot write %s\n", qPrintable(options.screenshot));
        return 1;
    }
    std::printf("%s\n", qPrintable(options.screenshot));
    return 0;
}

}  // namespace qs::win
