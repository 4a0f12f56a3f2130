// What a run maps at start-up: the libraries only some modes use are loaded when first needed.
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

// The dynamic loader's own account of the libraries it maps (LD_DEBUG=libs, on standard error).
std::string librariesMapped(Sandbox& box, const std::vector<std::string>& args) {
    RunResult r = box.run(args, {{"LD_DEBUG", "libs"}});
    return r.err;
}

TEST(Startup, HelpMapsNoneOfTheLibrariesOfTheJournalTheDrivesOrTheStore) {
    Sandbox box;
    std::string mapped = librariesMapped(box, {"--help"});
    ASSERT_NE(mapped.find("calling init"), std::string::npos) << "the loader said nothing: " << mapped;
    for (const char* library : {"libsystemd", "libmount", "libblkid", "libcurl", "libcrypto"})
        EXPECT_EQ(mapped.find(library), std::string::npos) << library << " is mapped by --help";
}

TEST(Startup, TheMountLibrariesAreMappedOnlyToLookForHostDrives) {
    Sandbox box;
    writeFile(box.work() / "x.txt", "x");
    std::string without = librariesMapped(box, {"--silent", "x.txt"});
    EXPECT_EQ(without.find("libmount"), std::string::npos);
    box.config["hostDrives"]["enabled"] = true;
    std::string with = librariesMapped(box, {"--silent", "x.txt"});
    EXPECT_NE(with.find("libmount.so"), std::string::npos) << "host drives were looked for without libmount";
}

} // namespace
