// The application object: opens the protocol library's sockets, runs the
// one modal main dialog, and ends the process when it ends.
#pragma once

#include <QString>

namespace qs::win {

struct AppOptions {
    bool loopback = false;   // the loopback lab of the protocol library
    QString screenshot;      // render the main window to this PNG and end
};

class CHarbor_scanApp {
public:
    // Parses the command line; false with a message for bad arguments.
    static bool parseArguments(int argc, char** argv, AppOptions& options, QString* error);
    // Start-up, the modal run and the end; returns the process exit code.
    int InitInstance(const AppOptions& options);
};

}  // namespace qs::win
