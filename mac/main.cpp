// quayside-mac: find the storage devices of the LAN, list their volumes,
// log in, change their LAN settings and open their web pages.
#include "app.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

int main(int argc, char** argv) {
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
