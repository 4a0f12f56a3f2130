// The log export run in process, on files and dialogs held in memory: what is copied to the chosen
// drive, under which directory, with which times, and what the user is told.
#include "InMemoryFiles.h"
#include "export/Export.h"
#include "platform/MemoryDialogs.h"
#include "platform/Time.h"

using namespace Applications::Commands::Scrivlet;
using Services::Skarnel::MemoryDialogs;

namespace {

class ExportInMemory : public InMemoryFiles {
  protected:
    void SetUp() override {
        InMemoryFiles::SetUp();
        // The boot drive named by the boot parameters of the embedded default, and a stick.
        files->addNode("/devices/orvane/boot", "/boot", {{"SUBST_NAME", "BOOT"}}, false);
        files->addNode("/devices/usb/stick", "/media/STICK", {{"SUBST_NAME", "STICK"}});
        files->addFile("/boot/Orvane/Logs/a.log", "first", modifiedMs);
        files->addFile("/boot/Orvane/Logs/b.log", std::string(3 << 20, 'b'), modifiedMs + 1000);
        auto service = std::make_unique<MemoryDialogs>();
        dialogs = service.get();
        dialogs->driveAnswer = {"/media/STICK"};
        Services::Skarnel::installDialogService(std::move(service));
        run.parameters = Ref<Parameters>(new Parameters);
        run.parameters->mode = Modes::Export;
        run.catalogue = I18N::create("orvane.tool.scrivlet", "31", "3120", "en", 0);
    }
    void TearDown() override {
        Services::Skarnel::installDialogService([] { return std::make_unique<MemoryDialogs>(); });
        InMemoryFiles::TearDown();
    }

    long long modifiedAt(const std::string& path) {
        Ref<Services::Filesystem::Client::FSItem> item = files->openItem(String::create(path));
        Ref<Variant> time = item ? item->getAtr("TIME.MODIFY") : Ref<Variant>();
        return time && time->count() > 0 ? time->entry(0).integer : -1;
    }

    static constexpr long long modifiedMs = 1700000000000;
    MemoryDialogs* dialogs = nullptr;
    RunContext run;
};

TEST_F(ExportInMemory, TheLogsAreCopiedWithTheirTimesUnderADatedDirectory) {
    EXPECT_EQ(exportLogs(run), 0u);
    std::vector<std::string> made = files->list("/media/STICK");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].rfind("LogExport.", 0), 0u) << made[0];
    std::string logs = "/media/STICK/" + made[0] + "/Logs";
    EXPECT_EQ(files->list(logs), (std::vector<std::string>{"a.log", "b.log"}));
    EXPECT_EQ(files->contents(logs + "/a.log"), "first");
    EXPECT_EQ(files->contents(logs + "/b.log"), std::string(3 << 20, 'b'));
    EXPECT_EQ(modifiedAt(logs + "/a.log"), modifiedMs);
    EXPECT_EQ(modifiedAt(logs + "/b.log"), modifiedMs + 1000);
    ASSERT_FALSE(dialogs->messages().empty());
    EXPECT_EQ(dialogs->messages().back().title, "Export successful");
}

// The dialog's own choice (clearing on, files older than three months): after the export the
// boot drive keeps only the newer logs, and both were exported.
TEST_F(ExportInMemory, TheDialogsDefaultClearsLogsOlderThanThreeMonthsAfterExportingThem) {
    constexpr long long day = 24LL * 3600 * 1000;
    long long now = Time::current(Time::tzOffsetMs(), 0)->milliseconds();
    files->addFile("/boot/Orvane/Logs/recent.log", "new", now - 89 * day);
    files->addFile("/boot/Orvane/Logs/old.log", "old", now - 91 * day);
    EXPECT_EQ(exportLogs(run), 0u);
    EXPECT_EQ(files->list("/boot/Orvane/Logs"), std::vector<std::string>{"recent.log"});
    std::vector<std::string> made = files->list("/media/STICK");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(files->list("/media/STICK/" + made[0] + "/Logs"),
              (std::vector<std::string>{"a.log", "b.log", "old.log", "recent.log"}));
}

} // namespace
