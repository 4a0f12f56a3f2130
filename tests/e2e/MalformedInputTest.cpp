// Configuration and dialog scripts of the wrong shape, found by fuzzing their readers: the run
// goes on as if the broken part were absent instead of ending in an exception.
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

TEST(MalformedInput, ScriptOfTheWrongShapeAnswersAsWithoutIt) {
    Sandbox box;
    box.script = json::parse(R"({"type": "x", "answers": "yes", "select": [3, {"elements": [1]}],
                                 "cancel": [{"progress": "a"}]})");
    RunResult r = box.run({"-m", "export"});
    // The drive dialog's answer is not an object: the dialog was closed without a choice.
    EXPECT_EQ(r.status, 7) << r.logText();
    EXPECT_EQ(r.calls("FSItem::create").at(0)["error"], 0x2007);
}

TEST(MalformedInput, HostConfigurationOfTheWrongShapeIsIgnored) {
    Sandbox box;
    box.config = json::parse(R"({"nodes": 5, "faults": [{"op": 3, "error": "zz"}], "paths": {"x": 1}})");
    writeFile(box.work() / "x.txt", "x");
    RunResult r = box.run({"--silent", "x.txt"});
    EXPECT_LT(r.status, 256) << "the run must end with a status, not a signal";
    EXPECT_NE(r.status, 0) << "without nodes there is nowhere to save";
}

} // namespace
