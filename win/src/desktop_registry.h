// The registry keys the web launch reads, answered from the desktop's
// settings: the default web browser (xdg-settings) and the command line of
// its desktop entry.
#pragma once

#include "weblaunch.h"

#include <memory>

namespace qs::win {

std::unique_ptr<RegistrySource> desktopRegistry();

}  // namespace qs::win
