#include "messages.h"

#include "quayside/message_texts.h"

#include <iterator>

namespace qs::win {

namespace {

struct Entry {
    const char* text;  // "%s" stands for the subject
    Caption caption;
    MessageIcon icon;
};

constexpr Entry kEntries[] = {
    {texts::kSelectDeviceAbove, Caption::Warning, MessageIcon::Warning},
    {texts::kSelectDeviceAbove, Caption::Error, MessageIcon::Error},
    {texts::kSelectDeviceToConfigure, Caption::Warning, MessageIcon::Warning},
    {texts::kWrongPassword, Caption::Error, MessageIcon::Error},
    {texts::kInputAddress, Caption::Warning, MessageIcon::Warning},
    {texts::kInputNetmask, Caption::Warning, MessageIcon::Warning},
    {texts::kAddressInputError, Caption::Warning, MessageIcon::Warning},
    {texts::kAddressFirstOctet, Caption::Error, MessageIcon::Information},
    {texts::kGatewayFirstOctet, Caption::Error, MessageIcon::Information},
    {texts::kNetmaskInvalid, Caption::Error, MessageIcon::Error},
    {texts::kConfigurationInvalid, Caption::Error, MessageIcon::Error},
    {"Set to dhcp client fail.", Caption::Error, MessageIcon::Error},
    {"DHCP client enabled.", Caption::Confirm, MessageIcon::Information},
    {"%s is Locked.", Caption::Warning, MessageIcon::Warning},
    {texts::kMapFailed, Caption::Error, MessageIcon::Error},
    {texts::kMapped, Caption::Confirm, MessageIcon::Information},
    {texts::kUnmapFailed,
     Caption::Error, MessageIcon::Error},
    {texts::kUnmapped, Caption::Confirm, MessageIcon::Information},
    {"Device is no longer available.", Caption::Warning, MessageIcon::Warning},
    // Nothing could show the pages: where they are, to open by hand.
    {"No web browser could be started.\nOpen %s in a web browser.", Caption::Warning, MessageIcon::Warning},
    {"%s\nChange it anyway?", Caption::Warning, MessageIcon::Warning},
    {"%s", Caption::Warning, MessageIcon::Warning},
};
static_assert(std::size(kEntries) == static_cast<std::size_t>(Message::BoxElsewhere) + 1);

}  // namespace

const char* captionText(Caption caption) {
    static constexpr const char* kCaptions[] = {"Error", "Warning", "Confirm"};  // by Caption
    return kCaptions[static_cast<std::size_t>(caption)];
}

Notice notice(Message message, std::string_view subject) {
    const Entry& e = kEntries[static_cast<std::size_t>(message)];
    std::string text = e.text;
    if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, subject);
    return {text, e.caption, e.icon};
}

}  // namespace qs::win
