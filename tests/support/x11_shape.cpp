#include "support/x11_shape.h"

#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

namespace qs::test {

namespace {
int ignoreErrors(Display*, XErrorEvent*) { return 0; }
}  // namespace

std::optional<WindowShape> boundingShape(const std::string& display, unsigned long window) {
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy) return std::nullopt;
    auto* previous = XSetErrorHandler(ignoreErrors);
    std::optional<WindowShape> shape;
    XWindowAttributes attrs{};
    if (XGetWindowAttributes(dpy, window, &attrs)) {
        shape.emplace();
        shape->width = attrs.width;
        shape->height = attrs.height;
        int count = 0, ordering = 0;
        XRectangle* rects = XShapeGetRectangles(dpy, window, ShapeBounding, &count, &ordering);
        for (int i = 0; i < count; ++i) shape->rects.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height});
        if (rects) XFree(rects);
    }
    XSetErrorHandler(previous);
    XCloseDisplay(dpy);
    return shape;
}

}  // namespace qs::test
