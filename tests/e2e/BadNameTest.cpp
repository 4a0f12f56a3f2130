// Hostile and unusual names through the binary: nothing is ever written outside the platform's
// mounts, sources are never changed, and odd but valid names are saved exactly as given.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

struct BadNames : ::testing::Test {
    Sandbox box;
    fs::path outside() const { return box.root / "outside"; }
    fs::path first() const { return box.node("system") / "Screenshots"; }
    fs::path second() const { return box.node("system") / "Service" / "Screenshots"; }
    void SetUp() override {
        fs::create_directories(outside());
        writeFile(box.work() / "x.txt", "source bytes");
    }
    void expectOutsideUntouched() const {
        EXPECT_TRUE(listFiles(outside()).empty()) << "a file escaped its mount";
    }
};

// Destination names lose every directory part, whatever it says.
struct DestinationCase {
    const char* name;
    const char* destination;
    const char* saved;
};
using Testing::PrintTo;

class DestinationNames : public BadNames, public ::testing::WithParamInterface<DestinationCase> {};

TEST_P(DestinationNames, OnlyTheLastComponentIsUsed) {
    RunResult r = box.run({"--silent", "x.txt", GetParam().destination});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(listFiles(first()), std::vector<std::string>{GetParam().saved});
    EXPECT_EQ(listFiles(second()), std::vector<std::string>{GetParam().saved});
    EXPECT_TRUE(hasContent(first() / GetParam().saved, "source bytes"));
    expectOutsideUntouched();
}

INSTANTIATE_TEST_SUITE_P(Escapes, DestinationNames,
                         ::testing::Values(DestinationCase{"ParentDirectories",
                                                           "../../../../outside/evil.txt", "evil.txt"},
                                           DestinationCase{"AbsolutePath", "/etc/evil.txt", "evil.txt"},
                                           DestinationCase{"Placeholders", "{1}%1{2}.txt", "{1}%1{2}.txt"},
                                           DestinationCase{"QuotesAndEquals", "a\"b=c'd.txt", "a\"b=c'd.txt"},
                                           DestinationCase{"NotUtf8", "caf\xe9\xff.txt", "caf\xe9\xff.txt"}),
                         caseName);

TEST_F(BadNames, PlaceholdersInANameAreShownAsTheyAre) {
    writeFile(box.work() / "{1}%1.txt", "odd");
    RunResult r = box.run({"{1}%1.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0]["text"].get<std::string>().find("Screenshots/\u200B{1}%1.txt"), std::string::npos)
        << shown[0]["text"];
}

TEST_F(BadNames, OverlongNameFailsCleanlyAndLeavesNothing) {
    std::string longName(300, 'n');
    RunResult r = box.run({"x.txt", longName + ".txt"});
    // Creating the target failed on every location: the invalid-path code with that step's marker.
    EXPECT_EQ(r.status, 0x21) << r.logText();
    EXPECT_TRUE(r.logged(4, "Exit code 60000021h (1610612769)")) << r.logText();
    auto shown = r.calls("Dialog::show");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["text"].get<std::string>().rfind("Could not create file: ", 0), 0u)
        << shown[0]["text"];
    EXPECT_NE(shown[0]["text"].get<std::string>().find("error: 0x60000021 (1610612769)"), std::string::npos);
    EXPECT_TRUE(listFiles(first()).empty());
    EXPECT_TRUE(listFiles(second()).empty());
    EXPECT_TRUE(hasContent(box.work() / "x.txt", "source bytes"));
}

// A platform directory that is a link out of its drive is not written through.
TEST_F(BadNames, LinkedDirectoryLeadingOutOfTheDriveIsNotUsed) {
    fs::create_directories(box.node("system") / "Service");
    fs::create_symlink(outside(), second());
    RunResult r = box.run({"--silent", "x.txt"});
    expectOutsideUntouched();
    EXPECT_TRUE(hasContent(first() / "x.txt", "source bytes")) << r.logText();
    EXPECT_EQ(r.status, 0) << r.logText();
}

// A dangling link in place of the target name would create the file wherever it points.
TEST_F(BadNames, DanglingLinkAsTheTargetNameIsNotFollowed) {
    fs::create_directories(first());
    fs::create_symlink(outside() / "planted.txt", first() / "x.txt");
    RunResult r = box.run({"--silent", "x.txt"});
    expectOutsideUntouched();
    EXPECT_TRUE(fs::is_symlink(first() / "x.txt"));
    EXPECT_TRUE(hasContent(second() / "x.txt", "source bytes")) << r.logText();
}

// A link inside the drive is an ordinary directory.
TEST_F(BadNames, LinkThatStaysOnTheDriveIsFollowed) {
    fs::create_directories(box.node("system") / "Service" / "Real");
    fs::create_symlink("Real", second());
    RunResult r = box.run({"--silent", "x.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(hasContent(box.node("system") / "Service" / "Real" / "x.txt", "source bytes"));
}

// A source name is opened without a look first; what the open meets there still decides.
TEST_F(BadNames, SourceLinkThatStaysInsideIsRead) {
    fs::create_symlink("x.txt", box.work() / "link.txt");
    RunResult r = box.run({"--silent", "link.txt"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(hasContent(first() / "link.txt", "source bytes"));
    EXPECT_TRUE(fs::is_symlink(box.work() / "link.txt"));
}

// The working directory lies on the host's own root, which every host path stays inside; a drive
// mounted from the start has an edge a link can lead over.
TEST_F(BadNames, SourceLinkLeadingOutOfItsMountIsNotRead) {
    box.config["nodes"].push_back({{"name", "/devices/incoming"},
                                   {"host", "nodes/incoming"},
                                   {"mount", "/incoming"},
                                   {"mounted", true}});
    writeFile(outside() / "secret.txt", "secret bytes");
    fs::create_directories(box.node("incoming"));
    fs::create_symlink(outside() / "secret.txt", box.node("incoming") / "link.txt");
    fs::create_symlink("../../outside/secret.txt", box.node("incoming") / "relative.txt");
    for (const char* source : {"/incoming/link.txt", "/incoming/relative.txt"}) {
        RunResult r = box.run({"--silent", source});
        EXPECT_NE(r.status, 0) << source << "\n" << r.logText();
    }
    EXPECT_TRUE(listFiles(first()).empty());
    EXPECT_TRUE(listFiles(second()).empty());
    EXPECT_TRUE(hasContent(outside() / "secret.txt", "secret bytes"));
}

TEST_F(BadNames, SourceThatIsADirectoryIsNotRead) {
    fs::create_directories(box.work() / "folder");
    RunResult r = box.run({"--silent", "folder"});
    EXPECT_NE(r.status, 0) << r.logText();
    EXPECT_TRUE(listFiles(first()).empty());
    EXPECT_TRUE(listFiles(second()).empty());
}

} // namespace
