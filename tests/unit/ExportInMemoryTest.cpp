// The log export run in process, on files and dialogs held in memory: what is copied to the chosen
// drive, under which directory, with which times, and what the user is told.
#include "InMemoryRun.h"
#include "InstalledSystem.h"
#include "export/Export.h"
#include "platform/host/HostServices.h"
#include "support/memory/MemoryCatalogue.h"
#include "support/memory/MemoryClock.h"
#include "support/memory/MemorySysLog.h"

using namespace Applications::Commands::Scrivlet;

namespace {

class ExportInMemory : public InMemoryRun {
  protected:
    void SetUp() override {
        InMemoryRun::SetUp();
        installService<TimeService>(std::make_unique<MemoryClock>(nowMs, tzOffsetMs));
        auto log = std::make_unique<MemorySysLog>();
        sysLog = log.get();
        installService<SysLogService>(std::move(log));
        // The boot drive the boot parameters name, and a stick.
        system->boot = "quiet boot.node=/devices/orvane/boot";
        files->addNode("/devices/orvane/boot", "/boot", {{"SUBST_NAME", "BOOT"}}, false);
        files->addNode("/devices/usb/stick", "/media/STICK", {{"SUBST_NAME", "STICK"}});
        files->addFile("/boot/Orvane/Logs/a.log", "first", modifiedMs);
        files->addFile("/boot/Orvane/Logs/b.log", std::string(3 << 20, 'b'), modifiedMs + 1000);
        dialogs->driveAnswer = {"/media/STICK"};
        run.parameters->mode = Modes::Export;
    }
    void TearDown() override {
        InMemoryRun::TearDown();
        Host::installClock(unitPlatform());
        Host::installCatalogue(unitPlatform());
        Host::installSysLog(unitPlatform());
    }

    long long modifiedAt(const std::string& path) {
        Ref<Services::Filesystem::Client::FSItem> item = files->openItem(String::create(path));
        Ref<Variant> time = item ? item->getAtr("TIME.MODIFY") : Ref<Variant>();
        return time && time->count() > 0 ? time->entry(0).integer : -1;
    }

    static constexpr long long modifiedMs = 1700000000000;
    static constexpr long long hourMs = 3600LL * 1000;
    static constexpr long long dayMs = 24 * hourMs;
    // Half past eleven at night on 31 December 2026 by the clock, already 1 January 2027 in the
    // platform's time zone an hour ahead.
    static constexpr long long nowMs = 1798759800000;
    static constexpr long long tzOffsetMs = hourMs;
    MemorySysLog* sysLog = nullptr;
    InstalledSystem system;
};

// The directory is dated by the platform's time zone, not by the clock's own day.
TEST_F(ExportInMemory, TheLogsAreCopiedWithTheirTimesUnderADatedDirectory) {
    EXPECT_EQ(exportLogs(run), 0u);
    EXPECT_EQ(files->list("/media/STICK"), std::vector<std::string>{"LogExport.2027-01-01"});
    std::string logs = "/media/STICK/LogExport.2027-01-01/Logs";
    EXPECT_EQ(files->list(logs), (std::vector<std::string>{"a.log", "b.log"}));
    EXPECT_EQ(files->contents(logs + "/a.log"), "first");
    EXPECT_EQ(files->contents(logs + "/b.log"), std::string(3 << 20, 'b'));
    EXPECT_EQ(modifiedAt(logs + "/a.log"), modifiedMs);
    EXPECT_EQ(modifiedAt(logs + "/b.log"), modifiedMs + 1000);
    ASSERT_FALSE(dialogs->messages().empty());
    EXPECT_EQ(dialogs->messages().back().title, "Export successful");
}

// The logs come from the drive the boot parameters name, whichever it is.
TEST_F(ExportInMemory, TheLogsComeFromTheNodeTheBootParametersName) {
    files->addNode("/devices/orvane/second", "/second", {{"SUBST_NAME", "SECOND"}}, false);
    files->addFile("/second/Orvane/Logs/other.log", "elsewhere", modifiedMs);
    system->boot = "boot.nodes=/devices/orvane/boot boot.node=/devices/orvane/second quiet";
    EXPECT_EQ(exportLogs(run), 0u);
    EXPECT_EQ(files->list("/media/STICK/LogExport.2027-01-01/Logs"), std::vector<std::string>{"other.log"});
}

// What the user is told comes from the catalogue of the user's language.
TEST_F(ExportInMemory, TheUserIsToldInTheLanguageOfTheCatalogue) {
    auto catalogue = std::make_unique<MemoryCatalogue>();
    catalogue->catalogues["orvane.tool.scrivlet"]["de"] = {{"Export successful", "Export erfolgreich"}};
    installService<CatalogueService>(std::move(catalogue));
    run.catalogue = I18N::create("orvane.tool.scrivlet", "31", "3120", "de", 0);
    EXPECT_EQ(exportLogs(run), 0u);
    ASSERT_FALSE(dialogs->messages().empty());
    EXPECT_EQ(dialogs->messages().back().title, "Export erfolgreich");
}

// The dialog's own choice (clearing on, files older than three months, counted in the platform's
// time zone as file times are): after the export the boot drive keeps a log made exactly 90 days
// ago and loses one a millisecond older, and both were exported.
TEST_F(ExportInMemory, TheDialogsDefaultClearsLogsOlderThanThreeMonthsAfterExportingThem) {
    long long cutoff = nowMs + tzOffsetMs - 90 * dayMs;
    files->addFile("/boot/Orvane/Logs/recent.log", "new", cutoff);
    files->addFile("/boot/Orvane/Logs/old.log", "old", cutoff - 1);
    EXPECT_EQ(exportLogs(run), 0u);
    EXPECT_EQ(files->list("/boot/Orvane/Logs"), std::vector<std::string>{"recent.log"});
    EXPECT_TRUE(sysLog->logged("Removing files after export that are older than 2026-10-03"));
    std::vector<std::string> made = files->list("/media/STICK");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(files->list("/media/STICK/" + made[0] + "/Logs"),
              (std::vector<std::string>{"a.log", "b.log", "old.log", "recent.log"}));
}

} // namespace
