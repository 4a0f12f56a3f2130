// The log save run in process, on a system log, files, an environment and dialogs held in memory:
// where the log goes and what a failed export leaves.
#include "InMemoryRun.h"
#include "platform/host/HostServices.h"
#include "support/memory/MemorySysLog.h"
#include "writing/Writing.h"

using namespace Applications::Commands::Scrivlet;

namespace {

constexpr unsigned logDirectory = 7, alternateLogDirectory = 9;

class LogSaveInMemory : public InMemoryRun {
  protected:
    void SetUp() override {
        InMemoryRun::SetUp();
        addPlatformDirectories(logDirectory, "/system/Logs", alternateLogDirectory, "/system/Service/Logs");
        auto log = std::make_unique<MemorySysLog>();
        sysLog = log.get();
        installService<SysLogService>(std::move(log));
        SysLogStream::writeLine(2, "a line before the save");

        run.parameters->mode = Modes::Log;
        run.parameters->m_source = String::create("system.log.gz");
    }
    void TearDown() override {
        InMemoryRun::TearDown();
        Host::installSysLog(unitPlatform());
    }
    Error save() {
        Error result(0);
        logMode(run, result);
        return result;
    }

    MemorySysLog* sysLog = nullptr;
};

TEST_F(LogSaveInMemory, TheLogGoesToBothPlatformLogDirectories) {
    EXPECT_EQ(save(), 0u);
    for (const char* directory : {"/system/Logs", "/system/Service/Logs"}) {
        EXPECT_EQ(files->list(directory), std::vector<std::string>{"system.log.gz"}) << directory;
        std::optional<std::string> saved = files->contents(std::string(directory) + "/system.log.gz");
        ASSERT_TRUE(saved) << directory;
        EXPECT_NE(saved->find("L2 a line before the save"), std::string::npos) << directory;
    }
    ASSERT_FALSE(dialogs->messages().empty());
    EXPECT_EQ(dialogs->messages().back().title, "Information");
    // The shown paths may break after each slash (a zero-width space).
    const std::string mayBreak = "/\xE2\x80\x8B";
    EXPECT_EQ(dialogs->messages().back().text, "Log saved as SYSTEM:" + mayBreak + "Logs" + mayBreak +
                                                   "system.log.gz\nand SYSTEM:" + mayBreak + "Service" +
                                                   mayBreak + "Logs" + mayBreak + "system.log.gz");
}

// What an export that fails part way wrote is removed, and the run reports the failure.
TEST_F(LogSaveInMemory, WhatFailedExportsWroteIsRemoved) {
    sysLog->failExports = true;
    EXPECT_EQ(save(), Errors::Failed);
    EXPECT_TRUE(files->list("/system/Logs").empty());
    EXPECT_TRUE(files->list("/system/Service/Logs").empty());
}

} // namespace
