// Modes "file" and "screenshot" through the binary: where the copies go, what the user sees, and
// what every failure leaves on disk.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

// Display forms of the two platform screenshot directories.
const std::string firstShown = "SYSTEM:/\u200BScreenshots/\u200B";
const std::string secondShown = "SYSTEM:/\u200BService/\u200BScreenshots/\u200B";

struct FileSave : ::testing::Test {
    Sandbox box;
    fs::path first() const { return box.node("system") / "Screenshots"; }
    fs::path second() const { return box.node("system") / "Service" / "Screenshots"; }
    std::string source(const std::string& name, size_t size) {
        writeFile(box.work() / name, patternedBytes(size));
        return name;
    }
    static std::vector<json> messages(const RunResult& r) { return r.calls("Dialog::show"); }
};

TEST_F(FileSave, WritesBothPlatformDirectoriesAndNamesBoth) {
    std::string data = patternedBytes(200000);
    writeFile(box.work() / "x.bin", data);
    long long sourceTime = modifiedMs(box.work() / "x.bin");
    RunResult r = box.run({"x.bin"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(hasContent(first() / "x.bin", data));
    EXPECT_TRUE(hasContent(second() / "x.bin", data));
    EXPECT_TRUE(hasContent(box.work() / "x.bin", data));
    EXPECT_EQ(modifiedMs(box.work() / "x.bin"), sourceTime);

    auto shown = messages(r);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["title"], "Information");
    EXPECT_EQ(shown[0]["text"], "File saved as " + firstShown + "x.bin\nand " + secondShown + "x.bin");
    EXPECT_TRUE(r.logged(1, "Usable entries of 2h (2) available: 2h (2)")) << r.logText();

    // One progress bar over both copies, asked for cancellation after every 64 KiB chunk.
    auto created = r.calls("Progress::create");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0]["maximum"], 400000);
    EXPECT_EQ(created[0]["title"], "Saving file");
    EXPECT_EQ(created[0]["flags"], json::array({false, true}));
    auto values = r.calls("Progress.setValue");
    ASSERT_EQ(values.size(), 8u);
    EXPECT_EQ(values[0]["value"], 65536);
    EXPECT_EQ(values[3]["value"], 200000);
    EXPECT_EQ(values[7]["value"], 400000);
    EXPECT_EQ(r.calls("Progress.cancelled").size(), 8u);
    for (const json& q : r.calls("Progress.cancelled"))
        EXPECT_EQ(q["flag"], false);
    // Both sides map onto the block, so nothing falls back to the plain buffer.
    EXPECT_FALSE(r.logged(3, "Could not map")) << r.logText();
}

TEST_F(FileSave, OneLocationGivesOneNameInTheMessage) {
    source("x.txt", 10);
    box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"path", "10"}, {"error", 0x20}});
    RunResult r = box.run({"x.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(fs::exists(first() / "x.txt"));
    EXPECT_FALSE(fs::exists(second() / "x.txt"));
    EXPECT_EQ(messages(r).at(0)["text"], "File saved as " + firstShown + "x.txt");
}

TEST_F(FileSave, UserInterfaceTypeOtherShowsPlainPaths) {
    source("x.txt", 10);
    box.script["type"] = 2;
    RunResult r = box.run({"x.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(messages(r).at(0)["text"],
              "File saved as SYSTEM:/Screenshots/x.txt\nand SYSTEM:/Service/Screenshots/x.txt");
}

TEST_F(FileSave, ExistingTargetDropsOutUntilEveryLocationHasIt) {
    source("x.txt", 10);
    writeFile(first() / "x.txt", "keep me");
    RunResult r = box.run({"x.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(readFile(first() / "x.txt"), "keep me");
    EXPECT_TRUE(hasContent(second() / "x.txt", patternedBytes(10)));
    EXPECT_TRUE(r.logged(1, "Usable entries of 2h (2) available: 1h (1)"));

    RunResult again = box.run({"x.txt"});
    EXPECT_EQ(again.status, 67);
    auto shown = messages(again);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["text"], "File already exists: /system/Service/Screenshots/x.txt");
    EXPECT_EQ(readFile(first() / "x.txt"), "keep me");
    EXPECT_TRUE(again.calls("Progress::create").empty());
}

TEST_F(FileSave, AddIndexRetriesAFileOpenedElsewhereWithAtMostSixNames) {
    source("x.txt", 10);
    // Five refusals: the sixth name succeeds on the first location.
    box.addFault({{"op", "File::open"}, {"path", "/system/Screenshots/x-*"}, {"error", 0x222}, {"times", 5}});
    RunResult r = box.run({"--add-index", "x.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(listFiles(first()), std::vector<std::string>{"x-001.txt"});
    EXPECT_EQ(listFiles(second()), std::vector<std::string>{"x-001.txt"});
    size_t retries = 0;
    for (const LogLine& l : r.log)
        if (l.level == 3 && l.text == "Determining filename again, because file is already opened: "
                                      "/system/Screenshots/x-001.txt")
            retries++;
    EXPECT_EQ(retries, 5u);
}

TEST_F(FileSave, SixRefusalsGiveUpOnThatLocationOnly) {
    source("x.txt", 10);
    box.addFault({{"op", "File::open"}, {"path", "/system/Screenshots/x-*"}, {"error", 0x222}});
    RunResult r = box.run({"--add-index", "x.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(listFiles(first()).empty());
    EXPECT_EQ(listFiles(second()), std::vector<std::string>{"x-001.txt"});
    EXPECT_TRUE(r.logged(1, "Usable entries of 2h (2) available: 1h (1)"));
}

TEST_F(FileSave, AddIndexCreationFailureEverywhere) {
    source("x.txt", 10);
    box.addFault({{"op", "File::open"}, {"path", "/system/*/x-*"}, {"error", 0x22}});
    RunResult r = box.run({"--add-index", "x.txt"});
    EXPECT_EQ(r.status, 0x22);
    EXPECT_EQ(messages(r).at(0)["text"],
              "Could not create file: /system/Service/Screenshots/x-001.txt; error: 0x10000022 (268435490)");
}

TEST_F(FileSave, PlainCreationFailureEverywhere) {
    source("x.txt", 10);
    box.addFault({{"op", "File::open"}, {"path", "/system/*/x.txt"}, {"error", 0x22}});
    RunResult r = box.run({"x.txt"});
    EXPECT_EQ(r.status, 0x22);
    EXPECT_EQ(messages(r).at(0)["text"],
              "Could not create file: /system/Service/Screenshots/x.txt; error: 0x60000022 (1610612770)");
    EXPECT_TRUE(listFiles(box.node("system")).empty());
}

TEST_F(FileSave, MissingSource) {
    RunResult r = box.run({"missing.txt"});
    EXPECT_EQ(r.status, 67);
    auto shown = messages(r);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["title"], "Error");
    EXPECT_EQ(shown[0]["severity"], 4);
    EXPECT_EQ(shown[0]["text"], "Could not open source file: missing.txt; error: 0x20h (32)");
    EXPECT_TRUE(listFiles(box.node("system")).empty());
}

TEST_F(FileSave, ReadErrorLeavesTargetsAsFarAsWritten) {
    source("x.bin", 200000);
    box.addFault({{"op", "File::read"}, {"path", "*/work/x.bin"}, {"bytes", 100000}, {"error", 0x25}});
    RunResult r = box.run({"x.bin"});
    EXPECT_EQ(r.status, 67);
    auto shown = messages(r);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["text"], "Error reading from file x.bin: 0xC0000025h (3221225509)");
    EXPECT_TRUE(hasContent(first() / "x.bin", patternedBytes(100000)));
    EXPECT_EQ(fs::file_size(second() / "x.bin"), 0u);
}

TEST_F(FileSave, ShortWriteAsOnAFullDisk) {
    source("x.bin", 200000);
    box.addFault({{"op", "File::write"}, {"path", "/system/Service/*"}, {"bytes", 70000}, {"error", 0x26}});
    RunResult r = box.run({"x.bin"});
    EXPECT_EQ(r.status, 67);
    EXPECT_EQ(messages(r).at(0)["text"],
              "Error writing to file " + secondShown + "x.bin: 0xA0000026h (2684354598)");
    EXPECT_TRUE(hasContent(first() / "x.bin", patternedBytes(200000)));
    EXPECT_TRUE(hasContent(second() / "x.bin", patternedBytes(70000)));
}

TEST_F(FileSave, CancellationRemovesEveryTarget) {
    source("x.bin", 200000);
    box.script["cancel"] = json::array({{{"progress", 1}, {"query", 6}}});
    RunResult r = box.run({"x.bin"});
    EXPECT_EQ(r.status, 66);
    EXPECT_EQ(r.out, "User aborted\n");
    EXPECT_TRUE(messages(r).empty());
    EXPECT_TRUE(listFiles(box.node("system")).empty());
    EXPECT_TRUE(hasContent(box.work() / "x.bin", patternedBytes(200000)));
}

TEST_F(FileSave, EmptySourceMakesEmptyTargetsWithoutProgressValues) {
    source("empty.txt", 0);
    RunResult r = box.run({"empty.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(fs::file_size(first() / "empty.txt"), 0u);
    EXPECT_EQ(fs::file_size(second() / "empty.txt"), 0u);
    EXPECT_TRUE(r.calls("Progress.setValue").empty());
}

TEST_F(FileSave, MappingFallbackIsLoggedAndStillCopiesExactly) {
    source("x.bin", 150000);
    box.addFault({{"op", "File::map"}, {"error", 0x25}});
    RunResult r = box.run({"x.bin"});
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.logged(3, "Could not map source file, using non mapped read; error: 25h (37)"))
        << r.logText();
    EXPECT_TRUE(r.logged(3, "Could not map destination file, using non mapped write; error: 25h (37)"));
    EXPECT_TRUE(hasContent(first() / "x.bin", patternedBytes(150000)));
    EXPECT_TRUE(hasContent(second() / "x.bin", patternedBytes(150000)));
}

TEST_F(FileSave, NoCopyBufferKeepsTheEmptyTargets) {
    source("x.txt", 10);
    box.addFault({{"op", "ShMem::create"}, {"error", 0x26}});
    RunResult r = box.run({"x.txt"});
    EXPECT_EQ(r.status, 67);
    EXPECT_TRUE(r.logged(4, "Could not create shared memory; error: 26h (38)"));
    EXPECT_EQ(messages(r).at(0)["text"],
              "Could not create file: /system/Screenshots/x.txt; error: 0x80000026 (2147483686)");
    EXPECT_EQ(fs::file_size(first() / "x.txt"), 0u);
}

TEST_F(FileSave, FailedSuccessDialogIsLoggedAndStillSucceeds) {
    source("x.txt", 10);
    box.addFault({{"op", "Dialog::show"}, {"error", 0x25}});
    RunResult r = box.run({"x.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.logged(4, "Failed to show success information dialog; error: 25h (37)")) << r.logText();
}

struct VisibilityCase {
    const char* name;
    std::vector<std::string> options;
    bool dialog;
};
using Testing::PrintTo;

class StoreFailureVisibility : public ::testing::TestWithParam<VisibilityCase> {};

TEST_P(StoreFailureVisibility, OnlyTheProgressRuleHidesIt) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "x");
    box.addFault({{"op", "Directory::createDirectory"}, {"error", 0x22}});
    std::vector<std::string> args = GetParam().options;
    args.push_back("x.txt");
    RunResult r = box.run(args);
    EXPECT_EQ(r.status, 67);
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), GetParam().dialog ? 1u : 0u);
    if (GetParam().dialog) {
        EXPECT_EQ(shown[0]["text"], "Could not store file: x.txt; error: 0x80008443 (2147517507)");
    }
    EXPECT_TRUE(r.logged(4, "Exit code 80008443h (2147517507)"));
}

INSTANTIATE_TEST_SUITE_P(
    FileSave, StoreFailureVisibility,
    ::testing::Values(VisibilityCase{"Default", {}, true}, VisibilityCase{"Silent", {"-s"}, false},
                      VisibilityCase{"SilentShowProgress", {"-s", "--show-progress"}, true},
                      VisibilityCase{"SilentShowSuccess", {"-s", "--show-success"}, false}),
    caseName);

struct DriveDialog : FileSave {
    void SetUp() override {
        source("x.txt", 10);
        // No platform directory: the drive-selection dialog decides.
        box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"error", 0x20}});
    }
};

TEST_F(DriveDialog, ForcedBootDriveGetsTheProductHierarchy) {
    RunResult r = box.run({"x.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    auto dialogs = r.calls("FSItem::create");
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0]["flags"], 0x84 | 0x108 | 0x40);
    EXPECT_EQ(dialogs[0]["prompt"], "Select drive in which to store the file");
    EXPECT_EQ(dialogs[0]["defaultName"], "x.txt");
    EXPECT_EQ(dialogs[0]["forcedBoot"], true);
    EXPECT_TRUE(hasContent(box.node("boot") / "Orvane" / "Screenshots" / "x.txt", patternedBytes(10)));
}

// The chosen drive stays mounted while its location is in use: the cancelled save removes its target.
TEST_F(DriveDialog, CancellingOnAChosenDriveRemovesTheTargetThere) {
    source("x.bin", 300000);
    box.script["select"] = json::array({{{"drive", "STICK"}}});
    box.script["cancel"] = json::array({{{"progress", 1}, {"query", 2}}});
    RunResult r = box.run({"--dont-force-boot", "x.bin"});
    EXPECT_EQ(r.status, 66) << r.logText();
    EXPECT_EQ(r.out, "User aborted\n");
    EXPECT_FALSE(r.logged(3, "Failed to open directory")) << r.logText();
    EXPECT_TRUE(listFiles(box.node("stick")).empty());
}

TEST_F(DriveDialog, WithoutForcingTheUserChoosesTheDrive) {
    box.script["select"] = json::array({{{"drive", "STICK"}}});
    RunResult r = box.run({"--dont-force-boot", "x.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(r.calls("FSItem::create").at(0)["flags"], 0x84 | 0x108);
    EXPECT_EQ(listFiles(box.node("stick")), std::vector<std::string>{"Orvane/Screenshots/x.txt"});
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "File saved as STICK:/\u200BOrvane/\u200BScreenshots/\u200Bx.txt");
}

TEST_F(DriveDialog, ClosedDialogEndsQuietly) {
    box.script["select"] = json::array({{{"error", 0x2007}}});
    RunResult r = box.run({"--dont-force-boot", "x.txt"});
    EXPECT_EQ(r.status, 7);
    EXPECT_TRUE(r.calls("Dialog::show").empty());
    EXPECT_TRUE(r.logged(4, "Exit code 2007h (8199)"));
}

TEST_F(DriveDialog, FailedDialogIsReportedWithItsStage) {
    box.script["select"] = json::array({{{"error", 0x25}}});
    RunResult r = box.run({"--dont-force-boot", "x.txt"});
    EXPECT_EQ(r.status, 0x25);
    EXPECT_TRUE(r.logged(4, "Could not initialize storage location; error: 25h (37)"));
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "Could not create file: x.txt; error: 0x40000025 (1073741861)");
}

TEST_F(DriveDialog, AllowRenameUsesTheFileTheDialogCreated) {
    box.script["select"] = json::array({{{"drive", "STICK"}, {"name", "chosen.txt"}}});
    RunResult r = box.run({"--allow-rename", "--dont-force-boot", "x.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(r.calls("FSItem::create").at(0)["flags"], 0x02 | 0x108);
    EXPECT_TRUE(r.calls("Dialog::create").empty());
    EXPECT_EQ(listFiles(box.node("stick")), std::vector<std::string>{"chosen.txt"});
    EXPECT_TRUE(hasContent(box.node("stick") / "chosen.txt", patternedBytes(10)));
}

TEST_F(DriveDialog, AllowRenameRefusesAnExistingName) {
    writeFile(box.node("stick") / "chosen.txt", "old");
    box.script["select"] = json::array({{{"drive", "STICK"}, {"name", "chosen.txt"}}});
    RunResult r = box.run({"--allow-rename", "--dont-force-boot", "x.txt"});
    EXPECT_EQ(r.status, 0x24);
    EXPECT_EQ(readFile(box.node("stick") / "chosen.txt"), "old");
}

TEST(ScreenshotMode, PredeterminedNameFromTheSourceExtension) {
    Sandbox box;
    writeFile(box.work() / "shot.png", "png");
    RunResult r = box.run({"-m", "screenshot", "--date=20260102", "--suffix=desk", "shot.png"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(listFiles(box.node("system") / "Screenshots"),
              std::vector<std::string>{"Orvane-20260102-ORV.LX64-2.0-desk.png"});
}

TEST(ScreenshotMode, WithoutSourceTheNameIsInvalid) {
    Sandbox box;
    RunResult r = box.run({"-m", "screenshot"});
    EXPECT_EQ(r.status, 67);
    EXPECT_TRUE(r.logged(4, "Filename is invalid"));
    EXPECT_TRUE(r.calls("Dialog::show").empty());
}

} // namespace
