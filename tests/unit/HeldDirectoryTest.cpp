// Directories held open beneath a mount: paths below them are opened from them, and what happens to
// a held directory on the host (moved, removed, exchanged for a link out) never lets a lookup leave
// the mount or find a directory that is gone.
#include "platform/host/Namespace.h"
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string readAll(int fd) {
    std::string data;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, static_cast<size_t>(n));
    return data;
}

class Held : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/scrivlet-held-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        top = pattern;
        fs::create_directories(drive() / "dir");
        fs::create_directories(outside());
        std::ofstream(drive() / "file") << "inside";
        std::ofstream(drive() / "dir" / "a") << "a";
        std::ofstream(outside() / "secret") << "secret";
        root =
            std::make_shared<const Namespace::DirectoryHandle>(::open(drive().c_str(), O_PATH | O_DIRECTORY));
    }
    void TearDown() override { fs::remove_all(top); }

    fs::path drive() const { return top / "drive"; }
    fs::path outside() const { return top / "outside"; }
    Namespace::Resolved at(const std::string& below) const { return Namespace::Resolved::at(root, below); }
    // Opens a directory as the filesystem service does, which holds it.
    void hold(const std::string& below) {
        int fd = names.openBeneath(at(below), O_PATH | O_DIRECTORY | O_NOFOLLOW);
        ASSERT_GE(fd, 0) << strerror(errno);
        ::close(fd);
        ASSERT_TRUE(names.heldDirectory(at(below)));
    }
    std::string read(const std::string& below) {
        int fd = names.openBeneath(at(below), O_RDONLY);
        if (fd < 0) return "refused: " + std::string(strerror(errno));
        std::string data = readAll(fd);
        ::close(fd);
        return data;
    }

    fs::path top;
    Namespace::Handle root;
    Host::Config config;
    Namespace::Tree names{config};
};

// Each missing level is made inside the one made before it, beneath the root; a link on the way
// that leads out of the mount stops the making there.
TEST_F(Held, MissingDirectoriesAreMadeLevelByLevelBeneathTheRoot) {
    int err = 0;
    ASSERT_TRUE(names.makeDirectories(at("dir/x/y/z"), err)) << strerror(err);
    EXPECT_TRUE(fs::is_directory(drive() / "dir" / "x" / "y" / "z"));
    EXPECT_FALSE(fs::exists(drive() / "y"));
    fs::create_directory_symlink(outside(), drive() / "out");
    EXPECT_FALSE(names.makeDirectories(at("out/made"), err));
    EXPECT_FALSE(fs::exists(outside() / "made"));
}

TEST_F(Held, AMovedDirectoryIsStillTheOneOpened) {
    hold("dir");
    fs::rename(drive() / "dir", drive() / "moved");
    EXPECT_EQ(read("dir/a"), "a");
}

TEST_F(Held, ADirectoryRemovedWhileHeldIsLookedUpAgain) {
    hold("dir");
    fs::remove_all(drive() / "dir");
    fs::create_directories(drive() / "dir");
    std::ofstream(drive() / "dir" / "b") << "b";
    EXPECT_EQ(read("dir/b"), "b");
    int fd = names.openBeneath(at("dir/c"), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0) << strerror(errno);
    ::close(fd);
    EXPECT_TRUE(fs::exists(drive() / "dir" / "c"));
    // The directory removed is no longer given out as held.
    Namespace::Handle current = names.heldDirectory(at("dir"));
    struct stat st {};
    if (current) {
        ASSERT_EQ(fstat(current->fd(), &st), 0);
        EXPECT_GT(st.st_nlink, 0u);
    }
}

// Finding a directory by its name (as making a path does before opening it) tells it is not
// removed, but only when the name still leads to the directory held.
TEST_F(Held, ANameLeadingToANewDirectoryDoesNotVouchForTheRemovedOne) {
    fs::create_directories(drive() / "dir" / "sub");
    hold("dir");
    hold("dir/sub");
    Namespace::Handle old = names.heldDirectory(at("dir/sub"));
    ASSERT_TRUE(old);
    fs::remove_all(drive() / "dir" / "sub");
    fs::create_directories(drive() / "dir" / "sub");
    struct stat st {};
    Namespace::Handle parent;
    std::string_view name;
    ASSERT_EQ(names.statInHeldParent(at("dir/sub"), st, parent, name), Namespace::HeldLookup::Found);
    EXPECT_NE(names.heldDirectory(at("dir/sub")), old);
}

TEST_F(Held, ALinkLeavingTheHeldDirectoryIsDecidedAtTheRoot) {
    fs::create_symlink("../file", drive() / "dir" / "up");
    fs::create_symlink("../../outside/secret", drive() / "dir" / "out");
    hold("dir");
    EXPECT_EQ(read("dir/up"), "inside");
    EXPECT_EQ(read("dir/out").rfind("refused", 0), 0u);
}

TEST_F(Held, ADirectoryReachedThroughALinkIsNotHeld) {
    fs::create_symlink("dir", drive() / "linked");
    int fd = names.openBeneath(at("linked"), O_PATH | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_FALSE(names.heldDirectory(at("linked")));
}

TEST_F(Held, ExchangedForALinkOutItIsStillTheDirectoryOnTheDrive) {
    hold("dir");
    fs::create_symlink(outside(), drive() / "bait");
    ASSERT_EQ(
        renameat2(AT_FDCWD, (drive() / "dir").c_str(), AT_FDCWD, (drive() / "bait").c_str(), RENAME_EXCHANGE),
        0);
    int fd = names.openBeneath(at("dir/new"), O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) ::close(fd);
    EXPECT_FALSE(fs::exists(outside() / "new"));
    EXPECT_EQ(read("dir/secret").rfind("refused", 0), 0u);
}

TEST_F(Held, AFileJustCreatedIsOpenedThroughTheDescriptorThatMadeIt) {
    hold("dir");
    Namespace::Handle dir = names.heldDirectory(at("dir"));
    int made = ::openat(dir->fd(), "x", O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(made, 0);
    struct stat madeStat {};
    fstat(made, &madeStat);
    names.keepCreated(dir, "x", made);
    EXPECT_LT(names.takeCreated(at("dir/y")).fd, 0);
    Namespace::Created taken = names.takeCreated(at("dir/x"));
    ASSERT_GE(taken.fd, 0);
    struct stat takenStat {};
    fstat(taken.fd, &takenStat);
    EXPECT_EQ(takenStat.st_ino, madeStat.st_ino);
    EXPECT_EQ(taken.device, madeStat.st_dev) << "the new file's filesystem is flushed by its device";
    ::close(taken.fd);
    EXPECT_LT(names.takeCreated(at("dir/x")).fd, 0) << "given out twice";
}

} // namespace
