// quayside-mac's start-up: command line, the window, the run.
#pragma once

#include <QString>

namespace qs::mac {

struct AppOptions {
    bool loopback = false;  // the loopback lab of the protocol library
    QString screenshot;     // render the window (after the first search) to this PNG and end
};

bool parseArguments(int argc, char** argv, AppOptions& options, QString* error);
// Runs the program under an existing QApplication; returns the exit code.
int runApplication(const AppOptions& options);

}  // namespace qs::mac
