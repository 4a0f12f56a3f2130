#pragma once
// Redaction of the system log before it leaves the machine: addresses, names, e-mail addresses and
// secrets replaced, line by line, by placeholders that stay the same for the same value within the
// run ("ipv4-0001", "host-0001", "secret-0001"), so that the log stays readable. The mapping back
// is kept by the caller, on this machine only.
#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Redaction {

// What to redact beyond the shapes every log is searched for.
struct Rules {
    struct Pattern {
        std::string kind; // the placeholder's prefix: lowercase letters and digits
        std::string
            regex; // RE2 syntax; a group named "v" ((?P<v>...)), when there is one, is what is replaced
    };
    std::vector<Pattern> patterns;
    std::vector<std::string> words;     // redacted wherever they stand as words ("word-0001")
    std::vector<std::string> keep;      // values never replaced, whatever shape they have
    std::vector<std::string> hostNames; // the host's own names and domain
    std::vector<std::string> userNames; // local users
    std::vector<std::string> homes;     // their home directories
};

// Whether `regex` can be used as an extra pattern; `problem` says why not (with the offset).
bool patternUsable(const std::string& regex, std::string& problem);
// Whether `kind` can prefix a placeholder.
bool kindUsable(const std::string& kind);

// The host's own names and domain (the node name, /etc/hostname, the aliases /etc/hosts gives the
// host, the domains /etc/resolv.conf searches) and its people (accounts of uid 1000 and above, the
// user running the program, and their home directories), added to `rules`.
void addHostFacts(Rules& rules);

// Redacts text. Several threads may redact chunks of one log at once: the placeholders are shared,
// what each thread has worked out is its own.
class Redactor {
  public:
    // Null, with the reason, when a pattern cannot be compiled.
    static std::unique_ptr<Redactor> create(const Rules& rules, std::string& problem);
    ~Redactor();
    Redactor(const Redactor&) = delete;
    Redactor& operator=(const Redactor&) = delete;

    // Redacts whole lines (each ending in a line feed; the last may not) in place. A private-key
    // block is one placeholder, on the line it began; a chunk begins outside one (see chunkEnd).
    void redactChunk(std::string& text);
    // The text redacted, as a copy.
    std::string redacted(std::string_view text);
    // Where a chunk of `text` may end: after its last line feed, or before a private-key block still
    // open there; 0 when neither is possible yet.
    static size_t chunkEnd(std::string_view text);
    // A block is at most this long: past it, it is no key, and it ends.
    static constexpr size_t largestKeyBlock = 1 << 20;

    struct Mapping {
        std::string placeholder, value;
    };
    // Every value replaced so far in the run, as first met (asked when no chunk is being redacted).
    const std::vector<Mapping>& mappings() const { return m_mappings; }
    // How many distinct values of each kind were replaced since the last resetCounts.
    std::map<std::string, size_t> counts() const;
    void resetCounts();

  private:
    struct Compiled;
    struct Found;
    struct Scratch;
    struct KeyBlock;
    struct Ahead;
    struct Assigned {
        std::string kind;
        bool seen = false; // since the last resetCounts
    };
    explicit Redactor(std::unique_ptr<Compiled> compiled, std::vector<std::string> keep);
    size_t assign(const std::string& kind, const std::string& value);
    void count(Found& found, const std::string& value);
    std::string placeholderOf(const std::string& kind, const std::string& value);
    Found identify(std::string_view text, size_t start, Scratch& scratch) const;
    Found& lookUp(std::string_view text, size_t start, std::string_view matched, bool contested,
                  Found& uncached, Scratch& scratch) const;
    size_t nextAutomatonMatch(std::string_view text, size_t at, size_t& length, Scratch& scratch) const;
    std::string_view nextMatch(std::string_view text, size_t at, std::vector<Ahead>& ahead, bool& contested,
                               Scratch& scratch) const;
    void redactText(std::string_view text, std::string& out, Scratch& scratch);
    bool redactLine(KeyBlock& block, std::string_view line, size_t lineStart, std::string& out,
                    Scratch& scratch);
    bool continueKeyBlock(KeyBlock& block, std::string_view line, size_t lineEnd, std::string& out,
                          Scratch& scratch);
    std::unique_ptr<Scratch> takeScratch();
    void giveBack(std::unique_ptr<Scratch> scratch);

    const std::unique_ptr<const Compiled> m_compiled;
    const std::vector<std::string> m_keep;
    mutable std::mutex m_mutex;                                              // guards what follows
    std::map<std::string, std::unordered_map<std::string, size_t>> m_byKind; // kind -> value -> mapping
    std::vector<Mapping> m_mappings;
    std::vector<Assigned> m_assigned; // beside each mapping
    std::atomic<unsigned> m_generation{0};
    std::vector<std::unique_ptr<Scratch>> m_scratches;
};

// The first line of a redacted log: that it was redacted, and how many values of each kind.
std::string summaryLine(const std::map<std::string, size_t>& counts);

} // namespace Redaction
