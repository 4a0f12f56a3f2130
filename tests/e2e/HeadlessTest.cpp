// Runs with no person present: dialogs answer by themselves, and what they would have shown goes to
// standard error; standard output has the tool's own lines and the run's result (the host paths
// of the files saved, or the tag of an upload).
#include "support/ObjectStore.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Testing;

namespace {

const std::map<std::string, std::string> headless{{"ORVANE_UI", "headless"}};

TEST(Headless, MessagesGoToStandardError) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "hello\n");

    RunResult saved = box.run({"x.txt"}, headless);
    EXPECT_EQ(saved.status, 0) << saved.err;
    // A console shows paths as plain text, without the display table's invisible breaks, and
    // under them where the files are on the host; standard output has those paths alone, for a
    // script.
    fs::path first = box.node("system") / "Screenshots" / "x.txt",
             second = box.node("system") / "Service" / "Screenshots" / "x.txt";
    EXPECT_EQ(saved.err, "scrivletv2: [INFO] Information: File saved as SYSTEM:/Screenshots/x.txt\n"
                         "  and SYSTEM:/Service/Screenshots/x.txt\n"
                         "    on the host: " +
                             first.string() +
                             "\n"
                             "    on the host: " +
                             second.string() + "\n");
    EXPECT_EQ(saved.out, first.string() + "\n" + second.string() + "\n");
    EXPECT_TRUE(hasContent(fs::path(saved.out.substr(0, saved.out.find('\n'))), "hello\n"));

    RunResult again = box.run({"x.txt"}, headless);
    EXPECT_EQ(again.status, 67);
    EXPECT_EQ(again.err,
              "scrivletv2: [ERROR] Error: File already exists: /system/Service/Screenshots/x.txt\n"
              "    on the host: " +
                  second.string() +
                  "\n"
                  "    cause: /system/Service/Screenshots/x.txt is there already: --add-index saves under a "
                  "new numbered name, --reuse-name writes again the file an earlier --reuse-name run "
                  "chose\n");
}

TEST(Headless, QuestionsAreAnsweredNo) {
    Sandbox box;
    box.addFault({{"op", "File::read"}, {"path", "/boot/Orvane/Logs/service.log"}, {"error", 0x25}});
    std::vector<std::string> before = listFiles(box.node("boot"));
    RunResult r = box.run({"-m", "export"}, headless);
    EXPECT_EQ(r.status, 66) << r.err;
    EXPECT_NE(r.err.find("scrivletv2: [FAILED] Copy failed: Failed to copy file ./Logs/service.log.\n"
                         "  Errorcode: 0xC0000025 (3221225509)\n  Do you want to continue? (answered no)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(listFiles(box.node("boot")), before);
    EXPECT_TRUE(listFiles(box.node("stick")).empty());
}

// A second export on one day finds the first one's directory: the failure says where it is on the
// host and how to export again beside it.
TEST(Headless, ASecondExportOfTheDaySaysWhereTheFirstIsAndHowToExportAgain) {
    Sandbox box;
    box.fixClock(now);
    ASSERT_EQ(box.run({"-m", "export"}, headless).status, 0);
    RunResult again = box.run({"-m", "export"}, headless);
    EXPECT_EQ(again.status, 0x24) << again.err;
    EXPECT_NE(again.err.find("\n    on the host: " + (box.node("stick") / exportName).string() + "\n"),
              std::string::npos)
        << again.err;
    EXPECT_NE(again.err.find("cause: /media/STICK/" + exportName +
                             " is there already: --add-index makes a new "
                             "one under a numbered name"),
              std::string::npos)
        << again.err;
}

// Nobody confirmed that old files may go: the export leaves them and says what it chose.
TEST(Headless, ExportLeavesOldFilesUnlessTheConfigurationAllowsClearing) {
    Sandbox box;
    box.fixClock(now);
    fs::path old = box.node("boot") / "Orvane" / "Logs" / "old.log";
    writeFile(old, "old\n");
    setModifiedMs(old, now - 100 * day);
    RunResult kept = box.run({"-m", "export"}, headless);
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_TRUE(fs::exists(old));
    EXPECT_NE(kept.err.find("scrivletv2: exporting Logs to /media/STICK; no clearing of old files "
                            "(ui.headlessClearing is not set)\n"),
              std::string::npos)
        << kept.err;

    box.config["ui"]["headlessClearing"] = true;
    fs::remove_all(box.node("stick"));
    fs::create_directories(box.node("stick"));
    RunResult cleared = box.run({"-m", "export"}, headless);
    EXPECT_EQ(cleared.status, 0) << cleared.err;
    EXPECT_FALSE(fs::exists(old));
    EXPECT_NE(cleared.err.find("exporting Logs to /media/STICK; clearing files older than 3 MONTHS\n"),
              std::string::npos)
        << cleared.err;
    EXPECT_NE(cleared.err.find("scrivletv2: the clearing removed 1 old file(s)\n"), std::string::npos)
        << cleared.err;
}

// A dialog backend that cannot be had is named, with what the run uses instead.
TEST(Headless, AnUnusableDialogBackendIsNamedAndTheRunGoesOnHeadless) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "hello\n");
    RunResult bogus = box.run({"x.txt"}, {{"ORVANE_UI", "bogus"}});
    EXPECT_EQ(bogus.status, 0) << bogus.err;
    EXPECT_EQ(
        bogus.err.rfind("scrivletv2: ORVANE_UI=bogus is not a dialog backend (terminal, headless or script); "
                        "using headless\n",
                        0),
        0u)
        << bogus.err;
    // The sandbox starts runs without a controlling terminal.
    RunResult noTerminal = box.run({"--add-index", "x.txt"}, {{"ORVANE_UI", "terminal"}});
    EXPECT_EQ(noTerminal.status, 0) << noTerminal.err;
    EXPECT_EQ(noTerminal.err.rfind(
                  "scrivletv2: ORVANE_UI=terminal, but there is no terminal (/dev/tty); using headless\n", 0),
              0u)
        << noTerminal.err;
    EXPECT_NE(noTerminal.err.find("[INFO] Information: File saved as"), std::string::npos) << noTerminal.err;
}

// Without a store, the setting to make is named.
TEST(Headless, AnUploadWithoutAStoreNamesTheMissingSetting) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "hello\n");
    RunResult r = box.run({"-m", "file-upload", "x.txt"}, headless);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("scrivletv2: no remote store is configured: set ORVANE_REMOTE_ENDPOINT (or "
                         "remote.endpoint in the host configuration)\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(r.logged(4, "Remote store not configured: set ORVANE_REMOTE_ENDPOINT")) << r.logText();
}

// The tag of an upload alone on standard output: `tag=$(scrivletv2 -m file-upload x)` works.
TEST(Headless, AnUploadPrintsItsTagAloneOnStandardOutput) {
    ObjectStore store;
    if (!store.running()) GTEST_SKIP() << store.problem();
    Sandbox box;
    writeFile(box.work() / "x.txt", "hello\n");
    std::map<std::string, std::string> env = store.environment();
    env["ORVANE_UI"] = "headless";
    RunResult r = box.run({"-m", "file-upload", "x.txt"}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 9u) << r.out;
    std::string tag = r.out.substr(0, 8), stored;
    EXPECT_EQ(r.out[8], '\n');
    EXPECT_NE(r.err.find(tag), std::string::npos) << r.err;
    EXPECT_TRUE(store.object(tag + "/x.txt", stored));
    EXPECT_EQ(stored, "hello\n");
}

// After a failure message, the cause the platform knows: the host's words for a source that
// cannot be opened, the way round an existing name, the store's answer or libcurl's, a named AWS
// profile that does not exist.
TEST(Headless, AFailureIsFollowedByItsCause) {
    ObjectStore store;
    Sandbox box;
    writeFile(box.work() / "x.txt", "hello\n");
    fs::create_directories(box.work() / "folder");
    struct Case {
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        std::string cause;
    };
    std::vector<Case> cases = {
        {{"nosuch.txt"},
         {},
         "cause: /host" + (box.work() / "nosuch.txt").string() + ": No such file or directory"},
        {{"folder"}, {}, ": Is a directory"},
        {{"x.txt"}, {}, "is there already: --add-index saves under a new numbered name, --reuse-name"},
        {{"-m", "file-upload", "x.txt"},
         {{"ORVANE_REMOTE_ENDPOINT", "http://127.0.0.1:1"}, {"ORVANE_REMOTE_BUCKET", "b"}},
         "cause: the remote store at http://127.0.0.1:1 does not answer: "},
        {{"-m", "file-upload", "x.txt"},
         {{"ORVANE_REMOTE_ENDPOINT", "http://127.0.0.1:1"},
          {"ORVANE_REMOTE_BUCKET", "b"},
          {"AWS_PROFILE", "nosuch"}},
         "the config profile (nosuch) could not be found"}};
    if (store.running()) {
        std::map<std::string, std::string> wrongSecret = store.environment(), noBucket = store.environment();
        wrongSecret["ORVANE_REMOTE_SECRET_KEY"] = "not-the-secret";
        noBucket["ORVANE_REMOTE_BUCKET"] = "nosuchbucket";
        cases.push_back({{"-m", "file-upload", "x.txt"},
                         wrongSecret,
                         "cause: the remote store answered 403 SignatureDoesNotMatch"});
        cases.push_back(
            {{"-m", "file-upload", "x.txt"}, noBucket, "cause: the remote store answered 404 NoSuchBucket"});
    }
    ASSERT_EQ(box.run({"x.txt"}, headless).status, 0);
    for (Case& c : cases) {
        c.env["ORVANE_UI"] = "headless";
        RunResult r = box.run(c.args, c.env);
        EXPECT_NE(r.status, 0) << c.cause;
        EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
    }
}

// A destination typed with a directory: the copy takes its name only, and the run says so on
// standard error, with where the copies went under the message.
TEST(Headless, ADestinationsDirectoryIsNotDroppedWithoutAWord) {
    Sandbox box;
    writeFile(box.work() / "x.bin", "data");
    RunResult r = box.run({"x.bin", "/tmp/elsewhere/dest.bin"}, headless);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("scrivletv2: only the name of /tmp/elsewhere/dest.bin is used: the copies are named "
                         "dest.bin in the platform's directories"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(hasContent(box.node("system") / "Screenshots" / "dest.bin", "data"));
    EXPECT_NE(r.err.find("on the host: " + (box.node("system") / "Screenshots" / "dest.bin").string()),
              std::string::npos)
        << r.err;
}

// An AWS credentials file that is there but cannot be read is named, as a missing profile is,
// instead of going on without its credentials. Run as nobody (root reads every file).
TEST(Headless, AnUnreadableAwsFileIsNamed) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run as a user who may not read the file";
    constexpr uid_t nobody = 65534;
    Sandbox box;
    writeFile(box.work() / "x.txt", "hello\n");
    for (const auto& entry : fs::recursive_directory_iterator(box.root))
        ASSERT_EQ(lchown(entry.path().c_str(), nobody, nobody), 0) << entry.path();
    ASSERT_EQ(chown(box.root.c_str(), nobody, nobody), 0);
    fs::path credentials = box.root / "aws-credentials";
    writeFile(credentials, "[default]\naws_access_key_id = AKID\n");
    fs::permissions(credentials, fs::perms::owner_read | fs::perms::owner_write);
    box.launcher = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    RunResult r =
        box.run({"-m", "file-upload", "x.txt"}, {{"ORVANE_UI", "headless"},
                                                 {"ORVANE_REMOTE_ENDPOINT", "http://127.0.0.1:1"},
                                                 {"ORVANE_REMOTE_BUCKET", "b"},
                                                 {"AWS_SHARED_CREDENTIALS_FILE", credentials.string()}});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(credentials.string() + " cannot be read: Permission denied"), std::string::npos)
        << r.err;
}

// A category the user may not read ends the export, and the message says which and why. Run as
// nobody (root reads every folder).
TEST(Headless, AnUnreadableCategoryIsNamed) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run as a user who may not read the folder";
    constexpr uid_t nobody = 65534;
    Sandbox box;
    fs::path screenshots = box.node("boot") / "Orvane" / "Screenshots";
    writeFile(screenshots / "a.png", "png");
    for (const auto& entry : fs::recursive_directory_iterator(box.root))
        ASSERT_EQ(lchown(entry.path().c_str(), nobody, nobody), 0) << entry.path();
    ASSERT_EQ(chown(box.root.c_str(), nobody, nobody), 0);
    fs::permissions(screenshots, fs::perms::none);
    box.launcher = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    RunResult r = box.run({"-m", "export"}, headless);
    fs::permissions(screenshots, fs::perms::owner_all);
    EXPECT_EQ(r.status, 0x22) << r.err;
    EXPECT_NE(r.err.find("Failed to access logs directory.\n  Errorcode: 0x20000022 (536870946)\n"
                         "    cause: /boot/Orvane/Screenshots: Permission denied\n"),
              std::string::npos)
        << r.err;

    // A folder on the way that may not be searched: the first category cannot even be opened.
    fs::permissions(screenshots.parent_path(), fs::perms::owner_read | fs::perms::owner_write);
    RunResult closed = box.run({"-m", "export"}, headless);
    fs::permissions(screenshots.parent_path(), fs::perms::owner_all);
    EXPECT_EQ(closed.status, 0x22) << closed.err;
    EXPECT_NE(closed.err.find("cause: /boot/Orvane/Logs: Permission denied\n"), std::string::npos)
        << closed.err;
}

} // namespace
