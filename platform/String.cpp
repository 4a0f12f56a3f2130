#include "platform/String.h"
#include <algorithm>
#include <cstring>
#include <new>

String* String::allocate(size_t length) {
    void* memory = ::operator new(sizeof(String) + length + 1);
    String* made = new (memory) String(length);
    made->data()[length] = '\0';
    return made;
}

Ref<String> String::create(std::string_view text) {
    // Copied with std::copy: an empty view may have no data at all, which memcpy must not be given.
    return build(text.size(), [&](char* out) { std::copy(text.begin(), text.end(), out); });
}

size_t String::find(const Ref<String>& needle, size_t from) const {
    if (!needle) return m_length;
    size_t at = str().find(needle->str(), from);
    return at == std::string::npos ? m_length : at;
}

long String::findLast(char c) const {
    size_t at = findLastByte(str(), c);
    return at == std::string::npos ? -1 : static_cast<long>(at);
}

size_t findLastByte(std::string_view text, char c) {
    const void* at = memrchr(text.data(), c, text.size());
    return at ? static_cast<size_t>(static_cast<const char*>(at) - text.data()) : std::string_view::npos;
}

Ref<String> String::substring(size_t position, size_t count) const {
    if (position >= m_length) return create(std::string_view());
    return create(str().substr(position, count));
}

Ref<String> String::concat(char c) const {
    return concat(std::string_view(&c, 1));
}
Ref<String> String::concat(std::string_view text) const {
    return build(m_length + text.size(), [&](char* out) {
        std::copy(data(), data() + m_length, out);
        std::copy(text.begin(), text.end(), out + m_length);
    });
}
Ref<String> String::concat(const Ref<String>& text) const {
    return text ? concat(text->str()) : create(str());
}

int String::compare(const Ref<String>& other) const {
    int c = str().compare(other ? other->str() : std::string_view());
    return c == 0 ? 0 : (c < 0 ? 1 : 2);
}
