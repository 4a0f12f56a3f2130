// Opening paths beneath a mount's root: links of every shape planted in a tree, opened through both
// ways the platform resolves (the kernel's openat2 and the per-component walk). Nothing outside the
// root is ever opened, read or created, whichever way.
#include "platform/host/Namespace.h"
#include "support/NamedCase.h"
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    const char* below;
    bool create;           // opened for writing, created when absent
    const char* viaKernel; // what the open reads; nullptr: refused
    const char* viaWalk;
};

using Testing::PrintTo;
} // namespace

// The resolver by its name, in test listings.
namespace Namespace {
void PrintTo(Resolver resolver, std::ostream* os) {
    *os << (resolver == Resolver::Openat2 ? "openat2" : "walk");
}
} // namespace Namespace

namespace {

std::string readAll(int fd) {
    std::string data;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        data.append(buffer, static_cast<size_t>(n));
    return data;
}

class Beneath : public ::testing::TestWithParam<std::tuple<Case, Namespace::Resolver>> {
  protected:
    Host::Config config;
    Namespace::Tree names{config};
    fs::path top;
    fs::path root() const { return top / "drive"; }
    fs::path outside() const { return top / "outside"; }

    void SetUp() override {
        char pattern[] = "/tmp/scrivlet-beneath-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        top = pattern;
        fs::create_directories(root() / "dir");
        fs::create_directories(outside());
        std::ofstream(root() / "file") << "inside";
        std::ofstream(outside() / "secret") << "secret";
        auto link = [&](const fs::path& target, const char* at) { fs::create_symlink(target, root() / at); };
        link("file", "sibling");                   // relative, stays inside
        link("../file", "dir/up");                 // relative, climbs but stays inside
        link("..", "dir/toRoot");                  // a directory link to the drive's root
        link("../outside/secret", "climbsOut");    // relative, leads out
        link(outside() / "secret", "absoluteOut"); // absolute, leads out
        link(root() / "file", "absoluteIn");       // absolute, names a file inside
        link(outside(), "dirOut");                 // a directory outside
        link("chain2", "chain1");                  // a chain that ends inside
        link("sibling", "chain2");
        link("chainOut2", "chainOut1"); // a chain that ends outside
        link("../outside/secret", "chainOut2");
        link("../outside/planted", "dangling"); // nothing there yet: creating would plant it
        link("/proc/self/root" + outside().string(), "magic");
        names.setResolver(std::get<1>(GetParam()));
    }
    void TearDown() override {
        names.setResolver(Namespace::Resolver::Openat2);
        fs::remove_all(top);
    }

    int open(const Case& c) {
        int fd = ::open(root().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        auto resolved =
            Namespace::Resolved::at(std::make_shared<const Namespace::DirectoryHandle>(fd), c.below);
        return names.openBeneath(resolved, c.create ? O_RDWR | O_CREAT : O_RDONLY, 0644);
    }
};

TEST_P(Beneath, OpensOnlyWhatLiesBeneathTheRoot) {
    const Case& c = std::get<0>(GetParam());
    bool kernel = std::get<1>(GetParam()) == Namespace::Resolver::Openat2;
    const char* expected = kernel ? c.viaKernel : c.viaWalk;
    int fd = open(c);
    if (expected) {
        ASSERT_GE(fd, 0) << strerror(errno);
        EXPECT_EQ(readAll(fd), expected);
    } else {
        EXPECT_LT(fd, 0);
        EXPECT_TRUE(errno == EXDEV || errno == ELOOP || errno == ENOTDIR || errno == ENAMETOOLONG)
            << strerror(errno);
    }
    if (fd >= 0) ::close(fd);
    // Whatever was opened, the outside holds exactly what it held.
    EXPECT_FALSE(fs::exists(outside() / "planted"));
    std::ifstream secret(outside() / "secret");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(secret), {}), "secret");
}

// A name longer than any a directory can hold, on the way and at the end: refused, never copied
// past the walk's buffer for one name.
const std::string overlongOnTheWay = std::string(300, 'n') + "/file";
const std::string overlongAtTheEnd = "dir/" + std::string(300, 'n');

INSTANTIATE_TEST_SUITE_P(
    Links, Beneath,
    ::testing::Combine(
        ::testing::Values(Case{"PlainFile", "file", false, "inside", "inside"},
                          Case{"RelativeLinkInside", "sibling", false, "inside", nullptr},
                          Case{"RelativeLinkClimbingButInside", "dir/up", false, "inside", nullptr},
                          Case{"DirectoryLinkToTheRoot", "dir/toRoot/file", false, "inside", nullptr},
                          Case{"RelativeLinkOut", "climbsOut", false, nullptr, nullptr},
                          Case{"AbsoluteLinkOut", "absoluteOut", false, nullptr, nullptr},
                          Case{"AbsoluteLinkNamingAFileInside", "absoluteIn", false, nullptr, nullptr},
                          Case{"DirectoryLinkOut", "dirOut/secret", false, nullptr, nullptr},
                          Case{"ChainInside", "chain1", false, "inside", nullptr},
                          Case{"ChainOut", "chainOut1", false, nullptr, nullptr},
                          Case{"CreatingThroughADanglingLinkOut", "dangling", true, nullptr, nullptr},
                          Case{"MagicLink", "magic/secret", false, nullptr, nullptr},
                          Case{"WritingThroughALinkOut", "climbsOut", true, nullptr, nullptr},
                          Case{"OverlongNameOnTheWay", overlongOnTheWay.c_str(), false, nullptr, nullptr},
                          Case{"OverlongNameAtTheEnd", overlongAtTheEnd.c_str(), true, nullptr, nullptr}),
        ::testing::Values(Namespace::Resolver::Openat2, Namespace::Resolver::Walk)),
    [](const auto& info) {
        bool kernel = std::get<1>(info.param) == Namespace::Resolver::Openat2;
        return std::string(std::get<0>(info.param).name) + (kernel ? "_Openat2" : "_Walk");
    });

} // namespace
