#pragma once
// Text, console and catalogue libraries of the hosted platform.
#include "Filesystem.h"
#include "String.h"
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace StrConv {
// Parses an unsigned decimal number (or 0x-prefixed hexadecimal); false for anything else.
bool num(const Ref<String>& text, uint64_t& value);
// Digits of `value` in `radix` (upper-case letters), padded with zeros to at least `digits`.
Ref<String> str(uint64_t value, unsigned radix = 10, unsigned digits = 0);
} // namespace StrConv

namespace StringUtil {
// Splits at `separator` into at most `limit` parts (0: no limit). With `honourQuotes`, separators
// between quote characters and after the escape character do not split, and the quote and escape
// characters themselves are dropped from the parts.
std::vector<Ref<String>> split(const Ref<String>& text, char separator, unsigned limit,
                               bool honourQuotes = false, char escape = '\\', char quote = '"');
// Replaces, in one pass from left to right, every occurrence of each `from[i]` by `to[i]`.
Ref<String> replace(const Ref<String>& text, const std::vector<Ref<String>>& from,
                    const std::vector<Ref<String>>& to, unsigned option);
// Replaces every occurrence of one text by another.
Ref<String> replace(const Ref<String>& text, const char* from, const Ref<String>& to, unsigned option);
bool startsWith(const Ref<String>& text, const Ref<String>& prefix, bool ignoreCase);
} // namespace StringUtil

// Reads a file line by line (without the line feed).
class CharReader : public Object {
  public:
    static Ref<CharReader> create(const Ref<Services::Filesystem::Client::File>& stream, unsigned encoding);
    // The next line, or empty at the end of the file.
    Ref<String> readLine();

  private:
    explicit CharReader(Ref<Services::Filesystem::Client::File> file) : m_file(std::move(file)) {}
    bool fill();
    Ref<Services::Filesystem::Client::File> m_file;
    std::string m_buffer;
    size_t m_start = 0;   // where the next line starts
    size_t m_scanned = 0; // how far the buffer is known to hold no line feed
    bool m_eof = false;
};

// Standard output of the process.
class StdIO {
  public:
    class Printer {
      public:
        Printer& operator<<(const char* text);
        Printer& operator<<(const Ref<String>& text);
        Printer& endl();
    };
    static Printer& stdOutPrinter();
};

namespace Libraries::Environment {
namespace Locale {
Ref<String> currentLanguage();
}
namespace Release {
unsigned stage();
}
} // namespace Libraries::Environment

// A message catalogue: English is built in (the key is the text); another language is read from
// "<catalogue dir>/<name>.<language>.json", an object from English key to translated text.
class I18N : public Object {
  public:
    static Ref<I18N> create(const char* name, const char* major, const char* minor, const char* language,
                            unsigned stage);
    Ref<String> lookup(const char* key, unsigned number) const;

  private:
    I18N() = default;
    std::map<std::string, std::string> m_texts;
};
