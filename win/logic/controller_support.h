// Pieces the main controller's parts share (not for use outside them).
#pragma once

#include "main_view.h"

namespace qs::win {

// The wait cursor for as long as a blocking call runs.
struct Busy {
    explicit Busy(MainView& view) : view(view) { view.setBusy(true); }
    ~Busy() { view.setBusy(false); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    MainView& view;
};

}  // namespace qs::win
