// The journal saved as journalctl prints it, byte for byte, for every shape of entry a real journal
// holds: a seeded generator writes a few thousand random entries (tabs, colour and other escape
// sequences, control bytes, broken and exotic UTF-8, binary and multi-line messages, very long
// ones, missing identifier, pid, host or message, kernel lines, the sender's own time, boot
// boundaries) through systemd-journal-remote, and the run's text is compared with
// `TZ=UTC journalctl -o short-iso` on the same files.
#include "support/Journals.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>
#include <random>

using namespace Testing;

namespace {

constexpr unsigned entryCount = 3000;
constexpr unsigned seed = 20261208;

class EntryGenerator {
  public:
    explicit EntryGenerator(unsigned seed) : m_random(seed) {}

    // One entry in the journal's binary export format.
    std::string entry(unsigned index) {
        m_usec += 1 + pick(3000000);
        if (pick(100) == 0) m_boot = (m_boot + 1) % std::size(boots);
        std::string out = "__REALTIME_TIMESTAMP=" + std::to_string(m_usec) +
                          "\n__MONOTONIC_TIMESTAMP=" + std::to_string(index * 1000) +
                          "\n_BOOT_ID=" + std::string(32, boots[m_boot]) + "\n";
        bool kernel = pick(20) == 0;
        if (pick(30) != 0) out += exportField("_HOSTNAME", pick(40) == 0 ? odd() : "orvhost");
        if (kernel) {
            out += exportField("_TRANSPORT", "kernel") + exportField("SYSLOG_IDENTIFIER", "kernel");
        } else {
            if (pick(6) != 0) out += exportField("SYSLOG_IDENTIFIER", pick(30) == 0 ? odd() : word());
            if (pick(4) != 0) out += exportField("_COMM", pick(30) == 0 ? odd() : word());
            if (pick(5) != 0) out += exportField("_PID", std::to_string(1 + pick(99999)));
            if (pick(8) == 0)
                out += exportField("SYSLOG_PID", pick(20) == 0 ? odd() : std::to_string(pick(500)));
        }
        if (pick(3) == 0) out += exportField("_SOURCE_REALTIME_TIMESTAMP", senderTime());
        if (pick(60) != 0) out += exportField("MESSAGE", message());
        out += exportField("PRIORITY", std::to_string(pick(8)));
        return out + "\n";
    }

  private:
    static constexpr char boots[] = {'a', 'b', 'c'};

    size_t pick(size_t below) { return std::uniform_int_distribution<size_t>(0, below - 1)(m_random); }

    std::string word() {
        static const char* const words[] = {"systemd", "kernel", "sshd",   "cron",  "NetworkManager", "value",
                                            "a-b_c",   "x",      "ümlaut", "✓done", "日本語"};
        return words[pick(std::size(words))];
    }
    // A field journalctl does not show: unprintable, or 300 bytes and more.
    std::string odd() {
        switch (pick(3)) {
        case 0:
            return "bad\x01name";
        case 1:
            return std::string(300 + pick(20), 'h');
        default:
            return "broken\xff";
        }
    }
    std::string senderTime() {
        switch (pick(6)) {
        case 0:
            return "not a number";
        case 1:
            return "0";
        case 2:
            return "99999999999999999999";
        default:
            return std::to_string(m_usec - pick(5000000));
        }
    }
    std::string piece() {
        static const std::string pieces[] = {"plain words",
                                             "\t",
                                             "col\tumns",
                                             "\x1b[31m",
                                             "\x1b[0m",
                                             "\x1b[1;4;38;5;200m",
                                             "\x1b[m",
                                             "\x1b[2J",
                                             "\x1b[K",
                                             "\x1b[?25l",
                                             "\x1b]0;a title\x07",
                                             "\x1b]8;;http://x\x1b\\",
                                             "\x1b",
                                             "\x1b[",
                                             "\x07",
                                             "\r",
                                             std::string(1, '\0'),
                                             "\x7f",
                                             "\u009b",
                                             "\xff\xfe",
                                             "\xc0\xaf",
                                             "\xed\xa0\x80",
                                             "\xe2\x82",
                                             "\uFFFE",
                                             "\uFDD0",
                                             "\U0010FFFF",
                                             "\u00a0",
                                             "\u200b",
                                             "\u202e",
                                             "é",
                                             "✓",
                                             "😀",
                                             "\n",
                                             "\n\n",
                                             " ",
                                             "="};
        if (pick(4) == 0) return pieces[pick(std::size(pieces))];
        return word() + " ";
    }
    std::string message() {
        switch (pick(40)) {
        case 0:
            return std::string(70000 + pick(1000), 'L'); // beyond the library's 64 KiB default
        case 1:
            return std::string(300 + pick(200), 'm');
        case 2:
            return "\n";
        case 3: {
            std::string binary(1 + pick(3000), '\0');
            for (char& c : binary)
                c = static_cast<char>(pick(256));
            return binary;
        }
        default: {
            std::string text;
            for (size_t n = 1 + pick(8); n > 0; n--)
                text += piece();
            return text;
        }
        }
    }

    std::mt19937 m_random;
    long long m_usec = firstEntryUsec;
    size_t m_boot = 0;
};

struct JournalForm : ::testing::Test {
    Sandbox box;
    fs::path journal() const { return box.root / "journal"; }

    void SetUp() override {
        if (!canMakeJournals()) GTEST_SKIP() << noJournalRemote;
        std::string entries;
        EntryGenerator generator(seed);
        for (unsigned i = 0; i < entryCount; i++)
            entries += generator.entry(i);
        writeJournal(journal(), entries);
        box.config["syslog"]["source"] = "journal";
        box.config["syslog"]["journal"] = journal().string();
    }
    std::string saved(const std::string& boot) {
        box.config["syslog"]["boot"] = boot;
        fs::remove_all(box.node("system") / "Logs");
        fs::remove_all(box.node("system") / "Service");
        RunResult r = box.run({"-m", "log", "--silent"}, {{"TZ", "UTC"}});
        EXPECT_EQ(r.status, 0) << r.logText() << r.err;
        fs::path logs = box.node("system") / "Logs";
        std::vector<std::string> files = listFiles(logs);
        return files.empty() ? std::string() : gunzip(readFile(logs / files[0]));
    }
};

// Where two texts first differ, with a little of each around it, made visible.
std::string firstDifference(const std::string& ours, const std::string& theirs) {
    size_t at = 0;
    while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at])
        at++;
    // From the start of the entry: its first line begins with the year.
    size_t from = theirs.rfind("\n20", at);
    from = from == std::string::npos ? 0 : from + 1;
    auto shown = [&](const std::string& text) {
        std::string out;
        for (char c : text.substr(from, at - from + 80))
            out += (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f
                       ? "\\x" + std::to_string(static_cast<unsigned char>(c))
                       : std::string(1, c);
        return out;
    };
    return "at byte " + std::to_string(at) + "\nours:   " + shown(ours) + "\ntheirs: " + shown(theirs);
}

TEST_F(JournalForm, EveryShapeOfEntryIsSavedAsJournalctlPrintsIt) {
    for (const std::string& boot : {std::string("all"), std::string(32, 'b')}) {
        std::string theirs = journalctl(journal(), boot), ours = saved(boot);
        ASSERT_GT(theirs.size(), 10000u) << boot;
        EXPECT_TRUE(ours == theirs) << boot << ": " << ours.size() << " bytes against " << theirs.size()
                                    << "; " << firstDifference(ours, theirs);
    }
}

} // namespace
