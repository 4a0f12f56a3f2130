#pragma once
// UTF-8 read one character at a time, strictly: no overlong forms, surrogates or code points past
// U+10FFFF.
#include <cstddef>
#include <string_view>

namespace Utf8 {

// The length of the well-formed sequence at `at` (1 for ASCII), with its code point in `code`;
// 0 when the bytes there are not one.
size_t decode(std::string_view text, size_t at, char32_t& code);

} // namespace Utf8
