#include "platform/Text.h"
#include <cctype>

namespace StrConv {

bool num(const Ref<String>& text, uint64_t& value) {
    if (isEmpty(text)) return false;
    std::string_view s = text->str();
    unsigned radix = 10;
    size_t start = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        radix = 16;
        start = 2;
    }
    uint64_t result = 0;
    for (size_t i = start; i < s.size(); i++) {
        int c = std::tolower(static_cast<unsigned char>(s[i]));
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (radix == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return false;
        if (result > (UINT64_MAX - digit) / radix) return false;
        result = result * radix + digit;
    }
    value = result;
    return true;
}

Ref<String> str(uint64_t value, unsigned radix, unsigned digits) {
    if (radix < 2 || radix > 36) radix = 10;
    std::string out;
    do {
        unsigned d = static_cast<unsigned>(value % radix);
        out.insert(out.begin(), static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10));
        value /= radix;
    } while (value);
    if (out.size() < digits) out.insert(0, digits - out.size(), '0');
    return String::create(std::move(out));
}

} // namespace StrConv

namespace StringUtil {

std::vector<Ref<String>> split(const Ref<String>& text, char separator, unsigned limit, bool honourQuotes,
                               char escape, char quote) {
    std::vector<Ref<String>> parts;
    if (!text) return parts;
    std::string_view s = text->str();
    std::string current;
    bool quoted = false;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        if (honourQuotes && c == escape && i + 1 < s.size()) {
            current += s[++i];
        } else if (honourQuotes && c == quote) {
            quoted = !quoted;
        } else if (c == separator && !quoted && (limit == 0 || parts.size() + 1 < limit)) {
            parts.push_back(String::create(std::move(current)));
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(String::create(std::move(current)));
    return parts;
}

Ref<String> replace(const Ref<String>& text, const std::vector<Ref<String>>& from,
                    const std::vector<Ref<String>>& to, unsigned) {
    if (!text) return text;
    std::string_view s = text->str();
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        bool replaced = false;
        for (size_t k = 0; k < from.size() && k < to.size(); k++) {
            const std::string& f = stdString(from[k]);
            if (!f.empty() && s.compare(i, f.size(), f) == 0) {
                out += stdString(to[k]);
                i += f.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += s[i++];
    }
    return String::create(std::move(out));
}

Ref<String> replace(const Ref<String>& text, const char* from, const Ref<String>& to, unsigned option) {
    return replace(text, {String::create(from)}, {to ? to : String::create("")}, option);
}

bool startsWith(const Ref<String>& text, const Ref<String>& prefix, bool ignoreCase) {
    if (!text || !prefix || prefix->length() > text->length()) return false;
    for (size_t i = 0; i < prefix->length(); i++) {
        char a = text->at(i), b = prefix->at(i);
        if (ignoreCase) {
            a = static_cast<char>(std::tolower(static_cast<unsigned char>(a)));
            b = static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
        }
        if (a != b) return false;
    }
    return true;
}

Ref<String> valueOf(const Ref<String>& line, const char* key) {
    for (const Ref<String>& part : split(line, ' ', 0)) {
        std::vector<Ref<String>> pieces = split(part, '=', 2);
        if (pieces.size() == 2 && pieces[0]->equals(key)) return pieces[1];
    }
    return {};
}

} // namespace StringUtil

Ref<CharReader> CharReader::create(const Ref<Services::Filesystem::Client::File>& stream, unsigned) {
    if (!stream) {
        Error::set(Errors::NotFound);
        return {};
    }
    return Ref<CharReader>(new CharReader(stream));
}

bool CharReader::fill() {
    // What was handed out already goes, so the buffer never grows with the lines read.
    m_buffer.erase(0, m_start);
    m_scanned -= m_start;
    m_start = 0;
    char chunk[64 * 1024];
    size_t n = m_file->readBytes(chunk, sizeof chunk);
    if (n == 0) m_eof = true;
    m_buffer.append(chunk, n);
    return n > 0;
}

Ref<String> CharReader::readLine() {
    for (;;) {
        // Each byte is looked at once, however long the line: the search goes on where it stopped.
        size_t lf = m_buffer.find('\n', m_scanned);
        if (lf != std::string::npos) {
            Ref<String> line = String::create(m_buffer.substr(m_start, lf - m_start));
            m_start = m_scanned = lf + 1;
            return line;
        }
        m_scanned = m_buffer.size();
        if (m_eof || !fill()) break;
    }
    if (m_start >= m_buffer.size()) return {};
    Ref<String> last = String::create(m_buffer.substr(m_start));
    m_start = m_scanned = m_buffer.size();
    return last;
}
