#pragma once
// A mode run in process on files and dialogs held in memory, with the English catalogue: what the
// in-memory tests of the save, the export, the log save and the uploads share. A fixture adds the
// rest of what its mode needs and reads `dialogs` and the file tree afterwards.
#include "InMemoryFiles.h"
#include "common/RunContext.h"
#include "platform/MemoryDialogs.h"
#include "platform/System.h"

class InMemoryRun : public InMemoryFiles {
  protected:
    void SetUp() override {
        InMemoryFiles::SetUp();
        auto service = std::make_unique<Services::Skarnel::MemoryDialogs>();
        dialogs = service.get();
        Services::Skarnel::installDialogService(std::move(service));
        run.parameters = Ref<Applications::Commands::Scrivlet::Parameters>(
            new Applications::Commands::Scrivlet::Parameters);
        run.catalogue = I18N::create("orvane.tool.scrivlet", "31", "3120", "en", 0);
    }
    void TearDown() override {
        // A mode's dialog threads (the wait dialog's) end on their own after it; no later test may
        // see them.
        EXPECT_TRUE(Thd::waitForAll(5000));
        Services::Skarnel::installDialogService(
            [] { return std::make_unique<Services::Skarnel::MemoryDialogs>(); });
        InMemoryFiles::TearDown();
    }

    Services::Skarnel::MemoryDialogs* dialogs = nullptr;
    Applications::Commands::Scrivlet::RunContext run;
};
