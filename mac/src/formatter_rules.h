// The character rules of quayside-mac's three input formatters,
// as pure functions over the whole text a field would hold after an edit.
// Lengths count UTF-16 code units, as the text system counts them. The
// empty text is acceptable: a field may always be emptied.
#pragma once

#include <cstddef>
#include <string_view>

namespace qs::mac {

enum class FormatterKind { IP, UserName, Password };

// Longest accepted texts.
inline constexpr std::size_t kFormatterIPMaxLength = 15;
inline constexpr std::size_t kFormatterUserNameMaxLength = 31;
inline constexpr std::size_t kFormatterPasswordMaxLength = 31;

// At most 15 units, each "0" to "9" or ".".
bool formatterIPAccepts(std::u16string_view text);

// At most 31 units, each "a" to "z", "A" to "Z", "_", "/" or "\", or a digit
// "0" to "9" anywhere but in the first position.
bool formatterUserNameAccepts(std::u16string_view text);

// At most 31 units, none of them a blank (U+0020), double quote, "%", "'",
// "-", "/", ":", "@" or "\". Every other unit is accepted.
bool formatterPasswordAccepts(std::u16string_view text);

bool formatterAccepts(FormatterKind kind, std::u16string_view text);

}  // namespace qs::mac
