#pragma once
// Fills the numbered placeholders "{1}", "{2}", ... of a catalogue message.
#include "platform/String.h"
#include <cstdint>

namespace Applications::Commands::Scrivlet {

class StringFormatter : public virtual RefCount {
  public:
    static Ref<StringFormatter> create(const Ref<String>& text);
    virtual StringFormatter& arg(uint64_t number, uint64_t radix) = 0;
    virtual StringFormatter& arg(const Ref<String>& value) = 0;
    virtual Ref<String> result() = 0;
};

class StringFormatterObj : public Object, public StringFormatter {
  public:
    explicit StringFormatterObj(const Ref<String>& text) : m_text(text) {}
    StringFormatter& arg(uint64_t number, uint64_t radix) override;
    StringFormatter& arg(const Ref<String>& value) override;
    Ref<String> result() override { return m_text; }

  private:
    Ref<String> m_text;
    uint64_t m_next = 1;
};

// The message with {1} = value.
Ref<String> formatMessage(const Ref<String>& text, const Ref<String>& value);
// The message with {1} = value and {2}/{3} = code in radix 16 and 10.
Ref<String> formatMessage(const Ref<String>& text, const Ref<String>& value, uint32_t code);
// The message with {1}/{2} = code in radix 16 and 10.
Ref<String> formatCode(const Ref<String>& text, uint32_t code);

} // namespace Applications::Commands::Scrivlet
