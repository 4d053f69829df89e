// The skin gallery's window: every skinned control in every state, for a
// person to look at (skin-gallery) and for the tests to check pixel by
// pixel in the same states.
#pragma once

#include <QWidget>

#include <vector>

namespace qs::skin {

class CSkinListCtrl;
class CxSkinButton;

struct Gallery {
    QWidget* window = nullptr;  // owns everything below
    CSkinListCtrl* list = nullptr;   // 60 rows, row 2 current and selected
    CSkinListCtrl* empty = nullptr;  // no rows
    // One row of buttons per picture set, in the states normal, hover,
    // pressed, disabled and checked radio.
    std::vector<std::vector<CxSkinButton*>> buttons;
};

// Builds the gallery window (not shown yet); the caller owns the window.
Gallery buildGallery();

}  // namespace qs::skin
