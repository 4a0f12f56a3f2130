#pragma once
// Redaction of the system log before it leaves the machine: addresses, names, e-mail addresses and
// secrets replaced, line by line, by placeholders that stay the same for the same value within the
// run ("ipv4-0001", "host-0001", "secret-0001"), so that the log stays readable. The mapping back
// is kept by the caller, on this machine only.
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
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

class Redactor {
  public:
    // Null, with the reason, when a pattern cannot be compiled.
    static std::unique_ptr<Redactor> create(const Rules& rules, std::string& problem);
    ~Redactor();
    Redactor(const Redactor&) = delete;
    Redactor& operator=(const Redactor&) = delete;

    // Appends the line (without its line feed) to `out`, redacted; false when the line is held
    // back. A private-key block spans lines: from its first line to its last they are one
    // placeholder, on the line the block began.
    bool redactLine(std::string_view line, std::string& out);
    // Appends whole lines, each ending in a line feed (the last may not), redacted.
    void redactLines(std::string_view lines, std::string& out);
    // Ends a stream: a private-key block left open gives its line, appended to `out`.
    void endStream(std::string& out);

    struct Mapping {
        std::string placeholder, value;
    };
    // Every value replaced so far in the run, in the order first met.
    const std::vector<Mapping>& mappings() const { return m_mappings; }
    // How many distinct values of each kind were replaced since the last resetCounts.
    std::map<std::string, size_t> counts() const;
    void resetCounts();

  private:
    struct Compiled;
    struct Found;
    struct Assigned {
        std::string kind;
        bool seen = false; // since the last resetCounts
    };
    // Hashes a text or a view of one, so that a match is looked up without a copy.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    explicit Redactor(std::unique_ptr<Compiled> compiled, std::vector<std::string> keep);
    size_t assign(const std::string& kind, const std::string& value);
    const std::string& placeholder(size_t assigned);
    const std::string& placeholder(const std::string& kind, const std::string& value);
    Found identify(std::string_view text, size_t start);
    void redactText(std::string_view text, std::string& out);
    bool continueKeyBlock(std::string_view line, std::string& out);

    std::unique_ptr<Compiled> m_compiled;
    std::vector<std::string> m_keep;
    std::map<std::string, std::unordered_map<std::string, size_t>> m_byKind; // kind -> value -> mapping
    std::vector<Mapping> m_mappings;
    std::vector<Assigned> m_assigned;                                          // beside each mapping
    std::unordered_map<std::string, Found, TextHash, std::equal_to<>> m_known; // match -> what it is
    bool m_inKeyBlock = false;
    std::string m_keyBlock;     // the block's lines so far
    std::string m_keyBlockLead; // its first line's text before the block, redacted
};

// Redacts what is written through it, whole lines at a time, and passes it on. A line longer than
// `longestLine` is redacted in pieces of that length.
class RedactingWriter {
  public:
    using Sink = std::function<bool(const char*, size_t)>;
    RedactingWriter(Redactor& redactor, Sink sink) : m_redactor(redactor), m_sink(std::move(sink)) {}
    bool write(const char* data, size_t length);
    // Passes on what is left, the last line also when it had no line feed.
    bool finish();
    static constexpr size_t longestLine = 1 << 20;
    static constexpr size_t batchBytes = 256 << 10;

  private:
    bool pass(bool everything);
    Redactor& m_redactor;
    Sink m_sink;
    std::string m_pending, m_out;
};

// The first line of a redacted log: that it was redacted, and how many values of each kind.
std::string summaryLine(const std::map<std::string, size_t>& counts);

} // namespace Redaction
