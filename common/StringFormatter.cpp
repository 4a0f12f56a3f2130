#include "StringFormatter.h"
#include "platform/Formatter.h"
#include "platform/Text.h"
#include <algorithm>

namespace Applications::Commands::Scrivlet {

Ref<StringFormatter> StringFormatter::create(const Ref<String>& text) {
    return Ref<StringFormatter>(new (std::nothrow) StringFormatterObj(text ? text : String::create("")));
}

StringFormatter& StringFormatterObj::arg(uint64_t number, uint64_t radix) {
    return arg(StrConv::str(number, static_cast<unsigned>(radix)));
}

namespace {

// The text with every placeholder replaced by the value; the text itself when it holds none.
Ref<String> filled(const Ref<String>& text, std::string_view placeholder, const Ref<String>& value) {
    std::string_view pattern = text->str();
    size_t at = pattern.find(placeholder);
    if (at == std::string::npos) return text;
    std::string_view inserted = value ? std::string_view(value->str()) : std::string_view();
    // Searching on behind each placeholder found keeps a value holding the placeholder from
    // looping. The places are counted first, so that the result is made in one piece.
    size_t places = 0;
    for (size_t p = at; p != std::string::npos; p = pattern.find(placeholder, p + placeholder.size()))
        places++;
    size_t length = pattern.size() - places * placeholder.size() + places * inserted.size();
    return String::build(length, [&](char* out) {
        size_t from = 0;
        for (size_t p = at; p != std::string::npos; p = pattern.find(placeholder, from)) {
            out = std::copy(pattern.begin() + from, pattern.begin() + p, out);
            out = std::copy(inserted.begin(), inserted.end(), out);
            from = p + placeholder.size();
        }
        std::copy(pattern.begin() + from, pattern.end(), out);
    });
}

} // namespace

StringFormatter& StringFormatterObj::arg(const Ref<String>& value) {
    m_text = filled(m_text, "{" + std::to_string(m_next++) + "}", value);
    return *this;
}

// Made once for every file an export copies (its progress text): filled in place, without a
// formatter object.
Ref<String> formatMessage(const Ref<String>& text, const Ref<String>& value) {
    return filled(text ? text : String::create(""), "{1}", value);
}

Ref<String> formatMessage(const Ref<String>& text, const Ref<String>& value, uint32_t code) {
    Ref<StringFormatter> f = StringFormatter::create(text);
    return f ? f->arg(value).arg(code, 16).arg(code, 10).result() : Ref<String>();
}

Ref<String> formatCode(const Ref<String>& text, uint32_t code) {
    Ref<StringFormatter> f = StringFormatter::create(text);
    return f ? f->arg(code, 16).arg(code, 10).result() : Ref<String>();
}

} // namespace Applications::Commands::Scrivlet
