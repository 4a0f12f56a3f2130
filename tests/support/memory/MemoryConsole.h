#pragma once
// A console that keeps what is written, and shows colours when a test says it does.
#include "platform/ConsoleService.h"
#include <string>

class MemoryConsole : public ConsoleService {
  public:
    explicit MemoryConsole(bool colour) : m_colour(colour) {}
    void write(std::string_view text) override { m_text += text; }
    void flush() override { m_flushed = m_text.size(); }
    bool colour() override { return m_colour; }
    const std::string& text() const { return m_text; }
    // How much of the text had been flushed.
    size_t flushed() const { return m_flushed; }

  private:
    bool m_colour;
    std::string m_text;
    size_t m_flushed = 0;
};
