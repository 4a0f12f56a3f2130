// Normalising platform paths: what every path goes through before it is mapped onto the host.
#include "platform/host/Namespace.h"
#include "platform/Error.h"
#include <gtest/gtest.h>

namespace {

struct NormaliseCase {
    const char* path;
    const char* normal; // nullptr: refused as an invalid path
};

class Normalise : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(Normalise, GivesTheOneSpellingOfThePath) {
    unsigned error = 0;
    auto normal = Namespace::normalise(GetParam().path, error);
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

} // namespace
