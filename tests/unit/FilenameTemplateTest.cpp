// Predetermined names from the options and the installation's product description, the
// description given by an in-memory environment.
#include "InstalledSystem.h"
#include "UnitPlatform.h"
#include "platform/host/HostEnvironment.h"
#include "platform/host/HostServices.h"
#include "storage/Storage.h"
#include "support/memory/MemoryClock.h"
#include "support/memory/MemoryEnvironment.h"
#include <gtest/gtest.h>

using namespace Applications::Commands::Scrivlet;
using PlatformEnvironment::MemoryEnvironment;

namespace {

struct FilenameTemplateTest : ::testing::Test {
    void SetUp() override {
        auto service = std::make_unique<MemoryEnvironment>();
        environment = service.get();
        installService<PlatformEnvironment::EnvironmentService>(std::move(service));
        run.parameters = Ref<Parameters>(new Parameters);
        run.parameters->date = String::create("20261207");
    }
    void TearDown() override { Host::installEnvironment(unitPlatform()); }
    std::string name(const char* extension) {
        return stdString(predeterminedFilename(run, String::create(extension)));
    }

    MemoryEnvironment* environment = nullptr;
    RunContext run;
};

TEST_F(FilenameTemplateTest, TheProductPieceNamesTheProductThePlatformAndTheVersion) {
    environment->product = std::map<std::string, std::string>{{"shortname", "orv"}, {"version", "3.1"}};
    // The unit tests' platform is the embedded default: a Linux host reaching host paths directly.
    EXPECT_EQ(name("png"), "Orvane-20261207-orv.LX64-3.1-user.png");
    (*environment->product)["version"] = "";
    EXPECT_EQ(name("png"), "Orvane-20261207-orv.LX64-user.png");
    environment->product->erase("version");
    EXPECT_EQ(name("png"), "Orvane-20261207-orv.LX64-user.png");
    // Without a short name there is no product piece, whatever the version says.
    *environment->product = {{"shortname", ""}, {"version", "3.1"}};
    EXPECT_EQ(name("png"), "Orvane-20261207-user.png");
}

TEST_F(FilenameTemplateTest, WithoutAProductTheNameHasNoProductPiece) {
    run.parameters->suffix = String::create("service");
    EXPECT_EQ(name("log"), "Orvane-20261207-service.log");
    environment->product = std::map<std::string, std::string>{{"version", "3.1"}};
    EXPECT_EQ(name(""), "Orvane-20261207-service");
}

// The platform letter of the product piece, from the system information: a platform on its own
// hardware, a Windows host, a Linux-like host with or without direct host paths, anything else.
struct PlatformLetter : FilenameTemplateTest {
    void SetUp() override {
        FilenameTemplateTest::SetUp();
        environment->product = std::map<std::string, std::string>{{"shortname", "orv"}};
    }
    char letter() { return name("png").at(std::string("Orvane-20261207-orv.").size()); }
    InstalledSystem system;
};

TEST_F(PlatformLetter, FollowsTheSystemInformationInItsOrder) {
    using namespace Sys::Key;
    system->values = {{Standalone, 0}, {HostKind, Sys::windowsHost}};
    EXPECT_EQ(letter(), 'S');
    system->values = {{Standalone, 1}, {HostKind, Sys::windowsHost}, {HostFamily, Sys::hostWithRootNode}};
    EXPECT_EQ(letter(), 'W');
    system->values = {{Standalone, 1}, {HostFamily, Sys::hostWithRootNode}, {HostPaths, 1}};
    EXPECT_EQ(letter(), 'L');
    system->values = {{Standalone, 1}, {HostFamily, Sys::hostWithRootNode}};
    EXPECT_EQ(letter(), 'X');
    system->values = {{Standalone, 1}};
    EXPECT_EQ(letter(), 'U');
}

// Without a date option the name is dated by the platform's clock in its time zone.
TEST_F(FilenameTemplateTest, WithoutADateOptionTheDayIsThePlatformsOwn) {
    constexpr long long lateOn31December2026 = 1798759800000, hourAhead = 3600 * 1000;
    installService<TimeService>(std::make_unique<MemoryClock>(lateOn31December2026, hourAhead));
    run.parameters->date = {};
    EXPECT_EQ(name("png"), "Orvane-20270101-user.png");
    Host::installClock(unitPlatform());
}

} // namespace
