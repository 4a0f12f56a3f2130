// The wait dialog of the location search through the binary: a slow search (made slow by delaying
// the platform's directory lookup) shows it and closes it before the copy. That a fast search or a
// silent run shows none is checked in process (unit/WaitDialogTest.cpp).
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

struct SlowSearch {
    const char* name;
    std::vector<std::string> args;
    const char* title;
    const char* text;
};
using Testing::PrintTo;

class WaitDialogRun : public ::testing::TestWithParam<SlowSearch> {
  protected:
    Sandbox box;
    void SetUp() override { writeFile(box.work() / "x.txt", "wait dialog"); }
    // Position of the first transcript entry of `call` (with `id` when given), or -1.
    static long position(const RunResult& r, const std::string& call, const json& id = nullptr) {
        for (size_t i = 0; i < r.transcript.size(); i++)
            if (r.transcript[i]["call"] == call && (id.is_null() || r.transcript[i]["id"] == id))
                return long(i);
        return -1;
    }
};

TEST_P(WaitDialogRun, SlowSearchShowsTheDialogAndClosesItBeforeTheCopy) {
    box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"times", 1}, {"delayMs", 2400}, {"error", 0}});
    RunResult r = box.run(GetParam().args);
    ASSERT_EQ(r.status, 0) << r.logText();

    auto shown = r.calls("Dialog.show");
    ASSERT_EQ(shown.size(), 1u) << r.logText();
    EXPECT_EQ(shown[0]["severity"], 1);
    EXPECT_EQ(shown[0]["title"], GetParam().title);
    EXPECT_EQ(shown[0]["text"], GetParam().text);
    long closed = position(r, "Dialog.close", shown[0]["id"]);
    ASSERT_GE(closed, 0);
    EXPECT_LT(closed, position(r, "Progress::create"))
        << "the wait dialog must be gone before the copy starts";
    EXPECT_TRUE(r.logged(1, "Showing wait dialog")) << r.logText();
    EXPECT_TRUE(r.logged(1, "Closing wait dialog")) << r.logText();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WaitDialogRun,
    ::testing::Values(SlowSearch{"File",
                                 {"x.txt"},
                                 "Determining file locations",
                                 "Determining the locations to use for the file; this will take a while"},
                      SlowSearch{
                          "Log",
                          {"-m", "log"},
                          "Determining log locations",
                          "Determining the locations to use for the log files; this will take a while"}),
    caseName);

} // namespace
