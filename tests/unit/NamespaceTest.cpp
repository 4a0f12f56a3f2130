// Normalising platform paths: what every path goes through before it is mapped onto the host.
#include "platform/Namespace.h"
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

INSTANTIATE_TEST_SUITE_P(Paths, Normalise,
                         ::testing::Values(NormaliseCase{"/", "/"}, NormaliseCase{"//", "/"},
                                           NormaliseCase{"/.", "/"},
                                           NormaliseCase{"/media/STICK", "/media/STICK"},
                                           NormaliseCase{"/media/STICK/", "/media/STICK"},
                                           NormaliseCase{"/media//STICK/./a.txt", "/media/STICK/a.txt"},
                                           NormaliseCase{"/media/STICK/.", "/media/STICK"},
                                           NormaliseCase{"/a/.b/..c/...", "/a/.b/..c/..."},
                                           NormaliseCase{"/a/..", nullptr}, NormaliseCase{"/../a", nullptr},
                                           NormaliseCase{"/a/../b", nullptr}, NormaliseCase{"", nullptr}));

} // namespace
