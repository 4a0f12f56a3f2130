#pragma once
// A mode run in process on files and dialogs held in memory, with the English catalogue: what the
// in-memory tests of the save, the export, the log save and the uploads share. A fixture adds the
// rest of what its mode needs and reads `dialogs` and the file tree afterwards.
#include "InMemoryFiles.h"
#include "common/RunContext.h"
#include "platform/System.h"
#include "platform/host/HostEnvironment.h"
#include "support/memory/MemoryDialogs.h"
#include "support/memory/MemoryEnvironment.h"

class InMemoryRun : public InMemoryFiles {
  protected:
    void SetUp() override {
        InMemoryFiles::SetUp();
        auto service = std::make_unique<Services::Skarnel::MemoryDialogs>();
        dialogs = service.get();
        installService<Services::Skarnel::DialogService>(std::move(service));
        run.parameters = Ref<Applications::Commands::Scrivlet::Parameters>(
            new Applications::Commands::Scrivlet::Parameters);
        run.catalogue = I18N::create("orvane.tool.scrivlet", "31", "3120", "en", 0);
    }
    // The system drive with a pair of platform directories (a path identifier and its alternate's),
    // known to an in-memory environment.
    void addPlatformDirectories(unsigned id, const std::string& directory, unsigned alternateId,
                                const std::string& alternate) {
        files->addNode(systemNode, "/system", {{"SUBST_NAME", "SYSTEM"}}, false);
        files->addDirectory(directory);
        files->addDirectory(alternate);
        auto environment = std::make_unique<PlatformEnvironment::MemoryEnvironment>();
        environment->paths = {{id, {systemNode, directory}}, {alternateId, {systemNode, alternate}}};
        installService<PlatformEnvironment::EnvironmentService>(std::move(environment));
        m_environmentInstalled = true;
    }

    // Derived fixtures put back the services they installed after this: a mode's threads may reach
    // them to the last.
    void TearDown() override {
        // A mode's dialog threads (the wait dialog's) end on their own after it; no later test may
        // see them.
        EXPECT_TRUE(Thd::waitForAll(5000));
        if (m_environmentInstalled) Host::installEnvironment(unitPlatform());
        installService<Services::Skarnel::DialogService>(
            [] { return std::make_unique<Services::Skarnel::MemoryDialogs>(); });
        InMemoryFiles::TearDown();
    }

    Services::Skarnel::MemoryDialogs* dialogs = nullptr;
    Applications::Commands::Scrivlet::RunContext run;

  private:
    static constexpr const char* systemNode = "/devices/orvane/system";
    bool m_environmentInstalled = false;
};
