// Normalising platform paths: what every path goes through before it is mapped onto the host.
#include "platform/host/Namespace.h"
#include "UnitPlatform.h"
#include "platform/Error.h"
#include "platform/host/Host.h"
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

struct NormaliseCase {
    const char* path;
    const char* normal; // nullptr: refused as an invalid path
};

// Names the case in test listings by its path instead of dumping its bytes.
void PrintTo(const NormaliseCase& c, std::ostream* os) {
    *os << '"' << c.path << '"';
}

class Normalise : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(Normalise, GivesTheOneSpellingOfThePath) {
    unsigned error = 0;
    auto normal = unitPlatform().names().normalise(GetParam().path, error);
    if (!GetParam().normal) {
        EXPECT_FALSE(normal) << *normal;
        EXPECT_EQ(error, Errors::InvalidPath);
        return;
    }
    ASSERT_TRUE(normal) << GetParam().path;
    EXPECT_EQ(*normal, GetParam().normal);
}

// The embedded default's platform: "/media", "/system", "/users" and "/host" (the host's own root)
// are the platform's; any other absolute path is a host path, below "/host".
INSTANTIATE_TEST_SUITE_P(
    Paths, Normalise,
    ::testing::Values(NormaliseCase{"/", "/"}, NormaliseCase{"//", "/"}, NormaliseCase{"/.", "/"},
                      NormaliseCase{"/media/STICK", "/media/STICK"},
                      NormaliseCase{"/media/STICK/", "/media/STICK"},
                      NormaliseCase{"/media//STICK/./a.txt", "/media/STICK/a.txt"},
                      NormaliseCase{"/media/STICK/.", "/media/STICK"},
                      NormaliseCase{"/users/.b/..c/...", "/users/.b/..c/..."},
                      NormaliseCase{"/media/..", nullptr}, NormaliseCase{"/system/../host/etc", nullptr},
                      NormaliseCase{"/media/STICK/../b", nullptr}, NormaliseCase{"", nullptr},
                      // Host paths: ".." is resolved by name, and never climbs
                      // out of the host's root into the platform.
                      NormaliseCase{"/home/me/notes.txt", "/host/home/me/notes.txt"},
                      NormaliseCase{"/home/me/../you/x", "/host/home/you/x"},
                      NormaliseCase{"/../etc", "/host/etc"}, NormaliseCase{"/host/a/../../..", "/host"},
                      NormaliseCase{"/host/home/./me", "/host/home/me"}));

// Mapping paths onto mounts. Paths asked about again, and paths in a directory asked about before,
// are answered from what was resolved lately; those answers must be what a resolution afresh
// gives, whatever was mounted in between.
class Resolve : public ::testing::Test {
  protected:
    static constexpr const char* stick = "/devices/usb/stick";
    void SetUp() override { unitPlatform().config(); }
    void TearDown() override {
        while (mounted > 0) {
            unitPlatform().names().unmount(stick);
            mounted--;
        }
    }
    void mountStick() {
        unsigned error = 0;
        ASSERT_TRUE(unitPlatform().names().mount(stick, error));
        mounted++;
    }
    void unmountStick() {
        unitPlatform().names().unmount(stick);
        mounted--;
    }
    static std::optional<Namespace::Resolved> resolve(const std::string& path) {
        unsigned error = 0;
        return unitPlatform().names().resolve(String::create(path), error);
    }
    int mounted = 0;
};

TEST_F(Resolve, APathAskedAgainFollowsTheMountsMadeAndTakenAway) {
    auto before = resolve("/media/STICK/a.txt");
    ASSERT_TRUE(before);
    EXPECT_EQ(before->below(), "media/STICK/a.txt");
    mountStick();
    auto mounted = resolve("/media/STICK/a.txt");
    ASSERT_TRUE(mounted);
    EXPECT_NE(mounted->root, before->root);
    EXPECT_EQ(mounted->below(), "a.txt");
    unmountStick();
    auto after = resolve("/media/STICK/a.txt");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->root, before->root);
    EXPECT_EQ(after->below(), "media/STICK/a.txt");
}

TEST_F(Resolve, APathInADirectoryResolvedLatelyIsItsDirectoryOneNameOn) {
    mountStick();
    auto first = resolve("/media/STICK/d/one.txt");
    auto second = resolve("/media/STICK/d/two.txt");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->root, first->root);
    EXPECT_EQ(second->below(), "d/two.txt");
    EXPECT_EQ(second->platformPath->str(), "/media/STICK/d/two.txt");
    // Only a name is added to the directory's answer: "." is resolved afresh, and ".." is refused.
    auto self = resolve("/media/STICK/d/.");
    ASSERT_TRUE(self);
    EXPECT_EQ(self->platformPath->str(), "/media/STICK/d");
    EXPECT_FALSE(resolve("/media/STICK/d/.."));
    // A directory with a mount below it: the name there may be the mount's point.
    auto beside = resolve("/media/other.txt");
    auto point = resolve("/media/STICK");
    ASSERT_TRUE(beside && point);
    EXPECT_NE(point->root, beside->root);
    EXPECT_EQ(point->root, first->root);
    EXPECT_EQ(point->below(), "");
}

// The export and the dialogs resolve paths on threads of their own while drives come and go; each
// answer is one a resolution afresh gave at some moment: below the drive when it was mounted,
// below the platform's root when it was not.
TEST_F(Resolve, ThreadsAskingWhileADriveComesAndGoesGetWholeAnswers) {
    constexpr int askers = 3, asks = 2000, mounts = 100;
    std::atomic<bool> wrong{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < askers; t++)
        threads.emplace_back([&, t] {
            std::string path = "/media/STICK/d" + std::to_string(t) + "/f";
            for (int i = 0; i < asks; i++) {
                auto answer = resolve(path + std::to_string(i % 7));
                std::string tail = "d" + std::to_string(t) + "/f" + std::to_string(i % 7);
                if (!answer || (answer->below() != tail && answer->below() != "media/STICK/" + tail))
                    wrong = true;
            }
        });
    for (int i = 0; i < mounts; i++) {
        mountStick();
        unmountStick();
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(wrong);
}

} // namespace
