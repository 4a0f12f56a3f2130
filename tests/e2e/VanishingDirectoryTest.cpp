// A directory that disappears while the tool writes into it, as when a drive is pulled: the write
// that follows fails and is reported, instead of the copy going on into a file nobody can reach.
#include "support/Sandbox.h"
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace Testing;

namespace {

using namespace std::chrono_literals;

// Removes `directory` as soon as `file` below it has its first bytes; the writes into it are slowed
// down, so the removal lands in the middle of the copy.
class RemoveWhenWritten {
  public:
    RemoveWhenWritten(fs::path file, fs::path directory)
        : m_thread([file = std::move(file), directory = std::move(directory), this] {
              auto deadline = std::chrono::steady_clock::now() + 20s;
              std::error_code ec;
              while (std::chrono::steady_clock::now() < deadline) {
                  if (fs::file_size(file, ec) > 0 && !ec) {
                      m_removed = fs::remove_all(directory, ec) > 0;
                      return;
                  }
                  std::this_thread::sleep_for(2ms);
              }
          }) {}
    ~RemoveWhenWritten() {
        if (m_thread.joinable()) m_thread.join();
    }
    bool removed() {
        m_thread.join();
        return m_removed;
    }

  private:
    bool m_removed = false;
    std::thread m_thread;
};

std::string pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++)
        data[i] = static_cast<char>((i * 7 + i / 13) & 0xFF);
    return data;
}

TEST(VanishingDirectory, SaveReportsTheWriteErrorAndKeepsTheOtherLocationWhole) {
    Sandbox box;
    fs::path first = box.node("system") / "Screenshots";
    fs::path second = box.node("system") / "Service" / "Screenshots";
    fs::create_directories(first);
    fs::create_directories(second);
    std::string data = pattern(1 << 20);
    writeFile(box.work() / "x.bin", data);
    box.addFault(
        {{"op", "File::write"}, {"path", "/system/Service/Screenshots/*"}, {"delayMs", 40}, {"error", 0}});

    RemoveWhenWritten remover(second / "x.bin", second);
    RunResult r = box.run({"x.bin"});
    ASSERT_TRUE(remover.removed()) << r.logText();

    EXPECT_EQ(r.status, 67) << r.logText();
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u) << r.logText();
    EXPECT_EQ(shown[0]["text"], "Error writing to file SYSTEM:/\u200BService/\u200BScreenshots/\u200Bx.bin: "
                                "0xA0000020h (2684354592)");
    EXPECT_TRUE(hasContent(first / "x.bin", data));
    EXPECT_FALSE(fs::exists(second)) << "nothing may recreate the removed directory";
    EXPECT_TRUE(hasContent(box.work() / "x.bin", data));
}

TEST(VanishingDirectory, ExportAsksAndStoppingLeavesTheBootDriveAsItWas) {
    Sandbox box;
    constexpr long long now = 1767225600000;
    box.fixClock(now);
    fs::path logs = box.node("boot") / "Orvane" / "Logs";
    fs::remove_all(logs.parent_path());
    std::string big = pattern(4 << 20);
    writeFile(logs / "big.bin", big);
    setModifiedMs(logs / "big.bin", now - 100 * 86400000LL);
    box.addFault({{"op", "File::write"}, {"path", "/media/STICK/*"}, {"delayMs", 150}, {"error", 0}});
    box.script["select"] = json::array({{{"drive", "STICK"}, {"elements", json::object()}}});
    box.script["answers"] = json::array({2});

    fs::path exported = box.node("stick") / "LogExport.2026-01-01";
    RemoveWhenWritten remover(exported / "Logs" / "big.bin", exported);
    RunResult r = box.run({"-m", "export"});
    ASSERT_TRUE(remover.removed()) << r.logText();

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
    EXPECT_EQ(modifiedMs(logs / "big.bin"), now - 100 * 86400000LL);
}

} // namespace
