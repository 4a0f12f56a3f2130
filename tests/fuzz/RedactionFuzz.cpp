// The redaction's quick searches (the sieve that spares the automaton most lines, the one-pass
// finder of the host's words) against the automaton alone: every input is redacted the same by both,
// placeholders and all.
#include "platform/host/Redaction.h"
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

std::unique_ptr<Redaction::Redactor> make(const Redaction::Rules& rules) {
    std::string problem;
    std::unique_ptr<Redaction::Redactor> redactor = Redaction::Redactor::create(rules, problem);
    if (!redactor) std::abort();
    return redactor;
}

// A word beyond ASCII, matched in either case, which only the automaton finds: with it, no quick
// search is used. Inputs holding its first byte are left out, so that it never changes a result.
constexpr char automatonOnlyWord[] = "\xff\xfe";

Redaction::Rules hostRules() {
    Redaction::Rules rules;
    rules.hostNames = {"vm", "vm.lab.example", "lab.example"};
    rules.userNames = {"alice"};
    rules.homes = {"/srv/people/al"};
    return rules;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<Redaction::Redactor> quick = make(hostRules());
    static std::unique_ptr<Redaction::Redactor> automaton = [] {
        Redaction::Rules rules = hostRules();
        rules.words = {automatonOnlyWord};
        return make(rules);
    }();
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find(automatonOnlyWord[0]) != std::string::npos) return 0;
    if (quick->redacted(text) != automaton->redacted(text)) std::abort();
    return 0;
}
