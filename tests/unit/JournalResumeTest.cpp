// An export of the journal that resumes where an earlier one ended writes exactly the entries that
// came after it: the earlier text and the resumed text together are the whole journal's text.
#include "platform/host/Journal.h"
#include "support/Journals.h"
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace Testing;
namespace fs = std::filesystem;

const std::string boot(32, '3');

// One journal file in `directory` holding the messages, one second apart from entry `first` on.
void addJournalFile(const fs::path& directory, const std::string& name, int first,
                    const std::vector<std::string>& messages) {
    std::string text;
    for (size_t i = 0; i < messages.size(); i++) {
        long long n = first + static_cast<long long>(i);
        text += "__REALTIME_TIMESTAMP=" + std::to_string(firstEntryUsec + n * 1000000) +
                "\n__MONOTONIC_TIMESTAMP=" + std::to_string(n * 1000000) + "\n_BOOT_ID=" + boot +
                "\n_HOSTNAME=orvhost\nSYSLOG_IDENTIFIER=demo\n_PID=42\nMESSAGE=" + messages[i] + "\n\n";
    }
    writeJournal(directory, text, name);
}

std::string exportFrom(const Journal::Selection& selection, const Journal::Position* after,
                       Journal::Position* reached) {
    std::string text, problem;
    bool ok = Journal::exportText(
        selection, [&](const char* data, size_t length) { return text.append(data, length), true; },
        [](double) { return true; }, problem, after, reached);
    EXPECT_TRUE(ok) << problem;
    return text;
}

TEST(JournalResume, WritesExactlyTheEntriesAfterTheLastOneWritten) {
    if (!canMakeJournals()) GTEST_SKIP() << noJournalRemote;
    char pattern[] = "/tmp/scrivlet-journal-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    fs::path directory = pattern;
    addJournalFile(directory, "one", 0, {"first entry", "second entry"});
    Journal::Selection selection{directory.string(), "all"};

    Journal::Position reached;
    std::string earlier = exportFrom(selection, nullptr, &reached);
    ASSERT_NE(earlier.find("second entry"), std::string::npos);
    ASSERT_FALSE(reached.cursor.empty());
    EXPECT_TRUE(Journal::holds(selection, reached));
    // Nothing new yet: a resumed export writes nothing.
    Journal::Position same;
    EXPECT_EQ(exportFrom(selection, &reached, &same), "");
    EXPECT_EQ(same.cursor, reached.cursor);

    addJournalFile(directory, "two", 2, {"third entry", "fourth entry"});
    Journal::Position later;
    std::string resumed = exportFrom(selection, &reached, &later);
    EXPECT_EQ(resumed.find("first entry"), std::string::npos) << resumed;
    EXPECT_EQ(resumed.find("second entry"), std::string::npos) << resumed;
    EXPECT_NE(resumed.find("third entry"), std::string::npos) << resumed;
    EXPECT_EQ(earlier + resumed, exportFrom(selection, nullptr, nullptr));
    EXPECT_NE(later.cursor, reached.cursor);

    // A position the journal no longer holds is said so, not taken for the start.
    fs::remove_all(directory);
    fs::create_directories(directory);
    addJournalFile(directory, "three", 10, {"other entry"});
    EXPECT_FALSE(Journal::holds(selection, reached));
    fs::remove_all(directory);
}

} // namespace
