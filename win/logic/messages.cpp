#include "messages.h"

#include <iterator>

namespace qs::win {

namespace {

struct Entry {
    const char* text;  // "%s" stands for the subject
    Caption caption;
    MessageIcon icon;
};

constexpr const char* kSelectDeviceAbove = "Please select a device in the above section.";

constexpr Entry kEntries[] = {
    {kSelectDeviceAbove, Caption::Warning, MessageIcon::Warning},
    {kSelectDeviceAbove, Caption::Error, MessageIcon::Error},
    {"Please select a device to configure.", Caption::Warning, MessageIcon::Warning},
    {"Wrong administrator password input!", Caption::Error, MessageIcon::Error},
    {"Please input IP address!", Caption::Warning, MessageIcon::Warning},
    {"Please input net mask address!", Caption::Warning, MessageIcon::Warning},
    {"IP address input error. Please try again.", Caption::Warning, MessageIcon::Warning},
    {"Invalid IP address in 1st digit. It should be 1-223.", Caption::Error, MessageIcon::Information},
    {"Invalid gateway IP address in 1st digit. It should be 1-223.", Caption::Error, MessageIcon::Information},
    {"Netmask address input invalid. Please try again.", Caption::Error, MessageIcon::Error},
    {"You enter incorrect TCP/IP configuration. Please try again.", Caption::Error, MessageIcon::Error},
    {"Set to dhcp client fail.", Caption::Error, MessageIcon::Error},
    {"DHCP client enabled.", Caption::Confirm, MessageIcon::Information},
    {"%s is Locked.", Caption::Warning, MessageIcon::Warning},
    {"Failed to map drive.", Caption::Error, MessageIcon::Error},
    {"Successfully mapped drive.", Caption::Confirm, MessageIcon::Information},
    {"Unable to disconnect this drive.\nPlease select a drive to disconnect and verify that the drive is not being "
     "accessed.",
     Caption::Error, MessageIcon::Error},
    {"Successfully unmapped drive.", Caption::Confirm, MessageIcon::Information},
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
