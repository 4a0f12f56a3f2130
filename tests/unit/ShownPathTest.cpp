// The text a platform path is shown as, on mounts and nodes held in memory: the drive's name for
// its mount point, the longest mount point, the host's root, and the characters of the rich
// interface.
#include "InMemoryFiles.h"
#include "InstalledSystem.h"
#include "platform/System.h"
#include "storage/Storage.h"

using namespace Applications::Commands::Scrivlet;

namespace {

class ShownPath : public InMemoryFiles {
  protected:
    std::string shown(const char* path, bool plain = true, const Ref<MountEntry>& mount = {}) {
        RunContext run;
        run.uiTypeOther = plain;
        Ref<String> text = displayPath(run, String::create(path), mount);
        return text ? stdString(text) : "(null)";
    }
};

TEST_F(ShownPath, TheDriveNameTakesThePlaceOfTheMountPoint) {
    files->addNode("usb0", "/mnt/stick", {{"SUBST_NAME", "Stick"}});
    EXPECT_EQ(shown("/mnt/stick/docs/a b-c.txt"), "Stick:/docs/a b-c.txt");
    EXPECT_EQ(shown("/mnt/stick/docs/a b-c.txt", false), "Stick:/\u200Bdocs/\u200Ba\u00A0b\u2011c.txt");
    files->addNode("usb1", "/mnt/inner", {{"SUBST_NAME", "IN NER"}});
    EXPECT_EQ(shown("/mnt/inner/x.txt", false), "IN\u00A0NER:/\u200Bx.txt");
}

TEST_F(ShownPath, TheLongestMountPointWins) {
    // The table lists the nodes by name: the shorter mount point comes after the longer one.
    files->addNode("usb0", "/mnt/stick", {{"SUBST_NAME", "Stick"}});
    files->addNode("zdisk", "/mnt", {{"SUBST_NAME", "Disk"}});
    EXPECT_EQ(shown("/mnt/stick/x.txt"), "Stick:/x.txt");
    EXPECT_EQ(shown("/mnt/other/x.txt"), "Disk:/other/x.txt");
}

TEST_F(ShownPath, OfTwoEqualMountPointsTheFirstInTheTableNamesThePath) {
    files->addNode("first", "/a", {{"SUBST_NAME", "FIRST"}});
    files->addNode("second", "/a", {{"SUBST_NAME", "SECOND"}});
    EXPECT_EQ(shown("/a/src.bin"), "FIRST:/src.bin");
}

TEST_F(ShownPath, AChannelNodeAndANodeWithoutANameLeaveThePath) {
    files->addNode("chn://pipe", "/mnt/pipe", {{"SUBST_NAME", "Pipe"}});
    files->addNode("usb1", "/mnt/plain");
    EXPECT_EQ(shown("/mnt/pipe/x.txt"), "/mnt/pipe/x.txt");
    EXPECT_EQ(shown("/mnt/plain/x.txt"), "/mnt/plain/x.txt");
    EXPECT_EQ(shown("/mnt/pipe/x y.txt", false), "/mnt/\u200Bpipe/\u200Bx\u00A0y.txt");
}

TEST_F(ShownPath, TheCallersMountEntryIsUsedInsteadOfTheTable) {
    files->addNode("disk", "/mnt/stick", {{"SUBST_NAME", "Disk"}});
    files->addNode("usb0", "/elsewhere", {{"SUBST_NAME", "Stick"}}, false);
    Ref<MountEntry> entry(new MountEntry(String::create("usb0"), String::create("/mnt/stick")));
    EXPECT_EQ(shown("/mnt/stick/x.txt", true, entry), "Stick:/x.txt");
}

TEST_F(ShownPath, FilesOnTheHostsRootAreShownWithTheirHostPath) {
    files->addNode("/devices/linux/root", "/host");
    EXPECT_EQ(shown("/host/etc/hosts"), "/etc/hosts");
    EXPECT_EQ(shown("/host"), "/");
}

TEST_F(ShownPath, WithoutAMountOnlyTheRichCharactersChangeAndTheLeadingSlashStaysPlain) {
    EXPECT_EQ(shown("/a b/c-d"), "/a b/c-d");
    EXPECT_EQ(shown("/a b/c-d", false), "/a\u00A0b/\u200Bc\u2011d");
    EXPECT_EQ(shown(""), "");
}

// What the host is, as the system information says.
class ShownPathOnAHost : public ShownPath {
  protected:
    InstalledSystem system;
};

// A drive letter names a drive only on a Windows host, and a drive named by one letter is shown
// with backslashes.
TEST_F(ShownPathOnAHost, OnAWindowsHostADriveLetterNamesTheDrive) {
    files->addNode("usb0", "/mnt/stick", {{"DRIVELETTER", "E"}});
    files->addNode("usb1", "/mnt/two", {{"DRIVELETTER", "EF"}});
    EXPECT_EQ(shown("/mnt/stick/d/x.bin", false), "/mnt/\u200Bstick/\u200Bd/\u200Bx.bin");
    system->values = {{Sys::Key::HostKind, Sys::windowsHost}};
    EXPECT_EQ(shown("/mnt/stick/d e/a b-c.bin"), "E:\\d e\\a b-c.bin");
    EXPECT_EQ(shown("/mnt/stick/d/x.bin", false), "E:\\\u200Bd\\\u200Bx.bin");
    EXPECT_EQ(shown("/mnt/two/d/x.bin", false), "EF:/\u200Bd/\u200Bx.bin");
}

// Files on the host's root show their host path only where the host has such a root.
TEST_F(ShownPathOnAHost, AHostOfAnotherFamilyShowsThePlatformPath) {
    files->addNode("/devices/linux/root", "/host");
    system->values = {{Sys::Key::HostFamily, Sys::hostWithRootNode + 1}};
    EXPECT_EQ(shown("/host/etc/hosts"), "/host/etc/hosts");
}

} // namespace
