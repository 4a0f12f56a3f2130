#include "Redaction.h"
#include "RedactionKeyBlocks.h"
#include "RedactionShapes.h"
#include "RedactionSieve.h"
#include "RedactionWords.h"
#include <algorithm>
#include <cstdio>
#include <re2/re2.h>
#include <set>
#include <unordered_map>

namespace Redaction {
namespace {

using namespace Shapes;
using namespace KeyBlocks;

// Hashes a text or a view of one, so that a match is looked up without a copy.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

} // namespace

// The shapes as one pattern, an alternative per shape, which finds where the next value may be in
// one pass of a linear-time automaton; then the shape that matched there, each on its own.
struct Redactor::Compiled {
    struct Rule {
        Shape shape;
        std::string kind;
        std::unique_ptr<RE2> pattern;
        int value = 0; // the group replaced, or 0 for the whole match
        // The bytes a match can begin with lie in [first, last]: the others are not tried.
        unsigned char first = 0, last = 0xff;
        bool mayBeginWith(char c) const {
            auto byte = static_cast<unsigned char>(c);
            return byte >= first && byte <= last;
        }
    };
    std::vector<Rule> rules;
    std::unique_ptr<RE2> anyRule;        // every shape that has no finder of its own
    std::vector<Shapes::Finder> finders; // the others'
    // Whether what a match is depends on its text alone: the built-in shapes have no anchors or
    // word boundaries; a configured pattern may.
    bool cacheable = true;
    // Whether the sieve knows every shape the automaton searches for: then it searches only the
    // lines the sieve finds a place in.
    bool sieved = true;
    size_t mostGroups = 1; // as many as the rule with the most has, and the whole

    void addRules(const Rules& given);
    bool compile(std::string& problem);

  private:
    void add(Shape shape, std::string kind);
    bool compileRule(Rule& rule, std::string& problem);
};

bool patternUsable(const std::string& regex, std::string& problem) {
    RE2 pattern(regex, patternOptions());
    if (!pattern.ok()) problem = pattern.error();
    return pattern.ok();
}

bool kindUsable(const std::string& kind) {
    return !kind.empty() && kind.size() <= 32 && std::all_of(kind.begin(), kind.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

std::unique_ptr<Redactor> Redactor::create(const Rules& rules, std::string& problem) {
    auto compiled = std::make_unique<Compiled>();
    compiled->addRules(rules);
    if (!compiled->compile(problem)) return nullptr;
    std::vector<std::string> keep = rules.keep;
    std::sort(keep.begin(), keep.end());
    return std::unique_ptr<Redactor>(new Redactor(std::move(compiled), std::move(keep)));
}

void Redactor::Compiled::add(Shape shape, std::string kind) {
    Rule rule;
    rule.shape = std::move(shape);
    rule.kind = std::move(kind);
    rules.push_back(std::move(rule));
}

// The rules in the order they are tried.
void Redactor::Compiled::addRules(const Rules& given) {
    // The configuration's own patterns first: they say what the built-in shapes would miss.
    for (const Rules::Pattern& pattern : given.patterns) {
        Shape own;
        own.regex = pattern.regex;
        add(std::move(own), pattern.kind);
    }
    cacheable = given.patterns.empty();
    for (Shape& shape : builtInShapes()) {
        // The names of the host and its people go before addresses, after secrets and e-mail.
        if (std::string_view(shape.kind) == "mac") {
            if (!given.homes.empty()) add(wordsShape("home", given.homes, false), "home");
            if (!given.hostNames.empty()) add(wordsShape("host", given.hostNames, true), "host");
            if (!given.userNames.empty()) add(wordsShape("user", given.userNames, false), "user");
            if (!given.words.empty()) add(wordsShape("word", given.words, true), "word");
        }
        std::string kind = shape.kind;
        add(std::move(shape), kind);
    }
}

// A rule's own pattern, the group it replaces and the bytes its matches can begin with.
bool Redactor::Compiled::compileRule(Rule& rule, std::string& problem) {
    rule.pattern = std::make_unique<RE2>(rule.shape.regex, patternOptions());
    if (!rule.pattern->ok()) {
        problem = rule.pattern->error();
        return false;
    }
    const std::map<std::string, int>& names = rule.pattern->NamedCapturingGroups();
    auto value = names.find("v");
    rule.value = value == names.end() ? 0 : value->second;
    std::string lowest, highest;
    if (rule.pattern->PossibleMatchRange(&lowest, &highest, 1) && !lowest.empty() && !highest.empty()) {
        rule.first = static_cast<unsigned char>(lowest[0]);
        rule.last = static_cast<unsigned char>(highest[0]);
    }
    mostGroups = std::max<size_t>(mostGroups, rule.value + 1);
    return true;
}

// Every rule compiled, and the ways to find where the next value may be: the finders of the shapes
// that have one, one finder for the words of every kind, and one automaton for the rest.
bool Redactor::Compiled::compile(std::string& problem) {
    std::vector<Word> words;
    for (const Rule& rule : rules)
        words.insert(words.end(), rule.shape.words.begin(), rule.shape.words.end());
    Finder findWords = words.empty() ? Finder() : Shapes::wordFinder(std::move(words));
    bool wordsFound = false;
    std::string combined;
    for (Rule& rule : rules) {
        if (!compileRule(rule, problem)) return false;
        if (rule.shape.finder) {
            finders.push_back(rule.shape.finder);
            continue;
        }
        if (findWords && !rule.shape.words.empty()) {
            // The first shape of words brings the finder of them all.
            if (!wordsFound) finders.push_back(findWords);
            wordsFound = true;
            continue;
        }
        sieved = sieved && rule.shape.sieved;
        const std::string& finds = rule.shape.lead.empty() ? rule.shape.regex : rule.shape.lead;
        combined += (combined.empty() ? "(?:" : "|(?:") + finds + ")";
    }
    anyRule = std::make_unique<RE2>(combined, patternOptions());
    if (!anyRule->ok()) {
        problem = anyRule->error();
        return false;
    }
    return true;
}

Redactor::Redactor(std::unique_ptr<Compiled> compiled, std::vector<std::string> keep)
    : m_compiled(std::move(compiled)), m_keep(std::move(keep)) {}

Redactor::~Redactor() = default;

// What the search found at a place: the rule, the part replaced, and its placeholder once it was
// replaced somewhere. A log says the same things again and again; each is worked out once.
struct Redactor::Found {
    const Compiled::Rule* rule = nullptr;
    size_t matchLength = 0;
    size_t valueOffset = 0, valueLength = 0; // within the match
    bool replaced = false;                   // a value, and not one to keep
    size_t assigned = unassigned;
    std::string placeholder;
    unsigned counted = 0; // the count generation it was last counted in
    static constexpr size_t unassigned = ~size_t(0);
};

// What one thread's redaction keeps to itself.
struct Redactor::Scratch {
    std::unordered_map<std::string, Found, TextHash, std::equal_to<>> known; // match -> what it is
    std::vector<re2::StringPiece> groups;
    // The search of its own: an automaton shared by threads takes a shared lock on every search,
    // whose cache line the cores pass to and fro on every value found.
    std::unique_ptr<RE2> anyRule;
};

// A private-key block met in a chunk: its text so far, and where and after what it began.
struct Redactor::KeyBlock {
    bool open = false;
    size_t began = 0; // offset of its first line in the chunk
    std::string lead; // the first line's text before the block, redacted
    std::string text;
};

size_t Redactor::assign(const std::string& kind, const std::string& value) {
    std::unordered_map<std::string, size_t>& values = m_byKind[kind];
    auto found = values.find(value);
    if (found == values.end()) {
        char name[64];
        std::snprintf(name, sizeof name, "%s-%04zu", kind.c_str(), values.size() + 1);
        found = values.emplace(value, m_mappings.size()).first;
        m_mappings.push_back({name, value});
        m_assigned.push_back({kind, false});
    }
    return found->second;
}

void Redactor::count(Found& found, const std::string& value) {
    std::lock_guard lock(m_mutex);
    if (found.assigned == Found::unassigned) {
        found.assigned = assign(found.rule->kind, value);
        found.placeholder = m_mappings[found.assigned].placeholder;
    }
    m_assigned[found.assigned].seen = true;
    found.counted = m_generation.load();
}

std::string Redactor::placeholderOf(const std::string& kind, const std::string& value) {
    std::lock_guard lock(m_mutex);
    size_t assigned = assign(kind, value);
    m_assigned[assigned].seen = true;
    return m_mappings[assigned].placeholder;
}

std::map<std::string, size_t> Redactor::counts() const {
    std::lock_guard lock(m_mutex);
    std::map<std::string, size_t> counts;
    for (const Assigned& assigned : m_assigned)
        if (assigned.seen) counts[assigned.kind]++;
    return counts;
}

void Redactor::resetCounts() {
    std::lock_guard lock(m_mutex);
    for (Assigned& assigned : m_assigned)
        assigned.seen = false;
    m_generation++;
}

Redactor::Found Redactor::identify(std::string_view text, size_t start, Scratch& scratch) const {
    re2::StringPiece subject(text.data(), text.size());
    re2::StringPiece* groups = scratch.groups.data();
    Found found;
    // The first shape that matches where the search stopped is the one that stopped it.
    for (const Compiled::Rule& candidate : m_compiled->rules)
        if (candidate.mayBeginWith(text[start]) &&
            candidate.pattern->Match(subject, start, text.size(), RE2::ANCHOR_START, groups,
                                     candidate.value + 1)) {
            found.rule = &candidate;
            break;
        }
    if (!found.rule) return found;
    re2::StringPiece part =
        found.rule->value && groups[found.rule->value].data() ? groups[found.rule->value] : groups[0];
    found.matchLength = groups[0].size();
    found.valueOffset = static_cast<size_t>(part.data() - (text.data() + start));
    found.valueLength = part.size();
    std::string value(part.data(), part.size());
    found.replaced = !value.empty() && passes(found.rule->shape.check, value) &&
                     !std::binary_search(m_keep.begin(), m_keep.end(), value);
    return found;
}

// What the search found at `start`, from what this thread already knows when the text found tells
// it all (`uncached` otherwise): a shape searched for by its lead alone depends on what follows,
// and where several searches found the same place (`contested`), the text one of them found may be
// only the start of what an earlier shape matches there.
Redactor::Found& Redactor::lookUp(std::string_view text, size_t start, std::string_view matched,
                                  bool contested, Found& uncached, Scratch& scratch) const {
    if (!m_compiled->cacheable || contested) return uncached = identify(text, start, scratch);
    auto cached = scratch.known.find(matched);
    if (cached != scratch.known.end()) return cached->second;
    uncached = identify(text, start, scratch);
    bool wholeMatch =
        uncached.rule && uncached.rule->shape.lead.empty() && uncached.matchLength == matched.size();
    if (!wholeMatch) return uncached;
    constexpr size_t mostKnown = 1 << 16;
    if (scratch.known.size() >= mostKnown) scratch.known.clear();
    return scratch.known.emplace(std::string(matched), uncached).first->second;
}

// Where a search next found something in a text, kept while the redaction has not passed it: a
// search that found nothing ahead is not run again.
struct Redactor::Ahead {
    bool searched = false;
    size_t start = std::string_view::npos, length = 0;
    bool stale(size_t at) const { return !searched || (start != std::string_view::npos && start < at); }
};

// Where the automaton next matches at or after `at`, and how long the match is. No value spans
// lines: with the sieve, only the lines that hold a place it finds are searched, each on its own.
size_t Redactor::nextAutomatonMatch(std::string_view text, size_t at, size_t& length,
                                    Scratch& scratch) const {
    re2::StringPiece subject(text.data(), text.size()), whole;
    for (size_t from = at; from < text.size();) {
        size_t end = text.size();
        if (m_compiled->sieved) {
            size_t suspect = Shapes::nextSuspect(text, from);
            if (suspect == std::string_view::npos) break;
            size_t lineFeed = text.rfind('\n', suspect);
            from = std::max(from, lineFeed == std::string_view::npos ? 0 : lineFeed + 1);
            end = std::min(text.find('\n', suspect), text.size());
        }
        if (scratch.anyRule->Match(subject, from, end, RE2::UNANCHORED, &whole, 1)) {
            length = whole.size();
            return static_cast<size_t>(whole.data() - text.data());
        }
        if (!m_compiled->sieved) break;
        from = end + 1;
    }
    length = 0;
    return std::string_view::npos;
}

// The leftmost place at or after `at` where some shape matches, and the text it matched there: the
// combined pattern's and each finder's next match, whichever begins first (at the same place, the
// shapes are told apart in their order all the same); `contested` when more than one begins there.
std::string_view Redactor::nextMatch(std::string_view text, size_t at, std::vector<Ahead>& ahead,
                                     bool& contested, Scratch& scratch) const {
    const Compiled& c = *m_compiled;
    std::string_view nearest;
    size_t nearestStart = std::string_view::npos;
    contested = false;
    for (size_t i = 0; i < ahead.size(); i++) {
        Ahead& next = ahead[i];
        if (next.stale(at)) {
            next.searched = true;
            next.start = i < c.finders.size() ? c.finders[i](text, at, next.length)
                                              : nextAutomatonMatch(text, at, next.length, scratch);
        }
        if (next.start != std::string_view::npos && next.start == nearestStart) contested = true;
        if (next.start < nearestStart) {
            nearestStart = next.start;
            nearest = text.substr(next.start, next.length);
            contested = false;
        }
    }
    return nearest;
}

void Redactor::redactText(std::string_view text, std::string& out, Scratch& scratch) {
    std::vector<Ahead> ahead(m_compiled->finders.size() + 1);
    size_t at = 0, copied = 0;
    while (at < text.size()) {
        bool contested = false;
        std::string_view matched = nextMatch(text, at, ahead, contested, scratch);
        if (!matched.data()) break;
        size_t start = static_cast<size_t>(matched.data() - text.data());
        Found uncached;
        Found& found = lookUp(text, start, matched, contested, uncached, scratch);
        size_t end = start + found.matchLength;
        if (!found.rule || !found.replaced || !standsApart(found.rule->shape, text, start, end)) {
            // Not this value; a shorter or later one may start just after its first character.
            at = start + 1;
            continue;
        }
        size_t valueStart = start + found.valueOffset;
        if (found.assigned == Found::unassigned || found.counted != m_generation.load())
            count(found, std::string(text.substr(valueStart, found.valueLength)));
        out.append(text.substr(copied, valueStart - copied));
        out += found.placeholder;
        copied = valueStart + found.valueLength;
        at = std::max(end, start + 1);
    }
    out.append(text.substr(copied));
}

// The end of a private-key block: on a line of its own ("-----END ... PRIVATE KEY-----"), or where
// it has grown past largestKeyBlock (it is no key, and is not held whole).
bool Redactor::continueKeyBlock(KeyBlock& block, std::string_view line, size_t lineEnd, std::string& out,
                                Scratch& scratch) {
    size_t ends = endsIn(line);
    bool tooLong = lineEnd - block.began >= largestKeyBlock;
    if (ends == std::string_view::npos && !tooLong) {
        block.text += "\n" + trimmed(line);
        return false;
    }
    size_t after = ends == std::string_view::npos ? 0 : ends;
    if (after) block.text += "\n" + trimmed(line.substr(0, after));
    block.open = false;
    out += block.lead;
    out += placeholderOf("secret", block.text);
    redactText(line.substr(after), out, scratch);
    return true;
}

// One line of a chunk; false when it is held back (inside a private-key block).
bool Redactor::redactLine(KeyBlock& block, std::string_view line, size_t lineStart, std::string& out,
                          Scratch& scratch) {
    if (block.open) return continueKeyBlock(block, line, lineStart + line.size(), out, scratch);
    size_t begin = beginsIn(line);
    if (begin == std::string_view::npos) {
        redactText(line, out, scratch);
        return true;
    }
    std::string lead;
    redactText(line.substr(0, begin), lead, scratch);
    std::string_view rest = line.substr(begin);
    size_t after = endsIn(rest);
    if (after != std::string_view::npos) {
        // The whole block on one line (the store keeps a message's line feeds as spaces).
        out += lead;
        out += placeholderOf("secret", std::string(rest.substr(0, after)));
        redactText(rest.substr(after), out, scratch);
        return true;
    }
    // The block's first line is held back with the others, and given its placeholder at the last.
    block = {true, lineStart, std::move(lead), std::string(rest)};
    return false;
}

std::unique_ptr<Redactor::Scratch> Redactor::takeScratch() {
    std::lock_guard lock(m_mutex);
    if (m_scratches.empty()) {
        auto scratch = std::make_unique<Scratch>();
        scratch->groups.resize(m_compiled->mostGroups);
        scratch->anyRule = std::make_unique<RE2>(m_compiled->anyRule->pattern(), patternOptions());
        return scratch;
    }
    std::unique_ptr<Scratch> scratch = std::move(m_scratches.back());
    m_scratches.pop_back();
    return scratch;
}

void Redactor::giveBack(std::unique_ptr<Scratch> scratch) {
    std::lock_guard lock(m_mutex);
    m_scratches.push_back(std::move(scratch));
}

void Redactor::redactChunk(std::string& text) {
    std::unique_ptr<Scratch> scratch = takeScratch();
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    if (findLabel(text) == std::string_view::npos) {
        // Most text holds no private key: searched whole, not line by line.
        redactText(text, out, *scratch);
    } else {
        KeyBlock block;
        for (size_t at = 0; at < text.size();) {
            size_t feed = text.find('\n', at);
            size_t next = feed == std::string::npos ? text.size() : feed + 1;
            std::string_view line(text.data() + at, (feed == std::string::npos ? text.size() : feed) - at);
            if (redactLine(block, line, at, out, *scratch) && feed != std::string::npos) out += '\n';
            at = next;
        }
        // A block the chunk ends in (the log ended, or it grew too long): what it held is a secret.
        if (block.open) out += block.lead + placeholderOf("secret", block.text) + "\n";
    }
    giveBack(std::move(scratch));
    text.swap(out);
}

std::string Redactor::redacted(std::string_view text) {
    std::string copy(text);
    redactChunk(copy);
    return copy;
}

size_t Redactor::chunkEnd(std::string_view text) {
    return KeyBlocks::chunkEnd(text, largestKeyBlock);
}

std::string summaryLine(const std::map<std::string, size_t>& counts) {
    std::string line = "-- redacted: ";
    bool first = true;
    for (const char* kind : {"ipv4", "ipv6", "mac", "email", "host", "user", "home", "secret"}) {
        auto found = counts.find(kind);
        line += (first ? "" : ", ") + std::to_string(found == counts.end() ? 0 : found->second) + " " + kind;
        first = false;
    }
    for (const auto& [kind, count] : counts) {
        static const std::set<std::string> shown{"ipv4", "ipv6", "mac",  "email",
                                                 "host", "user", "home", "secret"};
        if (!shown.count(kind)) line += ", " + std::to_string(count) + " " + kind;
    }
    return line + " (distinct values replaced by placeholders; the mapping stays on the machine that wrote "
                  "this log) --\n";
}

} // namespace Redaction
