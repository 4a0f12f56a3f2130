// A directory that disappears while the tool writes into it, as when a drive is pulled: the write
// that follows fails and is reported, instead of the copy going on into a file nobody can reach.
#include "support/Sandbox.h"
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <thread>

using namespace Testing;

namespace {

using namespace std::chrono_literals;

bool anyFileHasBytes(const fs::path& directory) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(directory, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (it->is_regular_file(ec) && it->file_size(ec) > 0 && !ec) return true;
    return false;
}

// Runs `change` on `directory` as soon as a file below it has its first bytes; the writes into it
// are slowed down, so the change lands in the middle of the copy.
class ChangeWhenWritten {
  public:
    ChangeWhenWritten(fs::path directory, std::function<bool(const fs::path&)> change)
        : m_thread([directory = std::move(directory), change = std::move(change), this] {
              auto deadline = std::chrono::steady_clock::now() + 20s;
              while (std::chrono::steady_clock::now() < deadline) {
                  if (anyFileHasBytes(directory)) {
                      m_changed = change(directory);
                      return;
                  }
                  std::this_thread::sleep_for(2ms);
              }
          }) {}
    ~ChangeWhenWritten() {
        if (m_thread.joinable()) m_thread.join();
    }
    bool changed() {
        m_thread.join();
        return m_changed;
    }

  private:
    bool m_changed = false;
    std::thread m_thread;
};

bool removeAll(const fs::path& directory) {
    std::error_code ec;
    return fs::remove_all(directory, ec) > 0;
}

// As a drive pulled and put back: the directory is gone and an empty one of the same name is there.
bool replaceWithEmpty(const fs::path& directory) {
    std::error_code ec;
    return fs::remove_all(directory, ec) > 0 && fs::create_directory(directory, ec);
}

TEST(VanishingDirectory, SaveReportsTheWriteErrorAndKeepsTheOtherLocationWhole) {
    Sandbox box;
    fs::path first = box.node("system") / "Screenshots";
    fs::path second = box.node("system") / "Service" / "Screenshots";
    fs::create_directories(first);
    fs::create_directories(second);
    std::string data = patternedBytes(1 << 20);
    writeFile(box.work() / "x.bin", data);
    box.addFault(
        {{"op", "File::write"}, {"path", "/system/Service/Screenshots/*"}, {"delayMs", 40}, {"error", 0}});

    ChangeWhenWritten remover(second, removeAll);
    RunResult r = box.run({"x.bin"});
    ASSERT_TRUE(remover.changed()) << r.logText();

    EXPECT_EQ(r.status, 67) << r.logText();
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u) << r.logText();
    EXPECT_EQ(shown[0]["text"], "Error writing to file SYSTEM:/\u200BService/\u200BScreenshots/\u200Bx.bin: "
                                "0xA0000020h (2684354592)");
    EXPECT_TRUE(hasContent(first / "x.bin", data));
    EXPECT_FALSE(fs::exists(second)) << "nothing may recreate the removed directory";
    EXPECT_TRUE(hasContent(box.work() / "x.bin", data));
}

// An export to the stick, whose writes are slowed down, of the logs put in `logs` alone.
struct VanishingExport : ::testing::Test {
    Sandbox box;
    fs::path logs = box.node("boot") / "Orvane" / "Logs";
    VanishingExport() {
        box.fixClock(now);
        fs::remove_all(logs.parent_path());
        box.addFault({{"op", "File::write"}, {"path", "/media/STICK/*"}, {"delayMs", 150}, {"error", 0}});
    }
};

TEST_F(VanishingExport, AskingAndStoppingLeavesTheBootDriveAsItWas) {
    std::string big = patternedBytes(4 << 20);
    writeFile(logs / "big.bin", big);
    setModifiedMs(logs / "big.bin", now - 100 * day);
    box.script["select"] = json::array({{{"drive", "STICK"}, {"elements", json::object()}}});
    box.script["answers"] = json::array({2});

    fs::path exported = box.node("stick") / exportName;
    ChangeWhenWritten remover(exported, removeAll);
    RunResult r = box.run({"-m", "export"});
    ASSERT_TRUE(remover.changed()) << r.logText();

    EXPECT_EQ(r.status, 66) << r.logText();
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u) << r.logText();
    EXPECT_EQ(shown[0]["title"], "Copy failed");
    EXPECT_TRUE(r.logged(4, "Failed to write all data to ./Logs/big.bin; error: 20h (32)")) << r.logText();
    EXPECT_EQ(shown[0]["text"], "Failed to copy file ./Logs/big.bin.\nErrorcode: 0xD0000020 (3489660960)\n"
                                "Do you want to continue?");
    EXPECT_TRUE(listFiles(box.node("stick")).empty());
    EXPECT_FALSE(fs::exists(exported));
    // Stopped before the clearing: the old log is still on the boot drive, unchanged.
    EXPECT_TRUE(hasContent(logs / "big.bin", big));
    EXPECT_EQ(modifiedMs(logs / "big.bin"), now - 100 * day);
}

// The export goes on after the failure: the next file is created in the directory that is there
// now, not in the one that was removed under the run.
TEST_F(VanishingExport, GoesOnInADirectoryMadeAnewAtTheSamePath) {
    std::map<std::string, std::string> contents{{"one.bin", patternedBytes(2 << 20)},
                                                {"two.bin", patternedBytes(3 << 20)}};
    for (const auto& [name, data] : contents)
        writeFile(logs / name, data);
    box.script["select"] =
        json::array({{{"drive", "STICK"}, {"elements", {{"gbClear", {{"checked", false}}}}}}});
    box.script["answers"] = json::array({1});
    // The replacement is two steps (remove, then make anew); the look for each target waits, so
    // that the next file does not come between them on a loaded machine.
    box.addFault({{"op", "FSItem::open"}, {"path", "/media/STICK/*.bin"}, {"delayMs", 500}, {"error", 0}});

    fs::path exported = box.node("stick") / exportName / "Logs";
    ChangeWhenWritten replacer(exported, replaceWithEmpty);
    RunResult r = box.run({"-m", "export"});
    ASSERT_TRUE(replacer.changed()) << r.logText();

    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 2u) << r.logText();
    EXPECT_EQ(shown[0]["title"], "Copy failed");
    EXPECT_EQ(shown[1]["title"], "Export successful");
    // The file being written when the directory went is lost with it; the other one is whole.
    std::vector<std::string> left = listFiles(exported);
    ASSERT_EQ(left.size(), 1u) << r.logText();
    EXPECT_TRUE(hasContent(exported / left[0], contents.at(left[0])));
    for (const auto& [name, data] : contents)
        EXPECT_TRUE(hasContent(logs / name, data));
}

} // namespace
