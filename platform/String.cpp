#include "platform/String.h"
#include <cstring>

Ref<String> String::create(std::string_view text) {
    return Ref<String>(new String(std::string(text)));
}
Ref<String> String::create(std::string&& text) {
    return Ref<String>(new String(std::move(text)));
}

size_t String::find(const Ref<String>& needle, size_t from) const {
    if (!needle) return m_text.size();
    size_t at = m_text.find(needle->m_text, from);
    return at == std::string::npos ? m_text.size() : at;
}

long String::findLast(char c) const {
    size_t at = findLastByte(m_text, c);
    return at == std::string::npos ? -1 : static_cast<long>(at);
}

size_t findLastByte(std::string_view text, char c) {
    const void* at = memrchr(text.data(), c, text.size());
    return at ? static_cast<size_t>(static_cast<const char*>(at) - text.data()) : std::string_view::npos;
}

Ref<String> String::substring(size_t position, size_t count) const {
    if (position >= m_text.size()) return create(std::string());
    return create(m_text.substr(position, count));
}

Ref<String> String::concat(char c) const {
    return create(m_text + c);
}
Ref<String> String::concat(std::string_view text) const {
    std::string joined;
    joined.reserve(m_text.size() + text.size());
    return create(std::move(joined.append(m_text).append(text)));
}
Ref<String> String::concat(const Ref<String>& text) const {
    return text ? concat(text->str()) : create(m_text);
}

int String::compare(const Ref<String>& other) const {
    int c = m_text.compare(other ? other->m_text : std::string());
    return c == 0 ? 0 : (c < 0 ? 1 : 2);
}
