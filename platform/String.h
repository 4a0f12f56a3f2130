#pragma once
// The platform's immutable text, always handled as Ref<String>. Text is kept as 8-bit code units
// (UTF-8 where it is text at all); positions and lengths count those units.
#include "Object.h"
#include <string>
#include <string_view>

class String final : public Object {
  public:
    static Ref<String> create(std::string_view text);
    static Ref<String> create(const std::string& text) { return create(std::string_view(text)); }
    static Ref<String> create(const char* text) { return create(std::string_view(text ? text : "")); }
    // A text of `length` units written in place by `fill(char*)`: the way to join pieces without
    // building them elsewhere first.
    template <typename Fill> static Ref<String> build(size_t length, Fill&& fill) {
        String* made = allocate(length);
        fill(made->data());
        return Ref<String>(made);
    }

    size_t length() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    bool equals(const Ref<String>& other) const { return other && str() == other->str(); }
    bool equals(std::string_view other) const { return str() == other; }
    // Forward search; returns the position or length() when absent.
    size_t find(const Ref<String>& needle, size_t from = 0) const;
    // Backward search for a character; -1 when absent.
    long findLast(char c) const;
    char at(size_t position) const { return position < m_length ? data()[position] : '\0'; }
    Ref<String> substring(size_t position, size_t count = std::string::npos) const;
    Ref<String> concat(char c) const;
    Ref<String> concat(std::string_view text) const;
    Ref<String> concat(const Ref<String>& text) const;
    // Three-way comparison: 0 equal, 1 this first, 2 other first.
    int compare(const Ref<String>& other) const;

    std::string_view str() const { return {data(), m_length}; }
    const char* c_str() const { return data(); }

    // The text lives in the same allocation as the object, just after it: a String is one
    // allocation, however long (an export makes several for every file it copies).
    static void operator delete(void* memory) { ::operator delete(memory); }

  private:
    explicit String(size_t length) : m_length(length) {}
    static String* allocate(size_t length);
    char* data() { return reinterpret_cast<char*>(this + 1); }
    const char* data() const { return reinterpret_cast<const char*>(this + 1); }
    const size_t m_length;
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
    return s ? std::string(s->str()) : std::string();
}
inline Ref<String> operator""_s(const char* text, size_t length) {
    return String::create(std::string_view(text, length));
}
