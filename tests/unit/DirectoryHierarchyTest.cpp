// Target directories made level by level below a boundary, and the product hierarchy below a
// chosen place, on a tree in memory.
#include "storage/DirectoryHierarchy.h"
#include "InMemoryFiles.h"

using namespace Applications::Commands::Scrivlet;
using namespace Services::Filesystem::Client;

namespace {

Ref<String> text(const char* s) {
    return String::create(s);
}

class Hierarchy : public InMemoryFiles {};

TEST_F(Hierarchy, MissingLevelsAreMadeDownToTheFile) {
    files->addDirectory("/drive/export");
    EXPECT_TRUE(ensureDirectoryHierarchy(text("/drive/export/a/b/shot.png"), text("/drive/export"), true));
    EXPECT_TRUE(files->isDirectory("/drive/export/a"));
    EXPECT_TRUE(files->isDirectory("/drive/export/a/b"));
    EXPECT_EQ(files->contents("/drive/export/a/b/shot.png"), "");
    // Made already: nothing changes.
    EXPECT_TRUE(ensureDirectoryHierarchy(text("/drive/export/a/b"), text("/drive/export"), false));
    EXPECT_EQ(files->list("/drive/export/a/b"), std::vector<std::string>{"shot.png"});
}

TEST_F(Hierarchy, NothingIsMadeAtOrAboveTheBoundary) {
    files->addDirectory("/drive");
    EXPECT_FALSE(ensureDirectoryHierarchy(text("/drive/gone/a/b.txt"), text("/drive/gone"), true));
    EXPECT_TRUE(files->list("/drive").empty());
}

TEST_F(Hierarchy, AFileInTheWayOfALevelFailsAndStaysAsItWas) {
    files->addFile("/drive/export/a", "data");
    EXPECT_FALSE(ensureDirectoryHierarchy(text("/drive/export/a/b.txt"), text("/drive/export"), true));
    EXPECT_EQ(files->contents("/drive/export/a"), "data");
}

TEST_F(Hierarchy, AReadOnlyPlaceFails) {
    files->addDirectory("/drive/export");
    files->setReadOnly("/drive");
    EXPECT_FALSE(ensureDirectoryHierarchy(text("/drive/export/a/b.txt"), text("/drive/export"), true));
    EXPECT_TRUE(files->list("/drive/export").empty());
}

// Another run makes the level between this run's look and its attempt: the level is there, which
// is all this run needed.
class RacingRun : public FilesystemServiceProxy {
  public:
    RacingRun(std::unique_ptr<FilesystemService> inner, MemoryFilesystem& files)
        : FilesystemServiceProxy(std::move(inner)), m_files(files) {}
    Ref<Directory> openDirectory(const Ref<String>& path, unsigned mode) override {
        if (path->str() == "/drive/export") m_files.addDirectory("/drive/export/a");
        return FilesystemServiceProxy::openDirectory(path, mode);
    }

  private:
    MemoryFilesystem& m_files;
};

TEST(HierarchyRace, ALevelAnotherRunMadeMeanwhileIsAsGoodAsMade) {
    auto memory = std::make_unique<MemoryFilesystem>();
    MemoryFilesystem& files = *memory;
    files.addDirectory("/drive/export");
    installService<FilesystemService>(std::make_unique<RacingRun>(std::move(memory), files));
    EXPECT_TRUE(ensureDirectoryHierarchy(text("/drive/export/a/b.txt"), text("/drive/export"), true));
    EXPECT_EQ(files.contents("/drive/export/a/b.txt"), "");
    Host::installFilesystem(unitPlatform()); // and the tree with the proxy goes
}

TEST_F(Hierarchy, TheProductHierarchyIsMadeBelowTheChosenPlace) {
    files->addDirectory("/media/STICK");
    Ref<String> shots = productSubdirectory(text("/media/STICK"), false);
    ASSERT_TRUE(shots);
    EXPECT_EQ(shots->str(), "/media/STICK/Orvane/Screenshots");
    Ref<String> logs = productSubdirectory(text("/media/STICK"), true);
    ASSERT_TRUE(logs);
    EXPECT_EQ(logs->str(), "/media/STICK/Orvane/Logs");
    EXPECT_EQ(files->list("/media/STICK/Orvane"), (std::vector<std::string>{"Logs", "Screenshots"}));
}

TEST_F(Hierarchy, AProductLevelThatCannotBeMadeLeavesThePlaceItReached) {
    files->addDirectory("/media/STICK");
    files->setReadOnly("/media/STICK");
    Ref<String> shots = productSubdirectory(text("/media/STICK"), false);
    ASSERT_TRUE(shots);
    EXPECT_EQ(shots->str(), "/media/STICK");
    EXPECT_TRUE(files->list("/media/STICK").empty());
    // The second level failing (a file in its way): the file goes in the first.
    files->addFile("/media/OTHER/Orvane/Screenshots", "");
    EXPECT_EQ(productSubdirectory(text("/media/OTHER"), false)->str(), "/media/OTHER/Orvane");
}

} // namespace
