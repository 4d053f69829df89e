// quayside-win: find the storage devices of the LAN, log in, change their
// LAN settings, map their volumes and open their web pages.
#include "app.h"
#include "quayside_version.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kHelp =
    "usage: quayside-win [--loopback] [--screenshot FILE]\n"
    "       quayside-win --help | --version\n"
    "\n"
    "find the storage devices of the LAN, log in, change their LAN settings,\n"
    "map their volumes to drive letters and open their web pages.\n"
    "\n"
    "  --loopback         use the loopback lab (127.0.0.1), where vsb-sim --lab answers\n"
    "  --screenshot FILE  start as usual, render the window off-screen to FILE (PNG)\n"
    "                     and end; needs no display\n"
    "\n"
    "exit codes: 0 done, 1 the sockets could not be opened or the screenshot not\n"
    "            written, 2 usage error\n";

}  // namespace

int main(int argc, char** argv) {
    if (quaysideAnswersInfoRequest(argc, argv, "quayside-win", kHelp)) return 0;
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
