// Many runs at once against the same locations: each ends with a complete copy of its own, and the
// reuse-name registry they share stays readable line by line.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <zlib.h>

using namespace Testing;

namespace {

constexpr unsigned runs = 16;

struct Concurrency : ::testing::Test {
    Sandbox box;
    std::string data = patternedBytes(300000, 1);
    std::vector<fs::path> locations() const {
        return {box.node("system") / "Screenshots", box.node("system") / "Service" / "Screenshots"};
    }
    void SetUp() override { writeFile(box.work() / "x.bin", data); }
    // Runs that start at once race for the same indices. A run whose name search finds its last
    // candidate taken by another run on every try ends as the search rules say (no unique name:
    // 67), keeping the empty file it may have created in the first location; every other run
    // saves a whole copy in each location.
    void expectAWholeCopyFromEveryRun(const ManyResult& m) const {
        const std::string log = m.shared.logText();
        unsigned failed = 0;
        for (unsigned i = 0; i < runs; i++) {
            EXPECT_TRUE(m.statuses[i] == 0 || m.statuses[i] == 67) << "run " << i << "\n" << log;
            failed += m.statuses[i] == 67;
        }
        EXPECT_LT(failed, runs / 2) << log;
        if (failed > 0) {
            EXPECT_NE(log.find("Could not determine unique filename"), std::string::npos) << log;
        }

        unsigned empty = 0;
        for (const fs::path& location : locations()) {
            unsigned whole = 0;
            for (const std::string& name : listFiles(location)) {
                if (fs::file_size(location / name) == 0) {
                    empty++;
                    continue;
                }
                EXPECT_TRUE(hasContent(location / name, data)) << name << " is torn";
                whole++;
            }
            EXPECT_EQ(whole, runs - failed) << location << "\n" << log;
        }
        EXPECT_LE(empty, failed) << log;
    }
};

// The locations exist, as they do on a device that has saved before; runs that race to create a
// missing directory are a different matter (the one that loses gives up on that location).
TEST_F(Concurrency, IndexedSavesStartedAtOnceEachGetACompleteCopy) {
    for (const fs::path& location : locations())
        fs::create_directories(location);
    ManyResult m = box.runMany({"--add-index", "--silent", "x.bin"}, runs);
    expectAWholeCopyFromEveryRun(m);
    EXPECT_TRUE(hasContent(box.work() / "x.bin", data));
}

TEST_F(Concurrency, RegistryAppendedByManyRunsKeepsEveryLineWhole) {
    // The registry serves the system-log save, whose names are indexed.
    fs::create_directories(box.node("system") / "Logs");
    fs::create_directories(box.node("system") / "Service" / "Logs");
    ManyResult m = box.runMany({"-m", "log", "--reuse-name", "--silent"}, runs);
    // Runs that found the registry held by another search a free name; of those that found the
    // same one, only the first to take it saves there.
    unsigned succeeded = 0;
    for (unsigned i = 0; i < runs; i++) {
        EXPECT_TRUE(m.statuses[i] == 0 || m.statuses[i] == 67) << "run " << i << "\n" << m.shared.logText();
        succeeded += m.statuses[i] == 0;
    }
    EXPECT_GT(succeeded, 0u);
    std::string registry = readFile(box.root / "fs" / "users" / "system" / "temp" / "scrivlet-files");
    ASSERT_FALSE(registry.empty());
    EXPECT_EQ(registry.back(), '\n');
    static const std::regex entry(R"re("[^"\n]+"="[^"\n]+")re");
    size_t start = 0, lines = 0;
    while (start < registry.size()) {
        size_t end = registry.find('\n', start);
        std::string line = registry.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(line, entry)) << "torn or malformed line: " << line;
        lines++;
        start = end + 1;
    }
    // One entry per location at most from each run, and at least the first run's.
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 2 * runs);

    // A later run finds a name in the registry and reuses it.
    RunResult again = box.run({"-m", "log", "--reuse-name", "--silent"});
    EXPECT_TRUE(again.logged(1, "Reusing filename")) << again.logText();
}

// Levels another run has just made count as made, so runs that start before any location exists
// still each get a whole copy in both.
TEST_F(Concurrency, IndexedSavesIntoDirectoriesThatDoNotExistYet) {
    // Every run looks, finds the level missing, and only then creates it: they all meet there.
    box.addFault({{"op", "Directory::createDirectory"}, {"delayMs", 100}, {"error", 0}});
    ManyResult m = box.runMany({"--add-index", "--silent", "x.bin"}, runs);
    expectAWholeCopyFromEveryRun(m);
}

// Whether a file is one whole gzip stream whose text ends with a whole line.
bool isWholeCompressedLog(const fs::path& file) {
    gzFile in = gzopen(file.c_str(), "rb");
    if (!in) return false;
    std::string text;
    char buffer[65536];
    int n;
    while ((n = gzread(in, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    int error = Z_OK;
    gzerror(in, &error);
    bool whole = n == 0 && error == Z_OK;
    gzclose(in);
    return whole && !text.empty() && text.back() == '\n';
}

// The display paths a success message names, without the marks that keep them on one line.
std::vector<std::string> reportedPaths(const json& shown) {
    std::string text = shown["text"];
    for (const char* invisible : {"\u200B", "\u2011"})
        for (size_t at; (at = text.find(invisible)) != std::string::npos;)
            text.replace(at, std::string(invisible).size(), std::string(invisible) == "\u2011" ? "-" : "");
    static const std::regex saved("SYSTEM:/[^ \"\\n]*\\.log");
    std::vector<std::string> paths;
    for (std::sregex_iterator it(text.begin(), text.end(), saved), end; it != end; ++it)
        paths.push_back(it->str());
    return paths;
}

struct LogSaveRace {
    const char* name;
    std::vector<std::string> args;
    unsigned count;
};
using Testing::PrintTo;

class LogSavesAtOnce : public ::testing::TestWithParam<LogSaveRace> {};

// Runs that find the same free name at once never replace each other's file: the one that takes
// the name first keeps it, the others fail that location. No two runs report the same file, and
// every file reported is a whole log.
TEST_P(LogSavesAtOnce, NoTwoRunsReportTheSameFileAndEachIsWhole) {
    Sandbox box;
    const LogSaveRace& race = GetParam();
    const std::map<std::string, fs::path> directories = {
        {"SYSTEM:/Logs/", box.node("system") / "Logs"},
        {"SYSTEM:/Service/Logs/", box.node("system") / "Service" / "Logs"}};
    ManyResult m = box.runMany(race.args, race.count);
    unsigned succeeded = 0;
    for (unsigned i = 0; i < race.count; i++) {
        EXPECT_TRUE(m.statuses[i] == 0 || m.statuses[i] == 67) << "run " << i << "\n" << m.shared.logText();
        succeeded += m.statuses[i] == 0;
    }
    EXPECT_GT(succeeded, 0u) << m.shared.logText();
    for (const auto& [shown, directory] : directories)
        for (const std::string& name : listFiles(directory))
            EXPECT_TRUE(isWholeCompressedLog(directory / name)) << name << " is torn";
    std::set<std::string> reported;
    for (const json& shown : m.shared.calls("Dialog::show")) {
        if (shown["title"] != "Information") continue;
        for (const std::string& path : reportedPaths(shown)) {
            EXPECT_TRUE(reported.insert(path).second) << path << " was reported by two runs";
            size_t slash = path.rfind('/');
            const fs::path& directory = directories.at(path.substr(0, slash + 1));
            EXPECT_TRUE(isWholeCompressedLog(directory / path.substr(slash + 1))) << path << " is not whole";
        }
    }
    EXPECT_GE(reported.size(), succeeded);
}

INSTANTIATE_TEST_SUITE_P(LogSaves, LogSavesAtOnce,
                         ::testing::Values(LogSaveRace{"Plain", {"-m", "log"}, 32},
                                           LogSaveRace{"Indexed", {"-m", "log", "--add-index"}, 16}),
                         caseName);

} // namespace
