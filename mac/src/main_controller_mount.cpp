#include "main_controller.h"

namespace qs::mac {

// No script service is attached yet: nothing is mounted.
void MainController::executeShell(int) {}
bool MainController::checkMountResult() { return false; }

}  // namespace qs::mac
