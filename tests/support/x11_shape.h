// A window's bounding shape as the X server holds it (SHAPE extension),
// kept apart from the tests so Xlib's macros stay out of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qs::test {

struct ShapeRect {
    int x, y, width, height;
};

struct WindowShape {
    int width = 0, height = 0;
    std::vector<ShapeRect> rects;
};

// Nothing when the display cannot be opened or the window is unknown.
std::optional<WindowShape> boundingShape(const std::string& display, unsigned long window);

}  // namespace qs::test
