// Uploads through the binary against a real S3-protocol server on loopback.
#include "support/NamedCase.h"
#include "support/StoreTest.h"
#include <gtest/gtest.h>
#include <memory>

using namespace Testing;

namespace {

class Upload : public StoreTest {};

TEST_F(Upload, FileArrivesByteForByteUnderTheShownTag) {
    std::string data = patternedBytes(3 * 1024 * 1024 + 5);
    writeFile(box.work() / "report.bin", data);
    RunResult r = run({"-m", "file-upload", "report.bin"});
    ASSERT_EQ(r.status, 0) << r.logText();
    std::string tag = shownTag(r);
    ASSERT_EQ(tag.size(), 8u);
    EXPECT_EQ(r.calls("Dialog::show").at(0)["title"], "UPLOAD FILE SUCCESSFUL");
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"], "UPLOADED LOG AS #" + tag);
    EXPECT_TRUE(r.logged(1, "File upload ok; tag: " + tag));
    std::string stored;
    ASSERT_TRUE(store->object(tag + "/report.bin", stored));
    EXPECT_TRUE(stored == data) << stored.size() << " bytes stored of " << data.size();
    auto progress = r.calls("Progress::create");
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0]["title"], "UPLOADING FILE...");
    EXPECT_EQ(progress[0]["maximum"], 100);
    EXPECT_EQ(r.calls("Progress.setValue").back()["value"], 100);
    EXPECT_TRUE(r.logged(1, "Upload progress: 64h (100)"));
    EXPECT_EQ(r.calls("Progress.beginUpdate").size(), r.calls("Progress.endUpdate").size());
}

TEST_F(Upload, TwoUploadsOfOneFileGetDistinctTags) {
    writeFile(box.work() / "a.txt", "a");
    RunResult first = run({"-m", "file-upload", "a.txt"});
    RunResult second = run({"-m", "file-upload", "a.txt"});
    ASSERT_EQ(first.status, 0);
    ASSERT_EQ(second.status, 0);
    EXPECT_NE(shownTag(first), shownTag(second));
}

struct NameCase {
    const char* name;
    std::vector<std::string> args;
    std::string key;
};
using Testing::PrintTo;

class UploadName : public Upload, public ::testing::WithParamInterface<NameCase> {};

TEST_P(UploadName, ObjectKeyHoldsTheUploadName) {
    writeFile(box.work() / "shot.png", "png");
    RunResult r = run(GetParam().args);
    ASSERT_EQ(r.status, 0) << r.logText();
    std::string stored;
    EXPECT_TRUE(store->object(shownTag(r) + "/" + GetParam().key, stored)) << GetParam().key;
    EXPECT_EQ(stored, "png");
}

INSTANTIATE_TEST_SUITE_P(
    Upload, UploadName,
    ::testing::Values(NameCase{"FileLastComponent", {"-m", "file-upload", "shot.png", "x/y.bin"}, "y.bin"},
                      NameCase{"ScreenshotDestinationUnchanged",
                               {"-m", "screenshot-upload", "shot.png", "x/y.bin"},
                               "x/y.bin"},
                      NameCase{"ScreenshotPredetermined",
                               {"-m", "screenshot-upload", "--date=20260102", "shot.png"},
                               "Orvane-20260102-ORV.LX64-2.0-user.png"}),
    caseName);

TEST_F(Upload, SystemLogArrivesCompressedWithTheSuffix) {
    for (const auto& [args, suffix] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-m", "log-upload"}, "user"},
             {{"-m", "log-upload", "--suffix="}, "user"},
             {{"-m", "log-upload", "--suffix=desk"}, "desk"}}) {
        RunResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.logText();
        std::string tag = shownTag(r);
        EXPECT_EQ(r.calls("Dialog::show").at(0)["title"], "UPLOAD LOG SUCCESSFUL");
        std::string stored;
        ASSERT_TRUE(store->object(tag + "/Orvane-syslog-" + suffix + ".log.gz", stored)) << suffix;
        ASSERT_GT(stored.size(), 2u);
        EXPECT_EQ(static_cast<unsigned char>(stored[0]), 0x1F);
        EXPECT_EQ(static_cast<unsigned char>(stored[1]), 0x8B);
        auto progress = r.calls("Progress::create");
        ASSERT_EQ(progress.size(), 1u);
        EXPECT_EQ(progress[0]["maximum"], 200);
        EXPECT_EQ(progress[0]["text"], "PREPARING LOG...");
        // Within each update bracket the text is set exactly when the position is past the half.
        bool textSet = false;
        for (const json& entry : r.transcript) {
            if (entry["call"] == "Progress.beginUpdate") textSet = false;
            if (entry["call"] == "Progress.setText") {
                EXPECT_EQ(entry["text"], "UPLOADING LOG...");
                textSet = true;
            }
            if (entry["call"] == "Progress.setValue") {
                EXPECT_EQ(textSet, entry["value"].get<int>() > 100) << entry;
            }
        }
        EXPECT_FALSE(r.calls("Progress.setText").empty());
    }
}

TEST_F(Upload, CancellingEndsWithoutAFurtherDialog) {
    writeFile(box.work() / "big.bin", patternedBytes(8 * 1024 * 1024));
    box.script["cancel"] = json::array({{{"progress", 1}, {"query", 1}}});
    RunResult r = run({"-m", "file-upload", "big.bin"});
    EXPECT_EQ(r.status, 66);
    EXPECT_TRUE(r.logged(1, "User aborted file upload"));
    EXPECT_TRUE(r.calls("Dialog::show").empty());
    RunResult log = run({"-m", "log-upload"});
    EXPECT_EQ(log.status, 66);
    EXPECT_TRUE(log.logged(1, "User aborted system log upload"));
}

TEST_F(Upload, MissingProgressDialogDoesNotStopTheUpload) {
    writeFile(box.work() / "a.txt", "a");
    box.addFault({{"op", "Progress::create"}, {"error", 0x25}});
    RunResult r = run({"-m", "file-upload", "a.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.logged(3, "Failed to create progress dialog; error: 25h (37)"));
}

struct FailureCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(Sandbox&, std::map<std::string, std::string>&)> arrange;
    int status;
    int level;
    std::string logLine;
    std::string title;
    std::string text;
};

class UploadFailure : public Upload, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UploadFailure, LogDialogAndExitCode) {
    writeFile(box.work() / "a.txt", std::string(4096, 'a'));
    std::map<std::string, std::string> env;
    GetParam().arrange(box, env);
    RunResult r = run(GetParam().args, env);
    EXPECT_EQ(r.status, GetParam().status) << r.logText();
    EXPECT_TRUE(r.logged(GetParam().level, GetParam().logLine)) << r.logText();
    auto shown = r.calls("Dialog::show");
    if (GetParam().title.empty()) {
        EXPECT_TRUE(shown.empty());
        return;
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["severity"], 4);
    EXPECT_EQ(shown[0]["title"], GetParam().title);
    EXPECT_EQ(shown[0]["text"], GetParam().text);
}

const std::vector<std::string> fileUpload{"-m", "file-upload", "a.txt"};
const std::vector<std::string> logUpload{"-m", "log-upload"};
auto nothing = [](Sandbox&, std::map<std::string, std::string>&) {};
auto fault = [](const char* op, unsigned error) {
    return [op, error](Sandbox& box, std::map<std::string, std::string>&) {
        box.addFault({{"op", op}, {"error", error}});
    };
};
auto unreachable = [](Sandbox&, std::map<std::string, std::string>& env) {
    env["ORVANE_REMOTE_ENDPOINT"] = "http://127.0.0.1:" + std::to_string(freePort());
};

INSTANTIATE_TEST_SUITE_P(
    Upload, UploadFailure,
    ::testing::Values(
        FailureCase{"FileServiceDown", fileUpload, unreachable, 2, 4,
                    "Capability query for ZEZ-Uvedaze failed; error: 10004h (65540)", "UPLOAD FILE FAILED",
                    "UPLOAD OF FILE FAILED\n\nERROR: 0x10010004 (268500996)"},
        FailureCase{
            "FileNoStoreConfigured", fileUpload,
            [](Sandbox&, std::map<std::string, std::string>& env) { env["ORVANE_REMOTE_ENDPOINT"] = ""; }, 2,
            4, "Capability query for ZEZ-Uvedaze failed; error: 10002h (65538)", "UPLOAD FILE FAILED",
            "UPLOAD OF FILE FAILED\n\nERROR: 0x10010002 (268500994)"},
        FailureCase{"FileCapabilityFault", fileUpload, fault("Capabilities::create", 0x25), 2, 4,
                    "Capability query for ZEZ-Uvedaze failed; error: 25h (37)", "UPLOAD FILE FAILED",
                    "UPLOAD OF FILE FAILED\n\nERROR: 0x10000025 (268435493)"},
        FailureCase{"FileClientFails", fileUpload, fault("ZEZUvedaze::create", 0x25), 2, 4, "25h (37)",
                    "UPLOAD FILE FAILED", "UPLOAD OF FILE FAILED\n\nERROR: 0x20000025 (536870949)"},
        FailureCase{"FileCannotBeOpened",
                    {"-m", "file-upload", "missing.txt"},
                    nothing,
                    67,
                    4,
                    "Failed to open file missing.txt; error: 20h (32)",
                    "UPLOAD FILE FAILED",
                    "UPLOAD OF FILE FAILED\n\nERROR: 0x40000020 (1073741856)"},
        FailureCase{"FileTooLarge", fileUpload,
                    [](Sandbox&, std::map<std::string, std::string>& env) {
                        env["ORVANE_REMOTE_MAX_BYTES"] = "1000";
                    },
                    67, 4, "File upload failed; error: 8484h (33924)", "UPLOAD FILE FAILED",
                    "SIZE OF DATA TO UPLOAD IS TOO LARGE\n\nERROR: 0x50008484 (1342211204)"},
        FailureCase{"ScreenshotWithoutName",
                    {"-m", "screenshot-upload"},
                    nothing,
                    67,
                    4,
                    "Filename is invalid",
                    "",
                    ""},
        FailureCase{"LogServiceDown", logUpload, unreachable, 2, 4,
                    "Capability query for ZEZ-Uvedaze failed; error: 10004h (65540)", "UPLOAD LOG FAILED",
                    "UPLOAD OF LOG FAILED\n\nERROR: 0x10010004 (268500996)"},
        FailureCase{"LogClientFails", logUpload, fault("ZEZUvedaze::create", 0x25), 2, 4,
                    "System log upload for ZEZ-Uvedaze not available; error: 25h (37)", "UPLOAD LOG FAILED",
                    "UPLOAD OF LOG FAILED\n\nERROR: 0x20000025 (536870949)"},
        FailureCase{
            "LogTooLarge", logUpload,
            [](Sandbox&, std::map<std::string, std::string>& env) { env["ORVANE_REMOTE_MAX_BYTES"] = "5"; },
            67, 4, "System log upload failed; error: 8484h (33924)", "UPLOAD LOG FAILED",
            "SIZE OF DATA TO UPLOAD IS TOO LARGE\n\nERROR: 0x30008484 (805340292)"},
        FailureCase{"LogTransferFails", logUpload, fault("ZEZUvedaze::upload", 0x8485), 67, 4,
                    "System log upload failed; error: 8485h (33925)", "UPLOAD LOG FAILED",
                    "UPLOAD OF LOG FAILED\n\nERROR: 0x30008485 (805340293)"}),
    caseName);

TEST_F(Upload, LogProgressDialogExistsBeforeTheServiceIsAsked) {
    RunResult r = run({"-m", "log-upload"}, {{"ORVANE_REMOTE_ENDPOINT", ""}});
    EXPECT_EQ(r.status, 2);
    ASSERT_FALSE(r.transcript.empty());
    size_t created = 0, closed = 0, failure = 0;
    for (size_t i = 0; i < r.transcript.size(); i++) {
        if (r.transcript[i]["call"] == "Progress::create") created = i + 1;
        if (r.transcript[i]["call"] == "Progress.close") closed = i + 1;
        if (r.transcript[i]["call"] == "Dialog::show") failure = i + 1;
    }
    EXPECT_GT(created, 0u);
    EXPECT_GT(failure, created);
    EXPECT_GT(closed, 0u);
}

// A medium failing under the upload is seen through the same fault rules as every other read.
TEST_F(Upload, AFailingSourceMediumFailsTheUpload) {
    writeFile(box.work() / "big.bin", patternedBytes(2 * 1024 * 1024));
    box.addFault({{"op", "File::read"}, {"path", "/host*big.bin"}, {"bytes", 300000}, {"error", "0x25"}});
    RunResult r = run({"-m", "file-upload", "big.bin"});
    EXPECT_EQ(r.status, 67) << r.logText();
    EXPECT_FALSE(r.logged(1, "File upload ok")) << r.logText();
}

} // namespace
