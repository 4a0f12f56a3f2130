// The command-line library: the option-table parser and the colour printer of the help screen,
// the same on every host; the printer writes through the installed console.
#include "Commandline.h"
#include "ConsoleService.h"
#include "System.h"

namespace Libraries::Commandline {
namespace Parameters {

Ref<Parser> Parser::create(const char* shortPrefix, const char* longPrefix, const char* separator, unsigned) {
    Ref<Parser> parser(new Parser);
    parser->m_short = shortPrefix;
    parser->m_long = longPrefix;
    parser->m_separator = separator;
    return parser;
}

void Parser::registerTable(const OptionEntry* table, size_t rows) {
    m_table = table;
    m_rows = rows;
}

const OptionEntry* Parser::findLong(const std::string& name) const {
    for (size_t i = 0; i < m_rows; i++)
        if (m_table[i].kind != 4 && m_table[i].longName && m_table[i].longName->equals(name))
            return &m_table[i];
    return nullptr;
}

const OptionEntry* Parser::findShort(char c) const {
    for (size_t i = 0; i < m_rows; i++)
        if (m_table[i].kind != 4 && m_table[i].shortName == static_cast<unsigned char>(c)) return &m_table[i];
    return nullptr;
}

const OptionEntry* Parser::findPositional(uint64_t position) const {
    for (size_t i = 0; i < m_rows; i++)
        if (m_table[i].kind == 4 && m_table[i].position == position) return &m_table[i];
    return nullptr;
}

bool Parser::parse(Handler& handler) {
    return parse(handler, Proc::arguments());
}

bool Parser::parse(Handler& handler, const std::vector<std::string>& args) {
    uint64_t positional = 0;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        Ref<String> text = String::create(a);
        if (!optionsEnded && a == m_long) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && a.size() > m_long.size() && a.compare(0, m_long.size(), m_long) == 0) {
            std::string body = a.substr(m_long.size());
            size_t eq = body.find(m_separator);
            const OptionEntry* e = findLong(body.substr(0, eq));
            if (!e) return false;
            Ref<String> value;
            if (e->kind == 0) {
                if (eq != std::string::npos) return false;
            } else if (eq != std::string::npos) {
                value = String::create(body.substr(eq + m_separator.size()));
            } else if (i + 1 < args.size()) {
                value = String::create(args[++i]);
            }
            if (!handler.handle(e->id, text, value)) return false;
            continue;
        }
        if (!optionsEnded && a.size() > m_short.size() && a.compare(0, m_short.size(), m_short) == 0) {
            // Short switches may be grouped ("-hs"); a short option takes the rest or the next argument.
            for (size_t k = m_short.size(); k < a.size(); k++) {
                const OptionEntry* e = findShort(a[k]);
                if (!e) return false;
                if (e->kind == 0) {
                    if (!handler.handle(e->id, text, {})) return false;
                    continue;
                }
                Ref<String> value;
                if (k + 1 < a.size())
                    value = String::create(a.substr(k + 1));
                else if (i + 1 < args.size())
                    value = String::create(args[++i]);
                if (!handler.handle(e->id, text, value)) return false;
                break;
            }
            continue;
        }
        const OptionEntry* e = findPositional(++positional);
        if (!e || !handler.handle(e->id, text, text)) return false;
    }
    return true;
}

} // namespace Parameters

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

constexpr const char* ansiReset = "\x1b[0m";

// The attribute word pairs of the help screen name foreground colours; anything else is bold.
const char* ansiFor(char16_t kind, char16_t a) {
    if (kind == 0xEFFC) return "\x1b[1;4m";
    if (a == 0x0FF0) return "\x1b[1;36m";
    if (a == 0x00FF) return "\x1b[1;33m";
    if (a == 0x00F0) return "\x1b[32m";
    return "\x1b[1m";
}

CharPrinter printer;

} // namespace

// The text with its colour markers made ANSI colours (or dropped), in UTF-8.
static std::string renderMarkers(const std::u16string& text, bool colour) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        char16_t c = text[i];
        if (c == 0xEFFC || c == 0xEFFD) {
            size_t words = c == 0xEFFC ? 4 : 2;
            if (colour && i + 1 < text.size()) out += ansiFor(c, text[i + 1]);
            i += words;
        } else if (c == 0xEFFE) {
            if (colour) out += ansiReset;
        } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00));
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

CharPrinter& colorPrn(const std::u16string& text) {
    service<ConsoleService>().write(renderMarkers(text, service<ConsoleService>().colour()));
    return printer;
}

CharPrinter& CharPrinter::endl() {
    if (service<ConsoleService>().colour()) service<ConsoleService>().write(ansiReset);
    service<ConsoleService>().write("\n");
    return *this;
}

} // namespace Libraries::Commandline
