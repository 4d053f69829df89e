// Feeds arbitrary text to quayside-win's dialog-template reader. A template
// it refuses must say why; one it accepts must hold only controls a dialog
// can be built from, with every rectangle convertible to pixels.
#include "template_reader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qs::win;
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const std::optional<DialogTemplate> t = parseDialogTemplate(text, &error);
    if (!t) {
        if (error.isEmpty()) std::abort();  // refused without a reason
        return 0;
    }
    (void)dluToPixels(t->size);
    for (const ControlSpec& c : t->controls) {
        if (c.kind.isEmpty()) std::abort();
        (void)dluToPixels(c.rect);
    }
    return 0;
}
