#include "Utf8.h"

namespace Utf8 {

size_t decode(std::string_view text, size_t at, char32_t& code) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
    code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; i++) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (code < shortest[length] || code > 0x10FFFF || surrogate) return 0;
    return length;
}

} // namespace Utf8
