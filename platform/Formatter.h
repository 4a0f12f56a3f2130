#pragma once
// The platform's text formatter, which fills numbered placeholders with values.
#include "String.h"
#include <cstdint>

namespace Libraries::IO::Characters {
// The platform's formatter: placeholders "{1}" (mode 1) or "%1" (mode 0).
class StringFormatter : public Object {
  public:
    static Ref<StringFormatter> create(const Ref<String>& text, unsigned mode);
    StringFormatter& arg(const Ref<String>& value);
    StringFormatter& arg(uint64_t value, unsigned radix);
    Ref<String> result() const { return m_text; }

  private:
    StringFormatter(Ref<String> text, unsigned mode) : m_text(std::move(text)), m_mode(mode) {}
    Ref<String> m_text;
    unsigned m_mode;
    unsigned m_next = 1;
};
} // namespace Libraries::IO::Characters
