#pragma once
// Command-line library of the hosted platform: an option-table parser and the coloured printer of
// the help screen.
#include "String.h"
#include <cstdint>
#include <string>
#include <vector>

namespace Libraries::Commandline {

struct OptionEntry {
    uint64_t id;
    uint64_t position;  // 1-based positional index, 0 for an option
    uint32_t shortName; // 0 for none
    Ref<String> longName;
    uint64_t kind; // 0 switch, 1 option with a value, 4 positional argument
};

namespace Parameters {
class Handler : public virtual RefCount {
  public:
    // Called once per recognised option or positional argument; false rejects it.
    virtual bool handle(uint64_t id, const Ref<String>& text, const Ref<String>& value) = 0;
};

class Parser : public Object {
  public:
    static Ref<Parser> create(const char* shortPrefix, const char* longPrefix, const char* separator,
                              unsigned flags);
    void registerTable(const OptionEntry* table, size_t rows);
    // Parses the process arguments (or the given ones) and reports each option to the handler.
    bool parse(Handler& handler);
    bool parse(Handler& handler, const std::vector<std::string>& arguments);

  private:
    Parser() = default;
    const OptionEntry* findLong(const std::string& name) const;
    const OptionEntry* findShort(char c) const;
    const OptionEntry* findPositional(uint64_t position) const;
    std::string m_short, m_long, m_separator;
    const OptionEntry* m_table = nullptr;
    size_t m_rows = 0;
};
} // namespace Parameters

using Callback = void (*)();
bool initCommandline(unsigned mode, const Ref<Object>& stream, const Ref<Object>& terminal,
                     Callback callbacks, void* context);

// Prints text whose attribute markers select colours: U+EFFC with four attribute words, U+EFFD with
// two, U+EFFE ends the span. On a terminal (and without NO_COLOR) they become ANSI colours;
// otherwise they are dropped.
class CharPrinter {
  public:
    CharPrinter& endl();
};
CharPrinter& colorPrn(const std::u16string& text);

} // namespace Libraries::Commandline
