// Faults the host really produces, not injected ones: a location on a filesystem that fills up
// during the copy. Needs root to mount a small tmpfs; skipped with a message otherwise.
#include "support/Sandbox.h"
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Testing;

namespace {

const std::string secondShown = "SYSTEM:/\u200BService/\u200BScreenshots/\u200B";

struct FullDisk : ::testing::Test {
    Sandbox box;
    fs::path first() const { return box.node("system") / "Screenshots"; }
    fs::path second() const { return box.node("system") / "Service" / "Screenshots"; }
    bool mounted = false;

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs as a full disk";
        fs::create_directories(first());
        fs::create_directories(second());
        if (mount("tmpfs", second().c_str(), "tmpfs", 0, "size=128k") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        mounted = true;
    }
    void TearDown() override {
        if (mounted) umount2(second().c_str(), MNT_DETACH);
    }
};

TEST_F(FullDisk, WriteErrorKeepsWhatFitAndTheOtherLocationWhole) {
    std::string data = patternedBytes(1 << 20);
    writeFile(box.work() / "x.bin", data);
    RunResult r = box.run({"x.bin"});
    EXPECT_EQ(r.status, 67) << r.logText();
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u) << r.logText();
    EXPECT_EQ(shown[0]["text"], "Error writing to file " + secondShown + "x.bin: 0xA0000026h (2684354598)");
    EXPECT_TRUE(hasContent(first() / "x.bin", data));
    // The partial target holds exactly the start of the source, as much as fit.
    std::string partial = readFile(second() / "x.bin");
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LE(partial.size(), 128u * 1024);
    EXPECT_EQ(partial, data.substr(0, partial.size()));
    EXPECT_TRUE(hasContent(box.work() / "x.bin", data));

    // Without a person to ask, the message says in the host's words why the write failed.
    writeFile(box.work() / "y.bin", data);
    RunResult headless = box.run({"y.bin"}, {{"ORVANE_UI", "headless"}});
    EXPECT_EQ(headless.status, 67) << headless.err;
    EXPECT_NE(headless.err.find("\n    cause: /system/Service/Screenshots/y.bin: No space left on device\n"),
              std::string::npos)
        << headless.err;
}

// The export's question after a copy that did not fit: the headless answer stands after the
// question, and the host's reason under it; the undo leaves the stick as it was.
TEST(FullStick, TheExportSaysWhyTheCopyFailedUnderItsAnsweredQuestion) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs as a full stick";
    Sandbox box;
    box.fixClock(now);
    writeFile(box.node("boot") / "Orvane" / "Logs" / "big.log", patternedBytes(1 << 20));
    if (mount("tmpfs", box.node("stick").c_str(), "tmpfs", 0, "size=128k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    RunResult r = box.run({"-m", "export"}, {{"ORVANE_UI", "headless"}});
    umount2(box.node("stick").c_str(), MNT_DETACH);
    EXPECT_EQ(r.status, 66) << r.err;
    EXPECT_NE(r.err.find("Do you want to continue? (answered no)\n    cause: /media/STICK/" + exportName +
                         "/Logs/big.log: No space left on device\n"),
              std::string::npos)
        << r.err;
}

} // namespace
