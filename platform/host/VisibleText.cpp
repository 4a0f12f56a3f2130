#include "VisibleText.h"
#include "Utf8.h"
#include <cstdio>

namespace Ui {
namespace {

constexpr unsigned char deleteCharacter = 0x7F;
constexpr char32_t firstC1 = 0x80, lastC1 = 0x9F;

std::string hexEscape(unsigned value, const char* format) {
    char text[12];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string controlEscape(unsigned char c) {
    switch (c) {
    case '\a':
        return "\\a";
    case '\b':
        return "\\b";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\v':
        return "\\v";
    case '\f':
        return "\\f";
    case '\r':
        return "\\r";
    case 0x1B:
        return "\\e";
    default:
        return hexEscape(c, "\\x%02x");
    }
}

} // namespace

std::string visibleText(std::string_view text, bool keepLineFeeds) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        auto c = static_cast<unsigned char>(text[at]);
        if (c == '\n' && keepLineFeeds) {
            out += '\n';
            at++;
        } else if (c < 0x20 || c == deleteCharacter) {
            out += controlEscape(c);
            at++;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            at++;
        } else {
            char32_t code = 0;
            size_t length = Utf8::decode(text, at, code);
            if (length == 0) {
                out += hexEscape(c, "\\x%02x");
                at++;
            } else if (code >= firstC1 && code <= lastC1) {
                out += hexEscape(static_cast<unsigned>(code), "\\u%04x");
                at += length;
            } else {
                out.append(text.substr(at, length));
                at += length;
            }
        }
    }
    return out;
}

} // namespace Ui
