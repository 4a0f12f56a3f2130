// Mode "log" through the binary: the system log exports itself to each location.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

using namespace Testing;

namespace {

const std::string logName = "Orvane-20260102-ORV.LX64-2.0-user-001.log";
const std::string firstShown = "SYSTEM:/\u200BLogs/\u200BOrvane\u2011"
                               "20260102\u2011ORV.LX64\u2011"
                               "2.0\u2011user\u2011"
                               "001.log";
const std::string secondShown = "SYSTEM:/\u200BService/\u200BLogs/\u200BOrvane\u2011"
                                "20260102\u2011ORV.LX64\u2011"
                                "2.0\u2011user\u2011"
                                "001.log";

struct LogSave : ::testing::Test {
    Sandbox box;
    fs::path first() const { return box.node("system") / "Logs"; }
    fs::path second() const { return box.node("system") / "Service" / "Logs"; }
    RunResult save(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"-m", "log", "--date=20260102"};
        args.insert(args.end(), extra.begin(), extra.end());
        return box.run(args);
    }
};

TEST_F(LogSave, BothLocationsGetTheCompressedLog) {
    RunResult r = save();
    ASSERT_EQ(r.status, 0) << r.logText();
    ASSERT_EQ(listFiles(first()), std::vector<std::string>{logName});
    ASSERT_EQ(listFiles(second()), std::vector<std::string>{logName});
    std::string text = gunzip(readFile(first() / logName));
    EXPECT_NE(text.find("scrivlet["), std::string::npos);
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["text"], "Log saved as " + firstShown + "\nand " + secondShown);
    auto created = r.calls("Progress::create");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0]["maximum"], 200);
    EXPECT_EQ(created[0]["title"], "Saving log");
    auto values = r.calls("Progress.setValue");
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back()["value"], 200);
}

// The log is compressed once per run: the second location gets the first one's bytes, and a member
// of its own for the lines logged since (a gzip file may hold several).
TEST_F(LogSave, TheSecondLocationGetsTheFirstsBytesAndWhatWasLoggedSince) {
    std::string lines;
    for (int i = 0; i < 40000; i++)
        lines += "2026-01-02T00:00:00.000Z L1 earlier[1]: line " + std::to_string(i * 7919) + "\n";
    writeFile(box.root / "syslog" / "system.log.1", lines);
    if (access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "strace is not installed (apt-get install strace)";
    fs::path trace = box.root / "trace.txt";
    box.launcher = {"/usr/bin/strace", "-f", "-qq", "-e", "trace=copy_file_range", "-o", trace.string()};
    // LeakSanitizer cannot work under a tracer; the rest of the sanitized build still checks.
    RunResult r = box.run({"-m", "log", "--date=20260102"}, {{"ASAN_OPTIONS", "exitcode=97:detect_leaks=0"}});
    ASSERT_EQ(r.status, 0) << r.logText();
    // The second export copied the first one's bytes instead of compressing the log again.
    EXPECT_NE(readFile(trace).find("copy_file_range("), std::string::npos) << readFile(trace);
    std::string first = readFile(this->first() / logName), second = readFile(this->second() / logName);
    ASSERT_GT(first.size(), 0u);
    EXPECT_EQ(second.compare(0, first.size(), first), 0)
        << "the first export's bytes do not begin the second";
    std::string firstText = gunzip(first), secondText = gunzip(second);
    ASSERT_FALSE(firstText.empty());
    EXPECT_EQ(firstText.rfind(lines, 0), 0u);
    EXPECT_EQ(secondText.compare(0, firstText.size(), firstText), 0);
}

// Whether the run asked about cancelling after the progress text named the second location.
bool secondLocationPolled(const RunResult& r) {
    auto second = std::find_if(r.transcript.begin(), r.transcript.end(), [](const json& call) {
        return call.value("call", "") == "Progress.setText" &&
               call.value("text", "").find("Service") != std::string::npos;
    });
    return std::any_of(second, r.transcript.end(),
                       [](const json& call) { return call.value("call", "") == "Progress.cancelled"; });
}

// An export done in a moment is done when first asked: the second location, given the first one's
// bytes, is not polled, so the user is not asked whether to cancel it. The moment is short: the
// sandbox goes to a RAM filesystem where there is one, and one run in three must show it (a loaded
// machine may hold the export's thread back past it now and then).
// Sandboxes made while it lives go to a RAM filesystem, where there is one.
class SandboxesOnRam {
  public:
    SandboxesOnRam() {
        if (const char* before = std::getenv("TMPDIR")) m_before = before;
        if (fs::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
    }
    ~SandboxesOnRam() {
        if (m_before)
            setenv("TMPDIR", m_before->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

  private:
    std::optional<std::string> m_before;
};

TEST(QuickLogExport, IsDoneAtItsFirstStatus) {
    SandboxesOnRam onRam;
    int unpolled = 0;
    for (int run = 0; run < 3 && unpolled == 0; run++) {
        Sandbox box;
        RunResult r = box.run({"-m", "log", "--date=20260102"});
        ASSERT_EQ(r.status, 0) << r.logText();
        ASSERT_EQ(listFiles(box.node("system") / "Service" / "Logs"), std::vector<std::string>{logName});
        if (!secondLocationPolled(r)) unpolled++;
    }
    EXPECT_EQ(unpolled, 1) << "the second location was polled in each of three runs";
}

TEST_F(LogSave, OtherInterfaceTypeListsThePaths) {
    box.script["type"] = 2;
    RunResult r = save();
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "Log saved as:\n - SYSTEM:/Logs/" + logName + "\n - SYSTEM:/Service/Logs/" + logName);
}

TEST_F(LogSave, AFirstPositionalArgumentIsTheName) {
    RunResult r = box.run({"-m", "log", "mine.log"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(listFiles(first()), std::vector<std::string>{"mine.log"});
}

TEST_F(LogSave, AFailedExportRemovesOnlyItsOwnFile) {
    box.addFault({{"op", "SysLogExport::run"}, {"path", "/system/Logs/*"}, {"error", 0x25}});
    RunResult r = save();
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(listFiles(first()).empty());
    EXPECT_EQ(listFiles(second()), std::vector<std::string>{logName});
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"], "Log saved as " + secondShown);
}

TEST_F(LogSave, EveryExportFailing) {
    box.addFault({{"op", "SysLog::exportLog"}, {"error", 0x25}});
    RunResult r = save();
    EXPECT_EQ(r.status, 67);
    EXPECT_TRUE(r.logged(4, "Failed to initiate export to /system/Logs/" + logName)) << r.logText();
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "Could not store file " + std::string("Orvane-20260102-ORV.LX64-2.0-user.log") +
                  ": 0x20008443 (536904771)");
    EXPECT_TRUE(listFiles(first()).empty());
    EXPECT_TRUE(listFiles(second()).empty());
}

TEST_F(LogSave, CancellingTheSecondExportRemovesBothFiles) {
    // Both exports run long enough to be asked about: the first for one status, the second for more.
    box.addFault({{"op", "SysLogExport::chunk"}, {"delayMs", 50}, {"error", 0}});
    box.addFault(
        {{"op", "SysLogExport::run"}, {"path", "/system/Service/Logs/*"}, {"delayMs", 500}, {"error", 0}});
    box.script["cancel"] = json::array({{{"progress", 1}, {"query", 2}}});
    RunResult r = save();
    EXPECT_EQ(r.status, 66);
    EXPECT_EQ(r.out, "User aborted\n");
    EXPECT_TRUE(listFiles(first()).empty());
    EXPECT_TRUE(listFiles(second()).empty());
}

struct UnavailableCase {
    const char* name;
    std::vector<std::string> options;
    std::string infoText;
    std::string shown;
};
using Testing::PrintTo;

class LogUnavailable : public ::testing::TestWithParam<UnavailableCase> {};

TEST_P(LogUnavailable, Result8483AndTheRightWording) {
    Sandbox box;
    box.config["syslog"]["options"] = 1;
    box.config["syslog"]["infoText"] = GetParam().infoText;
    std::vector<std::string> args{"-m", "log"};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    RunResult r = box.run(args);
    EXPECT_EQ(r.status, 0x83);
    auto shown = r.calls("Dialog::show");
    if (GetParam().shown.empty()) {
        EXPECT_TRUE(shown.empty());
    } else {
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0]["title"], "SysLog not available");
        EXPECT_EQ(shown[0]["text"], GetParam().shown);
    }
    EXPECT_TRUE(listFiles(box.node("system")).empty());
}

INSTANTIATE_TEST_SUITE_P(
    LogSave, LogUnavailable,
    ::testing::Values(
        UnavailableCase{
            "Redirected", {}, "", "The system log is not available, it's output is redirected to "},
        UnavailableCase{"DisabledByBootParameter",
                        {},
                        "syslog=off",
                        "The system log is not available as it's disabled due to a boot parameter."},
        UnavailableCase{"SilentShowsNothing", {"-s", "--show-progress", "--show-success"}, "", ""}),
    caseName);

struct VisibilityCase {
    const char* name;
    std::vector<std::string> options;
    bool progress;
    bool success;
};

class LogVisibility : public ::testing::TestWithParam<VisibilityCase> {};

TEST_P(LogVisibility, ProgressAndSuccessFollowTheirRules) {
    Sandbox box;
    std::vector<std::string> args{"-m", "log"};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    RunResult r = box.run(args);
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(r.calls("Progress::create").size(), GetParam().progress ? 1u : 0u);
    EXPECT_EQ(r.calls("Dialog::show").size(), GetParam().success ? 1u : 0u);
    EXPECT_EQ(listFiles(box.node("system") / "Logs").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    LogSave, LogVisibility,
    ::testing::Values(VisibilityCase{"Default", {}, true, true},
                      VisibilityCase{"Silent", {"-s"}, false, false},
                      VisibilityCase{"SilentShowProgress", {"-s", "--show-progress"}, true, false},
                      VisibilityCase{"SilentShowSuccess", {"-s", "--show-success"}, false, true}),
    caseName);

TEST(LogSaveDrive, DialogFlagsAndTheLogsHierarchy) {
    Sandbox box;
    box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"error", 0x20}});
    box.script["select"] = json::array({{{"drive", "STICK"}}});
    RunResult r = box.run({"-m", "log", "-s", "--dont-force-boot", "mine.log"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(r.calls("FSItem::create").at(0)["flags"], 0x84 | 0x508 | 0x800);
    EXPECT_EQ(r.calls("FSItem::create").at(0)["prompt"], "Select drive in which to store the log");
    EXPECT_EQ(listFiles(box.node("stick")), std::vector<std::string>{"Orvane/Logs/mine.log"});
}

} // namespace
