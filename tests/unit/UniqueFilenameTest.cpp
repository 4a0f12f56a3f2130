// The galloping search and bisection of indexed names, observed through the existence probes: a
// decorator around a file service in memory records every item it is asked to open.
#include "storage/UniqueFilename.h"
#include "UnitPlatform.h"
#include "platform/host/HostFilesystem.h"
#include "support/memory/MemoryFilesystem.h"
#include <gtest/gtest.h>
#include <set>

using namespace Applications::Commands::Scrivlet;
using Services::Filesystem::Client::MemoryFilesystem;

namespace {

std::vector<std::string> probes;

class ProbeRecorder : public Services::Filesystem::Client::FilesystemServiceProxy {
  public:
    using FilesystemServiceProxy::FilesystemServiceProxy;
    Ref<Services::Filesystem::Client::FSItem> openItem(const Ref<String>& path) override {
        probes.push_back(stdString(path));
        return FilesystemServiceProxy::openItem(path);
    }
};

struct SearchCase {
    std::set<unsigned> taken;
    std::string result;
    std::vector<unsigned> order;
};

// Names the case in test listings by the name it finds instead of dumping its bytes.
void PrintTo(const SearchCase& c, std::ostream* os) {
    *os << c.result;
}

class UniqueFilenameTest : public ::testing::TestWithParam<SearchCase> {
  protected:
    void SetUp() override {
        auto memory = std::make_unique<MemoryFilesystem>();
        files = memory.get();
        files->addDirectory("/probe");
        probes.clear();
        installService<Services::Filesystem::Client::FilesystemService>(
            std::make_unique<ProbeRecorder>(std::move(memory)));
    }
    void TearDown() override { Host::installFilesystem(unitPlatform()); }
    void make(unsigned n) {
        char name[32];
        std::snprintf(name, sizeof name, "/probe/shot-%03u.png", n);
        files->addFile(name, "x");
    }
    MemoryFilesystem* files = nullptr;
};

std::string probeName(unsigned n) {
    char name[48];
    std::snprintf(name, sizeof name, "/probe/shot-%03u.png", n);
    return name;
}

TEST_P(UniqueFilenameTest, ProbeOrderAndResult) {
    for (unsigned n : GetParam().taken)
        make(n);
    Ref<String> found = uniqueFilename(String::create("shot.png"), String::create("/probe"), false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->str(), GetParam().result);
    std::vector<std::string> expected;
    for (unsigned n : GetParam().order)
        expected.push_back(probeName(n));
    EXPECT_EQ(probes, expected);
}

INSTANTIATE_TEST_SUITE_P(Search, UniqueFilenameTest,
                         ::testing::Values(SearchCase{{}, "shot-001.png", {1, 1}},
                                           SearchCase{{1, 2, 3, 4, 5, 6, 7, 8, 9},
                                                      "shot-010.png",
                                                      {1, 2, 4, 8, 16, 12, 10, 9, 10}},
                                           SearchCase{{1, 2, 4}, "shot-005.png", {1, 2, 4, 8, 6, 5, 5}},
                                           SearchCase{{1, 2, 3, 5, 6, 7}, "shot-004.png", {1, 2, 4, 3, 4}},
                                           SearchCase{{2, 3}, "shot-001.png", {1, 1}}));

TEST_F(UniqueFilenameTest, AThousandFilesCostTwentyOneProbes) {
    for (unsigned n = 1; n <= 1000; n++)
        make(n);
    Ref<String> found = uniqueFilename(String::create("shot.png"), String::create("/probe"), false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->str(), "shot-1001.png");
    EXPECT_EQ(probes.size(), 21u);
}

TEST_F(UniqueFilenameTest, WholeNamesAndNamesWithoutExtensionTakeTheIndexAtTheEnd) {
    EXPECT_EQ(uniqueFilename(String::create("LogExport.2026-12-06"), String::create("/probe"), true)->str(),
              "LogExport.2026-12-06-001");
    EXPECT_EQ(uniqueFilename(String::create("README"), String::create("/probe"), false)->str(), "README-001");
    EXPECT_EQ(uniqueFilename(String::create("a.b.txt"), String::create("/probe"), false)->str(),
              "a.b-001.txt");
}

} // namespace
