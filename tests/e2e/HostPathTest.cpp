// Paths as a shell user types them: absolute host paths, relative paths with "..", and platform
// paths, all naming what they say; an error names the path as it was typed.
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

struct HostPaths : ::testing::Test {
    Sandbox box;
    fs::path first() const { return box.node("system") / "Screenshots"; }
    void SetUp() override {
        writeFile(box.work() / "notes.txt", "notes");
        fs::create_directories(box.work() / "sub");
    }
};

TEST_F(HostPaths, EveryFormOfASourceNamesTheHostFile) {
    std::string absolute = (box.work() / "notes.txt").string();
    // As typed after "~/", after "cd sub", with a detour, and through the platform's own mount.
    for (const std::string& source :
         {absolute, std::string("../work/notes.txt"), std::string("sub/../notes.txt"), "/host" + absolute}) {
        fs::remove_all(first());
        fs::remove_all(box.node("system") / "Service");
        RunResult r = box.run({"--silent", source});
        ASSERT_EQ(r.status, 0) << source << "\n" << r.logText();
        EXPECT_TRUE(hasContent(first() / "notes.txt", "notes")) << source;
    }
}

TEST_F(HostPaths, AnErrorNamesThePathAsTyped) {
    std::string missing = (box.root / "nowhere" / "x.txt").string();
    RunResult r = box.run({missing});
    EXPECT_EQ(r.status, 67);
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["text"], "Could not open source file: " + missing + "; error: 0x20h (32)");
}

// A ".." climbs through the host's directories, never out of the host's root into the platform.
TEST_F(HostPaths, ParentDirectoriesNeverLeaveTheHostsRoot) {
    std::string deep;
    for (int i = 0; i < 64; i++)
        deep += "../";
    RunResult r = box.run({"--silent", deep + "users/system/temp/scrivlet-files"});
    EXPECT_NE(r.status, 0) << r.logText();
    EXPECT_TRUE(listFiles(first()).empty());
    // Platform paths keep refusing "..".
    RunResult platform = box.run({"--silent", "/users/system/../system/temp/x"});
    EXPECT_NE(platform.status, 0);
}

} // namespace
