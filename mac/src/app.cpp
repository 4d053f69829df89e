#include "app.h"

#include "gvfs_mount_platform.h"
#include "main_window.h"
#include "qt_runloop.h"
#include "quayside/credentials.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace qs::mac {

namespace {

// How long the screenshot waits for the first search's answers.
constexpr int kScreenshotWaitMs = 1500;

}  // namespace

bool parseArguments(int argc, char** argv, AppOptions& options, QString* error) {
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

int runApplication(const AppOptions& options) {
    // The device records keep the passwords typed for the whole run.
    keepMemoryPrivate();
    QtRunLoop loop;
    MainController::Options controllerOptions;
    controllerOptions.packager.net.loopbackLab = options.loopback;
    controllerOptions.mountPlatform = std::make_shared<GvfsMountPlatform>();
    QString socketFailure;
    controllerOptions.packager.net.onSocketFailure = [&socketFailure](const std::string& why) {
        socketFailure = QString::fromStdString(why);
    };

    // An interface left out of the search (a group not joined there): in the
    // system log, and said here once.
    controllerOptions.packager.net.onWarning = [](const std::string& line) {
        std::fprintf(stderr, "quayside-mac: %s\n", line.c_str());
    };

    MainWindow window(loop, std::move(controllerOptions));
    Tarnex_s_Storage_UtilityAppDelegate delegate(&window);
    window.start();
    delegate.applicationDidFinishLaunching();
    if (!socketFailure.isEmpty()) {
        std::fprintf(stderr, "quayside-mac: %s\n", qPrintable(socketFailure));
        if (options.screenshot.isEmpty())
            QMessageBox::critical(nullptr, QApplication::applicationName(),
                                  QObject::tr("The network sockets could not be opened:\n%1").arg(socketFailure));
        return 1;
    }

    window.show();
    if (options.screenshot.isEmpty()) return QApplication::exec();

    int code = 0;
    // For the benchmarks (QS_SPAWN_NS set): a longer wait may be asked, and
    // the longest time the window thread was busy at once is reported with
    // the devices listed.
    const bool bench = !qgetenv("QS_SPAWN_NS").isEmpty();
    bool waitGiven = false;
    const int wait = qEnvironmentVariableIntValue("QS_SCREENSHOT_WAIT_MS", &waitGiven);
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    if (bench) {
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (sinceTick.isValid()) longestStall = std::max(longestStall, sinceTick.elapsed());
            sinceTick.restart();
        });
        ticker.start(5);
    }
    QTimer::singleShot(bench && waitGiven ? wait : kScreenshotWaitMs, &window, [&] {
        if (bench)
            std::fprintf(stderr, "listed %zu\nlongest-stall-ms %lld\n", window.controller().packager().serverArray().size(),
                         static_cast<long long>(longestStall));
        // Show the first device as a click would, without the login sheet.
        auto& devices = window.controller().packager().serverArray();
        if (!devices.empty()) {
            window.deviceTable()->selectRow(0);
            window.controller().fillDeviceInfo(devices.front(), true);
        }
        if (!window.grab().save(options.screenshot, "PNG")) {
            std::fprintf(stderr, "quayside-mac: cannot write %s\n", qPrintable(options.screenshot));
            code = 1;
        } else {
            std::printf("%s\n", qPrintable(options.screenshot));
        }
        QApplication::quit();
    });
    QApplication::exec();
    return code;
}

}  // namespace qs::mac
