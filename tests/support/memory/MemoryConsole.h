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
    void note(std::string_view line) override { m_notes += std::string(line) + "\n"; }
    const std::string& notes() const { return m_notes; }
    const std::string& text() const { return m_text; }
    // How much of the text had been flushed.
    size_t flushed() const { return m_flushed; }

  private:
    bool m_colour;
    std::string m_text;
    std::string m_notes;
    size_t m_flushed = 0;
};
