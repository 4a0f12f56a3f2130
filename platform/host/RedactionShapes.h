#pragma once
// The shapes the redaction searches a log for: each a pattern (RE2 syntax), what may not stand
// right before or after a match, and what a match must also be before it is replaced.
#include <functional>
#include <re2/re2.h>
#include <string>
#include <string_view>
#include <vector>

namespace Redaction::Shapes {

enum class Check { None, Ipv4, Ipv6, Email, MixedKey };

// The characters that may not stand right before or right after a match, so that a value is
// found whole and not inside a longer word, number or name. `dotThen` also refuses a dot followed
// by a digit ('d') or by a letter, digit or underscore ('w') after the match.
struct Edge {
    bool word = false; // letters, digits and '_'
    const char* also = "";
    char dotThen = 0;
};

// A hand-written search for where a shape's pattern next matches in `text` at or after `from`:
// the start (npos when nowhere) and, through `length`, how long the match is; the same matches as
// the pattern's, found without an automaton's per-match cost.
using Finder = std::function<size_t(std::string_view text, size_t from, size_t& length)>;

// A word of the host or its people, or a configured one, and whether it is matched in either case.
struct Word {
    std::string text;
    bool ignoreCase = false;
};

struct Shape {
    const char* kind = nullptr;
    std::string regex; // "(?P<v>...)" marks the part replaced; otherwise the whole match
    Edge before, after;
    Check check = Check::None;
    // How a match begins, when the pattern's end can run far (to the end of the line): the search
    // for where the next value may be looks for this alone, so that it never scans a line twice.
    std::string lead = {};
    // When set, finds the shape's matches instead of the pattern (which still tells the value).
    Finder finder = nullptr;
    // Whether every match holds a place the sieve stops at (see RedactionSieve.h).
    bool sieved = false;
    // A shape of words: its words, which one finder finds with those of the other such shapes.
    std::vector<Word> words = {};
};

// The built-in shapes, in the order they are tried at each position.
std::vector<Shape> builtInShapes();
// Words standing alone: not inside a longer name, a path component or a host name's label.
Shape wordsShape(const char* kind, const std::vector<std::string>& words, bool ignoreCase);
// Where "\d{1,3}(?:\.\d{1,3}){3}" next matches: an IPv4 address's shape, the commonest value in a log.
size_t nextDottedQuad(std::string_view text, size_t from, size_t& length);
// Whether the match [start, end) of `text` stands apart as the shape's edges ask.
bool standsApart(const Shape& shape, std::string_view text, size_t start, size_t end);
// Whether a value passes the shape's check.
bool passes(Check check, const std::string& value);
// Whether `text` holds `word` at `at`, ASCII letters in either case (as the patterns' "(?i:...)"
// match them in a log of bytes: no other byte has another case there).
bool holdsIgnoringCase(std::string_view text, size_t at, std::string_view word);
// How every pattern is compiled: bytes, a line at a time, errors not printed.
RE2::Options patternOptions();

} // namespace Redaction::Shapes
