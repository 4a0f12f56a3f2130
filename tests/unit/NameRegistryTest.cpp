// Names remembered across runs in the registry file, on a tree in memory: what is looked up, what
// is appended and in what form, and what the registry never lets through.
#include "InMemoryFiles.h"
#include "storage/Storage.h"

using namespace Applications::Commands::Scrivlet;
using namespace Services::Filesystem::Client;

namespace {

const char* const registry = "/users/system/temp/scrivlet-files";

class NameRegistry : public InMemoryFiles {
  protected:
    void SetUp() override {
        InMemoryFiles::SetUp();
        files->addDirectory("/users/system/temp");
        files->addDirectory("/drive/logs");
        run.parameters = Ref<Parameters>(new Parameters);
        run.parameters->reuseName = true;
    }
    std::string determine(const char* name, const Ref<MountEntry>& mount = {},
                          const char* directory = "/drive/logs") {
        Ref<String> path =
            determineFilename(run, String::create(directory), String::create(name), mount, false);
        return path ? stdString(path) : "(none)";
    }
    RunContext run;
};

TEST_F(NameRegistry, AFirstRequestGetsAnIndexedNameAndASecondReusesIt) {
    EXPECT_EQ(determine("system.log"), "/drive/logs/system-001.log");
    EXPECT_EQ(files->contents(registry), "\"/drive/logs/system.log\"=\"system-001.log\"\n");
    files->addFile("/drive/logs/system-001.log", "saved");
    EXPECT_EQ(determine("system.log"), "/drive/logs/system-001.log");
    EXPECT_EQ(files->contents(registry), "\"/drive/logs/system.log\"=\"system-001.log\"\n");
}

TEST_F(NameRegistry, WithoutTheOptionTheRegistryIsNeitherReadNorWritten) {
    files->addFile(registry, "\"/drive/logs/system.log\"=\"kept.log\"\n");
    run.parameters->reuseName = false;
    EXPECT_EQ(determine("system.log"), "/drive/logs/system-001.log");
    EXPECT_EQ(files->contents(registry), "\"/drive/logs/system.log\"=\"kept.log\"\n");
}

// The first entry of a key wins; a line without an equals sign outside quotes is no entry.
TEST_F(NameRegistry, TheFirstEntryOfAKeyWinsAndLinesThatAreNoEntriesAreSkipped) {
    files->addFile(registry, "\"/drive/logs/system.log=quoted.log\"\n"
                             "no separator here\n"
                             "\"/drive/logs/system.log\"=\"mine.log\"\n"
                             "\"/drive/logs/system.log\"=\"later.log\"\n");
    EXPECT_EQ(determine("system.log"), "/drive/logs/mine.log");
}

TEST_F(NameRegistry, AnEntryThatIsNotABareFileNameIsNeverUsed) {
    files->addFile(registry, "\"/drive/logs/system.log\"=\"../../users/system/temp/scrivlet-files\"\n"
                             "\"/drive/logs/other.log\"=\"sub/other.log\"\n");
    EXPECT_EQ(determine("system.log"), "/drive/logs/system-001.log");
    EXPECT_EQ(determine("other.log"), "/drive/logs/other-001.log");
}

TEST_F(NameRegistry, ALastLineWithoutItsLineFeedGetsOneBeforeTheNewEntry) {
    files->addFile(registry, "\"elsewhere\"=\"a.log\"");
    EXPECT_EQ(determine("system.log"), "/drive/logs/system-001.log");
    EXPECT_EQ(files->contents(registry),
              "\"elsewhere\"=\"a.log\"\n\"/drive/logs/system.log\"=\"system-001.log\"\n");
}

TEST_F(NameRegistry, AnEntryThatDoesNotFitIsCutBackOffAndTheNameStillReturned) {
    std::string before = "\"elsewhere\"=\"a.log\"\n";
    files->addFile(registry, before);
    files->setCapacity(before.size() + 10);
    EXPECT_EQ(determine("system.log"), "/drive/logs/system-001.log");
    EXPECT_EQ(files->contents(registry), before);
}

TEST_F(NameRegistry, ANameThatWouldForgeAnEntryIsNotRecorded) {
    EXPECT_EQ(determine("a\"=\"b.log"), "/drive/logs/a\"=\"b-001.log");
    EXPECT_EQ(determine("a.log\nb.log"), "/drive/logs/a.log\nb-001.log");
    EXPECT_EQ(determine("a.log\rb.log"), "/drive/logs/a.log\rb-001.log");
    EXPECT_EQ(files->contents(registry), "");
}

TEST_F(NameRegistry, OnADriveTheKeyIsTheDirectoryOnTheNodeSoNamesInItShareOne) {
    files->addDirectory("/mnt/stick/logs");
    Ref<MountEntry> stick(new MountEntry(String::create("usb0"), String::create("/mnt/stick")));
    EXPECT_EQ(determine("first.log", stick, "/mnt/stick/logs"), "/mnt/stick/logs/first-001.log");
    EXPECT_EQ(files->contents(registry), "\"usb0/logs\"=\"first-001.log\"\n");
    // The same drive mounted elsewhere later: the same key.
    files->addDirectory("/mnt/again/logs");
    Ref<MountEntry> again(new MountEntry(String::create("usb0"), String::create("/mnt/again")));
    EXPECT_EQ(determine("second.log", again, "/mnt/again/logs"), "/mnt/again/logs/first-001.log");
}

TEST_F(NameRegistry, ARegistryHeldByAnotherRunIsLeftAloneSilently) {
    files->addFile(registry, "\"/drive/logs/system.log\"=\"kept.log\"\n");
    Ref<File> held = File::open(String::create(registry), OpenMode::Exclusive);
    ASSERT_TRUE(held);
    EXPECT_EQ(determine("system.log"), "/drive/logs/system-001.log");
    EXPECT_EQ(files->contents(registry), "\"/drive/logs/system.log\"=\"kept.log\"\n");
}

} // namespace
