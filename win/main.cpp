// quayside-win: find the storage devices of the LAN, log in, change their
// LAN settings, map their volumes and open their web pages.
#include "app.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    qs::win::AppOptions options;
    QString error;
    if (!qs::win::CHarbor_scanApp::parseArguments(argc, argv, options, &error)) {
        std::fprintf(stderr, "quayside-win: %s\nusage: quayside-win [--loopback] [--screenshot FILE]\n",
                     qPrintable(error));
        return 2;
    }
    // A screenshot needs no display.
    if (!options.screenshot.isEmpty() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnex Storage Utility"));
    qs::win::CHarbor_scanApp theApp;
    return theApp.InitInstance(options);
}
