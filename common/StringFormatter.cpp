#include "StringFormatter.h"
#include "platform/Formatter.h"
#include "platform/Text.h"

namespace Applications::Commands::Scrivlet {

Ref<StringFormatter> StringFormatter::create(const Ref<String>& text) {
    return Ref<StringFormatter>(new (std::nothrow) StringFormatterObj(text ? text : String::create("")));
}

StringFormatter& StringFormatterObj::arg(uint64_t number, uint64_t radix) {
    return arg(StrConv::str(number, static_cast<unsigned>(radix)));
}

StringFormatter& StringFormatterObj::arg(const Ref<String>& value) {
    std::string placeholder = "{" + std::to_string(m_next++) + "}";
    const std::string& text = m_text->str();
    size_t at = text.find(placeholder);
    if (at == std::string::npos) return *this;
    std::string_view inserted = value ? std::string_view(value->str()) : std::string_view();
    std::string filled;
    filled.reserve(text.size() + inserted.size());
    size_t from = 0;
    // Searching on behind the inserted value keeps a value holding the placeholder from looping.
    for (; at != std::string::npos; at = text.find(placeholder, from)) {
        filled.append(text, from, at - from).append(inserted);
        from = at + placeholder.size();
    }
    filled.append(text, from);
    m_text = String::create(std::move(filled));
    return *this;
}

Ref<String> formatMessage(const Ref<String>& text, const Ref<String>& value) {
    Ref<StringFormatter> f = StringFormatter::create(text);
    return f ? f->arg(value).result() : Ref<String>();
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
