// A log save removes only what it wrote: a failed, cancelled or interrupted export leaves the file
// that had its name, a directory of that name and the system log's own store as they were. Full
// disks need root to mount a small tmpfs; those cases are skipped with a message otherwise.
#include "support/Sandbox.h"
#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Testing;

namespace {

const std::string earlier = "the notes that were there before\n";

bool progressShown(const Sandbox& box) {
    return readFile(box.root / "transcript.jsonl").find("\"call\":\"Progress.setValue\"") !=
           std::string::npos;
}

struct LogSaveKeeps : ::testing::Test {
    Sandbox box;
    std::vector<fs::path> mounted;
    fs::path first() const { return box.node("system") / "Logs"; }
    fs::path second() const { return box.node("system") / "Service" / "Logs"; }

    void TearDown() override {
        for (const fs::path& point : mounted)
            umount2(point.c_str(), MNT_DETACH);
    }
    // A log store that takes a while to export (a second and more), each piece held back.
    void slowExports() {
        writeFile(box.root / "syslog" / "system.log.1", std::string(8 << 20, 's'));
        box.addFault({{"op", "SysLogExport::chunk"}, {"delayMs", 200}, {"error", 0}});
    }
    // A tmpfs at `directory` holding `keep` and filled up to the last byte.
    bool fullDisk(const fs::path& directory, const std::map<std::string, std::string>& keep) {
        fs::create_directories(directory);
        if (mount("tmpfs", directory.c_str(), "tmpfs", 0, "size=256k") != 0) return false;
        mounted.push_back(directory);
        for (const auto& [name, data] : keep)
            writeFile(directory / name, data);
        FILE* filler = std::fopen((directory / "filler").c_str(), "w");
        std::string block(4096, 'f');
        while (filler && std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        if (filler) std::fclose(filler);
        return true;
    }
    // The name and bytes of the one log a plain --reuse-name save left in the first location.
    std::pair<std::string, std::string> savedOnce() {
        RunResult r = box.run({"-m", "log", "--reuse-name", "--date=20260102"});
        EXPECT_EQ(r.status, 0) << r.logText();
        std::vector<std::string> names = listFiles(first());
        EXPECT_EQ(names.size(), 1u);
        if (names.empty()) return {};
        waitPastChange(first() / names[0]);
        return {names[0], readFile(first() / names[0])};
    }
};

TEST_F(LogSaveKeeps, AnInterruptedSaveOntoAnExistingHostFile) {
    fs::path notes = box.work() / "notes.txt";
    writeFile(notes, earlier);
    waitPastChange(notes);
    slowExports();
    RunResult r =
        box.runInterrupted({"-m", "log", notes.string()}, SIGINT, [&] { return progressShown(box); });
    EXPECT_EQ(r.status, endedBy + SIGINT) << r.logText();
    EXPECT_TRUE(hasContent(notes, earlier));
}

TEST_F(LogSaveKeeps, AnInterruptedSaveOfAReusedName) {
    auto [name, before] = savedOnce();
    ASSERT_FALSE(name.empty());
    slowExports();
    RunResult r = box.runInterrupted({"-m", "log", "--reuse-name", "--date=20260102"}, SIGTERM,
                                     [&] { return progressShown(box); });
    EXPECT_EQ(r.status, endedBy + SIGTERM) << r.logText();
    EXPECT_TRUE(hasContent(first() / name, before));
    EXPECT_EQ(listFiles(first()), std::vector<std::string>{name});
}

TEST_F(LogSaveKeeps, AReusedNameOnAFullDisk) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs as a full disk";
    auto [name, before] = savedOnce();
    ASSERT_FALSE(name.empty());
    if (!fullDisk(first(), {{name, before}}))
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    RunResult r = box.run({"-m", "log", "--reuse-name", "--date=20260102"});
    // The other location still takes the log.
    EXPECT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(hasContent(first() / name, before));
}

TEST_F(LogSaveKeeps, AGivenHostFileOnAFullDisk) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs as a full disk";
    fs::path full = box.work() / "full";
    if (!fullDisk(full, {{"notes.txt", earlier}}))
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    RunResult r = box.run({"-m", "log", (full / "notes.txt").string()});
    EXPECT_EQ(r.status, 67) << r.logText();
    EXPECT_TRUE(hasContent(full / "notes.txt", earlier));
    // Without a person to ask, the failure says why.
    RunResult headless = box.run({"-m", "log", (full / "notes.txt").string()}, {{"ORVANE_UI", "headless"}});
    EXPECT_NE(headless.err.find("cause: " + (full / "notes.txt").string() + ": No space left on device"),
              std::string::npos)
        << headless.err;
}

// Neither a directory nor a mount point is a name to export to, and the log never replaces its own store.
TEST_F(LogSaveKeeps, DirectoriesMountPointsAndTheLogStore) {
    fs::create_directories(box.work() / "emptydir");
    RunResult r = box.run({"-m", "log", (box.work() / "emptydir").string()});
    EXPECT_EQ(r.status, 67) << r.logText();
    EXPECT_TRUE(fs::is_directory(box.work() / "emptydir"));

    r = box.run({"-m", "log", "/host"});
    EXPECT_EQ(r.status, 67) << r.logText();
    EXPECT_FALSE(fs::exists(box.root / "fs" / "host"));

    // Each run starts with a store of its own; an older generation is what a run is made of too.
    fs::path older = box.root / "syslog" / "system.log.1";
    writeFile(older, "2026-01-02T00:00:00.000Z L1 earlier[1]: a line from before\n");
    for (const fs::path& store : {older, box.root / "syslog" / "system.log"}) {
        std::string before = readFile(store);
        r = box.run({"-m", "log", store.string()});
        EXPECT_EQ(r.status, 67) << r.logText();
        EXPECT_TRUE(r.logged(4, "Failed to initiate export to " + store.string())) << r.logText();
        EXPECT_EQ(readFile(older).rfind("2026-01-02T00:00:00.000Z", 0), 0u) << "the store was replaced";
    }
}

// Without a progress dialog there is nobody to ask whether to cancel: the signal stops the save
// all the same, within a second, and leaves no file.
TEST_F(LogSaveKeeps, ASilentSaveEndsSoonAfterASignal) {
    slowExports();
    auto started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point signalled;
    RunResult r = box.runInterrupted({"-m", "log", "--silent"}, SIGINT, [&] {
        signalled = std::chrono::steady_clock::now();
        return signalled - started > std::chrono::milliseconds(400);
    });
    auto took = std::chrono::steady_clock::now() - signalled;
    EXPECT_EQ(r.status, endedBy + SIGINT) << r.logText();
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_TRUE(listFiles(first()).empty()) << r.logText();
    EXPECT_TRUE(listFiles(second()).empty());
}

} // namespace
