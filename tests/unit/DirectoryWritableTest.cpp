// Whether the run may write in a directory is asked of the kernel once per directory it holds; a
// directory that stops being writable afterwards is refused by the kernel at the next thing made
// there, with the same error, and nothing is made. Needs root to mount a tmpfs and make it
// read-only; skipped with a message otherwise.
#include "UnitPlatform.h"
#include "platform/Filesystem.h"
#include "platform/host/Host.h"
#include "platform/host/HostFilesystem.h"
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace Services::Filesystem::Client;

class DirectoryWritable : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs and make it read-only";
        unitPlatform().config();
        // The host's own file service, whatever an earlier test of this process installed, and a
        // directory below one of the platform tree's own names (which are fixed when the
        // namespace is first used, perhaps by an earlier test).
        Host::installFilesystem(unitPlatform());
        directory = fs::path(std::getenv("ORVANE_ROOT")) / "fs" / "users" / "turns-read-only";
        fs::create_directories(directory);
        if (mount("tmpfs", directory.c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        mounted = true;
    }
    void TearDown() override {
        if (mounted) umount2(directory.c_str(), MNT_DETACH);
    }
    void makeReadOnly() {
        ASSERT_EQ(mount(nullptr, directory.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
            << std::strerror(errno);
    }

    fs::path directory;
    bool mounted = false;
};

TEST_F(DirectoryWritable, AskedOnceThenTheKernelRefusesWithTheSameError) {
    Ref<String> path = String::create("/users/turns-read-only");
    Ref<Directory> first = Directory::open(path, DirectoryMode::ReadWrite);
    ASSERT_TRUE(first);
    first.reset();

    makeReadOnly();
    Ref<Directory> again = Directory::open(path, DirectoryMode::ReadWrite);
    ASSERT_TRUE(again) << "a directory found writable is not asked again";
    Error::set(0);
    EXPECT_FALSE(again->createFile(String::create("after")));
    EXPECT_EQ(Error::get(), Errors::NotWritable);
    EXPECT_FALSE(fs::exists(directory / "after"));
}

} // namespace
