#include "StringFormatter.h"
#include "platform/Text.h"

namespace Applications::Commands::Scrivlet {

Ref<StringFormatter> StringFormatter::create(const Ref<String>& text) {
    return Ref<StringFormatter>(new (std::nothrow) StringFormatterObj(text ? text : String::create("")));
}

StringFormatter& StringFormatterObj::arg(uint64_t number, uint64_t radix) {
    return arg(StrConv::str(number, static_cast<unsigned>(radix)));
}

StringFormatter& StringFormatterObj::arg(const Ref<String>& value) {
    Ref<String> placeholder = String::create("{")->concat(StrConv::str(m_next))->concat('}');
    Ref<String> inserted = value ? value : String::create("");
    size_t at = m_text->find(placeholder, 0);
    while (at < m_text->length()) {
        m_text = m_text->substring(0, at)->concat(inserted)->concat(m_text->substring(at + placeholder->length()));
        // Searching on behind the inserted value keeps a value holding the placeholder from looping.
        at = m_text->find(placeholder, at + inserted->length());
    }
    m_next++;
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
