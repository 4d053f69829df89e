#include "formatter_rules.h"

namespace qs::mac {

namespace {

constexpr bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
constexpr bool isLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

}  // namespace

bool formatterIPAccepts(std::u16string_view text) {
    if (text.size() > kFormatterIPMaxLength) return false;
    for (const char16_t c : text) {
        if (!isDigit(c) && c != u'.') return false;
    }
    return true;
}

bool formatterUserNameAccepts(std::u16string_view text) {
    if (text.size() > kFormatterUserNameMaxLength) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (isLetter(c) || c == u'_' || c == u'/' || c == u'\\') continue;
        if (isDigit(c) && i > 0) continue;
        return false;
    }
    return true;
}

bool formatterPasswordAccepts(std::u16string_view text) {
    if (text.size() > kFormatterPasswordMaxLength) return false;
    for (const char16_t c : text) {
        switch (c) {
        case u' ':
        case u'"':
        case u'%':
        case u'\'':
        case u'-':
        case u'/':
        case u':':
        case u'@':
        case u'\\':
            return false;
        default:
            break;
        }
    }
    return true;
}

bool formatterAccepts(FormatterKind kind, std::u16string_view text) {
    switch (kind) {
    case FormatterKind::IP:
        return formatterIPAccepts(text);
    case FormatterKind::UserName:
        return formatterUserNameAccepts(text);
    case FormatterKind::Password:
        return formatterPasswordAccepts(text);
    }
    return false;
}

}  // namespace qs::mac
