#pragma once
// The platform's immutable text, always handled as Ref<String>. Text is kept as 8-bit code units
// (UTF-8 where it is text at all); positions and lengths count those units.
#include "Object.h"
#include <string>
#include <string_view>

class String : public Object {
  public:
    static Ref<String> create(std::string_view text);
    static Ref<String> create(std::string&& text);
    static Ref<String> create(const char* text) { return create(std::string_view(text ? text : "")); }

    size_t length() const { return m_text.size(); }
    bool isEmpty() const { return m_text.empty(); }
    bool equals(const Ref<String>& other) const { return other && m_text == other->m_text; }
    bool equals(std::string_view other) const { return m_text == other; }
    // Forward search; returns the position or length() when absent.
    size_t find(const Ref<String>& needle, size_t from = 0) const;
    // Backward search for a character; -1 when absent.
    long findLast(char c) const;
    char at(size_t position) const { return position < m_text.size() ? m_text[position] : '\0'; }
    Ref<String> substring(size_t position, size_t count = std::string::npos) const;
    Ref<String> concat(char c) const;
    Ref<String> concat(std::string_view text) const;
    Ref<String> concat(const Ref<String>& text) const;
    // Three-way comparison: 0 equal, 1 this first, 2 other first.
    int compare(const Ref<String>& other) const;

    const std::string& str() const { return m_text; }
    const char* c_str() const { return m_text.c_str(); }

  private:
    explicit String(std::string text) : m_text(std::move(text)) {}
    const std::string m_text;
};

using StringRef = Ref<String>;

// Where `c` last stands in `text`, or npos: with memrchr, several times faster on a path than the
// byte-wise rfind (paths are split at their last '/' several times for every file an export copies).
size_t findLastByte(std::string_view text, char c);

// An empty reference and an empty String are treated alike wherever a text is optional.
inline bool isEmpty(const Ref<String>& s) {
    return !s || s->isEmpty();
}
inline std::string stdString(const Ref<String>& s) {
    return s ? s->str() : std::string();
}
inline Ref<String> operator""_s(const char* text, size_t length) {
    return String::create(std::string_view(text, length));
}
