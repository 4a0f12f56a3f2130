#include "platform/Formatter.h"
#include "platform/Text.h"
#include <cctype>
#include <string>

namespace Libraries::IO::Characters {

Ref<StringFormatter> StringFormatter::create(const Ref<String>& text, unsigned mode) {
    return Ref<StringFormatter>(new StringFormatter(text ? text : String::create(""), mode));
}

StringFormatter& StringFormatter::arg(const Ref<String>& value) {
    std::string placeholder = m_mode == 0 ? "%" + std::to_string(m_next) : "{" + std::to_string(m_next) + "}";
    std::string text = stdString(m_text), v = stdString(value);
    size_t at = 0;
    while ((at = text.find(placeholder, at)) != std::string::npos) {
        // "%1" must not take the start of "%10".
        size_t after = at + placeholder.size();
        if (m_mode == 0 && after < text.size() && std::isdigit(static_cast<unsigned char>(text[after]))) {
            at = after;
            continue;
        }
        text.replace(at, placeholder.size(), v);
        at += v.size();
    }
    m_text = String::create(std::move(text));
    m_next++;
    return *this;
}

StringFormatter& StringFormatter::arg(uint64_t value, unsigned radix) {
    return arg(StrConv::str(value, radix));
}

} // namespace Libraries::IO::Characters
