// Removable drives the host has mounted, read from a host mount table: offered in the drive dialog
// with their labels, written to for real, and refused when mounted read-only.
#include "support/Sandbox.h"
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Testing;

namespace {

// A block device node of this machine with no filesystem label: drives are filesystems on block
// devices, and a test's own mount table needs a real one as the source of its entries. The last
// loop device with nothing attached (losetup -f, used by another test, takes the first), else any.
std::string someBlockDevice() {
    std::error_code ec;
    std::string any, loop;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        if (!entry.is_block_file(ec)) continue;
        std::string name = entry.path().filename().string();
        if (any.empty()) any = entry.path().string();
        bool unattached = name.rfind("loop", 0) == 0 && readFile("/sys/block/" + name + "/size") == "0\n";
        if (unattached && (loop.empty() || name > fs::path(loop).filename().string()))
            loop = entry.path().string();
    }
    return loop.empty() ? any : loop;
}

struct HostDrives : ::testing::Test {
    Sandbox box;
    std::string device = someBlockDevice();
    fs::path media() const { return box.root / "host-media"; }
    void SetUp() override {
        if (device.empty()) GTEST_SKIP() << "this machine has no block device node in /dev to mount from";
    }
    // A mount table with one drive below the drive roots and one elsewhere, which is not a drive.
    void mountTable(const std::string& options) {
        fs::create_directories(media() / "alice" / "KEY");
        fs::create_directories(box.root / "elsewhere");
        std::string table = "21 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                            "90 21 8:17 / " +
                            (media() / "alice" / "KEY").string() + " " + options + ",nosuid,nodev - vfat " +
                            device + " " + options +
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

// Only local filesystems on block devices are drives, one row for each device; network shares,
// pseudo filesystems and FUSE mounts below the same roots are not.
TEST_F(HostDrives, OnlyLocalBlockDevicesAreOfferedOncePerDevice) {
    fs::path alice = media() / "alice";
    for (const char* name : {"KEY", "KEY2", "NFS", "TMP", "SSH"})
        fs::create_directories(alice / name);
    std::string table = "90 21 8:17 / " + (alice / "KEY").string() + " ro - ext4 " + device + " ro\n" +
                        "91 21 8:17 / " + (alice / "KEY2").string() + " rw - ext4 " + device + " rw\n" +
                        "92 21 0:50 / " + (alice / "NFS").string() + " rw - nfs4 server:/export rw\n" +
                        "93 21 0:51 / " + (alice / "TMP").string() + " rw - tmpfs tmpfs rw\n" +
                        "94 21 0:52 / " + (alice / "SSH").string() + " rw - fuse.sshfs me@host:/ rw\n";
    writeFile(box.root / "mountinfo", table);
    box.config["hostDrives"] = {{"enabled", true},
                                {"mountTable", (box.root / "mountinfo").string()},
                                {"roots", json::array({media().string()})}};
    box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"error", 0x20}});
    writeFile(box.work() / "x.txt", "hello\n");
    RunResult r =
        box.runOnTerminal({"--dont-force-boot", "x.txt"}, {{"Drive number (Enter to cancel): ", "\n"}});
    EXPECT_NE(r.out.find("3) KEY  (/media/KEY, read-only)"), std::string::npos) << r.out;
    for (const char* absent : {"KEY2", "NFS", "TMP", "SSH", "4)"})
        EXPECT_EQ(r.out.find(absent), std::string::npos) << absent << " was offered:\n" << r.out;
}

// A drive plugged in while the dialog waits appears in its list and can be chosen.
TEST_F(HostDrives, ADrivePluggedInWhileTheDialogWaitsCanBeChosen) {
    mountTable("rw");
    fs::path late = media() / "alice" / "LATE";
    fs::create_directories(late);
    // Another device than KEY's, so that it is a drive of its own.
    std::string otherDevice;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev", ec))
        if (entry.is_block_file(ec) && entry.path() != device &&
            entry.path().filename().string().rfind("loop", 0) == 0)
            otherDevice = entry.path().string();
    if (otherDevice.empty()) GTEST_SKIP() << "needs a second block device node in /dev";
    auto plugIn = [&] {
        std::string table = readFile(box.root / "mountinfo");
        table += "95 21 7:9 / " + late.string() + " rw - ext4 " + otherDevice + " rw\n";
        writeFile(box.root / "mountinfo", table);
    };
    RunResult r =
        box.runOnTerminal({"--dont-force-boot", "x.txt"}, {{"Drive number (Enter to cancel): ", "", plugIn},
                                                           {"The drives have changed:", ""},
                                                           {"4) LATE  (/media/LATE)", ""},
                                                           {"Drive number (Enter to cancel): ", "4\n"},
                                                           {"Press Enter to continue.", "\n"}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(hasContent(late / "Orvane" / "Screenshots" / "x.txt", "hello\n")) << r.out;
}

// A real drive: a labelled filesystem on a loop device, mounted below a drive root. It is offered
// under its filesystem's label, not its mount point's name, and written to for real.
TEST(HostDriveDevice, ALabelledFilesystemIsOfferedUnderItsLabel) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to attach a loop device and mount it";
    if (system("command -v mkfs.ext4 losetup >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs mkfs.ext4 and losetup";
    Sandbox box;
    fs::path image = box.root / "stick.img", mountPoint = box.root / "host-media" / "alice" / "sdx1";
    fs::create_directories(mountPoint);
    std::string make = "truncate -s 16M " + image.string() + " && mkfs.ext4 -q -L ORVTEST " + image.string();
    ASSERT_EQ(system(make.c_str()), 0);
    std::string attach = "losetup -f --show " + image.string() + " > " + (box.root / "loop").string();
    if (system(attach.c_str()) != 0) GTEST_SKIP() << "no loop device could be attached here";
    std::string loop = readFile(box.root / "loop");
    loop.erase(loop.find_last_not_of("\n") + 1);
    if (system(("mount " + loop + " " + mountPoint.string()).c_str()) != 0) {
        [[maybe_unused]] int detached = system(("losetup -d " + loop).c_str());
        GTEST_SKIP() << "the loop device could not be mounted here";
    }
    box.config["hostDrives"] = {{"enabled", true},
                                {"roots", json::array({(box.root / "host-media").string()})}};
    box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"error", 0x20}});
    box.script["select"] = json::array({{{"drive", "ORVTEST"}}});
    writeFile(box.work() / "x.txt", "hello\n");
    RunResult r = box.run({"--dont-force-boot", "x.txt"});
    bool written = hasContent(mountPoint / "Orvane" / "Screenshots" / "x.txt", "hello\n");
    EXPECT_EQ(system(("umount " + mountPoint.string() + " && losetup -d " + loop).c_str()), 0);
    EXPECT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(written);
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "File saved as ORVTEST:/\u200BOrvane/\u200BScreenshots/\u200Bx.txt");
}

} // namespace
