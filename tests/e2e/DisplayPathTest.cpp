// How paths are shown to the user, through the binary: a source on nested drives whose read fails
// names the source in the error dialog, and that text is the display path of the platform path.
// The rules of the display path itself are checked on mounts in memory (unit/ShownPathTest.cpp).
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <functional>
#include <gtest/gtest.h>

using namespace Testing;

namespace {

const std::string zwsp = "\u200B";

json drive(const std::string& name, const std::string& host, const std::string& mount, json attributes) {
    return {{"name", name}, {"host", host}, {"mount", mount}, {"mounted", true}, {"attributes", attributes}};
}

struct ShownCase {
    const char* name;
    std::function<void(Sandbox&)> setUp;
    std::string source; // platform path of the source, below /a
    std::string shown;  // the path as the error dialog names it
};
using Testing::PrintTo;

class DisplayPaths : public ::testing::TestWithParam<ShownCase> {};

// "/a" is an outer drive and "/a/b" an inner one; the source lies on the inner drive.
void nestedDrives(Sandbox& box, json outer, json inner, const std::string& innerName = "/devices/inner") {
    box.config["nodes"].push_back(drive("/devices/outer", "nodes/outer", "/a", outer));
    box.config["nodes"].push_back(drive(innerName, "nodes/inner", "/a/b", inner));
}

TEST_P(DisplayPaths, ReadErrorNamesTheSourceAsShown) {
    const ShownCase& c = GetParam();
    Sandbox box;
    c.setUp(box);
    std::string relative = c.source.substr(std::string("/a/b/").size());
    writeFile(box.root / "nodes" / "inner" / relative, "data");
    writeFile(box.root / "nodes" / "outer" / "b" / relative, "data");
    box.addFault({{"op", "File::read"}, {"path", c.source}, {"error", 0x25}});

    RunResult r = box.run({c.source, "copy.bin"});

    EXPECT_EQ(r.status, 67) << r.logText();
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u) << r.logText();
    EXPECT_EQ(shown[0]["text"], "Error reading from file " + c.shown + ": 0xC0000025h (3221225509)");
}

void windowsHost(Sandbox& box) {
    box.config["sysInfo"]["0x20002"] = 1;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DisplayPaths,
    ::testing::Values(ShownCase{"LongestMountPointWins",
                                [](Sandbox& b) {
                                    nestedDrives(b, {{"SUBST_NAME", "OUTER"}}, {{"SUBST_NAME", "INNER"}});
                                },
                                "/a/b/src.bin", "INNER:/" + zwsp + "src.bin"},
                      ShownCase{
                          "NonStringNameDoesNotHideTheDriveLetter",
                          [](Sandbox& b) {
                              windowsHost(b);
                              nestedDrives(b, json::object(), {{"SUBST_NAME", 5}, {"DRIVELETTER", "E"}});
                          },
                          "/a/b/d/src.bin", "E:\\" + zwsp + "d\\" + zwsp + "src.bin"}),
    caseName);

// A target named by a whole host path is shown where it is, on the host, not as if it were below
// the storage directory's mount.
TEST(DisplayPathOfAHostTarget, IsTheHostPath) {
    Sandbox box;
    box.script["type"] = 2;
    fs::path target = box.work() / "saved.log";
    RunResult r = box.run({"-m", "log", target.string()});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "Log saved as:\n - " + target.string() + "\n - " + target.string());
}

} // namespace
