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

// A read-only medium: each failure says so in the host's words, for a file, the log and an export.
TEST(ReadOnlyMedium, TheFailureSaysTheFileSystemIsReadOnly) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a read-only tmpfs";
    Sandbox box;
    writeFile(box.work() / "x.txt", "hello\n");
    fs::path system = box.node("system");
    if (mount("tmpfs", system.c_str(), "tmpfs", 0, "size=128k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    for (const char* directory : {"Screenshots", "Service/Screenshots", "Logs", "Service/Logs"})
        fs::create_directories(system / directory);
    bool readOnly = mount(nullptr, system.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    RunResult file = box.run({"x.txt"}, {{"ORVANE_UI", "headless"}});
    RunResult log = box.run({"-m", "log"}, {{"ORVANE_UI", "headless"}});
    umount2(system.c_str(), MNT_DETACH);
    ASSERT_TRUE(readOnly);
    EXPECT_EQ(file.status, 0x22) << file.err;
    EXPECT_NE(file.err.find("cause: /system/Service/Screenshots/x.txt: Read-only file system\n"),
              std::string::npos)
        << file.err;
    EXPECT_EQ(log.status, 67) << log.err;
    EXPECT_NE(log.err.find("cause: /system/Service/Logs: may not be written to (a read-only drive, or no "
                           "permission)\n"),
              std::string::npos)
        << log.err;

    fs::path stick = box.node("stick");
    ASSERT_EQ(mount("tmpfs", stick.c_str(), "tmpfs", MS_RDONLY, "size=128k"), 0) << std::strerror(errno);
    RunResult exported = box.run({"-m", "export"}, {{"ORVANE_UI", "headless"}});
    umount2(stick.c_str(), MNT_DETACH);
    EXPECT_EQ(exported.status, 0x22) << exported.err;
    EXPECT_NE(exported.err.find("cause: /media/STICK: the drive may not be written to (it is read-only, or "
                                "there is no permission)\n"),
              std::string::npos)
        << exported.err;
}

// A drive with no free inode takes no log: not even the hidden file it is written into first.
TEST(FullStick, ALogSaveSaysWhyNoFileCouldBeMade) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs without free inodes";
    Sandbox box;
    fs::path full = box.work() / "full";
    fs::create_directories(full);
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=1m,nr_inodes=1") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    RunResult r = box.run({"-m", "log", (full / "notes.log").string()}, {{"ORVANE_UI", "headless"}});
    umount2(full.c_str(), MNT_DETACH);
    EXPECT_EQ(r.status, 67) << r.err;
    EXPECT_NE(r.err.find("cause: /host" + (full / "notes.log").string() + ": No space left on device\n"),
              std::string::npos)
        << r.err;
}

// The export's question after a copy that did not fit: the headless answer stands after the
// question, and the host's reason under it, whether the bytes or the names ran out (a stick
// without a free inode cannot take the category's folder).
TEST(FullStick, TheExportSaysWhyTheCopyFailedUnderItsAnsweredQuestion) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs as a full stick";
    const std::pair<const char*, std::string> cases[] = {{"size=128k", "/Logs/big.log"},
                                                         {"size=4m,nr_inodes=2", "/Logs"}};
    for (const auto& [options, failed] : cases) {
        Sandbox box;
        box.fixClock(now);
        writeFile(box.node("boot") / "Orvane" / "Logs" / "big.log", patternedBytes(1 << 20));
        if (mount("tmpfs", box.node("stick").c_str(), "tmpfs", 0, options) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        RunResult r = box.run({"-m", "export"}, {{"ORVANE_UI", "headless"}});
        umount2(box.node("stick").c_str(), MNT_DETACH);
        EXPECT_EQ(r.status, 66) << r.err;
        EXPECT_NE(r.err.find("Do you want to continue? (answered no)\n    cause: /media/STICK/" + exportName +
                             failed + ": No space left on device\n"),
                  std::string::npos)
            << options << "\n"
            << r.err;
    }
}

} // namespace
