// Predetermined names from the options and the installation's product description, the
// description given by an in-memory environment.
#include "platform/MemoryEnvironment.h"
#include "platform/host/HostEnvironment.h"
#include "storage/Storage.h"
#include <gtest/gtest.h>

using namespace Applications::Commands::Scrivlet;
using PlatformEnvironment::MemoryEnvironment;

namespace {

struct FilenameTemplateTest : ::testing::Test {
    void SetUp() override {
        auto service = std::make_unique<MemoryEnvironment>();
        environment = service.get();
        PlatformEnvironment::installEnvironmentService(std::move(service));
        run.parameters = Ref<Parameters>(new Parameters);
        run.parameters->date = String::create("20261207");
    }
    void TearDown() override { Host::installEnvironment(); }
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
    environment->product->erase("version");
    EXPECT_EQ(name("png"), "Orvane-20261207-orv.LX64-user.png");
}

TEST_F(FilenameTemplateTest, WithoutAProductTheNameHasNoProductPiece) {
    run.parameters->suffix = String::create("service");
    EXPECT_EQ(name("log"), "Orvane-20261207-service.log");
    environment->product = std::map<std::string, std::string>{{"version", "3.1"}};
    EXPECT_EQ(name(""), "Orvane-20261207-service");
}

} // namespace
