// Removable drives the host has mounted, read from a host mount table: offered in the drive dialog
// with their labels, written to for real, and refused when mounted read-only.
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

struct HostDrives : ::testing::Test {
    Sandbox box;
    fs::path media() const { return box.root / "host-media"; }
    // A mount table with one drive below the drive roots and one elsewhere, which is not a drive.
    void mountTable(const std::string& options) {
        fs::create_directories(media() / "alice" / "KEY");
        fs::create_directories(box.root / "elsewhere");
        std::string table = "21 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                            "90 21 8:17 / " +
                            (media() / "alice" / "KEY").string() + " " + options +
                            ",nosuid,nodev - vfat /dev/sdb1 " + options +
                            "\n"
                            "91 21 8:33 / " +
                            (box.root / "elsewhere").string() + " rw - ext4 /dev/sdc1 rw\n";
        writeFile(box.root / "mountinfo", table);
        box.config["hostDrives"] = {{"enabled", true},
                                    {"mountTable", (box.root / "mountinfo").string()},
                                    {"roots", json::array({media().string()})}};
        for (const char* id : {"8", "10"})
            box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"path", id}, {"error", 0x20}});
        box.script["select"] = json::array({{{"drive", "KEY"}}});
        writeFile(box.work() / "x.txt", "hello\n");
    }
};

TEST_F(HostDrives, AMountedDriveIsOfferedWithItsLabelAndWritten) {
    mountTable("rw");
    RunResult r = box.run({"--dont-force-boot", "x.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(hasContent(media() / "alice" / "KEY" / "Orvane" / "Screenshots" / "x.txt", "hello\n"));
    EXPECT_TRUE(listFiles(box.root / "elsewhere").empty());
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "File saved as KEY:/\u200BOrvane/\u200BScreenshots/\u200Bx.txt");
}

TEST_F(HostDrives, AReadOnlyDriveIsNotWritten) {
    mountTable("ro");
    RunResult r = box.run({"--dont-force-boot", "x.txt"});
    // The drive cannot be opened for writing, so the file would go straight onto it; creating it fails.
    EXPECT_EQ(r.status, 0x22) << r.logText();
    EXPECT_TRUE(r.logged(3, "Could not open path /media/KEY")) << r.logText();
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "Could not create file: /media/KEY/x.txt; error: 0x60000022 (1610612770)");
    EXPECT_TRUE(listFiles(media()).empty());
}

} // namespace
