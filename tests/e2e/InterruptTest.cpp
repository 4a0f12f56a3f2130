// Runs interrupted by a signal (Ctrl-C, kill, a closed terminal) in the middle of their work: the
// mode takes its own cancellation path, leaves nothing half written, and the process ends by the
// signal, as a shell expects. The next run then works as if nothing had happened.
#include "support/Sandbox.h"
#include "support/StoreTest.h"
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

using namespace Testing;

namespace {

bool hasBytes(const fs::path& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec) && fs::file_size(file, ec) > 0;
}

bool transcriptShows(const Sandbox& box, const std::string& call) {
    return readFile(box.root / "transcript.jsonl").find("\"call\":\"" + call + "\"") != std::string::npos;
}

class Interrupt : public ::testing::TestWithParam<int> {
  protected:
    Sandbox box;
    fs::path first() const { return box.node("system") / "Screenshots"; }
    fs::path second() const { return box.node("system") / "Service" / "Screenshots"; }
    void expectCancelled(const RunResult& r) const {
        EXPECT_EQ(r.status, endedBy + GetParam()) << r.logText();
        EXPECT_TRUE(r.logged(4, "Exit code 8442h (33858)")) << r.logText();
    }
};

TEST_P(Interrupt, CopyRemovesItsTargetsAndTheNextSaveWorks) {
    std::string data(4 << 20, 'c');
    writeFile(box.work() / "big.bin", data);
    box.addFault({{"op", "File::write"}, {"path", "/system/*"}, {"delayMs", 20}, {"error", 0}});
    RunResult r = box.runInterrupted({"big.bin"}, GetParam(), [&] { return hasBytes(first() / "big.bin"); });
    expectCancelled(r);
    EXPECT_EQ(r.out, "User aborted\n");
    EXPECT_TRUE(listFiles(first()).empty());
    EXPECT_TRUE(listFiles(second()).empty());

    box.config.erase("faults");
    RunResult next = box.run({"--silent", "big.bin"});
    ASSERT_EQ(next.status, 0) << next.logText();
    EXPECT_TRUE(hasContent(first() / "big.bin", data));
    EXPECT_TRUE(hasContent(second() / "big.bin", data));
}

TEST_P(Interrupt, ExportIsUndoneAndClearsNothing) {
    box.fixClock(now);
    fs::path logs = box.node("boot") / "Orvane" / "Logs";
    for (int i = 0; i < 40; i++) {
        writeFile(logs / ("old-" + std::to_string(i) + ".log"), std::string(100000, 'l'));
        setModifiedMs(logs / ("old-" + std::to_string(i) + ".log"), now - 100 * day);
    }
    std::vector<std::string> before = listFiles(box.node("boot"));
    box.script["select"] = json::array({{{"drive", "STICK"}}});
    box.addFault({{"op", "File::write"}, {"path", "/media/STICK/*"}, {"delayMs", 20}, {"error", 0}});
    fs::path exported = box.node("stick") / exportName;
    RunResult r =
        box.runInterrupted({"-m", "export"}, GetParam(), [&] { return !listFiles(exported).empty(); });
    expectCancelled(r);
    EXPECT_FALSE(fs::exists(exported)) << "the export was not undone";
    EXPECT_EQ(listFiles(box.node("boot")), before) << "the boot drive was cleared";
}

TEST_P(Interrupt, LogSaveLeavesNoFile) {
    // A store large enough to take a while: the older generation, which runs do not reset.
    writeFile(box.root / "syslog" / "system.log.1", std::string(2 << 20, 's'));
    box.addFault({{"op", "SysLogExport::chunk"}, {"delayMs", 30}, {"error", 0}});
    RunResult r = box.runInterrupted({"-m", "log"}, GetParam(),
                                     [&] { return transcriptShows(box, "Progress.setValue"); });
    expectCancelled(r);
    EXPECT_EQ(r.out, "User aborted\n");
    EXPECT_TRUE(listFiles(box.node("system") / "Logs").empty());
    EXPECT_TRUE(listFiles(box.node("system") / "Service" / "Logs").empty());
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupt, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

// A second signal does not wait for the cancellation: it ends the run at once.
TEST(InterruptTwice, SecondSignalEndsAtOnce) {
    Sandbox box;
    writeFile(box.work() / "big.bin", std::string(1 << 20, 'c'));
    // Every write takes long: the first signal's cancellation could only start after one.
    box.addFault({{"op", "File::write"}, {"path", "/system/*"}, {"delayMs", 3000}, {"error", 0}});
    fs::path target = box.node("system") / "Screenshots" / "big.bin";
    RunResult r = box.runInterrupted(
        {"big.bin"}, SIGTERM, [&] { return fs::exists(target); }, {}, 2);
    EXPECT_EQ(r.status, endedBy + SIGTERM);
    EXPECT_FALSE(r.logged(4, "Exit code")) << "the run went on to its end: " << r.logText();
}

class InterruptedUpload : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        fs::create_directories(temporary());
    }
    fs::path temporary() const { return box.root / "tmp"; }
    std::map<std::string, std::string> environment() const {
        std::map<std::string, std::string> env = store->environment();
        env["TMPDIR"] = temporary().string();
        return env;
    }
};

TEST_F(InterruptedUpload, FileUploadIsAbandoned) {
    writeFile(box.work() / "big.bin", std::string(8 << 20, 'u'));
    box.addFault({{"op", "File::read"}, {"delayMs", 20}, {"error", 0}});
    RunResult r = box.runInterrupted(
        {"-m", "file-upload", "big.bin"}, SIGINT, [&] { return transcriptShows(box, "Progress.setValue"); },
        environment());
    EXPECT_EQ(r.status, endedBy + SIGINT) << r.logText();
    EXPECT_TRUE(r.logged(4, "Exit code 8442h (33858)")) << r.logText();
}

// The compressed copy of the log has no name at any moment: not even SIGKILL leaves it behind.
TEST_F(InterruptedUpload, LogUploadLeavesNoTemporaryFileEvenWhenKilled) {
    writeFile(box.root / "syslog" / "system.log.1", std::string(2 << 20, 's'));
    box.addFault({{"op", "SysLogExport::chunk"}, {"delayMs", 30}, {"error", 0}});
    // Temporary files of the run, wherever it put them: below TMPDIR, or named as its own in /tmp.
    auto temporaries = [&] {
        std::vector<std::string> found = listFiles(temporary());
        for (const auto& entry : fs::directory_iterator("/tmp"))
            if (entry.path().filename().string().rfind("scrivlet-syslog-", 0) == 0)
                found.push_back(entry.path());
        return found;
    };
    std::vector<std::string> before = temporaries();
    for (int signal : {SIGTERM, SIGKILL}) {
        RunResult r = box.runInterrupted(
            {"-m", "log-upload"}, signal, [&] { return transcriptShows(box, "Progress.setValue"); },
            environment());
        EXPECT_EQ(r.status, endedBy + signal) << r.logText();
        EXPECT_EQ(temporaries(), before) << sigabbrev_np(signal);
    }
}

} // namespace
