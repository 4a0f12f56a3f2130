// Mode "export" through the binary: the selection dialog, the copy to the chosen drive, the undo of
// an aborted export and the clearing of old files on the boot drive.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Testing;

namespace {

struct Export : ::testing::Test {
    Sandbox box;
    fs::path orvane() const { return box.node("boot") / "Orvane"; }
    fs::path exported() const { return box.node("stick") / exportName; }

    void SetUp() override {
        box.fixClock(now);
        fs::remove_all(orvane());
        put("Logs/old.log", "old log\n", now - 100 * day);
        put("Logs/recent.log", "recent log\n", now - 80 * day);
        put("Screenshots/shot.png", "png", now - 200 * day);
        put("Analyze/analysis.txt", "analysis", now - 400 * day);
        choose({});
    }
    void put(const std::string& relative, const std::string& data, long long modified) {
        writeFile(orvane() / relative, data);
        setModifiedMs(orvane() / relative, modified);
    }
    // The drive dialog answers STICK with these element states.
    void choose(json elements) {
        box.script["select"] = json::array({{{"drive", "STICK"}, {"elements", elements}}});
    }
    RunResult run(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"-m", "export"};
        args.insert(args.end(), extra.begin(), extra.end());
        return box.run(args);
    }
    // Every file below the boot drive's category directories and the export, with its bytes and time.
    void expectCopied(const std::vector<std::string>& relatives) {
        std::vector<std::string> expected(relatives);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listFiles(exported()), expected);
        for (const std::string& r : relatives) {
            EXPECT_TRUE(hasContent(exported() / r, readFile(orvane() / r))) << r;
            EXPECT_EQ(modifiedMs(exported() / r), modifiedMs(orvane() / r)) << r;
        }
    }
    static json lastMessage(const RunResult& r) {
        auto shown = r.calls("Dialog::show");
        return shown.empty() ? json() : shown.back();
    }
};

TEST_F(Export, DefaultChoiceExportsLogsAndClearsThoseOlderThanThreeMonths) {
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.logText();
    // The old log is gone from the boot drive, so compare against what it held.
    EXPECT_EQ(listFiles(exported()), (std::vector<std::string>{"Logs/old.log", "Logs/recent.log"}));
    EXPECT_TRUE(hasContent(exported() / "Logs/old.log", "old log\n"));
    EXPECT_EQ(modifiedMs(exported() / "Logs/old.log"), now - 100 * day);
    EXPECT_EQ(modifiedMs(exported() / "Logs/recent.log"), now - 80 * day);
    EXPECT_EQ(listFiles(orvane()),
              (std::vector<std::string>{"Analyze/analysis.txt", "Logs/recent.log", "Screenshots/shot.png"}));
    EXPECT_EQ(lastMessage(r)["title"], "Export successful");
    EXPECT_EQ(lastMessage(r)["text"], "Logs successfully exported to /media/STICK/" + exportName);
    EXPECT_TRUE(r.logged(1, "Removing files after export that are older than 2025-10-03")) << r.logText();
    EXPECT_TRUE(r.logged(1, "Count of files to export: 2h (2)"));
    EXPECT_TRUE(r.logged(1, "Files to delete: 1h (1)"));

    auto progress = r.calls("Progress::create");
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0]["title"], "Exporting...");
    EXPECT_EQ(progress[0]["text"], "Preparing data...");
    EXPECT_EQ(progress[0]["maximum"], 2000);
    EXPECT_EQ(progress[0]["flags"], json::array({true, true}));
    EXPECT_EQ(r.calls("Progress.setValue").back()["value"], 2000);
    auto texts = r.calls("Progress.setText");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0]["text"], "Exporting ./Logs/old.log");
    EXPECT_EQ(texts[2]["text"], "REMOVING OLD FILES...");
}

// An original leaves the boot drive only once its copy is on the stick: the stick's filesystem is
// flushed before the first removal, not only before the message that follows it.
TEST_F(Export, TheCopiesAreOnTheStickBeforeTheFirstOriginalIsRemoved) {
    if (access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "strace is not installed (apt-get install strace)";
    fs::path trace = box.root / "trace.txt";
    box.launcher = {"/usr/bin/strace", "-f", "-qq", "-e", "trace=syncfs,unlinkat", "-o", trace.string()};
    RunResult r = box.run({"-m", "export"}, {{"ASAN_OPTIONS", "exitcode=97:detect_leaks=0"}});
    ASSERT_EQ(r.status, 0) << r.logText();
    ASSERT_FALSE(fs::exists(orvane() / "Logs/old.log"));
    std::string calls = readFile(trace);
    size_t removal = calls.find("\"old.log\"");
    ASSERT_NE(removal, std::string::npos) << calls;
    size_t flush = calls.rfind("syncfs(", removal);
    ASSERT_NE(flush, std::string::npos) << "no flush before the removal:\n" << calls;
    EXPECT_NE(calls.substr(flush, calls.find('\n', flush) - flush).find("= 0"), std::string::npos) << calls;
}

TEST_F(Export, TheDialogOffersEveryElementWithItsState) {
    fs::remove_all(orvane() / "Screenshots");
    fs::remove(orvane() / "Analyze/analysis.txt");
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.logText();
    auto dialogs = r.calls("FSItem::create");
    ASSERT_EQ(dialogs.size(), 1u);
    const json& d = dialogs[0];
    EXPECT_EQ(d["flags"], 0x38C);
    EXPECT_EQ(d["title"], "Export system files");
    EXPECT_EQ(d["prompt"], "Select drive to which to export the logs");
    json expected = json::parse(R"([
      {"kind":"groupBox","id":"gbElements","text":"Select elements to export","hint":null,"enabled":true,
       "checkable":false,"checked":false,"children":[
        {"kind":"checkBox","id":"cbLogs","text":"Logs","hint":"Export log files","enabled":true,"checked":true},
        {"kind":"checkBox","id":"cbScreenshots","text":"Screenshots","hint":"No screenshots available",
         "enabled":false,"checked":false},
        {"kind":"checkBox","id":"cbAnalyze","text":"Analyze","hint":"No analyze files available",
         "enabled":false,"checked":false}]},
      {"kind":"groupBox","id":"gbClear","text":"CLEAR DATA","hint":null,"enabled":true,"checkable":true,
       "checked":true,"children":[
        {"kind":"label","id":"lblClear","text":"AFTER EXPORT REMOVE FILES THAT ARE OLDER THAN",
         "hint":"REMOVE ALL FILES OF THE SELECTED CATEGORIES AFTER THEY WERE EXPORTED THAT ARE OLDER THAN THE VALUE SELECTED IN THE DROPDOWN",
         "enabled":true},
        {"kind":"dropDown","id":"ddClear",
         "hint":"REMOVE ALL FILES OF THE SELECTED CATEGORIES AFTER THEY WERE EXPORTED THAT ARE OLDER THAN THE VALUE SELECTED IN THE DROPDOWN",
         "text":null,"enabled":true,"items":["1 DAY","1 WEEK","1 MONTH","3 MONTHS","1 YEAR"],"selected":3}]}])");
    EXPECT_EQ(d["elements"], expected);
    EXPECT_TRUE(r.logged(1, "Directory not found: /boot/Orvane/Screenshots")) << r.logText();
}

TEST_F(Export, AReadOnlyCategoryIsCopiedButNeverCleared) {
    box.addFault({{"op", "Directory::open"}, {"path", "/boot/Orvane/Logs"}, {"error", 0x22}, {"times", 1}});
    choose({{"cbScreenshots", true}});
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(r.logged(3, "Failed to open as read/write: /boot/Orvane/Logs"));
    EXPECT_TRUE(fs::exists(orvane() / "Logs/old.log"));
    EXPECT_FALSE(fs::exists(orvane() / "Screenshots/shot.png"));
    EXPECT_EQ(listFiles(exported()),
              (std::vector<std::string>{"Logs/old.log", "Logs/recent.log", "Screenshots/shot.png"}));
}

TEST_F(Export, NoWritableCategoryMeansNoClearingGroup) {
    box.config["nodes"][1]["readOnly"] = true;
    ASSERT_EQ(box.config["nodes"][1]["name"], "/devices/orvane/boot");
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(
        r.logged(3, "None of the directories can be written to; not showing option to clear old files"));
    EXPECT_EQ(r.calls("FSItem::create").at(0)["elements"].size(), 1u);
    EXPECT_EQ(r.calls("Progress::create").at(0)["maximum"], 1000);
    EXPECT_TRUE(fs::exists(orvane() / "Logs/old.log"));
    expectCopied({"Logs/old.log", "Logs/recent.log"});
}

TEST_F(Export, ClearingOffCopiesEverythingCheckedAndRemovesNothing) {
    choose({{"cbScreenshots", true}, {"cbAnalyze", true}, {"gbClear", {{"checked", false}}}});
    RunResult r = run();
    ASSERT_EQ(r.status, 0);
    expectCopied({"Logs/old.log", "Logs/recent.log", "Screenshots/shot.png", "Analyze/analysis.txt"});
    EXPECT_EQ(listFiles(orvane()).size(), 4u);
    EXPECT_EQ(r.calls("Progress::create").at(0)["maximum"], 1000);
}

TEST_F(Export, NothingOldEnoughLeavesTheProgressAtOneThousand) {
    choose({{"ddClear", 4}});
    RunResult r = run();
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.logged(1, "Files to delete: 0h (0)"));
    EXPECT_EQ(r.calls("Progress.setMaximum").back()["maximum"], 1000);
    for (const json& t : r.calls("Progress.setText"))
        EXPECT_NE(t["text"], "REMOVING OLD FILES...");
}

TEST_F(Export, FilesInSubdirectoriesAreNeitherCopiedNorRemoved) {
    put("Logs/nested/deep.log", "deep", now - 500 * day);
    RunResult r = run();
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(orvane() / "Logs/nested/deep.log"));
    EXPECT_FALSE(fs::exists(exported() / "Logs/nested"));
}

TEST_F(Export, LargeFilesCrossTheOneMegabyteWindowIntact) {
    std::string exact(0x100000, 'x'), large(3 * 0x100000 + 17, '\0');
    for (size_t i = 0; i < large.size(); i++)
        large[i] = static_cast<char>(i * 7 + i / 4096);
    put("Logs/exact.bin", exact, now - day);
    put("Logs/large.bin", large, now - day);
    choose({{"gbClear", {{"checked", false}}}});
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.logText();
    expectCopied({"Logs/exact.bin", "Logs/large.bin", "Logs/old.log", "Logs/recent.log"});
}

TEST_F(Export, ContinuingAfterACopyFailureFinishesTheExport) {
    box.addFault({{"op", "File::open"}, {"path", "/boot/Orvane/Logs/old.log"}, {"error", 0x25}});
    box.script["answers"] = json::array({1, 1});
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.logText();
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0]["title"], "Copy failed");
    EXPECT_EQ(shown[0]["severity"], 3);
    EXPECT_EQ(
        shown[0]["text"],
        "Failed to copy file ./Logs/old.log.\nErrorcode: 0x90000025 (2415919141)\nDo you want to continue?");
    EXPECT_EQ(shown[1]["title"], "EXPORT FAILED. CONTINUE WITH CLEARING");
    EXPECT_EQ(shown[2]["title"], "Export successful");
    EXPECT_TRUE(r.logged(4, "Failed to open file ./Logs/old.log; error: 25h (37)"));
    // Chosen for removal before the copy, so cleared although its copy failed.
    EXPECT_FALSE(fs::exists(orvane() / "Logs/old.log"));
    EXPECT_EQ(listFiles(exported()), std::vector<std::string>{"Logs/recent.log"});
}

TEST_F(Export, DecliningToClearAfterErrorsKeepsEverything) {
    box.addFault({{"op", "File::open"}, {"path", "/boot/Orvane/Logs/recent.log"}, {"error", 0x25}});
    box.script["answers"] = json::array({1, 2});
    RunResult r = run();
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(orvane() / "Logs/old.log"));
    EXPECT_FALSE(r.logged(1, "Files to delete"));
}

TEST_F(Export, StoppingAtTheCopyQuestionUndoesTheExport) {
    box.addFault({{"op", "File::open"}, {"path", "/boot/Orvane/Logs/recent.log"}, {"error", 0x25}});
    box.script["answers"] = json::array({2});
    RunResult r = run();
    EXPECT_EQ(r.status, 66);
    EXPECT_TRUE(listFiles(box.node("stick")).empty());
    EXPECT_EQ(listFiles(orvane()).size(), 4u);
    // The failed entry was never created: its removal fails, so the emptied export directory stays.
    EXPECT_TRUE(r.logged(3, "Failed to remove /media/STICK/" + exportName + "/Logs/recent.log"))
        << r.logText();
    EXPECT_TRUE(fs::is_directory(exported()));
    EXPECT_FALSE(fs::exists(exported() / "Logs"));
}

TEST_F(Export, StoppingAfterAFailedReadRemovesTheExportDirectoryToo) {
    put("Logs/zz.bin", std::string(5000, 'z'), now - day);
    box.addFault(
        {{"op", "File::read"}, {"path", "/boot/Orvane/Logs/zz.bin"}, {"bytes", 10}, {"error", 0x25}});
    box.script["answers"] = json::array({2});
    RunResult r = run();
    EXPECT_EQ(r.status, 66);
    EXPECT_TRUE(fs::is_empty(box.node("stick"))) << r.logText();
}

TEST_F(Export, ReadFailureKeepsThePartialCopy) {
    std::string big(3 * 0x100000, 'b');
    put("Logs/big.bin", big, now - day);
    // The second read comes back short with an error: its bytes are not written.
    box.addFault({{"op", "File::read"},
                  {"path", "/boot/Orvane/Logs/big.bin"},
                  {"bytes", 0x100000 + 1000},
                  {"error", 0x25}});
    box.script["answers"] = json::array({1});
    choose({{"gbClear", {{"checked", false}}}});
    RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(
        r.calls("Dialog::show").at(0)["text"],
        "Failed to copy file ./Logs/big.bin.\nErrorcode: 0xC0000025 (3221225509)\nDo you want to continue?");
    EXPECT_TRUE(hasContent(exported() / "Logs/big.bin", std::string(0x100000, 'b')));
    EXPECT_EQ(modifiedMs(exported() / "Logs/big.bin"), now - day);
}

TEST_F(Export, CancellingDuringTheCopyRemovesEverythingCopied) {
    box.script["cancel"] = json::array({{{"progress", 1}, {"query", 2}}});
    choose({{"cbScreenshots", true}});
    RunResult r = run();
    EXPECT_EQ(r.status, 66);
    EXPECT_FALSE(fs::exists(exported()));
    EXPECT_EQ(listFiles(orvane()).size(), 4u);
}

TEST_F(Export, CancellingDuringTheClearingStopsItButTheExportSucceeds) {
    put("Logs/older.log", "older", now - 300 * day);
    // Three copies ask three times; the first removal asks the fourth time.
    box.script["cancel"] = json::array({{{"progress", 1}, {"query", 4}}});
    RunResult r = run();
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(lastMessage(r)["title"], "Export successful");
    EXPECT_EQ(listFiles(orvane() / "Logs").size(), 2u);
}

TEST_F(Export, AFailedRemovalIsLoggedAndTheNextNameStillGoes) {
    put("Logs/older.log", "older", now - 300 * day);
    box.addFault({{"op", "Directory::remove"}, {"path", "/boot/Orvane/Logs/old.log"}, {"error", 0x25}});
    RunResult r = run();
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.logged(4, "Failed to remove file old.log in directory /boot/Orvane/Logs; error: 25h (37)"));
    EXPECT_TRUE(fs::exists(orvane() / "Logs/old.log"));
    EXPECT_FALSE(fs::exists(orvane() / "Logs/older.log"));
    EXPECT_EQ(r.calls("Progress.setValue").back()["value"], 2000);
}

TEST_F(Export, SecondExportOfTheDay) {
    ASSERT_EQ(run().status, 0);
    RunResult again = run();
    EXPECT_EQ(again.status, 0x24);
    EXPECT_TRUE(
        again.logged(4, "Failed to create directory /media/STICK/" + exportName + "; error: 24h (36)"));
    EXPECT_EQ(lastMessage(again)["text"], "Failed to prepare export to /media/STICK/" + exportName +
                                              ".\nErrorCode: 0x60000024 (1610612772)");
    RunResult indexed = run({"--add-index"});
    ASSERT_EQ(indexed.status, 0) << indexed.logText();
    EXPECT_TRUE(fs::exists(box.node("stick") / (exportName + "-001") / "Logs/recent.log"));
}

TEST_F(Export, NoCopyBufferLeavesTheEmptyExportDirectory) {
    box.addFault({{"op", "ShMem::create"}, {"error", 0x26}});
    RunResult r = run();
    EXPECT_EQ(r.status, 0x26);
    EXPECT_TRUE(r.logged(4, "Failed to create shared memory; error: 26h (38)"));
    EXPECT_TRUE(fs::is_directory(exported()));
    EXPECT_TRUE(listFiles(exported()).empty());
    EXPECT_EQ(listFiles(orvane()).size(), 4u);
}

TEST_F(Export, MissingProgressDialogStillExports) {
    box.addFault({{"op", "Progress::create"}, {"error", 0x25}});
    RunResult r = run();
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.logged(3, "Failed to create progress dialog25h (37)")) << r.logText();
    EXPECT_EQ(listFiles(exported()).size(), 2u);
}

struct EarlyCase {
    const char* name;
    std::function<void(Export&)> arrange;
    int status;
    std::string title;
    std::string text;
};
using Testing::PrintTo;

class ExportEarlyExit : public Export, public ::testing::WithParamInterface<EarlyCase> {};

TEST_P(ExportEarlyExit, ResultAndMessageAndNothingWritten) {
    GetParam().arrange(*this);
    std::vector<std::string> before = listFiles(orvane());
    RunResult r = run();
    EXPECT_EQ(r.status, GetParam().status) << r.logText();
    json message = lastMessage(r);
    if (GetParam().title.empty()) {
        EXPECT_TRUE(message.is_null()) << message;
    } else {
        EXPECT_EQ(message["title"], GetParam().title);
        EXPECT_EQ(message["text"], GetParam().text);
    }
    EXPECT_FALSE(fs::exists(exported()));
    EXPECT_EQ(listFiles(orvane()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Export, ExportEarlyExit,
    ::testing::Values(
        EarlyCase{"WindowsHost", [](Export& e) { e.box.config["sysInfo"]["0x20002"] = 1; }, 0, "", ""},
        EarlyCase{"NoBootNode", [](Export& e) { e.box.config["bootParameters"] = "quiet boot.node"; }, 0, "",
                  ""},
        EarlyCase{
            "MountFails",
            [](Export& e) {
                e.box.addFault({{"op", "Entry::create"}, {"path", "/devices/orvane/boot"}, {"error", 0x20}});
            },
            0x20, "Prepare source failed",
            "Failed to access logs directory.\nErrorcode: 0x10000020 (268435488)"},
        EarlyCase{"CategoryFails",
                  [](Export& e) {
                      e.box.addFault(
                          {{"op", "Directory::open"}, {"path", "/boot/Orvane/Screenshots"}, {"error", 0x25}});
                  },
                  0x25, "Prepare source failed",
                  "Failed to access logs directory.\nErrorcode: 0x20000025 (536870949)"},
        EarlyCase{"CategoryCannotBeListed",
                  [](Export& e) {
                      e.box.addFault(
                          {{"op", "Directory::iterator"}, {"path", "/boot/Orvane/Analyze"}, {"error", 0x25}});
                  },
                  0x25, "Prepare source failed",
                  "Failed to access logs directory.\nErrorcode: 0x20000025 (536870949)"},
        EarlyCase{"NoFiles",
                  [](Export& e) {
                      fs::remove_all(e.orvane());
                      fs::create_directories(e.orvane() / "Logs");
                  },
                  0, "No files available", "There are no files available that can be exported"},
        EarlyCase{"DialogClosed",
                  [](Export& e) {
                      e.box.script["select"] = json::array({{{"error", 0x2007}}});
                  },
                  7, "", ""},
        EarlyCase{"DialogFails",
                  [](Export& e) {
                      e.box.script["select"] = json::array({{{"error", 0x25}}});
                  },
                  0x25, "Export failed",
                  "Failed to access destination drive.\nErrorcode: 0x30000025 (805306405)"},
        EarlyCase{"PeriodOutsideTheTable",
                  [](Export& e) {
                      e.choose({{"ddClear", 7}});
                  },
                  0x46, "Prepare source failed",
                  "Failed to access logs directory.\nErrorcode: 0x11008446 (285246534)"},
        EarlyCase{"PeriodLongerThanTheClock",
                  [](Export& e) {
                      e.box.fixClock(day - 1);
                      e.choose({{"ddClear", 0}});
                  },
                  0x84, "Prepare source failed",
                  "Failed to access logs directory.\nErrorcode: 0x12008484 (302023812)"},
        EarlyCase{"NothingChecked",
                  [](Export& e) {
                      e.choose({{"cbLogs", false}});
                  },
                  0, "No elements selected", "No elements were selected for export."}),
    caseName);

} // namespace
