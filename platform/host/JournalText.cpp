#include "JournalText.h"
#include "Utf8.h"
#include <charconv>
#include <cstring>
#include <ctime>

namespace Journal {
namespace {

// A field this long or longer is not shown.
constexpr size_t longestShownField = 300;
// Tabs are widened to this many spaces, wherever they stand.
constexpr size_t tabSpaces = 8;
constexpr char escape = '\x1b', bell = '\a';
constexpr const char* unknownName = " unknown";
// Times from this one on cannot be written with a four-digit year.
constexpr uint64_t latestFormattableUsec = 253402300799999999ULL;

// Surrogates and the noncharacters (U+FDD0 to U+FDEF, and the last two of every plane) are not
// characters one may show.
bool isValidCharacter(char32_t c) {
    return c < 0x110000 && (c & 0xFFFFF800) != 0xD800 && !(c >= 0xFDD0 && c <= 0xFDEF) &&
           (c & 0xFFFE) != 0xFFFE;
}

bool isPrintableCharacter(char32_t c) {
    if (c < 0x20) return c == '\t' || c == '\n';
    return !(c >= 0x7F && c <= 0x9F) && isValidCharacter(c);
}

bool isShown(const std::optional<std::string_view>& field) {
    return field && field->size() < longestShownField && isPrintableUtf8(*field);
}

std::string timestamp(const EntryFields& entry) {
    uint64_t usec = entry.realtimeUsec;
    if (entry.sourceRealtime) {
        uint64_t sender = 0;
        std::string_view text = *entry.sourceRealtime;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), sender);
        if (error == std::errc() && end == text.data() + text.size() && sender > 0 &&
            sender < latestFormattableUsec)
            usec = sender;
    }
    time_t seconds = static_cast<time_t>(usec / 1000000);
    struct tm local {};
    localtime_r(&seconds, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
    return stamp;
}

// The message after its prefix; its later lines indented by `indent` (a final line feed ends the
// message and starts no line).
void appendMessage(std::string& out, std::string_view message, size_t indent) {
    for (size_t start = 0;;) {
        size_t end = message.find('\n', start);
        out.append(message.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos || end + 1 == message.size()) break;
        out.append(1, '\n').append(indent, ' ');
        start = end + 1;
    }
    out += '\n';
}

} // namespace

bool isPrintableUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        char32_t code = 0;
        size_t length = Utf8::decode(text, at, code);
        if (length == 0 || !isPrintableCharacter(code)) return false;
        at += length;
    }
    return true;
}

std::string withoutTabsAndColours(std::string_view text) {
    // Read as journalctl reads it: carriage returns ending a line dropped; Esc and the next character are
    // kept together unless they begin a colour sequence (ESC [ digits and ; m) or a title (ESC ] printable
    // ASCII BEL), which are dropped whole; a sequence that turns out to be neither keeps its two first
    // characters and the rest is read again as text.
    enum class State { Text, Escape, Colour, Title };
    std::string out;
    out.reserve(text.size());
    State state = State::Text;
    size_t begin = 0;
    for (size_t at = 0; at <= text.size(); at++) {
        bool end = at == text.size();
        char c = end ? '\0' : text[at];
        auto abandon = [&](char kind) {
            out.append(1, escape).append(1, kind);
            state = State::Text;
            at = begin - 1;
        };
        switch (state) {
        case State::Text:
            if (end) break;
            if (c == escape) {
                state = State::Escape;
            } else if (size_t run = text.find_first_not_of('\r', at);
                       c == '\r' && (run == std::string_view::npos || text[run] == '\n')) {
                // Carriage returns that end a line go.
                at = (run == std::string_view::npos ? text.size() : run) - 1;
            } else if (c == '\t')
                out.append(tabSpaces, ' ');
            else
                out += c;
            break;
        case State::Escape:
            if (end) {
                out += escape;
            } else if (c == '[' || c == ']') {
                state = c == '[' ? State::Colour : State::Title;
                begin = at + 1;
            } else {
                out.append(1, escape).append(1, c);
                state = State::Text;
            }
            break;
        case State::Colour:
            if (end || !((c >= '0' && c <= '9') || c == ';' || c == 'm'))
                abandon('[');
            else if (c == 'm')
                state = State::Text;
            break;
        case State::Title:
            if (end || (c != bell && static_cast<unsigned char>(c) < 0x20) ||
                static_cast<unsigned char>(c) > 0x7E)
                abandon(']');
            else if (c == bell)
                state = State::Text;
            break;
        }
    }
    return out;
}

std::string blobSize(uint64_t bytes) {
    static constexpr const char* units[] = {"E", "P", "T", "G", "M", "K"};
    constexpr unsigned largestShift = 60, unitShift = 10;
    for (unsigned i = 0; i < std::size(units); i++) {
        unsigned shift = largestShift - unitShift * i;
        uint64_t factor = 1ULL << shift;
        if (bytes < factor) continue;
        // The tenths from the next smaller unit's whole count, as journalctl reckons them.
        uint64_t tenths = (bytes >> (shift - unitShift)) * 10 / 1024 % 10;
        return std::to_string(bytes >> shift) + "." + std::to_string(tenths) + units[i];
    }
    return std::to_string(bytes) + "B";
}

std::optional<std::string> shortIsoText(const EntryFields& entry) {
    if (!entry.message) return std::nullopt;
    std::string out = timestamp(entry);
    if (isShown(entry.hostname)) out.append(1, ' ').append(*entry.hostname);
    // journalctl leaves a stand-in name out of the width it indents later lines by.
    size_t uncounted = 0;
    if (isShown(entry.identifier)) {
        out.append(1, ' ').append(*entry.identifier);
    } else if (isShown(entry.command)) {
        out.append(1, ' ').append(*entry.command);
    } else {
        out += unknownName;
        uncounted = std::strlen(unknownName);
    }
    if (isShown(entry.pid))
        out.append(1, '[').append(*entry.pid).append(1, ']');
    else if (isShown(entry.syslogPid))
        out.append(1, '[').append(*entry.syslogPid).append(1, ']');
    out += ": ";
    std::string message = withoutTabsAndColours(*entry.message);
    if (isPrintableUtf8(message))
        appendMessage(out, message, out.size() - uncounted);
    else
        out += "[" + blobSize(message.size()) + " blob data]\n";
    return out;
}

} // namespace Journal
