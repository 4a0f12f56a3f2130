#pragma once
// Text library of the hosted platform: numbers, splitting and replacing, and a line reader.
#include "Filesystem.h"
#include "String.h"
#include <cstdint>
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
// The value of `key` in a line of blank-separated "key=value" parts, such as the boot parameters:
// the first part that splits at its "=" into `key` and a value wins; a bare `key` does not count.
Ref<String> valueOf(const Ref<String>& line, const char* key);
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
