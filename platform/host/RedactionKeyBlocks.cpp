#include "RedactionKeyBlocks.h"
#include <cstring>

namespace Redaction::KeyBlocks {

namespace {

constexpr const char* keyBlockStart = "-----BEGIN ";
constexpr const char* keyBlockEnd = "-----END ";
constexpr const char* keyBlockLabel = "PRIVATE KEY-----";

} // namespace

// Every chunk of a log is searched for the label: its 'Y', rare in logs, is looked for (memchr,
// several times faster than memmem) and the rest compared.
size_t findLabel(std::string_view text) {
    const std::string_view label = keyBlockLabel;
    const size_t y = label.find('Y');
    for (size_t at = y; at < text.size();) {
        const void* found = std::memchr(text.data() + at, 'Y', text.size() - at);
        if (!found) break;
        at = static_cast<size_t>(static_cast<const char*>(found) - text.data());
        if (text.compare(at - y, label.size(), label) == 0) return at - y;
        at++;
    }
    return std::string_view::npos;
}

size_t findLastLabel(std::string_view text) {
    size_t last = std::string_view::npos;
    for (size_t at = findLabel(text); at != std::string_view::npos;) {
        last = at;
        size_t next = findLabel(text.substr(at + 1));
        at = next == std::string_view::npos ? next : at + 1 + next;
    }
    return last;
}

size_t beginsIn(std::string_view line) {
    size_t label = line.find(keyBlockLabel);
    if (label == std::string_view::npos) return label;
    return line.rfind(keyBlockStart, label);
}

size_t endsIn(std::string_view text) {
    size_t end = text.find(keyBlockEnd);
    size_t label = end == std::string_view::npos ? end : text.find(keyBlockLabel, end);
    return label == std::string_view::npos ? label : label + std::string_view(keyBlockLabel).size();
}

std::string trimmed(std::string_view text) {
    size_t first = text.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

size_t chunkEnd(std::string_view text, size_t largestBlock) {
    size_t lastFeed = text.rfind('\n');
    if (lastFeed == std::string_view::npos) return 0;
    size_t candidate = lastFeed + 1;
    // The last label before the end: a block left open there moves to the next chunk.
    size_t label = findLastLabel(text.substr(0, lastFeed));
    if (label == std::string_view::npos) return candidate;
    size_t lineStart = text.rfind('\n', label);
    lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    std::string_view line = text.substr(lineStart, label - lineStart);
    bool opens = line.find(keyBlockEnd) == std::string_view::npos &&
                 line.find(keyBlockStart) != std::string_view::npos;
    if (!opens || candidate - lineStart >= largestBlock) return candidate;
    return lineStart;
}

} // namespace Redaction::KeyBlocks
