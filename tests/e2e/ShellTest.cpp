// The command line, the help screen, exit statuses and the log's number form, through the binary.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

struct ArgumentCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;
};
using Testing::PrintTo;

class ArgumentTest : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTest, StatusAndOutput) {
    Sandbox box;
    RunResult r = box.run(GetParam().args);
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ArgumentTest,
    ::testing::Values(
        ArgumentCase{"UnknownOption", {"--bogus"}, 1, "Invalid arguments\n"},
        ArgumentCase{"UnknownMode", {"-m", "nonsense"}, 1, "Invalid mode: nonsense\nInvalid arguments\n"},
        ArgumentCase{
            "HelpNameOfExport", {"--mode=log-export"}, 1, "Invalid mode: log-export\nInvalid arguments\n"},
        ArgumentCase{"FileModeWithoutSource", {"--mode=file"}, 1, "No filename specified\n"},
        ArgumentCase{"NoArguments", {}, 1, "No filename specified\n"},
        ArgumentCase{"NumberOptionNotANumber", {"--tid=12x", "a"}, 1, "Invalid arguments\n"},
        ArgumentCase{"NumbersAcceptedSourceMissing", {"--pid", "7", "--tid=3", "missing.txt"}, 67, ""}),
    caseName);

TEST(HelpScreen, PlainTextMatchesTheReferenceByteForByte) {
    Sandbox box;
    for (const char* flag : {"--help", "-h"}) {
        RunResult r = box.run({flag});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, readFile(fs::path(SCRIVLET_GOLDEN_DIR) / "help.txt")) << flag;
    }
}

TEST(HelpScreen, HelpWinsOverAModeButNotOverABadArgument) {
    Sandbox box;
    RunResult r = box.run({"-m", "log", "-h"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("USAGE: scrivletv2", 0), 0u);
    r = box.run({"-h", "--nope"});
    EXPECT_EQ(r.out, "Invalid arguments\n");
}

TEST(HelpScreen, NothingIsPrintedWhenTheCommandLineLibraryFails) {
    Sandbox box;
    box.addFault({{"op", "initCommandline"}, {"error", 0x25}});
    RunResult r = box.run({"--help"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

TEST(ExitStatus, TheFullCodeIsLoggedAndTheLowByteIsTheStatus) {
    Sandbox box;
    RunResult r = box.run({"absent.bin"});
    EXPECT_EQ(r.status, 0x43);
    EXPECT_TRUE(r.logged(4, "Exit code 8443h (33859)")) << r.logText();
    EXPECT_EQ(r.out, "");
}

TEST(ExitStatus, ACodeWhoseLowByteIsZeroNeverReadsAsSuccess) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "x");
    box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"error", 0x20}});
    box.script["select"] = json::array({{{"error", 0x2100}}});
    RunResult r = box.run({"--dont-force-boot", "x.txt"});
    // 0x2100 | 0x40000000 has a zero low byte.
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.logged(4, "Exit code 40002100h (1073750272)")) << r.logText();
}

TEST(ExitStatus, SuccessIsLoggedAtLevelOne) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "x");
    RunResult r = box.run({"x.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.logged(1, "Exit code 0h (0)")) << r.logText();
}

TEST(Language, ASecondCatalogueIsUsedForItsLanguage) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "x");
    RunResult r = box.run({"x.txt"}, {{"ORVANE_LANG", "de"}});
    ASSERT_EQ(r.status, 0);
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["title"], "Information");
    EXPECT_EQ(shown[0]["text"].get<std::string>().rfind("Datei gespeichert als ", 0), 0u);
}

} // namespace
