// Ownership of GLib and GIO handles: each is let go through its own
// function when its owner goes. It brings in GIO's headers, whose names
// clash with Qt's macros: include it before any Qt header.
#pragma once

#include <gio/gio.h>

#include <memory>

namespace qs::shares {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GMainContextUnref {
    void operator()(GMainContext* context) const { g_main_context_unref(context); }
};
struct GSourceUnref {
    void operator()(GSource* source) const { g_source_unref(source); }
};

// GFile, GMount, GCancellable, GMountOperation, ...
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using GCharPtr = std::unique_ptr<char, GFree>;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GMainContextPtr = std::unique_ptr<GMainContext, GMainContextUnref>;
using GSourcePtr = std::unique_ptr<GSource, GSourceUnref>;

}  // namespace qs::shares
