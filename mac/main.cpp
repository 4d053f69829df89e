// quayside-mac: find the storage devices of the LAN, list their volumes,
// log in, change their LAN settings and open their web pages.
#include "app.h"
#include "quayside_version.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kHelp =
    "usage: quayside-mac [--loopback] [--screenshot FILE]\n"
    "       quayside-mac --help | --version\n"
    "\n"
    "find the storage devices of the LAN, list their volumes, log in,\n"
    "change their LAN settings, mount their volumes and open their web pages.\n"
    "\n"
    "  --loopback         use the loopback lab (127.0.0.1), where vsb-sim --lab answers\n"
    "  --screenshot FILE  start as usual, render the window off-screen to FILE (PNG)\n"
    "                     and end; needs no display\n"
    "\n"
    "exit codes: 0 done, 1 the sockets could not be opened or the screenshot not\n"
    "            written, 2 usage error\n";

}  // namespace

int main(int argc, char** argv) {
    if (quaysideAnswersInfoRequest(argc, argv, "quayside-mac", kHelp)) return 0;
    qs::mac::AppOptions options;
    QString error;
    if (!qs::mac::parseArguments(argc, argv, options, &error)) {
        std::fprintf(stderr, "quayside-mac: %s\nusage: quayside-mac [--loopback] [--screenshot FILE]\n",
                     qPrintable(error));
        return 2;
    }
    // A screenshot needs no display.
    if (!options.screenshot.isEmpty() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnex Storage Utility"));
    QApplication::setApplicationVersion(QStringLiteral(QUAYSIDE_VERSION));
    // The string table of the user's language, when one is installed beside
    // the program (translations/quayside-mac_<language>.qm).
    QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("quayside-mac"), QStringLiteral("_"),
                        QCoreApplication::applicationDirPath() + QStringLiteral("/translations")))
        QApplication::installTranslator(&translator);
    return qs::mac::runApplication(options);
}
