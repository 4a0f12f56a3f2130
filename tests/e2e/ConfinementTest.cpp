// Nothing a run does leaves its drive: links planted on a drive before a run, links flipped in and
// out while runs go on, names typed in the drive dialog. Outside every drive lies a directory of
// old files and a secret; after every run they are exactly as they were, and no copy holds the
// secret.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>

using namespace Testing;

namespace {

const std::string secret = "secret bytes from outside every drive";
constexpr int victims = 3;

struct Confinement : ::testing::Test {
    Sandbox box;
    fs::path outside() const { return box.root / "outside"; }
    fs::path orvane() const { return box.node("boot") / "Orvane"; }

    void SetUp() override {
        box.fixClock(now);
        fs::remove_all(orvane());
        put(orvane() / "Logs" / "old.log", "old log\n");
        put(orvane() / "Screenshots" / "shot.png", "png");
        // Old files outside every drive, and old files at the boot drive's root: the clearing must
        // never reach either.
        for (int i = 0; i < victims; i++)
            put(outside() / ("victim-" + std::to_string(i) + ".log"), secret);
        put(box.node("boot") / "root-old.log", "root\n");
        box.script["select"] = json::array({{{"drive", "STICK"}}});
    }
    void put(const fs::path& path, const std::string& data) {
        writeFile(path, data);
        setModifiedMs(path, now - 100 * day);
    }
    void expectOutsideUntouched(const std::string& after) const {
        std::vector<std::string> expected;
        for (int i = 0; i < victims; i++)
            expected.push_back("victim-" + std::to_string(i) + ".log");
        EXPECT_EQ(listFiles(outside()), expected) << "after " << after;
        for (const std::string& name : expected)
            EXPECT_TRUE(hasContent(outside() / name, secret)) << after;
    }
    // No file below `directory` holds the secret.
    void expectNoSecretBelow(const fs::path& directory, const std::string& after) const {
        for (const std::string& file : listFiles(directory))
            EXPECT_EQ(readFile(directory / file).find(secret), std::string::npos)
                << file << " after " << after;
    }
    void plantCategoryLink(const fs::path& target) {
        fs::remove_all(orvane() / "Logs");
        fs::create_symlink(target, orvane() / "Logs");
    }
};

// A category directory that is a link is never used, wherever it leads.
struct CategoryLinkCase {
    const char* name;
    const char* target; // relative to the category's place; "OUTSIDE" for the outside directory
};
using Testing::PrintTo;

class CategoryLinks : public Confinement, public ::testing::WithParamInterface<CategoryLinkCase> {};

TEST_P(CategoryLinks, AreNotListedCopiedOrCleared) {
    std::string target = GetParam().target;
    plantCategoryLink(target == "OUTSIDE" ? outside() : fs::path(target));
    RunResult r = box.run({"-m", "export"});
    EXPECT_TRUE(r.logged(3, "Category directory /boot/Orvane/Logs is a symbolic link; not used"))
        << r.logText();
    // The Logs box is offered as empty, so nothing is chosen and nothing removed.
    auto dialog = r.calls("FSItem::create");
    ASSERT_EQ(dialog.size(), 1u) << r.logText();
    EXPECT_EQ(dialog[0]["elements"][0]["children"][0]["enabled"], false) << dialog[0]["elements"].dump();
    expectOutsideUntouched(GetParam().name);
    EXPECT_TRUE(hasContent(box.node("boot") / "root-old.log", "root\n")) << "the drive's root was cleared";
    expectNoSecretBelow(box.node("stick"), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Planted, CategoryLinks,
                         ::testing::Values(CategoryLinkCase{"ToTheDrivesRoot", ".."},
                                           CategoryLinkCase{"ToASiblingOnTheDrive", "Screenshots"},
                                           CategoryLinkCase{"AbsoluteOut", "OUTSIDE"},
                                           CategoryLinkCase{"RelativeOut", "../../../outside"},
                                           CategoryLinkCase{"Dangling", "../../../nowhere"}),
                         caseName);

// Links inside a category are not plain files: neither exported nor cleared, wherever they lead.
TEST_F(Confinement, SourceLinksAreNeitherReadNorRemoved) {
    fs::create_symlink(outside() / "victim-0.log", orvane() / "Logs" / "absolute.log");
    fs::create_symlink("../../../../outside/victim-1.log", orvane() / "Logs" / "relative.log");
    fs::create_symlink("relative.log", orvane() / "Logs" / "chain.log");
    fs::create_symlink("old.log", orvane() / "Logs" / "inside.log");
    RunResult r = box.run({"-m", "export"});
    EXPECT_EQ(r.status, 0) << r.logText();
    expectOutsideUntouched("the export");
    EXPECT_EQ(listFiles(box.node("stick") / exportName), std::vector<std::string>{"Logs/old.log"});
    for (const char* link : {"absolute.log", "relative.log", "chain.log", "inside.log"})
        EXPECT_TRUE(fs::is_symlink(orvane() / "Logs" / link)) << link;
}

TEST_F(Confinement, AScriptedNameThatIsAPathFailsTheDialog) {
    writeFile(box.work() / "x.txt", secret);
    for (const char* name : {"../../outside/typed.txt", "sub/typed.txt", "..", "."}) {
        box.script["select"] = json::array({{{"drive", "STICK"}, {"name", name}}});
        RunResult r = box.run({"--allow-rename", "--dont-force-boot", "x.txt"});
        EXPECT_EQ(r.calls("FSItem::create").at(0)["error"], 0x21) << name;
        EXPECT_NE(r.status, 0) << name;
        EXPECT_TRUE(listFiles(box.node("stick")).empty()) << name;
        expectOutsideUntouched(name);
    }
}

// Flips a directory (or a file) between itself and a link out, as fast as it can, until stopped. Each flip is
// one atomic exchange of two names, so the path is always one or the other; a directory the run
// makes itself is flipped from the moment it appears.
class Flipper {
  public:
    Flipper(fs::path place, const fs::path& linkTarget) : m_place(std::move(place)) {
        m_bait = m_place.parent_path() / (m_place.filename().string() + ".bait");
        fs::remove(m_bait);
        fs::create_symlink(linkTarget, m_bait);
        m_thread = std::thread([this] { run(); });
    }
    ~Flipper() {
        m_stop = true;
        m_thread.join();
        // Leave the real directory in its place.
        if (fs::is_symlink(m_place)) exchange();
    }
    long flips() const { return m_flips; }

  private:
    bool exchange() {
        return renameat2(AT_FDCWD, m_place.c_str(), AT_FDCWD, m_bait.c_str(), RENAME_EXCHANGE) == 0;
    }
    void run() {
        while (!m_stop)
            if (exchange()) m_flips++;
    }
    fs::path m_place;
    fs::path m_bait;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_flips{0};
    std::thread m_thread;
};

// Runs the binary again and again while a flipper works, within a bound of runs and of time.
constexpr int raceRuns = 40;
constexpr auto raceTime = std::chrono::seconds(15);

template <typename Run> int race(Run run) {
    auto end = std::chrono::steady_clock::now() + raceTime;
    int runs = 0;
    while (runs < raceRuns && std::chrono::steady_clock::now() < end) {
        run(runs);
        runs++;
    }
    return runs;
}

// Exports with clearing while `place` flips to a link out, each with one more old file in
// `oldFiles`; after each, nothing outside was removed, and no copy holds the outside's bytes.
void raceExportsAgainst(Confinement& t, const fs::path& place, const fs::path& oldFiles) {
    long flips = 0;
    int runs = race([&](int run) {
        t.put(oldFiles / ("old-" + std::to_string(run) + ".log"), "old log\n");
        fs::remove_all(t.box.node("stick") / exportName);
        t.box.script["answers"] = json::array({2, 2, 2});
        {
            Flipper flipper(place, t.outside());
            t.box.run({"-m", "export"});
            flips += flipper.flips();
        }
        t.expectOutsideUntouched("export run " + std::to_string(run));
        t.expectNoSecretBelow(t.box.node("stick"), "export run " + std::to_string(run));
    });
    EXPECT_GT(flips, runs) << "the directory did not flip during the runs";
}

TEST_F(Confinement, ExportAndClearingWhileTheCategoryFlipsToALinkOut) {
    raceExportsAgainst(*this, orvane() / "Logs", orvane() / "Logs");
}

// A category link that stays on the drive when the run looks, and leads out while it copies: the
// copy is slowed down, so that the clearing comes long after the look.
TEST_F(Confinement, ClearingWhileTheCategoryLinkIsRepointedOut) {
    fs::rename(orvane() / "Logs", orvane() / "LogsReal");
    fs::create_symlink("LogsReal", orvane() / "Logs");
    box.addFault({{"op", "File::write"}, {"path", "/media/STICK/*"}, {"delayMs", 20}, {"error", 0}});
    raceExportsAgainst(*this, orvane() / "Logs", orvane() / "LogsReal");
}

// A source listed as a plain file and a link out a moment later, when it is opened.
TEST_F(Confinement, ExportWhileASourceFlipsToALinkOut) {
    long flips = 0;
    int runs = race([&](int run) {
        fs::remove_all(box.node("stick") / exportName);
        box.script["answers"] = json::array({2, 2, 2});
        // A recent file, so that the clearing leaves the flipped names alone.
        fs::remove(orvane() / "Logs" / "flip.log");
        writeFile(orvane() / "Logs" / "flip.log", "plain log\n");
        {
            Flipper flipper(orvane() / "Logs" / "flip.log", outside() / "victim-0.log");
            box.run({"-m", "export"});
            flips += flipper.flips();
        }
        expectOutsideUntouched("export run " + std::to_string(run));
        expectNoSecretBelow(box.node("stick"), "export run " + std::to_string(run));
    });
    EXPECT_GT(flips, runs);
}

TEST_F(Confinement, ExportWhileItsOwnDirectoryFlipsToALinkOut) {
    for (int i = 0; i < 50; i++)
        writeFile(orvane() / "Logs" / ("log-" + std::to_string(i) + ".log"), "log\n");
    int runs = race([&](int run) {
        fs::remove_all(box.node("stick") / exportName);
        box.script["answers"] = json::array({2, 2, 2});
        Flipper flipper(box.node("stick") / exportName, outside());
        box.run({"-m", "export"});
        expectOutsideUntouched("export run " + std::to_string(run));
    });
    EXPECT_GT(runs, 0);
}

TEST_F(Confinement, LogAndFileSavesWhileTheirDirectoriesFlipToLinksOut) {
    writeFile(box.work() / "x.txt", "file bytes");
    fs::create_directories(box.node("system") / "Logs");
    fs::create_directories(box.node("system") / "Screenshots");
    long flips = 0;
    int runs = race([&](int run) {
        Flipper logs(box.node("system") / "Logs", outside());
        Flipper screenshots(box.node("system") / "Screenshots", outside());
        box.run({"-m", "log", "--silent"});
        box.run({"--silent", "--add-index", "x.txt"});
        flips += logs.flips() + screenshots.flips();
        expectOutsideUntouched("save run " + std::to_string(run));
    });
    EXPECT_GT(flips, runs);
}

} // namespace
