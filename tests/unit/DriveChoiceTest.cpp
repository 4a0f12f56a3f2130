// The drive-selection dialog of the saves and the notifications, driven in process against an
// in-memory dialog service: what the dialog is asked, and what the save says and returns when the
// dialog fails or is closed.
#include "common/Notifications.h"
#include "support/memory/MemoryDialogs.h"
#include "writing/TargetLocation.h"
#include <gtest/gtest.h>

using namespace Applications::Commands::Scrivlet;
using Services::Skarnel::MemoryDialogs;
namespace Flags = Services::Skarnel::Client::Flags;

namespace {

struct DriveChoiceTest : ::testing::Test {
    void SetUp() override {
        auto service = std::make_unique<MemoryDialogs>();
        dialogs = service.get();
        installService<Services::Skarnel::DialogService>(std::move(service));
        run.parameters = Ref<Parameters>(new Parameters);
        run.catalogue = I18N::create("orvane.tool.scrivlet", "31", "3120", "en", 0);
        request.prompt = String::create("Select drive");
        request.failureMessage = String::create("Could not create file: {1}; error: 0x{2} ({3})");
    }
    void TearDown() override {
        installService<Services::Skarnel::DialogService>([] { return std::make_unique<MemoryDialogs>(); });
    }
    Error choose() {
        Ref<Services::Skarnel::Client::FSItem> item;
        Error code = chooseDrive(run, request, String::create("x.txt"), item);
        EXPECT_EQ(static_cast<bool>(item), code == 0);
        return code;
    }

    MemoryDialogs* dialogs = nullptr;
    RunContext run;
    DriveRequest request;
};

TEST_F(DriveChoiceTest, AClosedDialogIsPassedOnWithoutAMessage) {
    dialogs->driveAnswer = {"", Errors::DialogClosed};
    EXPECT_EQ(choose(), Errors::DialogClosed);
    EXPECT_TRUE(dialogs->messages().empty());
}

TEST_F(DriveChoiceTest, AFailedDialogIsMarkedAndReportedWhenReportsMayBeShown) {
    dialogs->driveAnswer = {"", Errors::IoError};
    EXPECT_EQ(choose(), 0x40000000u | Errors::IoError);
    ASSERT_EQ(dialogs->messages().size(), 1u);
    EXPECT_EQ(dialogs->messages()[0].title, "Error");
    EXPECT_EQ(dialogs->messages()[0].text, "Could not create file: x.txt; error: 0x40000025 (1073741861)");

    request.showFailure = false;
    EXPECT_EQ(choose(), 0x40000000u | Errors::IoError);
    EXPECT_EQ(dialogs->messages().size(), 1u);
}

TEST_F(DriveChoiceTest, TheChosenPlaceIsReturnedAndTheFlagsReachTheDialog) {
    dialogs->driveAnswer = {"/media/STICK"};
    request.flags = driveDialogFlags(*run.parameters, Flags::HostDrives | Flags::WritableOnly);
    Ref<Services::Skarnel::Client::FSItem> item;
    ASSERT_EQ(chooseDrive(run, request, String::create("x.txt"), item), 0u);
    EXPECT_EQ(stdString(item->path()), "/media/STICK");

    run.parameters->allowRename = true;
    run.parameters->dontForceBoot = true;
    request.flags = driveDialogFlags(*run.parameters, Flags::HostDrives | Flags::WritableOnly);
    ASSERT_EQ(chooseDrive(run, request, String::create("x.txt"), item), 0u);
    // The embedded default reaches host paths directly, so the host's drives are offered.
    EXPECT_EQ(dialogs->driveFlags(),
              (std::vector<unsigned>{Flags::DriveOnly | Flags::NoNewFolder | Flags::HostDrives |
                                         Flags::WritableOnly | Flags::ForceBoot,
                                     Flags::AllowRename | Flags::HostDrives | Flags::WritableOnly}));
}

TEST_F(DriveChoiceTest, TheSecondValueOfAnInformationGoesOnALineOfItsOwn) {
    notifyInformation(String::create("Information"), String::create("File saved as {1}"),
                      String::create("and {2}"), String::create("A:/x.txt"), String::create("B:/x.txt"));
    notifyInformation(String::create("Information"), String::create("File saved as {1}"),
                      String::create("and {2}"), String::create("A:/x.txt"), {});
    ASSERT_EQ(dialogs->messages().size(), 2u);
    EXPECT_EQ(dialogs->messages()[0].text, "File saved as A:/x.txt\nand B:/x.txt");
    EXPECT_EQ(dialogs->messages()[1].text, "File saved as A:/x.txt");
}

} // namespace
