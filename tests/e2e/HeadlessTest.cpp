// Runs with no person present: dialogs answer by themselves, and what they would have shown goes to
// standard error, standard output keeping only the tool's own lines.
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

const std::map<std::string, std::string> headless{{"ORVANE_UI", "headless"}};

TEST(Headless, MessagesGoToStandardError) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "hello\n");

    RunResult saved = box.run({"x.txt"}, headless);
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(saved.out, "");
    EXPECT_EQ(saved.err,
              "scrivletv2: [INFO] Information: File saved as SYSTEM:/\u200BScreenshots/\u200Bx.txt\n"
              "  and SYSTEM:/\u200BService/\u200BScreenshots/\u200Bx.txt\n");

    RunResult again = box.run({"x.txt"}, headless);
    EXPECT_EQ(again.status, 67);
    EXPECT_EQ(again.err,
              "scrivletv2: [ERROR] Error: File already exists: /system/Service/Screenshots/x.txt\n");
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

} // namespace
